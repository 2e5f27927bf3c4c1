// Handling a video packet in a cycle of the playback engine: which packets
// are shown, the time stamp they make current, the skip through the frame
// index when play has fallen behind, the queue of the display channel's
// pictures between two key frames, the pacing of key frames against the
// clock by their time stamps, and putting a picture on show (decoded into
// its channel's picture under the channel's lock and marked ready for
// Mpeg4DLdata_filelock; the decoders re-created when a sequence header
// brings a new size).
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/engine.h"
#include "dlplayer/frame_index.h"
#include "dlplayer/packet_io.h"
#include "live/live.h"

namespace virazav::dlplayer::detail {
namespace {

struct Observer {
  std::mutex lock;
  ShowObserver fn = nullptr;
  void* user = nullptr;
};

Observer& observer() {
  static Observer o;
  return o;
}

uint32_t now(const Engine& e) {
  return e.clock->now_ms(e.clock->user);
}

void tell(const ShownPicture& picture) {
  Observer& o = observer();
  std::lock_guard<std::mutex> lock(o.lock);
  if (o.fn != nullptr) o.fn(picture, o.user);
}

bool valid_channel(int channel) {
  return channel >= 0 && channel < kChannels;
}

using format::kForward;

// `a` lies beyond `b` in the direction of play (32-bit stamps that may wrap).
bool beyond(uint32_t a, uint32_t b, int direction) {
  const int32_t d = static_cast<int32_t>(a - b);
  return direction == kForward ? d > 0 : d < 0;
}

uint32_t distance(uint32_t a, uint32_t b) {
  const int32_t d = static_cast<int32_t>(a - b);
  return d < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(d)) : static_cast<uint32_t>(d);
}

// The time stamp of the next key frame of `channel` (any channel outside
// 0..15) from the cursor in `direction`, without moving the cursor; false when
// there is none.
bool next_key_stamp(const DataSetState& s, int channel, int direction, uint32_t* pts) {
  const int last = s.last_valid.load();
  const int step = direction == kForward ? 1 : -1;
  for (int n = s.cursor.load() + step; n >= 0 && n <= last; n += step) {
    const format::FrameIndexEntry e = index_entry(n);
    if (e.kind != format::kKindVideo) continue;
    if (channel >= 0 && channel < kChannels && e.channel != channel) continue;
    *pts = e.pts;
    return true;
  }
  return false;
}

// Play has fallen behind: the skip through the index.
Handled fall_behind(Engine& e, DataSetState& s, bool paces, uint32_t clock_value)
    VZ_REQUIRES(s.player_lock) {
  const CyclePacket& p = e.packet;
  const int direction = s.direction.load();
  const int display = s.display_channel.load();
  const bool all = all_channels(display);
  const int audio_channel = live::selected_audio_channel(1);
  const int old_cursor = s.cursor.load();
  // With audio pacing the pictures catch up with the next audio packet of the
  // player's channel; otherwise with the key frame that is due by now.
  const int64_t target =
      paces ? index_step(kStepAudio, display, audio_channel, direction)
            : index_step(kStepKeyFrames, display, audio_channel, direction, true, e.expected_pts);
  const int new_cursor = s.cursor.load();
  if (!move_through_index(e, s, target, p.header.offset, direction)) {
    s.cursor.store(old_cursor);
    stop_play(s);
    return Handled::kEndCycle;
  }
  const int step = new_cursor > old_cursor ? 1 : -1;
  if (all) {
    // Every channel whose key frame is passed over is shown once on the way.
    for (int n = old_cursor; n != new_cursor && n >= 0; n += step) {
      const format::FrameIndexEntry entry = index_entry(n);
      if (entry.kind == format::kKindVideo && entry.channel < kChannels) {
        e.show_mask |= 1u << entry.channel;
      }
    }
  }
  const int paced_channel = all ? s.master_channel.load() : display;
  int found = -1;
  if (p.header.channel == paced_channel) {
    for (int n = new_cursor; n != old_cursor - step && n >= 0; n -= step) {
      const format::FrameIndexEntry entry = index_entry(n);
      if (entry.kind == format::kKindVideo && entry.channel == paced_channel) {
        found = n;
        break;
      }
    }
  }
  if (!paces) {
    s.displayed_pts.store(index_entry(found >= 0 ? found : new_cursor).pts);
    e.reference_ms = clock_value;
  }
  return Handled::kEndCycle;
}

// A picture of the display channel without a sequence header goes
// into the queue, due when its time stamp says after the key frame's.
void queue_picture(Engine& e, DataSetState& s) VZ_REQUIRES(s.player_lock) {
  const CyclePacket& p = e.packet;
  if (!e.queue.enabled() || e.queue.count() >= kQueueLimit) return;
  const uint32_t key_pts = index_entry(s.cursor.load()).pts;
  int64_t due = static_cast<int32_t>(p.pts - key_pts) / static_cast<int32_t>(kPtsPerMs);
  // A stamp before the key frame's is due at once; one far beyond it (a
  // damaged stamp) no later than the longest single wait.
  if (due < 0) due = 0;
  if (due > kMaxWaitMs) due = kMaxWaitMs;
  const int64_t rest = p.header.offset + static_cast<int64_t>(p.head_bytes);
  if (s.file.seek(rest, platform::SeekFrom::kBegin) != 0) return;
  e.queue.append(p.header.channel, p.pts, p.vop_kind, due, p.head, p.head_bytes,
                 p.header.packet_size, s.file);
}

// Reads the rest of the packet whose head is in the frame buffer.
void read_rest(Engine& e, DataSetState& s) VZ_REQUIRES(s.player_lock) {
  const CyclePacket& p = e.packet;
  uint8_t* fb = decoder::frame_buffer();
  size_t total = p.header.packet_size;
  if (total > decoder::kFrameBufferSize) total = decoder::kFrameBufferSize;
  size_t got = p.head_bytes;
  if (got < total &&
      s.file.seek(p.header.offset + static_cast<int64_t>(got), platform::SeekFrom::kBegin) == 0) {
    got += read_up_to(s.file, fb + got, total - got);
  }
  s.packet.loaded = static_cast<uint32_t>(got);
}

}  // namespace

void set_show_observer(ShowObserver fn, void* user) {
  Observer& o = observer();
  std::lock_guard<std::mutex> lock(o.lock);
  o.fn = fn;
  o.user = user;
}

void show_loaded_picture(Engine& e, DataSetState& s, bool key, uint32_t due_ms) {
  const int channel = s.packet.channel;
  if (!valid_channel(channel)) return;
  ShownPicture shown;
  shown.channel = channel;
  shown.pts = s.packet.pts;
  shown.key = key;
  shown.due_ms = due_ms;
  {
    std::lock_guard<std::mutex> lock(s.channel_locks[channel]);
    // A failed decode leaves the channel's last picture; it is offered all
    // the same.
    shown.decoded = decode_loaded_frame() == 1;
    s.picture_ready[channel].exchange(1);
  }
  shown.shown_ms = now(e);
  tell(shown);
}

void reload_head(Engine& e, DataSetState& s) {
  uint8_t* fb = decoder::frame_buffer();
  const CyclePacket& p = e.packet;
  if (fb == nullptr) return;
  std::memcpy(fb, p.head, p.head_bytes);
  s.packet.channel = p.header.channel;
  s.packet.kind = p.header.kind;
  s.packet.packet_size = p.header.packet_size;
  s.packet.prev_size = p.header.prev_size;
  s.packet.loaded = static_cast<uint32_t>(p.head_bytes);
  s.packet.pts = p.pts;
}

void resize_for(int channel, int width, int height) {
  if (!valid_channel(channel)) return;
  const decoder::ChannelSize was = decoder::channel_size(channel);
  if (was.width == width && was.height == height && was.created_width == width &&
      was.created_height == height) {
    return;
  }
  // Every channel's picture is replaced: no bitmap may be written from one
  // meanwhile.
  DataSetState& s = state();
  std::unique_lock<std::mutex> locks[kChannels];
  for (int c = 0; c < kChannels; ++c) {
    locks[c] = std::unique_lock<std::mutex>(s.channel_locks[c]);
  }
  decoder::set_channel_size(channel, width, height);
  decoder::resize_decoders(channel);
}

Handled handle_video(Engine& e, DataSetState& s, int mode) {
  CyclePacket& p = e.packet;
  const bool resumed = e.held;
  e.held = false;
  const int display = s.display_channel.load();
  const bool all = all_channels(display);
  const int master = s.master_channel.load();
  const int channel = p.header.channel;
  const int direction = s.direction.load();

  // Shown are the display channel's packets, and key frames with a sequence header
  // of the master channel or of any channel in the all-channels view.
  if (!resumed && channel != display && !(p.sequence_header && (channel == master || all))) {
    return Handled::kMoveOn;
  }

  // Where play should stand by now.
  const uint32_t clock_value = now(e);
  const int64_t elapsed = static_cast<int32_t>(clock_value - e.reference_ms);
  const uint32_t displayed = s.displayed_pts.load();
  const bool nothing_shown = displayed == 0;
  e.expected_pts = displayed + static_cast<uint32_t>(static_cast<int64_t>(e.speed) * elapsed *
                                                     static_cast<int64_t>(kPtsPerMs));

  // Key frames that mark where play stands.
  if ((p.sequence_header && (channel == master || channel == display || e.speed == 0)) ||
      p.forced) {
    s.current_pts.store(p.pts);
  }

  // Behind by more than a frame interval: on through the index.
  const bool paces = audio_paces(s, mode);
  if (e.speed != 0) {
    const int interval = s.frame_interval_ms.load();
    const int cycle = static_cast<int32_t>(clock_value - e.cycle_start_ms);
    e.smoothed_ms = (e.smoothed_ms + cycle) / 2;
    if (e.smoothed_ms > interval / 2) e.smoothed_ms = interval / 2;
    if (!resumed && elapsed >= static_cast<int64_t>(interval - e.smoothed_ms) * e.late_factor) {
      return fall_behind(e, s, paces, clock_value);
    }
  }

  // The display channel's pictures between key frames wait in the queue.
  if (!p.sequence_header) {
    if (mode == kModePlay && !all && channel == display) queue_picture(e, s);
    return Handled::kMoveOn;
  }
  if (!all && channel == display) {
    if (beyond(p.pts, e.expected_pts, direction) && e.queue.last_pending()) {
      e.held = true;
      return Handled::kHeld;
    }
    e.queue.reset();
  }

  // The key frame of the channel that paces play waits for its time.
  uint32_t due = clock_value;
  const int paced_channel = all ? master : display;
  if (channel == paced_channel) {
    int64_t wait = 0;
    if (!nothing_shown && e.speed != 0 && beyond(p.pts, displayed, direction)) {
      wait = distance(p.pts, displayed) / (kPtsPerMs * static_cast<uint32_t>(std::abs(e.speed)));
    }
    if (paces) wait = 0;
    due = e.reference_ms + static_cast<uint32_t>(wait);
    if (wait > elapsed) {
      const int64_t ms = wait - elapsed;
      if (e.clock->pause(e.clock->user, static_cast<int>(ms > kMaxWaitMs ? kMaxWaitMs : ms))) {
        // One of the application's calls waits for the lock: it goes first,
        // and the packet is handled again in the next cycle.
        e.held = true;
        return Handled::kHeld;
      }
    }
    s.displayed_pts.store(p.pts);
    e.reference_ms = now(e);
    uint32_t next;
    if (next_key_stamp(s, paced_channel, direction, &next) && next != p.pts) {
      s.frame_interval_ms.store(all ? s.default_interval_ms.load()
                                    : static_cast<int32_t>(distance(next, p.pts) / kPtsPerMs));
    }
  }

  // The one-second-late rule: a key frame far behind the time is not decoded.
  if (e.speed != 0 && !nothing_shown && !p.forced && !paces) {
    const int32_t late = direction == kForward ? static_cast<int32_t>(e.expected_pts - p.pts)
                                               : static_cast<int32_t>(p.pts - e.expected_pts);
    if (late > static_cast<int32_t>(kLateStamps)) {
      if (channel == display) e.queue.disable();
      return Handled::kMoveOn;
    }
  }

  read_rest(e, s);
  show_loaded_picture(e, s, true, due);
  if (channel == display || all) {
    if (channel == display) e.key_shown_ms = now(e);
    const int cursor = s.cursor.load();
    if (cursor >= 0 && static_cast<int64_t>(index_entry(cursor).offset) == p.header.offset) {
      e.last_key_entry = cursor;
    }
  }
  return Handled::kMoveOn;
}

}  // namespace virazav::dlplayer::detail
