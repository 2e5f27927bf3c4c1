// Writes a whole disk image: the still area and the video area first (the index points into
// them), then the three index copies with the disk label in front of each, and finally the
// disk's size.

#include "disk/disk_image.h"

#include <algorithm>
#include <cstdio>

#include "disk/disk_format.h"
#include "disk/disk_plan.h"
#include "disk/image_file.h"
#include "disk/index_copies.h"
#include "disk/stills.h"
#include "disk/video_area.h"

namespace virazav::sim {

namespace {

using diskimg::kAreaAlignSectors;

uint32_t align_sectors(uint32_t sector) {
  return (sector + kAreaAlignSectors - 1) / kAreaAlignSectors * kAreaAlignSectors;
}

// The disk label: 128 32-bit values, each as two little-endian 16-bit words with the high
// half first (the recorder writes its words in that order).
std::vector<uint8_t> make_label(const std::array<uint32_t, diskimg::kLabelValueCount>& values) {
  std::vector<uint8_t> label(kSectorSize, 0);
  for (size_t i = 0; i < values.size(); ++i) {
    diskimg::put_u16le(&label[4 * i], values[i] >> 16);
    diskimg::put_u16le(&label[4 * i + 2], values[i] & 0xFFFF);
  }
  return label;
}

}  // namespace

bool write_disk_image(const DiskImageDesc& desc, const std::string& path, DiskImageInfo* info,
                      std::string* error) {
  diskimg::DiskPlan plan;
  if (!plan.make(desc, error)) return false;
  const int audio_channels =
      desc.audio_channels < 0 ? std::min(desc.channels, kAudioChannelCount) : desc.audio_channels;

  diskimg::ImageFile file;
  if (!file.open(path, error)) return false;

  diskimg::StillArea stills;
  if (!diskimg::write_still_area(desc, plan, diskimg::kStillAreaSector, &file, &stills, error)) {
    return false;
  }
  diskimg::VideoArea video;
  const uint32_t video_first = align_sectors(stills.first_sector + stills.sectors);
  if (!diskimg::write_video_area(desc, plan, audio_channels, video_first, &file, &video, error)) {
    return false;
  }

  const uint64_t needed = uint64_t{video.end_sector} * kSectorSize;
  uint64_t size = (needed + kCylinderBytes - 1) / kCylinderBytes * kCylinderBytes;
  if (desc.size_bytes != 0) {
    if (desc.size_bytes < needed) {
      if (error != nullptr) {
        *error = "the disk is too small: the recording needs " + std::to_string(needed) + " bytes";
      }
      return false;
    }
    size = desc.size_bytes;
  }

  std::array<uint32_t, diskimg::kLabelValueCount> values{};
  values[diskimg::kLabelMagicValue] = diskimg::kLabelMagic;
  values[diskimg::kLabelVersionValue] = diskimg::kLabelVersion;
  const int64_t last_second = std::max<int64_t>(0, plan.span_s() - 1);
  values[diskimg::kLabelFirstTime] = packed_time(rec_time_at(plan.clock_at(0)).value_or(RecTime{}));
  values[diskimg::kLabelLastTime] =
      packed_time(rec_time_at(plan.clock_at(last_second)).value_or(RecTime{}));
  values[diskimg::kLabelChannels] = static_cast<uint32_t>(desc.channels);
  values[diskimg::kLabelAudioChannels] = static_cast<uint32_t>(audio_channels);
  values[diskimg::kLabelStillSector] = stills.first_sector;
  values[diskimg::kLabelStillSectors] = stills.sectors;
  values[diskimg::kLabelVideoSector] = video.first_sector;
  values[diskimg::kLabelVideoSectors] = video.end_sector - video.first_sector;
  values[diskimg::kLabelDiskSectors] = static_cast<uint32_t>(size / kSectorSize);

  DiskImageInfo result;
  if (!diskimg::write_index_copies(desc, plan, video, make_label(values), &file, &result.copies,
                                   &result.newest_copy, error)) {
    return false;
  }
  if (!file.finish(size, error)) return false;

  if (info != nullptr) {
    result.size_bytes = size;
    result.cylinders = static_cast<uint32_t>(size / kCylinderBytes);
    const IndexCopyInfo final_state = plan.index_state(plan.total());
    result.recordings = final_state.recording_entries;
    result.alarms = final_state.alarm_entries;
    result.segments = std::move(video.segments);
    result.filler_segments = plan.filler();
    result.still_area_sector = stills.first_sector;
    result.still_area_sectors = stills.sectors;
    result.video_area_sector = video.first_sector;
    result.video_area_sectors = video.end_sector - video.first_sector;
    result.stills = std::move(stills.stills);
    *info = std::move(result);
  }
  return true;
}

std::string still_file_name(const StillInfo& still, int sequence) {
  char name[64];
  std::snprintf(name, sizeof name, "%d_%02d%02d%02d_%02d%02d%02d%d_%x.jpg", sequence,
                still.time.year, still.time.month, still.time.day, still.time.hour,
                still.time.minute, still.time.second, still.frame, still.serial);
  return name;
}

}  // namespace virazav::sim
