// The audio output thread that plays live ring 0, live ring 1 or the playback
// ring through the output device, the device's done reports that free the
// slots, wave_play_ctrl and wave_play_ch, and kora_udp_wave. Waits are
// condition-variable waits with the bounds of the polled design: every change
// a wait looks at is followed by kick().
#include "live/audio_output.h"

#include <chrono>
#include <cstring>

#include "format/bytes.h"
#include "live/assembly.h"
#include "live/live.h"
#include "live/live_state.h"
#include "platform/audio.h"
#include "platform/platform.h"

namespace virazav::live {
namespace detail {
namespace {

constexpr int kStartWaitMs = 5000;
constexpr int kPrebufferWaitMs = 10000;
constexpr int kDrainWaitMs = 30;
// How long an idle turn waits before it looks at the mode again: kick() cuts
// it short whenever something changes.
constexpr int kIdleTurnMs = 5;
constexpr int kPrebufferBlocks = 3;

// Buffer ids in the submission queue: ring 0 slot w is w, ring 1 slot w is
// w + 10, playback slot w is w + 20.
constexpr int kRing1Ids = 10;
constexpr int kPlaybackIds = 20;

template <typename Pred>
bool wait_until(int ms, Pred pred) {
  AudioOutput& a = state().audio;
  std::unique_lock<std::mutex> lock(a.kick_lock);
  return a.kick_cv.wait_for(lock, std::chrono::milliseconds(ms), pred);
}

std::atomic<int32_t>* slot_state_of_id(int id) {
  LiveState& s = state();
  if (id >= 0 && id < kRingSlots) return &s.rings[0].slots[id].state;
  if (id >= kRing1Ids && id < kRing1Ids + kRingSlots)
    return &s.rings[1].slots[id - kRing1Ids].state;
  if (id >= kPlaybackIds && id < kPlaybackIds + kPlaybackSlots) {
    return &s.audio.playback.state[id - kPlaybackIds];
  }
  return nullptr;
}

void callback(platform::AudioEvent event, void* user) {
  device_report(event == platform::AudioEvent::kDone ? 0 : 1, user);
}

// Writes one queued slot to the device: queued → written, then the buffer goes
// to the device and its id to the queue (under the output lock, so that the
// done report cannot overtake it); a failed write frees the slot at once.
void write_slot(std::atomic<int32_t>& slot_state, const WaveHeader& header, int id) {
  AudioOutput& a = state().audio;
  int32_t queued = kSlotQueued;
  if (!slot_state.compare_exchange_strong(queued, kSlotWritten)) return;
  if (a.device_state.load() != kDeviceOpen) {
    slot_state.store(kSlotEmpty);
    kick();
    return;
  }
  bool failed = false;
  {
    platform::MutexLock lock(a.lock);
    // release_ring may have given the slot up since.
    if (slot_state.load() != kSlotWritten) return;
    if (platform::audio_write(a.device, header.data, header.length) == 0) {
      int n = a.queue_count.load();
      if (n < kQueuePlaces) {
        a.queue[n] = static_cast<uint8_t>(id);
        a.queue_count.store(n + 1);
      }
    } else {
      slot_state.store(kSlotEmpty);
      failed = true;
    }
  }
  if (failed) kick();
}

// One session of the output thread, from the device search to the teardown.
// Returns false when no device was found.
bool run_output() {
  LiveState& s = state();
  AudioOutput& a = s.audio;
  {
    platform::MutexLock lock(a.lock);
    a.queue_count.store(0);
  }
  if (a.device_state.load() == kDeviceClosed) {
    a.device_state.store(kDeviceNone);
    if (platform::audio_device_count() > 0) {
      a.device_state.store(kDeviceOpen);
      // A failed open is noticed by the writes, which then fail and free
      // their slots.
      platform::AudioDevice* device = platform::audio_open(callback, &a.queue);
      platform::MutexLock hold(a.device_lock);
      platform::MutexLock lock(a.lock);
      a.device = device;
    }
  }
  if (a.device_state.load() == kDeviceNone) return false;
  a.running.store(1);
  kick();

  bool changed = true;
  int last_mode = a.wave_mode.load();
  for (;;) {
    const int mode = a.wave_mode.load();
    if (mode != last_mode) {
      changed = true;
      last_mode = mode;
    }
    if (mode == 0) break;
    if (mode == 1 || mode == 2) {
      AudioRing& ring = s.rings[mode - 1];
      const int r = ring.read_index.load();
      if (changed) {
        // Prebuffer: start once three blocks are ahead of the read index. The
        // writer may be past that point before this thread looks again, so
        // three or more count.
        wait_until(kPrebufferWaitMs, [&] {
          const int ahead = (ring.write_index.load() - r + kRingSlots) % kRingSlots;
          return s.audio_switch.load() == 0 || a.wave_mode.load() != mode ||
                 ahead >= kPrebufferBlocks;
        });
        changed = false;
        if (a.wave_mode.load() != mode) continue;
      }
      AudioSlot& slot = ring.slots[r];
      if (slot.state.load() != kSlotQueued) {
        wait_until(kIdleTurnMs,
                   [&] { return slot.state.load() == kSlotQueued || a.wave_mode.load() != mode; });
        continue;
      }
      write_slot(slot.state, slot.header, mode == 1 ? r : r + kRing1Ids);
      ring.read_index.store((r + 1) % kRingSlots);
    } else if (mode == 3) {
      PlaybackRing& ring = a.playback;
      const int r = ring.read_index.load();
      if (changed) {
        wait_until(kPrebufferWaitMs,
                   [&] { return a.wave_mode.load() != 3 || ring.state[0].load() == kSlotQueued; });
        changed = false;
        if (a.wave_mode.load() != 3) continue;
      }
      if (ring.state[r].load() != kSlotQueued) {
        wait_until(kIdleTurnMs,
                   [&] { return ring.state[r].load() == kSlotQueued || a.wave_mode.load() != 3; });
        continue;
      }
      write_slot(ring.state[r], ring.headers[r], r + kPlaybackIds);
      ring.read_index.store((r + 1) % kPlaybackSlots);
    } else {
      wait_until(kIdleTurnMs, [&] { return a.wave_mode.load() != mode; });
    }
  }

  // Let what was written play out for a moment, then stop the device. The
  // producers see the device closed before the slots are cleared, so none of
  // them queues a slot that the clearing would miss.
  wait_until(kDrainWaitMs, [&] { return a.queue_count.load() == 0; });
  a.device_state.store(kDeviceClosed);
  {
    platform::MutexLock hold(a.device_lock);
    platform::AudioDevice* device;
    {
      // Writers find no device from here on; ring releases wait for device_lock.
      platform::MutexLock lock(a.lock);
      a.queue_count.store(0);
      device = a.device;
      a.device = nullptr;
      if (device != nullptr) platform::audio_reset(device);
    }
    for (AudioRing& ring : s.rings) {
      for (AudioSlot& slot : ring.slots) {
        std::lock_guard<std::mutex> lock(slot.lock);
        slot.state.store(kSlotEmpty);
        slot.header.prepared = false;
      }
    }
    for (int w = 0; w < kPlaybackSlots; ++w) {
      a.playback.state[w].store(kSlotEmpty);
      a.playback.headers[w].prepared = false;
    }
    // Without the output lock: closing waits for the device's last reports,
    // and a report takes that lock.
    platform::audio_close(device);
  }
  for (AudioRing& ring : s.rings) {
    ring.write_index.store(0);
    ring.read_index.store(0);
  }
  a.playback.write_index.store(0);
  a.playback.read_index.store(0);
  return true;
}

void output_main(int) {
  AudioOutput& a = state().audio;
  // A mode set while the last session was closing gets a session of its own.
  while (run_output()) {
    a.running.store(0);
    kick();
    if (a.wave_mode.load() == 0) break;
  }
  // The last act, under the lock of the waits: once a waiter sees the thread
  // gone, the thread touches nothing any more.
  std::lock_guard<std::mutex> lock(a.kick_lock);
  a.running.store(0);
  a.thread_alive.store(0);
  a.kick_cv.notify_all();
}

}  // namespace

void device_report(int, void*) {
  LiveState& s = state();
  AudioOutput& a = s.audio;
  if (a.device_state.load() == kDeviceClosed || a.wave_mode.load() == 0) return;
  {
    // The count is read under the lock: a report may come while the buffer's
    // writer still holds it, before the buffer's id is in the queue.
    platform::MutexLock lock(a.lock);
    const int n = a.queue_count.load();
    if (n <= 0) return;
    const int id = a.queue[0];
    std::memmove(a.queue, a.queue + 1, static_cast<size_t>(n - 1));
    a.queue_count.store(n - 1);
    if (std::atomic<int32_t>* st = slot_state_of_id(id)) st->store(kSlotEmpty);
  }
  kick();
}

void release_ring(int r) {
  LiveState& s = state();
  AudioOutput& a = s.audio;
  AudioRing& ring = s.rings[r];
  {
    platform::MutexLock hold(a.device_lock);
    platform::MutexLock lock(a.lock);
    bool playing = false;
    for (AudioSlot& slot : ring.slots) playing = playing || slot.state.load() == kSlotWritten;
    if (playing && a.device != nullptr) platform::audio_reset(a.device);
    for (AudioSlot& slot : ring.slots) slot.state.store(kSlotEmpty);
  }
  kick();
}

void forget_missing_device() {
  AudioOutput& a = state().audio;
  int32_t none = kDeviceNone;
  if (a.thread_alive.load() == 0) a.device_state.compare_exchange_strong(none, kDeviceClosed);
}

}  // namespace detail

using namespace detail;

int wave_play_ctrl(int mode) {
  AudioOutput& a = state().audio;
  const int old = a.wave_mode.load();
  if (mode == old) return mode;
  a.wave_mode.exchange(mode);
  kick();
  if (old == 0 && mode != 0) {
    if (a.thread_alive.exchange(1) == 0 && !platform::start_detached_thread(output_main, 0)) {
      a.thread_alive.store(0);
    }
    // Until the thread has its device, or has ended without one.
    wait_until(kStartWaitMs, [&] { return a.running.load() == 1 || a.thread_alive.load() == 0; });
  } else if (old != 0 && mode == 0) {
    wait_until(kStartWaitMs, [&] { return a.thread_alive.load() == 0; });
  }
  return mode;
}

void wave_play_ch(int kind, int channel) {
  if ((kind != 0 && kind != 1) || channel < 0 || channel > 3) return;
  AudioOutput& a = state().audio;
  a.selected_channel[0].exchange(channel);
  a.selected_channel[1].exchange(channel);
}

int device_state() {
  return state().audio.device_state.load();
}

int selected_audio_channel(int ring) {
  return ring == 0 || ring == 1 ? state().audio.selected_channel[ring].load() : 0;
}

int udp_wave(int set, const char* path) {
  LiveState& s = state();
  const int r = set == 0 ? 0 : 1;
  AudioRing& ring = s.rings[r];
  // The newest block still waiting to be heard: queued, or written to the
  // device and not yet done, searching back from the write index. The slot is
  // read, not consumed, so the output thread plays it as ever.
  const int w = ring.write_index.load();
  for (int back = 1; back <= kRingSlots; ++back) {
    AudioSlot& slot = ring.slots[(w - back + kRingSlots) % kRingSlots];
    std::lock_guard<std::mutex> lock(slot.lock);
    const int32_t st = slot.state.load();
    if (st != kSlotQueued && st != kSlotWritten) continue;
    if (!slot.buffer.ok()) return 0;
    const uint8_t* b = slot.buffer.data();
    const uint8_t* time = b + kBlockTimeValueAt;
    {
      platform::MutexLock saved(s.audio.saved_lock);
      uint8_t* last = s.audio.last_saved[r];
      const int c = std::memcmp(time, last, 6);
      if (r == 0 ? c <= 0 : c == 0) return 0;
      std::memcpy(last, time, 6);
    }
    uint32_t length = format::load_le32(b + kBlockLengthAt);
    if (length > kAudioSlotBytes - kBlockHeaderBytes) length = kAudioSlotBytes - kBlockHeaderBytes;
    if (path == nullptr) return 0;
    platform::File f = platform::File::open(path, platform::OpenMode::kWriteTruncate);
    if (!f.is_open()) return 0;
    return f.write(b + kBlockHeaderBytes, length) == 0 ? static_cast<int>(length) : 0;
  }
  return 0;
}

int wave_mode() {
  return state().audio.wave_mode.load();
}

namespace {

bool valid_playback_slot(int w) {
  return w >= 0 && w < kPlaybackSlots;
}

}  // namespace

int playback_slot_state(int w) {
  return valid_playback_slot(w) ? state().audio.playback.state[w].load() : kSlotFree;
}

void set_playback_slot_state(int w, int st) {
  if (!valid_playback_slot(w)) return;
  state().audio.playback.state[w].store(st);
  kick();
}

void fill_playback_header(int w, uint8_t* data, uint32_t length, bool prepared) {
  if (!valid_playback_slot(w)) return;
  WaveHeader& h = state().audio.playback.headers[w];
  h.data = data;
  h.length = length;
  h.user = static_cast<uint32_t>(w);
  h.flags = kWaveBeginEndLoop;
  h.loops = 1;
  h.prepared = prepared;
}

int playback_write_index() {
  return state().audio.playback.write_index.load();
}

void set_playback_write_index(int w) {
  if (valid_playback_slot(w)) state().audio.playback.write_index.store(w);
}

bool wait_playback_slot_free(int w, int timeout_ms) {
  if (!valid_playback_slot(w)) return false;
  const PlaybackRing& ring = state().audio.playback;
  return wait_until(timeout_ms, [&] { return ring.state[w].load() == kSlotFree; });
}

}  // namespace virazav::live
