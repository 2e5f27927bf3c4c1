// Loopback UDP sender and free-port search for the live tests.
#include "live/udp_sender.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

namespace virazav::testing {

UdpSender::UdpSender(const std::string& from) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &a.sin_addr);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

UdpSender::~UdpSender() {
  if (fd_ >= 0) ::close(fd_);
}

bool UdpSender::send(uint16_t port, const std::vector<uint8_t>& datagram) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(datagram.size());
}

bool UdpSender::send_all(uint16_t port, const std::vector<std::vector<uint8_t>>& datagrams) {
  for (const auto& d : datagrams) {
    if (!send(port, d)) return false;
  }
  return true;
}

namespace {

int bound_socket(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

uint16_t free_port_pair() {
  // Each test starts from a port of its own, derived from its name, below the
  // system's ephemeral range: tests running at once in other processes then do
  // not pick the same ports between the probe and the library's bind.
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "x";
  if (info != nullptr && info->value_param() != nullptr) name += info->value_param();
  const size_t h = std::hash<std::string>{}(name);
  for (int attempt = 0; attempt < 200; ++attempt) {
    const uint16_t port = static_cast<uint16_t>(10000 + 2 * ((h + 7919u * attempt) % 11000));
    int first = bound_socket(port);
    if (first < 0) continue;
    int second = bound_socket(static_cast<uint16_t>(port + 1));
    ::close(first);
    if (second >= 0) {
      ::close(second);
      return port;
    }
  }
  return 0;
}

long resident_kib() {
  std::ifstream in("/proc/self/statm");
  long size = 0, resident = 0;
  in >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace virazav::testing
