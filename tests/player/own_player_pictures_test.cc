// The library's own player showing recorded pictures for real, through the
// exports an application calls: the disk and file feeders play a media disk
// image of the simulated recorder and its copy pair, and the snapshots and
// channel pictures are told apart by the channel number and frame counter
// drawn into every recorded picture and compared with it by PSNR.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media_disk.h"
#include "player/own/player_state.h"
#include "player/player_library.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

constexpr int kDrive = 6;
constexpr int kSeconds = 16;

// The latest picture of player channel `channel`, as get_bmp hands it back.
ShownPicture channel_picture(int channel) {
  ShownPicture p;
  std::vector<uint8_t> buffer(704 * 576 * 3);
  get_bmp(channel, buffer.data(), &p.width, &p.height);
  if (p.width > 0 && p.height > 0) {
    buffer.resize(static_cast<size_t>(p.width) * p.height * 3);
    p.bgr = std::move(buffer);
  }
  return p;
}

ShownPicture upside_down(const ShownPicture& p) {
  ShownPicture f = p;
  const size_t row = static_cast<size_t>(p.width) * 3;
  for (int r = 0; r < p.height; ++r) {
    std::copy(p.bgr.begin() + static_cast<std::ptrdiff_t>(row * r),
              p.bgr.begin() + static_cast<std::ptrdiff_t>(row * (r + 1)),
              f.bgr.begin() + static_cast<std::ptrdiff_t>(row * (p.height - 1 - r)));
  }
  return f;
}

class OwnPlayerPictures : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = std::make_unique<MediaDisk>(cwd_.path(), kDrive, kSeconds, channels());
    ASSERT_TRUE(disk_->ok());
    player::set_player_library(nullptr);
    ASSERT_EQ(Zel_play_open(0, 0, 0, 0), 0);
  }
  void TearDown() override {
    hdd_play_stop();
    end_feeders();
    play_end();
    set_make_bmp_mode(0);
  }
  virtual int channels() const { return 4; }

  uint32_t at(int second) const { return disk_->start_time() + static_cast<uint32_t>(second); }

  // Runs one single-frame control and waits until its block's key pictures
  // (one a channel shown) are on screen.
  void one_frame(int (*control)(), int pictures = 4) {
    const uint64_t before = player::own::pictures_shown();
    ASSERT_EQ(control(), 0);
    ASSERT_TRUE(wait_until([&] { return player::own::pictures_shown() >= before + pictures; }))
        << "no picture shown";
    // The feeder sets the mode back to 0 after its block.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }

  // Checks that player channel `pc` shows recorder channel `rc` and returns
  // the frame it shows.
  int64_t expect_channel(const ShownPicture& shown, int rc, const std::string& what) {
    EXPECT_EQ(shown.height, kMediaHeight) << what;
    const Identified id = identify(shown);
    EXPECT_EQ(id.channel, rc) << what;
    EXPECT_GE(id.psnr, kShownPsnr) << what << " frame " << id.frame;
    return id.frame;
  }

  TempCwd cwd_;
  std::unique_ptr<MediaDisk> disk_;
};

TEST_F(OwnPlayerPictures, DiskPlay_QuadSnapshot_EachQuarterHoldsItsChannelsPicture) {
  ASSERT_EQ(search_play(static_cast<int>(at(2))), 1);
  ASSERT_EQ(hdd_read_start(), 0);
  ASSERT_EQ(hdd_play_start(), 0);
  ASSERT_TRUE(wait_until([] {
    for (int c = 1; c <= 4; ++c) {
      if (channel_picture(c).width == 0) return false;
    }
    return true;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int layout = 0, first = 0, second = 0, status = -1;
  ASSERT_EQ(make_bmp(&layout, &first, &second, nullptr, &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(layout, 4);
  for (int c = 1; c <= 4; ++c) {
    const std::string path = "bmp" + std::to_string(c) + ".bmp";
    ShownPicture shown;
    ASSERT_TRUE(read_bitmap(path, &shown)) << path;
    EXPECT_EQ(shown.width, kMediaWidth) << path;
    const int64_t frame = expect_channel(shown, c - 1, path);
    EXPECT_GE(frame, 2 * kMediaFps) << path;
    // The figure tells a mixed-up channel and a mixed-up row order apart.
    EXPECT_LT(psnr_against(shown, c % 4, frame), kShownPsnr) << path;
    EXPECT_LT(psnr_against(upside_down(shown), c - 1, frame), kShownPsnr) << path;
  }
}

TEST_F(OwnPlayerPictures, DiskPlay_PicturesFollowTheirTimeStamps) {
  ASSERT_EQ(search_play(static_cast<int>(at(1))), 1);
  ASSERT_EQ(hdd_read_start(), 0);
  ASSERT_EQ(hdd_play_start(), 0);
  ASSERT_TRUE(wait_until([] { return identify(channel_picture(1)).frame >= 0; }));
  const auto t0 = std::chrono::steady_clock::now();
  const int64_t f0 = identify(channel_picture(1)).frame;
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  const int64_t f1 = identify(channel_picture(1)).frame;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // Every picture decoded at its own time: about kMediaFps pictures a second,
  // neither all at once nor stalled.
  const double expected = seconds * kMediaFps;
  EXPECT_NEAR(static_cast<double>(f1 - f0), expected, 3.0) << f0 << " -> " << f1;
}

TEST_F(OwnPlayerPictures, ViewerModes_TwoPicturesAndSinglePictureInBothSnapshotModes) {
  ASSERT_EQ(search_play(static_cast<int>(at(3))), 1);
  ASSERT_EQ(hdd_read_start(), 0);
  one_frame(hdd_one_play);
  const int64_t key = 3 * kMediaFps;

  // b = 6: first = 1 + (6 & 3) = 3, second = 1 + ((6 >> 2) & 3) = 2.
  ASSERT_EQ(Zel_set_viewer_mode(5, 6), 0);
  int layout = 0, first = 0, second = 0;
  ASSERT_EQ(make_bmp_one(&layout, &first, &second, nullptr), 0);
  EXPECT_EQ(layout, 2);
  EXPECT_EQ(first, 3);
  EXPECT_EQ(second, 2);
  ShownPicture shown;
  ASSERT_TRUE(read_bitmap("bmp3.bmp", &shown));
  EXPECT_EQ(shown.width, 704);
  EXPECT_EQ(expect_channel(shown, 2, "layout 2 first"), key);
  ASSERT_TRUE(read_bitmap("bmp2.bmp", &shown));
  EXPECT_EQ(shown.width, 704);
  EXPECT_EQ(expect_channel(shown, 1, "layout 2 second"), key);

  ASSERT_EQ(Zel_set_viewer_mode(4, 0), 0);
  ASSERT_EQ(make_bmp_one(&layout, &first, &second, nullptr), 0);
  EXPECT_EQ(layout, 1);
  EXPECT_EQ(first, 4);
  ASSERT_TRUE(read_bitmap("bmp4.bmp", &shown));
  EXPECT_EQ(shown.width, 704);
  EXPECT_EQ(expect_channel(shown, 3, "layout 1"), key);

  // Snapshot mode 1 takes the single picture from the composite's first
  // 253,440 bytes: the same picture at 352 x 240. make_bmp writes it only
  // while a feeder plays, so play on.
  ASSERT_EQ(set_make_bmp_mode(1), 0);
  ASSERT_EQ(Zel_set_viewer_mode(1, 0), 0);
  ASSERT_EQ(hdd_play_start(), 0);
  int status = -1;
  ASSERT_EQ(make_bmp(&layout, &first, &second, nullptr, &status), 0);
  EXPECT_EQ(status, 0);
  ASSERT_TRUE(read_bitmap("bmp1.bmp", &shown));
  EXPECT_EQ(shown.width, kMediaWidth);
  EXPECT_GE(expect_channel(shown, 0, "layout 1, snapshot mode 1"), key);
}

TEST_F(OwnPlayerPictures, SingleFrame_ForwardShowsConsecutiveKeyPicturesAndBackAnEarlierOne) {
  ASSERT_EQ(search_play(static_cast<int>(at(5))), 1);
  ASSERT_EQ(hdd_read_start(), 0);
  one_frame(hdd_one_play);
  std::vector<int64_t> first(5);
  for (int c = 1; c <= 4; ++c) {
    first[c] =
        expect_channel(channel_picture(c), c - 1, "first frame, channel " + std::to_string(c));
    EXPECT_EQ(first[c] % kMediaFps, 0) << "a key picture begins each second";
    EXPECT_EQ(first[c], first[1]);
  }
  one_frame(hdd_one_play);
  for (int c = 1; c <= 4; ++c) {
    EXPECT_EQ(expect_channel(channel_picture(c), c - 1, "next frame"), first[1] + kMediaFps);
  }
  // Back reads from where the forward reads left the cursor; each further
  // step back shows the key picture a second earlier.
  one_frame(hdd_one_back);
  const int64_t back = expect_channel(channel_picture(1), 0, "frame back");
  EXPECT_EQ(back % kMediaFps, 0);
  one_frame(hdd_one_back);
  EXPECT_EQ(expect_channel(channel_picture(1), 0, "frame back again"), back - kMediaFps);
  EXPECT_EQ(get_dec_sts(), 0);
}

TEST_F(OwnPlayerPictures, ReversePlay_ShowsEarlierAndEarlierKeyPictures) {
  ASSERT_EQ(search_play(static_cast<int>(at(10))), 1);
  ASSERT_EQ(hdd_read_start(), 0);
  ASSERT_EQ(hdd_play_back(3), 0);
  std::vector<int64_t> seen;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (std::chrono::steady_clock::now() < until) {
    const int64_t f = identify(channel_picture(1)).frame;
    if (f >= 0 && (seen.empty() || seen.back() != f)) seen.push_back(f);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_GE(seen.size(), 3u);
  for (size_t i = 1; i < seen.size(); ++i) {
    EXPECT_LT(seen[i], seen[i - 1]) << "picture " << i;
    EXPECT_EQ(seen[i] % kMediaFps, 0) << "fast play shows key pictures only";
  }
  EXPECT_LE(seen.front(), 10 * kMediaFps);
}

TEST_F(OwnPlayerPictures, FilePlay_CopyPairShowsItsChannelsAndSearchLandsOnThatSecond) {
  ASSERT_EQ(playfile(disk_->data_path().c_str(), disk_->index_path().c_str(), 0), 0);
  ASSERT_EQ(file_play_start(), 0);
  ASSERT_TRUE(wait_until([] { return channel_picture(4).width > 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int layout = 0, first = 0, second = 0, status = -1;
  ASSERT_EQ(make_bmp(&layout, &first, &second, nullptr, &status), 0);
  ASSERT_EQ(status, 0);
  for (int c = 1; c <= 4; ++c) {
    ShownPicture shown;
    ASSERT_TRUE(read_bitmap("bmp" + std::to_string(c) + ".bmp", &shown));
    expect_channel(shown, c - 1, "file play, channel " + std::to_string(c));
  }
  ASSERT_EQ(file_search(static_cast<int>(at(7))), 0);
  one_frame(file_one_play);
  EXPECT_EQ(expect_channel(channel_picture(2), 1, "after file_search"), 7 * kMediaFps);
}

TEST_F(OwnPlayerPictures, OneFrameView_AFileOfOneChunkShowsItsKeyPictures) {
  const std::vector<uint8_t>& packets = disk_->chunks().at(4).packets;
  ASSERT_TRUE(write_file("chunk.dat", packets));
  const uint64_t before = player::own::pictures_shown();
  ASSERT_EQ(one_farme_view("chunk.dat", 0), 0);
  ASSERT_TRUE(wait_until([&] { return player::own::pictures_shown() >= before + 4; }));
  // Normal play paces the rest of the second; the key pictures come first.
  for (int c = 1; c <= 4; ++c) {
    EXPECT_GE(expect_channel(channel_picture(c), c - 1, "one_farme_view"), 4 * kMediaFps);
  }
  EXPECT_EQ(get_dec_sts(), 0);
}

class OwnPlayerGroups : public OwnPlayerPictures {
 protected:
  int channels() const override { return 8; }
};

TEST_F(OwnPlayerGroups, ChannelGroupOne_ShowsRecorderChannelsFourToSeven) {
  ASSERT_EQ(Zel_set_viewer_mode(6, 1), 0);
  EXPECT_EQ(Zel_set_viewer_mode(6, 4), -2);
  ASSERT_EQ(search_play(static_cast<int>(at(2))), 1);
  ASSERT_EQ(hdd_read_start(), 0);
  one_frame(hdd_one_play);
  for (int c = 1; c <= 4; ++c) {
    EXPECT_EQ(expect_channel(channel_picture(c), 3 + c, "group 1"), 2 * kMediaFps);
  }
  // Back to group 0: black until the next key pictures, then channels 0..3.
  ASSERT_EQ(Zel_set_viewer_mode(6, 0), 0);
  EXPECT_EQ(channel_picture(1).width, 0);
  one_frame(hdd_one_play);
  EXPECT_EQ(expect_channel(channel_picture(1), 0, "group 0"), 3 * kMediaFps);
}

}  // namespace
}  // namespace virazav::testing
