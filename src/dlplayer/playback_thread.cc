// The playback thread's life cycle: started by the opening of a stream file,
// it announces itself with mode 2 and idles until a play mode is chosen; mode
// 8 ends it, and it leaves mode 9 behind. The play modes themselves are
// handled by the playback engine that runs inside this loop.
#include "dlplayer/playback_thread.h"

#include "dlplayer/dataset_state.h"
#include "platform/platform.h"

namespace virazav::dlplayer::detail {
namespace {

// The store for the pictures queued between two key frames.
constexpr size_t kQueueStoreBytes = 1u << 20;

void playback_main(int) {
  DataSetState& s = state();
  s.play_mode.store(kModeIdle);
  platform::Buffer queue_store(kQueueStoreBytes);
  while (s.play_mode.load() != kModeEnd) {
    // Until a play mode is handled the thread idles; the sleep lets the
    // application's calls take the player lock between cycles.
    platform::sleep_ms(1);
  }
  queue_store = platform::Buffer();
  s.play_mode.store(kModeNoThread);
}

}  // namespace

bool start_playback_thread() {
  return platform::start_detached_thread(playback_main, 0);
}

void set_play_mode(int mode) {
  DataSetState& s = state();
  if (mode == 3 || mode == 4 || mode == 5) s.requested_direction.store(format::kBackward);
  if (mode == 0 || mode == 6 || mode == 7) s.requested_direction.store(format::kForward);
  s.play_mode.store(mode);
}

}  // namespace virazav::dlplayer::detail
