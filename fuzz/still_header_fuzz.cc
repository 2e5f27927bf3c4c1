// The still-image area as a recorder disk may hold it: the input's first three
// bytes choose the cursor (two bytes) and whether the still is read (one byte);
// the rest is the area, sector after sector, as stored. Every header found is
// parsed and named, and the reader must keep to its 0x40000-byte work buffer and
// 43-byte name buffer whatever the sizes and markers say.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "recdisk/stills.h"

using namespace virazav::recdisk;

namespace {

struct Area {
  const uint8_t* bytes;
  size_t size;
};

// Sectors beyond the input read as zeros; a negative sector fails like the disk.
int read_area(void* context, int64_t sector, uint32_t count, uint8_t* dest) {
  const Area* a = static_cast<const Area*>(context);
  if (sector < 0) return -1;
  const uint64_t n = uint64_t{count} * kStillSectorSize;
  const uint64_t from = static_cast<uint64_t>(sector) * kStillSectorSize;
  const uint64_t have = from < a->size ? (a->size - from < n ? a->size - from : n) : 0;
  if (have > 0) std::memcpy(dest, a->bytes + from, have);
  std::memset(dest + have, 0, n - have);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  Area area{data + 3, size - 3};
  const int32_t sectors =
      static_cast<int32_t>((area.size + kStillSectorSize - 1) / kStillSectorSize);

  // The header parser on the raw input, and the name of whatever it accepts.
  StillHeader h;
  if (parse_still_header(area.bytes, area.size, &h)) {
    if (h.size >= kStillMaxSize) __builtin_trap();
    char name[kStillNameSize];
    int n = format_still_name(-2147483647 - 1, h, name, sizeof name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof name) __builtin_trap();
  }

  // The caller's loop over the area, bounded in calls.
  // Exactly the size the caller provides, so that the sanitizer sees any overrun.
  static uint8_t work[kStillWorkBufferSize];
  SectorSource source{read_area, &area};
  int32_t cursor = static_cast<int32_t>((data[0] | (data[1] << 8)) % (sectors + 2));
  const int sequence = data[2] & 1 ? 1 : 0;
  for (int call = 0; call < 64; ++call) {
    char name[kStillNameSize + 1];
    name[kStillNameSize] = 0x5A;
    int32_t before = cursor;
    int r = read_still(source, &cursor, 0, sectors, sequence, work, name);
    if (name[kStillNameSize] != 0x5A) __builtin_trap();
    if (r == kStillAreaEnd || r == kStillNoMarker) break;
    if (r >= static_cast<int>(kStillMaxSize)) __builtin_trap();
    // A still of no bytes leaves the cursor: step over it as a caller would.
    if (r == 0 && cursor == before) ++cursor;
    if (r > 0) swap_byte_pairs(work, static_cast<size_t>(r));
  }
  return 0;
}
