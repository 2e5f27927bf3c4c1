// The exports of the JPEG stills on the recorder disk: argument checks, then the
// still reader over the open drive's resilient sector read.
#include <limits>

#include "recdisk/disk.h"
#include "recdisk/stills.h"
#include "virazav.h"

using namespace virazav;

namespace {

// The scanner's sectors come from the open drive. The cursor arithmetic runs in
// 64 bits; a sector beyond the drive's signed 32-bit numbers cannot be read.
int read_open_drive(void*, int64_t sector, uint32_t count, uint8_t* dest) {
  if (sector < 0 || sector > std::numeric_limits<int32_t>::max()) return recdisk::kDiskSeekFailed;
  return recdisk::read_sectors_resilient(static_cast<int32_t>(sector), count, dest);
}

}  // namespace

extern "C" {

int hdd_read_jpeg(int* cursor, int area_first, int area_sectors, int sequence, unsigned char* work,
                  char* name) noexcept {
  if (cursor == nullptr || work == nullptr || name == nullptr) return VIRAZAV_ERR_FAIL;
  recdisk::SectorSource source;
  source.read = read_open_drive;
  int32_t c = *cursor;
  int r = recdisk::read_still(source, &c, area_first, area_sectors, sequence, work, name);
  *cursor = c;
  return r;
}

int hdd_write_jpeg_file(const char* path, int length, unsigned char* buffer, int total) noexcept {
  return recdisk::write_still_file(path, length, buffer, total);
}

int read_jpeg_head_com(const char* path, unsigned char* head) noexcept {
  return recdisk::still_header_code(path, head);
}

}  // extern "C"
