// Download throughput from the simulated recorder on loopback (kora_copy_fast and
// kora_copy_next into a stream file and index), next to a raw TCP transfer of the same
// block bytes in the same run. Prints the ratio of the two rates.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recorder.h"
#include "virazav.h"

namespace {

constexpr int kSeconds = 20;
constexpr int kSlot = 0;

struct Setup {
  std::unique_ptr<virazav::sim::Recorder> recorder;
  std::string address;
  std::string dir;
  std::vector<uint8_t> all_blocks;  // every block of one download, back to back
  double download_seconds = 0;      // best time of one download
  double raw_seconds = 0;           // best time of one raw transfer
};

Setup& setup() {
  static Setup s;
  return s;
}

int download_once(const Setup& s) {
  const std::string path = s.dir + "/bench.dat";
  int rc = kora_copy_fast(kSlot, path.c_str(), 0, 0, 24, 5, 1, 10, 0, 0, kSeconds, 1, 0, 0, 0);
  if (rc != 1) return rc;
  uint8_t count[4];
  for (;;) {
    rc = kora_copy_next(kSlot, path.c_str(), count, s.dir.c_str());
    if (rc <= 0) return rc;
  }
}

bool start(Setup& s) {
  virazav::sim::RecorderOptions o;
  o.recording.video_channels = 0x000F;
  o.recording.audio_channels = 0x000F;
  o.recording.seconds = kSeconds;
  for (int i = 0; i < 200 && !s.recorder; ++i) {
    o.address = "127.0.201." + std::to_string(2 + i);
    auto r = std::make_unique<virazav::sim::Recorder>(o);
    if (r->start(nullptr)) {
      s.recorder = std::move(r);
      s.address = o.address;
    }
  }
  if (!s.recorder) return false;
  if (kora_connect(kSlot, s.address.c_str(), "", nullptr) != 0) return false;
  char tmpl[] = "/tmp/virazav-bench-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return false;
  s.dir = tmpl;
  // The first download encodes the recordings; later ones take them from the cache.
  if (download_once(s) != 0) return false;
  for (const auto& step : s.recorder->download_steps(kSlot)) {
    s.all_blocks.insert(s.all_blocks.end(), step.video.begin(), step.video.end());
    s.all_blocks.insert(s.all_blocks.end(), step.audio.begin(), step.audio.end());
  }
  return !s.all_blocks.empty();
}

void BM_Download(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    int rc = download_once(s);
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (rc != 0) state.SkipWithError("download failed");
    if (s.download_seconds == 0 || t < s.download_seconds) s.download_seconds = t;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.all_blocks.size()));
}

// The same bytes over a plain loopback TCP connection: one sender thread, one receiver.
void BM_RawTcp(benchmark::State& state) {
  Setup& s = setup();
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
  socklen_t len = sizeof sa;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    state.SkipWithError("no listener");
    return;
  }
  std::vector<uint8_t> in(1 << 20);
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::thread sender([&] {
      int fd = ::accept(listener, nullptr, nullptr);
      size_t done = 0;
      while (fd >= 0 && done < s.all_blocks.size()) {
        ssize_t n =
            ::send(fd, s.all_blocks.data() + done, s.all_blocks.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      if (fd >= 0) ::close(fd);
    });
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    size_t got = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      for (;;) {
        ssize_t n = ::recv(fd, in.data(), in.size(), 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
      }
    }
    ::close(fd);
    sender.join();
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (got != s.all_blocks.size()) state.SkipWithError("short transfer");
    if (s.raw_seconds == 0 || t < s.raw_seconds) s.raw_seconds = t;
  }
  ::close(listener);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.all_blocks.size()));
}

BENCHMARK(BM_RawTcp)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_Download)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  Setup& s = setup();
  if (!start(s)) {
    std::fprintf(stderr, "download_bench: the simulated recorder could not be set up\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (s.download_seconds > 0 && s.raw_seconds > 0) {
    const double mib = static_cast<double>(s.all_blocks.size()) / (1 << 20);
    std::printf("download: %.2f MiB in %.1f ms (%.1f MiB/s); raw TCP: %.1f ms (%.1f MiB/s)\n", mib,
                s.download_seconds * 1e3, mib / s.download_seconds, s.raw_seconds * 1e3,
                mib / s.raw_seconds);
    std::printf("ratio download/raw throughput: %.3f\n", s.raw_seconds / s.download_seconds);
  }
  kora_unconnect(kSlot, 0, 0, 0);
  s.recorder->stop();
  std::error_code ec;
  std::filesystem::remove_all(s.dir, ec);
  return 0;
}
