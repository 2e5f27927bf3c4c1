// The tour's live step: a few seconds of the built-in recorder's live stream, with the
// newest picture of every channel, channel 0 at its full rate, a mosaic of all sixteen and
// the sound of audio channel 0 in a WAV file.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "demo.h"
#include "mosaic.h"
#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace fs = std::filesystem;

namespace {

constexpr int kWatchMs = 3500;
constexpr int kDisplayChannel = 0;

bool udp_port_free(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// Runs the step's work inside `dir` (the library writes its pictures below the current
// folder) with the sound going to `wav`, and puts everything back afterwards.
class LiveScope {
 public:
  LiveScope(const fs::path& dir, const std::string& wav) : sound_(wav) {
    std::error_code ec;
    previous_dir_ = fs::current_path(ec);
    fs::current_path(dir, ec);
    entered_ = !ec;
  }
  ~LiveScope() {
    std::error_code ec;
    fs::current_path(previous_dir_, ec);
  }
  bool entered() const { return entered_; }

 private:
  WavScope sound_;
  fs::path previous_dir_;
  bool entered_ = false;
};

}  // namespace

int free_live_port() {
  for (int port = 50000; port < 50400; port += 2) {
    if (udp_port_free(static_cast<uint16_t>(port)) &&
        udp_port_free(static_cast<uint16_t>(port + 1))) {
      return port;
    }
  }
  return 0;
}

StepResult demo_live(Tour& tour) {
  if (tour.live_port == 0) return step_problem("no free UDP port pair for the live stream");
  int sender[4] = {};
  if (std::sscanf(tour.address.c_str(), "%d.%d.%d.%d", &sender[0], &sender[1], &sender[2],
                  &sender[3]) != 4) {
    return step_problem("the recorder's address is not a dotted IPv4 address");
  }
  const fs::path dir = tour.dir / "live";
  std::error_code ec;
  fs::create_directories(dir / "img", ec);
  const fs::path wav = dir / "live.wav";
  fs::remove(wav, ec);

  int pictures[16] = {};
  virazav_live_stats stats{};
  int rc = 0;
  {
    LiveScope scope(dir, wav.string());
    if (!scope.entered()) return step_problem("cannot work in " + dir.string());
    if (decode_init() != 0) return step_problem("the decoder could not be set up");
    rc = kora_udp_connect("", tour.live_port, 0);
    if (rc == 0) rc = kora_udp_dispmode(tour.slot, kDisplayChannel + 1, 0);
    if (rc >= 0) rc = kora_udp_count(tour.slot, 0, 0, 1);
    if (rc >= 0) {
      kora_udp_rx_start(sender[0], sender[1], sender[2], sender[3]);
      wave_play_ch(0, 0);
      wave_play_ctrl(1);
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatchMs);
      while (std::chrono::steady_clock::now() < end) {
        for (int ch = 0; ch < 16; ++ch) pictures[ch] += kora_udp_rx(ch, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      rc = kora_udp_count(tour.slot, 1, 0, 0);
      wave_play_ctrl(0);
    }
    virazav_live_statistics(&stats);
    kora_udp_close();
    decode_deinit();
    if (rc >= 0) Mosaic::live(0).write("mosaic.bmp");
  }
  if (rc < 0) return step_failed("live stream", rc);

  int channels = 0;
  for (int n : pictures) channels += n > 0;
  if (channels == 0) return step_problem("no live picture arrived");
  const auto sound = fs::file_size(wav, ec);
  const double seconds = !ec && sound > 44 ? (sound - 44) / 16000.0 : 0.0;
  tour.wrote(dir / "img", "newest live picture of each channel, serv0<ch>.jpg (bitmaps)");
  tour.wrote(dir / "mosaic.bmp", "the sixteen live channels in one picture");
  if (seconds > 0) tour.wrote(wav, "live sound of audio channel 0");
  char text[160];
  std::snprintf(text, sizeof text,
                "%d channels, %d pictures of channel %d at full rate, %.1f s of sound, %llu "
                "fragments lost -> ",
                channels, pictures[kDisplayChannel], kDisplayChannel, seconds,
                static_cast<unsigned long long>(stats.fragments_missing));
  return step_ok(text + shown_path(dir));
}

}  // namespace virazav::cli
