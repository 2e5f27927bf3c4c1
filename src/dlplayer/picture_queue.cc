// The engine's picture queue: records filled in stream order while the key
// frame before them is on show, and walked in that order as their due times
// come, each then decoded as its channel's picture. A picture that does not
// fit is not queued; it is never cut.
#include "dlplayer/picture_queue.h"

#include <cstring>

#include "decoder/decoder.h"
#include "dlplayer/engine.h"
#include "dlplayer/packet_io.h"

namespace virazav::dlplayer::detail {

bool PictureQueue::allocate() {
  store_ = platform::Buffer(kQueueStoreBytes);
  reset();
  return store_.ok();
}

void PictureQueue::release() {
  store_ = platform::Buffer();
  reset();
}

void PictureQueue::reset() {
  for (QueueRecord& r : records_) {
    r = QueueRecord{};
    r.data = store_.data();
  }
  count_ = 0;
  filled_ = 0;
}

void PictureQueue::disable() {
  reset();
  records_[0].channel = -1;
}

bool PictureQueue::enabled() const {
  return store_.ok() && records_[0].channel != -1;
}

bool PictureQueue::last_pending() const {
  return count_ > 0 && records_[count_ - 1].length != 0;
}

bool PictureQueue::any_pending() const {
  for (int i = 0; i < count_; ++i) {
    if (records_[i].length != 0) return true;
  }
  return false;
}

bool PictureQueue::append(int channel, uint32_t pts, int vop_kind, int64_t due_ms,
                          const uint8_t* head, size_t head_bytes, size_t length,
                          platform::File& file) {
  if (!enabled() || count_ >= kQueueLimit || length == 0) return false;
  if (length > store_.size() - filled_) return false;
  if (head_bytes > length) head_bytes = length;
  uint8_t* at = store_.data() + filled_;
  std::memcpy(at, head, head_bytes);
  const size_t got = head_bytes + read_up_to(file, at + head_bytes, length - head_bytes);
  // A picture cut off by the end of the file is queued as far as it goes;
  // one that gave nothing beyond its head is not worth a record.
  if (got == 0) return false;
  QueueRecord& r = records_[count_];
  r.channel = channel;
  r.pts = pts;
  r.data = at;
  r.length = static_cast<uint32_t>(got);
  r.vop_kind = vop_kind;
  r.data_offset = 0;
  r.due_ms = due_ms;
  filled_ += got;
  ++count_;
  return true;
}

void PictureQueue::advance_due(int64_t step) {
  for (int i = 0; i < count_; ++i) {
    if (records_[i].due_ms > step) records_[i].due_ms -= step;
  }
}

bool PictureQueue::next_due(int64_t* due_ms) const {
  for (int i = 0; i < count_; ++i) {
    if (records_[i].length != 0) {
      *due_ms = records_[i].due_ms;
      return true;
    }
  }
  return false;
}

QueueRecord* PictureQueue::take_due(int64_t elapsed_ms) {
  for (int i = 0; i < count_; ++i) {
    QueueRecord& r = records_[i];
    if (r.length == 0) continue;
    return elapsed_ms >= r.due_ms ? &r : nullptr;
  }
  return nullptr;
}

void PictureQueue::done(QueueRecord* record) {
  if (record != nullptr) record->length = 0;
}

uint32_t queue_since_ms(const Engine& e, const DataSetState& s) {
  // With audio pacing the due times count from the last audio packet played
  // (each one moves them 500 ms earlier); otherwise from the key frame shown.
  return audio_paces(s, s.play_mode.load()) ? e.reference_ms : e.key_shown_ms;
}

void show_due_pictures(Engine& e, DataSetState& s) {
  uint8_t* fb = decoder::frame_buffer();
  if (fb == nullptr) return;
  const uint32_t since = queue_since_ms(e, s);
  bool used = false;
  while (QueueRecord* r =
             e.queue.take_due(static_cast<int32_t>(e.clock->now_ms(e.clock->user) - since))) {
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

}  // namespace virazav::dlplayer::detail
