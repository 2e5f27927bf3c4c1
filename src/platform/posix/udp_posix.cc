// UDP sockets for the live stream: creation, binding, multicast membership, the
// receive buffer, datagram reception, and a waker that a receive thread waits on
// together with its socket.
#include "platform/posix/udp_posix.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace virazav::platform {
namespace posix {

Socket real_udp_socket() {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) set_last_socket_error(wsa_from_errno(errno));
  return s < 0 ? kInvalidSocket : s;
}

long real_recv_from(Socket s, void* data, size_t n, uint32_t* from) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ssize_t r;
  do r = ::recvfrom(s, data, n, 0, reinterpret_cast<sockaddr*>(&a), &len);
  while (r < 0 && errno == EINTR);
  if (r < 0) {
    set_last_socket_error(wsa_from_errno(errno));
    return -1;
  }
  if (from != nullptr) *from = a.sin_family == AF_INET ? a.sin_addr.s_addr : 0;
  return static_cast<long>(r);
}

}  // namespace posix

namespace {

int set_int_option(Socket s, int level, int name, int value) {
  return ::setsockopt(s, level, name, &value, sizeof value) == 0 ? 0 : -1;
}

int read_receive_buffer(Socket s) {
  int value = 0;
  socklen_t len = sizeof value;
  return ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &value, &len) == 0 ? value : -1;
}

}  // namespace

int bind_port(Socket s, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    set_last_socket_error(posix::wsa_from_errno(errno));
    return -1;
  }
  return 0;
}

int set_reuse_address(Socket s, bool on) {
  return set_int_option(s, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}

int join_multicast(Socket s, uint32_t group) {
  ip_mreq m{};
  m.imr_multiaddr.s_addr = group;
  m.imr_interface.s_addr = htonl(INADDR_ANY);
  return ::setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0 ? 0 : -1;
}

int set_multicast_loop(Socket s, bool on) {
  unsigned char v = on ? 1 : 0;
  return ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, &v, sizeof v) == 0 ? 0 : -1;
}

int set_receive_buffer(Socket s, int bytes, int* granted) {
  if (bytes < 0) bytes = 0;
  if (set_int_option(s, SOL_SOCKET, SO_RCVBUF, bytes) != 0) return -1;
  int got = read_receive_buffer(s);
  // Linux doubles the request for its bookkeeping and caps it at rmem_max; a
  // process with CAP_NET_ADMIN may pass the cap.
  if (got >= 0 && got / 2 < bytes) {
    set_int_option(s, SOL_SOCKET, SO_RCVBUFFORCE, bytes);
    got = read_receive_buffer(s);
  }
  if (got < 0) return -1;
  if (granted != nullptr) *granted = got;
  return got / 2 >= bytes ? 0 : 1;
}

std::string dotted_text(uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return text;
}

Waker::Waker() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Waker::~Waker() {
  if (fd_ >= 0) ::close(fd_);
}

void Waker::wake() {
  if (fd_ < 0) return;
  uint64_t one = 1;
  ssize_t r;
  do r = ::write(fd_, &one, sizeof one);
  while (r < 0 && errno == EINTR);
}

void Waker::clear() {
  if (fd_ < 0) return;
  uint64_t count;
  ssize_t r;
  do r = ::read(fd_, &count, sizeof count);
  while (r < 0 && errno == EINTR);
}

int wait_readable_or_woken(Socket s, const Waker& waker, int timeout_ms) {
  pollfd p[2] = {};
  int n = 0;
  int waker_at = -1;
  if (waker.descriptor() >= 0) {
    waker_at = n;
    p[n].fd = waker.descriptor();
    p[n++].events = POLLIN;
  } else if (timeout_ms < 0 || timeout_ms > 1) {
    timeout_ms = 1;  // no descriptor to wait on: look again every millisecond
  }
  int socket_at = -1;
  if (s != kInvalidSocket) {
    socket_at = n;
    p[n].fd = s;
    p[n++].events = POLLIN;
  }
  uint32_t start = tick_ms();
  for (;;) {
    int r = ::poll(p, static_cast<nfds_t>(n), timeout_ms);
    if (r > 0) {
      if (waker_at >= 0 && p[waker_at].revents != 0) return 2;
      if (socket_at >= 0 && p[socket_at].revents != 0) return 1;
      return 0;
    }
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
    if (timeout_ms >= 0) {
      int spent = static_cast<int>(tick_ms() - start);
      if (spent >= timeout_ms) return 0;
      timeout_ms -= spent;
      start = tick_ms();
    }
  }
}

}  // namespace virazav::platform
