// Command exchanges per second (GetTime) against the simulated recorder on
// loopback, next to a raw TCP ping-pong of the same sizes in the same run.
// Prints the ratio; the goal is at least 0.5.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "ratio_reporter.h"
#include "recorder.h"
#include "virazav.h"

namespace {

constexpr const char* kAddress = "127.0.9.9";
constexpr int kRawPort = 6101;
// "IDxxxxxxxx GetTime\n" and "IDxxxxxxxx OK YY/MM/DD HH:MM:SS\r\n".
constexpr size_t kRequestSize = 19;
constexpr size_t kReplySize = 33;

// A server that answers every kRequestSize bytes with kReplySize bytes.
class PingPongServer {
 public:
  bool start() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kRawPort);
    inet_pton(AF_INET, kAddress, &a.sin_addr);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 1) != 0) {
      return false;
    }
    thread_ = std::thread([this] { serve(); });
    return true;
  }
  ~PingPongServer() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    if (thread_.joinable()) thread_.join();
  }

 private:
  void serve() {
    int c = accept(listener_, nullptr, nullptr);
    if (c < 0) return;
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buf[256];
    char reply[kReplySize];
    std::memset(reply, 'r', sizeof reply);
    size_t have = 0;
    while (!stop_) {
      ssize_t r = recv(c, buf, sizeof buf, 0);
      if (r <= 0) break;
      have += static_cast<size_t>(r);
      while (have >= kRequestSize) {
        have -= kRequestSize;
        if (send(c, reply, sizeof reply, MSG_NOSIGNAL) < 0) break;
      }
    }
    close(c);
  }
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void BM_RawPingPong(benchmark::State& state) {
  PingPongServer server;
  if (!server.start()) {
    state.SkipWithError("raw server did not start");
    return;
  }
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(kRawPort);
  inet_pton(AF_INET, kAddress, &a.sin_addr);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    state.SkipWithError("raw connect failed");
    return;
  }
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char req[kRequestSize];
  std::memset(req, 'q', sizeof req);
  char buf[kReplySize];
  for (auto _ : state) {
    send(s, req, sizeof req, MSG_NOSIGNAL);
    size_t got = 0;
    while (got < kReplySize) {
      ssize_t r = recv(s, buf + got, kReplySize - got, 0);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
  }
  state.SetItemsProcessed(state.iterations());
  close(s);
}

void BM_GetTimeExchange(benchmark::State& state) {
  virazav::sim::RecorderOptions o;
  o.address = kAddress;
  virazav::sim::Recorder rec(o);
  std::string error;
  if (!rec.start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  if (kora_connect(0, kAddress, "", nullptr) != 0) {
    state.SkipWithError("connect failed");
    return;
  }
  char date[64], time[64];
  for (auto _ : state) {
    if (kora_get_time(0, date, time) != 0) {
      state.SkipWithError("GetTime failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  kora_unconnect(0, 0, 0, 0);
  rec.stop();
}

BENCHMARK(BM_RawPingPong)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_GetTimeExchange)->MinTime(2.0)->UseRealTime();

using virazav::bench::RatioReporter;

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double raw = reporter.rates["BM_RawPingPong/min_time:2.000/real_time"];
  double cmd = reporter.rates["BM_GetTimeExchange/min_time:2.000/real_time"];
  if (raw > 0 && cmd > 0) {
    std::printf("\nGetTime exchanges: %.0f/s; raw ping-pong: %.0f/s; ratio %.2f (goal >= 0.50)\n",
                cmd, raw, cmd / raw);
  }
  benchmark::Shutdown();
  return 0;
}
