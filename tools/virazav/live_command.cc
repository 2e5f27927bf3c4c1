// The live command: asks the recorder for its live stream, receives it, writes the newest
// picture of each chosen channel as it arrives (and a 4 x 4 mosaic on request), plays the
// display channel at its full rate, sends the sound to the audio device or a WAV file, and
// shows a status line of what arrived and what was lost. It ends on Ctrl-C or after
// --for seconds and always stops the stream and closes the session.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "json_writer.h"
#include "mosaic.h"
#include "progress.h"
#include "report.h"
#include "session.h"
#include "terminal.h"
#include "virazav.h"

namespace virazav::cli {

namespace fs = std::filesystem;

namespace {

// The recorder's dotted address as the four numbers kora_udp_rx_start takes.
bool address_bytes(const std::string& text, int out[4]) {
  int used = 0;
  if (std::sscanf(text.c_str(), "%d.%d.%d.%d%n", &out[0], &out[1], &out[2], &out[3], &used) != 4 ||
      static_cast<size_t>(used) != text.size()) {
    return false;
  }
  return std::all_of(out, out + 4, [](int v) { return v >= 0 && v <= 255; });
}

struct LiveSettings {
  double seconds = 0;  // 0: until Ctrl-C
  uint32_t channels = 0xFFFF;
  int set = 0;
  int display = -1;  // channel shown at its full rate, -1 none
  int audio_channel = -1;
  int ring = 0;
  std::string wav;  // absolute; empty: the audio device VIRAZAV_AUDIO names
  bool mosaic = false;
  int port = 50000;
  std::string group;
  fs::path out;
};

// A status line once a second: totals and rates of what arrived and what was lost.
class StatusLine {
 public:
  explicit StatusLine(bool draw) : draw_(draw), start_(Clock::now()), last_(start_) {
    virazav_live_statistics(&previous_);
    first_ = previous_;
  }
  void tick(bool force = false) {
    const auto now = Clock::now();
    const double since = std::chrono::duration<double>(now - last_).count();
    if (!force && since < 1.0) return;
    virazav_live_stats s{};
    virazav_live_statistics(&s);
    const double t = std::chrono::duration<double>(now - start_).count();
    auto rate = [&](uint64_t a, uint64_t b) { return since > 0 ? (a - b) / since : 0.0; };
    char line[256];
    std::snprintf(line, sizeof line,
                  "live %5.1f s: %llu datagrams (%.0f/s), %llu blocks (%.0f/s), %llu pictures "
                  "(%.0f/s), lost %llu fragments in %llu blocks, %llu dropped",
                  t, ull(s.datagrams - first_.datagrams), rate(s.datagrams, previous_.datagrams),
                  ull(s.blocks_completed - first_.blocks_completed),
                  rate(s.blocks_completed, previous_.blocks_completed),
                  ull(s.pictures - first_.pictures), rate(s.pictures, previous_.pictures),
                  ull(s.fragments_missing - first_.fragments_missing),
                  ull(s.blocks_abandoned - first_.blocks_abandoned),
                  ull(s.dropped_fragments + s.blocks_dropped - first_.dropped_fragments -
                      first_.blocks_dropped));
    if (draw_) {
      std::fprintf(stderr, "\r%s", line);
      std::fflush(stderr);
      drawn_ = true;
    }
    text_ = line;
    previous_ = s;
    last_ = now;
  }
  void finish() {
    tick(true);
    if (drawn_) std::fputc('\n', stderr);
  }
  const std::string& text() const { return text_; }
  virazav_live_stats totals() const {
    virazav_live_stats s{};
    virazav_live_statistics(&s);
    s.datagrams -= first_.datagrams;
    s.blocks_completed -= first_.blocks_completed;
    s.video_blocks -= first_.video_blocks;
    s.audio_blocks -= first_.audio_blocks;
    s.pictures -= first_.pictures;
    s.fragments_missing -= first_.fragments_missing;
    s.blocks_abandoned -= first_.blocks_abandoned;
    return s;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

  bool draw_;
  bool drawn_ = false;
  Clock::time_point start_, last_;
  virazav_live_stats first_{}, previous_{};
  std::string text_;
};

int watch(Session& session, const GlobalOptions& global, const LiveSettings& st) {
  const int slot = session.slot();
  int sender[4] = {};
  if (!address_bytes(global.address, sender)) {
    return report_problem("live", "the recorder's address must be a dotted IPv4 address");
  }
  int rc = kora_udp_connect(st.group.c_str(), st.port, 0);
  if (rc != 0) return report_failure("live session", rc);
  if (st.display >= 0) {
    rc = kora_udp_dispmode(slot, st.display + 1, 0);
    if (rc < 0) {
      kora_udp_close();
      return report_failure("choose display channel " + std::to_string(st.display), rc);
    }
  }
  const bool sound = st.audio_channel >= 0;
  rc = kora_udp_count(slot, 0, 0, sound ? 1 : 0);
  if (rc < 0) {
    kora_udp_close();
    return report_failure("start the live stream (UDPup)", rc);
  }
  kora_udp_rx_start(sender[0], sender[1], sender[2], sender[3]);
  if (sound) {
    wave_play_ch(0, st.audio_channel);
    wave_play_ctrl(st.ring + 1);
  }

  StatusLine status(want_progress(false));
  Mosaic mosaic = Mosaic::live(st.set);
  std::vector<int> taken(16, 0);
  const auto start = std::chrono::steady_clock::now();
  auto last_mosaic = start;
  // Ctrl-C ends the watch; the stream is stopped and the session closed all the same.
  InterruptCatcher interrupt;
  while (!interrupt.interrupted()) {
    const auto now = std::chrono::steady_clock::now();
    if (st.seconds > 0 && std::chrono::duration<double>(now - start).count() >= st.seconds) break;
    for (int ch = 0; ch < 16; ++ch) {
      if ((st.channels & (1u << ch)) != 0 || ch == st.display) {
        if (kora_udp_rx(ch, st.set) == 1) ++taken[ch];
      }
    }
    if (st.mosaic && now - last_mosaic >= std::chrono::seconds(1)) {
      mosaic.write("mosaic.bmp");
      last_mosaic = now;
    }
    status.tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  // Always stop the stream and close, whatever ended the watch.
  const int down = kora_udp_count(slot, 1, 0, 0);
  if (sound) wave_play_ctrl(0);
  kora_udp_close();
  status.finish();
  if (st.mosaic) mosaic.write("mosaic.bmp");

  const virazav_live_stats total = status.totals();
  int channels_with_pictures = 0;
  for (int ch = 0; ch < 16; ++ch) channels_with_pictures += taken[ch] != 0 ? 1 : 0;
  const auto newest = [&](int ch) {
    return (st.out / "img" /
            ("serv" + std::to_string(st.set) + (ch < 10 ? "0" : "") + std::to_string(ch) + ".jpg"))
        .string();
  };
  if (global.json) {
    // The watch's summary is printed whatever follows; a failure still sets the status.
    JsonWriter json;
    json.begin_object().key("channels").begin_array();
    for (int ch = 0; ch < 16; ++ch) {
      if (taken[ch] == 0) continue;
      json.begin_object()
          .member("channel", ch)
          .member("pictures", taken[ch])
          .member("newest", newest(ch))
          .end_object();
    }
    json.end_array()
        .member("datagrams", static_cast<uint64_t>(total.datagrams))
        .member("video_blocks", static_cast<uint64_t>(total.video_blocks))
        .member("audio_blocks", static_cast<uint64_t>(total.audio_blocks))
        .member("fragments_missing", static_cast<uint64_t>(total.fragments_missing))
        .member("blocks_abandoned", static_cast<uint64_t>(total.blocks_abandoned))
        .key("mosaic");
    if (st.mosaic) {
      json.value((st.out / "mosaic.bmp").string());
    } else {
      json.null();
    }
    json.key("sound");
    if (sound && !st.wav.empty()) {
      json.value(st.wav);
    } else {
      json.null();
    }
    json.end_object().print();
  }
  for (int ch = 0; ch < 16 && !global.json; ++ch) {
    if (taken[ch] == 0) continue;
    std::printf("channel %2d: %d pictures, newest in %s\n", ch, taken[ch], newest(ch).c_str());
  }
  if (!global.json)
    std::printf(
        "%llu datagrams, %llu video and %llu audio blocks, %llu fragments lost in %llu "
        "blocks\n",
        static_cast<unsigned long long>(total.datagrams),
        static_cast<unsigned long long>(total.video_blocks),
        static_cast<unsigned long long>(total.audio_blocks),
        static_cast<unsigned long long>(total.fragments_missing),
        static_cast<unsigned long long>(total.blocks_abandoned));
  if (st.mosaic && !global.json) {
    std::printf("mosaic: %s\n", (st.out / "mosaic.bmp").string().c_str());
  }
  if (sound && !st.wav.empty() && !global.json) std::printf("sound: %s\n", st.wav.c_str());
  if (down < 0) return report_failure("stop the live stream (UDPdown)", down);
  if (channels_with_pictures == 0) {
    return report_problem("live", "no picture arrived (is the recorder sending to port " +
                                      std::to_string(st.port) + "?)");
  }
  return kExitOk;
}

}  // namespace

int run_live(const Invocation& inv) {
  int status = kExitOk;
  if (!expect_positional(inv, 0, 0, &status)) return status;
  LiveSettings st;
  const Arguments& a = inv.args;
  if (const std::string* v = a.value("for")) {
    int64_t s = 0;
    if (!parse_number(*v, 1, 86400, &s)) return usage(inv, "--for needs seconds 1..86400");
    st.seconds = static_cast<double>(s);
  }
  if (const std::string* v = a.value("channels")) {
    if (!parse_channel_mask(*v, &st.channels)) {
      return usage(inv, "--channels needs 'all' or channels 0..15 like 0,1,5");
    }
  }
  int64_t n = 0;
  if (const std::string* v = a.value("set")) {
    if (!parse_number(*v, 0, 1, &n)) return usage(inv, "--set needs 0 or 1");
    st.set = static_cast<int>(n);
  }
  if (const std::string* v = a.value("display")) {
    if (!parse_number(*v, 0, 15, &n)) return usage(inv, "--display needs a channel 0..15");
    st.display = static_cast<int>(n);
  }
  if (const std::string* v = a.value("audio")) {
    if (!parse_number(*v, 0, 3, &n)) return usage(inv, "--audio needs an audio channel 0..3");
    st.audio_channel = static_cast<int>(n);
  }
  if (const std::string* v = a.value("ring")) {
    if (!parse_number(*v, 0, 1, &n)) return usage(inv, "--ring needs 0 or 1");
    st.ring = static_cast<int>(n);
  }
  if (const std::string* v = a.value("port")) {
    if (!parse_number(*v, 1, 65534, &n)) return usage(inv, "--port needs a port 1..65534");
    st.port = static_cast<int>(n);
  }
  if (const std::string* v = a.value("group")) {
    // Groups are the addresses 224.0.0.0 .. 239.255.255.255.
    const int first = is_dotted_ipv4(*v) ? std::stoi(*v) : 0;
    if (first < 224 || first > 239) {
      return usage(
          inv, "--group needs a multicast address 224.0.0.0..239.255.255.255, not '" + *v + "'");
    }
    st.group = *v;
  }
  st.mosaic = a.has("mosaic");
  std::error_code ec;
  st.out = fs::absolute(a.value("out") ? *a.value("out") : std::string("live-out"), ec);
  if (const std::string* v = a.value("wav")) {
    st.wav = fs::absolute(*v, ec).string();
    if (st.audio_channel < 0) st.audio_channel = 0;
  }
  fs::create_directories(st.out / "img", ec);
  if (ec) return report_problem("create " + (st.out / "img").string(), ec.message());
  // The library writes its pictures and logs below the current folder.
  fs::current_path(st.out, ec);
  if (ec) return report_problem("change to " + st.out.string(), ec.message());
  if (!st.wav.empty()) setenv("VIRAZAV_AUDIO", ("wav:" + st.wav).c_str(), 1);

  const int init = decode_init();
  if (init != 0) return report_failure("decoder set-up", init < 0 ? init : VIRAZAV_ERR_NO_MEMORY);
  status = run_connected(inv.global, [&](Session& s) { return watch(s, inv.global, st); });
  decode_deinit();
  return status;
}

}  // namespace virazav::cli
