// The live stream client's one process-wide state (private to src/live/): the
// session with its receive threads, the video slots, audio rings, display
// buffers and group tables that the receivers fill, the registers of the last
// block headers, the control values, and the audio output. session.cc owns the
// single instance; the files of this folder reach it through detail::state().
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "live/live.h"
#include "platform/audio.h"
#include "platform/mutex.h"
#include "platform/platform.h"

namespace virazav::live::detail {

inline constexpr int kChannels = 16;
inline constexpr int kVideoSets = 2;
inline constexpr int kRings = 2;
inline constexpr int kRingSlots = 6;
inline constexpr int kThreads = 2;
inline constexpr int kStreams = 2;  // stream numbers 0 and 1 of a datagram
inline constexpr int kGroupRecords = 20;

inline constexpr size_t kStagingBytes = 1u << 20;
inline constexpr size_t kVideoSlotBytes = 1u << 19;
inline constexpr size_t kDisplayBytes = 1u << 19;
inline constexpr size_t kAudioSlotBytes = 1u << 18;
inline constexpr size_t kDatagramBytes = 1u << 19;  // the largest datagram read

// Receiver states (one word per receive thread).
inline constexpr int32_t kExited = 0;
inline constexpr int32_t kReceiving = 1;
inline constexpr int32_t kStarting = 2;
inline constexpr int32_t kIdle = 10;
inline constexpr int32_t kStopRequested = 99;

// Slot states: a video slot is empty, ready (a complete block not yet taken) or
// being taken; an audio slot empty, queued for output or written to the device.
inline constexpr int32_t kSlotEmpty = 0;
inline constexpr int32_t kSlotReady = 1;
inline constexpr int32_t kSlotTaken = 2;
inline constexpr int32_t kSlotQueued = 1;
inline constexpr int32_t kSlotWritten = 2;

// The length of group record 0 that says no group is held.
inline constexpr uint32_t kNoGroup = 0xFFFFFFFFu;
// The last sequence number of a ring before any block was taken.
inline constexpr int kNoSequence = 200;

// What the output device is handed for one slot: the device's buffer header.
struct WaveHeader {
  uint8_t* data = nullptr;
  uint32_t length = 0;
  uint32_t user = 0;
  uint32_t flags = 0;
  uint32_t loops = 0;
  bool prepared = false;
};
inline constexpr uint32_t kWaveBeginEndLoop = 12;

struct VideoSlot {
  std::mutex lock;
  platform::Buffer buffer;  // kVideoSlotBytes, allocated at connect
  std::atomic<int32_t> state{kSlotEmpty};
};

struct AudioSlot {
  std::mutex lock;
  platform::Buffer buffer;  // kAudioSlotBytes
  std::atomic<int32_t> state{kSlotEmpty};
  WaveHeader header;  // written under `lock` before the state turns queued
};

struct AudioRing {
  AudioSlot slots[kRingSlots];
  // Changed by a receive thread only while it holds the lock of the slot it
  // points to, and set to 0 by the output thread when it ends.
  std::atomic<int32_t> write_index{0};
  std::atomic<int32_t> read_index{0};  // the output thread's
};

// The playback ring that the downloaded-data player fills: its producer owns the
// buffers; the states, headers and indexes are shared with the output thread.
struct PlaybackRing {
  std::atomic<int32_t> state[kPlaybackSlots] = {};
  WaveHeader headers[kPlaybackSlots];
  std::atomic<int32_t> write_index{0};
  std::atomic<int32_t> read_index{0};
};

// One picture of the display channel's group.
struct GroupRecord {
  uint32_t channel = 0;
  uint32_t pts = 0;
  const uint8_t* data = nullptr;  // inside the display buffer
  uint32_t length = 0;            // 0: shown or empty; record 0 kNoGroup: no group
  uint32_t kind = 0;              // 1 first record, 2 following record, 0 empty
  uint32_t offset = 0;            // of the data from the display buffer's start
  uint32_t due_ms = 0;            // after the first record
};
inline constexpr uint32_t kRecordFirst = 1;
inline constexpr uint32_t kRecordFollowing = 2;

struct VideoSet {
  VideoSlot slots[kChannels];
  // The display buffer and group table, written by a receive thread and read
  // by kora_udp_rx under the display channel's slot lock and then this lock
  // (always in that order), since the display channel may change in between.
  platform::Mutex group_lock;
  platform::Buffer display VZ_GUARDED_BY(group_lock);  // kDisplayBytes
  GroupRecord group[kGroupRecords] VZ_GUARDED_BY(group_lock);
  std::atomic<uint32_t> display_start_ms{0};

  // Registers of the set's last completed block.
  std::atomic<uint32_t> time_value{0};
  std::atomic<uint32_t> time_word{0};
  std::atomic<uint32_t> status_byte{0};
  std::atomic<uint32_t> status_word{0};
};

struct ReceiveThread {
  std::atomic<int32_t> state{kExited};
  std::atomic<int32_t> alive{0};  // 1 from its start until it has let go of everything
  std::atomic<int32_t> ready{0};  // 1 once its socket is bound (or it gave up)
  platform::Waker waker;          // woken on every change of `state` made by a caller
};

struct Counters {
  std::atomic<uint64_t> datagrams{0}, bytes{0}, ignored{0}, late_fragments{0}, dropped_fragments{0},
      blocks_completed{0}, video_blocks{0}, audio_blocks{0}, blocks_abandoned{0},
      fragments_missing{0}, blocks_dropped{0}, pictures{0};
};

// The submission queue of buffers written to the output device, oldest first.
// It holds every buffer that can be outstanding at once (six of each live ring
// and three of the playback ring), so an id is never lost.
inline constexpr int kQueuePlaces = 16;

struct AudioOutput {
  std::atomic<int32_t> wave_mode{0};
  std::atomic<int32_t> running{0};       // 1 from device open until the thread ends
  std::atomic<int32_t> thread_alive{0};  // 1 from thread start until it ends
  std::atomic<int32_t> device_state{kDeviceClosed};
  std::atomic<int32_t> selected_channel[kRings] = {};
  // Held while the device is opened, reset for a ring, or closed. The device's
  // reports take the output lock, never this one, so the device is closed while
  // holding this lock alone.
  platform::Mutex device_lock;

  platform::Mutex lock;  // the output lock
  platform::AudioDevice* device VZ_GUARDED_BY(lock) = nullptr;
  uint8_t queue[kQueuePlaces] VZ_GUARDED_BY(lock) = {};
  std::atomic<int32_t> queue_count{0};  // changed under `lock`; read without it

  platform::Mutex saved_lock;
  uint8_t last_saved[kRings][6] VZ_GUARDED_BY(saved_lock) = {};

  // Wake-ups of the output thread and of the callers waiting for it: every
  // change of a value the waits look at is followed by kick().
  std::mutex kick_lock;
  std::condition_variable kick_cv;

  PlaybackRing playback;
};

struct LiveState {
  // Session values.
  std::mutex session_lock;  // one connect or close at a time
  char address[16] = {};    // the multicast group, as given (at most 15 characters)
  int port_base = 0;
  // The expected sender: bit 32 set when one is named, its address in bits 0..31
  // (network byte order in memory); 0 matches no sender.
  std::atomic<uint64_t> expected_sender{0};
  ReceiveThread threads[kThreads];
  // Callers waiting for a receive thread's state wait here; the threads notify
  // after each change they make.
  std::mutex threads_lock;
  std::condition_variable threads_cv;

  VideoSet sets[kVideoSets];
  AudioRing rings[kRings];

  // Registers of the last blocks.
  std::atomic<int32_t> last_video_channel{0};
  std::atomic<uint32_t> ptz[kChannels][3] = {};
  std::atomic<int32_t> no_audio[kRings] = {};

  // Control values.
  std::atomic<int32_t> audio_switch{0};
  std::atomic<int32_t> display_channel{0};  // 0 none, else channel + 1

  // kora_udp_rx decodes under this lock, so that callers on several threads do
  // not share the decoder instances.
  std::mutex decode_lock;

  AudioOutput audio;
  Counters counters;
};

LiveState& state();

// Allocates every slot, ring and display buffer that is not there yet (a failed
// allocation leaves that buffer absent). Returns the number of buffers missing.
int allocate_buffers();
// Frees them all.
void free_buffers();

// Wakes the output thread and every caller waiting for it.
void kick();

// Sets a receive thread's state and wakes it (callers) or the callers waiting
// for it (the thread itself).
void set_thread_state(int t, int32_t value);
void announce_thread_state(int t, int32_t value);
// The thread has its socket bound and configured: kora_udp_connect may return.
void announce_thread_ready(int t);
// The thread's last act: sets its state to Exited (when `exited`) and clears its
// alive flag in one step, so a waiter never sees one without the other.
void announce_thread_end(int t, bool exited);

// The receive thread's body (receiver.cc).
void receive_main(int t);

}  // namespace virazav::live::detail
