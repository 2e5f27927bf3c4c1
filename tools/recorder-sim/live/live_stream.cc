// The live stream's sender: one thread per running stream that builds each block when the
// media clock says it is due, cuts it into datagrams, applies the faults, and sends the
// datagrams (audio ahead of video when the sending is paced), keeping a record of every
// block it finished. The controls and the accounting are shared with the caller's threads
// under one lock.

#include "live/live_stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "disk/rec_time.h"
#include "live/live_media.h"

namespace virazav::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSets = 2;
constexpr int kRings = 2;
constexpr int kStreams = 2;
constexpr int kMaxFps = 60;
constexpr int64_t kMsPerSecond = 1000;
// An audio packet lasts 4,096 samples at 8,000 a second: 512 ms.
constexpr int64_t kAudioPacketMs = kAudioPacketSamples * kMsPerSecond / kAudioRate;
constexpr int64_t kNever = INT64_MAX;
constexpr int kSendWaitMs = 10;  // a full socket is polled this often, the stop flag between
constexpr uint8_t kStatusSet1Bit = 0x80;
constexpr uint32_t kStatusCountBits = 0x0F;
constexpr uint32_t kStatusWordCountBits = 0x0FFF;
constexpr int kPtzChannelStep = 16;
// The recorder clock a stream stamps its blocks with when it was given no clock.
constexpr RecTime kDefaultClock = {24, 5, 1, 10, 0, 0};

// An owned socket descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

bool parse_ipv4(const std::string& text, in_addr* out) {
  return ::inet_pton(AF_INET, text.c_str(), out) == 1;
}

std::string error_text(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Opens a UDP socket bound to address:0 and set up for multicast sending when asked.
bool open_sender(const in_addr& local, bool multicast, Fd* out, std::string* error) {
  Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    *error = error_text("socket");
    return false;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = local;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &local, text, sizeof text);
    *error = error_text(std::string("bind ") + text);
    return false;
  }
  if (multicast) {
    // The group is reached through the interface of the recorder's own address, and a
    // client on the same host (loopback included) hears it too.
    unsigned char loop = 1, ttl = 1;
    ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    if (local.s_addr != htonl(INADDR_ANY)) {
      ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local);
    }
  }
  *out = std::move(fd);
  return true;
}

// Returns the address the foreign sender binds to: the one given, or the recorder's own with
// its last byte one higher (one lower for .254 and .255).
std::optional<in_addr> foreign_address(const LiveOptions& o, const in_addr& local) {
  in_addr a{};
  if (!o.foreign_address.empty()) {
    if (!parse_ipv4(o.foreign_address, &a)) return std::nullopt;
    return a;
  }
  uint32_t host = ntohl(local.s_addr);
  if (host == INADDR_ANY) return std::nullopt;
  uint32_t last = host & 0xFF;
  host = (host & ~0xFFu) | (last < 254 ? last + 1 : last - 1);
  a.s_addr = htonl(host);
  return a;
}

int64_t ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

// ---- Shared state ----

struct LiveStream::Impl {
  class Sender;

  Impl(LiveOptions o, std::string local, std::function<int64_t()> c,
       std::function<void(const std::string&)> e)
      : local_address(std::move(local)), clock(std::move(c)), on_event(std::move(e)) {
    options = std::move(o);
  }

  void event(const std::string& text) const {
    if (on_event) on_event(text);
  }
  // Stops the running sender; the caller holds control_mu.
  void stop_locked();
  // Adds a finished block to the history and the counters.
  void finish(LiveBlockRecord record);
  void count_datagram(size_t bytes, bool ok);

  const std::string local_address;
  const std::function<int64_t()> clock;
  const std::function<void(const std::string&)> on_event;

  std::mutex control_mu;           // one start() or stop() at a time
  std::thread thread;              // guarded by control_mu
  std::unique_ptr<Sender> sender;  // guarded by control_mu
  std::atomic<bool> stop_flag{false};

  mutable std::mutex mu;                     // guards everything below
  std::condition_variable wake;              // the sender's waits end early on stop
  mutable std::condition_variable progress;  // a block finished
  LiveOptions options;
  LiveStatus status;
  std::array<std::optional<std::pair<uint8_t, uint16_t>>, kSets> status_pins;
  std::array<std::optional<std::array<uint8_t, 3>>, kChannelCount> ptz_pins;
  std::array<bool, kRings> no_audio{};
  LiveFaultPlan faults;
  std::deque<LiveBlockRecord> history;
  LiveCounters counters;
};

void LiveStream::Impl::finish(LiveBlockRecord record) {
  {
    std::lock_guard<std::mutex> lock(mu);
    ++counters.blocks;
    if (record.type >= 0 && record.type < kLiveBlockTypes) {
      ++counters.blocks_by_type[static_cast<size_t>(record.type)];
    }
    history.push_back(std::move(record));
    while (history.size() > kLiveHistory) history.pop_front();
  }
  progress.notify_all();
}

void LiveStream::Impl::count_datagram(size_t bytes, bool ok) {
  std::lock_guard<std::mutex> lock(mu);
  if (ok) {
    ++counters.datagrams;
    counters.bytes += bytes;
  } else {
    ++counters.send_errors;
  }
}

// ---- The sender thread ----

// Everything one run of the stream needs; created by start(), run on the sender thread,
// destroyed by stop() after the thread has ended.
class LiveStream::Impl::Sender {
 public:
  struct Setup {
    LiveOptions options;
    Fd main;
    Fd foreign;  // -1: no foreign sender
    std::array<sockaddr_in, kSets> destinations{};
    bool sets[kSets] = {false, false};
    bool audio = false;
    int64_t start_clock = 0;  // recorder clock at the start, seconds since 2000
  };

  Sender(Impl* impl, Setup setup) : impl_(impl), s_(std::move(setup)) {
    for (int ch = 0; ch < kAudioChannelCount; ++ch) audio_sources_.emplace_back(ch);
  }

  void run();

 private:
  // One datagram waiting to go out.
  struct Outgoing {
    std::vector<uint8_t> bytes;
    int port_index = 0;
    bool foreign = false;
    uint64_t serial = 0;  // the block whose sending it is part of
  };
  struct Pending {
    LiveBlockRecord record;
    int left = 0;
    bool started = false;
  };
  // A video channel's turn within a second.
  struct Turn {
    int channel = 0;
    bool group = false;
    int64_t due_ms = 0;
  };

  bool stopping() const { return impl_->stop_flag.load(std::memory_order_relaxed); }
  int64_t video_due() const;
  int64_t audio_due() const;
  void begin_second();
  // Builds the next turn's blocks when it is due by `media_now`; at the end of a second it
  // first lays out the turns of the next one.
  void produce_video(int64_t media_now);
  void produce_audio();
  // Looks up or encodes the pictures of a turn: the whole group, or the key picture alone.
  bool pictures_for(const Turn& turn, std::vector<EncodedPicture>* out);
  // Cuts a built block, applies the faults and queues its datagrams.
  void queue_block(LiveBlockRecord record, std::vector<uint8_t> block, int port_index,
                   uint8_t stream, std::deque<Outgoing>* queue);
  bool send(const Outgoing& o);
  // Sends the first datagram of the queue and accounts for it.
  void send_next(std::deque<Outgoing>* queue);
  // Sends the whole queue, in order, unless the stream stops.
  void flush(std::deque<Outgoing>* queue);
  void sent(const Outgoing& o);
  uint32_t time_value(int64_t due_ms) const;

  Impl* impl_;
  Setup s_;
  Clock::time_point t0_;
  uint64_t serial_ = 0;
  std::array<std::array<uint8_t, kStreams>, kSets> block_numbers_{};
  std::array<std::array<std::optional<Outgoing>, kStreams>, kSets> held_;
  std::array<uint64_t, kSets> video_blocks_{};
  std::deque<Outgoing> video_queue_;
  std::deque<Outgoing> audio_queue_;
  std::map<uint64_t, Pending> pending_;
  Clock::time_point next_send_{};

  // Video: the second in progress and its turns.
  int64_t second_ = -1;
  std::vector<Turn> turns_;
  size_t turn_ = 0;
  int64_t picture_second_ = -1;  // the second the cached pictures belong to
  std::map<int, EncodedPicture> keys_;
  int group_channel_ = -1;
  std::vector<EncodedPicture> group_;

  // Audio.
  std::vector<LiveAudioSource> audio_sources_;
  int64_t audio_packet_ = 0;
};

int64_t LiveStream::Impl::Sender::video_due() const {
  if ((s_.options.channel_mask & 0xFFFF) == 0 || (!s_.sets[0] && !s_.sets[1])) return kNever;
  if (turn_ < turns_.size()) return turns_[turn_].due_ms;
  return (second_ + 1) * kMsPerSecond;  // the next second begins
}

int64_t LiveStream::Impl::Sender::audio_due() const {
  if (!s_.audio || (s_.options.audio_mask & 0xF) == 0) return kNever;
  return audio_packet_ * kAudioPacketMs;
}

void LiveStream::Impl::Sender::begin_second() {
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

bool LiveStream::Impl::Sender::pictures_for(const Turn& turn, std::vector<EncodedPicture>* out) {
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

uint32_t LiveStream::Impl::Sender::time_value(int64_t due_ms) const {
  auto t = rec_time_at(s_.start_clock + due_ms / kMsPerSecond);
  return t ? packed_time(*t) : 0;
}

void LiveStream::Impl::Sender::produce_video(int64_t media_now) {
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

  for (int set = 0; set < kSets; ++set) {
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
      h.status_byte = pin ? pin->first : status_byte_formula(set, n);
      h.status_word = pin ? pin->second : status_word_formula(turn.channel, n);
      const auto& ptz = impl_->ptz_pins[static_cast<size_t>(turn.channel)];
      if (set == 0) h.ptz = ptz ? *ptz : ptz_formula(turn.channel, n);
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

void LiveStream::Impl::Sender::produce_audio() {
  const int64_t index = audio_packet_++;
  const int64_t due = index * kAudioPacketMs;
  std::vector<LiveAudioPart> parts;
  std::vector<int> channels;
  for (auto& source : audio_sources_) {
    if (((s_.options.audio_mask >> source.channel()) & 1) == 0) continue;
    parts.push_back({source.channel(), source.next()});
    channels.push_back(source.channel());
  }
  for (int ring = 0; ring < kRings; ++ring) {
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

void LiveStream::Impl::Sender::queue_block(LiveBlockRecord record, std::vector<uint8_t> block,
                                           int port_index, uint8_t stream,
                                           std::deque<Outgoing>* queue) {
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

bool LiveStream::Impl::Sender::send(const Outgoing& o) {
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

void LiveStream::Impl::Sender::send_next(std::deque<Outgoing>* queue) {
  Outgoing o = std::move(queue->front());
  queue->pop_front();
  bool ok = send(o);
  impl_->count_datagram(o.bytes.size(), ok);
  sent(o);
}

void LiveStream::Impl::Sender::flush(std::deque<Outgoing>* queue) {
  while (!queue->empty() && !stopping()) send_next(queue);
}

void LiveStream::Impl::Sender::sent(const Outgoing& o) {
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

void LiveStream::Impl::Sender::run() {
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

// ---- Start and stop ----

void LiveStream::Impl::stop_locked() {
  if (!thread.joinable()) return;
  stop_flag = true;
  {
    // Taking the lock orders the flag before the sender's next wait.
    std::lock_guard<std::mutex> lock(mu);
  }
  wake.notify_all();
  thread.join();
  sender.reset();
  stop_flag = false;
  LiveCounters c;
  {
    std::lock_guard<std::mutex> lock(mu);
    status.running = false;
    c = counters;
  }
  event("live stream stopped after " + std::to_string(c.blocks) + " blocks, " +
        std::to_string(c.datagrams) + " datagrams");
}

LiveStream::LiveStream(LiveOptions options, std::string local_address,
                       std::function<int64_t()> clock,
                       std::function<void(const std::string&)> on_event)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(local_address), std::move(clock),
                                   std::move(on_event))) {}

LiveStream::~LiveStream() {
  stop();
}

bool LiveStream::start(const std::string& destination, int sets, bool audio, std::string* error) {
  std::string message;
  auto fail = [&](const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
  };
  std::lock_guard<std::mutex> control(impl_->control_mu);
  impl_->stop_locked();

  Impl::Sender::Setup setup;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    setup.options = impl_->options;
  }
  LiveOptions& o = setup.options;
  o.video.fps = std::clamp(o.video.fps, 1, kMaxFps);
  o.video.width &= ~1;
  o.video.height &= ~1;
  if (o.port_base < 1 || o.port_base > 65534) {
    return fail("live port base out of range: " + std::to_string(o.port_base));
  }
  if (o.stride < 1 || o.stride > kLiveMaxStride) {
    return fail("live stride out of range: " + std::to_string(o.stride));
  }
  if (o.video.width < 16 || o.video.height < 16) return fail("live picture size too small");
  in_addr local{}, to{};
  if (!parse_ipv4(impl_->local_address, &local)) {
    return fail("not an IPv4 address: " + impl_->local_address);
  }
  const bool multicast = !o.group.empty();
  const std::string& target = multicast ? o.group : destination;
  if (!parse_ipv4(target, &to)) return fail("not an IPv4 address: " + target);
  if (!open_sender(local, multicast, &setup.main, &message)) return fail(message);
  // The foreign sender is optional: without it the foreign-sender fault does not happen.
  if (auto foreign = foreign_address(o, local)) {
    if (!open_sender(*foreign, multicast, &setup.foreign, &message)) setup.foreign = Fd();
  }
  for (int p = 0; p < kSets; ++p) {
    auto& d = setup.destinations[static_cast<size_t>(p)];
    d.sin_family = AF_INET;
    d.sin_addr = to;
    d.sin_port = htons(static_cast<uint16_t>(o.port_base + p));
  }
  sets &= 3;
  setup.sets[0] = sets == 0 || (sets & 1) != 0;
  setup.sets[1] = sets == 0 || (sets & 2) != 0;
  setup.audio = audio;
  if (impl_->clock) {
    setup.start_clock = impl_->clock();
  } else {
    setup.start_clock = clock_seconds(kDefaultClock);
  }

  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->history.clear();
    impl_->counters = LiveCounters{};
    impl_->faults.set(o.faults);
    LiveStatus& st = impl_->status;
    st.running = true;
    st.destination = target;
    st.port_base = o.port_base;
    st.set0 = setup.sets[0];
    st.set1 = setup.sets[1];
    st.audio = audio;
  }
  std::string text = "live stream to " + target + " ports " + std::to_string(o.port_base) + "/" +
                     std::to_string(o.port_base + 1) + ": video sets" +
                     (setup.sets[0] ? " 0" : "") + (setup.sets[1] ? " 1" : "") + ", audio " +
                     (audio ? "on" : "off") + (o.burst ? ", burst" : "");
  impl_->sender = std::make_unique<Impl::Sender>(impl_.get(), std::move(setup));
  impl_->thread = std::thread([s = impl_->sender.get()] { s->run(); });
  impl_->event(text);
  return true;
}

void LiveStream::stop() {
  std::lock_guard<std::mutex> control(impl_->control_mu);
  impl_->stop_locked();
}

bool LiveStream::running() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->status.running;
}

LiveStatus LiveStream::status() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->status;
}

void LiveStream::set_options(LiveOptions options) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->options = std::move(options);
}

LiveOptions LiveStream::options() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->options;
}

// ---- Controls ----

bool LiveStream::set_display(int display, int mode) {
  if (display < 0 || display > kChannelCount) return false;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->status.display = display;
  impl_->status.mode = mode;
  return true;
}

void LiveStream::pin_status(int set, uint8_t status_byte, uint16_t status_word) {
  if (set < 0 || set >= kSets) return;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->status_pins[static_cast<size_t>(set)] = std::make_pair(status_byte, status_word);
}

void LiveStream::unpin_status(int set) {
  if (set < 0 || set >= kSets) return;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->status_pins[static_cast<size_t>(set)].reset();
}

void LiveStream::pin_ptz(int channel, uint8_t p1, uint8_t p2, uint8_t p3) {
  if (channel < 0 || channel >= kChannelCount) return;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->ptz_pins[static_cast<size_t>(channel)] = std::array<uint8_t, 3>{p1, p2, p3};
}

void LiveStream::unpin_ptz(int channel) {
  if (channel < 0 || channel >= kChannelCount) return;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->ptz_pins[static_cast<size_t>(channel)].reset();
}

void LiveStream::set_no_audio(int ring, bool on) {
  if (ring < 0 || ring >= kRings) return;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->no_audio[static_cast<size_t>(ring)] = on;
}

void LiveStream::set_faults(std::vector<LiveFault> faults) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->options.faults = faults;
  impl_->faults.set(std::move(faults));
}

// ---- Accounting ----

std::vector<LiveBlockRecord> LiveStream::history() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return {impl_->history.begin(), impl_->history.end()};
}

LiveCounters LiveStream::counters() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->counters;
}

bool LiveStream::wait_for_blocks(int type, uint64_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  return impl_->progress.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    if (type < 0) return impl_->counters.blocks >= count;
    if (type >= kLiveBlockTypes) return false;
    return impl_->counters.blocks_by_type[static_cast<size_t>(type)] >= count;
  });
}

uint8_t LiveStream::status_byte_formula(int set, uint64_t n) {
  return static_cast<uint8_t>((n & kStatusCountBits) | (set == 1 ? kStatusSet1Bit : 0));
}

uint16_t LiveStream::status_word_formula(int channel, uint64_t n) {
  return static_cast<uint16_t>((static_cast<uint32_t>(channel & 0x0F) << kLiveChannelShift) |
                               (n & kStatusWordCountBits));
}

std::array<uint8_t, 3> LiveStream::ptz_formula(int channel, uint64_t n) {
  return {static_cast<uint8_t>((kPtzChannelStep * static_cast<uint64_t>(channel) + n) & 0xFF),
          static_cast<uint8_t>(0xFF - (n & 0xFF)),
          static_cast<uint8_t>(1 + (n + static_cast<uint64_t>(channel)) % 255)};
}

}  // namespace virazav::sim
