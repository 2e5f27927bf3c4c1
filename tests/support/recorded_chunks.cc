#include "recorded_chunks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "record_index_image.h"
#include "virazav.h"

namespace virazav::testing {

std::vector<RecordedChunk> recorded_chunks(const std::string& image_path,
                                           const sim::DiskImageInfo& info) {
  std::vector<RecordedChunk> chunks;
  // The image is large and sparse: read only the bytes wanted.
  std::ifstream image(image_path, std::ios::binary);
  EXPECT_TRUE(image.good()) << image_path;
  auto at = [&](uint64_t pos, size_t n) {
    std::vector<uint8_t> v(n);
    image.seekg(static_cast<std::streamoff>(pos));
    image.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(n));
    EXPECT_TRUE(image.good()) << "image read at " << pos;
    return v;
  };
  for (const sim::SegmentInfo& seg : info.segments) {
    for (size_t j = 0; j < seg.chunks.size(); ++j) {
      const sim::ChunkInfo& c = seg.chunks[j];
      RecordedChunk e;
      std::vector<uint8_t> entry = at(uint64_t{seg.chunk_index_sector} * 512 + j * 32, 32);
      std::memcpy(e.rec_time, entry.data() + 6, 6);
      e.entry_byte0 = entry[0];
      e.entry_byte2 = entry[2];
      e.entry_byte27 = entry[27];
      e.time = sim::time_number(c.time);
      for (const sim::PacketInfo& p : c.packets) {
        std::vector<uint8_t> bytes =
            at(uint64_t{c.sector} * 512 + p.offset, 48 + size_t{p.payload_size});
        e.packets.insert(e.packets.end(), bytes.begin(), bytes.end());
      }
      chunks.push_back(std::move(e));
    }
  }
  return chunks;
}

SimulatedDisk::SimulatedDisk(const std::string& dir, int drive,
                             std::vector<sim::RecordingPlan> recordings,
                             const sim::DamageOptions& damage)
    : drive_(drive) {
  sim::DiskImageDesc desc;
  desc.recordings = std::move(recordings);
  desc.channels = 2;
  desc.media = false;
  desc.damage = damage;
  sim::DiskImageInfo info;
  std::string error;
  const std::string path = dir + "/disk.img";
  if (!sim::write_disk_image(desc, path, &info, &error)) {
    ADD_FAILURE() << "disk image: " << error;
    return;
  }
  chunks_ = recorded_chunks(path, info);
  ok_ = open_image_as_drive(drive, path);
}

bool open_image_as_drive(int drive, const std::string& path) {
  recdisk::close_drive();
  recdisk::reset_record_index();
  use_image_as_drive(drive, path);
  if (hdd_open(drive) != 0) {
    ADD_FAILURE() << "hdd_open(" << drive << ") failed";
    return false;
  }
  first_section_play();
  return true;
}

SimulatedDisk::~SimulatedDisk() {
  recdisk::close_drive();
  recdisk::reset_record_index();
  ::unsetenv(("VIRAZAV_PHYSICALDRIVE" + std::to_string(drive_)).c_str());
}

}  // namespace virazav::testing
