// The playback engine of the data set (private to src/dlplayer/): the state
// the playback thread keeps from one cycle to the next, the clock it paces
// by, and one cycle of play. playback_thread.cc runs the cycles on the
// thread; tests and the fuzz target run them through the same functions with
// a clock of their own, so that nothing waits in real time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dlplayer/dataset_state.h"
#include "dlplayer/picture_queue.h"
#include "format/stream_format.h"

namespace virazav::dlplayer::detail {

// ---- Play modes ----------------------------------------------------------------------
inline constexpr int kModePlay = 0;      // forward, every picture of the display channel
inline constexpr int kModeBack = 3;      // backward, key frames only
inline constexpr int kModeFastBack = 4;  // fast backward, key frames only
inline constexpr int kModeStepBack = 5;  // one key frame backward, then stopped
inline constexpr int kModeStep = 6;      // one key frame forward, then stopped
inline constexpr int kModeFast = 7;      // fast forward, key frames only

// Speed factor of a mode: 1, -1, -2, 0, 0 or 2 for modes 0, 3, 4, 5, 6, 7
// (0 for the others).
int mode_speed(int mode);

// ---- Bounds ---------------------------------------------------------------------------
inline constexpr size_t kHeadBytes = 256;  // read of a video packet until it is shown
inline constexpr int kMaxWaitMs = 3000;    // one wait before a picture
inline constexpr int kAudioGiveUpMs = 5000;
inline constexpr uint32_t kLateStamps = 90000;  // one second of time stamps
inline constexpr uint32_t kPtsPerMs = 90;
// A backward packet whose prev_size is 0 or this large has no usable back link.
inline constexpr uint32_t kPrevSizeLimit = 204800;
// Packets one cycle reads at the most before it lets the lock go.
inline constexpr int kPacketsPerCycle = 256;

// ---- The clock -------------------------------------------------------------------------
// Every time the engine reads and every wait it makes goes through this. The
// thread uses real_clock(); a test or fuzz target passes one of its own.
struct EngineClock {
  uint32_t (*now_ms)(void* user);
  // Waits up to `ms`. Returns true when it was cut short because one of the
  // application's calls waits for the player lock.
  bool (*pause)(void* user, int ms);
  // Waits up to `ms` for playback-ring slot `w` to be free; true when it is.
  bool (*wait_slot_free)(void* user, int w, int ms);
  void* user;
};
const EngineClock& real_clock();

// ---- Pictures shown ----------------------------------------------------------------------
// Told after every picture the engine has decoded into a channel's picture,
// for tests and measurements.
struct ShownPicture {
  int channel = 0;
  uint32_t pts = 0;
  bool key = false;       // a sequence-header packet (else a queued picture)
  bool decoded = false;   // the decoder accepted it
  uint32_t due_ms = 0;    // when the pacing wanted it shown (the clock's ms)
  uint32_t shown_ms = 0;  // when it was ready
};
using ShowObserver = void (*)(const ShownPicture& picture, void* user);
// Installs the observer (nullptr removes it); it runs on the playback thread
// under the player lock and must not call into the data set.
void set_show_observer(ShowObserver observer, void* user);

// ---- The engine's own state ----------------------------------------------------------------
// The packet a cycle works on, kept when it is held over to the next cycle.
struct CyclePacket {
  format::PacketHeader header;
  uint32_t pts = 0;
  size_t head_bytes = 0;  // bytes of it in `head` (and in the frame buffer)
  bool sequence_header = false;
  int vop_kind = 0;
  bool forced = false;
  uint8_t head[kHeadBytes] = {};
};

struct Engine {
  const EngineClock* clock = nullptr;
  PictureQueue queue;

  int last_display = -1;  // display channel and mode of the last cycle
  int last_mode = kModeIdle;
  int speed = 0;
  uint32_t reference_ms = 0;  // when the last picture was shown, or the thread last idled
  uint32_t key_shown_ms = 0;  // when the display channel's last key frame was shown
  uint32_t cycle_start_ms = 0;
  int smoothed_ms = 0;      // smoothed cycle time
  int late_factor = 1;      // 2 after waiting for an audio buffer
  bool held = false;        // the packet is handled again in the next cycle
  bool held_audio = false;  // ... and it is an audio packet waiting for a ring slot
  uint32_t audio_wait_start_ms = 0;
  bool jumped = false;     // the last move went through the index
  uint32_t show_mask = 0;  // channels still to show after a skip (all-channels view)
  uint32_t expected_pts = 0;
  uint32_t repositions_seen = 0;
  // Index entry of the last key frame shown since the last reposition, or -1:
  // a change of direction continues from the key frame next to it.
  int last_key_entry = -1;
  CyclePacket packet;
};

// What the thread does after a cycle.
enum class After {
  kNext,       // run the next cycle
  kIdle,       // nothing to do until something changes
  kWaitUntil,  // a packet is held: wait until `until_ms` (or a change)
};
struct CycleResult {
  After after = After::kNext;
  uint32_t until_ms = 0;
};

// Prepares an engine for a thread's run: the queue store, the remembered mode
// and display channel, the reference time. Returns false when the queue store
// could not be allocated (the engine then plays without a queue).
bool engine_start(Engine& e, const EngineClock& clock);
// Frees the queue store.
void engine_finish(Engine& e);
// Runs one cycle of play. Takes the player lock itself.
CycleResult run_cycle(Engine& e);

// ---- Steps shared by the files of the engine (all under the player lock) ------------------------
// True in the all-channels view (display channel outside 0..15).
bool all_channels(int display);
// True when audio paces the pictures: normal play, the output device open
// and the player's audio channel present in the audio mask.
bool audio_paces(const DataSetState& s, int mode);
// Moves to `offset` found through the index: the file is positioned there and
// the jumped flag set. Returns false (nothing moved) when the offset does not
// lie strictly beyond (forward) or before (backward) `from`, or outside the
// stream, so that a damaged index cannot turn play round.
bool move_through_index(Engine& e, DataSetState& s, int64_t offset, int64_t from, int direction)
    VZ_REQUIRES(s.player_lock);
// Stops play: mode 1.
void stop_play(DataSetState& s);
// The clock value the queue's due times count from.
uint32_t queue_since_ms(const Engine& e, const DataSetState& s);
// Shows the queued pictures that are due.
void show_due_pictures(Engine& e, DataSetState& s) VZ_REQUIRES(s.player_lock);
// Decodes the packet loaded in the frame buffer into its channel's picture
// under the channel's lock and marks it ready; tells the observer.
void show_loaded_picture(Engine& e, DataSetState& s, bool key, uint32_t due_ms)
    VZ_REQUIRES(s.player_lock);
// Puts the head of the cycle's packet back into the frame buffer and makes it
// the current packet again (after a queued picture used the buffer).
void reload_head(Engine& e, DataSetState& s) VZ_REQUIRES(s.player_lock);
// Re-creates the decoder instances at a channel's new size, holding every
// channel lock (the pictures of all channels are replaced).
void resize_for(int channel, int width, int height);

// Outcome of handling a packet.
enum class Handled {
  kMoveOn,    // go on to the queued pictures and the move to the next packet
  kEndCycle,  // the cycle ends here (the position is already where it goes)
  kHeld,      // the packet waits for the next cycle
};
// Handles a video packet whose head is loaded.
Handled handle_video(Engine& e, DataSetState& s, int mode) VZ_REQUIRES(s.player_lock);
// The audio path of an audio packet in normal play (loaded whole).
Handled audio_path(Engine& e, DataSetState& s) VZ_REQUIRES(s.player_lock);

}  // namespace virazav::dlplayer::detail
