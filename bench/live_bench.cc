// Live reception measured end to end on loopback, each figure next to a baseline of the
// same run:
//  (a) the highest datagram rate the receive threads take without losing a datagram, for
//      1,400-byte and 8,200-byte datagrams (fragments of real video blocks), next to a
//      plain poll + recvfrom loop with the same receive buffer; goal >= 0.5 of it;
//  (b) the latency from the last fragment of a picture sent to its bitmap written by
//      kora_udp_rx, next to the time the decode and write of the same picture take on
//      their own; goal: median within that time + 2 ms.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "decoder/decoder.h"
#include "media/media.h"
#include "virazav.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int kReceiveBuffer = 4 << 20;

void put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A set-0 video block of `channel` holding the packets as records.
Bytes video_block(int channel, const std::vector<Bytes>& packets) {
  Bytes b(128, 0);
  put16(b, 0, static_cast<uint32_t>(channel) << 12);
  for (const Bytes& p : packets) {
    size_t units = (p.size() + 31) / 32;
    size_t at = b.size();
    b.resize(at + 6 + units * 32, 0);
    put16(b, at + 2, static_cast<uint32_t>(units));
    std::copy(p.begin(), p.end(), b.begin() + static_cast<long>(at + 6));
  }
  put32(b, 4, static_cast<uint32_t>(b.size()));
  return b;
}

std::vector<Bytes> fragment(const Bytes& block, uint8_t number, size_t stride) {
  std::vector<Bytes> out;
  size_t count = (block.size() + stride - 1) / stride;
  for (size_t i = 0; i < count; ++i) {
    size_t n = std::min(stride, block.size() - i * stride);
    Bytes d(8 + n);
    d[0] = number;
    d[1] = static_cast<uint8_t>(i);
    d[2] = static_cast<uint8_t>(count);
    d[3] = 0;
    put32(d, 4, static_cast<uint32_t>(stride));
    std::memcpy(d.data() + 8, block.data() + i * stride, n);
    out.push_back(std::move(d));
  }
  return out;
}

int udp_socket(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(port == 0 ? INADDR_LOOPBACK : INADDR_ANY);
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint16_t free_port_pair() {
  for (int i = 0; i < 50; ++i) {
    int a = udp_socket(0);
    sockaddr_in s{};
    socklen_t len = sizeof s;
    ::getsockname(a, reinterpret_cast<sockaddr*>(&s), &len);
    // udp_socket(0) binds to loopback; the pair must be free on any address.
    uint16_t p = ntohs(s.sin_port);
    ::close(a);
    int x = udp_socket(p), y = udp_socket(static_cast<uint16_t>(p + 1));
    if (x >= 0) ::close(x);
    if (y >= 0) ::close(y);
    if (x >= 0 && y >= 0) return p;
  }
  return 0;
}

// The datagrams of one trial: fragments of 64 video blocks (16 channels, four blocks
// each) at a stride that makes datagrams of `size` bytes, block numbers counting up.
std::vector<Bytes> trial_datagrams(size_t size) {
  const size_t stride = size - 8;
  const size_t block_bytes = size <= 2000 ? 64 * 1024 : 256 * 1024;
  std::vector<Bytes> out;
  for (int b = 0; b < 64; ++b) {
    Bytes payload(block_bytes - 200, static_cast<uint8_t>(b));
    Bytes packet =
        virazav::sim::make_pes_packet(0xE0, 0, std::nullopt, payload.data(), payload.size(), 32);
    Bytes block = video_block(b % 16, {packet});
    for (Bytes& d : fragment(block, static_cast<uint8_t>(b), stride)) out.push_back(std::move(d));
  }
  return out;
}

// Sends `count` datagrams from the trial set to 127.0.0.1:port at `rate` a second. Returns
// the rate actually reached.
double send_paced(int fd, uint16_t port, const std::vector<Bytes>& set, size_t count, double rate) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto start = Clock::now();
  for (size_t i = 0; i < count; ++i) {
    const auto due = start + std::chrono::nanoseconds(static_cast<int64_t>(i * 1e9 / rate));
    while (Clock::now() < due) {
    }
    const Bytes& d = set[i % set.size()];
    ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  const double spent = std::chrono::duration<double>(Clock::now() - start).count();
  return spent > 0 ? count / spent : rate;
}

// A plain receiver: poll, then recvfrom until it would block, counting datagrams.
struct PlainReceiver {
  explicit PlainReceiver(uint16_t port) : fd(udp_socket(port)) {
    int v = kReceiveBuffer;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &v, sizeof v);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &v, sizeof v);
    thread = std::thread([this] {
      std::vector<uint8_t> buf(1 << 19);
      pollfd p{fd, POLLIN, 0};
      while (!stop.load()) {
        if (::poll(&p, 1, 20) <= 0) continue;
        while (::recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT, nullptr, nullptr) > 0) {
          received.fetch_add(1);
        }
      }
    });
  }
  ~PlainReceiver() {
    stop.store(true);
    thread.join();
    ::close(fd);
  }
  int fd;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> received{0};
  std::thread thread;
};

uint64_t library_datagrams() {
  virazav_live_stats s{};
  virazav_live_statistics(&s);
  return s.datagrams;
}
uint64_t library_missing() {
  virazav_live_stats s{};
  virazav_live_statistics(&s);
  return s.fragments_missing + s.dropped_fragments;
}

// Waits until `received` stops growing (or reaches `want`).
template <typename F>
uint64_t settle(F received, uint64_t want) {
  uint64_t last = received();
  for (int idle = 0; idle < 30 && last < want;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    uint64_t now = received();
    idle = now == last ? idle + 1 : 0;
    last = now;
  }
  return last;
}

// Whether a trial at `rate` loses nothing; `reached` gets the rate the sender made.
using Trial = bool (*)(uint16_t port, const std::vector<Bytes>& set, double rate, double* reached);

bool plain_trial(uint16_t port, const std::vector<Bytes>& set, double rate, double* reached) {
  PlainReceiver r(port);
  int fd = udp_socket(0);
  // The same slow first pass as the library's trial gets.
  send_paced(fd, port, set, set.size(), 20000);
  const uint64_t warm = settle([&] { return r.received.load(); }, set.size());
  const size_t count = std::max<size_t>(4 * set.size(), static_cast<size_t>(rate * 0.5));
  *reached = send_paced(fd, port, set, count, rate);
  ::close(fd);
  return settle([&] { return r.received.load() - warm; }, count) == count;
}

// The library's receivers; with `taker`, an application thread takes the blocks as they
// complete (kora_udp_rx without the decoder set up only empties the slots), so that
// blocks assemble straight in their slots; without, every slot stays occupied and every
// block is staged and copied over it: the receivers' worst case.
bool library_trial_with(bool taker, uint16_t port, const std::vector<Bytes>& set, double rate,
                        double* reached) {
  kora_udp_connect("", port, 0);
  kora_udp_rx_start(127, 0, 0, 1);
  std::atomic<bool> stop{false};
  std::thread take;
  if (taker) {
    take = std::thread([&] {
      while (!stop.load()) {
        for (int ch = 0; ch < 16; ++ch) kora_udp_rx(ch, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  }
  int fd = udp_socket(0);
  // One slow pass of every block first: the session's buffers are mapped on first
  // touch, and what is measured is the steady rate, not the first touches.
  const uint64_t warm = library_datagrams();
  send_paced(fd, port, set, set.size(), 20000);
  settle([&] { return library_datagrams() - warm; }, set.size());
  const uint64_t before = library_datagrams(), missing = library_missing();
  const size_t count = std::max<size_t>(4 * set.size(), static_cast<size_t>(rate * 0.5));
  *reached = send_paced(fd, port, set, count, rate);
  ::close(fd);
  const uint64_t got = settle([&] { return library_datagrams() - before; }, count);
  const bool clean = got == count && library_missing() == missing;
  stop.store(true);
  if (take.joinable()) take.join();
  kora_udp_close();
  return clean;
}

bool library_trial(uint16_t port, const std::vector<Bytes>& set, double rate, double* reached) {
  return library_trial_with(false, port, set, rate, reached);
}
bool library_taken_trial(uint16_t port, const std::vector<Bytes>& set, double rate,
                         double* reached) {
  return library_trial_with(true, port, set, rate, reached);
}

// One rate: loss-free, lossy, or out of the sender's reach. A trial whose sender fell
// behind the rate (the machine was busy elsewhere) says nothing and is run again.
enum class Verdict { kClean, kLoss, kSenderLimit };

Verdict try_rate(Trial trial, uint16_t port, const std::vector<Bytes>& set, double rate) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    double reached = 0;
    const bool clean = trial(port, set, rate, &reached);
    if (!clean) return Verdict::kLoss;
    if (reached >= 0.95 * rate) return Verdict::kClean;
  }
  return Verdict::kSenderLimit;
}

// The highest rate without loss: doubling from 10,000 a second, then halving the step.
// `limited` tells whether the sender, not the receiver, set the bound.
double highest_rate(Trial trial, uint16_t port, const std::vector<Bytes>& set, bool* limited) {
  double good = 0, bad = 0, rate = 10000;
  *limited = false;
  for (int i = 0; i < 12 && bad == 0; ++i, rate *= 2) {
    const Verdict v = try_rate(trial, port, set, rate);
    if (v == Verdict::kClean) {
      good = rate;
    } else {
      bad = rate;
      *limited = v == Verdict::kSenderLimit;
    }
  }
  for (int i = 0; i < 6 && bad > good; ++i) {
    const double mid = (good + bad) / 2;
    const Verdict v = try_rate(trial, port, set, mid);
    if (v == Verdict::kClean) {
      good = mid;
    } else {
      bad = mid;
      *limited = v == Verdict::kSenderLimit;
    }
  }
  return good;
}

void rate_part() {
  const uint16_t port = free_port_pair();
  mkdir("img", 0755);
  for (size_t size : {size_t{1400}, size_t{8200}}) {
    const std::vector<Bytes> set = trial_datagrams(size);
    bool limited[3] = {};
    const double plain = highest_rate(plain_trial, port, set, &limited[0]);
    const double taken = highest_rate(library_taken_trial, port, set, &limited[1]);
    const double staged = highest_rate(library_trial, port, set, &limited[2]);
    auto note = [&](int i) { return limited[i] ? " (the sender's limit)" : ""; };
    std::printf(
        "(a) %zu-byte datagrams, loss-free: plain poll+recvfrom %.0f/s%s; library with the "
        "pictures taken %.0f/s%s, ratio %.2f (goal >= 0.50); library with every block "
        "staged %.0f/s%s, ratio %.2f\n",
        size, plain, note(0), taken, note(1), plain > 0 ? taken / plain : 0.0, staged, note(2),
        plain > 0 ? staged / plain : 0.0);
    std::fflush(stdout);
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}
double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

void latency_part() {
  using namespace virazav;
  decode_init();
  sim::SyntheticChannel source(0, 352, 240);
  std::vector<sim::EncodedPicture> pictures;
  std::string error;
  sim::VideoSettings settings;
  if (!sim::encode_video_packets(source, 0, 1, settings, &pictures, &error)) {
    std::printf("(b) no picture: %s\n", error.c_str());
    return;
  }
  const Bytes packet = sim::make_video_packet(0, 90000, 90000, pictures[0]);
  const Bytes block = video_block(0, {packet});
  constexpr int kRounds = 200;

  // The decode and write of the picture on its own.
  std::vector<double> alone;
  for (int i = 0; i < kRounds; ++i) {
    auto t0 = Clock::now();
    decoder::decode_live_frame_to_file("img/alone.bmp", packet.data(), packet.size());
    alone.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }

  const uint16_t port = free_port_pair();
  kora_udp_connect("", port, 0);
  kora_udp_rx_start(127, 0, 0, 1);
  int fd = udp_socket(0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<double> latency;
  for (int i = 0; i < kRounds; ++i) {
    auto datagrams = fragment(block, static_cast<uint8_t>(i), 1392);
    Clock::time_point last_sent;
    for (const Bytes& d : datagrams) {
      ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      last_sent = Clock::now();
    }
    const auto give_up = last_sent + std::chrono::seconds(1);
    while (kora_udp_rx(0, 0) != 1 && Clock::now() < give_up) {
    }
    latency.push_back(std::chrono::duration<double, std::milli>(Clock::now() - last_sent).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::close(fd);
  kora_udp_close();
  decode_deinit();
  std::printf(
      "(b) last fragment to bitmap: median %.2f ms, 99th percentile %.2f ms; decode and "
      "write alone: median %.2f ms; excess %.2f ms (goal <= 2 ms)\n",
      median(latency), percentile(latency, 0.99), median(alone), median(latency) - median(alone));
}

}  // namespace

// The bitmap writer's trace lines would bury the figures.
extern "C" void drop_trace(const char*, void*) {}

int main() {
  virazav_set_trace_handler(drop_trace, nullptr);
  rate_part();
  latency_part();
  return 0;
}
