// The time search: inside, before and after recordings, across clock set-backs
// (several time attributes), missing attributes and the wrap from 0 to 99.
#include <gtest/gtest.h>

#include <string>

#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using namespace virazav::recdisk;

RecTime at(int hour, int minute, int second) {
  RecTime t;
  t.year = 24, t.month = 5, t.day = 10, t.hour = static_cast<uint8_t>(hour);
  t.minute = static_cast<uint8_t>(minute), t.second = static_cast<uint8_t>(second);
  return t;
}

Stamp stamp(int hour, int minute, int second) {
  Stamp s;
  s.hour = hour, s.minute = minute, s.second = second;
  return s;
}

class TimeSearchTest : public DiskImageTest {
 protected:
  // Three recordings under attribute 1 from slot 100 of block 0: 10:00:00 (slots
  // 100..102), 10:01:00 (103..105) and 10:02:00 (106..107), two one-second chunks
  // per segment.
  void three_recordings() {
    make_image();
    std::vector<RecordingPlan> plans(3);
    for (int i = 0; i < 3; ++i) {
      plans[i].attribute = 1;
      plans[i].start = stamp(10, i, 0);
      plans[i].segments = i == 2 ? 2 : 3;
    }
    plans[0].first_slot = 100;
    disk_ = lay_out(*image_, plans);
    open_and_load();
  }
  // Attribute 1 recorded 10:00:00.. in slots 0..2, then the clock was set back
  // and attribute 2 recorded 09:30:00.. in slots 3..5.
  void set_back() {
    make_image();
    std::vector<RecordingPlan> plans(2);
    plans[0].attribute = 1;
    plans[0].start = stamp(10, 0, 0);
    plans[0].first_slot = 0;
    plans[1].attribute = 2;
    plans[1].start = stamp(9, 30, 0);
    disk_ = lay_out(*image_, plans);
    open_and_load();
  }
  LaidDisk disk_;
};

struct Expect {
  const char* name;
  RecTime t;
  int result;
  int block, segment, chunk;
};

void check_rows(const std::vector<Expect>& rows) {
  for (const Expect& row : rows) {
    ::testing::internal::CaptureStdout();
    int r = search_by_time(row.t);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, row.result) << row.name;
    if (row.block >= 0) {
      EXPECT_EQ(position().block, row.block) << row.name;
      EXPECT_EQ(position().segment, row.segment) << row.name;
      // A placement at the newest attribute's start keeps the chunk the position had.
      if (row.chunk >= 0) {
        EXPECT_EQ(position().chunk, row.chunk) << row.name;
      }
    }
  }
}

TEST_F(TimeSearchTest, InsideAndBetweenRecordings) {
  three_recordings();
  check_rows({
      {"first chunk of the first recording", at(10, 0, 0), 1, 0, 100, 0},
      {"second chunk of a segment", at(10, 0, 3), 1, 0, 101, 1},
      {"first chunk of a middle segment", at(10, 0, 2), 1, 0, 101, 0},
      {"last chunk of the first recording", at(10, 0, 5), 1, 0, 102, 1},
      {"start of the second recording", at(10, 1, 0), 1, 0, 103, 0},
      {"in the gap: the next recording's start", at(10, 0, 30), 1, 0, 103, 0},
      {"inside the last recording", at(10, 2, 2), 1, 0, 107, 0},
      {"last second recorded", at(10, 2, 3), 1, 0, 107, 1},
  });
}

TEST_F(TimeSearchTest, ChunkLaterThanTheTimeGivesTheChunkBefore) {
  three_recordings();
  // A segment whose chunks are 2 s apart: 10:00:02 and 10:00:04 in slot 101.
  std::vector<ChunkFields> chunks(2);
  for (int j = 0; j < 2; ++j) {
    chunks[j].time = stamp(10, 0, 2 + 2 * j);
    chunks[j].size = disk_.segments[1].chunks[j].size;
    chunks[j].sector = disk_.segments[1].chunks[j].sector;
  }
  image_->chunk_index(disk_.segments[1].chunk_index_sector, chunks);
  check_rows({{"between two chunks", at(10, 0, 3), 1, 0, 101, 0}});
}

TEST_F(TimeSearchTest, AfterAndBeforeEverything) {
  three_recordings();
  ::testing::internal::CaptureStdout();
  const PlayPosition before = position();
  EXPECT_EQ(search_by_time(at(11, 0, 0)), kSearchNotFound);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(position().segment, before.segment) << "position restored";
  check_rows(
      {{"before everything: the attribute's start", at(9, 0, 0), kSearchBeforeAll, 0, 100, 0}});
}

TEST_F(TimeSearchTest, ClockSetBack) {
  set_back();
  check_rows({
      {"in the newer attribute", at(9, 30, 3), 1, 0, 4, 1},
      {"in the older attribute, after the newer one's end", at(10, 0, 3), 1, 0, 1, 1},
      {"before both: start of the newest attribute", at(9, 0, 0), kSearchBeforeAll, 0, 3, -1},
      {"between them: in neither", at(9, 45, 0), kSearchNotFound, -1, 0, 0},
      {"after both", at(10, 30, 0), kSearchNotFound, -1, 0, 0},
  });
}

TEST_F(TimeSearchTest, ClockSetBackTracesEachAttribute) {
  set_back();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(search_by_time(at(10, 0, 3)), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "time attribute=2\ntime attribute=1\n");
}

TEST_F(TimeSearchTest, MissingAttributeIsRetriedOnceThenPassed) {
  make_image();
  std::vector<RecordingPlan> plans(2);
  plans[0].attribute = 3;
  plans[0].start = stamp(10, 0, 0);
  plans[1].attribute = 5;
  plans[1].start = stamp(9, 0, 0);
  disk_ = lay_out(*image_, plans);
  // Attributes 3, 9 (a stray value in slot 4) and 5: attribute 4 is missing.
  AttrFields stray;
  stray.attribute = 9;
  image_->attribute(-1, 4, stray);
  image_->control(-1, Table::kAttributes, 3, 3, 5);
  open_and_load();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(search_by_time(at(10, 0, 1)), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "time attribute=5\ntime attribute=4\nTA_count up:1\nCallback search\nTA_count up:2\n"
            "time attribute=3\n");
  EXPECT_EQ(position().segment, 0);
  EXPECT_EQ(position().chunk, 1);
}

TEST_F(TimeSearchTest, AttributeZeroIsFollowedByNinetyNine) {
  make_image();
  std::vector<RecordingPlan> plans(2);
  plans[0].attribute = 99;
  plans[0].start = stamp(10, 0, 0);
  plans[1].attribute = 0;
  plans[1].start = stamp(8, 0, 0);
  disk_ = lay_out(*image_, plans);
  open_and_load();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(search_by_time(at(10, 0, 4)), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "time attribute=0\ntime attribute=99\n");
  EXPECT_EQ(position().segment, 2);
}

TEST_F(TimeSearchTest, AttributeAcrossBlocksFindsTheBlock) {
  make_image();
  std::vector<RecordingPlan> plans(1);
  plans[0].attribute = 1;
  plans[0].start = stamp(10, 0, 0);
  plans[0].segments = 6;
  plans[0].first_slot = 24997;  // block 0 slots 24997..24999, block 1 slots 0..2
  disk_ = lay_out(*image_, plans);
  open_and_load();
  check_rows({
      {"in the first block", at(10, 0, 1), 1, 0, 24997, 1},
      {"in the second block", at(10, 0, 9), 1, 1, 1, 1},
  });
}

TEST_F(TimeSearchTest, SearchPlayExport) {
  three_recordings();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(search_play(static_cast<int>(stamp_number(stamp(10, 1, 3)))), 1);
  EXPECT_EQ(position().segment, 104);
  EXPECT_EQ(read_cursor(), 1) << "the cursor follows the found chunk";
  EXPECT_EQ(search_play(static_cast<int>(stamp_number(stamp(12, 0, 0)))), 2);
  EXPECT_EQ(position().segment, 107) << "the newest segment";
  EXPECT_EQ(position().chunk, 1) << "its last chunk";
  EXPECT_EQ(read_cursor(), 1);
  EXPECT_EQ(search_play(static_cast<int>(stamp_number(stamp(8, 0, 0)))), 1) << "before everything";
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(position().segment, 100);
}

TEST_F(TimeSearchTest, BadSegmentEntryIsReadFromAnotherCopy) {
  three_recordings();
  // Slot 101 is bad in the copy read first (copy 2) but not in copy 1.
  image_->xor_byte(IndexImage::segment_offset(2, 0, 101) + 3, 0x01);
  check_rows({{"found through the reread", at(10, 0, 3), 1, 0, 101, 1}});
  // Bad in every copy: passed over; the scan still ends in the right segment.
  for (int c = 0; c < 3; ++c) image_->xor_byte(IndexImage::segment_offset(c, 0, 104) + 3, 0x01);
  check_rows({{"entry bad everywhere", at(10, 1, 4), 1, 0, 105, 0}});
}

}  // namespace
}  // namespace virazav::testing
