// The playback engine's cycles on a clock of the test's own (no thread, no
// real waiting), over a recording of the simulated recorder downloaded
// through the library: which pictures each mode shows, in which order and at
// which times, the lateness skips with the all-channels catch-up, the
// one-second-late rule, held packets and the ends of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "dlplayer/dataset_state.h"
#include "dlplayer/dlplayer.h"
#include "engine_harness.h"
#include "platform/platform.h"
#include "recorded_stream.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

namespace dd = dlplayer::detail;

constexpr int kSeconds = 8;
constexpr int kFps = 10;

class EngineTest : public RecordedSuite {
 protected:
  // Four cameras with sound on audio channels 0 and 1, one key frame a second.
  static void SetUpTestSuite() { download(small_recording(0x000F, 0x0003, kFps), kSeconds); }
  void SetUp() override {
    ASSERT_EQ(decode_init(), 0);
    ASSERT_EQ(h_.open(s().path, s().dir), fs_size());
  }
  void TearDown() override {
    h_.close();
    decode_deinit();
  }
  static unsigned fs_size() { return static_cast<unsigned>(read_file(s().path).size()); }

  // Sets a mode and runs until the engine has left it (or the cycles run out).
  void play_until_stopped(int mode, int max_cycles = 200000) {
    ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(mode), 0);
    EXPECT_TRUE(h_.run_until([] { return Mpeg4DLdata_get_m_nPlayMode() == 1; }, max_cycles))
        << "mode " << mode << " did not end";
  }
  // The pictures shown since `from`, as (channel, frame) pairs.
  std::vector<std::pair<int, int64_t>> frames(size_t from = 0) const {
    std::vector<std::pair<int, int64_t>> out;
    for (size_t i = from; i < h_.shown.size(); ++i) {
      out.emplace_back(h_.shown[i].channel, s().frame_of(h_.shown[i].pts));
    }
    return out;
  }

  // Normal play of `display` from the start until picture `frame` is shown.
  void play_to_frame(int display, int64_t frame) {
    Mpeg4DLdata_set_disptype(display);
    Mpeg4DLdata_set_PlayPos(10, 0);
    ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
    ASSERT_TRUE(h_.run_until([&] { return !frames().empty() && frames().back().second == frame; }));
  }

  EngineHarness h_;
};

// The stamp a packet's player reads (its DTS) rewritten.
void set_dts(uint8_t* packet, uint32_t dts) {
  uint8_t* p = packet + 14;
  const uint64_t v = dts;
  p[0] = static_cast<uint8_t>(0x11 | ((v >> 29) & 0x0E));
  p[1] = static_cast<uint8_t>(v >> 22);
  p[2] = static_cast<uint8_t>(((v >> 14) & 0xFE) | 1);
  p[3] = static_cast<uint8_t>(v >> 7);
  p[4] = static_cast<uint8_t>(((v << 1) & 0xFE) | 1);
}

// A copy of the recording in a folder of its own, for damaged variants.
struct Variant {
  std::string dir;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> index;
  bool write() const {
    platform::make_directory(dir);
    return write_file(dir + "/rec.mpg", bytes) && write_file(dir + "/.index", index);
  }
};

TEST_F(EngineTest, NormalPlayOfOneChannel_ShowsEveryPictureInOrderAtItsTime) {
  Mpeg4DLdata_set_disptype(2);
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(10, 0), 2);
  play_until_stopped(0);
  std::vector<int64_t> shown;
  uint32_t first_ms = 0, first_pts = 0;
  for (const dd::ShownPicture& p : h_.shown) {
    if (p.channel != 2) continue;
    EXPECT_TRUE(p.decoded) << "frame " << s().frame_of(p.pts);
    if (shown.empty()) first_ms = p.shown_ms, first_pts = p.pts;
    // Every picture at its time stamp's distance from the first, to the ms.
    EXPECT_EQ(p.shown_ms - first_ms, (p.pts - first_pts) / 90) << "frame " << s().frame_of(p.pts);
    EXPECT_EQ(p.shown_ms, p.due_ms);
    shown.push_back(s().frame_of(p.pts));
  }
  ASSERT_EQ(shown.size(), static_cast<size_t>(kSeconds * kFps));
  for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], static_cast<int64_t>(i));
  EXPECT_GE(Mpeg4DLdata_get_PlayPos(10), 10);
}

TEST_F(EngineTest, NormalPlayOfAllChannels_ShowsTheKeyFramesOfEveryChannelPacedByTheMaster) {
  Mpeg4DLdata_set_disptype(-1);
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(10, 0), 0);
  play_until_stopped(0);
  std::map<std::pair<int, int64_t>, uint32_t> when;
  auto at = [&](int c, int sec) { return when[std::make_pair(c, int64_t{sec * kFps})]; };
  std::vector<std::pair<int, int64_t>> order = frames();
  for (const dd::ShownPicture& p : h_.shown) {
    EXPECT_TRUE(p.key) << "only pictures with a sequence header";
    when[{p.channel, s().frame_of(p.pts)}] = p.shown_ms;
  }
  // Every channel's key frame of every second, second by second, in file order.
  ASSERT_EQ(order.size(), 4u * kSeconds);
  for (int sec = 0; sec < kSeconds; ++sec) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(order[static_cast<size_t>(sec * 4 + c)], std::make_pair(c, int64_t{sec * kFps}));
    }
  }
  // Channel 0 (the first packet's) paces: a second apart; the others follow it at once.
  for (int sec = 1; sec < kSeconds; ++sec) {
    EXPECT_EQ(at(0, sec) - at(0, sec - 1), 1000u) << "second " << sec;
    for (int c = 1; c < 4; ++c) EXPECT_LE(at(c, sec) - at(0, sec), 20u) << c << " " << sec;
  }
}

TEST_F(EngineTest, FastAndBackwardModes_ShowTheKeyFramesOfTheChannelAtTheirSpeed) {
  struct Row {
    const char* name;
    int mode;
    int start_parts;  // Mpeg4DLdata_set_PlayPos(10, start_parts)
    bool ascending;
    uint32_t apart_ms;
  } rows[] = {
      {"fast forward", 7, 0, true, 500},
      {"backward", 3, 10, false, 1000},
      {"fast backward", 4, 10, false, 500},
  };
  for (const Row& r : rows) {
    h_.shown.clear();
    Mpeg4DLdata_set_m_nPlayMode(1);
    Mpeg4DLdata_set_disptype(1);
    Mpeg4DLdata_set_PlayPos(10, r.start_parts);
    play_until_stopped(r.mode);
    std::vector<int64_t> seen;
    std::vector<uint32_t> at;
    for (const dd::ShownPicture& p : h_.shown) {
      if (p.channel != 1) continue;
      EXPECT_TRUE(p.key) << r.name;
      seen.push_back(s().frame_of(p.pts));
      at.push_back(p.shown_ms);
    }
    ASSERT_EQ(seen.size(), static_cast<size_t>(kSeconds)) << r.name;
    for (int i = 0; i < kSeconds; ++i) {
      const int64_t want = r.ascending ? i * kFps : (kSeconds - 1 - i) * kFps;
      EXPECT_EQ(seen[static_cast<size_t>(i)], want) << r.name << " picture " << i;
      if (i > 0) {
        EXPECT_EQ(at[static_cast<size_t>(i)] - at[static_cast<size_t>(i - 1)], r.apart_ms);
      }
    }
    // The end (forward) or the start (backward) stops play.
    EXPECT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 1) << r.name;
    EXPECT_EQ(Mpeg4DLdata_get_PlayPos(10), r.ascending ? 10 : 0) << r.name;
  }
}

TEST_F(EngineTest, SingleSteps_ShowOneKeyFrameEachWayAndStop) {
  Mpeg4DLdata_set_disptype(1);
  Mpeg4DLdata_set_PlayPos(10, 0);
  struct Step {
    int mode;
    int64_t frame;
  } steps[] = {{6, 0}, {6, 10}, {6, 20}, {5, 10}, {5, 0}, {6, 10}, {6, 20}, {6, 30}, {5, 20}};
  for (const Step& st : steps) {
    h_.shown.clear();
    play_until_stopped(st.mode, 10000);
    ASSERT_EQ(h_.shown.size(), 1u) << "mode " << st.mode << " to frame " << st.frame;
    EXPECT_EQ(h_.shown[0].channel, 1);
    EXPECT_EQ(s().frame_of(h_.shown[0].pts), st.frame) << "mode " << st.mode;
    // The picture handed out shows that frame of that camera.
    ASSERT_EQ(Mpeg4DLdata_filelock(1), 1);
    sim::Picture pic;
    ASSERT_TRUE(read_bitmap_picture("1.bmp", 144, &pic));
    EXPECT_EQ(sim::read_channel_number(pic), 1);
    EXPECT_EQ(sim::read_frame_counter(pic), st.frame);
    Mpeg4DLdata_fileunlock(1);
    // Stopped, nothing more is shown.
    h_.run_for(3000);
    EXPECT_EQ(h_.shown.size(), 1u);
  }
}

TEST_F(EngineTest, NormalPlayAfterAStepBack_GoesOnFromTheKeyFrameShown) {
  Mpeg4DLdata_set_disptype(3);
  Mpeg4DLdata_set_PlayPos(10, 0);
  for (int mode : {6, 6, 6, 5}) play_until_stopped(mode, 10000);
  ASSERT_EQ(frames().back(), std::make_pair(3, int64_t{10}));
  h_.shown.clear();
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
  h_.run_until([&] { return h_.shown.size() >= 12; });
  auto after = frames();
  ASSERT_GE(after.size(), 12u);
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i], std::make_pair(3, static_cast<int64_t>(10 + i))) << i;
  }
}

TEST_F(EngineTest, NormalPlayFromAPredictedPicture_WaitsForTheChannelsNextKeyFrame) {
  Mpeg4DLdata_set_disptype(1);
  Mpeg4DLdata_set_PlayPos(10, 0);
  // The position is put on picture 15 of camera 1 by hand, its channel not synced.
  StreamPacket p15;
  for (const StreamPacket& p : s().packets) {
    if (!p.audio && p.channel == 1 && p.frame == 15) p15 = p;
  }
  ASSERT_GT(p15.offset, 0);
  {
    dd::DataSetState& st = dd::state();
    platform::MutexLock lock(st.player_lock);
    int k = 0;
    for (size_t i = 0; i < s().index.size(); ++i) {
      if (static_cast<int64_t>(s().index[i].offset) < p15.offset) k = static_cast<int>(i);
    }
    st.cursor.store(k);
    st.current_offset = p15.offset;
  }
  decoder::clear_synced_all();
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
  h_.run_until([&] { return h_.shown.size() >= 3; });
  ASSERT_GE(h_.shown.size(), 3u);
  EXPECT_EQ(frames()[0], std::make_pair(1, int64_t{20}));
  EXPECT_EQ(frames()[1], std::make_pair(1, int64_t{21}));
}

TEST_F(EngineTest, FallingBehind_SkipsThroughTheIndexToTheKeyFrameDueByNow) {
  play_to_frame(1, 20);
  const size_t before = h_.shown.size();
  h_.advance(2500);  // the machine stalls
  const uint32_t resumed = h_.now();
  play_until_stopped(0);
  std::vector<int64_t> after;
  for (const auto& f : frames(before)) after.push_back(f.second);
  ASSERT_FALSE(after.empty());
  // Seconds 2 to 4 are passed over; play goes on with second 5 at once.
  EXPECT_EQ(after.front(), 50);
  EXPECT_LE(h_.shown[before].shown_ms - resumed, 5u);
  for (size_t i = 1; i < after.size(); ++i) EXPECT_EQ(after[i], after[i - 1] + 1);
  EXPECT_EQ(after.back(), kSeconds * kFps - 1);
}

TEST_F(EngineTest, FallingBehindInTheAllChannelsView_ShowsEveryChannelOnceThenPacesAgain) {
  Mpeg4DLdata_set_disptype(-1);
  Mpeg4DLdata_set_PlayPos(10, 0);
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
  ASSERT_TRUE(h_.run_until([&] { return frames().size() == 11; }));  // up to camera 2, second 2
  ASSERT_EQ(frames().back(), std::make_pair(2, int64_t{20}));
  const size_t before = h_.shown.size();
  h_.advance(2500);
  play_until_stopped(0);
  auto after = frames(before);
  ASSERT_GE(after.size(), 8u);
  // The catch-up: every channel passed over once, from the key frames of
  // second 5, before the master paces again.
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(after[static_cast<size_t>(c)], std::make_pair(c, int64_t{50})) << c;
  }
  EXPECT_EQ(h_.shown[before + 4].shown_ms - h_.shown[before].shown_ms, 1000u);
  for (const auto& f : after) EXPECT_GE(f.second, 50);
}

TEST_F(EngineTest, AKeyFrameMoreThanASecondLate_IsNotDecoded) {
  Variant v{folder() + "/late", read_file(s().path), read_file(s().dir + "/.index")};
  // Camera 2's key frame of second 3 carries a stamp two seconds old.
  for (const StreamPacket& p : s().packets) {
    if (!p.audio && p.key && p.channel == 2 && p.frame == 30) {
      set_dts(&v.bytes[static_cast<size_t>(p.offset)], p.pts - 180000);
    }
  }
  ASSERT_TRUE(v.write());
  h_.close();
  ASSERT_GT(h_.open(v.dir + "/rec.mpg", v.dir), 0u);
  Mpeg4DLdata_set_disptype(-1);
  Mpeg4DLdata_set_PlayPos(10, 0);
  play_until_stopped(0);
  auto all = frames();
  EXPECT_EQ(all.size(), 4u * kSeconds - 1);
  // Its stamp reads as picture 10: only the real picture 10 is shown.
  EXPECT_EQ(std::count(all.begin(), all.end(), std::make_pair(2, int64_t{10})), 1);
  EXPECT_EQ(std::count(all.begin(), all.end(), std::make_pair(3, int64_t{30})), 1);
}

TEST_F(EngineTest, APacingWaitCutShort_HoldsTheKeyFrameAndShowsItOnTime) {
  Mpeg4DLdata_set_disptype(-1);
  Mpeg4DLdata_set_PlayPos(10, 0);
  play_until_stopped(0);
  const std::vector<dd::ShownPicture> plain = h_.shown;
  ASSERT_EQ(plain.size(), 4u * kSeconds);

  h_.shown.clear();
  Mpeg4DLdata_set_PlayPos(10, 0);
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
  // Every other cycle, a call of the application's comes in during the wait.
  int held = 0;
  const uint32_t start = h_.now();
  for (int i = 0; i < 100000 && Mpeg4DLdata_get_m_nPlayMode() == 0; ++i) {
    h_.set_interrupt_pauses(i % 2 == 0);
    if (h_.cycle().after == dd::After::kWaitUntil) ++held;
  }
  h_.set_interrupt_pauses(false);
  EXPECT_GT(held, 0);
  ASSERT_EQ(h_.shown.size(), plain.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(h_.shown[i].pts, plain[i].pts) << i;
    EXPECT_EQ(h_.shown[i].channel, plain[i].channel) << i;
    EXPECT_EQ(h_.shown[i].shown_ms - start, plain[i].shown_ms - plain[0].shown_ms) << i;
  }
}

TEST_F(EngineTest, ChangingTheDisplayChannel_GoesOnWithTheNewChannelsNextKeyFrame) {
  play_to_frame(0, 25);
  const size_t before = h_.shown.size();
  Mpeg4DLdata_set_disptype(3);
  play_until_stopped(0);
  auto after = frames(before);
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.front(), std::make_pair(3, int64_t{30}));
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].first, 3);
    if (i > 0) {
      EXPECT_EQ(after[i].second, after[i - 1].second + 1);
    }
  }
}

TEST_F(EngineTest, RepositioningWhileAKeyFrameIsHeld_PlaysOnFromTheNewPlace) {
  Mpeg4DLdata_set_disptype(2);
  Mpeg4DLdata_set_PlayPos(10, 0);
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
  // Key frame 10 waits for the pictures before it.
  ASSERT_TRUE(h_.run_until([&] { return h_.engine().held; }));
  const size_t before = h_.shown.size();
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(10, 6), 2);
  h_.run_until([&] { return h_.shown.size() > before + 2; });
  auto after = frames(before);
  ASSERT_GE(after.size(), 3u);
  EXPECT_GE(after[0].second, 40);
  EXPECT_EQ(after[0].second % kFps, 0);
  EXPECT_EQ(after[1].second, after[0].second + 1);
  EXPECT_EQ(h_.shown[before].shown_ms, h_.shown[before].due_ms);
}

}  // namespace
}  // namespace virazav::testing
