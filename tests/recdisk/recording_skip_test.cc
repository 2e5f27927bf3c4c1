// Skipping between recordings: back to a recording's start and to the one
// before, forwards to the next, the ends of the list, the skip-again flag and
// recordings that start with nothing to play.
#include <gtest/gtest.h>

#include <string>

#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using namespace virazav::recdisk;

class RecordingSkipTest : public DiskImageTest {
 protected:
  // Three recordings of three segments: slots 0..2, 3..5 and (rec 2) 6..8 or,
  // with rec2_block, slots 5..7 of block 1.
  void lay(int flagged = -1, int unplayable_start = -1, bool rec2_block = false) {
    make_image();
    std::vector<RecordingPlan> plans(3);
    for (int i = 0; i < 3; ++i) {
      plans[i].attribute = 1;
      plans[i].start.minute = i;
      if (i == flagged) plans[i].skip_again = 1;
      if (i == unplayable_start) plans[i].unplayable = {0};
    }
    plans[0].first_slot = 0;
    if (rec2_block) plans[2].first_slot = 25000 + 5;
    disk_ = lay_out(*image_, plans);
    open_and_load();
  }
  // Places the position in recording r's second segment, chunk 1.
  void inside(int r) {
    const LaidSegment& s = disk_.segments[r * 3 + 1];
    position().block = s.block;
    position().segment = s.segment;
    position().chunk = 1;
    position().recording = 0;
    load_record_index(LoadMode::kKeep);
  }
  void expect_at_start(int r, const char* what) {
    const LaidSegment& s = disk_.segments[r * 3];
    EXPECT_EQ(position().block, s.block) << what;
    EXPECT_EQ(position().segment, s.segment) << what;
    EXPECT_EQ(position().chunk, 0) << what;
    EXPECT_EQ(position().recording, r) << what;
  }
  LaidDisk disk_;
};

TEST_F(RecordingSkipTest, FindRecordingHoldsThePosition) {
  lay();
  struct Row {
    int hint, block, segment, expected;
  };
  const Row rows[] = {{2, 0, 4, 1}, {1, 0, 4, 1},  {0, 0, 8, 2},
                      {0, 0, 0, 0}, {0, 0, 30, 0}, {5, 3, 0, 0}};
  ::testing::internal::CaptureStdout();
  for (const Row& row : rows) {
    EXPECT_EQ(find_recording(row.hint, row.block, row.segment), row.expected)
        << row.hint << " " << row.block << "/" << row.segment;
  }
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(0, 30), "rec_start_num[R_PLAY_FLAG]=1\nr");
}

TEST_F(RecordingSkipTest, BackToStartThenToThePreviousRecording) {
  lay();
  inside(1);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(skip_back(), 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  expect_at_start(1, "first skip back: start of the recording");
  EXPECT_NE(out.find("SKIP BACK 0 4 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("PLAY SKIP 0 ret 1("), std::string::npos) << out;
  EXPECT_EQ(read_cursor(), 0);

  ::testing::internal::CaptureStdout();
  skip_back();
  expect_at_start(0, "second skip back: the previous recording");
  EXPECT_EQ(skip_recording(0), kNoFurtherRecording) << "at the oldest";
  ::testing::internal::GetCapturedStdout();
  expect_at_start(0, "stays at the oldest");
}

TEST_F(RecordingSkipTest, ForwardToTheNewestAndNoFurther) {
  lay(-1, -1, true);
  ::testing::internal::CaptureStdout();
  skip_foward();
  expect_at_start(1, "next");
  skip_foward();
  expect_at_start(2, "next, in another block");
  EXPECT_EQ(segment_table_block(), 1);
  EXPECT_EQ(skip_recording(1), kNoFurtherRecording);
  inside(2);
  position().recording = 2;
  EXPECT_EQ(skip_recording(1), kNoFurtherRecording) << "inside the newest: nothing further";
  ::testing::internal::GetCapturedStdout();
}

TEST_F(RecordingSkipTest, SkipAgainFlagPassesOverARecording) {
  lay(1);
  ::testing::internal::CaptureStdout();
  skip_foward();
  expect_at_start(2, "forward over the flagged recording 1");
  skip_back();
  expect_at_start(0, "back over it again");
  ::testing::internal::GetCapturedStdout();
}

TEST_F(RecordingSkipTest, ForwardFromAFlaggedNewestRecordingGoesBack) {
  lay(2);
  ::testing::internal::CaptureStdout();
  position().block = 0, position().segment = 6, position().chunk = 0, position().recording = 2;
  EXPECT_EQ(skip_with_repeat(1, 3), kNoFurtherRecording) << "the first result";
  ::testing::internal::GetCapturedStdout();
  expect_at_start(1, "one backward skip to the unflagged recording");
}

TEST_F(RecordingSkipTest, RecordingWithoutPlayableStartIsSkippedAsWell) {
  lay(-1, 1);
  ::testing::internal::CaptureStdout();
  skip_foward();
  ::testing::internal::GetCapturedStdout();
  expect_at_start(2, "recording 1 starts with nothing to play");
}

TEST_F(RecordingSkipTest, UnreadableTargetBlockKeepsThePreviousBlock) {
  lay(-1, -1, true);
  // Block 1's table fails its sparse check in every copy.
  for (int c = 0; c < 3; ++c) image_->xor_byte(IndexImage::segment_offset(c, 1, 5) + 2, 0x40);
  position().recording = 1;
  position().block = 0, position().segment = 3, position().chunk = 0;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(skip_recording(1), 0);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(position().block, 0);
  EXPECT_EQ(segment_table_block(), 0);
}

TEST_F(RecordingSkipTest, EmptyBlockTable) {
  make_image();
  open_and_load();
  EXPECT_EQ(skip_recording(1), kNoBlocks);
  EXPECT_EQ(skip_recording(0), kNoBlocks);
  EXPECT_EQ(walk_forward(), kNoBlocks);
  EXPECT_EQ(walk_back(), kNoBlocks);
  EXPECT_EQ(skip_foward(), 0);
}

TEST_F(RecordingSkipTest, WalkOutsideTheRange) {
  lay();
  position().block = 7;
  EXPECT_EQ(walk_forward(), kOutsideRange);
  EXPECT_EQ(walk_back(), kOutsideRange);
}

}  // namespace
}  // namespace virazav::testing
