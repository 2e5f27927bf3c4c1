// The chunks of a disk image written by the simulated recorder, as a reader of
// the disk delivers them: each chunk's time, its index entry bytes and its
// packets back to back, read from the image's own bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk_image.h"

namespace virazav::testing {

struct RecordedChunk {
  uint32_t time = 0;  // time number
  uint8_t rec_time[6] = {};
  uint8_t entry_byte0 = 0, entry_byte2 = 0, entry_byte27 = 0;
  std::vector<uint8_t> packets;  // the 48-byte headers and payloads, back to back
};

// Every chunk of the image at `image_path`, in recording order.
std::vector<RecordedChunk> recorded_chunks(const std::string& image_path,
                                           const sim::DiskImageInfo& info);

// Makes the image at `path` drive `drive`, opens it and loads its record index
// (closing any drive and index before). False (with a test failure) when the
// open fails.
bool open_image_as_drive(int drive, const std::string& path);

// A disk image of the simulated recorder (two video channels, placeholder
// packets, ten one-second chunks a segment) in `dir`, open as drive `drive` with
// its record index loaded. The drive, the index and the drive's variable are
// released again when it goes.
class SimulatedDisk {
 public:
  SimulatedDisk(const std::string& dir, int drive, std::vector<sim::RecordingPlan> recordings,
                const sim::DamageOptions& damage = {});
  ~SimulatedDisk();
  SimulatedDisk(const SimulatedDisk&) = delete;
  SimulatedDisk& operator=(const SimulatedDisk&) = delete;
  // False (with a test failure) when the image could not be written or opened.
  bool ok() const { return ok_; }
  const std::vector<RecordedChunk>& chunks() const { return chunks_; }

 private:
  int drive_;
  bool ok_ = false;
  std::vector<RecordedChunk> chunks_;
};

}  // namespace virazav::testing
