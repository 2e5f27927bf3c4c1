// The live stream's sender: one thread per running stream that builds each block when the
// media clock says it is due, cuts it into datagrams, applies the faults, and sends the
// datagrams (audio ahead of video when the sending is paced), keeping a record of every
// block it finished.

#include "live/live_sender.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "disk/rec_time.h"

namespace virazav::sim::detail {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kMsPerSecond = 1000;
// An audio packet lasts 4,096 samples at 8,000 a second: 512 ms.
constexpr int64_t kAudioPacketMs = kAudioPacketSamples * kMsPerSecond / kAudioRate;
constexpr int64_t kNever = INT64_MAX;
constexpr int kSendWaitMs = 10;  // a full socket is polled this often, the stop flag between

int64_t ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

LiveSender::LiveSender(LiveStream::Impl* impl, Setup setup) : impl_(impl), s_(std::move(setup)) {
  for (int ch = 0; ch < kAudioChannelCount; ++ch) audio_sources_.emplace_back(ch);
}

int64_t LiveSender::video_due() const {
  if ((s_.options.channel_mask & 0xFFFF) == 0 || (!s_.sets[0] && !s_.sets[1])) return kNever;
  if (turn_ < turns_.size()) return turns_[turn_].due_ms;
  return (second_ + 1) * kMsPerSecond;  // the next second begins
}

int64_t LiveSender::audio_due() const {
  if (!s_.audio || (s_.options.audio_mask & 0xF) == 0) return kNever;
  return audio_packet_ * kAudioPacketMs;
}

void LiveSender::begin_second() {
  ++second_;
  turn_ = 0;
  turns_.clear();
  int display = 0;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    display = impl_->status.display;
  }
  const uint32_t mask = s_.options.channel_mask & 0xFFFF;
  const int group_channel = display > 0 && ((mask >> (display - 1)) & 1) ? display - 1 : -1;
  // The display channel's group goes out as the second begins; the other channels' key
  // pictures follow, spread evenly over the second.
  if (group_channel >= 0) turns_.push_back({group_channel, true, second_ * kMsPerSecond});
  std::vector<int> others;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (((mask >> ch) & 1) && ch != group_channel) others.push_back(ch);
  }
  const int64_t n = static_cast<int64_t>(others.size());
  for (int64_t i = 0; i < n; ++i) {
    turns_.push_back({others[static_cast<size_t>(i)], false,
                      second_ * kMsPerSecond + (i + 1) * kMsPerSecond / (n + 1)});
  }
}

bool LiveSender::pictures_for(const Turn& turn, std::vector<EncodedPicture>* out) {
  // In burst mode every second shows the pictures of second 0, encoded once.
  const int64_t picture_second = s_.options.burst ? 0 : second_;
  if (picture_second != picture_second_) {
    keys_.clear();
    group_.clear();
    group_channel_ = -1;
    picture_second_ = picture_second;
  }
  const VideoSettings& v = s_.options.video;
  const int64_t first = picture_second * v.fps;
  SyntheticChannel source(turn.channel, v.width, v.height);
  if (turn.group) {
    if (group_channel_ != turn.channel) {
      if (!encode_video_packets(source, first, v.fps, v, &group_, nullptr)) return false;
      group_channel_ = turn.channel;
    }
    *out = group_;
    return true;
  }
  auto it = keys_.find(turn.channel);
  if (it == keys_.end()) {
    std::vector<EncodedPicture> one;
    if (!encode_video_packets(source, first, 1, v, &one, nullptr) || one.empty()) return false;
    it = keys_.emplace(turn.channel, std::move(one.front())).first;
  }
  out->assign(1, it->second);
  return true;
}

uint32_t LiveSender::time_value(int64_t due_ms) const {
  auto t = rec_time_at(s_.start_clock + due_ms / kMsPerSecond);
  return t ? packed_time(*t) : 0;
}

void LiveSender::produce_video(int64_t media_now) {
  if (turn_ >= turns_.size()) {
    // The display channel is read as its second begins.
    begin_second();
    if (turns_.empty() || turns_.front().due_ms > media_now) return;
  }
  const Turn turn = turns_[turn_++];
  std::vector<EncodedPicture> pictures;
  if (!pictures_for(turn, &pictures)) return;
  const int fps = s_.options.video.fps;
  const int64_t first_frame = picture_second_ * fps;
  const int64_t pts_frame = second_ * fps;  // time stamps run on in burst mode too
  std::vector<std::vector<uint8_t>> packets;
  for (size_t k = 0; k < pictures.size(); ++k) {
    const int64_t f = pts_frame + static_cast<int64_t>(k);
    packets.push_back(make_video_packet(turn.channel, live_picture_pts(f, fps),
                                        live_picture_dts(f, fps), pictures[k]));
  }

  for (int set = 0; set < kLiveSets; ++set) {
    if (!s_.sets[set]) continue;
    LiveVideoHeader h;
    h.type = set;
    h.channel = turn.channel;
    h.time_value = time_value(turn.due_ms);
    h.time_word = static_cast<uint16_t>(turn.due_ms % kMsPerSecond);
    h.first_frame = static_cast<uint32_t>(first_frame);
    h.fps = fps;
    h.group = turn.group;
    const uint64_t n = video_blocks_[static_cast<size_t>(set)]++;
    {
      std::lock_guard<std::mutex> lock(impl_->mu);
      const auto& pin = impl_->status_pins[static_cast<size_t>(set)];
      h.status_byte = pin ? pin->first : LiveStream::status_byte_formula(set, n);
      h.status_word = pin ? pin->second : LiveStream::status_word_formula(turn.channel, n);
      const auto& ptz = impl_->ptz_pins[static_cast<size_t>(turn.channel)];
      if (set == 0) h.ptz = ptz ? *ptz : LiveStream::ptz_formula(turn.channel, n);
    }
    std::vector<uint8_t> block = build_live_video_block(h, packets);
    if (block.empty()) continue;
    LiveBlockRecord r;
    r.type = set;
    r.due_ms = turn.due_ms;
    r.time_value = h.time_value;
    r.time_word = h.time_word;
    r.status_byte = h.status_byte;
    r.status_word = h.status_word;
    r.ptz = h.ptz;
    r.channel = turn.channel;
    r.first_frame = first_frame;
    r.record_count = static_cast<int>(packets.size());
    r.group = turn.group;
    queue_block(std::move(r), std::move(block), set, kLiveVideoStream, &video_queue_);
  }
}

void LiveSender::produce_audio() {
  const int64_t index = audio_packet_++;
  const int64_t due = index * kAudioPacketMs;
  std::vector<LiveAudioPart> parts;
  std::vector<int> channels;
  for (auto& source : audio_sources_) {
    if (((s_.options.audio_mask >> source.channel()) & 1) == 0) continue;
    parts.push_back({source.channel(), source.next()});
    channels.push_back(source.channel());
  }
  for (int ring = 0; ring < kLiveRings; ++ring) {
    LiveAudioHeader h;
    h.type = kLiveAudioRing0 + ring;
    h.time_value = time_value(due);
    h.time_word = static_cast<uint16_t>(due % kMsPerSecond);
    h.sequence = static_cast<uint8_t>(index & 0xFF);
    {
      std::lock_guard<std::mutex> lock(impl_->mu);
      if (impl_->no_audio[static_cast<size_t>(ring)]) {
        h.flags = ring == 0 ? kLiveNoAudioRing0 : kLiveNoAudioRing1;
      }
    }
    std::vector<uint8_t> block = build_live_audio_block(h, parts);
    if (block.empty()) continue;
    LiveBlockRecord r;
    r.type = h.type;
    r.due_ms = due;
    r.time_value = h.time_value;
    r.time_word = h.time_word;
    r.status_byte = h.flags;
    r.audio_channels = channels;
    r.audio_packet = index;
    r.sequence = h.sequence;
    queue_block(std::move(r), std::move(block), ring, kLiveAudioStream, &audio_queue_);
  }
}

void LiveSender::queue_block(LiveBlockRecord record, std::vector<uint8_t> block, int port_index,
                             uint8_t stream, std::deque<Outgoing>* queue) {
  std::vector<LiveFault> faults;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    faults = impl_->faults.take(record.type, record.channel);
  }
  // Without a foreign sender that fault cannot happen; the record must not claim it did.
  if (s_.foreign.get() < 0) {
    std::erase_if(faults,
                  [](const LiveFault& f) { return f.kind == LiveFaultKind::kForeignSender; });
  }
  apply_live_block_faults(faults, &block, &record.faults);

  const auto p = static_cast<size_t>(port_index);
  const uint8_t number = block_numbers_[p][stream]++;
  std::vector<std::vector<uint8_t>> parts = fragment(block, number, stream, s_.options.stride);
  if (parts.empty()) return;
  record.serial = ++serial_;
  record.port = ntohs(s_.destinations[p].sin_port);
  record.stream = stream;
  record.block_number = number;
  record.fragment_count = static_cast<int>(parts.size());
  record.stride = live_fragment_stride(block.size(), s_.options.stride);
  record.size = static_cast<uint32_t>(block.size());
  record.length_field = live_le32(block.data() + kLiveLengthOffset);

  std::vector<LiveDatagram> list;
  for (size_t i = 0; i < parts.size(); ++i) {
    list.push_back({std::move(parts[i]), static_cast<int>(i), false});
  }
  std::optional<LiveDatagram> held;
  apply_live_datagram_faults(faults, &list, &held, &record.faults);
  for (const auto& d : list) {
    if (d.fragment >= 0) record.fragments_sent.push_back(d.fragment);
    record.foreign = record.foreign || d.foreign;
  }

  std::vector<Outgoing> out;
  for (auto& d : list) out.push_back({std::move(d.bytes), port_index, d.foreign, record.serial});
  // A fragment an earlier block held back goes out right after this block's first fragment.
  if (auto& late = held_[p][stream]) {
    size_t at = out.size();
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].fragment >= 0) {
        at = i + 1;
        break;
      }
    }
    record.late_from = late->serial;
    late->serial = record.serial;
    out.insert(out.begin() + static_cast<ptrdiff_t>(at), std::move(*late));
    late.reset();
  }
  if (held) {
    held_[p][stream] = Outgoing{std::move(held->bytes), port_index, held->foreign, record.serial};
  }

  record.datagrams = static_cast<int>(out.size());
  if (out.empty()) {
    record.sent_ms = ms_between(t0_, Clock::now());
    impl_->finish(std::move(record));
    return;
  }
  const uint64_t serial = record.serial;
  pending_[serial] = Pending{std::move(record), static_cast<int>(out.size()), false};
  for (auto& o : out) queue->push_back(std::move(o));
}

bool LiveSender::send(const Outgoing& o) {
  const int fd = o.foreign ? s_.foreign.get() : s_.main.get();
  const auto& to = s_.destinations[static_cast<size_t>(o.port_index)];
  for (;;) {
    ssize_t n = ::sendto(fd, o.bytes.data(), o.bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n >= 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS) return false;
    // A full socket: wait for room, a little at a time, so that a stop is seen.
    if (stopping()) return false;
    pollfd pfd = {fd, POLLOUT, 0};
    ::poll(&pfd, 1, kSendWaitMs);
  }
}

void LiveSender::send_next(std::deque<Outgoing>* queue) {
  Outgoing o = std::move(queue->front());
  queue->pop_front();
  bool ok = send(o);
  impl_->count_datagram(o.bytes.size(), ok);
  sent(o);
}

void LiveSender::flush(std::deque<Outgoing>* queue) {
  while (!queue->empty() && !stopping()) send_next(queue);
}

void LiveSender::sent(const Outgoing& o) {
  auto it = pending_.find(o.serial);
  if (it == pending_.end()) return;
  Pending& p = it->second;
  if (!p.started) {
    p.started = true;
    p.record.sent_ms = ms_between(t0_, Clock::now());
  }
  if (--p.left == 0) {
    impl_->finish(std::move(p.record));
    pending_.erase(it);
  }
}

void LiveSender::run() {
  t0_ = Clock::now();
  next_send_ = t0_;
  const bool paced = s_.options.pace > 0;
  const auto period = paced ? std::chrono::nanoseconds(1000000000LL / s_.options.pace)
                            : std::chrono::nanoseconds(0);
  while (!stopping()) {
    const Clock::time_point now = Clock::now();
    const int64_t vdue = video_due();
    const int64_t adue = audio_due();
    // In burst mode the media clock jumps to the next block due; otherwise it is real time.
    const int64_t media_now = s_.options.burst ? std::min(vdue, adue) : ms_between(t0_, now);
    if (video_queue_.empty() && vdue != kNever && vdue <= media_now) {
      produce_video(media_now);
      if (!paced) flush(&video_queue_);
    }
    if (audio_queue_.empty() && adue != kNever && adue <= media_now) {
      produce_audio();
      if (!paced) flush(&audio_queue_);
    }
    // Paced, one datagram at a time, audio ahead of video: an audio block that falls due
    // goes out in the middle of a long video block.
    if (paced && !stopping() && (!audio_queue_.empty() || !video_queue_.empty()) &&
        Clock::now() >= next_send_) {
      send_next(audio_queue_.empty() ? &video_queue_ : &audio_queue_);
      // An idle stretch does not earn a burst afterwards.
      next_send_ = std::max(next_send_, Clock::now() - period) + period;
    }
    if (stopping()) break;

    Clock::time_point until = Clock::time_point::max();
    bool busy = !audio_queue_.empty() || !video_queue_.empty();
    if (busy) until = paced ? next_send_ : Clock::now();
    if (s_.options.burst) {
      if (!busy && std::min(video_due(), audio_due()) != kNever) until = Clock::now();
    } else {
      for (int64_t due : {video_queue_.empty() ? video_due() : kNever,
                          audio_queue_.empty() ? audio_due() : kNever}) {
        if (due != kNever) until = std::min(until, t0_ + std::chrono::milliseconds(due));
      }
    }
    if (until <= Clock::now()) continue;
    // Nothing due at all (no channel, no audio): look again now and then.
    until = std::min(until, Clock::now() + std::chrono::seconds(1));
    std::unique_lock<std::mutex> lock(impl_->mu);
    impl_->wake.wait_until(lock, until, [this] { return stopping(); });
  }
}

}  // namespace virazav::sim::detail
