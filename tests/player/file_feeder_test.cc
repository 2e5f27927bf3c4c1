// The file feeder through a player that records every block: play, forward,
// back and single frames over data and index files written here and over a copy
// written from a simulated recorder's disk; refused blocks; the time search;
// playfile replacing a running feeder; bad pairs (empty, short or out-of-order
// index, truncated data, oversize chunks); the single-file view and playtest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "platform/platform.h"
#include "player/copy_thread.h"
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

// A data file and its index file, with the chunks and times they hold.
struct FilePair {
  std::string data, index;
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<uint32_t> times;  // time numbers of the entries
  std::vector<uint8_t> bytes;   // the data file as written
};

struct PairShape {
  PairShape(std::vector<size_t> chunk_sizes, std::vector<int64_t> offsets = {},
            std::vector<int> seconds = {}, int64_t cut = -1)
      : sizes(std::move(chunk_sizes)),
        offset_override(std::move(offsets)),
        time_override(std::move(seconds)),
        data_size(cut) {}
  std::vector<size_t> sizes;             // chunk sizes
  std::vector<int64_t> offset_override;  // entry offsets instead of the chunks' own
  std::vector<int> time_override;        // seconds after the start instead of k
  int64_t data_size = -1;                // cut the data file to this many bytes
};

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

FilePair write_pair(const std::string& dir, const std::string& name, const PairShape& shape) {
  FilePair pair;
  pair.data = dir + "/" + name + ".dat";
  pair.index = dir + "/" + name + ".index";
  std::vector<uint8_t> data, index;
  const Stamp start{24, 6, 3, 12, 30, 0};
  for (size_t k = 0; k < shape.sizes.size(); ++k) {
    std::vector<uint8_t> chunk(shape.sizes[k]);
    for (size_t i = 0; i < chunk.size(); ++i)
      chunk[i] = static_cast<uint8_t>(k * 41 + i * 7 + (i >> 9));
    const uint64_t offset = k < shape.offset_override.size()
                                ? static_cast<uint64_t>(shape.offset_override[k])
                                : data.size();
    const int seconds =
        k < shape.time_override.size() ? shape.time_override[k] : static_cast<int>(k);
    const Stamp t = add_seconds(start, seconds);
    uint8_t entry[24] = {};
    for (int b = 0; b < 8; ++b) entry[b] = static_cast<uint8_t>(offset >> (8 * b));
    const uint8_t stamp[6] = {static_cast<uint8_t>(t.year),   static_cast<uint8_t>(t.month),
                              static_cast<uint8_t>(t.day),    static_cast<uint8_t>(t.hour),
                              static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.second)};
    std::copy(stamp, stamp + 6, entry + 8);
    index.insert(index.end(), entry, entry + 24);
    data.insert(data.end(), chunk.begin(), chunk.end());
    pair.chunks.push_back(std::move(chunk));
    pair.times.push_back(stamp_number(t));
  }
  if (shape.data_size >= 0) data.resize(static_cast<size_t>(shape.data_size));
  write_file(pair.data, data);
  pair.bytes = data;
  write_file(pair.index, index);
  return pair;
}

class FileFeederTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-filefeed-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    player::set_disk_mode(player::kModeStop);
    player::set_file_mode(player::kModeStop);
  }
  void TearDown() override {
    player_.refuse_all(false);
    stop_feeder();
    player::set_file_mode(player::kModeStop);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void stop_feeder() {
    file_read_stop();
    for (int i = 0; i < 1500 && player::file_feeder_running(); ++i) platform::sleep_ms(2);
    ASSERT_FALSE(player::file_feeder_running()) << "the file feeder did not end";
  }
  FilePair five_chunks() { return write_pair(dir_, "five", PairShape{{300, 1000, 64, 4096, 777}}); }
  void play(const FilePair& pair) {
    ASSERT_EQ(playfile(pair.data.c_str(), pair.index.c_str(), 0), 0);
    ASSERT_TRUE(player::file_feeder_running());
  }
  bool wait_mode_stop(int timeout_ms = 3000) {
    for (int waited = 0; player::file_mode() != player::kModeStop; waited += 2) {
      if (waited >= timeout_ms) return false;
      platform::sleep_ms(2);
    }
    // The feeder finishes the block in hand before it idles.
    platform::sleep_ms(30);
    return true;
  }
  // Index of the chunk a block equals, or -1.
  static int chunk_of(const FilePair& pair, const PlayerCall& call) {
    for (size_t k = 0; k < pair.chunks.size(); ++k)
      if (call.data == pair.chunks[k]) return static_cast<int>(k);
    return -1;
  }
  std::vector<int> taken_chunks(const FilePair& pair) const {
    std::vector<int> v;
    for (const PlayerCall& c : player_.taken()) v.push_back(chunk_of(pair, c));
    return v;
  }

  RecordingPlayer player_;
  std::string dir_;
};

TEST_F(FileFeederTest, PlayOffersEveryChunkAndStaysAtTheLast) {
  const FilePair pair = five_chunks();
  play(pair);
  uint32_t start = 0, end = 0;
  EXPECT_EQ(file_read_start_end_sec(&start, &end), 0);
  EXPECT_EQ(start, pair.times[0]);
  EXPECT_EQ(end, pair.times[4]);
  EXPECT_EQ(file_read_start_end_sec(nullptr, nullptr), 0);
  ASSERT_EQ(file_play_start(), 0);
  ASSERT_TRUE(player_.wait_taken(5));
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_EQ(taken_chunks(pair), (std::vector<int>{0, 1, 2, 3, 4}));
  for (const PlayerCall& c : player_.taken()) {
    EXPECT_EQ(c.a, 0);
    EXPECT_EQ(c.c, 0);
    EXPECT_EQ(c.d, 0);
  }
  // Play again: the position stayed at the last chunk.
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(6));
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_EQ(taken_chunks(pair), (std::vector<int>{0, 1, 2, 3, 4, 4}));
  EXPECT_EQ(player_.count(PlayerOp::kSoundChange), 2);
}

TEST_F(FileFeederTest, ForwardDeliversEveryChunkWithTheSpeed) {
  const FilePair pair = five_chunks();
  play(pair);
  file_play_forward(6);
  ASSERT_TRUE(player_.wait_taken(5));
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_EQ(taken_chunks(pair), (std::vector<int>{0, 1, 2, 3, 4}));
  for (const PlayerCall& c : player_.taken()) {
    EXPECT_EQ(c.c, 1);
    EXPECT_EQ(c.d, 6);
  }
}

TEST_F(FileFeederTest, BackPlaysToTheFirstChunkAndRewinds) {
  const FilePair pair = five_chunks();
  play(pair);
  ASSERT_EQ(file_search(static_cast<int>(pair.times[3])), 0);
  EXPECT_EQ(player::file_current_entry(), 3);
  file_play_back(2);
  ASSERT_TRUE(player_.wait_taken(3));
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_EQ(taken_chunks(pair), (std::vector<int>{2, 1, 0}));
  for (const PlayerCall& c : player_.taken()) {
    EXPECT_EQ(c.c, 1);
    EXPECT_EQ(c.d, 2);
  }
  EXPECT_EQ(player::file_current_entry(), 0);
  // At the first chunk back play stops at once, and play starts from chunk 0.
  file_play_back(2);
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_EQ(player_.taken().size(), 3u);
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(4));
  EXPECT_EQ(taken_chunks(pair)[3], 0);
}

TEST_F(FileFeederTest, SingleFramesStepOneChunkWithSpeedZero) {
  const FilePair pair = five_chunks();
  play(pair);
  ASSERT_EQ(file_search(static_cast<int>(pair.times[2])), 0);
  hdd_play_forward(5);  // the shared speed, set by the disk's control
  hdd_play_stop();
  file_one_play();
  ASSERT_TRUE(player_.wait_taken(1));
  ASSERT_TRUE(wait_mode_stop());
  file_one_play();
  ASSERT_TRUE(player_.wait_taken(2));
  ASSERT_TRUE(wait_mode_stop());
  file_one_back();
  ASSERT_TRUE(player_.wait_taken(3));
  ASSERT_TRUE(wait_mode_stop());
  file_one_back();
  ASSERT_TRUE(player_.wait_taken(4));
  ASSERT_TRUE(wait_mode_stop());
  // Forward steps deliver chunks 2 and 3 and leave entry 4 current; each back
  // step delivers the chunk before the current entry.
  EXPECT_EQ(taken_chunks(pair), (std::vector<int>{2, 3, 3, 2}));
  for (const PlayerCall& c : player_.taken()) {
    EXPECT_EQ(c.c, 1);
    EXPECT_EQ(c.d, 0) << "one frame back passes 0, not the speed";
  }
  EXPECT_EQ(player::file_current_entry(), 2);
}

TEST_F(FileFeederTest, SingleEntryIndexPlaysTheWholeFileAsOneChunk) {
  // The range of an earlier file stays when the index has a single entry.
  const FilePair earlier = five_chunks();
  play(earlier);
  const FilePair single = write_pair(dir_, "single", PairShape{{5000}});
  play(single);
  uint32_t start = 0, end = 0;
  file_read_start_end_sec(&start, &end);
  EXPECT_EQ(start, earlier.times[0]);
  EXPECT_EQ(end, earlier.times[4]);
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(1));
  ASSERT_TRUE(wait_mode_stop());
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(2));
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_EQ(taken_chunks(single), (std::vector<int>{0, 0}));
}

TEST_F(FileFeederTest, RefusedBlocksFinishInTheLastModeBeforeAnythingElse) {
  const FilePair pair = five_chunks();
  play(pair);
  player_.refuse_next(2);
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(2));
  file_play_stop();
  ASSERT_TRUE(wait_mode_stop());
  std::vector<PlayerCall> offers = player_.offers();
  ASSERT_GE(offers.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(chunk_of(pair, offers[i]), 0) << "offer " << i;
    EXPECT_EQ(offers[i].c, 0);
  }
  EXPECT_EQ(chunk_of(pair, offers[3]), 1);
  EXPECT_EQ(player_.count(PlayerOp::kSoundChange), 1) << "offers again are no mode change";

  // Refused in forward play, then back is set: the block is finished the
  // forward way (with the speed now set), then back play starts from there.
  ASSERT_EQ(file_search(static_cast<int>(pair.times[2])), 0);
  player_.clear();
  player_.refuse_all(true);
  file_play_forward(3);
  ASSERT_TRUE(player_.wait_offers(2));
  file_play_back(4);
  platform::sleep_ms(30);
  EXPECT_EQ(player_.count(PlayerOp::kSoundChange), 1) << "no sound change while a block is pending";
  player_.refuse_all(false);
  ASSERT_TRUE(player_.wait_taken(2));
  file_play_stop();
  ASSERT_TRUE(wait_mode_stop());
  offers = player_.offers();
  const std::vector<PlayerCall> taken = player_.taken();
  EXPECT_EQ(chunk_of(pair, offers[0]), 2);
  EXPECT_EQ(offers[0].d, 3);
  EXPECT_EQ(chunk_of(pair, taken[0]), 2);
  EXPECT_EQ(taken[0].d, 4);
  EXPECT_EQ(chunk_of(pair, taken[1]), 2) << "back from entry 3 delivers chunk 2 again";
  EXPECT_EQ(player_.count(PlayerOp::kSoundChange), 2);

  // A single frame forward refused with no mode before it (the feeder idled
  // since) is offered again as a single frame and then moves on.
  stop_feeder();
  play(pair);
  player_.clear();
  player_.refuse_next(3);
  file_one_play();
  ASSERT_TRUE(player_.wait_taken(1));
  ASSERT_TRUE(wait_mode_stop());
  offers = player_.offers();
  ASSERT_EQ(offers.size(), 4u);
  for (const PlayerCall& o : offers) {
    EXPECT_EQ(chunk_of(pair, o), 0);
    EXPECT_EQ(o.c, 1);
    EXPECT_EQ(o.d, 0);
  }
  EXPECT_EQ(player::file_current_entry(), 1);
}

TEST_F(FileFeederTest, StopAndReplacementDoNotWaitForeverOnARefusedBlock) {
  const FilePair pair = five_chunks();
  play(pair);
  player_.refuse_all(true);
  file_play_start();
  ASSERT_TRUE(player_.wait_offers(2));
  // The stop waits for the refused block for a second, then drops it.
  const uint32_t t0 = platform::tick_ms();
  ASSERT_EQ(file_read_stop(), 0);
  for (int i = 0; i < 1500 && player::file_feeder_running(); ++i) platform::sleep_ms(2);
  EXPECT_FALSE(player::file_feeder_running());
  EXPECT_GE(platform::tick_ms() - t0, 900u);
  EXPECT_EQ(player::file_mode(), player::kModeStop);
  EXPECT_EQ(file_read_stop(), -1);

  // playfile ends a feeder stuck the same way and starts the new file.
  play(pair);
  file_play_start();
  ASSERT_TRUE(player_.wait_offers(player_.offers().size() + 2));
  const FilePair other = write_pair(dir_, "other", PairShape{{10, 20, 30}, {}, {100, 101, 102}});
  ASSERT_EQ(playfile(other.data.c_str(), other.index.c_str(), 0), 0);
  player_.refuse_all(false);
  uint32_t start = 0, end = 0;
  file_read_start_end_sec(&start, &end);
  EXPECT_EQ(start, other.times[0]);
  EXPECT_EQ(end, other.times[2]);
  player_.clear();
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(3));
  EXPECT_EQ(taken_chunks(other), (std::vector<int>{0, 1, 2}));
}

TEST_F(FileFeederTest, PlayfileStopsDiskPlaybackAndRefusesMissingFiles) {
  const FilePair pair = five_chunks();
  player::set_disk_mode(player::kModePlay);
  play(pair);
  EXPECT_EQ(player::disk_mode(), player::kModeStop);
  EXPECT_EQ(playfile(nullptr, pair.index.c_str(), 0), -1);
  EXPECT_FALSE(player::file_feeder_running()) << "the running feeder was ended first";
  EXPECT_EQ(playfile(pair.data.c_str(), (dir_ + "/none").c_str(), 0), -1);
  EXPECT_EQ(playfile((dir_ + "/none").c_str(), pair.index.c_str(), 0), -1);
  EXPECT_FALSE(player::file_feeder_running());
}

TEST_F(FileFeederTest, SearchPlacesTheEntryOfTheTime) {
  EXPECT_EQ(file_search(0), -1) << "no feeder";
  // Eleven chunks a second apart: entry k holds second k.
  const FilePair pair =
      write_pair(dir_, "eleven", PairShape{{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}});
  play(pair);
  EXPECT_EQ(file_search(static_cast<int>(pair.times[0]) - 1), -2);
  EXPECT_EQ(file_search(static_cast<int>(pair.times[10]) + 1), -2);
  for (int k : {0, 7, 3, 10}) {
    ASSERT_EQ(file_search(static_cast<int>(pair.times[k])), 0) << "second " << k;
    EXPECT_EQ(player::file_current_entry(), k);
  }
  // At the end: play delivers the last chunk and stops.
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(1));
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_EQ(taken_chunks(pair), (std::vector<int>{10}));
  // A search while playing stops play first.
  ASSERT_EQ(file_search(static_cast<int>(pair.times[2])), 0);
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(2));
  ASSERT_EQ(file_search(static_cast<int>(pair.times[5])), 0);
  EXPECT_EQ(player::file_mode(), player::kModeStop);
  EXPECT_EQ(player::file_current_entry(), 5);
  player_.clear();
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(1));
  EXPECT_EQ(taken_chunks(pair)[0], 5);
}

TEST_F(FileFeederTest, SearchInAFileOfOneTimeTakesTheFirstEntry) {
  const FilePair pair = write_pair(dir_, "same", PairShape{{10, 20, 30}, {}, {5, 5, 5}});
  play(pair);
  file_one_play();
  ASSERT_TRUE(player_.wait_taken(1));
  ASSERT_TRUE(wait_mode_stop());
  EXPECT_EQ(player::file_current_entry(), 1);
  ASSERT_EQ(file_search(static_cast<int>(pair.times[0])), 0);
  EXPECT_EQ(player::file_current_entry(), 0);
}

TEST_F(FileFeederTest, SearchGivesUpOnAFeederThatNeverIdles) {
  const FilePair pair = five_chunks();
  play(pair);
  player_.refuse_all(true);
  file_play_start();
  ASSERT_TRUE(player_.wait_offers(1));
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(file_search(static_cast<int>(pair.times[3])), -3);
  const uint32_t waited = platform::tick_ms() - t0;
  EXPECT_GE(waited, 4900u);
  EXPECT_LT(waited, 8000u);
  EXPECT_EQ(player::file_current_entry(), 0) << "nothing moved";
}

TEST_F(FileFeederTest, BadPairsGiveClearResults) {
  // An empty index: the feeder ends by itself, nothing is offered.
  write_file(dir_ + "/empty.index", {});
  write_file(dir_ + "/empty.dat", {1, 2, 3});
  ASSERT_EQ(playfile((dir_ + "/empty.dat").c_str(), (dir_ + "/empty.index").c_str(), 0), 0);
  for (int i = 0; i < 500 && player::file_feeder_running(); ++i) platform::sleep_ms(2);
  EXPECT_FALSE(player::file_feeder_running());
  EXPECT_EQ(file_read_stop(), -1);
  EXPECT_EQ(file_search(0), -1);

  struct Range {
    size_t offset, length;
  };
  struct Row {
    const char* name;
    PairShape shape;
    std::vector<Range> offered;  // the stretches of the data file play offers, in order
  } rows[] = {
      {"data cut inside chunk 2: its bytes there are offered, the rest passed over",
       {{100, 200, 300, 400, 500}, {}, {}, 450},
       {{0, 100}, {100, 200}, {300, 150}}},
      {"index pointing past the data",
       {{100, 200, 300, 400, 500}, {}, {}, 300},
       {{0, 100}, {100, 200}}},
      {"chunk over 2 MiB passed over", {{100, 0x200001, 200}}, {{0, 100}, {0x200065, 200}}},
      {"last chunk over 2 MiB", {{100, 0x200001}}, {{0, 100}}},
      {"entry before the previous one",
       {{100, 200, 300, 400}, {0, 100, 50, 300}},
       {{0, 100}, {50, 250}, {300, 700}}},
  };
  for (const Row& r : rows) {
    player_.clear();
    const FilePair pair = write_pair(dir_, "bad", r.shape);
    play(pair);
    file_play_start();
    ASSERT_TRUE(wait_mode_stop()) << r.name;
    const std::vector<PlayerCall> taken = player_.taken();
    ASSERT_EQ(taken.size(), r.offered.size()) << r.name;
    for (size_t i = 0; i < taken.size(); ++i) {
      const Range& want = r.offered[i];
      ASSERT_LE(want.offset + want.length, pair.bytes.size()) << r.name;
      EXPECT_TRUE(taken[i].data ==
                  std::vector<uint8_t>(pair.bytes.begin() + want.offset,
                                       pair.bytes.begin() + want.offset + want.length))
          << r.name << ", block " << i;
    }
    EXPECT_TRUE(player::file_feeder_running()) << r.name;
    // Back play over the same pair ends as well.
    file_play_back(1);
    ASSERT_TRUE(wait_mode_stop()) << r.name;
    stop_feeder();
  }
}

TEST_F(FileFeederTest, CopyFromTheDiskPlaysChunkForChunk) {
  const std::string media = dir_ + "/media";
  std::vector<RecordedChunk> chunks;
  {
    SimulatedDisk disk(dir_, 4, {{40, 0, 0, false}});
    ASSERT_TRUE(disk.ok());
    chunks = disk.chunks();
    std::filesystem::create_directory(media);
    ASSERT_EQ(hdd_copy_usb(media.c_str(), static_cast<int>(chunks[5].time),
                           static_cast<int>(chunks[25].time)),
              0);
    for (int i = 0; i < 2500 && player::copy_running(); ++i) platform::sleep_ms(2);
    ASSERT_FALSE(player::copy_running());
  }

  ASSERT_EQ(playfile((media + "/HDR.dat").c_str(), (media + "/.index").c_str(), 0), 0);
  uint32_t start = 0, end = 0;
  file_read_start_end_sec(&start, &end);
  EXPECT_EQ(start, chunks[5].time);
  EXPECT_EQ(end, chunks[25].time);
  file_play_start();
  ASSERT_TRUE(player_.wait_taken(21));
  ASSERT_TRUE(wait_mode_stop());
  std::vector<PlayerCall> taken = player_.taken();
  ASSERT_EQ(taken.size(), 21u);
  for (size_t i = 0; i < taken.size(); ++i)
    EXPECT_TRUE(taken[i].data == chunks[5 + i].packets) << "block " << i;

  // The search lands on the chunk of the time asked for.
  ASSERT_EQ(file_search(static_cast<int>(chunks[15].time)), 0);
  player_.clear();
  file_one_play();
  ASSERT_TRUE(player_.wait_taken(1));
  EXPECT_TRUE(player_.taken()[0].data == chunks[15].packets);
}

TEST_F(FileFeederTest, OneFileViewOffersTheFileOnceAndStopsBothModes) {
  std::vector<uint8_t> small(1000), large(300000);
  for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<uint8_t>(i * 3 + 1);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 5 + 2);
  write_file(dir_ + "/small.m4v", small);
  write_file(dir_ + "/large.m4v", large);
  player::set_disk_mode(player::kModeBack);
  player::set_file_mode(player::kModePlay);
  player_.refuse_all(true);  // offered once, whatever the answer
  EXPECT_EQ(one_farme_view((dir_ + "/small.m4v").c_str(), 0), 0);
  EXPECT_EQ(player::disk_mode(), player::kModeStop);
  EXPECT_EQ(player::file_mode(), player::kModeStop);
  EXPECT_EQ(one_farme_view((dir_ + "/large.m4v").c_str(), 0), 0);
  EXPECT_EQ(one_farme_view((dir_ + "/none").c_str(), 0), -1);
  EXPECT_EQ(one_farme_view(nullptr, 0), -1);
  const std::vector<PlayerCall> offers = player_.offers();
  ASSERT_EQ(offers.size(), 2u);
  std::vector<uint8_t> want = small;
  want.resize(1048, 0);
  EXPECT_EQ(offers[0].b, 1048);
  EXPECT_TRUE(offers[0].data == want);
  EXPECT_EQ(offers[0].c, 0);
  EXPECT_EQ(offers[0].d, 0);
  want.assign(large.begin(), large.begin() + 262144);
  want.resize(262192, 0);
  EXPECT_EQ(offers[1].b, 262192);
  EXPECT_TRUE(offers[1].data == want);
}

TEST_F(FileFeederTest, PlaytestFeedsTheExchangeInTurn) {
  const std::vector<uint8_t> a(100, 1), b(200, 2), c(50, 3);
  ASSERT_EQ(player::playtest_put(a.data(), 100), 0);
  ASSERT_EQ(player::playtest_put(b.data(), 200), 0);
  EXPECT_EQ(player::playtest_put(c.data(), 50), -1) << "both slots full";
  player_.refuse_next(4);
  EXPECT_EQ(playtest(), 2) << "two blocks, then no third within a second";
  const std::vector<PlayerCall> taken = player_.taken();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_TRUE(taken[0].data == a);
  EXPECT_TRUE(taken[1].data == b);
  EXPECT_EQ(player_.offers().size(), 6u);
  ASSERT_EQ(player::playtest_put(c.data(), 50), 0);
  player_.refuse_all(true);
  EXPECT_EQ(playtest(), 0) << "a block the player never takes ends the test after a second";
}

}  // namespace
}  // namespace virazav::testing
