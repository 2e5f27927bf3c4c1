// The record index: time numbers, range tests, the choice of the newest copy,
// ring tables and their guards, segment tables and chunk indexes.
#include "recdisk/record_index.h"

#include <gtest/gtest.h>

#include "platform/fault.h"
#include "recdisk/disk.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using namespace virazav::recdisk;

TEST(RecordTime, TimeNumberCountsThirtyOneDayMonths) {
  RecTime t;
  t.year = 7, t.month = 3, t.day = 15, t.hour = 12, t.minute = 30, t.second = 45;
  EXPECT_EQ(time_number(t), 231597045u);
  RecTime start;
  start.year = 0, start.month = 1, start.day = 1;
  EXPECT_EQ(time_number(start), 0u);
  // The 31st of a month and the 1st of the next are one day apart.
  RecTime a = t, b = t;
  a.day = 31, a.month = 4;
  b.day = 1, b.month = 5;
  EXPECT_EQ(time_number(b) - time_number(a), 86400u);
}

TEST(RecordTime, NumberToStampRoundTripsAndFixesDayZero) {
  const int32_t numbers[] = {0, 59, 86399, 231597045,
                             32140800 * 24 + 2678400 * 4 + 86400 * 9 + 3661};
  for (int32_t n : numbers) {
    EXPECT_EQ(time_number(rec_time_from_number(n)), static_cast<uint32_t>(n)) << n;
  }
  // -86400 - 1: day (-86401 % 2678400) / 86400 + 1 = 0, so the previous month's
  // last day; month (-86401 % 32140800) / 2678400 + 1 = 1 becomes 12 of year -1.
  RecTime r = rec_time_from_number(-86401);
  EXPECT_EQ(r.month, 12);
  EXPECT_EQ(r.day, 31);
  EXPECT_EQ(r.year, 255) << "year -1 stored in a byte";
}

TEST(RecordTime, CompareOrdersByDateThenSecondsOfDay) {
  RecTime a, b;
  a.year = 24, a.month = 5, a.day = 1, a.hour = 10;
  b = a;
  EXPECT_EQ(compare_rec_time(a, b), 0);
  b.second = 1;
  EXPECT_LT(compare_rec_time(a, b), 0);
  b = a;
  b.day = 2;
  b.hour = 0;
  EXPECT_LT(compare_rec_time(a, b), 0);
  b = a;
  b.month = 200;  // compared as an unsigned byte
  EXPECT_LT(compare_rec_time(a, b), 0);
  // 10:00:70 and 10:01:10 name the same second.
  b = a;
  a.second = 70;
  b.minute = 1, b.second = 10;
  EXPECT_EQ(compare_rec_time(a, b), 0);
}

TEST(RecordIndexRange, WrappedRingAndPlainRange) {
  struct Row {
    uint32_t block, segment;
    int expected;
  };
  // Oldest block 240 from segment 100, newest block 5 up to segment 10.
  const Row wrapped[] = {{3, 0, 0},   {100, 0, 2}, {240, 99, 2}, {240, 100, 0},
                         {245, 0, 0}, {5, 10, 0},  {5, 11, 2}};
  for (const Row& r : wrapped) {
    EXPECT_EQ(range_test(240, 100, 5, 10, r.block, r.segment), r.expected)
        << r.block << "/" << r.segment;
  }
  const Row plain[] = {{1, 99, -1}, {1, 100, 0}, {2, 24999, 0}, {3, 50, 0}, {3, 51, 1}};
  for (const Row& r : plain) {
    EXPECT_EQ(range_test(1, 100, 3, 50, r.block, r.segment), r.expected)
        << r.block << "/" << r.segment;
  }
}

TEST(RecordIndexChecksum, LastByteIsTheSumOfTheOthers) {
  uint8_t e[8] = {1, 2, 3, 249, 0, 0, 0, 0};
  EXPECT_FALSE(checksum_valid(e, 8));
  e[7] = static_cast<uint8_t>(1 + 2 + 3 + 249);
  EXPECT_TRUE(checksum_valid(e, 8));
  uint8_t zero[20] = {};
  EXPECT_TRUE(checksum_valid(zero, 20)) << "an all-zero entry is valid";
}

class RecordIndexTest : public DiskImageTest {
 protected:
  // Gives each copy c its own recording list count (10 + c) so that the copy a
  // load used can be told from the loaded tables.
  void mark_copies() {
    for (int c = 0; c < 3; ++c) image_->control(c, Table::kRecordings, 10 + c, 0, 9 + c);
  }
  int loaded_copy() {
    uint16_t count = 0, oldest = 0;
    EXPECT_EQ(get_rec_list(&count, &oldest), 0);
    return count - 10;
  }
};

TEST_F(RecordIndexTest, CopyChoiceByGeneration) {
  struct Row {
    const char* name;
    int gens[3];  // -1: bad checksum
    int generation;
    int copy;
  };
  const Row rows[] = {
      {"3 4 5", {3, 4, 5}, 5, 2},
      {"0 4 5: wrapped to 0", {0, 4, 5}, 0, 0},
      {"0 1 5: wrapped to 1", {0, 1, 5}, 1, 1},
      {"0 1 2", {0, 1, 2}, 2, 2},
      {"3 1 2", {3, 1, 2}, 3, 0},
      {"3 4 2", {3, 4, 2}, 4, 1},
      {"generation 7 ignored", {0, 7, 2}, 2, 2},
      {"all headers bad", {-1, -1, -1}, 0, 0},
      {"newest header bad", {3, 4, -1}, 4, 1},
  };
  make_image();
  mark_copies();
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  for (const Row& row : rows) {
    for (int c = 0; c < 3; ++c) {
      image_->header(c, row.gens[c] < 0 ? c : row.gens[c], row.gens[c] >= 0);
    }
    recdisk::first_section_play();
    EXPECT_EQ(newest_generation(), row.generation) << row.name;
    EXPECT_EQ(copy_in_order(0), row.copy) << row.name;
    EXPECT_EQ(loaded_copy(), row.copy) << row.name;
  }
}

TEST_F(RecordIndexTest, DamagedItemsComeFromTheNextCopyInOrder) {
  make_image();
  mark_copies();
  for (int c = 0; c < 3; ++c) image_->header(c, c + 3);  // generation 5: order 2, 1, 0
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  recdisk::first_section_play();
  EXPECT_EQ(loaded_copy(), 2);

  // A bad control record in copy 2 passes to copy (5 + 2) % 3 = 1.
  image_->control(2, Table::kRecordings, 12, 0, 11, false);
  recdisk::first_section_play();
  EXPECT_EQ(loaded_copy(), 1);

  // A control record that names entries outside its ring is as bad.
  image_->control(1, Table::kRecordings, 1001, 0, 0);
  recdisk::first_section_play();
  EXPECT_EQ(loaded_copy(), 0);
  image_->control(1, Table::kRecordings, 11, 1000, 10);
  recdisk::first_section_play();
  EXPECT_EQ(loaded_copy(), 0);

  // No copy passes: the load reports failure and nothing outside the ring is named.
  image_->control(0, Table::kRecordings, 1200, 1500, 3000);
  EXPECT_EQ(load_record_index(LoadMode::kKeep), 0);
  RingControl rc = ring_control(Ring::kRecording);
  EXPECT_EQ(rc.count, 1000u);
  EXPECT_EQ(rc.oldest, 500u);
  EXPECT_EQ(rc.newest, 0u);
}

TEST_F(RecordIndexTest, RingTableEntriesInUseAreChecked) {
  make_image();
  for (int c = 0; c < 3; ++c) image_->header(c, c);  // generation 2: order 2, 1, 0
  // Block ring with 5 entries from 249: entries 249, 0, 1, 2, 3.
  image_->control(-1, Table::kBlocks, 5, 249, 3);
  for (int c = 0; c < 3; ++c) {
    BlockFields b;
    b.count = 10 + c;  // tells the copies apart
    for (int i : {249, 0, 1, 2, 3}) image_->block(c, i, b);
  }
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  recdisk::first_section_play();
  EXPECT_EQ(block_entry(249).segment_count, 12);
  EXPECT_EQ(ring_index(Ring::kBlock, 0), 249);
  EXPECT_EQ(ring_index(Ring::kBlock, 4), 3);

  // Entry 4 is not in use: a bad checksum there does not matter.
  image_->xor_byte(IndexImage::entry_offset(2, Table::kBlocks, 4) + 3, 0x10);
  recdisk::first_section_play();
  EXPECT_EQ(block_entry(249).segment_count, 12);
  // Entry 249 is in use: copy 2 fails, copy 1 is read.
  image_->xor_byte(IndexImage::entry_offset(2, Table::kBlocks, 249) + 3, 0x10);
  recdisk::first_section_play();
  EXPECT_EQ(block_entry(249).segment_count, 11);

  // A count of 0 loads from the first copy without looking at entries.
  image_->control(2, Table::kBlocks, 0, 0, 0);
  recdisk::first_section_play();
  EXPECT_EQ(ring_control(Ring::kBlock).count, 0u);
  EXPECT_EQ(block_entry(249).segment_count, 12) << "count 0: copy 2's table passes unchecked";
}

TEST_F(RecordIndexTest, SegmentTableCheckIsSparse) {
  make_image();
  LaidDisk disk = lay_out(*image_, {RecordingPlan{}});
  // A block whose segments run 0..2999 under count 3000: checked entries 0, 1000,
  // 2000 and the last one (2999).
  BlockFields b;
  b.count = 3000;
  b.first_segment = 0;
  b.last_segment = 2999;
  image_->block(-1, 4, b);
  SegFields s;
  s.time = disk.segments[0].time;
  for (int seg : {0, 1, 1000, 2000, 2999}) {
    for (int c = 0; c < 3; ++c) {
      s.chunk_count = c + 1;  // tells the copies apart
      image_->segment(c, 4, seg, s);
    }
  }
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  recdisk::first_section_play();
  ASSERT_EQ(read_segment_table(4), 1);
  EXPECT_EQ(segment_entry(1).chunk_count, 3) << "copy 2 first";

  image_->segment(2, 4, 1, s, false);  // not checked by the load
  ASSERT_EQ(read_segment_table(4), 1);
  EXPECT_EQ(segment_entry(1).chunk_count, 3);
  EXPECT_FALSE(segment_entry(1).valid);

  image_->segment(2, 4, 1000, s, false);  // checked
  ASSERT_EQ(read_segment_table(4), 1);
  EXPECT_EQ(segment_entry(1000).chunk_count, 2) << "copy 1";

  image_->segment(1, 4, 2999, s, false);
  image_->segment(0, 4, 2999, s, false);
  EXPECT_EQ(read_segment_table(4), 0) << "no copy passes";
  EXPECT_EQ(read_segment_table(250), 0) << "no block 250";
  EXPECT_FALSE(segment_entry(25000).valid);
  EXPECT_FALSE(segment_entry(-1).valid);
}

TEST_F(RecordIndexTest, LoadModesPlaceThePosition) {
  make_image();
  std::vector<RecordingPlan> plans(2);
  plans[0].first_slot = 3 * 25000 + 100;
  plans[0].segments = 3;
  plans[1].start = add_seconds(plans[0].start, 60);
  plans[1].first_slot = 4 * 25000 + 7;
  plans[1].segments = 4;
  LaidDisk disk = lay_out(*image_, plans, 998);
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  recdisk::first_section_play();
  PlayPosition& pos = position();
  EXPECT_EQ(pos.block, 3);
  EXPECT_EQ(pos.segment, 100);
  EXPECT_EQ(pos.recording, 998);
  EXPECT_EQ(read_cursor(), 0);
  EXPECT_EQ(load_record_index(LoadMode::kNewest), 1);
  EXPECT_EQ(pos.block, 4);
  EXPECT_EQ(pos.segment, 10);
  EXPECT_EQ(pos.recording, 999);
  // The ChunkIndex in memory is that of the position's segment.
  EXPECT_EQ(chunk_entry(0).sector, disk.segments.back().chunks[0].sector);

  pos.block = 3, pos.segment = 101;
  EXPECT_EQ(load_record_index(LoadMode::kKeep), 1);
  EXPECT_EQ(pos.segment, 101) << "inside the range: kept";
  pos.block = 4, pos.segment = 11;
  EXPECT_EQ(load_record_index(LoadMode::kKeep), 1);
  EXPECT_EQ(pos.block, 3) << "outside: the oldest";
  EXPECT_EQ(pos.segment, 100);
}

TEST_F(RecordIndexTest, ChunkIndexReadFailureKeepsThePreviousOne) {
  make_image();
  LaidDisk disk = lay_out(*image_, {RecordingPlan{}});
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  recdisk::first_section_play();
  ASSERT_EQ(chunk_entry(1).time.second, disk.segments[0].chunks[1].time.second);
  SegmentEntry beyond;
  beyond.chunk_sector = 0x90000000u;  // negative as a signed sector
  EXPECT_EQ(read_chunk_index(beyond), 0);
  beyond.chunk_sector = 800000000u;  // past the end of the image
  EXPECT_EQ(read_chunk_index(beyond), 0);
  EXPECT_EQ(chunk_entry(1).sector, disk.segments[0].chunks[1].sector);
  EXPECT_FALSE(chunk_entry(40).valid);
}

TEST_F(RecordIndexTest, NothingIsReadBeforeTheLayout) {
  make_image();
  lay_out(*image_, {RecordingPlan{}});
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  EXPECT_EQ(load_record_index(LoadMode::kOldest), 0);
  EXPECT_EQ(read_segment_table(0), 0);
  EXPECT_EQ(ring_control(Ring::kBlock).count, 0u);
}

TEST_F(RecordIndexTest, FailedReadsOfEveryCopyReportFailure) {
  make_image();
  lay_out(*image_, {RecordingPlan{}});
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  recdisk::first_section_play();
  // Every read fails from the first one on: the load attempts every step and reports 0.
  platform::fault_arm(platform::FaultKind::kDriveRead, 1, true);
  EXPECT_EQ(load_record_index(LoadMode::kKeep), 0);
  EXPECT_GT(platform::fault_calls(platform::FaultKind::kDriveRead), 3 + 8 * 3);
  platform::fault_reset();
  EXPECT_EQ(load_record_index(LoadMode::kKeep), 1) << "usable again";
}

}  // namespace
}  // namespace virazav::testing
