// The disk player's index-only exports: the recorded range, the recording and
// alarm lists with their index guards, and the play mode words under the
// "PLAYMODE" lock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"
#include "player/play_mode.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

class DiskIndexExportsTest : public DiskImageTest {
 protected:
  void lay(int first_recording_slot = 0) {
    make_image();
    std::vector<RecordingPlan> plans(3);
    for (int i = 0; i < 3; ++i) {
      plans[i].attribute = 1;
      plans[i].start.minute = i;
      plans[i].kind = 0x40 + i;
    }
    plans[0].first_slot = 25000 - 4;  // across blocks 0 and 1
    disk_ = lay_out(*image_, plans, first_recording_slot);
  }
  LaidDisk disk_;
};

TEST_F(DiskIndexExportsTest, RecordedRange) {
  lay();
  uint32_t start = 7, end = 7;
  EXPECT_EQ(read_start_end_sec(&start, &end), -1) << "no drive open";
  EXPECT_EQ(start, 7u);
  open_and_load();
  ASSERT_EQ(read_start_end_sec(&start, &end), 0);
  EXPECT_EQ(start, stamp_number(disk_.segments.front().time));
  EXPECT_EQ(end, stamp_number(disk_.segments.back().time)) << "the newest block's last segment";
  EXPECT_EQ(read_start_end_sec(nullptr, nullptr), 0);

  // Every copy's block table damaged: the load fails.
  for (int c = 0; c < 3; ++c) image_->xor_byte(IndexImage::control_offset(c, Table::kBlocks), 0x01);
  EXPECT_EQ(read_start_end_sec(&start, &end), -1);
}

TEST_F(DiskIndexExportsTest, RecordingListAroundTheRingEnd) {
  lay(999);
  open_and_load();
  uint16_t count = 0, oldest = 0;
  ASSERT_EQ(get_rec_list(&count, &oldest), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(oldest, 999);
  for (int k = 0; k < count; ++k) {
    const int index = (oldest + k) % 1000;
    uint32_t start = 0, end = 0, kind = 0;
    ASSERT_EQ(get_list_start_end_sec(index, &start, &end, &kind), 0) << k;
    EXPECT_EQ(start, stamp_number(disk_.recordings[k].start)) << k;
    EXPECT_EQ(end, stamp_number(disk_.recordings[k].end)) << k;
    EXPECT_EQ(kind, 0x40u + k) << k;
  }
  uint32_t untouched = 5;
  EXPECT_EQ(get_list_start_end_sec(1000, &untouched, &untouched, &untouched), -1);
  EXPECT_EQ(get_list_start_end_sec(-1, &untouched, nullptr, nullptr), -1);
  EXPECT_EQ(untouched, 5u);
}

TEST_F(DiskIndexExportsTest, EmptyListsAndAlarms) {
  make_image();
  open_and_load();
  uint16_t count = 9, oldest = 9;
  EXPECT_EQ(get_rec_list(&count, &oldest), 0);
  EXPECT_EQ(count, 0);
  uint8_t alarms = 9, first = 9;
  EXPECT_EQ(get_alarm_list(&alarms, &first), 0);
  EXPECT_EQ(alarms, 0);

  Stamp a, b;
  a.hour = 8;
  b.hour = 9;
  image_->alarm(-1, 49, a, b);
  image_->alarm(-1, 0, b, b);
  image_->control(-1, Table::kAlarms, 2, 49, 0);
  ASSERT_EQ(recdisk::first_section_play(), 0);
  ASSERT_EQ(get_alarm_list(&alarms, &first), 0);
  EXPECT_EQ(alarms, 2);
  EXPECT_EQ(first, 49);
  uint32_t start = 0, end = 0;
  ASSERT_EQ(get_alarm_info(49, &start, &end), 0);
  EXPECT_EQ(start, stamp_number(a));
  EXPECT_EQ(end, stamp_number(b));
  EXPECT_EQ(get_alarm_info(50, &start, &end), -1);
}

TEST(PlayModeWords, WritesWaitForThePlaymodeLock) {
  player::set_disk_mode(player::kModeStop);
  std::atomic<bool> written{false};
  platform::NamedMutex& lock = player::playmode_mutex();
  lock.lock();
  std::thread writer([&] {
    player::set_disk_mode(player::kModeForward);
    written = true;
  });
  platform::sleep_ms(50);
  EXPECT_FALSE(written.load()) << "the write waits while another holder has the lock";
  EXPECT_EQ(player::disk_mode(), player::kModeStop);
  lock.unlock();
  writer.join();
  EXPECT_TRUE(written.load());
  EXPECT_EQ(player::disk_mode(), player::kModeForward);

  player::set_mode_and_speed(&player::disk_mode_word(), player::kModeBack, 5);
  EXPECT_EQ(player::disk_mode(), player::kModeBack);
  EXPECT_EQ(player::play_speed(), 5);
  player::set_disk_mode(player::kModeStop);
}

}  // namespace
}  // namespace virazav::testing
