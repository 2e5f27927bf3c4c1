// The audio output thread with real output devices (a WAV file, ALSA's null PCM,
// none): wave modes and their prebuffering, the order and content of what is
// played, the drain and reset at mode 0, the playback ring, kora_udp_wave, and
// failing devices. Sound blocks arrive over loopback through a live session.
#include "live/audio_output.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "decoder/decoder.h"
#include "live/block_builder.h"
#include "live/live.h"
#include "live/live_state.h"
#include "live/udp_sender.h"
#include "platform/fault.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::live {
namespace {

using testing::Bytes;
using testing::eventually;

// The samples a packet of constant ADPCM codes decodes to, from predictor 0 and
// step index 0: each block's codes differ, so order and gaps show.
std::vector<int16_t> expected_samples(uint8_t code) {
  std::vector<int16_t> out;
  decoder::AdpcmState st;
  for (int i = 0; i < 2048; ++i) {
    out.push_back(decoder::adpcm_decode_nibble(code & 0x0F, &st));
    out.push_back(decoder::adpcm_decode_nibble(code >> 4, &st));
  }
  return out;
}

// The samples of a WAV file written by the wav: device (16-bit mono PCM).
std::vector<int16_t> wav_samples(const std::string& path) {
  Bytes f = testing::read_file(path);
  std::vector<int16_t> out;
  if (f.size() < 44 || std::string(f.begin(), f.begin() + 4) != "RIFF") return out;
  for (size_t i = 44; i + 1 < f.size(); i += 2) {
    out.push_back(static_cast<int16_t>(f[i] | (f[i + 1] << 8)));
  }
  return out;
}

class AudioOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir("img", 0755);
    wav_ = cwd_.path() + "/out.wav";
    setenv("VIRAZAV_AUDIO", ("wav:" + wav_).c_str(), 1);
    ASSERT_EQ(decode_init(), 0);
    port_ = testing::free_port_pair();
    ASSERT_NE(port_, 0);
    ASSERT_EQ(kora_udp_connect("", port_, 0), 0);
    kora_udp_rx_start(127, 0, 0, 1);
    // The switch a successful UDPup with audio sets.
    detail::state().audio_switch.store(1);
    base_blocks_ = statistics().audio_blocks;
  }
  void TearDown() override {
    wave_play_ctrl(0);
    kora_udp_close();
    decode_deinit();
    detail::state().audio_switch.store(0);
    detail::forget_missing_device();
    unsetenv("VIRAZAV_AUDIO");
  }

  // Sends one sound block of ring r: channels 0..3, each with its own codes
  // derived from `code`, all with sequence number `sequence` and the time bytes.
  void send_sound(int r, uint8_t code, uint8_t sequence, uint32_t time = 0) {
    std::vector<testing::SubBlock> subs;
    for (int c = 0; c < 4; ++c) {
      testing::SubBlock sb{
          c, testing::make_audio_packet(c, 0, Bytes(2048, code + c)), 0, sequence, time, 0};
      subs.push_back(sb);
    }
    Bytes block = testing::audio_block(2 + r, subs);
    ASSERT_TRUE(sender_.send_all(static_cast<uint16_t>(port_ + r),
                                 testing::fragments(block, sequence, 1, 1400)));
  }
  detail::AudioRing& ring(int r) { return detail::state().rings[r]; }
  std::string ring_text(int r) {
    std::string t = "read " + std::to_string(ring(r).read_index.load()) + " write " +
                    std::to_string(ring(r).write_index.load()) + " states";
    for (auto& s : ring(r).slots) t += " " + std::to_string(s.state.load());
    return t;
  }
  bool ring_empty(int r) {
    for (auto& s : ring(r).slots) {
      if (s.state.load() != detail::kSlotEmpty) return false;
    }
    return true;
  }

  testing::TempCwd cwd_;
  testing::UdpSender sender_{"127.0.0.1"};
  std::string wav_;
  uint16_t port_ = 0;
  uint64_t base_blocks_ = 0;
  bool blocks_arrived(uint64_t n) { return statistics().audio_blocks >= base_blocks_ + n; }
};

TEST_F(AudioOutput, ModeOne_PlaysRingZerosSelectedChannelInOrderIntoTheWav) {
  wave_play_ch(0, 2);
  ASSERT_EQ(wave_play_ctrl(1), 1);
  EXPECT_EQ(device_state(), kDeviceOpen);
  const uint8_t codes[5] = {0x10, 0x20, 0x30, 0x40, 0x50};
  for (int k = 0; k < 5; ++k) {
    send_sound(0, codes[k], static_cast<uint8_t>(k + 1));
    // One block at a time, as a recorder sends them.
    ASSERT_TRUE(eventually(3000, [&] { return ring(0).write_index.load() == (k + 1) % 6; })) << k;
  }
  // Every queued block plays out in real time: 5 × 0.512 s.
  ASSERT_TRUE(eventually(6000, [&] { return ring_empty(0); }));
  std::vector<int16_t> want;
  for (uint8_t c : codes) {
    auto s = expected_samples(static_cast<uint8_t>(c + 2));
    want.insert(want.end(), s.begin(), s.end());
  }
  EXPECT_EQ(wav_samples(wav_), want);
  ASSERT_EQ(wave_play_ctrl(0), 0);
  EXPECT_EQ(device_state(), kDeviceClosed);
  for (int r = 0; r < 2; ++r) {
    EXPECT_EQ(ring(r).write_index.load(), 0);
    EXPECT_EQ(ring(r).read_index.load(), 0);
  }
}

TEST_F(AudioOutput, SameModeTwice_ReturnsAtOnce_AndWavePlayChChecksItsArguments) {
  ASSERT_EQ(wave_play_ctrl(1), 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(wave_play_ctrl(1), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  wave_play_ch(0, 3);
  EXPECT_EQ(selected_audio_channel(0), 3);
  EXPECT_EQ(selected_audio_channel(1), 3);
  wave_play_ch(2, 1);
  wave_play_ch(1, 4);
  EXPECT_EQ(selected_audio_channel(0), 3);
  wave_play_ch(1, 1);
  EXPECT_EQ(selected_audio_channel(1), 1);
}

TEST_F(AudioOutput, ModeZero_StopsWhatPlaysAndFreesEverySlot) {
  ASSERT_EQ(wave_play_ctrl(1), 1);
  for (int k = 0; k < 4; ++k) {
    send_sound(0, 0x11, static_cast<uint8_t>(k + 1));
    ASSERT_TRUE(eventually(3000, [&] { return ring(0).write_index.load() == k + 1; }));
  }
  // Playing has begun (prebuffered three); stop in the middle of it.
  ASSERT_TRUE(eventually(3000, [&] { return ring(0).read_index.load() >= 1; }));
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(wave_play_ctrl(0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_TRUE(ring_empty(0));
  EXPECT_EQ(ring(0).write_index.load(), 0);
  // Less than the four blocks were played: the reset cut the rest.
  EXPECT_LT(wav_samples(wav_).size(), 4u * 4096u);
  // New blocks while no output runs are not queued.
  send_sound(0, 0x22, 9);
  ASSERT_TRUE(eventually(2000, [&] { return blocks_arrived(5); }));
  EXPECT_TRUE(ring_empty(0));
}

TEST_F(AudioOutput, ModeTwoAfterOne_PlaysRingOneOnceThreeBlocksAreAhead) {
  ASSERT_EQ(wave_play_ctrl(1), 1);
  ASSERT_EQ(wave_play_ctrl(2), 2);
  for (int k = 0; k < 2; ++k) {
    send_sound(1, 0x60, static_cast<uint8_t>(k + 1));
    ASSERT_TRUE(eventually(3000, [&] { return ring(1).write_index.load() == k + 1; }));
  }
  // Two ahead: still prebuffering, nothing written to the device.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ring(1).read_index.load(), 0);
  EXPECT_EQ(ring(1).slots[0].state.load(), detail::kSlotQueued);
  send_sound(1, 0x60, 3);
  EXPECT_TRUE(eventually(2000, [&] { return ring(1).read_index.load() >= 1; }));
}

TEST_F(AudioOutput, UdpWave_SavesTheNewestWaitingBlockWithoutTakingIt) {
  EXPECT_EQ(kora_udp_wave(0, 0, "none.bin"), 0);
  EXPECT_TRUE(testing::read_file("none.bin").empty());
  ASSERT_EQ(wave_play_ctrl(1), 1);
  send_sound(0, 0x70, 1, /*time=*/100);
  ASSERT_TRUE(eventually(3000, [&] { return ring(0).write_index.load() == 1; }));
  send_sound(0, 0x71, 2, /*time=*/101);
  ASSERT_TRUE(eventually(3000, [&] { return ring(0).write_index.load() == 2; }));
  // The newest block waiting is slot 1; the file gets its length field (2112)
  // of bytes from offset 28.
  EXPECT_EQ(kora_udp_wave(0, 0, "saved.bin"), 2112);
  Bytes saved = testing::read_file("saved.bin");
  ASSERT_EQ(saved.size(), 2112u);
  EXPECT_EQ(ring(0).slots[1].state.load(), detail::kSlotQueued);
  EXPECT_EQ(Bytes(saved.begin() + 44, saved.end()),
            Bytes(ring(0).slots[1].buffer.data() + 72, ring(0).slots[1].buffer.data() + 2140));
  // The same block again does not qualify: ring 0 wants a later time.
  EXPECT_EQ(kora_udp_wave(0, 0, "again.bin"), 0);
  EXPECT_TRUE(testing::read_file("again.bin").empty());
  // It still plays: both blocks go out and the ring empties.
  send_sound(0, 0x72, 3, /*time=*/102);
  ASSERT_TRUE(eventually(5000, [&] { return ring_empty(0); }));
  EXPECT_EQ(wav_samples(wav_).size(), 3u * 4096u);
}

TEST_F(AudioOutput, PlaybackRing_PlaysItsSlotsInOrder) {
  std::vector<int16_t> pcm[3];
  for (int w = 0; w < 3; ++w) pcm[w].assign(800, static_cast<int16_t>(1000 * (w + 1)));
  detail::PlaybackRing& ring = detail::state().audio.playback;
  ASSERT_EQ(wave_play_ctrl(3), 3);
  for (int w = 0; w < 3; ++w) {
    ring.headers[w].data = reinterpret_cast<uint8_t*>(pcm[w].data());
    ring.headers[w].length = 1600;
    ring.state[w].store(detail::kSlotQueued);
  }
  detail::kick();
  ASSERT_TRUE(eventually(3000, [&] {
    return ring.state[0].load() == 0 && ring.state[1].load() == 0 && ring.state[2].load() == 0;
  }));
  std::vector<int16_t> want;
  for (auto& p : pcm) want.insert(want.end(), p.begin(), p.end());
  EXPECT_EQ(wav_samples(wav_), want);
}

TEST_F(AudioOutput, DeviceReportBeforeTheIdIsQueued_StillFreesTheSlot) {
  // A buffer of 0 bytes is reported done at once, while its writer may still be
  // putting its id in the queue; no report may be lost, or its slot stays
  // written for ever.
  detail::PlaybackRing& ring = detail::state().audio.playback;
  ASSERT_EQ(wave_play_ctrl(3), 3);
  uint8_t nothing = 0;
  for (int round = 0; round < 300; ++round) {
    for (int w = 0; w < 3; ++w) {
      ring.headers[w].data = &nothing;
      ring.headers[w].length = 0;
      ring.state[w].store(detail::kSlotQueued);
    }
    detail::kick();
    ASSERT_TRUE(eventually(2000,
                           [&] {
                             return ring.state[0].load() == 0 && ring.state[1].load() == 0 &&
                                    ring.state[2].load() == 0;
                           }))
        << "round " << round;
  }
}

TEST_F(AudioOutput, WriterAlreadyPastThreeAhead_PrebufferEndsAtOnce) {
  // Ring 0 holds four queued blocks when the mode turns to 1: three or more
  // ahead ends the prebuffer, not exactly three.
  ASSERT_EQ(wave_play_ctrl(2), 2);
  std::vector<int16_t> pcm(800, 7);
  for (int w = 0; w < 4; ++w) {
    std::lock_guard<std::mutex> lock(ring(0).slots[w].lock);
    ring(0).slots[w].header.data = reinterpret_cast<uint8_t*>(pcm.data());
    ring(0).slots[w].header.length = 1600;
    ring(0).slots[w].state.store(detail::kSlotQueued);
  }
  ring(0).write_index.store(4);
  ASSERT_EQ(wave_play_ctrl(1), 1);
  EXPECT_TRUE(eventually(2000, [&] { return ring(0).read_index.load() == 4 && ring_empty(0); }))
      << ring_text(0);
}

TEST_F(AudioOutput, NoDevice_ReturnsAtOnceAndLaterStartsDoNotSearch) {
  setenv("VIRAZAV_AUDIO", "none", 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(wave_play_ctrl(1), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(device_state(), kDeviceNone);
  // Blocks are not queued: the slot is freed and the ring rewound.
  send_sound(0, 0x11, 1);
  ASSERT_TRUE(eventually(2000, [&] { return blocks_arrived(1); }));
  EXPECT_TRUE(ring_empty(0));
  EXPECT_EQ(ring(0).write_index.load(), 0);
  wave_play_ctrl(0);
  setenv("VIRAZAV_AUDIO", ("wav:" + wav_).c_str(), 1);
  wave_play_ctrl(1);
  EXPECT_EQ(device_state(), kDeviceNone);
}

TEST_F(AudioOutput, AlsaNullDevice_PlaysTheRingThroughAlsa) {
  setenv("VIRAZAV_AUDIO", "alsa:null", 1);
  ASSERT_EQ(wave_play_ctrl(1), 1);
  ASSERT_EQ(device_state(), kDeviceOpen);
  for (int k = 0; k < 4; ++k) {
    send_sound(0, 0x33, static_cast<uint8_t>(k + 1));
    ASSERT_TRUE(eventually(3000, [&] { return blocks_arrived(k + 1); }));
  }
  EXPECT_TRUE(eventually(5000, [&] { return ring(0).read_index.load() == 4 && ring_empty(0); }))
      << ring_text(0);
}

TEST_F(AudioOutput, FailedDeviceWrite_FreesTheSlotAtOnceAndGoesOn) {
  platform::FaultScope faults;
  platform::fault_arm(platform::FaultKind::kAudioWrite, 1);
  ASSERT_EQ(wave_play_ctrl(1), 1);
  for (int k = 0; k < 4; ++k) {
    send_sound(0, static_cast<uint8_t>(0x10 * (k + 1)), static_cast<uint8_t>(k + 1));
    ASSERT_TRUE(eventually(3000, [&] { return blocks_arrived(k + 1); }));
  }
  ASSERT_TRUE(eventually(5000, [&] { return ring(0).read_index.load() == 4 && ring_empty(0); }));
  // The first block's write failed; the other three played.
  EXPECT_EQ(wav_samples(wav_).size(), 3u * 4096u);
}

}  // namespace
}  // namespace virazav::live
