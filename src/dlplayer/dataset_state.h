// The one process-wide state of the downloaded data set (private to
// src/dlplayer/): the open stream file, the current packet, offsets, times, the
// frame index, masks, the locks and the play mode. dataset.cc owns the single
// instance; the files of this folder reach it through detail::state().
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "dlplayer/dataset.h"
#include "platform/mutex.h"
#include "platform/platform.h"

namespace virazav::dlplayer::detail {

inline constexpr int kChannels = 16;
inline constexpr int kAudioBuffers = 3;
inline constexpr size_t kAudioBufferSize = 8192;
inline constexpr size_t kBitmapDirMax = 199;

// Play modes the data-set layer itself sets or waits for.
inline constexpr int kModeStopped = 1;
inline constexpr int kModeIdle = 2;      // the thread has started and waits for a mode
inline constexpr int kModeEnd = 8;       // request to end the thread
inline constexpr int kModeNoThread = 9;  // no thread running

inline constexpr int kIntervalShortMs = 500;
inline constexpr int kIntervalLongMs = 1000;

// One buffer of the playback ring with the lock it is filled under.
struct RingBuffer {
  platform::Mutex lock;
  platform::Buffer data VZ_GUARDED_BY(lock);  // kAudioBufferSize, allocated by init
};

// Where the application's calls and the playback thread meet besides the
// player lock: a call that wants the lock announces itself (requests) and
// wakes the thread, which then lets it in between two cycles and cuts a wait
// short; the thread sleeps on `cv` between its cycles and while idle.
struct EngineWake {
  std::mutex lock;
  std::condition_variable cv;
  uint64_t events = 0;  // under `lock`: raised by every wake
};

// The splitter's values kept between its calls.
struct SplitterValues {
  uint32_t first_pts = 0;
  uint32_t last_increasing = 0;
  int64_t resume_offset = 0;
};

struct DataSetState {
  std::atomic<bool> initialised{false};

  // Locks: the player lock guards position and mode changes; each channel
  // lock guards that channel's picture.
  platform::Mutex player_lock;
  std::mutex channel_locks[kChannels];
  RingBuffer ring[kAudioBuffers];
  std::atomic<int32_t> requests{0};  // calls waiting for the player lock
  EngineWake wake;
  // Raised by every move of the position that the playback thread did not
  // make itself (Mpeg4DLdata_set_PlayPos, Mpeg4DLdata_search, the rewind of a
  // completed index build): a packet the thread holds is then given up.
  uint32_t repositions VZ_GUARDED_BY(player_lock) = 0;

  // The open stream file (read-only), or none. Guarded by player_lock once
  // the playback thread runs.
  platform::File file;
  std::string path;
  CurrentPacket packet;
  // Atomic so that Mpeg4DLdata_get_PlayPos reads it without the player lock;
  // written under the player lock once the playback thread runs.
  std::atomic<int64_t> current_offset{0};
  int64_t last_read_offset = 0;
  int64_t file_size = 0;
  int64_t first_offset = 0;
  uint32_t first_size = 0;

  // Times: base time in seconds (local mktime scale), 90 kHz stamps.
  std::atomic<int64_t> base_time{0};
  uint32_t first_pts = 0;
  uint32_t end_pts = 0;
  std::atomic<uint32_t> current_pts{0};
  std::atomic<uint32_t> displayed_pts{0};

  // The frame index: kIndexFileBytes of entries in the file layout.
  platform::Buffer index;
  std::atomic<int32_t> cursor{0};
  std::atomic<int32_t> last_valid{-1};
  std::atomic<int32_t> index_ready{0};
  std::atomic<uint32_t> video_mask{0};
  std::atomic<uint32_t> audio_mask{0};
  // The builder reads the stream file through a handle of its own so that a
  // slice never moves the playback thread's position.
  platform::File build_file;
  int64_t build_offset = 0;
  int build_last_progress = 0;

  std::atomic<int32_t> frame_interval_ms{kIntervalLongMs};
  std::atomic<int32_t> default_interval_ms{kIntervalLongMs};
  std::atomic<int32_t> master_channel{0};

  int64_t last_key_offset = 0;
  uint32_t last_key_prev_size = 0;

  std::string bitmap_dir;
  std::atomic<int32_t> picture_ready[kChannels] = {};
  std::atomic<int32_t> display_channel{-1};
  std::atomic<int32_t> play_mode{kModeNoThread};
  std::atomic<int32_t> requested_direction{format::kForward};
  std::atomic<int32_t> direction{format::kForward};

  SplitterValues split;
};

DataSetState& state();

// Wakes the playback thread from a wait between cycles or while idle.
void wake_engine();

// Holds the player lock for one of the application's calls: the call is
// announced before the lock is taken, so that the playback thread lets it in
// between two cycles (and cuts a pacing wait short), and the thread is woken
// again when the lock is released.
class VZ_SCOPED_CAPABILITY PlayerRequest {
 public:
  explicit PlayerRequest(DataSetState& s) VZ_ACQUIRE(s.player_lock);
  ~PlayerRequest() VZ_RELEASE();
  PlayerRequest(const PlayerRequest&) = delete;
  PlayerRequest& operator=(const PlayerRequest&) = delete;

 private:
  DataSetState& s_;
};

// Notes a move of the position made outside the playback thread.
void note_reposition(DataSetState& s) VZ_REQUIRES(s.player_lock);

// Allocates the in-memory index if it is not there yet. Returns false when it
// cannot be allocated.
bool ensure_index();

}  // namespace virazav::dlplayer::detail
