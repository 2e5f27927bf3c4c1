// The disk feeder: a worker thread that reads the recorder disk block by block
// through the chunk readers, in the way its mode and the speed ask for, and hands
// each block to the player; the disk play controls; and the offer to a ring that
// both feeders go through.
#include <atomic>
#include <mutex>

#include "platform/platform.h"
#include "player/feeders.h"
#include "player/play_mode.h"
#include "player/player_library.h"
#include "recdisk/record_index.h"

namespace virazav::player {
namespace {

constexpr int kIdleSleepMs = 5;     // while the mode is 0
constexpr int kPollSleepMs = 1;     // after a block, a refusal, an unknown mode
constexpr int kSingleSleepMs = 10;  // after the block of a single frame
constexpr int kRingCount = 8;
constexpr int32_t kStepTwoSpeed = 4;  // speed 4 reads every second block
constexpr int kSpeedCodeOffset = 2;   // speeds from 5 on pass speed - 2

// The one disk feeder. The running flag is set by the starter, cleared by the
// thread as the last thing it does; the buffer is handed over at the start.
struct DiskFeeder {
  std::mutex start_lock;  // serialises hdd_read_start
  std::atomic<int32_t> running{0};
  std::atomic<int32_t> stop{0};
  platform::Buffer buffer;
};

// Never destroyed, for the same reason as the file feeder's state: a feeder
// thread still running at exit may be reading it.
DiskFeeder& g_disk = *new DiskFeeder;

int read_block(const FeedRow& row, uint8_t* buffer, uint32_t* length) {
  switch (row.reader) {
    case DiskReader::kData:
      return recdisk::read_data(buffer, length);
    case DiskReader::kForward:
      return recdisk::read_data_forward(buffer, length, row.step);
    case DiskReader::kBack:
      return recdisk::read_data_back(buffer, length);
    case DiskReader::kBackStep:
      return recdisk::read_data_back_step(buffer, length, row.step);
  }
  return recdisk::kReadNotDelivered;
}

void disk_feeder_thread(int) {
  platform::Buffer buffer = std::move(g_disk.buffer);
  int32_t last_mode = kModeStop;
  bool pending = false;
  uint32_t length = 0;
  while (g_disk.stop.load() == 0) {
    const int32_t mode = disk_mode();
    if (mode == kModeStop) {
      platform::sleep_ms(kIdleSleepMs);
      last_mode = kModeStop;
      pending = false;  // a refused block is dropped when playback stops
      continue;
    }
    if (mode < kModePlay || mode > kModeOneBack) {
      platform::sleep_ms(kPollSleepMs);
      continue;
    }
    if (mode != last_mode) {
      player_library().sound_change(1);
      last_mode = mode;
    }
    // A refused block is offered again with the arguments of the mode now set,
    // before anything new is read.
    const FeedRow row = disk_feed_row(mode, play_speed());
    if (!pending) {
      // Anything but a whole block read ends playback; nothing is offered.
      if (read_block(row, buffer.data(), &length) != recdisk::kReadDelivered) {
        set_disk_mode(kModeStop);
        continue;
      }
    }
    if (offer_block(0, buffer.data(), static_cast<int>(length), row.special, row.speed_code) != 0) {
      pending = true;
      platform::sleep_ms(kPollSleepMs);
      continue;
    }
    pending = false;
    if (row.single) {
      platform::sleep_ms(kSingleSleepMs);
      set_disk_mode(kModeStop);
    }
    platform::sleep_ms(kPollSleepMs);
  }
  buffer = platform::Buffer();
  set_disk_mode(kModeStop);
  store_under_playmode(&g_disk.stop, 0);
  // Last: once running reads 0 the thread touches nothing of the feeder's.
  g_disk.running.store(0);
}

}  // namespace

int offer_block(int ring, const uint8_t* data, int length, int special, int speed) {
  if (ring < 0 || ring >= kRingCount) return kRingOutside;
  return player_library().add_ring(ring, data, length, special, speed);
}

FeedRow disk_feed_row(int32_t mode, int32_t speed) {
  FeedRow row;
  switch (mode) {
    case kModePlay:
      break;
    case kModeForward:
    case kModeBack: {
      const bool forward = mode == kModeForward;
      row.special = 1;
      if (speed < kStepTwoSpeed) {
        row.reader = forward ? DiskReader::kData : DiskReader::kBack;
        row.speed_code = speed;
      } else {
        row.reader = forward ? DiskReader::kForward : DiskReader::kBackStep;
        row.step = speed == kStepTwoSpeed ? 2 : 4;
        row.speed_code = speed == kStepTwoSpeed ? 3 : speed - kSpeedCodeOffset;
      }
      break;
    }
    case kModeOneForward:
      row.special = 1;
      row.single = true;
      break;
    case kModeOneBack:
      row.reader = DiskReader::kBack;
      row.special = 1;
      row.speed_code = speed;
      row.single = true;
      break;
    default:
      break;
  }
  return row;
}

int hdd_read_start() {
  std::lock_guard<std::mutex> hold(g_disk.start_lock);
  if (g_disk.running.load() != 0) return kFeederRefused;
  platform::Buffer buffer(kFeederBufferSize);
  if (!buffer.ok()) return kFeederNoMemory;
  g_disk.buffer = std::move(buffer);
  // Running from here on, so that a second start right after this one is refused.
  g_disk.running.store(1);
  if (!platform::start_detached_thread(disk_feeder_thread, 0)) {
    g_disk.buffer = platform::Buffer();
    g_disk.running.store(0);
    return kFeederRefused;
  }
  return 0;
}

int hdd_read_stop() {
  if (g_disk.running.load() == 0) return kFeederRefused;
  store_under_playmode(&g_disk.stop, 1);
  return 0;
}

bool disk_feeder_running() {
  return g_disk.running.load() != 0;
}

}  // namespace virazav::player
