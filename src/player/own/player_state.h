// The library's own player in one place: its ring, channel pictures, sound,
// decoding thread and the viewer settings the application's calls change.
// own_player.cc owns the single instance; the other files of this folder each
// own one of its parts.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "player/own/block_ring.h"
#include "player/own/channel_view.h"
#include "player/own/player_sound.h"

namespace virazav::player::own {

inline constexpr int kChannelGroups = 4;  // group g shows recorder channels 4g .. 4g + 3
inline constexpr int kNoSoundChannel = 0;

// The viewer's settings, read by the thread and the picture calls as they go.
// The layout and its two channels change together, in one word.
struct Arrangement {
  int layout = 4;  // 1, 2 or 4
  int first = 1;   // player channels 1..4
  int second = 2;
};

struct ViewerSettings {
  std::atomic<int32_t> group{0};
  std::atomic<int32_t> sound_channel{1};  // player channel 1..4, or kNoSoundChannel
  std::atomic<int32_t> muted{0};

  Arrangement arrangement() const {
    const int32_t w = packed_.load();
    return Arrangement{w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF};
  }
  void arrange(const Arrangement& a) { packed_.store(a.layout | a.first << 8 | a.second << 16); }
  void reset() {
    arrange(Arrangement{});
    group.store(0);
    sound_channel.store(1);
    muted.store(0);
  }

 private:
  std::atomic<int32_t> packed_{4 | 1 << 8 | 2 << 16};
};

// What the thread has done, for the status call, tests and the benchmark.
struct PlayerCounters {
  std::atomic<int32_t> error_flag{0};      // a picture or packet failed since the reset
  std::atomic<uint64_t> pictures{0};       // pictures decoded and shown
  std::atomic<uint64_t> sound_packets{0};  // sound packets queued on the device
  std::atomic<uint64_t> blocks{0};         // blocks walked to their end or given up
  std::atomic<uint32_t> key_requests{0};   // raised by set_init_again and group changes
  // Pictures shown the moment they are decoded, without waiting for their time
  // stamps (the benchmark's unpaced mode; the application has no way to set it).
  std::atomic<bool> unpaced{false};
};

struct ThreadControl {
  std::mutex lock;  // one start or stop at a time
  std::thread thread;
  std::atomic<bool> stop{false};
};

void stop_thread();

struct PlayerState {
  PlayerState() = default;
  PlayerState(const PlayerState&) = delete;
  PlayerState& operator=(const PlayerState&) = delete;
  // A process that ends while the player runs stops the thread before the
  // parts it uses go.
  ~PlayerState() { stop_thread(); }

  BlockRing ring;
  ChannelViews views;
  PlayerSound sound;
  ViewerSettings viewer;
  PlayerCounters counters;
  ThreadControl thread;
};

PlayerState& player_state();

// The decoding thread (decode_thread.cc). start_thread starts it when it is not
// running; stop_thread asks it to end and waits for it.
void start_thread();

// Pause after each block in fast play (special 1): kFastPauseMs / speed code,
// a speed code below 1 counting as 1.
inline constexpr int kFastPauseMs = 500;
int fast_pause_ms(int speed);

// Test and benchmark hooks (not reachable through the exports).
void set_unpaced(bool on);
uint64_t pictures_shown();

}  // namespace virazav::player::own
