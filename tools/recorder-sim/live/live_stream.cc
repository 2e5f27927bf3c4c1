// The live stream's public side: start and stop (the sockets and the sender thread), the
// controls a test changes while the stream runs, and the record of sent blocks. The sender
// itself is in live_sender.cc.

#include "live/live_stream.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "disk/rec_time.h"
#include "live/live_sender.h"

namespace virazav::sim {

namespace {

constexpr int kMaxFps = 60;
constexpr uint8_t kStatusSet1Bit = 0x80;
constexpr uint32_t kStatusCountBits = 0x0F;
constexpr uint32_t kStatusWordCountBits = 0x0FFF;
constexpr int kPtzChannelStep = 16;
// The recorder clock a stream stamps its blocks with when it was given no clock.
constexpr RecTime kDefaultClock = {24, 5, 1, 10, 0, 0};

bool parse_ipv4(const std::string& text, in_addr* out) {
  return ::inet_pton(AF_INET, text.c_str(), out) == 1;
}

std::string error_text(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Opens a UDP socket bound to address:0 and set up for multicast sending when asked.
bool open_sender(const in_addr& local, bool multicast, detail::Fd* out, std::string* error) {
  detail::Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
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

}  // namespace

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

  detail::LiveSender::Setup setup;
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
    if (!open_sender(*foreign, multicast, &setup.foreign, &message)) setup.foreign = detail::Fd();
  }
  for (int p = 0; p < detail::kLiveSets; ++p) {
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
  impl_->sender = std::make_unique<detail::LiveSender>(impl_.get(), std::move(setup));
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
  if (set < 0 || set >= detail::kLiveSets) return;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->status_pins[static_cast<size_t>(set)] = std::make_pair(status_byte, status_word);
}

void LiveStream::unpin_status(int set) {
  if (set < 0 || set >= detail::kLiveSets) return;
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
  if (ring < 0 || ring >= detail::kLiveRings) return;
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
