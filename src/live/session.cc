// The live session: the one state of the live stream client, the buffers a
// session allocates, kora_udp_connect with its two receive threads, and
// kora_udp_close, which stops them, waits for the audio rings and frees it all.
#include <chrono>
#include <cstring>

#include "live/audio_output.h"
#include "live/live.h"
#include "live/live_state.h"
#include "platform/platform.h"

namespace virazav::live {
namespace detail {

LiveState& state() {
  // Never destroyed: a detached receive or output thread may make its last report
  // while the process exits, and nothing is released at unload anyway.
  static LiveState* const s = new LiveState;
  return *s;
}

void kick() {
  AudioOutput& a = state().audio;
  { std::lock_guard<std::mutex> lock(a.kick_lock); }
  a.kick_cv.notify_all();
}

void set_thread_state(int t, int32_t value) {
  ReceiveThread& th = state().threads[t];
  th.state.exchange(value);
  th.waker.wake();
}

void announce_thread_state(int t, int32_t value) {
  LiveState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.threads_lock);
    s.threads[t].state.exchange(value);
  }
  s.threads_cv.notify_all();
}

void announce_thread_ready(int t) {
  LiveState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.threads_lock);
    s.threads[t].ready.store(1);
  }
  s.threads_cv.notify_all();
}

void announce_thread_end(int t, bool exited) {
  LiveState& s = state();
  // Notified under the lock: once a waiter sees the thread gone, the thread
  // touches nothing of the session any more.
  std::lock_guard<std::mutex> lock(s.threads_lock);
  if (exited) s.threads[t].state.exchange(kExited);
  s.threads[t].alive.store(0);
  s.threads_cv.notify_all();
}

int allocate_buffers() {
  LiveState& s = state();
  int missing = 0;
  for (AudioRing& ring : s.rings) {
    for (AudioSlot& slot : ring.slots) {
      std::lock_guard<std::mutex> lock(slot.lock);
      if (!slot.buffer.ok()) slot.buffer = platform::Buffer(kAudioSlotBytes);
      if (!slot.buffer.ok()) ++missing;
    }
  }
  // Video slots channel by channel, set 0 before set 1; the first failure ends
  // the round, as memory is short then.
  bool failed = false;
  for (int ch = 0; ch < kChannels; ++ch) {
    for (VideoSet& set : s.sets) {
      VideoSlot& slot = set.slots[ch];
      std::lock_guard<std::mutex> lock(slot.lock);
      if (!failed && !slot.buffer.ok()) {
        slot.buffer = platform::Buffer(kVideoSlotBytes);
        failed = !slot.buffer.ok();
      }
      if (!slot.buffer.ok()) ++missing;
    }
  }
  for (VideoSet& set : s.sets) {
    platform::MutexLock lock(set.group_lock);
    if (!set.display.ok()) set.display = platform::Buffer(kDisplayBytes);
    if (!set.display.ok()) ++missing;
  }
  return missing;
}

namespace {

void free_video_slots() {
  for (VideoSet& set : state().sets) {
    for (VideoSlot& slot : set.slots) {
      std::lock_guard<std::mutex> lock(slot.lock);
      slot.buffer = platform::Buffer();
      slot.state.store(kSlotEmpty);
    }
  }
}

}  // namespace

void free_buffers() {
  LiveState& s = state();
  free_video_slots();
  for (AudioRing& ring : s.rings) {
    for (AudioSlot& slot : ring.slots) {
      std::lock_guard<std::mutex> lock(slot.lock);
      slot.buffer = platform::Buffer();
      slot.state.store(kSlotEmpty);
      slot.header = WaveHeader{};
    }
  }
  for (VideoSet& set : s.sets) {
    platform::MutexLock lock(set.group_lock);
    set.display = platform::Buffer();
    for (GroupRecord& r : set.group) r = GroupRecord{};
  }
}

namespace {

constexpr int kStopWaitMs = 10000;
constexpr int kRingWaitMs = 10000;

// Starts receive thread t and waits until it has read its index (left its
// Starting state) and, further, until its socket is bound, so that datagrams
// sent once kora_udp_connect has returned find it. A thread that cannot be
// started leaves the state Exited.
void start_thread(int t) {
  LiveState& s = state();
  ReceiveThread& th = s.threads[t];
  th.waker.clear();
  th.state.exchange(kStarting);
  th.alive.store(1);
  th.ready.store(0);
  if (!platform::start_detached_thread(receive_main, t)) {
    announce_thread_end(t, true);
    return;
  }
  std::unique_lock<std::mutex> lock(s.threads_lock);
  s.threads_cv.wait(lock, [&] {
    return (th.state.load() != kStarting && th.ready.load() != 0) || th.alive.load() == 0;
  });
}

void stop_thread(int t) {
  LiveState& s = state();
  ReceiveThread& th = s.threads[t];
  // A thread that is not running (never started, or ended without a socket)
  // has nothing to stop.
  if (th.alive.load() == 0) return;
  set_thread_state(t, kStopRequested);
  std::unique_lock<std::mutex> lock(s.threads_lock);
  s.threads_cv.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                        [&] { return th.alive.load() == 0; });
}

// Waits for both rings to empty: in each ring the slots are passed in order for
// as long as the slot at hand is empty. A ring not passed in time is given up.
void wait_for_rings() {
  LiveState& s = state();
  int passed[kRings] = {0, 0};
  auto all_passed = [&] {
    for (int r = 0; r < kRings; ++r) {
      while (passed[r] < kRingSlots && s.rings[r].slots[passed[r]].state.load() == kSlotEmpty) {
        ++passed[r];
      }
    }
    return passed[0] == kRingSlots && passed[1] == kRingSlots;
  };
  {
    std::unique_lock<std::mutex> lock(s.audio.kick_lock);
    s.audio.kick_cv.wait_for(lock, std::chrono::milliseconds(kRingWaitMs), all_passed);
  }
  for (int r = 0; r < kRings; ++r) {
    if (passed[r] < kRingSlots) release_ring(r);
  }
}

// kora_udp_close; the caller holds the session lock.
int close_session() {
  stop_thread(0);
  stop_thread(1);
  // The video slots go first; the audio rings may still be playing.
  free_video_slots();
  wait_for_rings();
  free_buffers();
  return 0;
}

}  // namespace
}  // namespace detail

using namespace detail;

int udp_connect(const char* address, int port) {
  LiveState& s = state();
  std::lock_guard<std::mutex> session(s.session_lock);
  // A second connect without a close restarts the session with the new values.
  if (s.threads[0].alive.load() != 0 || s.threads[1].alive.load() != 0) close_session();

  allocate_buffers();
  std::memset(s.address, 0, sizeof s.address);
  if (address != nullptr) std::strncat(s.address, address, sizeof s.address - 1);
  s.port_base = port;
  start_thread(0);
  start_thread(1);
  return 0;
}

int udp_close() {
  LiveState& s = state();
  std::lock_guard<std::mutex> session(s.session_lock);
  return close_session();
}

Statistics statistics() {
  const Counters& c = state().counters;
  Statistics out;
  out.datagrams = c.datagrams.load();
  out.bytes = c.bytes.load();
  out.ignored = c.ignored.load();
  out.late_fragments = c.late_fragments.load();
  out.dropped_fragments = c.dropped_fragments.load();
  out.blocks_completed = c.blocks_completed.load();
  out.video_blocks = c.video_blocks.load();
  out.audio_blocks = c.audio_blocks.load();
  out.blocks_abandoned = c.blocks_abandoned.load();
  out.fragments_missing = c.fragments_missing.load();
  out.blocks_dropped = c.blocks_dropped.load();
  out.pictures = c.pictures.load();
  return out;
}

}  // namespace virazav::live
