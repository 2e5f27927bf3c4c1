// The receive thread: its socket on the port of its index, its log file, and the
// loop that waits for datagrams (or a state change) and drains the socket into
// the assembly step until it would block.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "live/assembly.h"
#include "live/live_state.h"
#include "platform/platform.h"

namespace virazav::live::detail {
namespace {

// The receive buffer asked for unless VIRAZAV_LIVE_RCVBUF names another size:
// at the recorder's full rate a burst of several blocks must fit while the
// thread is busy filing a block.
constexpr int kDefaultReceiveBuffer = 4 << 20;
constexpr int kDefaultPort = 50000;

int receive_buffer_wanted() {
  std::string text;
  if (!platform::get_env("VIRAZAV_LIVE_RCVBUF", &text) || text.empty()) {
    return kDefaultReceiveBuffer;
  }
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > (1L << 30)) return kDefaultReceiveBuffer;
    value = value * 10 + (c - '0');
  }
  return value > 0 && value <= (1L << 30) ? static_cast<int>(value) : kDefaultReceiveBuffer;
}

// The thread's log "img/log<t>.txt": a missing folder means no log.
class ThreadLog {
 public:
  explicit ThreadLog(int t) {
    char path[32];
    std::snprintf(path, sizeof path, "img/log%d.txt", t);
    file_ = platform::File::open(path, platform::OpenMode::kWriteTruncate);
  }

  void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (!file_.is_open()) return;
    char text[160];
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    if (n > 0) file_.write(text, std::min<size_t>(n, sizeof text - 1));
  }

 private:
  platform::File file_;
};

bool sender_accepted(uint32_t from) {
  const uint64_t expected = state().expected_sender.load();
  return (expected >> 32) != 0 && static_cast<uint32_t>(expected) == from;
}

// Reads every datagram waiting on the socket (as long as the thread stays in
// Receiving) and runs it through the assembly step.
void drain(platform::Socket socket, ReceiveThread& self, Assembler& assembler, uint8_t* buffer) {
  Counters& c = state().counters;
  for (;;) {
    uint32_t from = 0;
    long n = platform::recv_from(socket, buffer, kDatagramBytes, &from);
    if (n < 0) {
      // A socket that keeps failing must not spin the thread.
      if (platform::last_socket_error() != platform::kWsaWouldBlock) platform::sleep_ms(1);
      return;
    }
    c.datagrams.fetch_add(1);
    c.bytes.fetch_add(static_cast<uint64_t>(n));
    if (static_cast<size_t>(n) <= kDatagramHeader || !sender_accepted(from)) {
      c.ignored.fetch_add(1);
    } else if (assembler.take(buffer, static_cast<size_t>(n)) == Outcome::kIgnored) {
      c.ignored.fetch_add(1);
    }
    if (self.state.load() != kReceiving) return;
  }
}

}  // namespace

void receive_main(int t) {
  LiveState& s = state();
  ReceiveThread& self = s.threads[t];
  s.no_audio[0].store(0);
  s.no_audio[1].store(0);

  const bool net = platform::net_startup() == 0;
  {
    ThreadLog log(t);
    log.line("thread_flg %d %d\n", t, t);
    announce_thread_state(t, t == 0 ? kIdle : kReceiving);

    platform::Socket socket = net ? platform::udp_socket() : platform::kInvalidSocket;
    if (socket == platform::kInvalidSocket) {
      // Without a socket the thread ends; its state keeps the value above.
      if (net) platform::net_cleanup();
      announce_thread_end(t, false);
      return;
    }
    const int port = s.port_base > 0 ? s.port_base + t : kDefaultPort;
    log.line("MULTI JOIN %s %d\n", s.address, s.port_base + t);

    // Every option is best effort: a unicast address does not join, and
    // datagrams sent straight to the port arrive anyway.
    platform::set_nonblocking(socket, true);
    platform::bind_port(socket, static_cast<uint16_t>(port));
    platform::set_reuse_address(socket, true);
    platform::join_multicast(socket, platform::system_inet_addr(s.address));
    platform::set_multicast_loop(socket, false);
    const int wanted = receive_buffer_wanted();
    int granted = 0;
    if (platform::set_receive_buffer(socket, wanted, &granted) >= 0) {
      log.line("RCVBUF asked %d granted %d\n", wanted, granted / 2);
    }
    announce_thread_ready(t);

    {
      Assembler assembler(t);
      platform::Buffer datagram(kDatagramBytes);
      if (assembler.ok() && datagram.ok()) {
        for (;;) {
          const int32_t now = self.state.load();
          if (now == kStopRequested) break;
          if (now != kReceiving) {
            // Idle: the socket keeps what arrives until the next start.
            platform::wait_readable_or_woken(platform::kInvalidSocket, self.waker, -1);
            self.waker.clear();
            continue;
          }
          int r = platform::wait_readable_or_woken(socket, self.waker, -1);
          if (r == 2) {
            self.waker.clear();
            continue;
          }
          if (r == 1) drain(socket, self, assembler, datagram.data());
          if (r < 0) platform::sleep_ms(1);
        }
      }
    }
    log.line("thread out %d\n", t);
    platform::close_socket(socket);
    platform::net_cleanup();
  }

  // The pictures of the groups lived in the display buffers.
  for (VideoSet& set : s.sets) {
    platform::MutexLock lock(set.group_lock);
    for (GroupRecord& r : set.group) r = GroupRecord{};
  }
  announce_thread_end(t, true);
}

}  // namespace virazav::live::detail
