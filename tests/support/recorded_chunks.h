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

}  // namespace virazav::testing
