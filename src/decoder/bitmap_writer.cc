// The bitmap writer: a channel picture as a 24-bit bottom-up bitmap file,
// without the picture's first 8 rows (the bottom rows of the image).
#include <cstdio>

#include "decoder/decoder.h"
#include "format/bytes.h"
#include "platform/platform.h"

namespace virazav::decoder {
namespace {

constexpr uint16_t kBitmapType = 19778;  // "BM" read as a little-endian word
constexpr size_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint16_t kPlanes = 1;
constexpr uint16_t kBitsPerPixel = 24;

}  // namespace

void fill_bitmap_headers(uint8_t out[kBitmapHeaderBytes], int width, int height,
                         uint32_t image_size) {
  using format::store_le16;
  using format::store_le32;
  store_le16(out + 0, kBitmapType);
  store_le32(out + 2, image_size + static_cast<uint32_t>(kBitmapHeaderBytes));
  store_le16(out + 6, 0);
  store_le16(out + 8, 0);
  store_le32(out + 10, static_cast<uint32_t>(kBitmapHeaderBytes));
  uint8_t* info = out + kFileHeaderBytes;
  store_le32(info + 0, kInfoHeaderBytes);
  store_le32(info + 4, static_cast<uint32_t>(width));
  store_le32(info + 8, static_cast<uint32_t>(height));
  store_le16(info + 12, kPlanes);
  store_le16(info + 14, kBitsPerPixel);
  store_le32(info + 16, 0);  // no compression
  store_le32(info + 20, image_size);
  for (int i = 24; i < 40; i += 4) store_le32(info + i, 0);
}

int write_frame_bmp(const std::string& path, const uint8_t* picture, int width, int height) {
  if (picture == nullptr || width <= 0 || height <= kBitmapDroppedRows) return -1;
  int rows = height - kBitmapDroppedRows;
  char line[64];
  std::snprintf(line, sizeof line, "width=%d height=%d\n", width, rows);
  platform::trace(line);
  size_t image = static_cast<size_t>(width) * rows * 3;
  uint8_t headers[kBitmapHeaderBytes];
  fill_bitmap_headers(headers, width, rows, static_cast<uint32_t>(image));
  platform::File f = platform::File::open(path, platform::OpenMode::kWriteTruncate);
  if (!f.is_open()) return -1;  // a bitmap that cannot be created is skipped
  const uint8_t* first = picture + static_cast<size_t>(width) * 3 * kBitmapDroppedRows;
  int rc = f.write(headers, sizeof headers);
  if (rc == 0) rc = f.write(first, image);
  return rc;
}

}  // namespace virazav::decoder
