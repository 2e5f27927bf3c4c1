// The mosaic: sixteen 24-bit bitmaps tiled into one.

#include "mosaic.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "report.h"

namespace virazav::cli {

namespace {

struct Bitmap {
  int width = 0;
  int height = 0;     // rows, bottom-up
  size_t stride = 0;  // bytes a row, padded to 4
  std::vector<uint8_t> pixels;
};

uint32_t le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Reads an uncompressed 24-bit bottom-up bitmap; false for anything else.
bool read_bitmap(const std::string& path, Bitmap* out) {
  std::string bytes, error;
  if (!read_file(path, &bytes, &error) || bytes.size() < 54) return false;
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  if (b[0] != 'B' || b[1] != 'M' || b[28] != 24) return false;
  const uint32_t offset = le32(b + 10);
  const int32_t w = static_cast<int32_t>(le32(b + 18));
  const int32_t h = static_cast<int32_t>(le32(b + 22));
  if (w <= 0 || h <= 0 || w > 4096 || h > 4096) return false;
  // The library's writer does not pad its rows; a padded file is read as well.
  const size_t packed = static_cast<size_t>(w) * 3;
  const size_t padded = (packed + 3) & ~size_t{3};
  size_t stride = bytes.size() - offset >= padded * h ? padded : packed;
  if (offset > bytes.size() || bytes.size() - offset < stride * h) return false;
  out->width = w;
  out->height = h;
  out->stride = stride;
  out->pixels.assign(b + offset, b + offset + stride * h);
  return true;
}

}  // namespace

Mosaic Mosaic::live(int set) {
  Mosaic m;
  for (int ch = 0; ch < 16; ++ch) {
    char name[40];
    std::snprintf(name, sizeof name, "img/serv%d%02d.jpg", set, ch);
    m.tiles_[static_cast<size_t>(ch)] = name;
  }
  return m;
}

Mosaic Mosaic::channels(const std::string& folder, unsigned mask) {
  Mosaic m;
  for (int ch = 0; ch < 16; ++ch) {
    if (mask & (1u << ch))
      m.tiles_[static_cast<size_t>(ch)] = folder + "/" + std::to_string(ch) + ".bmp";
  }
  return m;
}

bool Mosaic::write(const std::string& path) const {
  Bitmap tiles[16];
  int tw = 0, th = 0;
  for (int ch = 0; ch < 16; ++ch) {
    const std::string& tile = tiles_[static_cast<size_t>(ch)];
    if (!tile.empty() && read_bitmap(tile, &tiles[ch]) && tw == 0) {
      tw = tiles[ch].width;
      th = tiles[ch].height;
    }
  }
  if (tw == 0) return false;
  const int width = 4 * tw, height = 4 * th;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  std::vector<uint8_t> file(54 + stride * height, 0);
  uint8_t* h = file.data();
  h[0] = 'B', h[1] = 'M';
  put32(h + 2, static_cast<uint32_t>(file.size()));
  put32(h + 10, 54);
  put32(h + 14, 40);
  put32(h + 18, static_cast<uint32_t>(width));
  put32(h + 22, static_cast<uint32_t>(height));
  h[26] = 1, h[28] = 24;
  put32(h + 34, static_cast<uint32_t>(stride * height));
  uint8_t* pixels = h + 54;
  for (int ch = 0; ch < 16; ++ch) {
    const Bitmap& t = tiles[ch];
    if (t.width == 0) continue;
    // Row 0 of a bottom-up bitmap is the bottom row: channel 0's tile is the top left,
    // so its rows go into the top band of the mosaic.
    const int col = ch % 4, band = 3 - ch / 4;
    const int rows = std::min(t.height, th);
    const size_t bytes = static_cast<size_t>(std::min(t.width, tw)) * 3;
    for (int r = 0; r < rows; ++r) {
      std::memcpy(pixels + (static_cast<size_t>(band) * th + r) * stride + col * tw * 3,
                  t.pixels.data() + static_cast<size_t>(r) * t.stride, bytes);
    }
  }
  std::string error;
  return write_file(path, file.data(), file.size(), &error);
}

}  // namespace virazav::cli
