// The own player behind its table: what the ring takes and refuses, the viewer
// modes and what they report, the sound settings, the decoder error flag on
// bad blocks, and the sound of normal play written to a WAV device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "format/bytes.h"
#include "media/media.h"
#include "media_disk.h"
#include "player/own/player_state.h"
#include "player/player_library.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using player::own_player;

uint64_t blocks_walked() {
  return player::own::player_state().counters.blocks.load();
}

class OwnPlayerTable : public ::testing::Test {
 protected:
  void SetUp() override {
    player::set_player_library(nullptr);
    ASSERT_EQ(own_player().open(0, 0, 0, 0), 0);
  }
  void TearDown() override {
    own_player().stop_play_thread();
    player::own::set_unpaced(false);
  }
  const player::PlayerLibrary& p = own_player();
};

TEST_F(OwnPlayerTable, Ring_TakesBlocksUpToEightAndRefusesMoreUntilTheThreadTakesThem) {
  // A first block of fast play: the thread takes it and pauses 500 ms after
  // it (speed code 1), so the ring fills meanwhile.
  std::vector<uint8_t> block(1000, 0);
  const uint64_t walked = blocks_walked();
  ASSERT_EQ(p.add_ring(0, block.data(), 1000, 1, 1), 0);
  ASSERT_TRUE(wait_until([&] { return blocks_walked() > walked; }));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(p.add_ring(0, block.data(), 1000, 1, 1), 0) << i;
  EXPECT_EQ(p.add_ring(0, block.data(), 1000, 1, 1), 1) << "a ninth block";
  // The pause ends and the thread takes the next block: room for one more.
  ASSERT_TRUE(wait_until([&] { return p.add_ring(0, block.data(), 1000, 1, 1) == 0; }, 2000));
  // A change to normal play drops what fast play queued.
  EXPECT_EQ(p.add_ring(0, block.data(), 1000, 0, 0), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p.add_ring(0, block.data(), 1000, 0, 0), 0) << i;
}

TEST_F(OwnPlayerTable, Ring_RefusesBadArgumentsAndEverythingWhileStopped) {
  std::vector<uint8_t> block(64, 0);
  EXPECT_EQ(p.add_ring(1, block.data(), 64, 0, 0), -1);
  EXPECT_EQ(p.add_ring(-1, block.data(), 64, 0, 0), -1);
  EXPECT_EQ(p.add_ring(0, nullptr, 64, 0, 0), -1);
  EXPECT_EQ(p.add_ring(0, block.data(), 0, 0, 0), -1);
  EXPECT_EQ(p.add_ring(0, block.data(), -5, 0, 0), -1);
  // 16 MiB in all: a block above it can never be taken.
  std::vector<uint8_t> big((16u << 20) + 1, 0);
  EXPECT_EQ(p.add_ring(0, big.data(), static_cast<int>(big.size()), 0, 0), -1);
  p.stop_play_thread();
  EXPECT_EQ(p.add_ring(0, block.data(), 64, 0, 0), 1);
  ASSERT_EQ(Zel_play_open(0, 0, 0, 0), 0);
  EXPECT_EQ(p.add_ring(0, block.data(), 64, 0, 0), 0);
}

// The ring's bounds without a thread taking from it: eight blocks, or 16 MiB,
// whichever comes first; a change between normal and fast play drops the queue.
TEST(OwnPlayerRing, HoldsEightBlocksOr16MiBAndDropsOnAChangeOfPlay) {
  player::own::BlockRing ring;
  std::vector<uint8_t> bytes(9u << 20, 1);
  EXPECT_EQ(ring.offer(bytes.data(), 64, 0, 0), player::own::kOfferFull) << "closed";
  ring.set_open(true);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ring.offer(bytes.data(), 64, 0, 0), 0) << i;
  EXPECT_EQ(ring.offer(bytes.data(), 64, 0, 0), player::own::kOfferFull) << "ninth block";
  const uint64_t generation = ring.generation();
  EXPECT_EQ(ring.offer(bytes.data(), 9 << 20, 1, 3), 0) << "fast play drops the queue";
  EXPECT_NE(ring.generation(), generation);
  EXPECT_EQ(ring.offer(bytes.data(), 9 << 20, 1, 3), player::own::kOfferFull) << "18 MiB";
  EXPECT_EQ(ring.offer(bytes.data(), 7 << 20, 1, 3), 0) << "exactly 16 MiB";
  player::own::Block b;
  ASSERT_TRUE(ring.take(&b, 0));
  EXPECT_EQ(b.length, 9u << 20);
  EXPECT_EQ(b.special, 1);
  EXPECT_EQ(b.speed, 3);
  ASSERT_TRUE(ring.take(&b, 0));
  EXPECT_EQ(b.length, 7u << 20);
  EXPECT_FALSE(ring.take(&b, 1));
  ring.set_open(false);
  EXPECT_EQ(ring.offer(bytes.data(), 64, 1, 3), player::own::kOfferFull);
}

TEST_F(OwnPlayerTable, ViewerModes_ReportTheirLayoutAndRefuseArgumentsOutOfRange) {
  struct Row {
    int a, b, result, layout, first, second;
  };
  const Row rows[] = {
      {0, 99, 0, 4, 1, 2},  {1, 0, 0, 1, 1, 1},  {4, 7, 0, 1, 4, 4},   {5, 0, 0, 2, 1, 1},
      {5, 9, 0, 2, 2, 3},   {5, 15, 0, 2, 4, 4}, {5, 16, -2, 2, 4, 4}, {5, -1, -2, 2, 4, 4},
      {6, 3, 0, 2, 4, 4},   {6, 4, -2, 2, 4, 4}, {7, 4, 0, 2, 4, 4},   {7, 5, -2, 2, 4, 4},
      {7, -1, -2, 2, 4, 4}, {8, 0, -1, 2, 4, 4}, {-1, 0, -1, 2, 4, 4}, {0, 0, 0, 4, 1, 2},
  };
  std::vector<uint8_t> pixels(1013761);
  for (const Row& r : rows) {
    EXPECT_EQ(p.set_viewer_mode(r.a, r.b), r.result) << r.a << "," << r.b;
    int layout = 0, first = 0, second = 0;
    p.get_bmpdata(&layout, &first, &second, pixels.data(), nullptr);
    EXPECT_EQ(layout, r.layout) << r.a << "," << r.b;
    EXPECT_EQ(first, r.first) << r.a << "," << r.b;
    EXPECT_EQ(second, r.second) << r.a << "," << r.b;
  }
  // The export refuses a mode outside 0..7 itself, with the same -1.
  EXPECT_EQ(Zel_set_viewer_mode(8, 0), -1);
  // Opening again sets the first values back.
  ASSERT_EQ(p.set_viewer_mode(2, 0), 0);
  ASSERT_EQ(p.set_viewer_mode(6, 2), 0);
  ASSERT_EQ(p.open(0, 0, 0, 0), 0);
  int layout = 0, first = 0, second = 0;
  p.get_bmpdata(&layout, &first, &second, pixels.data(), nullptr);
  EXPECT_EQ(layout, 4);
  EXPECT_EQ(player::own::player_state().viewer.group.load(), 0);
  EXPECT_EQ(player::own::player_state().viewer.sound_channel.load(), 1);
}

TEST_F(OwnPlayerTable, NoPicturesYet_CompositeIsBlackAndChannelCallsSayNoPicture) {
  std::vector<uint8_t> pixels(1013761, 0xAB);
  int layout = 0, first = 0, second = 0;
  p.get_bmpdata(&layout, &first, &second, pixels.data(), nullptr);
  for (size_t i = 0; i < 1013760; ++i) ASSERT_EQ(pixels[i], 0) << "byte " << i;
  std::vector<uint8_t> buffer(704 * 576 * 3);
  int w = -7, h = -7;
  EXPECT_EQ(p.get_ch_bmp(1, buffer.data(), &w, &h), 1);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(p.get_ch_bmp(0, buffer.data(), &w, &h), -1);
  EXPECT_EQ(p.get_ch_bmp(5, buffer.data(), &w, &h), -1);
}

TEST_F(OwnPlayerTable, Mute_ReturnsThePreviousValue) {
  EXPECT_EQ(audio_set(1), 0);
  EXPECT_EQ(audio_set(1), 1);
  EXPECT_EQ(audio_set(0), 1);
  EXPECT_EQ(audio_set(0), 0);
  ASSERT_EQ(audio_set(1), 0);
  ASSERT_EQ(Zel_play_open(0, 0, 0, 0), 0);
  EXPECT_EQ(audio_set(0), 0) << "open unmutes";
}

// Bad blocks: the walk stops at the damage, the error flag goes up, and the
// player goes on with the next block.
class OwnPlayerBadInput : public OwnPlayerTable {
 protected:
  void SetUp() override {
    OwnPlayerTable::SetUp();
    disk_ = std::make_unique<MediaDisk>(cwd_.path(), 4, 3);
    ASSERT_TRUE(disk_->ok());
  }
  // Offers a block (normal play) and waits until the thread has walked it.
  void feed(const std::vector<uint8_t>& block) {
    const uint64_t walked = blocks_walked();
    ASSERT_EQ(p.add_ring(0, block.data(), static_cast<int>(block.size()), 0, 0), 0);
    ASSERT_TRUE(wait_until([&] { return blocks_walked() > walked; }));
  }
  std::vector<uint8_t> first_packet() const {
    const std::vector<uint8_t>& c = disk_->chunks().at(0).packets;
    const size_t n = 48 + format::load_le32(c.data() + 16);
    return std::vector<uint8_t>(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(n));
  }
  TempCwd cwd_;
  std::unique_ptr<MediaDisk> disk_;
};

TEST_F(OwnPlayerBadInput, RandomBytes_SetTheErrorFlagUntilCleared) {
  player::own::set_unpaced(true);
  std::mt19937 rng(8);
  std::vector<uint8_t> noise(50000);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
  feed(noise);
  EXPECT_EQ(get_dec_sts(), 1);
  EXPECT_EQ(clear_dec_err(), 0);
  EXPECT_EQ(get_dec_sts(), 0);
  // A good block after it shows its pictures without a new error.
  const uint64_t shown = player::own::pictures_shown();
  feed(disk_->chunks().at(1).packets);
  EXPECT_GT(player::own::pictures_shown(), shown);
  EXPECT_EQ(get_dec_sts(), 0);
  player::own::set_unpaced(false);
}

TEST_F(OwnPlayerBadInput, DamagedPackets_EachSetTheErrorFlag) {
  player::own::set_unpaced(true);
  struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> apply;
  };
  const Damage damages[] = {
      {"payload length past the block", [](std::vector<uint8_t>& b) { b[16] = 0xFF; }},
      {"unknown marker", [](std::vector<uint8_t>& b) { b[0] = 0x34; }},
      {"payload without a start code", [](std::vector<uint8_t>& b) { b[48 + 2] = 7; }},
      {"sound marker on a picture", [](std::vector<uint8_t>& b) { b[0] = 0xFF, b[1] = 0xFC; }},
      {"cut inside the header", [](std::vector<uint8_t>& b) { b.resize(30); }},
      {"picture bytes garbled",
       [](std::vector<uint8_t>& b) {
         for (size_t i = 48 + 40; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7);
       }},
  };
  for (const Damage& d : damages) {
    ASSERT_EQ(clear_dec_err(), 0);
    std::vector<uint8_t> block = first_packet();
    d.apply(block);
    feed(block);
    EXPECT_EQ(get_dec_sts(), 1) << d.what;
  }
  // An end marker or zeros after the packets end the block cleanly.
  ASSERT_EQ(clear_dec_err(), 0);
  std::vector<uint8_t> block = first_packet();
  block.insert(block.end(), 48, 0);
  feed(block);
  block = first_packet();
  block.insert(block.end(), {0xFF, 0xFF, 1, 2, 3});
  feed(block);
  EXPECT_EQ(get_dec_sts(), 0);
  player::own::set_unpaced(false);
}

TEST_F(OwnPlayerBadInput, OneFrameViewOfAFileThatIsNoRecording_IsADecoderError) {
  std::vector<uint8_t> text(3000, 'x');
  ASSERT_TRUE(write_file("note.txt", text));
  const uint64_t walked = blocks_walked();
  ASSERT_EQ(one_farme_view("note.txt", 0), 0);
  ASSERT_TRUE(wait_until([&] { return blocks_walked() > walked; }));
  EXPECT_EQ(get_dec_sts(), 1);
}

TEST_F(OwnPlayerBadInput, SetInitAgain_PassesOverPicturesUntilTheNextKeyPicture) {
  player::own::set_unpaced(true);
  // The first chunk's packets, and the same without its key pictures.
  feed(disk_->chunks().at(0).packets);
  const uint64_t shown = player::own::pictures_shown();
  ASSERT_GT(shown, 0u);
  std::vector<uint8_t> predicted;
  const std::vector<uint8_t>& c = disk_->chunks().at(1).packets;
  for (size_t at = 0; at + 48 <= c.size();) {
    const size_t n = 48 + format::load_le32(c.data() + at + 16);
    if (c[at + 3] != 1) predicted.insert(predicted.end(), c.begin() + at, c.begin() + at + n);
    at += n;
  }
  ASSERT_EQ(set_init_dec(), 0);
  feed(predicted);
  EXPECT_EQ(player::own::pictures_shown(), shown) << "no picture before a key picture";
  feed(disk_->chunks().at(2).packets);
  EXPECT_GT(player::own::pictures_shown(), shown);
  EXPECT_EQ(get_dec_sts(), 0);
  player::own::set_unpaced(false);
}

// The sound of normal play through VIRAZAV_AUDIO=wav:.
class OwnPlayerSound : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = std::make_unique<MediaDisk>(cwd_.path(), 4, 8);
    ASSERT_TRUE(disk_->ok());
    wav_ = cwd_.path() + "/out.wav";
    ::setenv("VIRAZAV_AUDIO", ("wav:" + wav_).c_str(), 1);
    player::set_player_library(nullptr);
    ASSERT_EQ(Zel_play_open(0, 0, 0, 0), 0);
  }
  void TearDown() override {
    end_feeders();
    play_end();
    ::unsetenv("VIRAZAV_AUDIO");
  }
  TempCwd cwd_;
  std::unique_ptr<MediaDisk> disk_;
  std::string wav_;
};

// The frequency of a tone from its rising zero crossings.
double tone_hz(const std::vector<uint8_t>& wav) {
  const size_t samples = (wav.size() - 44) / 2;
  int crossings = 0;
  int16_t prev = 0;
  size_t first = 0, last = 0;
  for (size_t i = 0; i < samples; ++i) {
    const int16_t s = static_cast<int16_t>(format::load_le16(wav.data() + 44 + 2 * i));
    if (prev < 0 && s >= 0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
    prev = s;
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * 8000.0 / static_cast<double>(last - first);
}

TEST_F(OwnPlayerSound, NormalPlay_WritesTheChosenChannelsToneAtItsPace) {
  ASSERT_EQ(Zel_set_viewer_mode(7, 2), 0);  // the sound of player channel 2: audio channel 1
  ASSERT_EQ(playfile(disk_->data_path().c_str(), disk_->index_path().c_str(), 0), 0);
  const uint64_t before = player::own::player_state().counters.sound_packets.load();
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(file_play_start(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  const uint64_t packets = player::own::player_state().counters.sound_packets.load() - before;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  file_play_stop();
  play_end();  // closes the device: the WAV file gets its final header
  // One packet every 0.512 s of playing, not the whole recording at once.
  EXPECT_NEAR(static_cast<double>(packets), seconds / 0.512, 2.0);
  const std::vector<uint8_t> wav = read_file(wav_);
  ASSERT_GT(wav.size(), 44u + 8192u);
  // The device writes what it has played: every queued packet but the last few.
  const double played = static_cast<double>(wav.size() - 44) / 8192.0;
  EXPECT_LE(played, static_cast<double>(packets));
  EXPECT_GE(played, static_cast<double>(packets) - 2.0);
  EXPECT_NEAR(tone_hz(wav), sim::tone_frequency(1), 0.02 * sim::tone_frequency(1));
}

TEST_F(OwnPlayerSound, MutedOrNoSoundChannel_WritesNothing) {
  std::atomic<uint64_t>& packets = player::own::player_state().counters.sound_packets;
  const uint64_t before = packets.load();
  ASSERT_EQ(audio_set(1), 0);
  ASSERT_EQ(playfile(disk_->data_path().c_str(), disk_->index_path().c_str(), 0), 0);
  ASSERT_EQ(file_play_start(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(packets.load(), before);
  ASSERT_EQ(audio_set(0), 1);
  ASSERT_EQ(Zel_set_viewer_mode(7, 0), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(packets.load(), before);
  ASSERT_EQ(Zel_set_viewer_mode(7, 1), 0);
  EXPECT_TRUE(wait_until([&] { return packets.load() > before; }, 2000));
}

}  // namespace
}  // namespace virazav::testing
