// The demo tour: a simulated recorder started inside the program, and a list of steps
// that each use one family of the library's C interface against it and report one line.
// A new step is one function and one entry in tour_steps().
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "session.h"

namespace virazav::sim {
class Recorder;
}

namespace virazav::cli {

// What the steps share: where to write, whom to talk to, the open session and the list of
// files written so far (for the closing summary).
struct Tour {
  std::filesystem::path dir;  // absolute
  std::string address;
  std::string password;
  int slot = 0;
  bool draw_progress = false;
  sim::Recorder* recorder = nullptr;  // the recorder the tour runs against
  int live_port = 0;                  // where the recorder sends its live stream (0: none free)
  Session session;

  struct Output {
    std::filesystem::path path;
    std::string what;
  };
  std::vector<Output> outputs;

  // Records a file or folder the tour wrote, for the summary.
  void wrote(const std::filesystem::path& path, std::string what) {
    outputs.push_back({path, std::move(what)});
  }
};

// The outcome of a step: success and the line's text. `code` is the library's code of a
// failure (0 when the failure is not one, such as a mismatch).
struct StepResult {
  bool ok = true;
  std::string text;
  int code = 0;
};

// Returns a successful result with the text.
StepResult step_ok(std::string text);
// Returns a failed result for a library code: "<what>: <library text> (<code>)".
StepResult step_failed(const std::string& what, int code);
// Returns a failed result for something that is not a library code.
StepResult step_problem(std::string text);

struct TourStep {
  const char* name;
  StepResult (*run)(Tour& tour);
  bool required;  // when it fails, the steps after it are skipped
};

// Sends the library's sound to a WAV file (VIRAZAV_AUDIO=wav:<path>) and keeps its trace
// lines away (the bitmap writer traces one per picture) for its lifetime; puts both back
// afterwards.
class WavScope {
 public:
  explicit WavScope(const std::string& wav);
  ~WavScope();
  WavScope(const WavScope&) = delete;
  WavScope& operator=(const WavScope&) = delete;

 private:
  std::string previous_audio_;
  bool had_audio_ = false;
};

// Returns the path relative to the current folder when it lies below it (as a user would
// type it), else the path as it is.
std::string shown_path(const std::filesystem::path& path);

// The recorded-data steps (demo_media_steps.cc).
StepResult demo_download(Tour& tour);
StepResult demo_index(Tour& tour);
StepResult demo_split(Tour& tour);
StepResult demo_bitmaps(Tour& tour);
StepResult demo_play(Tour& tour);

// The disk step (demo_disk_step.cc): a disk image written, a stretch copied off, the copy
// played and a quad snapshot taken.
StepResult demo_disk(Tour& tour);

// The live step (demo_live_step.cc), and the port base it receives on: a free pair of UDP
// ports from 50000 on, or 0.
StepResult demo_live(Tour& tour);
int free_live_port();

// Returns the steps in the order the tour runs them.
std::span<const TourStep> tour_steps();

}  // namespace virazav::cli
