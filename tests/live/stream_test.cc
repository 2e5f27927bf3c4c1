// The live stream end to end against the simulated recorder, through the C interface:
// the command lines on the wire, pictures of every channel and of the display channel's
// group compared with what the recorder drew, status and PTZ values, the sound sample for
// sample through a WAV device, and the faults a recorder or a network may add.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "live/block_builder.h"
#include "live/live_media.h"
#include "live/live_state.h"
#include "live/udp_sender.h"
#include "media/media.h"
#include "support/bitmap_luma.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::live {
namespace {

using testing::Bytes;
using testing::eventually;

constexpr int kWidth = 176;
constexpr int kHeight = 144;

// The luma of a bitmap written by kora_udp_rx, as a top-down picture of the recorder's size.
bool bitmap_luma(const std::string& path, sim::Picture* out) {
  return testing::bitmap_luma(path, kWidth, kHeight, out);
}

// PSNR of the luma over the rows the bitmap holds.
double top_psnr(const sim::Picture& decoded, const sim::Picture& source) {
  sim::Picture a = decoded, b = source;
  for (int r = kHeight - 8; r < kHeight; ++r) {
    std::fill_n(&a.y[static_cast<size_t>(r) * kWidth], kWidth, 16);
    std::fill_n(&b.y[static_cast<size_t>(r) * kWidth], kWidth, 16);
  }
  return sim::luma_psnr(a, b);
}

std::string picture_path(int set, int channel) {
  char p[32];
  std::snprintf(p, sizeof p, "img/serv%d%02d.jpg", set, channel);
  return p;
}

class LiveStream : public testing::RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    port_ = testing::free_port_pair();
    o.live.port_base = port_;
    o.live.video.width = kWidth;
    o.live.video.height = kHeight;
    o.live.channel_mask = 0x000F;
  }
  void SetUp() override {
    testing::RecorderTest::SetUp();
    ASSERT_NE(port_, 0);
    ::mkdir("img", 0755);
    ASSERT_EQ(decode_init(), 0);
    connect(0);
    ASSERT_EQ(std::sscanf(address_.c_str(), "%d.%d.%d.%d", &sender_[0], &sender_[1], &sender_[2],
                          &sender_[3]),
              4);
  }
  void TearDown() override {
    kora_udp_count(0, 1, 0, 0);
    wave_play_ctrl(0);
    kora_udp_close();
    decode_deinit();
    unsetenv("VIRAZAV_AUDIO");
    testing::RecorderTest::TearDown();
  }

  // Opens the session, starts the stream (with sound when asked) and accepts it.
  void start(bool audio = false) {
    ASSERT_EQ(kora_udp_connect("", port_, 0), 0);
    ASSERT_EQ(kora_udp_count(0, 0, 0, audio ? 1 : 0), 0);
    ASSERT_EQ(kora_udp_rx_start(sender_[0], sender_[1], sender_[2], sender_[3]), 0);
  }
  // The newest set-0 block the recorder sent for a channel.
  sim::LiveBlockRecord newest(int type, int channel) {
    auto h = rec().live().history();
    for (auto it = h.rbegin(); it != h.rend(); ++it) {
      if (it->type == type && it->channel == channel) return *it;
    }
    return {};
  }
  virazav_live_stats stats() {
    virazav_live_stats s{};
    virazav_live_statistics(&s);
    return s;
  }

  testing::TempCwd cwd_;
  uint16_t port_ = 0;
  int sender_[4] = {};
};

TEST_F(LiveStream, Commands_SendTheirLinesAndKeepTheirValues) {
  EXPECT_EQ(kora_udp_count(0, 0, 1, 1), 0);
  EXPECT_EQ(last_line(0).substr(10), " UDPup 01 01\n");
  EXPECT_EQ(detail::state().audio_switch.load(), 1);
  EXPECT_TRUE(rec().live().running());
  EXPECT_EQ(kora_udp_count(0, 1, 0, 0), 0);
  EXPECT_EQ(last_line(0).substr(10), " UDPdown 00 00\n");
  EXPECT_EQ(detail::state().audio_switch.load(), 0);
  EXPECT_FALSE(rec().live().running());

  EXPECT_EQ(kora_udp_dispmode(0, 10, 2), 0);
  EXPECT_EQ(last_line(0).substr(10), " UDPdispmode 0A 02 00\n");
  EXPECT_EQ(rec().live().status().display, 10);
  EXPECT_EQ(rec().live().status().mode, 2);

  // A refused command keeps the audio switch; the display channel changes anyway.
  rec().inject(testing::make_fault(sim::FaultKind::kNg, "UDPup"));
  EXPECT_EQ(kora_udp_count(0, 0, 0, 1), VIRAZAV_ERR_NOT_OK);
  EXPECT_EQ(detail::state().audio_switch.load(), 0);
  EXPECT_EQ(kora_udp_dispmode(16, 4, 0), VIRAZAV_ERR_SLOT_RANGE);
  EXPECT_EQ(detail::state().display_channel.load(), 4);
  EXPECT_EQ(kora_udp_dispmode(3, 5, 0), VIRAZAV_ERR_NOT_CONNECTED);
  EXPECT_EQ(detail::state().display_channel.load(), 5);
  rec().inject(testing::make_fault(sim::FaultKind::kForeignId, "UDPdispmode"));
  EXPECT_EQ(kora_udp_dispmode(0, 0, 0), VIRAZAV_ERR_FOREIGN_ID);
}

TEST_F(LiveStream, EveryChannelsNewestPicture_IsTheRecordersPictureOfThatChannel) {
  start();
  std::map<int, int> seen;
  ASSERT_TRUE(eventually(6000, [&] {
    for (int ch = 0; ch < 4; ++ch) {
      if (kora_udp_rx(ch, 0) != 1) continue;
      sim::LiveBlockRecord block = newest(0, ch);
      sim::Picture shown;
      if (!bitmap_luma(picture_path(0, ch), &shown)) continue;
      sim::SyntheticChannel source(ch, kWidth, kHeight);
      EXPECT_EQ(sim::read_channel_number(shown), ch);
      EXPECT_EQ(sim::read_frame_counter(shown), block.first_frame);
      EXPECT_GE(top_psnr(shown, source.source_picture(block.first_frame)), 28.0) << ch;
      ++seen[ch];
    }
    return seen.size() == 4;
  }));
  // A picture of another channel would differ in its bars and digits.
  sim::Picture shown;
  ASSERT_TRUE(bitmap_luma(picture_path(0, 1), &shown));
  EXPECT_LT(top_psnr(shown, sim::SyntheticChannel(2, kWidth, kHeight).source_picture(0)), 20.0);
}

TEST_F(LiveStream, DisplayChannel_ShowsEveryPictureOfItsGroupInTurn) {
  ASSERT_EQ(kora_udp_dispmode(0, 2 + 1, 0), 0);
  start();
  std::vector<int64_t> frames;
  std::vector<double> at_ms;
  const auto begin = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(3500)) {
    if (kora_udp_rx(2, 0) == 1) {
      sim::Picture shown;
      if (bitmap_luma(picture_path(0, 2), &shown)) {
        frames.push_back(sim::read_frame_counter(shown));
        at_ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                .count());
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // Ten pictures a second, each shown once, in order, without a gap.
  ASSERT_GE(frames.size(), 20u);
  for (size_t i = 1; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i], frames[i - 1] + 1) << "after picture " << i - 1;
  }
  // At their pace: 100 ms apart within a group (the first of a group comes with its block).
  int paced = 0;
  for (size_t i = 1; i < frames.size(); ++i) {
    if (frames[i] % 10 == 0) continue;
    const double gap = at_ms[i] - at_ms[i - 1];
    EXPECT_GT(gap, 60.0) << "picture " << frames[i];
    EXPECT_LT(gap, 160.0) << "picture " << frames[i];
    ++paced;
  }
  EXPECT_GE(paced, 15);
}

TEST_F(LiveStream, StatusTimeAndPtz_AreThoseOfTheLastBlocks) {
  rec().live().pin_status(0, 0x05, 0x1234);
  rec().live().pin_ptz(1, 7, 8, 9);
  rec().live().pin_ptz(0, 1, 2, 3);
  rec().live().pin_ptz(2, 1, 2, 3);
  rec().live().pin_ptz(3, 1, 2, 3);
  start();
  ASSERT_TRUE(rec().live().wait_for_blocks(0, 8, 5000));
  ASSERT_TRUE(eventually(2000, [&] { return stats().video_blocks >= 8; }));
  uint8_t status = 0, channel = 0xFF;
  uint16_t word = 0, p[3] = {};
  kora_udp_rxstatus(0, &status, &channel, &word, &p[0], &p[1], &p[2]);
  EXPECT_EQ(status, 0x05);
  EXPECT_EQ(word, 0x1234);
  EXPECT_LT(channel, 4);
  uint16_t a = 0, b = 0, c = 0;
  kora_udp_ptzstatus(1, &a, &b, &c);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 8);
  EXPECT_EQ(c, 9);
  kora_udp_ptzstatus(1, &a, &b, &c);
  EXPECT_EQ(c, 0);

  // Once the stream stops, the registers hold the last blocks the recorder sent.
  ASSERT_EQ(kora_udp_count(0, 1, 0, 0), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto h = rec().live().history();
  const sim::LiveBlockRecord* last0 = nullptr;
  const sim::LiveBlockRecord* last1 = nullptr;
  for (const auto& r : h) {
    if (r.type == 0) last0 = &r;
    if (r.type == 1) last1 = &r;
  }
  ASSERT_NE(last0, nullptr);
  ASSERT_NE(last1, nullptr);
  uint8_t t[6] = {};
  kora_udp_rxtime(0, t);
  EXPECT_EQ(t[0] | (t[1] << 8) | (t[2] << 16) | (uint32_t{t[3]} << 24), last0->time_value);
  EXPECT_EQ(t[4] | (t[5] << 8), last0->time_word);
  kora_udp_rxstatus(1, &status, &channel, &word, nullptr, nullptr, nullptr);
  EXPECT_EQ(status, last1->status_byte);
  EXPECT_EQ(word, last1->status_word);
  EXPECT_EQ(channel, std::max(last0->serial, last1->serial) == last0->serial ? last0->channel
                                                                             : last1->channel);
}

TEST_F(LiveStream, Sound_IsTheRecordersToneSampleForSample) {
  const std::string wav = cwd_.path() + "/live.wav";
  setenv("VIRAZAV_AUDIO", ("wav:" + wav).c_str(), 1);
  wave_play_ch(0, 1);
  start(/*audio=*/true);
  ASSERT_EQ(wave_play_ctrl(1), 1);
  // Three blocks prebuffer, then they play in real time: 0.512 s each.
  std::this_thread::sleep_for(std::chrono::milliseconds(4000));
  ASSERT_EQ(wave_play_ctrl(0), 0);
  Bytes f = testing::read_file(wav);
  ASSERT_GT(f.size(), 44u + 2 * 8192u);
  std::vector<int16_t> played;
  for (size_t i = 44; i + 1 < f.size(); i += 2) played.push_back(int16_t(f[i] | (f[i + 1] << 8)));

  // What audio packet j of channel 1 decodes to, by the recorder's own rules.
  auto decoded = [](int64_t j) {
    Bytes packet = sim::live_audio_packet(1, j);
    sim::AdpcmState st;
    st.predictor = static_cast<int16_t>(packet[60] | (packet[61] << 8));
    st.index = packet[62];
    std::vector<int16_t> pcm(4096);
    sim::decode_adpcm(packet.data() + 64, 2048, &st, pcm.data());
    return pcm;
  };
  int64_t first = -1;
  for (int64_t j = 0; j < 20 && first < 0; ++j) {
    auto pcm = decoded(j);
    if (std::equal(pcm.begin(), pcm.end(), played.begin())) first = j;
  }
  ASSERT_GE(first, 0) << "the first block played is none of the recorder's packets";
  const size_t blocks = played.size() / 4096;
  for (size_t k = 0; k < blocks; ++k) {
    auto pcm = decoded(first + static_cast<int64_t>(k));
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), played.begin() + static_cast<long>(k * 4096)))
        << "block " << k;
  }
  EXPECT_GE(blocks, 3u);
}

TEST_F(LiveStream, AtTheRecordersRate_NothingIsLost) {
  const virazav_live_stats before = stats();
  start(/*audio=*/true);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ASSERT_EQ(kora_udp_count(0, 1, 0, 0), 0);
  const sim::LiveCounters sent = rec().live().counters();
  ASSERT_TRUE(
      eventually(2000, [&] { return stats().datagrams - before.datagrams >= sent.datagrams; }));
  const virazav_live_stats got = stats();
  EXPECT_EQ(got.datagrams - before.datagrams, sent.datagrams);
  EXPECT_EQ(got.blocks_completed - before.blocks_completed, sent.blocks);
  EXPECT_EQ(got.fragments_missing - before.fragments_missing, 0u);
  EXPECT_EQ(got.ignored - before.ignored, 0u);
}

TEST_F(LiveStream, ApplicationThreadsAndReceivers_RunTogetherWithoutHarm) {
  // Pictures, queries, sound and control from four application threads at once while
  // the receivers file blocks and the output thread plays: the thread sanitizer run
  // of this suite watches every access.
  const std::string wav = cwd_.path() + "/together.wav";
  setenv("VIRAZAV_AUDIO", ("wav:" + wav).c_str(), 1);
  ASSERT_EQ(kora_udp_dispmode(0, 1, 0), 0);
  start(/*audio=*/true);
  std::atomic<bool> stop{false};
  std::atomic<int> pictures{0};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    while (!stop.load()) {
      for (int ch = 0; ch < 4; ++ch) pictures += kora_udp_rx(ch, 0) + kora_udp_rx(ch, 1);
    }
  });
  threads.emplace_back([&] {
    while (!stop.load()) {
      uint8_t status, channel, t[6];
      uint16_t word, p1, p2, p3;
      kora_udp_rxstatus(0, &status, &channel, &word, &p1, &p2, &p3);
      kora_udp_rxstatus(1, &status, &channel, &word, &p1, &p2, &p3);
      kora_udp_ptzstatus(channel & 15, &p1, &p2, &p3);
      kora_udp_rxtime(0, t);
      kora_udp_wave(0, 0, "wave0.bin");
      kora_udp_wave(0, 1, "wave1.bin");
      virazav_live_stats st;
      virazav_live_statistics(&st);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  threads.emplace_back([&] {
    for (int round = 0; !stop.load(); ++round) {
      wave_play_ch(0, round % 4);
      wave_play_ctrl(1 + round % 2);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      if (round % 3 == 2) wave_play_ctrl(0);
    }
  });
  threads.emplace_back([&] {
    for (int round = 0; !stop.load(); ++round) {
      detail::state().display_channel.store(1 + round % 4);
      if (round % 5 == 4) kora_udp_rx_stop();
      kora_udp_rx_start(sender_[0], sender_[1], sender_[2], sender_[3]);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  stop.store(true);
  for (std::thread& t : threads) t.join();
  EXPECT_GT(pictures.load(), 8);
  ASSERT_EQ(kora_udp_count(0, 1, 0, 0), 0);
  EXPECT_EQ(wave_play_ctrl(0), 0);
  EXPECT_EQ(kora_udp_close(), 0);
}

// One fault of the recorder or the network, and what the receivers make of it: the
// change of their counters over the stream, and the pictures of each set.
struct FaultCase {
  const char* faults;
  void (*check)(const virazav_live_stats& d, const sim::LiveCounters& sent, int set0, int set1);
};

class LiveFaults : public LiveStream, public ::testing::WithParamInterface<FaultCase> {
 protected:
  void configure(sim::RecorderOptions& o) override {
    LiveStream::configure(o);
    o.live.stride = 256;  // many fragments a block, so that fragments can go astray
  }
};

TEST_P(LiveFaults, AreAbsorbedAndCounted) {
  std::vector<sim::LiveFault> faults;
  std::string error;
  ASSERT_TRUE(sim::parse_live_faults(GetParam().faults, &faults, &error)) << error;
  rec().live().set_faults(faults);
  const virazav_live_stats before = stats();
  start();
  int pictures[2] = {0, 0};
  const auto begin = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(2200)) {
    for (int ch = 0; ch < 4; ++ch) {
      pictures[0] += kora_udp_rx(ch, 0);
      pictures[1] += kora_udp_rx(ch, 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(kora_udp_count(0, 1, 0, 0), 0);
  const sim::LiveCounters sent = rec().live().counters();
  ASSERT_TRUE(
      eventually(2000, [&] { return stats().datagrams - before.datagrams >= sent.datagrams; }));
  virazav_live_stats d = stats();
  d.datagrams -= before.datagrams;
  d.ignored -= before.ignored;
  d.late_fragments -= before.late_fragments;
  d.dropped_fragments -= before.dropped_fragments;
  d.blocks_completed -= before.blocks_completed;
  d.video_blocks -= before.video_blocks;
  d.blocks_abandoned -= before.blocks_abandoned;
  d.fragments_missing -= before.fragments_missing;
  d.blocks_dropped -= before.blocks_dropped;
  EXPECT_EQ(d.datagrams, sent.datagrams);
  GetParam().check(d, sent, pictures[0], pictures[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Network, LiveFaults,
    ::testing::Values(
        // Fragments out of order are staged, and every block still completes.
        FaultCase{"reorder:any:1",
                  [](const virazav_live_stats& d, const sim::LiveCounters& sent, int s0, int s1) {
                    EXPECT_EQ(d.blocks_completed, sent.blocks);
                    EXPECT_EQ(d.fragments_missing, 0u);
                    EXPECT_GT(s0, 4);
                    EXPECT_GT(s1, 4);
                  }},
        // A lost fragment leaves its block unfinished until the next one abandons it.
        FaultCase{"drop:v0:1:2",
                  [](const virazav_live_stats& d, const sim::LiveCounters&, int s0, int s1) {
                    EXPECT_GT(d.blocks_abandoned, 4u);
                    EXPECT_GE(d.fragments_missing, d.blocks_abandoned);
                    EXPECT_EQ(s0, 0);
                    EXPECT_GT(s1, 4);
                  }},
        // A fragment that comes after the next block began is late and dropped.
        FaultCase{"late:v1:1:1",
                  [](const virazav_live_stats& d, const sim::LiveCounters&, int s0, int) {
                    EXPECT_GT(d.late_fragments, 4u);
                    EXPECT_GT(s0, 4);
                  }},
        // Datagrams of another sender, short ones and those of stream 2 are ignored.
        FaultCase{"foreign:v0:1,short:v1:1,stream2:a0:1",
                  [](const virazav_live_stats& d, const sim::LiveCounters&, int s0, int s1) {
                    EXPECT_GT(d.ignored, 20u);
                    EXPECT_EQ(s0, 0);
                    EXPECT_GT(s1, 4);
                  }},
        // A stride far beyond every buffer is dropped; the block completes without it.
        FaultCase{"stride:any:1",
                  [](const virazav_live_stats& d, const sim::LiveCounters&, int s0, int s1) {
                    EXPECT_GT(d.dropped_fragments, 10u);
                    EXPECT_GT(s0, 4);
                    EXPECT_GT(s1, 4);
                  }},
        // A length field that wraps in 32 bits: a staged block would be copied far past
        // its slot, so it is dropped whole.
        FaultCase{"length:v0:1,reorder:v0:1",
                  [](const virazav_live_stats& d, const sim::LiveCounters&, int s0, int s1) {
                    EXPECT_GT(d.blocks_dropped, 4u);
                    EXPECT_EQ(s0, 0);
                    EXPECT_GT(s1, 4);
                  }},
        // A block of a type nobody knows is reassembled and dropped.
        FaultCase{"type7:v1:1",
                  [](const virazav_live_stats& d, const sim::LiveCounters&, int s0, int s1) {
                    EXPECT_GT(d.blocks_dropped, 4u);
                    EXPECT_GT(s0, 4);
                    EXPECT_EQ(s1, 0);
                  }},
        // A duplicated fragment counts towards its block, which completes early.
        FaultCase{"duplicate:v0:1:0",
                  [](const virazav_live_stats& d, const sim::LiveCounters& sent, int s0, int) {
                    EXPECT_EQ(d.blocks_completed, sent.blocks);
                    EXPECT_GT(s0, 4);
                  }}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
      // The fault list as the test's name: "reorder_any_1", "drop_v0_1_2", ...
      std::string name;
      for (const char* c = info.param.faults; *c != 0; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

}  // namespace
}  // namespace virazav::live
