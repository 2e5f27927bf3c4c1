// The playback thread's life cycle: started by the opening of a stream file,
// it announces itself with mode 2, runs the engine's cycles until mode 8 ends
// it, and leaves mode 9 behind. Between cycles it waits for what can change
// its course: while idle until a call of the application's wakes it, with a
// held packet until its time comes, and never while a call waits for the
// player lock.
#include "dlplayer/playback_thread.h"

#include <atomic>
#include <chrono>

#include "dlplayer/dataset_state.h"
#include "dlplayer/engine.h"
#include "live/live.h"
#include "platform/platform.h"

namespace virazav::dlplayer::detail {
namespace {

// An idle thread looks again after this long even when nothing woke it.
constexpr int kIdleLookMs = 50;
// How long the thread stands back for calls that wait for the player lock.
constexpr int kStandBackMs = 20;
// Buffers the audio output thread still plays are waited for this long when
// the thread ends, so that none of them outlives the ring.
constexpr int kRingDrainMs = 2000;

std::atomic<PlaybackStarter> starter{nullptr};

uint32_t real_now(void*) {
  return platform::tick_ms();
}

// A pause that one of the application's calls (or the end request) cuts short.
bool real_pause(void*, int ms) {
  DataSetState& s = state();
  std::unique_lock<std::mutex> lock(s.wake.lock);
  return s.wake.cv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
    return s.requests.load() > 0 || s.play_mode.load() == kModeEnd;
  });
}

bool real_wait_slot_free(void*, int w, int ms) {
  return live::wait_playback_slot_free(w, ms);
}

const EngineClock kRealClock = {real_now, real_pause, real_wait_slot_free, nullptr};

uint64_t wake_events() {
  EngineWake& w = state().wake;
  std::lock_guard<std::mutex> lock(w.lock);
  return w.events;
}

// The wait after a cycle. `seen` is the count of wakes before the cycle ran,
// so that a change made during the cycle is not slept through.
void wait_after(const CycleResult& r, uint64_t seen) {
  DataSetState& s = state();
  EngineWake& w = s.wake;
  std::unique_lock<std::mutex> lock(w.lock);
  // Calls waiting for the player lock go first.
  w.cv.wait_for(lock, std::chrono::milliseconds(kStandBackMs),
                [&] { return s.requests.load() == 0 || s.play_mode.load() == kModeEnd; });
  const auto changed = [&] { return w.events != seen || s.play_mode.load() == kModeEnd; };
  switch (r.after) {
    case After::kNext:
      return;
    case After::kIdle:
      w.cv.wait_for(lock, std::chrono::milliseconds(kIdleLookMs), changed);
      return;
    case After::kWaitUntil: {
      const int32_t ms = static_cast<int32_t>(r.until_ms - platform::tick_ms());
      if (ms > 0) w.cv.wait_for(lock, std::chrono::milliseconds(ms), changed);
      return;
    }
  }
}

// Lets the audio output thread play out the ring's buffers (they are read in
// place, so none may outlive the data set), for a while at the most; what is
// still queued then, or whatever nothing will play, is taken back.
void drain_ring() {
  const uint32_t start = platform::tick_ms();
  for (int w = 0; w < kAudioBuffers; ++w) {
    if (live::wave_mode() != 3) break;
    const int32_t left = kRingDrainMs - static_cast<int32_t>(platform::tick_ms() - start);
    if (left <= 0) break;
    live::wait_playback_slot_free(w, left);
  }
  for (int w = 0; w < kAudioBuffers; ++w) {
    if (live::playback_slot_state(w) == live::kSlotQueuedForOutput) {
      live::set_playback_slot_state(w, live::kSlotFree);
    }
  }
}

void playback_main(int) {
  DataSetState& s = state();
  Engine e;
  engine_start(e, kRealClock);
  while (s.play_mode.load() != kModeEnd) {
    const uint64_t seen = wake_events();
    wait_after(run_cycle(e), seen);
  }
  drain_ring();
  engine_finish(e);
  // The last act: once the mode is 9 the data set may be closed.
  s.play_mode.store(kModeNoThread);
}

}  // namespace

const EngineClock& real_clock() {
  return kRealClock;
}

void engine_finish(Engine& e) {
  e.queue.release();
}

bool start_playback_thread() {
  return platform::start_detached_thread(playback_main, 0);
}

void set_playback_starter(PlaybackStarter fn) {
  starter.store(fn);
}

bool start_playback() {
  PlaybackStarter fn = starter.load();
  return fn != nullptr ? fn() : start_playback_thread();
}

}  // namespace virazav::dlplayer::detail
