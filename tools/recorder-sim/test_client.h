// A raw socket client for the simulated recorder's own tests, written from the client's
// side of docs/formats/command-protocol.md: blocking TCP sockets with bounded receives, the
// reply tokenizer, and the login that opens a command connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "recorder.h"

namespace virazav::sim::testing {

using Clock = std::chrono::steady_clock;

inline int64_t ms_since(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A blocking TCP client socket with bounded receives.
class Sock {
 public:
  Sock() = default;
  explicit Sock(int fd) : fd_(fd) {}
  Sock(Sock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Sock& operator=(Sock&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  ~Sock() {
    if (fd_ >= 0) ::close(fd_);
  }

  // Connects to address:port, from `source` (an IPv4 address to bind to) when given.
  static Sock connect_to(const std::string& address, int port, const std::string& source = {}) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (!source.empty()) {
      ::inet_pton(AF_INET, source.c_str(), &sa.sin_addr);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return Sock();
      }
    }
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      ::close(fd);
      return Sock();
    }
    return Sock(fd);
  }

  bool ok() const { return fd_ >= 0; }

  bool send_all(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // One recv within timeout_ms. Returns what it gave; *closed is set when the recorder
  // closed the connection (or it failed).
  std::string recv_once(int timeout_ms, bool* closed = nullptr) {
    if (closed != nullptr) *closed = false;
    pollfd p = {fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return {};
    char buf[65536];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      if (closed != nullptr) *closed = true;
      return {};
    }
    return std::string(buf, static_cast<size_t>(n));
  }

  // Receives until the text ends in "\r\n", the connection ends, or the time is up.
  std::string recv_line(int timeout_ms = 3000) {
    std::string out;
    auto start = Clock::now();
    while (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) {
      int left = timeout_ms - static_cast<int>(ms_since(start));
      if (left <= 0) break;
      bool closed = false;
      out += recv_once(left, &closed);
      if (closed) break;
    }
    return out;
  }

  // Receives n bytes, or what arrived before the connection ended or the time was up.
  std::string recv_bytes(size_t n, int timeout_ms = 3000) {
    std::string out;
    auto start = Clock::now();
    while (out.size() < n) {
      int left = timeout_ms - static_cast<int>(ms_since(start));
      if (left <= 0) break;
      bool closed = false;
      out += recv_once(left, &closed);
      if (closed) break;
    }
    return out;
  }

  // Returns true when the recorder closes the connection within timeout_ms without
  // sending anything first.
  bool closed_silently(int timeout_ms) {
    bool closed = false;
    std::string got = recv_once(timeout_ms, &closed);
    return closed && got.empty();
  }

 private:
  int fd_ = -1;
};

// Splits a reply at blanks, tabs, commas, CR and LF, as the client does.
inline std::vector<std::string> tokens(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

inline std::string hex_of(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

inline std::string password_line(std::string_view password) {
  std::string digits = hex_of(password);
  if (digits.size() < 32) digits.append(32 - digits.size(), '0');
  return "PASSWORD " + digits + "\n";
}

// Logs in on a slot with the password and opens its command connection from `source`
// (when given); a failed one is not ok().
inline Sock open_command_connection(const std::string& address, int slot,
                                    const std::string& password, const std::string& source = {}) {
  Sock login = Sock::connect_to(address, login_port(slot));
  if (!login.ok() || tokens(login.recv_line()).size() != 8) return Sock();
  login.send_all(password_line(password));
  auto t = tokens(login.recv_line());
  if (t.size() != 3 || t[0] != "OK") return Sock();
  Sock c = Sock::connect_to(address, command_port(slot), source);
  if (!c.ok() || !c.send_all("ID = " + t[2] + "\n") || c.recv_line() != "OK\r\n") return Sock();
  return c;
}

// Sends "<id> <rest>\n" and returns the reply.
inline std::string ask(Sock& s, const std::string& id, const std::string& rest,
                       int timeout_ms = 3000) {
  s.send_all(id + " " + rest + "\n");
  return s.recv_line(timeout_ms);
}

}  // namespace virazav::sim::testing
