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
    "\n"
    "Serves the recorder's command protocol on IPv4 address A: login ports 5001, 5003, ..., "
    "5031\n"
    "and command ports 5002, 5004, ..., 5032 (slots 0..15), until SIGINT or SIGTERM.\n"
    "Prints one line per connection and per command.\n"
    "\n"
    "  --address A     address to listen on (required), e.g. 127.0.0.2\n"
    "  --password P    login password (default: empty)\n"
    "  --info TEXT     information text of the greeting\n"
    "  --reboot-ms N   time after ReBoot during which connections are closed (default 300)\n";

bool parse_int(std::string_view text, int* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
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
    bool takes_value = a == "--address" || a == "--password" || a == "--info" || a == "--reboot-ms";
    if (!takes_value) {
      std::cerr << "virazav-recorder serve: unknown argument " << a << "\n" << kServeUsage;
      return 2;
    }
    if (i + 1 >= args.size()) {
      std::cerr << "virazav-recorder serve: " << a << " needs a value\n";
      return 2;
    }
    std::string_view v = args[++i];
    if (a == "--address") {
      options.address = std::string(v);
      have_address = true;
    } else if (a == "--password") {
      options.password = std::string(v);
    } else if (a == "--info") {
      options.info = std::string(v);
    } else if (!parse_int(v, &options.reboot_ms) || options.reboot_ms < 0) {
      std::cerr << "virazav-recorder serve: bad --reboot-ms " << v << "\n";
      return 2;
    }
  }
  if (!have_address) {
    std::cerr << "virazav-recorder serve: --address is required\n" << kServeUsage;
    return 2;
  }
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
               "       virazav-recorder <command> --help\n\ncommands:\n");
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
  Args args(argv + 2, argv + argc);
  for (const auto& c : kSubcommands) {
    if (c.name == name) return c.run(args);
  }
  std::fprintf(stderr, "virazav-recorder: unknown command %s\n", argv[1]);
  print_usage(stderr);
  return 2;
}
