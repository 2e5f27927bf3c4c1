// The still-image area of the recorder disk: header recognition, naming, reading,
// the scan for the next start marker, and writing a still to a file.
//
// The recorder moves data to its disk in 16-bit words, so a still is stored with
// the two bytes of each word exchanged: byte k of the JPEG lies at stored
// position k XOR 1, and a stored sector that begins a still starts D8 FF.
#include "recdisk/stills.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace virazav::recdisk {
namespace {

// Positions in the JPEG's own byte order (docs/formats/still.md).
constexpr size_t kSoiHigh = 0;    // 0xFF
constexpr size_t kSoiLow = 1;     // 0xD8
constexpr size_t kTagLow = 24;    // 16-bit value, low byte
constexpr size_t kTagHigh = 25;   // 16-bit value, high byte
constexpr size_t kDateTime = 34;  // six bytes: year .. second
constexpr size_t kCamera = 40;    // low 4 bits
constexpr size_t kSize = 41;      // three bytes, most significant first
constexpr size_t kHeaderBytes = 44;

// The two stored bytes that begin a still (the marker FF D8, pair-exchanged).
constexpr uint8_t kStoredMarker0 = 0xD8;
constexpr uint8_t kStoredMarker1 = 0xFF;

constexpr size_t kHeadBytes = 16;    // what still_header_code reads
constexpr size_t kHeadCodeByte = 7;  // the byte it classifies by

// Byte k of the JPEG, taken from the stored (pair-exchanged) bytes.
uint8_t jpeg_byte(const uint8_t* stored, size_t k) {
  return stored[k ^ 1u];
}

bool starts_with_marker(const uint8_t* stored) {
  return stored[0] == kStoredMarker0 && stored[1] == kStoredMarker1;
}

int read_sectors(const SectorSource& source, int64_t sector, uint32_t count, uint8_t* dest) {
  if (source.read == nullptr) return -1;
  return source.read(source.context, sector, count, dest);
}

// Stores a sector number computed in 64 bits into the caller's 32-bit cursor. A
// cursor carried past the largest sector wraps like the recorder tool's 32-bit
// arithmetic; the next read then fails on the negative sector.
void set_cursor(int32_t* cursor, int64_t sector) {
  *cursor = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(sector)));
}

// Scans from the sector after the cursor for a sector that begins with the start
// marker, 128 sectors per request, at most 256 requests. Only the two marker
// bytes are checked here; the next call checks the header of the candidate.
int scan_for_marker(const SectorSource& source, int32_t* cursor, int64_t area_end, uint8_t* work) {
  int64_t current = static_cast<int64_t>(*cursor) + 1;
  for (int pass = 0; pass < kStillScanPasses; ++pass) {
    if (current >= area_end) {
      set_cursor(cursor, current);
      return kStillAreaEnd;
    }
    // A failed request skips these 128 sectors silently: the area may have bad
    // sectors, and the resilient read goes sector by sector on the next request.
    if (read_sectors(source, current, kStillScanSectors, work) == 0) {
      for (uint32_t i = 0; i < kStillScanSectors; ++i) {
        if (starts_with_marker(work + static_cast<size_t>(i) * kStillSectorSize)) {
          set_cursor(cursor, current + i);
          return kStillMarkerAhead;
        }
      }
    }
    current += kStillScanSectors;
  }
  set_cursor(cursor, current);
  return kStillNoMarker;
}

}  // namespace

bool parse_still_header(const uint8_t* stored, size_t n, StillHeader* out) {
  if (stored == nullptr || out == nullptr || n < kHeaderBytes) return false;
  if (jpeg_byte(stored, kSoiHigh) != 0xFF || jpeg_byte(stored, kSoiLow) != 0xD8) return false;
  uint32_t size = (static_cast<uint32_t>(jpeg_byte(stored, kSize)) << 16) |
                  (static_cast<uint32_t>(jpeg_byte(stored, kSize + 1)) << 8) |
                  jpeg_byte(stored, kSize + 2);
  if (size >= kStillMaxSize) return false;
  StillHeader h;
  h.size = size;
  h.tag = static_cast<uint16_t>((jpeg_byte(stored, kTagHigh) << 8) | jpeg_byte(stored, kTagLow));
  for (size_t i = 0; i < 6; ++i) h.date_time[i] = jpeg_byte(stored, kDateTime + i);
  h.camera = jpeg_byte(stored, kCamera) & 0x0F;
  *out = h;
  return true;
}

int format_still_name(int sequence, const StillHeader& header, char* name, size_t cap) {
  const uint8_t* t = header.date_time;
  return std::snprintf(name, cap, "%d_%02d%02d%02d_%02d%02d%02d%d_%x.jpg", sequence, t[0], t[1],
                       t[2], t[3], t[4], t[5], header.camera, static_cast<unsigned>(header.tag));
}

// Results and cursor movement:
//   size    a still begins at the cursor; the cursor moves just past it
//   -3      the sector at the cursor could not be read; cursor + 129
//   -5      valid header, the rest unreadable; cursor just past the still
//   -6      a start marker further on; cursor at it
//   -7      the end of the area was reached; cursor at the first sector at or past it
//   -2      16 MiB without a marker; cursor where the scan stopped
int read_still(const SectorSource& source, int32_t* cursor, int32_t area_first,
               int32_t area_sectors, int sequence, uint8_t* work, char* name) {
  if (read_sectors(source, *cursor, 1, work) != 0) {
    set_cursor(cursor, static_cast<int64_t>(*cursor) + kStillUnreadableSkip);
    return kStillUnreadable;
  }
  StillHeader header;
  if (!parse_still_header(work, kStillSectorSize, &header)) {
    int64_t area_end = static_cast<int64_t>(area_first) + area_sectors;
    return scan_for_marker(source, cursor, area_end, work);
  }
  format_still_name(sequence, header, name, kStillNameSize);
  int64_t sectors = (header.size + kStillSectorSize - 1) / kStillSectorSize;
  int64_t next = static_cast<int64_t>(*cursor) + sectors;
  int result = static_cast<int>(header.size);
  if (sequence != 0) {
    // size / 512 further sectors: one more than the still occupies when its size
    // is a whole number of sectors, which the work buffer still holds because the
    // size stays below 0x40000.
    uint32_t rest = header.size / kStillSectorSize;
    if (rest > 0 &&
        read_sectors(source, static_cast<int64_t>(*cursor) + 1, rest, work + kStillSectorSize) != 0)
      result = kStillRestUnreadable;
  }
  set_cursor(cursor, next);
  return result;
}

void swap_byte_pairs(uint8_t* data, size_t n) {
  for (size_t i = 0; i + 1 < n; i += 2) {
    uint8_t b = data[i];
    data[i] = data[i + 1];
    data[i + 1] = b;
  }
}

int write_still_file(const char* path, int length, uint8_t* buffer, int total) {
  if (path == nullptr || *path == '\0') return kStillFileNotCreated;
  if (length < 0 || (buffer == nullptr && length > 0)) return kStillFileShortWrite;
  platform::File f = platform::File::open(path, platform::OpenMode::kWriteTruncate);
  if (!f.is_open()) return kStillFileNotCreated;
  // The exchange happens in the caller's buffer, as the recorder tool always did:
  // writing the same buffer twice writes the second file in stored order.
  size_t n = static_cast<size_t>(length);
  swap_byte_pairs(buffer, n);
  int written = n == 0 ? 0 : f.write(buffer, n);
  f.close();
  if (written != 0) return kStillFileShortWrite;
  return static_cast<int>(static_cast<uint32_t>(total) + static_cast<uint32_t>(length));
}

int still_header_code(const char* path, uint8_t* head) {
  if (path == nullptr || head == nullptr) return 0;
  platform::File f = platform::File::open(path, platform::OpenMode::kRead);
  if (!f.is_open()) return 0;
  long got = f.read(head, kHeadBytes);
  f.close();
  if (got < 0) return 0;
  if (static_cast<size_t>(got) < kHeadBytes) return static_cast<int>(got);
  int h = head[kHeadCodeByte] >> 4;
  return (h & 7) * 2 + (h >= 8 ? 1 : 0);
}

}  // namespace virazav::recdisk
