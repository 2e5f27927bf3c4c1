// Test material for the still-image area: byte runs that begin with the
// recorder's still header, stored into a memory disk the way the recorder stores
// them (bytes of each 16-bit word exchanged), a sector source over that memory
// that counts and fails reads on request, and a JPEG check through libavcodec's
// MJPEG decoder.
// The header layout is described in docs/formats/still.md.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "recdisk/stills.h"

namespace virazav::testing {

struct StillFields {
  uint8_t date_time[6] = {7, 3, 15, 12, 30, 45};
  uint8_t camera = 2;  // low 4 bits of byte 40
  uint16_t tag = 0x1A;
};

// Returns `size` bytes that begin like a still header (marker, fields, the given
// size field) followed by a counting pattern; not a decodable JPEG.
std::vector<uint8_t> make_still_bytes(const StillFields& fields, uint32_t size_field, size_t size);

// Decodes a JPEG with libavcodec's MJPEG decoder. Returns true and the picture's
// size and mean luma when it decodes.
bool decode_jpeg(const std::vector<uint8_t>& jpeg, int* width, int* height, double* mean_luma);

// A disk in memory, sector-addressed, with reads counted and chosen sectors
// unreadable. Sectors beyond the image read as zeros.
class MemoryDisk {
 public:
  explicit MemoryDisk(size_t sectors) : bytes_(sectors * recdisk::kStillSectorSize, 0) {}

  // Stores bytes (JPEG order) from `sector` on, pair-exchanged as the recorder does.
  void store(int64_t sector, const std::vector<uint8_t>& jpeg);
  // Writes raw stored bytes at a byte position.
  void poke(size_t position, const std::vector<uint8_t>& raw);
  void fail_sector(int64_t sector) { bad_.insert(sector); }

  recdisk::SectorSource source() { return {&MemoryDisk::read, this}; }

  int requests() const { return requests_; }
  int64_t sectors_read() const { return sectors_read_; }
  const std::vector<int64_t>& first_sectors() const { return first_sectors_; }
  void reset_counts() {
    requests_ = 0;
    sectors_read_ = 0;
    first_sectors_.clear();
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // Writes the whole image to a file; returns false on failure.
  bool save(const std::string& path) const;

 private:
  static int read(void* self, int64_t sector, uint32_t count, uint8_t* dest);

  std::vector<uint8_t> bytes_;
  std::set<int64_t> bad_;
  int requests_ = 0;
  int64_t sectors_read_ = 0;
  std::vector<int64_t> first_sectors_;
};

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> read_file(const std::string& path);

}  // namespace virazav::testing
