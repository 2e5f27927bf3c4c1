// The record index fuzz target's input format (patches of index regions) holds
// everything the loader and the walks need: an image rebuilt from the patches
// of a laid-out image searches and reads the same. With VIRAZAV_FUZZ_SEED_DIR
// set (the fuzz corpus folder), the patches and the chunks are also written
// there as seeds of record_index_fuzz and chunk_packet_fuzz.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

// Region bases and the bytes of each that the patches cover, in the fuzz
// target's order.
std::vector<std::pair<uint64_t, uint64_t>> regions() {
  std::vector<std::pair<uint64_t, uint64_t>> r;
  const uint64_t items[][2] = {{1, 16},    {2, 8},      {3, 2800},         {9, 8},
                               {10, 6500}, {23, 8},     {24, 28000},       {79, 4},
                               {80, 1400}, {83, 65535}, {83 + 977, 65535}, {83 + 977 * 249, 65535}};
  for (uint32_t c : kCopyStart) {
    for (const auto& i : items) r.push_back({(c + i[0]) * 512ull, i[1]});
  }
  r.push_back({kDataAreaSector * 512ull, 65535});
  return r;
}

std::vector<uint8_t> patches_of(IndexImage& image) {
  std::vector<uint8_t> out;
  const auto rs = regions();
  for (size_t k = 0; k < rs.size(); ++k) {
    std::vector<uint8_t> bytes = image.read(rs[k].first, rs[k].second);
    for (size_t off = 0; off < bytes.size(); off += 255) {
      size_t n = std::min<size_t>(255, bytes.size() - off);
      while (n > 0 && bytes[off + n - 1] == 0) --n;
      if (n == 0) continue;
      out.push_back(static_cast<uint8_t>(k));
      out.push_back(static_cast<uint8_t>(off >> 8));
      out.push_back(static_cast<uint8_t>(off));
      out.push_back(static_cast<uint8_t>(n));
      out.insert(out.end(), bytes.begin() + off, bytes.begin() + off + n);
    }
  }
  return out;
}

void apply_patches(IndexImage& image, const std::vector<uint8_t>& p) {
  const auto rs = regions();
  for (size_t at = 0; at + 4 <= p.size();) {
    uint64_t base = rs[p[at] % rs.size()].first;
    uint64_t off = static_cast<uint64_t>(p[at + 1]) << 8 | p[at + 2];
    size_t n = p[at + 3];
    image.write(base + off, p.data() + at + 4, n);
    at += 4 + n;
  }
}

class FuzzSeedTest : public DiskImageTest {};

TEST_F(FuzzSeedTest, PatchesRebuildAnEquivalentIndex) {
  struct Layout {
    const char* name;
    std::vector<RecordingPlan> plans;
  };
  std::vector<Layout> layouts(3);
  layouts[0].name = "one_recording";
  layouts[0].plans.resize(1);
  layouts[1].name = "set_back";
  layouts[1].plans.resize(2);
  layouts[1].plans[1].attribute = 1;
  layouts[1].plans[1].start.hour = 9;
  layouts[2].name = "across_blocks";
  layouts[2].plans.resize(2);
  layouts[2].plans[0].first_slot = 24999;
  layouts[2].plans[1].skip_again = 1;
  layouts[2].plans[1].start.minute = 1;
  const char* seed_dir = std::getenv("VIRAZAV_FUZZ_SEED_DIR");
  for (const Layout& layout : layouts) {
    make_image();
    LaidDisk disk = lay_out(*image_, layout.plans);
    std::vector<uint8_t> patches = patches_of(*image_);
    ASSERT_LT(patches.size(), 20000u) << layout.name;
    if (seed_dir != nullptr) {
      std::ofstream(std::string(seed_dir) + "/record_index_fuzz/" + layout.name, std::ios::binary)
          .write(reinterpret_cast<const char*>(patches.data()),
                 static_cast<std::streamsize>(patches.size()));
      const LaidChunk& c = disk.segments[0].chunks[0];
      std::vector<uint8_t> chunk = {0xFF, 0xFF};
      std::vector<uint8_t> bytes = image_->read(c.sector * 512ull, c.size);
      chunk.insert(chunk.end(), bytes.begin(), bytes.end());
      std::ofstream(std::string(seed_dir) + "/chunk_packet_fuzz/" + layout.name, std::ios::binary)
          .write(reinterpret_cast<const char*>(chunk.data()),
                 static_cast<std::streamsize>(chunk.size()));
    }
    make_image();
    apply_patches(*image_, patches);
    open_and_load();
    const LaidSegment& s = disk.segments.back();
    ::testing::internal::CaptureStdout();
    const int found = search_play(static_cast<int>(stamp_number(s.time)));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(found, 1) << layout.name;
    EXPECT_EQ(recdisk::position().segment, s.segment) << layout.name;
    std::vector<uint8_t> buf(recdisk::kMaxChunkSize);
    uint32_t length = 0;
    EXPECT_EQ(recdisk::read_data(buf.data(), &length), 0) << layout.name;
    EXPECT_EQ(length, s.chunks.front().packets.size()) << layout.name;
    recdisk::close_drive();
  }
}

}  // namespace
}  // namespace virazav::testing
