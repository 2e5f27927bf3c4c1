// The recorder's video area: for each segment a chunk index followed by its chunks, each
// chunk one second of every channel's packets behind a 100-byte chunk header, each packet a
// 48-byte packet header and a PES packet. Filler segments of a full-size index share one
// chunk index per block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "disk/disk_plan.h"
#include "disk/image_file.h"

namespace virazav::sim::diskimg {

struct VideoArea {
  uint32_t first_sector = 0;
  uint32_t end_sector = 0;                     // one past the last sector used
  std::vector<SegmentInfo> segments;           // the stretch, in recording order
  std::vector<uint32_t> filler_chunk_indexes;  // per filler recording (one per block)
  uint8_t filler_flags = 0;
};

// Writes the video area of `plan` from `first_sector` on. Returns false with a message when
// encoding or writing fails, a chunk would exceed 2 MiB, the area would reach sector 2^31,
// or a damage option names a chunk or packet that does not exist.
bool write_video_area(const DiskImageDesc& desc, const DiskPlan& plan, int audio_channels,
                      uint32_t first_sector, ImageFile* file, VideoArea* out, std::string* error);

}  // namespace virazav::sim::diskimg
