// Playback of a downloaded recording as an application drives it: the play
// modes, positions and display channel through the exports while the playback
// thread runs in real time, the pictures handed out by Mpeg4DLdata_filelock,
// and the thread's results to calls it cannot take. Time assertions are
// generous: the machine is shared.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "decoder/decoder.h"
#include "dlplayer/engine.h"
#include "recorded_stream.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

namespace dd = dlplayer::detail;
using Clock = std::chrono::steady_clock;

constexpr int kSeconds = 6;
constexpr int kFps = 10;

// The pictures the thread shows, collected as it shows them.
class Shown {
 public:
  Shown() { dd::set_show_observer(observe, this); }
  ~Shown() { dd::set_show_observer(nullptr, nullptr); }
  std::vector<dd::ShownPicture> all() {
    std::lock_guard<std::mutex> lock(mu_);
    return pictures_;
  }
  size_t size() {
    std::lock_guard<std::mutex> lock(mu_);
    return pictures_.size();
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mu_);
    pictures_.clear();
  }

 private:
  static void observe(const dd::ShownPicture& p, void* user) {
    auto* self = static_cast<Shown*>(user);
    std::lock_guard<std::mutex> lock(self->mu_);
    self->pictures_.push_back(p);
  }
  std::mutex mu_;
  std::vector<dd::ShownPicture> pictures_;
};

// Waits up to `seconds` for `done`, looking every 5 ms.
template <typename Pred>
bool wait_for(double seconds, Pred done) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

class PlaybackTest : public RecordedSuite {
 protected:
  // Two cameras with sound on audio channels 0 and 1.
  static void SetUpTestSuite() { download(small_recording(0x0003, 0x0003, kFps), kSeconds); }
  void SetUp() override {
    ASSERT_EQ(decode_init(), 0);
    size_ = Mpeg4DLdata_fileopen(s().path.c_str(), s().dir.c_str(), s().dir.c_str(), 10);
    ASSERT_EQ(size_, read_file(s().path).size());
    ASSERT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 2);
  }
  void TearDown() override {
    Mpeg4DLdata_fileclose();
    EXPECT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 9);
    decode_deinit();
  }
  // The frames of `channel` among the pictures shown.
  std::vector<int64_t> frames_of(const std::vector<dd::ShownPicture>& pictures, int channel) {
    std::vector<int64_t> out;
    for (const auto& p : pictures) {
      if (p.channel == channel) out.push_back(s().frame_of(p.pts));
    }
    return out;
  }
  // The channel number and frame counter on the picture Mpeg4DLdata_filelock writes.
  std::pair<int, int64_t> handed_out(int channel) {
    if (Mpeg4DLdata_filelock(channel) != 1) return {-1, -1};
    sim::Picture pic;
    const std::string path = s().dir + "/" + std::to_string(channel) + ".bmp";
    if (!read_bitmap_picture(path, s().options.video.height, &pic)) return {-2, -2};
    return {sim::read_channel_number(pic), sim::read_frame_counter(pic)};
  }

  unsigned size_ = 0;
  Shown shown_;
};

TEST_F(PlaybackTest, NormalPlay_ShowsEveryPictureOfTheChannelNearItsTimeThenStops) {
  Mpeg4DLdata_set_disptype(1);
  ASSERT_EQ(Mpeg4DLdata_set_PlayPos(10, 0), 1);
  EXPECT_EQ(Mpeg4DLdata_filelock(1), 0);  // nothing shown yet
  const auto start = Clock::now();
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
  ASSERT_TRUE(wait_for(kSeconds + 20, [] { return Mpeg4DLdata_get_m_nPlayMode() == 1; }));
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GT(took, kSeconds - 1.5);  // paced, not as fast as it can

  const auto pictures = shown_.all();
  const auto frames = frames_of(pictures, 1);
  ASSERT_EQ(frames.size(), static_cast<size_t>(kSeconds * kFps));
  std::vector<int> errors;
  uint32_t first_ms = 0, first_pts = 0;
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], static_cast<int64_t>(i));
  for (const auto& p : pictures) {
    if (p.channel != 1) continue;
    if (first_pts == 0) first_ms = p.shown_ms, first_pts = p.pts;
    const int64_t want = (p.pts - first_pts) / 90;
    errors.push_back(static_cast<int>(static_cast<int64_t>(p.shown_ms - first_ms) - want));
  }
  std::sort(errors.begin(), errors.end());
  EXPECT_LE(std::abs(errors[errors.size() / 2]), 50) << "median pacing error (ms)";
  // The last picture handed out is the recording's last of camera 1.
  EXPECT_EQ(handed_out(1), std::make_pair(1, int64_t{kSeconds * kFps - 1}));
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(10), 10);
}

TEST_F(PlaybackTest, Positions_ReadAndSetByFractionAndByIndexEntry) {
  Mpeg4DLdata_set_disptype(-1);
  // At the first packet 0, just after it 1, at the end parts.
  ASSERT_EQ(Mpeg4DLdata_set_PlayPos(10, 0), 0);
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(10), 0);
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(0), 0);
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(6), 0);
  ASSERT_TRUE(wait_for(10, [] { return Mpeg4DLdata_get_m_nPlayMode() == 1; }));
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(10), 1);
  Mpeg4DLdata_set_PlayPos(10, 10);
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(10), 10);

  // By fraction: the first key frame at or after the place.
  const int64_t half = static_cast<int64_t>(size_ / 10) * 5;
  StreamPacket key;
  for (const StreamPacket& p : s().key_frames(-1)) {
    if (p.offset >= half) {
      key = p;
      break;
    }
  }
  ASSERT_GT(key.offset, 0);
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(10, 5), key.channel);
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(10), (key.offset - 292) / (size_ / 10));
  shown_.clear();
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(6), 0);
  ASSERT_TRUE(wait_for(10, [] { return Mpeg4DLdata_get_m_nPlayMode() == 1; }));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_.all()[0].pts, key.pts);
  EXPECT_EQ(handed_out(key.channel), std::make_pair(key.channel, s().frame_of(key.pts)));

  // By index entry: a key frame of camera 1 in the middle.
  Mpeg4DLdata_set_disptype(1);
  int n = -1;
  for (size_t i = s().index.size() / 2; i < s().index.size(); ++i) {
    if (s().index[i].kind == 0 && s().index[i].channel == 1) {
      n = static_cast<int>(i);
      break;
    }
  }
  ASSERT_GE(n, 0);
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(0, n), 1);
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(0), n);
  // Parts beyond the file size count bytes from the first packet.
  const int bytes = static_cast<int>(s().index[static_cast<size_t>(n)].offset) - 292;
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(static_cast<int>(size_) * 2), bytes);
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(static_cast<int>(size_) * 2, bytes), 1);
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(0), n);
  // Refused.
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(-10), -1);
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(-10, 1), -1);
}

TEST_F(PlaybackTest, RepositioningAndChangingTheChannelWhilePlaying_GoOnFromTheNewPlace) {
  Mpeg4DLdata_set_disptype(0);
  Mpeg4DLdata_set_PlayPos(10, 0);
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
  ASSERT_TRUE(wait_for(10, [&] { return frames_of(shown_.all(), 0).size() >= 5; }));
  size_t mark = shown_.size();
  const int channel = Mpeg4DLdata_set_PlayPos(10, 6);
  EXPECT_EQ(channel, 0);
  EXPECT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 0);  // play goes on
  ASSERT_TRUE(wait_for(10, [&] { return shown_.size() >= mark + 5; }));
  auto after = shown_.all();
  after.erase(after.begin(), after.begin() + static_cast<long>(mark));
  const auto moved = frames_of(after, 0);
  ASSERT_GE(moved.size(), 5u);
  EXPECT_EQ(moved[0] % kFps, 0) << "a key frame first";
  EXPECT_GE(moved[0], 30);
  for (size_t i = 1; i < moved.size(); ++i) EXPECT_EQ(moved[i], moved[i - 1] + 1);

  mark = shown_.size();
  Mpeg4DLdata_set_disptype(1);
  ASSERT_TRUE(wait_for(10, [&] { return shown_.size() >= mark + 5; }));
  after = shown_.all();
  after.erase(after.begin(), after.begin() + static_cast<long>(mark));
  const auto other = frames_of(after, 1);
  ASSERT_GE(other.size(), 4u);
  EXPECT_EQ(other[0] % kFps, 0) << "a key frame first";
  for (size_t i = 1; i < other.size(); ++i) EXPECT_EQ(other[i], other[i - 1] + 1);
  // No more pictures of camera 0 once the change took effect.
  size_t first_of_1 = 0;
  while (after[first_of_1].channel != 1) ++first_of_1;
  for (size_t i = first_of_1; i < after.size(); ++i) EXPECT_EQ(after[i].channel, 1);
}

TEST_F(PlaybackTest, ModesTheThreadCannotTake_AreRefusedAndModeEightEndsIt) {
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(10), -1);
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(-1), -1);
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(9), -1);
  EXPECT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 2);
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(1), 0);
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(1), 0);
  EXPECT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 1);
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(8), 0);
  ASSERT_TRUE(wait_for(5, [] { return Mpeg4DLdata_get_m_nPlayMode() == 9; }));
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), -1);
  EXPECT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 9);
  const auto start = Clock::now();
  Mpeg4DLdata_fileclose();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
}

TEST_F(PlaybackTest, SoundOfTheChosenChannel_PlaysSampleForSampleWhileThePicturesFollowIt) {
  const std::string wav = s().dir + "/sound.wav";
  std::remove(wav.c_str());
  setenv("VIRAZAV_AUDIO", ("wav:" + wav).c_str(), 1);
  // The device is open before the file, so that the index marks the audio channels.
  Mpeg4DLdata_fileclose();
  wave_play_ch(0, 1);
  ASSERT_EQ(wave_play_ctrl(3), 3);
  ASSERT_EQ(Mpeg4DLdata_fileopen(s().path.c_str(), s().dir.c_str(), s().dir.c_str(), 10), size_);
  unsigned video = 0, audio = 0;
  Mpeg4DLdata_get_enable_ch(&video, &audio, s().dir.c_str(), 10);
  EXPECT_EQ(video, 0x3u);
  EXPECT_EQ(audio, 0x3u);
  Mpeg4DLdata_set_disptype(0);
  Mpeg4DLdata_set_PlayPos(10, 0);
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  Mpeg4DLdata_set_m_nPlayMode(1);
  Mpeg4DLdata_fileclose();  // lets the ring play out
  wave_play_ctrl(0);
  unsetenv("VIRAZAV_AUDIO");

  // What the device played: the packets of audio channel 1 from the first on,
  // each decoded as the recorder's decoder does.
  const std::vector<uint8_t> file = read_file(wav);
  ASSERT_GT(file.size(), 44u);
  const std::vector<uint8_t> played(file.begin() + 44, file.end());
  std::vector<uint8_t> want;
  for (const StreamPacket& p : s().audio_packets(1)) {
    std::vector<uint8_t> room = s().packet_bytes(p);
    room.resize(8192);
    ASSERT_EQ(decoder::adpcm_decode_packet(room.data(), room.size(), 1), 8192);
    want.insert(want.end(), room.begin(), room.end());
  }
  EXPECT_GE(played.size(), 4u * 8192) << "about three seconds were played";
  ASSERT_LE(played.size(), want.size());
  size_t same = 0;
  while (same < played.size() && played[same] == want[same]) ++same;
  EXPECT_EQ(same, played.size()) << "first difference at byte " << same;
  // The pictures kept coming, in order.
  const auto frames = frames_of(shown_.all(), 0);
  ASSERT_GE(frames.size(), 15u);
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_GT(frames[i], frames[i - 1]);
}

TEST_F(PlaybackTest, CallsFromSeveralThreadsWhilePlaying_LeaveTheThreadSoundAndClosable) {
  // One thread changes modes, one positions, one the display channel and
  // takes pictures, while the playback thread plays.
  std::atomic<bool> stop{false};
  std::atomic<int> refused{0}, pictures{0}, wrong{0};
  std::thread modes([&] {
    const int cycle[] = {0, 7, 3, 0, 4, 6, 5, 1, 0, 2, 0};
    for (int i = 0; !stop.load(); ++i) {
      if (Mpeg4DLdata_set_m_nPlayMode(cycle[i % 11]) != 0) ++refused;
      Mpeg4DLdata_get_m_nPlayMode();
      std::this_thread::sleep_for(std::chrono::milliseconds(37));
    }
  });
  std::thread positions([&] {
    for (int i = 0; !stop.load(); ++i) {
      if (i % 3 == 0) {
        Mpeg4DLdata_set_PlayPos(0, i % static_cast<int>(s().index.size()));
      } else {
        Mpeg4DLdata_set_PlayPos(10, i % 11);
      }
      const int pos = Mpeg4DLdata_get_PlayPos(10);
      if (pos < 0 || pos > 10) ++wrong;
      Mpeg4DLdata_get_PlayPos(0);
      std::this_thread::sleep_for(std::chrono::milliseconds(23));
    }
  });
  std::thread display([&] {
    for (int i = 0; !stop.load(); ++i) {
      Mpeg4DLdata_set_disptype(i % 3 - 1);
      for (int c = 0; c < 2; ++c) {
        if (Mpeg4DLdata_filelock(c) == 1) {
          ++pictures;
          Mpeg4DLdata_fileunlock(c);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(11));
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(4));
  stop.store(true);
  modes.join();
  positions.join();
  display.join();
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(pictures.load(), 0);
  EXPECT_GT(shown_.size(), 0u);
  // The thread still answers: a step shows one picture and stops.
  Mpeg4DLdata_set_disptype(1);
  Mpeg4DLdata_set_PlayPos(10, 3);
  Mpeg4DLdata_set_m_nPlayMode(1);
  shown_.clear();
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(6), 0);
  ASSERT_TRUE(wait_for(10, [] { return Mpeg4DLdata_get_m_nPlayMode() == 1; }));
  EXPECT_EQ(shown_.size(), 1u);
  const auto start = Clock::now();
  Mpeg4DLdata_fileclose();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
}

TEST(PlaybackWithoutDataSet, ExportsRefuseBeforeInitAndWithoutAFile) {
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(0), -1);
  EXPECT_EQ(Mpeg4DLdata_get_PlayPos(10), -1);
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(10, 1), -1);
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), -1);
  EXPECT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 9);
  ASSERT_EQ(decode_init(), 0);
  EXPECT_EQ(Mpeg4DLdata_set_m_nPlayMode(0), -1);  // no thread without a file
  EXPECT_EQ(Mpeg4DLdata_get_m_nPlayMode(), 9);
  EXPECT_EQ(Mpeg4DLdata_set_PlayPos(0, 3), -1);
  decode_deinit();
}

}  // namespace
}  // namespace virazav::testing
