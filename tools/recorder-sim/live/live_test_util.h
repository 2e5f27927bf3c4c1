// Test-side readers of the live stream, written from docs/formats/live-stream.md with the
// offsets spelled out (not taken from live_blocks.h, so that a wrong constant there shows):
// a block parser, a fragment reassembler and a UDP receiver on loopback.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace virazav::sim::testing {

inline uint16_t rd16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline uint32_t rd32(const std::vector<uint8_t>& b, size_t at) {
  return rd16(b, at) | (static_cast<uint32_t>(rd16(b, at + 2)) << 16);
}

struct ParsedRecord {
  bool key = false;
  int channel = 0;
  int number = 0;
  std::vector<uint8_t> packet;
};

struct ParsedVideo {
  int channel = 0;
  uint32_t length = 0;
  uint32_t time_value = 0;
  uint16_t time_word = 0;
  int type = 0;
  uint16_t status_word = 0;
  uint8_t status_byte = 0;
  std::array<uint8_t, 3> ptz{};
  uint32_t first_frame = 0;
  int record_count = 0;  // the further header's count
  bool group = false;
  std::vector<ParsedRecord> records;
};

// Parses a video block: the header, then records from offset 128 up to exactly L. Returns
// nullopt when a record runs past L or past the bytes, or L past the bytes.
inline std::optional<ParsedVideo> parse_video_block(const std::vector<uint8_t>& b) {
  if (b.size() < 128) return std::nullopt;
  ParsedVideo v;
  v.channel = rd16(b, 0) >> 12;
  v.length = rd32(b, 4);
  v.time_value = rd32(b, 8);
  v.time_word = rd16(b, 12);
  v.type = b[15];
  v.status_word = rd16(b, 16);
  v.status_byte = b[22];
  v.ptz = {b[23], b[24], b[25]};
  v.first_frame = rd32(b, 28);
  v.record_count = rd16(b, 32);
  v.group = b[35] == 1;
  if (v.length > b.size()) return std::nullopt;
  size_t at = 128;
  while (at < v.length) {
    if (at + 6 > v.length) return std::nullopt;
    size_t len = 32u * rd16(b, at + 2);
    if (at + 6 + len > v.length) return std::nullopt;
    ParsedRecord r;
    r.key = b[at] == 1;
    r.channel = b[at + 1];
    r.number = rd16(b, at + 4);
    r.packet.assign(b.begin() + static_cast<ptrdiff_t>(at + 6),
                    b.begin() + static_cast<ptrdiff_t>(at + 6 + len));
    v.records.push_back(std::move(r));
    at += 6 + len;
  }
  return v;
}

struct ParsedSubBlock {
  int channel = 0;
  uint32_t length = 0;
  uint32_t time_value = 0;
  uint16_t time_word = 0;
  int type = 0;
  uint8_t flags = 0;
  uint8_t sequence = 0;
  uint8_t count = 0;
  std::vector<uint8_t> data;
};

// Walks an audio block's sub-blocks as a client does: the count of the first (cut to 1..4),
// each next header at 72 + L + L mod 4. Returns nullopt when one runs past the bytes.
inline std::optional<std::vector<ParsedSubBlock>> parse_audio_block(const std::vector<uint8_t>& b) {
  if (b.size() < 72) return std::nullopt;
  int n = std::clamp<int>(b[24], 1, 4);
  std::vector<ParsedSubBlock> out;
  size_t at = 0;
  for (int i = 0; i < n; ++i) {
    if (at + 72 > b.size()) return std::nullopt;
    ParsedSubBlock s;
    s.channel = rd16(b, at);
    s.length = rd32(b, at + 4);
    s.time_value = rd32(b, at + 8);
    s.time_word = rd16(b, at + 12);
    s.type = b[at + 15];
    s.flags = b[at + 22];
    s.sequence = b[at + 23];
    s.count = b[at + 24];
    if (at + 72 + s.length > b.size()) return std::nullopt;
    s.data.assign(b.begin() + static_cast<ptrdiff_t>(at + 72),
                  b.begin() + static_cast<ptrdiff_t>(at + 72 + s.length));
    out.push_back(std::move(s));
    at += 72 + s.length + s.length % 4;
  }
  return out;
}

// The 8-byte fragment header of a datagram.
struct FragmentHeader {
  uint8_t block = 0;
  uint8_t index = 0;
  uint8_t count = 0;
  uint8_t stream = 0;
  uint32_t stride = 0;
};

inline std::optional<FragmentHeader> fragment_header(const std::vector<uint8_t>& d) {
  if (d.size() <= 8) return std::nullopt;
  return FragmentHeader{d[0], d[1], d[2], d[3], rd32(d, 4)};
}

// Puts the payloads of a block's datagrams at index × stride. Returns the block when every
// fragment 0..count-1 arrived exactly once and every byte is covered once; nullopt else.
inline std::optional<std::vector<uint8_t>> reassemble(
    const std::vector<const std::vector<uint8_t>*>& datagrams) {
  std::map<int, const std::vector<uint8_t>*> by_index;
  int count = -1;
  uint32_t stride = 0;
  for (const auto* d : datagrams) {
    auto h = fragment_header(*d);
    if (!h || (count >= 0 && (h->count != count || h->stride != stride))) return std::nullopt;
    count = h->count;
    stride = h->stride;
    if (!by_index.emplace(h->index, d).second) return std::nullopt;
  }
  if (count <= 0 || static_cast<int>(by_index.size()) != count) return std::nullopt;
  std::vector<uint8_t> block;
  std::vector<int> covered;
  for (const auto& [index, d] : by_index) {
    if (index >= count) return std::nullopt;
    size_t n = d->size() - 8;
    if (index + 1 < count && n != stride) return std::nullopt;
    size_t at = static_cast<size_t>(index) * stride;
    if (block.size() < at + n) {
      block.resize(at + n);
      covered.resize(at + n);
    }
    for (size_t i = 0; i < n; ++i) {
      block[at + i] = (*d)[8 + i];
      ++covered[at + i];
    }
  }
  for (int c : covered) {
    if (c != 1) return std::nullopt;
  }
  return block;
}

// One datagram as a test receiver got it.
struct Received {
  int port_index = 0;  // 0: the port base, 1: the next port
  std::vector<uint8_t> bytes;
  std::string source;  // the sender's IPv4 address
  uint64_t order = 0;  // arrival order over both ports
};

// Two UDP sockets on the port base P and P + 1 of a loopback address (or of any address,
// joined to a multicast group), read by a thread of their own into a list.
class UdpReceiver {
 public:
  UdpReceiver() = default;
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;
  ~UdpReceiver() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : fds_) ::close(fd);
  }

  // Binds to address:P and address:P+1 for a free P and starts reading. With a group, the
  // sockets bind to any address and join the group on `address`'s interface. Returns false
  // when that cannot be done.
  bool open(const std::string& address, const std::string& group = {}) {
    for (int attempt = 0; attempt < 50 && fds_.empty(); ++attempt) {
      int a = bind_one(group.empty() ? address : "0.0.0.0", 0);
      if (a < 0) return false;
      sockaddr_in sa{};
      socklen_t len = sizeof sa;
      ::getsockname(a, reinterpret_cast<sockaddr*>(&sa), &len);
      int port = ntohs(sa.sin_port);
      int b = port < 65535 ? bind_one(group.empty() ? address : "0.0.0.0", port + 1) : -1;
      if (b < 0) {
        ::close(a);
        continue;
      }
      fds_ = {a, b};
      port_base_ = port;
    }
    if (fds_.empty()) return false;
    if (!group.empty()) {
      ip_mreq m{};
      ::inet_pton(AF_INET, group.c_str(), &m.imr_multiaddr);
      ::inet_pton(AF_INET, address.c_str(), &m.imr_interface);
      for (int fd : fds_) {
        if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) != 0) return false;
      }
    }
    thread_ = std::thread([this] { loop(); });
    return true;
  }

  int port_base() const { return port_base_; }

  std::vector<Received> snapshot() const {
    std::lock_guard<std::mutex> lock(mu_);
    return got_;
  }
  size_t size() const {
    std::lock_guard<std::mutex> lock(mu_);
    return got_.size();
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mu_);
    got_.clear();
  }
  // Waits up to timeout_ms until pred(list) holds.
  bool wait(const std::function<bool(const std::vector<Received>&)>& pred, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return pred(got_); });
  }

 private:
  static int bind_one(const std::string& address, int port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int size = 1 << 22;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  void loop() {
    std::vector<uint8_t> buf(70000);
    uint64_t order = 0;
    while (!stop_) {
      pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
      if (::poll(p, 2, 20) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if ((p[i].revents & POLLIN) == 0) continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fds_[static_cast<size_t>(i)], buf.data(), buf.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        Received r{i, std::vector<uint8_t>(buf.begin(), buf.begin() + n), text, order++};
        {
          std::lock_guard<std::mutex> lock(mu_);
          got_.push_back(std::move(r));
        }
        cv_.notify_all();
      }
    }
  }

  std::vector<int> fds_;
  int port_base_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Received> got_;
};

}  // namespace virazav::sim::testing
