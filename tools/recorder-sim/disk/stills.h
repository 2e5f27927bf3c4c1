// The recorder's still area: JPEG stills of its cameras, each beginning on a sector boundary
// with the recorder's own header segment, stored with the two bytes of every 16-bit word
// exchanged, as the recorder moves data to its disk in words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "disk/disk_plan.h"
#include "disk/image_file.h"
#include "media/media.h"

namespace virazav::sim::diskimg {

struct StillArea {
  uint32_t first_sector = 0;
  uint32_t sectors = 0;
  std::vector<StillInfo> stills;
};

// Encodes a picture as a baseline JPEG (libavcodec's MJPEG encoder, full-range YUV 4:2:0)
// at the fixed quantizer. Returns false with a message on failure.
bool encode_jpeg(const Picture& picture, int quantizer, std::vector<uint8_t>* out,
                 std::string* error);

// Makes the recorder's still of `jpeg` (a whole JPEG from its SOI): the recorder's header
// segment after SOI carrying the still's fields, the rest of the JPEG, and one more fill
// byte before EOI when the length would be odd. Fills still->jpeg and still->size.
bool make_still(const std::vector<uint8_t>& jpeg, StillInfo* still, std::string* error);

// Returns the still's bytes as stored on the disk: every 16-bit word's bytes exchanged.
std::vector<uint8_t> stored_order(const std::vector<uint8_t>& jpeg);

// Writes the stills of `desc` into the still area from `first_sector` on.
bool write_still_area(const DiskImageDesc& desc, const DiskPlan& plan, uint32_t first_sector,
                      ImageFile* file, StillArea* out, std::string* error);

}  // namespace virazav::sim::diskimg
