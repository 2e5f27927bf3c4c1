// The sound of normal play: each audio packet of the player's audio channel
// is decoded into the current buffer of the playback ring and handed to the
// audio output thread (wave mode 3), the next buffer being waited for as the
// device frees it; every audio packet then sets the pace of the pictures.
#include <cstring>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/engine.h"
#include "dlplayer/frame_index.h"
#include "live/live.h"

namespace virazav::dlplayer::detail {
namespace {

using format::kForward;

// How long one wait for a free buffer lasts at the most: the queued
// pictures and the application's calls are looked at in between.
constexpr int kSlotWaitStepMs = 5;
// Each audio packet plays 4096 samples: about half a second of pictures.
constexpr int64_t kAudioPacketMs = 500;

enum class SlotWait { kFree, kGaveUp, kInterrupted };

uint32_t now(const Engine& e) {
  return e.clock->now_ms(e.clock->user);
}

// Waits for ring slot `next` to be free, showing the queued pictures that
// come due meanwhile; gives up kAudioGiveUpMs after the wait began.
SlotWait wait_for_slot(Engine& e, DataSetState& s, int next) VZ_REQUIRES(s.player_lock) {
  const bool single = !all_channels(s.display_channel.load());
  for (;;) {
    if (live::playback_slot_state(next) == live::kSlotFree) return SlotWait::kFree;
    // The pictures now follow the sound: lateness counts double.
    e.late_factor = 2;
    const uint32_t t = now(e);
    const int64_t waited = static_cast<int32_t>(t - e.audio_wait_start_ms);
    if (waited >= kAudioGiveUpMs) return SlotWait::kGaveUp;
    if (s.requests.load() > 0 || s.play_mode.load() == kModeEnd) return SlotWait::kInterrupted;
    int64_t step = kAudioGiveUpMs - waited;
    if (step > kSlotWaitStepMs) step = kSlotWaitStepMs;
    if (single) {
      show_due_pictures(e, s);
      int64_t due;
      if (e.queue.next_due(&due)) {
        const int64_t until = due - static_cast<int32_t>(now(e) - queue_since_ms(e, s));
        if (until < step) step = until < 1 ? 1 : until;
      }
    }
    e.clock->wait_slot_free(e.clock->user, next, static_cast<int>(step));
  }
}

// A packet of the player's audio channel: decoded into the
// current buffer and hand it over. Returns false when the wait for the next
// buffer was cut short by a call of the application's (the packet is held).
bool play_packet(Engine& e, DataSetState& s) VZ_REQUIRES(s.player_lock) {
  const int w = live::playback_write_index();
  if (w < 0 || w >= kAudioBuffers) return true;
  RingBuffer& buffer = s.ring[w];
  platform::MutexLock slot(buffer.lock);
  if (!buffer.data.ok()) return true;
  const bool device = live::wave_mode() == 3 && live::device_state() == live::kDeviceOpen;
  if (!e.held_audio) {
    // The packet is in the frame buffer whole; its ADPCM part decodes into
    // the slot's buffer, 8192 bytes of 16-bit samples, and the buffer's
    // header is prepared when the device will play it.
    const uint8_t* fb = decoder::frame_buffer();
    size_t n = s.packet.loaded;
    if (n > buffer.data.size()) n = buffer.data.size();
    std::memcpy(buffer.data.data(), fb, n);
    std::memset(buffer.data.data() + n, 0, buffer.data.size() - n);
    const int bytes = decoder::adpcm_decode_packet(buffer.data.data(), buffer.data.size(), 0);
    live::fill_playback_header(w, buffer.data.data(), static_cast<uint32_t>(bytes), device);
    e.late_factor = 1;
    e.audio_wait_start_ms = now(e);
  }
  if (!device) {
    live::set_playback_slot_state(w, live::kSlotFree);
    live::set_playback_write_index(0);
    e.held_audio = false;
    return true;
  }
  const int next = (w + 1) % kAudioBuffers;
  switch (wait_for_slot(e, s, next)) {
    case SlotWait::kInterrupted:
      e.held = e.held_audio = true;
      return false;
    case SlotWait::kFree:
      live::set_playback_slot_state(w, live::kSlotQueuedForOutput);
      live::set_playback_write_index(next);
      break;
    case SlotWait::kGaveUp:
      // The block is dropped; the buffer stays current for the next one.
      live::set_playback_slot_state(w, live::kSlotFree);
      break;
  }
  e.held = e.held_audio = false;
  return true;
}

// The next audio entry of `channel` from the cursor, without moving it.
bool next_audio_stamp(const DataSetState& s, int channel, uint32_t* pts) {
  const int last = s.last_valid.load();
  for (int n = s.cursor.load() + 1; n >= 0 && n <= last; ++n) {
    const format::FrameIndexEntry entry = index_entry(n);
    if (entry.kind == format::kKindAudio &&
        (channel < 0 || channel > 3 || entry.channel == channel)) {
      *pts = entry.pts;
      return true;
    }
  }
  return false;
}

}  // namespace

Handled audio_path(Engine& e, DataSetState& s) {
  const CyclePacket& p = e.packet;
  const int audio_channel = live::selected_audio_channel(1);
  const bool ours = p.header.channel == audio_channel;
  if (ours && live::device_state() == live::kDeviceOpen && decoder::adpcm_ready() &&
      !play_packet(e, s)) {
    return Handled::kHeld;
  }
  e.held = e.held_audio = false;

  // The sound the ring plays sets the pace of the pictures. Packets of
  // other channels, and any packet while nothing plays the ring, do not: the
  // pictures then keep their own pace.
  if (ours && audio_paces(s, kModePlay)) {
    e.reference_ms = now(e);
    const uint32_t here = index_entry(s.cursor.load()).pts;
    s.displayed_pts.store(here);
    e.queue.advance_due(kAudioPacketMs);
    uint32_t next;
    if (next_audio_stamp(s, audio_channel, &next) && next != here) {
      const int32_t d = static_cast<int32_t>(next - here);
      s.frame_interval_ms.store((d < 0 ? -d : d) / static_cast<int32_t>(kPtsPerMs));
    }
  }
  const int64_t after = p.header.offset + static_cast<int64_t>(p.header.packet_size);
  const int64_t target = index_step(kStepAll, s.display_channel.load(), audio_channel, kForward);
  if (!move_through_index(e, s, target, p.header.offset, kForward)) {
    // Past the last entry the packets follow one another.
    s.current_offset = after;
    e.jumped = false;
  }
  return Handled::kEndCycle;
}

}  // namespace virazav::dlplayer::detail
