// A plain UDP sender on a loopback address for the live tests, and a search for
// a free pair of ports for a session's two receive threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace virazav::testing {

class UdpSender {
 public:
  // Binds to `from` (a 127.x.y.z address) on any port.
  explicit UdpSender(const std::string& from = "127.0.0.1");
  ~UdpSender();
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;
  bool ok() const { return fd_ >= 0; }
  // Sends one datagram to 127.0.0.1:port. Returns false when it did not go out.
  bool send(uint16_t port, const std::vector<uint8_t>& datagram);
  bool send_all(uint16_t port, const std::vector<std::vector<uint8_t>>& datagrams);

 private:
  int fd_ = -1;
};

// Returns a port P such that P and P + 1 are free for UDP on any address now,
// or 0 when none was found.
uint16_t free_port_pair();

// Waits up to timeout_ms, looking every millisecond, until `done` returns true.
template <typename F>
bool eventually(int timeout_ms, F done);

// Resident memory of this process in KiB (from /proc/self/statm).
long resident_kib();

}  // namespace virazav::testing

#include <chrono>
#include <thread>

template <typename F>
bool virazav::testing::eventually(int timeout_ms, F done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
