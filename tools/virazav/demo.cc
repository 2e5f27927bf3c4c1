// The demo command: starts the built-in simulated recorder, runs the tour's steps against
// it one line each, and sums up what was written where.

#include "demo.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "progress.h"
#include "recorder.h"
#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace fs = std::filesystem;

namespace {

// Addresses tried in turn when --address is not given: another recorder or a test may
// hold the ports on the first ones.
constexpr const char* kCandidateAddresses[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4",
                                               "127.0.0.5"};

// The recorder's own account of connections and commands, one line each, written from its
// threads (one call at a time) for the reader who wants to see the wire side.
struct EventFile {
  std::FILE* file = nullptr;
  ~EventFile() {
    if (file != nullptr) std::fclose(file);
  }
};

// Starts a recorder on the first address that works. On success returns it and stores the
// address; on failure returns null and stores the last reason in *error.
std::unique_ptr<sim::Recorder> start_recorder(const GlobalOptions& global, EventFile* events,
                                              int live_port, std::string* address,
                                              std::string* error) {
  std::vector<std::string> candidates;
  if (global.address_given) {
    candidates.push_back(global.address);
  } else {
    candidates.assign(std::begin(kCandidateAddresses), std::end(kCandidateAddresses));
  }
  for (const std::string& candidate : candidates) {
    sim::RecorderOptions options;
    options.address = candidate;
    options.live.port_base = live_port;
    options.password = global.password;
    if (events->file != nullptr) {
      std::FILE* f = events->file;
      options.on_event = [f](const std::string& line) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fflush(f);
      };
    }
    auto recorder = std::make_unique<sim::Recorder>(std::move(options));
    std::string reason;
    if (recorder->start(&reason)) {
      *address = candidate;
      return recorder;
    }
    *error = candidate + ": " + reason;
  }
  return nullptr;
}

void print_summary(const Tour& tour, size_t failed, size_t skipped, size_t total) {
  std::printf("\nWritten:\n");
  for (const Tour::Output& o : tour.outputs) {
    std::printf("  %-44s %s\n", shown_path(o.path).c_str(), o.what.c_str());
  }
  if (failed == 0) {
    std::printf("\nAll %zu steps passed.\n", total);
  } else {
    std::printf("\n%zu of %zu steps failed", failed, total);
    if (skipped > 0) std::printf(", %zu skipped", skipped);
    std::printf(".\n");
  }
}

}  // namespace

int run_demo(const Invocation& inv) {
  int status = kExitOk;
  if (!expect_positional(inv, 0, 0, &status)) return status;
  if (inv.global.log_drive != 0) {
    return usage(inv, "the demo keeps its log on drive C in DIR/drive-c; drop --log-drive");
  }
  const std::string* out = inv.args.value("out");
  fs::path dir = out != nullptr ? fs::path(*out) : fs::path("demo-out");
  if (dir.empty()) return usage(inv, "--out needs a folder name");
  std::error_code ec;
  dir = fs::absolute(dir, ec);
  if (!ec) fs::create_directories(dir, ec);
  if (ec) return report_problem("create " + dir.string(), ec.message());

  EventFile events;
  fs::path events_path = dir / "recorder-events.txt";
  events.file = std::fopen(events_path.c_str(), "w");
  if (events.file == nullptr)
    return report_problem("create " + events_path.string(), "cannot open");

  std::string address, error;
  const int live_port = free_live_port();
  std::unique_ptr<sim::Recorder> recorder =
      start_recorder(inv.global, &events, live_port, &address, &error);
  if (recorder == nullptr) return report_problem("start the built-in recorder", error);

  Tour tour;
  tour.dir = dir;
  tour.address = address;
  tour.password = inv.global.password;
  tour.slot = inv.global.slot;
  tour.draw_progress = want_progress(inv.args.has("progress"));
  tour.recorder = recorder.get();
  tour.live_port = live_port;
  tour.wrote(events_path, "the recorder's own event log");

  std::printf("virazav demo: library %s, built-in recorder on %s, output in %s\n\n",
              virazav_version(), address.c_str(), dir.c_str());
  std::fflush(stdout);

  std::span<const TourStep> steps = tour_steps();
  size_t failed = 0;
  size_t skipped = 0;
  bool skip_rest = false;
  for (size_t i = 0; i < steps.size(); ++i) {
    const TourStep& step = steps[i];
    if (skip_rest) {
      std::printf("%2zu  %-13s skip  (an earlier step failed)\n", i + 1, step.name);
      ++skipped;
      continue;
    }
    StepResult r = step.run(tour);
    std::printf("%2zu  %-13s %-4s  %s\n", i + 1, step.name, r.ok ? "ok" : "FAIL", r.text.c_str());
    std::fflush(stdout);
    if (!r.ok) {
      ++failed;
      std::fprintf(stderr, "virazav: demo step '%s': %s\n", step.name, r.text.c_str());
      if (step.required) skip_rest = true;
    }
  }
  tour.session.close();
  recorder->stop();
  recorder.reset();

  print_summary(tour, failed, skipped, steps.size());
  return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace virazav::cli
