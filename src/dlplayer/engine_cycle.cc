// One cycle of the playback engine: the turn of direction, the reset after a
// change of mode or display channel, idling, reading packets until one is to
// be handled (key frames through the frame index, never by scanning), and the
// move to the packet that comes next. Showing a video packet is
// engine_video.cc's, the sound audio_path.cc's.
#include <cstring>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/engine.h"
#include "dlplayer/frame_index.h"
#include "dlplayer/packet_io.h"
#include "format/video_headers.h"
#include "live/live.h"

namespace virazav::dlplayer::detail {
namespace {

using format::kBackward;
using format::kForward;

bool single_channel(int display) {
  return display >= 0 && display < kChannels;
}

bool backward_mode(int mode) {
  return mode == kModeBack || mode == kModeFastBack || mode == kModeStepBack;
}

bool playing_mode(int mode) {
  return mode == kModePlay || (mode >= kModeBack && mode <= kModeFast);
}

uint32_t now(const Engine& e) {
  return e.clock->now_ms(e.clock->user);
}

void drop_held(Engine& e) {
  e.held = false;
  e.held_audio = false;
}

// Positions the data set at `offset` and the file there.
void go_to(DataSetState& s, int64_t offset) VZ_REQUIRES(s.player_lock) {
  s.current_offset = offset;
  s.file.seek(offset, platform::SeekFrom::kBegin);
}

// The packet after `p` in the file, for moves that cannot go through the
// index. A size that no packet can have is not followed: the search for the
// next start code begins right after this one's.
int64_t following(const CyclePacket& p) {
  uint32_t size = p.header.packet_size;
  if (size < format::kPacketHeaderBytes || size > decoder::kFrameBufferSize) size = 4;
  return p.header.offset + static_cast<int64_t>(size);
}

// After a move the thread did not make: what it held belongs to the old place.
void take_reposition(Engine& e, DataSetState& s) VZ_REQUIRES(s.player_lock) {
  if (s.repositions == e.repositions_seen) return;
  e.repositions_seen = s.repositions;
  drop_held(e);
  e.queue.reset();
  e.jumped = true;
  e.show_mask = 0;
  e.last_key_entry = -1;
  // The displayed time stamp was reset: the next picture is shown at once,
  // and the time spent before the move does not count as lateness.
  e.reference_ms = now(e);
}

// Adopts the requested direction. The position becomes the key frame
// at or after it; when a key frame has been shown since the last move from
// outside, play goes on from the key frame next to it in the new direction,
// so that a step back after steps forward shows the key frame before the last
// one shown (and the other way round); normal play goes on from that key
// frame itself, with the pictures after it.
void turn(Engine& e, DataSetState& s, int requested, int mode) VZ_REQUIRES(s.player_lock) {
  seek_key_frame(kForward);
  s.direction.store(requested);
  e.jumped = true;
  const int last = e.last_key_entry;
  if (last < 0 || last > s.last_valid.load()) return;
  if (mode == kModePlay) {
    s.cursor.store(last);
    go_to(s, static_cast<int64_t>(index_entry(last).offset));
    return;
  }
  const int64_t shown = static_cast<int64_t>(index_entry(last).offset);
  const int64_t next = index_step_from(last, kStepKeyFrames, s.display_channel.load(),
                                       live::selected_audio_channel(1), requested);
  const bool beyond = requested == kForward ? next > shown : next < shown;
  if (beyond && next >= s.first_offset && next < s.file_size) {
    go_to(s, next);
  } else {
    // Nothing lies beyond the last key frame shown: play starts from it.
    s.cursor.store(last);
    go_to(s, shown);
  }
}

// The cursor follows the packets read one after the other: a packet that is
// the entry after the cursor moves it there. (After a move through the index
// the cursor is already on the packet's entry.)
void follow_cursor(const Engine& e, DataSetState& s, int64_t offset) {
  if (e.jumped) return;
  const int next = s.cursor.load() + 1;
  if (next >= 0 && next <= s.last_valid.load() &&
      static_cast<int64_t>(index_entry(next).offset) == offset) {
    s.cursor.store(next);
  }
}

// No packet where play stands.
void end_of_data(DataSetState& s, int direction) VZ_REQUIRES(s.player_lock) {
  const int64_t at = s.current_offset;
  s.cursor.store(s.last_valid.load() < 0 ? 0 : s.last_valid.load());
  if (direction == kForward) {
    go_to(s, s.file_size);
  } else if (s.last_key_offset != 0 && s.last_key_offset != at) {
    // Backward from the end: on from the last key frame.
    go_to(s, s.last_key_offset);
  } else {
    stop_play(s);
  }
}

enum class KeyMove { kMoved, kAtStart, kNone };

// Moves to the next key frame of the display channel (of any channel in the
// all-channels view) through the index. Backward, a key frame at or before
// the first packet is reported as the start.
KeyMove next_key_frame(Engine& e, DataSetState& s, int direction) VZ_REQUIRES(s.player_lock) {
  const int64_t from = e.packet.header.offset;
  const int64_t target = index_step(kStepKeyFrames, s.display_channel.load(),
                                    live::selected_audio_channel(1), direction);
  if (direction != kForward && s.last_valid.load() >= 0 && target <= s.first_offset) {
    return KeyMove::kAtStart;
  }
  return move_through_index(e, s, target, from, direction) ? KeyMove::kMoved : KeyMove::kNone;
}

// A forward move that the index cannot make goes on with the packet after
// this one; a backward one ends play. Returns false when play ended.
bool move_or_follow(Engine& e, DataSetState& s, KeyMove moved, int direction)
    VZ_REQUIRES(s.player_lock) {
  if (moved == KeyMove::kMoved) return true;
  if (direction == kForward) {
    go_to(s, following(e.packet));
    e.jumped = false;
    return true;
  }
  if (moved == KeyMove::kAtStart && e.packet.header.offset != s.first_offset) {
    s.cursor.store(0);
    go_to(s, s.first_offset);
    e.jumped = true;
    return true;
  }
  stop_play(s);
  return false;
}

// Reads the packet whose header was found: an audio packet whole,
// the first bytes of a video packet. Returns false when nothing could be read.
bool load(Engine& e, DataSetState& s, const format::PacketHeader& h) VZ_REQUIRES(s.player_lock) {
  CyclePacket& p = e.packet;
  p = CyclePacket{};
  p.header = h;
  uint8_t* fb = decoder::frame_buffer();
  if (fb == nullptr) return false;
  if (h.kind == format::kKindAudio) {
    long got = load_packet(s.file, h);
    if (got <= 0) return false;
    p.head_bytes = static_cast<size_t>(got) < kHeadBytes ? static_cast<size_t>(got) : kHeadBytes;
  } else {
    size_t want = h.packet_size < kHeadBytes ? h.packet_size : kHeadBytes;
    long got = s.file.read(fb, want);
    if (got <= 0) return false;
    p.head_bytes = static_cast<size_t>(got);
    s.packet.channel = h.channel;
    s.packet.kind = h.kind;
    s.packet.packet_size = h.packet_size;
    s.packet.prev_size = h.prev_size;
    s.packet.loaded = static_cast<uint32_t>(got);
    s.packet.pts = format::packet_pts(fb, p.head_bytes);
    s.last_read_offset = h.offset;
  }
  std::memcpy(p.head, fb, p.head_bytes);
  p.pts = format::packet_pts(p.head, p.head_bytes);
  return true;
}

// Reads packets from the position until one is to be handled, and
// handles it.
Handled read_and_handle(Engine& e, DataSetState& s, int mode) VZ_REQUIRES(s.player_lock) {
  const int direction = s.direction.load();
  const int display = s.display_channel.load();
  bool take_first = false;  // backward play reached the first packet: show it
  for (int n = 0; n < kPacketsPerCycle; ++n) {
    const int64_t at = s.current_offset;
    format::PacketHeader h;
    int found = s.file.seek(at, platform::SeekFrom::kBegin) == 0
                    ? format::parse_packet_header(s.file, direction, &h)
                    : format::kPacketNone;
    if (found == format::kPacketNotHere) {
      // The index led to something that is not a packet.
      if (mode == kModeFastBack) {
        stop_play(s);
        return Handled::kEndCycle;
      }
      e.packet = CyclePacket{};
      e.packet.header.offset = at;
      if (next_key_frame(e, s, direction) != KeyMove::kMoved) {
        stop_play(s);
        return Handled::kEndCycle;
      }
      continue;
    }
    if (found != format::kPacketFound) {
      end_of_data(s, direction);
      return Handled::kEndCycle;
    }
    s.current_offset = h.offset;
    if (h.packet_size < format::kPacketHeaderBytes || h.packet_size > decoder::kFrameBufferSize ||
        !load(e, s, h)) {
      // A size that no packet can have, or a packet that cannot be read:
      // passed over.
      e.packet = CyclePacket{};
      e.packet.header = h;
      if (!move_or_follow(e, s,
                          direction == kForward ? KeyMove::kNone : next_key_frame(e, s, direction),
                          direction)) {
        return Handled::kEndCycle;
      }
      continue;
    }
    CyclePacket& p = e.packet;
    const bool no_back_link = h.prev_size == 0 || h.prev_size >= kPrevSizeLimit;
    if (direction != kForward && no_back_link && h.offset < s.first_offset) {
      go_to(s, s.first_offset);
      s.cursor.store(0);
      stop_play(s);
      return Handled::kEndCycle;
    }
    follow_cursor(e, s, h.offset);
    e.jumped = false;

    // After a skip in the all-channels view: the channels passed over first.
    if (e.show_mask != 0 && h.kind == format::kKindVideo) {
      const uint32_t bit = 1u << h.channel;
      if (e.show_mask & bit) {
        p.forced = true;
        e.show_mask &= ~bit;
      } else if (h.channel != display) {
        const int64_t target =
            index_step(kStepAll, display, live::selected_audio_channel(1), direction);
        KeyMove m = move_through_index(e, s, target, h.offset, direction) ? KeyMove::kMoved
                                                                          : KeyMove::kNone;
        if (!move_or_follow(e, s, m, direction)) return Handled::kEndCycle;
        continue;
      }
    }

    if (h.kind == format::kKindAudio) {
      if (mode == kModePlay) return audio_path(e, s);
      if (take_first) {
        stop_play(s);
        return Handled::kEndCycle;
      }
      if (!move_or_follow(e, s, next_key_frame(e, s, direction), direction)) {
        return Handled::kEndCycle;
      }
      continue;
    }

    format::VideoHeaders v;
    const int bits = format::scan_video_headers(p.head, p.head_bytes, &v);
    if (v.width > 0 && v.height > 0) {
      resize_for(h.channel, v.width, v.height);
      p.sequence_header = true;
    }
    p.vop_kind = v.vop_kind;
    const bool intra = v.vop_kind == format::kVopIntra;
    if ((bits & format::kFoundVop) == 0) return handle_video(e, s, mode);
    KeyMove m;
    if (mode == kModePlay) {
      if (decoder::synced(h.channel) || intra) {
        decoder::set_synced(h.channel, true);
        return handle_video(e, s, mode);
      }
      m = next_key_frame(e, s, direction);
    } else if (mode == kModeStep || mode == kModeFast) {
      if (intra) return handle_video(e, s, mode);
      m = next_key_frame(e, s, direction);
    } else {
      if (intra || no_back_link || take_first) return handle_video(e, s, mode);
      m = next_key_frame(e, s, direction);
      if (m == KeyMove::kAtStart) take_first = true;
    }
    if (!move_or_follow(e, s, m, direction)) return Handled::kEndCycle;
  }
  // The lock is let go after so many packets; play goes on from here.
  return Handled::kEndCycle;
}

// The move to the packet that comes next.
void move_on(Engine& e, DataSetState& s, int mode) VZ_REQUIRES(s.player_lock) {
  const CyclePacket& p = e.packet;
  const int direction = s.direction.load();
  const int display = s.display_channel.load();
  bool moved;
  if (backward_mode(mode)) {
    moved = move_or_follow(e, s, next_key_frame(e, s, direction), direction);
  } else if (mode == kModePlay && p.header.channel == display) {
    go_to(s, following(p));
    e.jumped = false;
    moved = true;
  } else {
    const int64_t target = index_step(mode == kModePlay ? kStepAll : kStepKeyFrames, display,
                                      live::selected_audio_channel(1), direction);
    moved = move_or_follow(e, s,
                           move_through_index(e, s, target, p.header.offset, direction)
                               ? KeyMove::kMoved
                               : KeyMove::kNone,
                           direction);
  }
  if (moved && (mode == kModeStep || mode == kModeStepBack)) stop_play(s);
}

// When a held packet's wait can end: the next queued picture's due time, or
// the moment the expected time stamp reaches the held key frame's.
uint32_t held_until(const Engine& e, const DataSetState& s) {
  const uint32_t t = now(e);
  uint32_t until = t + kMaxWaitMs;
  int64_t due;
  if (e.queue.next_due(&due)) {
    const uint32_t at = queue_since_ms(e, s) + static_cast<uint32_t>(due);
    if (static_cast<int32_t>(at - until) < 0) until = at;
  }
  if (e.held && !e.held_audio && e.speed != 0) {
    const int32_t ahead = static_cast<int32_t>(e.packet.pts - s.displayed_pts.load());
    const int64_t ms = (ahead < 0 ? -static_cast<int64_t>(ahead) : ahead) /
                       (kPtsPerMs * static_cast<uint32_t>(e.speed < 0 ? -e.speed : e.speed));
    const uint32_t at = e.reference_ms + static_cast<uint32_t>(ms > kMaxWaitMs ? kMaxWaitMs : ms);
    if (static_cast<int32_t>(at - until) < 0) until = at;
  }
  if (e.held_audio) until = t + 1;
  return static_cast<int32_t>(until - t) < 0 ? t : until;
}

}  // namespace

int mode_speed(int mode) {
  switch (mode) {
    case kModePlay:
      return 1;
    case kModeBack:
      return -1;
    case kModeFastBack:
      return -2;
    case kModeFast:
      return 2;
    default:
      return 0;
  }
}

bool all_channels(int display) {
  return !single_channel(display);
}

bool audio_paces(const DataSetState& s, int mode) {
  // Without wave mode 3 nothing plays the ring, and nothing could pace.
  const int channel = live::selected_audio_channel(1);
  return mode == kModePlay && live::device_state() == live::kDeviceOpen && live::wave_mode() == 3 &&
         channel >= 0 && channel < kChannels && ((s.audio_mask.load() >> channel) & 1) != 0;
}

void stop_play(DataSetState& s) {
  // Only a playing mode falls back: an end request (8) that came in the
  // meantime without the player lock is never overwritten.
  int mode = s.play_mode.load();
  while (playing_mode(mode) && !s.play_mode.compare_exchange_weak(mode, kModeStopped)) {
  }
}

bool move_through_index(Engine& e, DataSetState& s, int64_t offset, int64_t from, int direction) {
  if (s.last_valid.load() < 0 || offset < s.first_offset || offset >= s.file_size) return false;
  if (direction == kForward ? offset <= from : offset >= from) return false;
  go_to(s, offset);
  e.jumped = true;
  return true;
}

bool engine_start(Engine& e, const EngineClock& clock) {
  DataSetState& s = state();
  e.clock = &clock;
  const bool queue = e.queue.allocate();
  e.last_display = s.display_channel.load();
  e.last_mode = kModeIdle;
  e.reference_ms = now(e);
  e.key_shown_ms = e.reference_ms;
  {
    platform::MutexLock lock(s.player_lock);
    e.repositions_seen = s.repositions;
  }
  s.play_mode.store(kModeIdle);
  return queue;
}

CycleResult run_cycle(Engine& e) {
  DataSetState& s = state();
  platform::MutexLock lock(s.player_lock);
  take_reposition(e, s);
  const int requested = s.requested_direction.load();
  if (requested != s.direction.load()) turn(e, s, requested, s.play_mode.load());

  const int mode = s.play_mode.load();
  const int display = s.display_channel.load();
  if (display != e.last_display || mode != e.last_mode) {
    e.queue.reset();
    drop_held(e);
    if (mode != e.last_mode) e.late_factor = 1;
    if (display != e.last_display) {
      if (single_channel(e.last_display)) {
        seek_key_frame(kForward);
        e.jumped = true;
      }
      e.show_mask = 0;
      e.last_key_entry = -1;
    }
    e.last_mode = mode;
    e.last_display = display;
  }

  const bool at_end = s.current_offset.load() >= s.file_size;
  if (at_end && mode == kModePlay && s.direction.load() == kForward && single_channel(display)) {
    // The pictures of the last key frame are still shown, at their times.
    show_due_pictures(e, s);
    if (e.queue.any_pending()) return {After::kWaitUntil, held_until(e, s)};
  }
  if (!playing_mode(mode) || (at_end && s.direction.load() == kForward)) {
    // Forward play that has reached the end of the file stops there.
    if (at_end && s.direction.load() == kForward) stop_play(s);
    e.reference_ms = now(e);
    drop_held(e);
    return {After::kIdle, 0};
  }

  e.cycle_start_ms = now(e);
  e.speed = mode_speed(mode);
  Handled handled;
  if (e.held_audio) {
    handled = audio_path(e, s);
  } else if (e.held) {
    // The head goes back into the frame buffer, which a queued picture or a
    // reposition may have used meanwhile.
    reload_head(e, s);
    handled = handle_video(e, s, mode);
  } else {
    handled = read_and_handle(e, s, mode);
  }
  if (handled != Handled::kEndCycle && mode == kModePlay && single_channel(display)) {
    show_due_pictures(e, s);
  }
  if (handled == Handled::kMoveOn) move_on(e, s, mode);
  if (handled == Handled::kHeld) return {After::kWaitUntil, held_until(e, s)};
  return {After::kNext, 0};
}

}  // namespace virazav::dlplayer::detail
