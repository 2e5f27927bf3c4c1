// The disk feeder over a disk image written by the simulated recorder, through a
// player that records every block: every row of the mode table (which chunks,
// with which arguments), single frames, refused blocks offered again with the
// mode then set or dropped at stop, the end of the data and damaged chunks, the
// start and stop results, and the "PLAYMODE" lock around every control.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "disk/disk_image.h"
#include "platform/platform.h"
#include "player/feeders.h"
#include "player/play_mode.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "support/recorded_chunks.h"
#include "test_player.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using player::DiskReader;
using player::FeedRow;

constexpr int kDrive = 6;

TEST(DiskFeedRow, EveryRowOfTheModeTable) {
  struct Row {
    int mode, speed;
    DiskReader reader;
    int step, special, code;
    bool single;
  } rows[] = {
      {1, 0, DiskReader::kData, 1, 0, 0, false},
      {1, 6, DiskReader::kData, 1, 0, 0, false},  // play ignores the speed
      {2, 0, DiskReader::kData, 1, 1, 0, false},
      {2, 1, DiskReader::kData, 1, 1, 1, false},
      {2, 3, DiskReader::kData, 1, 1, 3, false},
      {2, 4, DiskReader::kForward, 2, 1, 3, false},
      {2, 5, DiskReader::kForward, 4, 1, 3, false},
      {2, 6, DiskReader::kForward, 4, 1, 4, false},
      {2, 20, DiskReader::kForward, 4, 1, 18, false},
      {3, 1, DiskReader::kBack, 1, 1, 1, false},
      {3, 3, DiskReader::kBack, 1, 1, 3, false},
      {3, 4, DiskReader::kBackStep, 2, 1, 3, false},
      {3, 5, DiskReader::kBackStep, 4, 1, 3, false},
      {3, 7, DiskReader::kBackStep, 4, 1, 5, false},
      {4, 9, DiskReader::kData, 1, 1, 0, true},
      {5, 9, DiskReader::kBack, 1, 1, 9, true},  // the speed last set
      {5, 0, DiskReader::kBack, 1, 1, 0, true},
  };
  for (const Row& r : rows) {
    const FeedRow got = player::disk_feed_row(r.mode, r.speed);
    const std::string name = "mode " + std::to_string(r.mode) + " speed " + std::to_string(r.speed);
    EXPECT_EQ(got.reader, r.reader) << name;
    if (r.reader == DiskReader::kForward || r.reader == DiskReader::kBackStep) {
      EXPECT_EQ(got.step, r.step) << name;
    }
    EXPECT_EQ(got.special, r.special) << name;
    EXPECT_EQ(got.speed_code, r.code) << name;
    EXPECT_EQ(got.single, r.single) << name;
  }
}

class DiskFeederTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-diskfeed-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    recdisk::close_drive();
    recdisk::reset_record_index();
    player::set_disk_mode(player::kModeStop);
    player::set_mode_and_speed(nullptr, 0, 0);
  }
  void TearDown() override {
    stop_feeder();
    player::set_disk_mode(player::kModeStop);
    disk_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // One recording of 60 s, ten one-second chunks a segment.
  void make_disk(const sim::DamageOptions& damage = {}) {
    disk_ = std::make_unique<SimulatedDisk>(
        dir_, kDrive, std::vector<sim::RecordingPlan>{{60, 0, 0, false}}, damage);
    ASSERT_TRUE(disk_->ok());
    chunks_ = disk_->chunks();
    ASSERT_EQ(chunks_.size(), 60u);
  }

  // Ends the feeder and waits for it (at most 2 s): the record index is then the
  // test's own again.
  void stop_feeder() {
    hdd_read_stop();
    for (int i = 0; i < 1000 && player::disk_feeder_running(); ++i) platform::sleep_ms(2);
    ASSERT_FALSE(player::disk_feeder_running()) << "the disk feeder did not end";
  }
  // Stops, places the read position at chunk k (search_play) and starts again.
  void restart_at(size_t k) {
    stop_feeder();
    player::set_disk_mode(player::kModeStop);
    ASSERT_EQ(search_play(static_cast<int>(chunks_[k].time)), 1);
    player_.clear();
    ASSERT_EQ(hdd_read_start(), 0);
  }
  bool wait_mode_stop(int timeout_ms = 3000) {
    for (int waited = 0; player::disk_mode() != player::kModeStop; waited += 2) {
      if (waited >= timeout_ms) return false;
      platform::sleep_ms(2);
    }
    return true;
  }
  // The chunks that n reads of the row's reader deliver from chunk k on, read
  // straight from the disk reader with the feeder stopped.
  std::vector<int> reference_chunks(size_t k, const player::FeedRow& row, int n) {
    stop_feeder();
    EXPECT_EQ(search_play(static_cast<int>(chunks_[k].time)), 1);
    std::vector<uint8_t> buffer(player::kFeederBufferSize);
    std::vector<int> out;
    for (int i = 0; i < n; ++i) {
      uint32_t length = 0;
      int r = -1;
      switch (row.reader) {
        case DiskReader::kData:
          r = recdisk::read_data(buffer.data(), &length);
          break;
        case DiskReader::kForward:
          r = recdisk::read_data_forward(buffer.data(), &length, row.step);
          break;
        case DiskReader::kBack:
          r = recdisk::read_data_back(buffer.data(), &length);
          break;
        case DiskReader::kBackStep:
          r = recdisk::read_data_back_step(buffer.data(), &length, row.step);
          break;
      }
      EXPECT_EQ(r, 0);
      PlayerCall call;
      call.data.assign(buffer.begin(), buffer.begin() + length);
      out.push_back(chunk_of(call));
    }
    return out;
  }
  // The chunk a taken block equals, or -1.
  int chunk_of(const PlayerCall& call) const {
    for (size_t k = 0; k < chunks_.size(); ++k)
      if (call.data == chunks_[k].packets) return static_cast<int>(k);
    return -1;
  }

  RecordingPlayer player_;
  std::string dir_;
  std::unique_ptr<SimulatedDisk> disk_;
  std::vector<RecordedChunk> chunks_;
};

TEST_F(DiskFeederTest, StartAndStopResults) {
  EXPECT_EQ(hdd_read_stop(), -1) << "nothing runs";
  ASSERT_EQ(hdd_read_start(), 0);
  EXPECT_EQ(hdd_read_start(), -1) << "already running";
  // A mode the table does not know is passed over; the stop sets the mode to 0.
  player::set_disk_mode(7);
  platform::sleep_ms(20);
  EXPECT_EQ(player_.offers().size(), 0u);
  EXPECT_EQ(hdd_read_stop(), 0);
  stop_feeder();
  EXPECT_EQ(player::disk_mode(), player::kModeStop);
  EXPECT_EQ(hdd_read_stop(), -1);
  EXPECT_EQ(hdd_read_start(), 0) << "a new feeder after the old one ended";
}

TEST_F(DiskFeederTest, PlayOffersEveryChunkInOrderAsNormalPlay) {
  make_disk();
  ASSERT_EQ(hdd_read_start(), 0);
  ASSERT_EQ(hdd_play_start(), 0);
  ASSERT_TRUE(player_.wait_taken(12));
  hdd_play_stop();
  stop_feeder();
  const std::vector<PlayerCall> taken = player_.taken();
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(taken[i].a, 0) << "ring";
    EXPECT_EQ(taken[i].b, static_cast<int>(chunks_[i].packets.size())) << "block " << i;
    EXPECT_EQ(taken[i].c, 0) << "special, block " << i;
    EXPECT_EQ(taken[i].d, 0) << "speed code, block " << i;
    EXPECT_TRUE(taken[i].data == chunks_[i].packets)
        << "block " << i << " is chunk " << chunk_of(taken[i]);
  }
  EXPECT_EQ(player_.count(PlayerOp::kSoundChange), 1);
  EXPECT_EQ(player_.calls()[0].op, PlayerOp::kSoundChange)
      << "the change comes before the first block";
  EXPECT_EQ(player_.calls()[0].a, 1);
}

TEST_F(DiskFeederTest, ForwardAndBackSpeedsPickChunksAndCodes) {
  make_disk();
  struct Row {
    bool forward;
    int speed, step, code;
  } rows[] = {
      {true, 1, 1, 1},  {true, 2, 1, 2},  {true, 3, 1, 3},  {true, 4, 2, 3},
      {true, 5, 4, 3},  {true, 6, 4, 4},  {false, 1, 1, 1}, {false, 3, 1, 3},
      {false, 4, 2, 3}, {false, 5, 4, 3}, {false, 6, 4, 4},
  };
  for (const Row& r : rows) {
    const std::string name =
        std::string(r.forward ? "forward" : "back") + " speed " + std::to_string(r.speed);
    const size_t from = r.forward ? 2 : 50;
    // The chunks the table's reader delivers from there, read without the feeder.
    const std::vector<int> want =
        reference_chunks(from, player::disk_feed_row(r.forward ? 2 : 3, r.speed), 5);
    if (r.forward) {
      for (int i = 0; i < 5; ++i) EXPECT_EQ(want[i], 2 + i * r.step) << name;
    } else {
      EXPECT_EQ(want[0], 50) << name;
      for (int i = 1; i < 5; ++i) EXPECT_LT(want[i], want[i - 1]) << name;
    }
    restart_at(from);
    ASSERT_EQ(r.forward ? hdd_play_forward(r.speed) : hdd_play_back(r.speed), 0);
    EXPECT_EQ(player::play_speed(), r.speed);
    ASSERT_TRUE(player_.wait_taken(5)) << name;
    hdd_play_stop();
    stop_feeder();
    const std::vector<PlayerCall> taken = player_.taken();
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(chunk_of(taken[i]), want[i]) << name << ", block " << i;
      EXPECT_EQ(taken[i].c, 1) << name;
      EXPECT_EQ(taken[i].d, r.code) << name;
    }
  }
}

TEST_F(DiskFeederTest, SingleFramesOfferOneChunkAndStop) {
  make_disk();
  restart_at(10);
  ASSERT_EQ(hdd_one_play(), 0);
  ASSERT_TRUE(player_.wait_taken(1));
  ASSERT_TRUE(wait_mode_stop());
  ASSERT_EQ(hdd_one_play(), 0);
  ASSERT_TRUE(player_.wait_taken(2));
  ASSERT_TRUE(wait_mode_stop());
  platform::sleep_ms(30);
  std::vector<PlayerCall> taken = player_.taken();
  ASSERT_EQ(taken.size(), 2u) << "one block a frame";
  EXPECT_EQ(chunk_of(taken[0]), 10);
  EXPECT_EQ(chunk_of(taken[1]), 11);
  for (const PlayerCall& c : taken) {
    EXPECT_EQ(c.c, 1);
    EXPECT_EQ(c.d, 0);
  }

  // One frame back carries the speed a forward or back call set last.
  stop_feeder();
  ASSERT_EQ(search_play(static_cast<int>(chunks_[30].time)), 1);
  player_.clear();
  hdd_play_forward(6);
  hdd_one_back();
  EXPECT_EQ(player::disk_mode(), player::kModeOneBack);
  ASSERT_EQ(hdd_read_start(), 0);
  ASSERT_TRUE(player_.wait_taken(1));
  ASSERT_TRUE(wait_mode_stop());
  platform::sleep_ms(30);
  taken = player_.taken();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(chunk_of(taken[0]), 30);
  EXPECT_EQ(taken[0].c, 1);
  EXPECT_EQ(taken[0].d, 6);
}

TEST_F(DiskFeederTest, RefusedBlocksAreOfferedAgainWithTheModeThenSet) {
  make_disk();
  restart_at(0);
  player_.refuse_next(3);
  hdd_play_start();
  ASSERT_TRUE(player_.wait_taken(2));
  std::vector<PlayerCall> offers = player_.offers();
  ASSERT_GE(offers.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(chunk_of(offers[i]), 0) << "offer " << i << " repeats the refused chunk";
    EXPECT_EQ(offers[i].taken, i == 3);
  }
  EXPECT_EQ(chunk_of(offers[4]), 1);

  // Refused in forward play, then the mode changes to back: the same block,
  // now with back's arguments, and one sound change for the change.
  restart_at(20);
  player_.refuse_all(true);
  hdd_play_forward(2);
  ASSERT_TRUE(player_.wait_offers(2));
  hdd_play_back(3);
  for (int i = 0; i < 500 && player_.offers().back().d != 3; ++i) platform::sleep_ms(2);
  player_.refuse_all(false);
  ASSERT_TRUE(player_.wait_taken(2));
  hdd_play_stop();
  stop_feeder();
  offers = player_.offers();
  const std::vector<PlayerCall> taken = player_.taken();
  for (const PlayerCall& o : offers) {
    if (!o.taken) {
      EXPECT_EQ(chunk_of(o), 20) << "refused offers all carry the first block";
    }
  }
  EXPECT_EQ(chunk_of(taken[0]), 20);
  EXPECT_EQ(taken[0].c, 1);
  EXPECT_EQ(taken[0].d, 3) << "offered with the mode set when it was taken";
  // Back play reads from the read cursor, which the forward read left after chunk 20.
  EXPECT_EQ(chunk_of(taken[1]), 21);
  EXPECT_EQ(player_.count(PlayerOp::kSoundChange), 2);
}

TEST_F(DiskFeederTest, StopDropsARefusedBlock) {
  make_disk();
  restart_at(0);
  player_.refuse_all(true);
  hdd_play_start();
  ASSERT_TRUE(player_.wait_offers(3));
  hdd_play_stop();
  // Once the offers stop, the feeder has seen the stop.
  size_t n = 0;
  for (int i = 0; i < 100 && player_.offers().size() != n; ++i) {
    n = player_.offers().size();
    platform::sleep_ms(20);
  }
  player_.refuse_all(false);
  hdd_play_start();
  ASSERT_TRUE(player_.wait_taken(1));
  EXPECT_EQ(chunk_of(player_.taken()[0]), 1) << "the refused chunk 0 was dropped";
  EXPECT_EQ(player_.count(PlayerOp::kSoundChange), 2) << "stop, then play again is a change";
}

TEST_F(DiskFeederTest, EndOfDataStopsPlaybackButNotTheFeeder) {
  make_disk();
  restart_at(56);
  hdd_play_start();
  ASSERT_TRUE(player_.wait_taken(4));
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_TRUE(player::disk_feeder_running());
  platform::sleep_ms(30);
  const std::vector<PlayerCall> taken = player_.taken();
  ASSERT_EQ(taken.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(chunk_of(taken[i]), 56 + i);
}

TEST_F(DiskFeederTest, DamagedChunksStopPlaybackAndPlayGoesOnAfterThem) {
  sim::DamageOptions damage;
  damage.unknown_markers.push_back(sim::ChunkRef{0, 3, 1});
  damage.oversize_chunks.push_back(sim::ChunkRef{1, 2, 0});
  make_disk(damage);
  restart_at(0);
  hdd_play_start();
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_TRUE(player::disk_feeder_running());
  std::vector<PlayerCall> taken = player_.taken();
  ASSERT_EQ(taken.size(), 3u) << "chunks 0..2, then the unknown marker of chunk 3";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(chunk_of(taken[i]), i);

  hdd_play_start();
  ASSERT_TRUE(wait_mode_stop());
  platform::sleep_ms(20);
  taken = player_.taken();
  ASSERT_EQ(taken.size(), 11u) << "chunks 4..11, then the oversize chunk 12";
  EXPECT_EQ(chunk_of(taken[3]), 4);
  EXPECT_EQ(chunk_of(taken[10]), 11);
  hdd_play_start();
  ASSERT_TRUE(player_.wait_taken(12));
  EXPECT_EQ(chunk_of(player_.taken()[11]), 13);
}

TEST(PlayControls, EveryWriteWaitsForThePlaymodeLock) {
  using Control = int (*)();
  struct Row {
    const char* name;
    Control call;
    std::atomic<int32_t>* word;
    int32_t mode, speed;
  } rows[] = {
      {"hdd_play_start", [] { return hdd_play_start(); }, &player::disk_mode_word(), 1, -1},
      {"hdd_play_forward", [] { return hdd_play_forward(5); }, &player::disk_mode_word(), 2, 5},
      {"hdd_play_back", [] { return hdd_play_back(7); }, &player::disk_mode_word(), 3, 7},
      {"hdd_one_play", [] { return hdd_one_play(); }, &player::disk_mode_word(), 4, -1},
      {"hdd_one_back", [] { return hdd_one_back(); }, &player::disk_mode_word(), 5, -1},
      {"hdd_play_stop", [] { return hdd_play_stop(); }, &player::disk_mode_word(), 0, -1},
      {"file_play_start", [] { return file_play_start(); }, &player::file_mode_word(), 1, -1},
      {"file_play_forward", [] { return file_play_forward(2); }, &player::file_mode_word(), 2, 2},
      {"file_play_back", [] { return file_play_back(9); }, &player::file_mode_word(), 3, 9},
      {"file_one_play", [] { return file_one_play(); }, &player::file_mode_word(), 4, -1},
      {"file_one_back", [] { return file_one_back(); }, &player::file_mode_word(), 5, -1},
      {"file_play_stop", [] { return file_play_stop(); }, &player::file_mode_word(), 0, -1},
  };
  for (const Row& r : rows) {
    r.word->store(99);
    player::set_mode_and_speed(nullptr, 0, 1234);
    platform::NamedMutex& lock = player::playmode_mutex();
    lock.lock();
    std::atomic<int> result{-99};
    std::thread caller([&] { result = r.call(); });
    platform::sleep_ms(30);
    EXPECT_EQ(result.load(), -99) << r.name << " returned while the lock was held";
    EXPECT_EQ(r.word->load(), 99) << r.name << " wrote without the lock";
    lock.unlock();
    caller.join();
    EXPECT_EQ(result.load(), 0) << r.name;
    EXPECT_EQ(r.word->load(), r.mode) << r.name;
    EXPECT_EQ(player::play_speed(), r.speed < 0 ? 1234 : r.speed) << r.name;
  }
  player::set_disk_mode(0);
  player::set_file_mode(0);
}

}  // namespace
}  // namespace virazav::testing
