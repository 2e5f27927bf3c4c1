// Putting pictures on show: decoding the packet in the frame buffer into its
// channel's picture under the channel's lock and marking it ready for
// Mpeg4DLdata_filelock, the queued pictures as their due times come, and the
// re-creation of the decoders when a sequence header brings a new size.
#include <cstring>
#include <mutex>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/engine.h"
#include "dlplayer/frame_index.h"
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

void show_due_pictures(Engine& e, DataSetState& s) {
  uint8_t* fb = decoder::frame_buffer();
  if (fb == nullptr) return;
  // With audio pacing the due times count from the last audio packet played
  // (each one moves them 500 ms earlier); otherwise from the key frame shown.
  const uint32_t since = audio_paces(s, s.play_mode.load()) ? e.reference_ms : e.key_shown_ms;
  bool used = false;
  while (QueueRecord* r = e.queue.take_due(static_cast<int32_t>(now(e) - since))) {
    size_t n = r->length < decoder::kFrameBufferSize ? r->length : decoder::kFrameBufferSize;
    std::memcpy(fb, r->data, n);
    s.packet.channel = r->channel;
    s.packet.kind = format::kKindVideo;
    s.packet.packet_size = static_cast<uint32_t>(n);
    s.packet.loaded = static_cast<uint32_t>(n);
    s.packet.pts = r->pts;
    used = true;
    show_loaded_picture(e, s, false, since + static_cast<uint32_t>(r->due_ms));
    e.queue.done(r);
  }
  if (used) reload_head(e, s);
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

}  // namespace virazav::dlplayer::detail
