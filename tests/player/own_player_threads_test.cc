// The own player with everything at once (the suite runs under the thread
// sanitizer too): the disk feeder and the file feeder playing media, their
// controls switching between normal, fast and single-frame play, snapshots,
// channel pictures and viewer modes from other threads; afterwards the player
// stops when asked and still shows pictures that are whole.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media_disk.h"
#include "player/own/player_state.h"
#include "player/player_library.h"
#include "support/recorder_fixture.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

constexpr int kRunMs = 1500;

TEST(OwnPlayerThreads, FeedersControlsSnapshotsAndViewerModesTogether) {
  TempCwd cwd;
  MediaDisk disk(cwd.path(), 2, 12);
  ASSERT_TRUE(disk.ok());
  player::set_player_library(nullptr);
  ASSERT_EQ(Zel_play_open(0, 0, 0, 0), 0);
  ASSERT_EQ(search_play(static_cast<int>(disk.start_time() + 1)), 1);
  ASSERT_EQ(hdd_read_start(), 0);
  ASSERT_EQ(playfile(disk.data_path().c_str(), disk.index_path().c_str(), 0), 0);
  ASSERT_EQ(hdd_play_start(), 0);
  ASSERT_EQ(file_play_start(), 0);

  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {  // the controls
    int (*const disk_controls[])() = {hdd_play_start, hdd_one_play, hdd_one_back};
    for (int i = 0; !stop.load(); ++i) {
      if (i % 4 == 3) {
        hdd_play_forward(1 + i % 6);
      } else {
        disk_controls[i % 3]();
      }
      file_play_forward(2);
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      file_play_start();
    }
  });
  threads.emplace_back([&] {  // snapshots
    while (!stop.load()) {
      int layout = 0, first = 0, second = 0;
      make_bmp_one(&layout, &first, &second, nullptr);
      EXPECT_TRUE(layout == 1 || layout == 2 || layout == 4) << layout;
    }
  });
  threads.emplace_back([&] {  // channel pictures, status and viewer modes
    std::vector<uint8_t> buffer(704 * 576 * 3);
    for (int i = 0; !stop.load(); ++i) {
      int w = 0, h = 0;
      get_bmp(1 + i % 4, buffer.data(), &w, &h);
      EXPECT_TRUE((w == 0 && h == 0) || (w == kMediaWidth && h == kMediaHeight)) << w << "x" << h;
      Zel_set_viewer_mode(i % 8, i % 5);
      get_dec_sts();
      if (i % 50 == 0) set_init_dec();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(kRunMs));
  stop.store(true);
  for (std::thread& t : threads) t.join();

  // Settled again, single frame forward shows the key pictures of that second.
  ASSERT_EQ(file_play_stop(), 0);
  ASSERT_EQ(hdd_play_stop(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // Opening again drops what the feeders queued and sets the quad view of group 0.
  ASSERT_EQ(Zel_play_open(0, 0, 0, 0), 0);
  ASSERT_EQ(search_play(static_cast<int>(disk.start_time() + 2)), 1);
  const uint64_t before = player::own::pictures_shown();
  ASSERT_EQ(hdd_one_play(), 0);
  for (int i = 0; i < 500 && player::own::pictures_shown() < before + 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int layout = 0, first = 0, second = 0;
  ASSERT_EQ(make_bmp_one(&layout, &first, &second, nullptr), 0);
  ASSERT_EQ(layout, 4);
  for (int c = 1; c <= 4; ++c) {
    ShownPicture shown;
    ASSERT_TRUE(read_bitmap("bmp" + std::to_string(c) + ".bmp", &shown));
    const Identified id = identify(shown);
    EXPECT_EQ(id.channel, c - 1);
    EXPECT_EQ(id.frame, 2 * kMediaFps);
    EXPECT_GE(id.psnr, kShownPsnr);
  }
  EXPECT_EQ(get_dec_sts(), 0) << "whole chunks only: nothing failed to decode";

  EXPECT_EQ(hdd_read_stop(), 0);
  EXPECT_EQ(file_read_stop(), 0);
  end_feeders();
  EXPECT_EQ(play_end(), 0);
  // Stopped, the player takes nothing.
  const uint8_t block[64] = {};
  EXPECT_EQ(player::own_player().add_ring(0, block, 64, 0, 0), 1);
}

}  // namespace
}  // namespace virazav::testing
