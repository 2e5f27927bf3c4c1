// Reading lines and raw bytes from an accepted connection and sending texts on it. Every
// wait is a poll() on the socket together with the recorder's stop descriptor, so that
// stop() ends each wait at once.

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "internal.h"

namespace virazav::sim::detail {

namespace {
constexpr size_t kReceiveChunk = 65536;
}  // namespace

Connection::Read Connection::wait_readable(int timeout_ms) {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
  for (;;) {
    int n = ::poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Read::kStopped;
    if (fds[1].revents != 0) return Read::kStopped;
    if (n == 0) return Read::kTimeout;
    return Read::kOk;  // readable, closed or failed: recv tells which
  }
}

Connection::Read Connection::fill(int timeout_ms) {
  Read r = wait_readable(timeout_ms);
  if (r != Read::kOk) return r;
  char buf[kReceiveChunk];
  for (;;) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Read::kClosed;
    buffer_.append(buf, static_cast<size_t>(n));
    return Read::kOk;
  }
}

Connection::Read Connection::read_line(std::string* line) {
  line->clear();
  for (;;) {
    if (skipping_) {
      size_t nl = buffer_.find('\n');
      if (nl == std::string::npos) {
        buffer_.clear();
      } else {
        buffer_.erase(0, nl + 1);
        skipping_ = false;
      }
    }
    if (!skipping_) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        line->assign(buffer_, 0, nl + 1);
        buffer_.erase(0, nl + 1);
        return Read::kOk;
      }
      if (buffer_.size() >= kMaxLine) {
        line->assign(buffer_, 0, kMaxLine);
        buffer_.erase(0, kMaxLine);
        skipping_ = true;
        return Read::kOverlong;
      }
    }
    Read r = fill(-1);
    if (r == Read::kClosed) {
      if (!skipping_) line->swap(buffer_);
      buffer_.clear();
      return r;
    }
    if (r != Read::kOk) return r;
  }
}

Connection::Read Connection::read_bytes(size_t n, int idle_ms, std::vector<uint8_t>* out) {
  size_t wanted = out->size() + n;
  for (;;) {
    size_t take = std::min(buffer_.size(), wanted - out->size());
    out->insert(out->end(), buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(take));
    buffer_.erase(0, take);
    if (out->size() == wanted) return Read::kOk;
    Read r = fill(idle_ms);
    if (r != Read::kOk) return r;
  }
}

bool Connection::send_text(std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool Connection::pause(int ms) {
  if (ms <= 0) return true;
  pollfd fd = {stop_fd_, POLLIN, 0};
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    until - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return true;
    int n = ::poll(&fd, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n != 0) return false;
  }
}

}  // namespace virazav::sim::detail
