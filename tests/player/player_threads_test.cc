// The disk feeder, the file feeder, their controls, the time search, snapshots
// and the thin player calls all at once from several threads (run under the
// thread sanitizer too): every block the player takes is a whole chunk of its
// source, every snapshot file is whole, and everything stops when asked.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "disk/disk_image.h"
#include "platform/platform.h"
#include "player/feeders.h"
#include "player/play_mode.h"
#include "player/snapshot.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "support/recorded_chunks.h"
#include "test_player.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kDrive = 3;
constexpr int kRunMs = 1500;

TEST(PlayerThreads, FeedersControlsAndSnapshotsTogether) {
  char tmpl[] = "/tmp/virazav-threads-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  const fs::path old_cwd = fs::current_path();
  fs::current_path(dir);

  // The disk: one recording of 40 s.
  std::set<uint64_t> disk_chunks;
  auto disk = std::make_unique<SimulatedDisk>(dir, kDrive,
                                              std::vector<sim::RecordingPlan>{{40, 0, 0, false}});
  ASSERT_TRUE(disk->ok());
  for (const RecordedChunk& c : disk->chunks()) disk_chunks.insert(digest_of(c.packets));

  // The file pair: 30 chunks a second apart.
  std::vector<uint8_t> data, index;
  std::set<uint64_t> file_chunks;
  const Stamp start{25, 1, 2, 3, 4, 5};
  for (int k = 0; k < 30; ++k) {
    std::vector<uint8_t> chunk(200 + 37 * k, static_cast<uint8_t>(k + 1));
    uint8_t entry[24] = {};
    for (int b = 0; b < 8; ++b) entry[b] = static_cast<uint8_t>(data.size() >> (8 * b));
    const Stamp t = add_seconds(start, k);
    const uint8_t stamp[6] = {
        25, 1, 2, 3, static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.second)};
    std::copy(stamp, stamp + 6, entry + 8);
    index.insert(index.end(), entry, entry + 24);
    data.insert(data.end(), chunk.begin(), chunk.end());
    file_chunks.insert(digest_of(chunk));
  }
  {
    std::ofstream(dir + "/pair.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    std::ofstream(dir + "/pair.index", std::ios::binary)
        .write(reinterpret_cast<const char*>(index.data()),
               static_cast<std::streamsize>(index.size()));
  }
  const uint32_t first_time = stamp_number(start);

  {
    RecordingPlayer player;
    player.keep_data = false;
    player.layout = 4;
    player.pattern = [](int r, int i) { return static_cast<uint8_t>(r + i); };
    ASSERT_EQ(Zel_play_open(0, 0, 0, 0), 0);
    ASSERT_EQ(hdd_read_start(), 0);
    ASSERT_EQ(playfile((dir + "/pair.dat").c_str(), (dir + "/pair.index").c_str(), 0), 0);

    std::atomic<bool> done{false};
    std::atomic<int> snapshots{0}, searches{0};
    std::vector<std::thread> threads;
    // Disk controls: only modes and speeds, never the record index.
    threads.emplace_back([&] {
      for (int i = 0; !done; ++i) {
        switch (i % 6) {
          case 0:
            hdd_play_start();
            break;
          case 1:
            hdd_play_forward(1 + i % 7);
            break;
          case 2:
            hdd_one_play();
            break;
          case 3:
            hdd_play_back(1 + i % 6);
            break;
          case 4:
            hdd_one_back();
            break;
          default:
            hdd_play_stop();
            break;
        }
        platform::sleep_ms(7);
      }
    });
    // File controls, and now and then a search.
    threads.emplace_back([&] {
      for (int i = 0; !done; ++i) {
        switch (i % 7) {
          case 0:
            file_play_start();
            break;
          case 1:
            file_play_forward(1 + i % 5);
            break;
          case 2:
            file_one_play();
            break;
          case 3:
            file_play_back(2);
            break;
          case 4:
            file_one_back();
            break;
          case 5:
            if (file_search(static_cast<int>(first_time) + i % 30) == 0) ++searches;
            break;
          default:
            file_play_stop();
            break;
        }
        platform::sleep_ms(5);
      }
    });
    // Snapshots from two threads, and the thin calls.
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([&, t] {
        while (!done) {
          int layout = 0, status = 0;
          if (t == 0) {
            make_bmp(&layout, nullptr, nullptr, nullptr, &status);
          } else {
            make_bmp_one(&layout, nullptr, nullptr, nullptr);
          }
          if (layout == 4) ++snapshots;
          set_make_bmp_mode(t);
          platform::sleep_ms(3);
        }
      });
    }
    threads.emplace_back([&] {
      while (!done) {
        get_dec_sts();
        audio_set(1);
        clear_dec_err();
        uint32_t s = 0, e = 0;
        file_read_start_end_sec(&s, &e);
        platform::sleep_ms(2);
      }
    });
    platform::sleep_ms(kRunMs);
    done = true;
    for (std::thread& t : threads) t.join();

    EXPECT_EQ(hdd_read_stop(), 0);
    EXPECT_EQ(file_read_stop(), 0);
    for (int i = 0; i < 1500 && (player::disk_feeder_running() || player::file_feeder_running());
         ++i)
      platform::sleep_ms(2);
    EXPECT_FALSE(player::disk_feeder_running());
    EXPECT_FALSE(player::file_feeder_running());
    EXPECT_EQ(play_end(), 0);

    size_t disk_blocks = 0, file_blocks = 0, strangers = 0;
    for (const PlayerCall& c : player.taken()) {
      if (disk_chunks.count(c.digest) != 0) {
        ++disk_blocks;
      } else if (file_chunks.count(c.digest) != 0) {
        ++file_blocks;
      } else {
        ++strangers;
      }
    }
    EXPECT_GT(disk_blocks, 0u);
    EXPECT_GT(file_blocks, 0u);
    EXPECT_EQ(strangers, 0u) << "every block taken is a whole chunk of the disk or the file";
    EXPECT_GT(snapshots.load(), 0);
    EXPECT_GT(searches.load(), 0);
    EXPECT_EQ(fs::file_size(dir + "/bmp1.bmp"), 352u * 240 * 3 + 54);
  }
  player::set_disk_mode(player::kModeStop);
  player::set_file_mode(player::kModeStop);
  player::set_make_bmp_mode(0);
  disk.reset();
  fs::current_path(old_cwd);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace virazav::testing
