// Damaged disks: flipped and truncated bytes of an image and failing reads. Every
// call returns one of its documented results, nothing reads or writes outside a
// buffer (the sanitizer build checks that), and the library stays usable.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using namespace virazav::recdisk;

class CorruptionTest : public DiskImageTest {
 protected:
  void lay() {
    make_image();
    std::vector<RecordingPlan> plans(3);
    for (int i = 0; i < 3; ++i) {
      plans[i].attribute = i < 2 ? 1 : 2;
      plans[i].start.minute = i < 2 ? 10 + 2 * i : 4;
      plans[i].segments = 4;
      plans[i].chunks = 3;
    }
    plans[0].first_slot = 24997;
    disk_ = lay_out(*image_, plans, 999);
  }

  // Runs every operation over the index and checks each result against its
  // documented set.
  void exercise(const std::string& round) {
    const std::set<int> search_results = {1, 2};
    const std::set<int> read_results = {kReadDelivered, kReadEndOfData, kReadNoSegment,
                                        kReadNotDelivered};
    EXPECT_EQ(recdisk::first_section_play(), 0) << round;
    ::testing::internal::CaptureStdout();
    for (const Stamp& s : {disk_.segments[1].chunks[1].time, disk_.segments[9].time, Stamp{}}) {
      EXPECT_TRUE(search_results.count(search_play(static_cast<int>(stamp_number(s))))) << round;
    }
    std::vector<uint8_t> buf(kMaxChunkSize);
    for (int i = 0; i < 30; ++i) {
      uint32_t length = 0;
      int r = i % 3 == 2 ? read_data_back(buf.data(), &length)
                         : recdisk::read_data(buf.data(), &length);
      EXPECT_TRUE(read_results.count(r)) << round << " read " << i << " gave " << r;
      EXPECT_LE(length, kMaxChunkSize) << round;
      if (r == kReadNoSegment) {
        EXPECT_EQ(length, 0u) << round;
      }
    }
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(skip_foward(), 0) << round;
      EXPECT_EQ(skip_back(), 0) << round;
    }
    const std::set<int> walk_results = {kWalkMoved, kNoBlocks, kOutsideRange};
    EXPECT_TRUE(walk_results.count(walk_forward())) << round;
    EXPECT_TRUE(walk_results.count(walk_back())) << round;
    ::testing::internal::GetCapturedStdout();
    uint32_t start = 0, end = 0;
    int r = read_start_end_sec(&start, &end);
    EXPECT_TRUE(r == 0 || r == -1) << round;
    uint16_t count = 0, oldest = 0;
    EXPECT_EQ(get_rec_list(&count, &oldest), 0);
    EXPECT_LE(count, 1000);
    EXPECT_LT(oldest, 1000);
  }
  LaidDisk disk_;
};

TEST_F(CorruptionTest, FlippedIndexBytes) {
  lay();
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  // Byte ranges of everything the reader interprets: headers, control records,
  // ring tables, the segment entries in use, chunk indexes and chunks.
  std::vector<std::pair<uint64_t, uint64_t>> areas;
  for (int c = 0; c < 3; ++c) {
    areas.push_back({IndexImage::header_offset(c), 16});
    for (Table t : {Table::kAttributes, Table::kBlocks, Table::kRecordings, Table::kAlarms}) {
      areas.push_back({IndexImage::control_offset(c, t), 8});
      areas.push_back({IndexImage::entry_offset(c, t, 0), 84});
    }
    areas.push_back({IndexImage::entry_offset(c, Table::kRecordings, 999), 28});
    areas.push_back({IndexImage::segment_offset(c, 0, 24997), 60});
    areas.push_back({IndexImage::segment_offset(c, 1, 0), 200});
  }
  for (const LaidSegment& s : disk_.segments) {
    areas.push_back({s.chunk_index_sector * 512ull, 96});
    areas.push_back({s.chunks[0].sector * 512ull, s.chunks[0].size});
  }
  std::mt19937 rng(20240510);
  for (int round = 0; round < 60; ++round) {
    std::vector<std::pair<uint64_t, uint8_t>> flips;
    for (int k = 0; k < 6; ++k) {
      const auto& area = areas[rng() % areas.size()];
      uint64_t at = area.first + rng() % area.second;
      uint8_t mask = static_cast<uint8_t>(1u << (rng() % 8));
      image_->xor_byte(at, mask);
      flips.push_back({at, mask});
    }
    exercise("round " + std::to_string(round));
    for (const auto& f : flips) image_->xor_byte(f.first, f.second);
  }
}

TEST_F(CorruptionTest, ExtremeFieldValues) {
  lay();
  // Values the recorder never writes: blocks above 249, segments above 24999,
  // sectors at or above 2^31, and 255 packets.
  for (int c = 0; c < 3; ++c) {
    AttrFields a;
    a.attribute = 1;
    a.first_block = 255;
    a.last_block = 252;
    a.first_segment = 0xFFFFFFF0u;
    a.last_segment = 0x7FFFFFFFu;
    a.last.hour = 23;
    image_->attribute(c, 1, a);
    RecFields r;
    r.attribute = 1;
    r.start_block = 254;
    r.end_block = 3;
    r.start_segment = 0xFFFFFFFFu;
    r.end_segment = 26000;
    r.skip_again = 1;
    image_->recording(c, 0, r);
    image_->block(c, 1, BlockFields{60000, 65535, 30000, 1, 1, Stamp{}, Stamp{}});
  }
  SegFields s;
  s.chunk_index_sector = 0xFFFFFF00u;
  s.chunk_count = 255;
  image_->segment(-1, 1, 1, s);
  ChunkFields huge;
  huge.size = 0x200000;
  huge.sector = 0x80000001u;
  image_->chunk_index(disk_.segments[4].chunk_index_sector, {huge, huge});
  image_->chunk(disk_.segments[5].chunks[0].sector, {}, 255);
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  exercise("extreme values");
  EXPECT_EQ(get_list_start_end_sec(1000, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(get_alarm_info(50, nullptr, nullptr), -1);
  EXPECT_EQ(get_alarm_info(-1, nullptr, nullptr), -1);
}

TEST_F(CorruptionTest, TruncatedImages) {
  lay();
  const uint64_t sizes[] = {0,
                            100,
                            512 * 2 + 7,
                            244333ull * 512 + 5000,
                            488666ull * 512,
                            600000ull * 512,
                            (kDataAreaSector + 30) * 512ull};
  for (uint64_t size : sizes) {
    image_->truncate(size);
    ASSERT_EQ(hdd_open(kTestDrive), 0);
    exercise("truncated at " + std::to_string(size));
    hdd_close();
  }
}

TEST_F(CorruptionTest, EveryReadFailingInTurn) {
  lay();
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  // Counts the reads of one exercise, then fails each of them once in turn.
  platform::fault_arm(platform::FaultKind::kDriveRead, 1000000);
  exercise("counting");
  const int reads = platform::fault_calls(platform::FaultKind::kDriveRead);
  ASSERT_GT(reads, 50);
  for (int n = 1; n <= reads; n += (n < 60 ? 1 : 7)) {
    platform::fault_arm(platform::FaultKind::kDriveRead, n);
    exercise("read " + std::to_string(n) + " fails");
  }
  platform::fault_reset();
  ASSERT_EQ(recdisk::first_section_play(), 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(search_play(static_cast<int>(stamp_number(disk_.segments[1].chunks[1].time))), 1);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(position().segment, disk_.segments[1].segment) << "usable again";
  std::vector<uint8_t> buf(kMaxChunkSize);
  uint32_t length = 0;
  EXPECT_EQ(recdisk::read_data(buf.data(), &length), 0);
  EXPECT_EQ(length, disk_.segments[1].chunks[1].packets.size());
}

TEST_F(CorruptionTest, AllocationFailuresInTheReaders) {
  lay();
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  ASSERT_EQ(recdisk::first_section_play(), 0);
  std::vector<uint8_t> buf(kMaxChunkSize);
  uint32_t length = 0;
  platform::fault_arm(platform::FaultKind::kAlloc, 1);
  EXPECT_EQ(recdisk::read_data(buf.data(), &length), kReadNotDelivered);
  EXPECT_EQ(recdisk::read_data(buf.data(), &length), 0) << "the next chunk";
}

}  // namespace
}  // namespace virazav::testing
