// virazav-recorder: runs the simulated recorder from the command line. Each job is a
// subcommand ("serve" for now); the table below lists them for dispatch and help.

#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "disk/disk_image.h"
#include "recorder.h"

namespace {

using Args = std::vector<std::string_view>;

struct Subcommand {
  std::string_view name;
  std::string_view summary;
  int (*run)(const Args& args);
};

constexpr std::string_view kServeUsage =
    "usage: virazav-recorder serve --address A [--password P] [--info TEXT] [--reboot-ms N]\n"
    "                              [--live-port P] [--live-group ADDR] [--live-stride N]\n"
    "                              [--live-fps N] [--live-size WxH] [--live-channels MASK]\n"
    "                              [--live-audio MASK] [--live-burst] [--live-pace N]\n"
    "                              [--live-faults LIST] [--record-start TIME]\n"
    "                              [--record-seconds N] [--record-channels MASK]\n"
    "\n"
    "Serves the recorder's command protocol on IPv4 address A: login ports 5001, 5003, ..., "
    "5031\n"
    "and command ports 5002, 5004, ..., 5032 (slots 0..15), until SIGINT or SIGTERM.\n"
    "UDPup on a command connection starts the live stream to that connection's peer (or to\n"
    "the group), sent from A; UDPdown stops it. Prints one line per connection and per\n"
    "command, and one when the live stream starts or stops.\n"
    "Before it listens it prints the recorded range of each channel, which downloads\n"
    "serve and the channel's play list (GetPlayList, list N for channel N) names.\n"
    "\n"
    "  --address A          address to listen on (required), e.g. 127.0.0.2\n"
    "  --password P         login password (default: empty)\n"
    "  --info TEXT          information text of the greeting\n"
    "  --reboot-ms N        time after ReBoot during which connections are closed (default 300)\n"
    "  --live-port P        live port base: set 0 and ring 0 to P, set 1 and ring 1 to P+1\n"
    "                       (default 50000)\n"
    "  --live-group ADDR    send the live stream to this multicast group\n"
    "  --live-stride N      fragment payload bytes, 1..65499 (default 1392)\n"
    "  --live-fps N         pictures a second, 1..60 (default 10)\n"
    "  --live-size WxH      picture size (default 352x240)\n"
    "  --live-channels M    video channel mask, hexadecimal (default FFFF)\n"
    "  --live-audio M       audio channel mask 0..F, hexadecimal (default F; 0: no audio)\n"
    "  --live-burst         send as fast as the socket takes it, not in real time\n"
    "  --live-pace N        send at most N datagrams a second\n"
    "  --live-faults LIST   live faults: name:type:N[:param] entries separated by ','\n"
    "                       name reorder, duplicate, drop, late, foreign, stride, length,\n"
    "                       short, stream2, type7; type v0, v1, a0, a1 or any; N: every Nth\n"
    "                       block of that type (see docs/formats/live-stream.md)\n"
    "  --record-start TIME  first recorded second, YYYY-MM-DDThh:mm:ss (default\n"
    "                       2024-05-01T10:00:00)\n"
    "  --record-seconds N   seconds recorded, 1..86400 (default 60)\n"
    "  --record-channels M  recorded video channels, hexadecimal mask (default 3); audio is\n"
    "                       recorded on those of channels 0..3\n";

// Reads "YYYY-MM-DDThh:mm:ss" (a blank taken for the T) with the year in 2000..2079, the
// years a download request can name.
bool parse_record_start(std::string_view text, virazav::sim::CivilTime* out) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':') {
    return false;
  }
  int v[6] = {};
  const size_t at[6] = {0, 5, 8, 11, 14, 17};
  const size_t width[6] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i) {
    for (size_t k = at[i]; k < at[i] + width[i]; ++k) {
      if (text[k] < '0' || text[k] > '9') return false;
      v[i] = v[i] * 10 + (text[k] - '0');
    }
  }
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (v[0] < 2000 || v[0] > 2079 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > kDays[v[1] - 1] ||
      (v[1] == 2 && v[2] == 29 && v[0] % 4 != 0) || v[3] > 23 || v[4] > 59 || v[5] > 59) {
    return false;
  }
  *out = virazav::sim::CivilTime{v[0], v[1], v[2], v[3], v[4], v[5]};
  return true;
}

bool parse_int(std::string_view text, int* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parse_hex(std::string_view text, uint32_t* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out, 16);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// Takes one live option's value into the options; returns false with a message when bad.
bool take_live_option(std::string_view name, std::string_view v, virazav::sim::LiveOptions* live,
                      std::string* error) {
  int n = 0;
  uint32_t mask = 0;
  auto bad = [&](std::string_view why = {}) {
    *error = "bad " + std::string(name) + " " + std::string(v) + std::string(why);
    return false;
  };
  if (name == "--live-port") {
    if (!parse_int(v, &n) || n < 1 || n > 65534) return bad();
    live->port_base = n;
  } else if (name == "--live-group") {
    live->group = std::string(v);
  } else if (name == "--live-stride") {
    if (!parse_int(v, &n) || n < 1 || n > static_cast<int>(virazav::sim::kLiveMaxStride)) {
      return bad();
    }
    live->stride = static_cast<uint32_t>(n);
  } else if (name == "--live-fps") {
    if (!parse_int(v, &n) || n < 1 || n > 60) return bad();
    live->video.fps = n;
  } else if (name == "--live-size") {
    size_t x = v.find('x');
    int w = 0, h = 0;
    if (x == std::string_view::npos || !parse_int(v.substr(0, x), &w) ||
        !parse_int(v.substr(x + 1), &h) || w < 16 || h < 16 || w > 1920 || h > 1088) {
      return bad();
    }
    live->video.width = w;
    live->video.height = h;
  } else if (name == "--live-channels") {
    if (!parse_hex(v, &mask) || mask > 0xFFFF) return bad();
    live->channel_mask = mask;
  } else if (name == "--live-audio") {
    if (!parse_hex(v, &mask) || mask > 0xF) return bad();
    live->audio_mask = mask;
  } else if (name == "--live-pace") {
    if (!parse_int(v, &n) || n < 0) return bad();
    live->pace = n;
  } else if (name == "--live-faults") {
    std::string why;
    if (!virazav::sim::parse_live_faults(v, &live->faults, &why)) {
      return bad(": " + why);
    }
  } else {
    *error = "unknown argument " + std::string(name);
    return false;
  }
  return true;
}

int run_serve(const Args& args) {
  virazav::sim::RecorderOptions options;
  bool have_address = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view a = args[i];
    if (a == "--help" || a == "-h") {
      std::cout << kServeUsage;
      return 0;
    }
    if (a == "--live-burst") {
      options.live.burst = true;
      continue;
    }
    bool live = a.starts_with("--live-");
    bool takes_value = live || a == "--address" || a == "--password" || a == "--info" ||
                       a == "--reboot-ms" || a.starts_with("--record-");
    if (!takes_value) {
      std::cerr << "virazav-recorder serve: unknown argument " << a << "\n" << kServeUsage;
      return 2;
    }
    if (i + 1 >= args.size()) {
      std::cerr << "virazav-recorder serve: " << a << " needs a value\n";
      return 2;
    }
    std::string_view v = args[++i];
    std::string error;
    if (live) {
      if (!take_live_option(a, v, &options.live, &error)) {
        std::cerr << "virazav-recorder serve: " << error << "\n";
        return 2;
      }
    } else if (a == "--address") {
      options.address = std::string(v);
      have_address = true;
    } else if (a == "--password") {
      options.password = std::string(v);
    } else if (a == "--info") {
      options.info = std::string(v);
    } else if (a == "--record-start") {
      if (!parse_record_start(v, &options.recording.start)) {
        std::cerr << "virazav-recorder serve: bad --record-start " << v
                  << " (YYYY-MM-DDThh:mm:ss, 2000..2079)\n";
        return 2;
      }
    } else if (a == "--record-seconds") {
      if (!parse_int(v, &options.recording.seconds) || options.recording.seconds < 1 ||
          options.recording.seconds > 86400) {
        std::cerr << "virazav-recorder serve: bad --record-seconds " << v << "\n";
        return 2;
      }
    } else if (a == "--record-channels") {
      uint32_t mask = 0;
      if (!parse_hex(v, &mask) || mask == 0 || mask > 0xFFFF) {
        std::cerr << "virazav-recorder serve: bad --record-channels " << v
                  << " (hexadecimal 1..FFFF)\n";
        return 2;
      }
      options.recording.video_channels = mask;
      options.recording.audio_channels = mask & 0xF;
    } else if (a.starts_with("--record-")) {
      std::cerr << "virazav-recorder serve: unknown argument " << a << "\n" << kServeUsage;
      return 2;
    } else if (!parse_int(v, &options.reboot_ms) || options.reboot_ms < 0) {
      std::cerr << "virazav-recorder serve: bad --reboot-ms " << v << "\n";
      return 2;
    }
  }
  if (!have_address) {
    std::cerr << "virazav-recorder serve: --address is required\n" << kServeUsage;
    return 2;
  }
  // What this recorder holds, before anything else: a script or a person learns which
  // stretches it can ask for.
  std::printf("recorded:\n");
  for (const std::string& line : virazav::sim::Recorder::recorded_ranges(options.recording)) {
    std::printf("  %s\n", line.c_str());
  }
  std::fflush(stdout);
  options.on_event = [](const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  };

  // The signals are taken by sigwait below; the recorder's threads inherit the mask and
  // never see them.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  virazav::sim::Recorder recorder(std::move(options));
  std::string error;
  if (!recorder.start(&error)) {
    std::cerr << "virazav-recorder serve: " << error << "\n";
    return 1;
  }
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  std::printf("signal %d, stopping\n", sig);
  recorder.stop();
  return 0;
}

int run_disk_image(const Args& args) {
  return virazav::sim::run_disk_image_command(std::vector<std::string>(args.begin(), args.end()));
}

const Subcommand kSubcommands[] = {
    {"serve", "serve the recorder's command protocol on one address", run_serve},
    {"disk-image", "write a sparse image of the recorder's disk", run_disk_image},
};

void print_usage(std::FILE* to) {
  std::fprintf(to,
               "usage: virazav-recorder <command> [options]\n"
               "       virazav-recorder <command> --help\n"
               "       virazav-recorder --version\n\ncommands:\n");
  for (const auto& c : kSubcommands) {
    std::fprintf(to, "  %-10.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                 static_cast<int>(c.summary.size()), c.summary.data());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    print_usage(stderr);
    return 2;
  }
  std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    print_usage(stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("virazav-recorder %s\n", VIRAZAV_RECORDER_VERSION);
    return 0;
  }
  Args args(argv + 2, argv + argc);
  for (const auto& c : kSubcommands) {
    if (c.name == name) return c.run(args);
  }
  std::fprintf(stderr, "virazav-recorder: unknown command %s\n", argv[1]);
  print_usage(stderr);
  return 2;
}
