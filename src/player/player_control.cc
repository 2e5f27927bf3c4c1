// The calls around the feeders that reach the player directly: opening and
// ending it, the single-file view, and the test entry point that feeds blocks
// from a two-slot exchange.
#include <algorithm>
#include <mutex>

#include "platform/platform.h"
#include "player/feeders.h"
#include "player/play_mode.h"
#include "player/player_library.h"

namespace virazav::player {
namespace {

constexpr int kModeSettleMs = 5;  // after stopping a feeder's mode
constexpr int kPlaytestBlocks = 50;
constexpr int kPlaytestWaitMs = 1000;  // for a filled slot, and for the player to take it
constexpr int kPlaytestStepMs = 1;

// The exchange that playtest takes its blocks from: two slots used in turn.
struct PlaytestSlot {
  bool ready = false;
  uint32_t length = 0;
  platform::Buffer data;
};
struct PlaytestExchange {
  std::mutex lock;
  PlaytestSlot slots[2];
  int put_next = 0;   // the slot playtest_put fills next
  int take_next = 0;  // the slot playtest takes next
};

PlaytestExchange g_exchange;

void stop_mode(int32_t mode, void (*set)(int32_t)) {
  if (mode != kModeStop) {
    set(kModeStop);
    platform::sleep_ms(kModeSettleMs);
  }
}

// Waits for the next slot to be filled. Returns it, or nullptr after the bound.
PlaytestSlot* take_slot() {
  for (int waited = 0; waited <= kPlaytestWaitMs; waited += kPlaytestStepMs) {
    {
      std::lock_guard<std::mutex> hold(g_exchange.lock);
      PlaytestSlot& slot = g_exchange.slots[g_exchange.take_next];
      if (slot.ready) return &slot;
    }
    platform::sleep_ms(kPlaytestStepMs);
  }
  return nullptr;
}

void release_slot(PlaytestSlot* slot) {
  std::lock_guard<std::mutex> hold(g_exchange.lock);
  slot->ready = false;
  g_exchange.take_next ^= 1;
}

}  // namespace

int one_farme_view(const char* path) {
  stop_mode(disk_mode(), set_disk_mode);
  stop_mode(file_mode(), set_file_mode);
  // The buffer is zero-filled: the 48 bytes after what was read are zeros.
  platform::Buffer buffer(kOneViewReadSize + kOneViewTail);
  if (!buffer.ok()) return kFeederNoMemory;
  if (path == nullptr) return kFeederRefused;
  platform::File file = platform::File::open(path, platform::OpenMode::kRead);
  if (!file.is_open()) return kFeederRefused;
  uint32_t got = 0;
  while (got < kOneViewReadSize) {
    const long n = file.read(buffer.data() + got, kOneViewReadSize - got);
    if (n <= 0) break;
    got += static_cast<uint32_t>(n);
  }
  // Offered once, whatever the player makes of it.
  offer_block(0, buffer.data(), static_cast<int>(got + kOneViewTail), 0, 0);
  return 0;
}

int play_end() {
  player_library().stop_play_thread();
  return 0;
}

int zel_play_open(int b, int c, int d) {
  return player_library().open(0, b, c, d);
}

int playtest_put(const uint8_t* data, uint32_t length) {
  if (data == nullptr || length > kFeederBufferSize) return -1;
  std::lock_guard<std::mutex> hold(g_exchange.lock);
  PlaytestSlot& slot = g_exchange.slots[g_exchange.put_next];
  if (slot.ready) return -1;
  if (!slot.data.ok()) slot.data = platform::Buffer(kFeederBufferSize);
  if (!slot.data.ok()) return -1;
  std::copy(data, data + length, slot.data.data());
  slot.length = length;
  slot.ready = true;
  g_exchange.put_next ^= 1;
  return 0;
}

int playtest() {
  int fed = 0;
  for (int i = 0; i < kPlaytestBlocks; ++i) {
    PlaytestSlot* slot = take_slot();
    if (slot == nullptr) break;
    // The slot is the reader's until it is released: the filler only writes
    // slots that are not ready.
    bool taken = false;
    for (int waited = 0; !taken && waited <= kPlaytestWaitMs; waited += kPlaytestStepMs) {
      taken = offer_block(0, slot->data.data(), static_cast<int>(slot->length), 0, 0) == 0;
      if (!taken) platform::sleep_ms(kPlaytestStepMs);
    }
    release_slot(slot);
    if (!taken) break;
    ++fed;
  }
  return fed;
}

}  // namespace virazav::player
