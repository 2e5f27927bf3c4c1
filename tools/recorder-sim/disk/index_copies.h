// The three copies of the record index at the start of the disk: each a copy header with
// its generation, four ring tables behind their control records and 250 segment tables,
// holding the index as it stood at the copy's last write, and left damaged as asked.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "disk/disk_plan.h"
#include "disk/image_file.h"
#include "disk/video_area.h"

namespace virazav::sim::diskimg {

// Writes the three copies (the label sector `label` first in each). Stores what each copy
// holds in copies[c] and the copy written last in *newest_copy. Returns false with a message
// when writing fails or a damage option is out of range.
bool write_index_copies(const DiskImageDesc& desc, const DiskPlan& plan, const VideoArea& video,
                        const std::vector<uint8_t>& label, ImageFile* file,
                        std::array<IndexCopyInfo, kIndexCopyCount>* copies, int* newest_copy,
                        std::string* error);

}  // namespace virazav::sim::diskimg
