// The library's one drive handle and the sector readers on top of it: the plain
// read, the byte-granular read of the record index and of recorded chunks, the
// resilient read of the still scanner, and the two readers of sector 0.
#include "recdisk/disk.h"

#include <cstdio>
#include <cstring>

#include "format/bytes.h"
#include "platform/platform.h"

namespace virazav::recdisk {
namespace {

struct DiskState {
  platform::DriveHandle drive = nullptr;  // the open drive, nullptr when none
  bool fallback = false;                  // read sector by sector after a failed large read
};

DiskState g_disk;

// Moves the open drive to the sector's byte offset (the sector sign-extended,
// times 512 in 64 bits).
int seek_sector(int32_t sector) {
  if (g_disk.drive == nullptr || sector < 0) return kDiskSeekFailed;
  int64_t offset = static_cast<int64_t>(sector) * kSectorSize;
  return platform::drive_seek(g_disk.drive, offset) == 0 ? 0 : kDiskSeekFailed;
}

// One read request of n bytes at the current position. A transfer shorter than
// asked means the disk ended first; it counts as a failed read so that nobody
// takes stale buffer bytes for sectors of the disk.
int read_request(void* dest, size_t n) {
  long r = platform::drive_read(g_disk.drive, dest, n);
  return r >= 0 && static_cast<size_t>(r) == n ? 0 : kDiskReadFailed;
}

}  // namespace

int probe_drive(int number) {
  platform::DriveHandle d = platform::drive_open(number);
  if (d == nullptr) return kProbeOpenFailed;
  platform::DriveGeometry g;
  int result;
  if (platform::drive_geometry(d, &g) != 0) {
    result = kProbeGeometryFailed;
  } else if (g.media_type != platform::kMediaFixedDisk) {
    result = kProbeNotFixedDisk;
  } else if (g.bytes_per_sector != kSectorSize || g.tracks_per_cylinder != kRecorderHeads ||
             g.sectors_per_track != kRecorderSectorsPerTrack) {
    result = kProbeWrongGeometry;
  } else if (static_cast<int>(static_cast<uint32_t>(g.cylinders)) <= 0) {
    // Less than one cylinder is no recorder disk; 2^31 cylinders or more would
    // read as negative. A positive count is the contract.
    result = kProbeWrongGeometry;
  } else {
    char line[48];
    std::snprintf(line, sizeof line, "Cylinders = %d\n", static_cast<int>(g.cylinders));
    platform::trace(line);
    result = static_cast<int>(static_cast<uint32_t>(g.cylinders));
  }
  platform::drive_close(d);
  return result;
}

int open_drive(int number) {
  platform::DriveHandle d = platform::drive_open(number);
  if (d == nullptr) return kOpenFailed;
  // The caller is meant to close first; an earlier handle is not leaked.
  platform::drive_close(g_disk.drive);
  g_disk.drive = d;
  return 0;
}

void close_drive() {
  platform::drive_close(g_disk.drive);
  g_disk.drive = nullptr;
}

bool drive_is_open() {
  return g_disk.drive != nullptr;
}

int read_sectors(int32_t sector, uint32_t count, void* dest) {
  if (seek_sector(sector) != 0) return kDiskSeekFailed;
  uint32_t bytes = count * kSectorSize;  // 32 bits, as the recorder software counts
  if (dest == nullptr && bytes != 0) return kDiskReadFailed;
  return read_request(dest, bytes);
}

int read_disk_bytes(int32_t sector, void* dest, uint32_t byte_count) {
  if (byte_count > kMaxByteRead) return kDiskSeekFailed;
  uint32_t sectors = (byte_count + kSectorSize - 1) / kSectorSize;
  platform::Buffer temp(static_cast<size_t>(sectors) * kSectorSize);
  if (!temp.ok()) return kDiskReadFailed;
  int r = read_sectors(sector, sectors, temp.data());
  if (r != 0) return r;
  if (byte_count != 0) std::memcpy(dest, temp.data(), byte_count);
  return 0;
}

int read_sectors_resilient(int32_t sector, uint32_t count, void* dest) {
  // A failed seek leaves the fallback flag as it was.
  if (seek_sector(sector) != 0) return kDiskSeekFailed;
  auto* out = static_cast<uint8_t*>(dest);
  if (!g_disk.fallback) {
    if (read_request(out, static_cast<size_t>(count) * kSectorSize) == 0) {
      g_disk.fallback = false;
      return 0;
    }
    g_disk.fallback = true;
    return kDiskReadFailed;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (read_request(out + static_cast<size_t>(i) * kSectorSize, kSectorSize) != 0)
      return kDiskReadFailed;
  }
  g_disk.fallback = false;
  return 0;
}

bool resilient_fallback_active() {
  return g_disk.fallback;
}
void reset_resilient_fallback() {
  g_disk.fallback = false;
}

int read_sector0_words(uint32_t out[128]) {
  if (seek_sector(0) != 0) return kDiskSeekFailed;
  uint8_t sector[kSectorSize];
  if (read_request(sector, sizeof sector) != 0) return kDiskReadFailed;
  // The recorder moves 16-bit words; a 32-bit value lies as two little-endian
  // words with the high half first.
  for (int i = 0; i < 128; ++i) {
    const uint8_t* w = sector + 4 * i;
    uint32_t high = format::load_le16(w);
    uint32_t low = format::load_le16(w + 2);
    out[i] = (high << 16) + low;
  }
  return 0;
}

int read_sector0_raw(uint8_t out[512]) {
  platform::Buffer temp(kSectorSize);
  if (temp.ok() && read_sectors(0, 1, temp.data()) == 0) {
    std::memcpy(out, temp.data(), kSectorSize);
  } else {
    // The contract is 0 either way; a failed read delivers a zero sector rather
    // than whatever the caller's buffer held.
    std::memset(out, 0, kSectorSize);
  }
  return 0;
}

}  // namespace virazav::recdisk
