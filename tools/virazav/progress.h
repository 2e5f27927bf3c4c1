// The progress bar of long transfers: fed by the library's progress handler, drawn on
// standard error (bytes done and in all, percent, rate) or summed up in one line when
// nobody watches a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace virazav::cli {

// Returns true when standard error is a terminal.
bool stderr_is_terminal();
// Silences progress bars, their summary lines and notes for the whole run (--quiet);
// results, warnings and failures still show.
void set_quiet(bool quiet);
bool quiet();
// Whether a command draws its progress: with --progress or on a terminal, never quiet.
bool want_progress(bool asked);

class ProgressBar {
 public:
  // `label` heads the bar and the summary line. With `draw` false nothing is drawn while
  // the transfer runs. The transfer's clock starts here.
  ProgressBar(std::string label, bool draw);

  // The library's progress callback; `user` is the ProgressBar. Redraws at most ten times
  // a second, and always for the last step.
  static void on_progress(int64_t done, int64_t total, void* user);

  // Ends the transfer's display: completes the drawn bar with a newline, or prints the
  // summary line when nothing was drawn. Prints nothing when no progress was reported
  // (the transfer never started).
  void finish();

  int64_t done() const { return done_; }
  int64_t total() const { return total_; }
  // Returns the seconds from the bar's creation (just before the transfer starts) to the
  // last report: loopback uploads may fit the socket buffer whole, so only the time of the
  // whole call makes a meaningful rate.
  double seconds() const;
  // Returns the text "3.0 MiB in 0.21 s, 14.2 MiB/s" for the reports so far.
  std::string summary() const;

 private:
  using Clock = std::chrono::steady_clock;

  void update(int64_t done, int64_t total);
  void draw_line();

  std::string label_;
  bool draw_;
  bool started_ = false;
  bool drawn_ = false;
  int64_t drawn_done_ = 0;  // the done count of the last drawing
  int64_t done_ = 0;
  int64_t total_ = 0;
  Clock::time_point first_;
  Clock::time_point last_;
  Clock::time_point last_draw_{};
};

// Installs a bar as the library's progress handler for its lifetime and removes it again.
class ProgressHandlerScope {
 public:
  explicit ProgressHandlerScope(ProgressBar* bar);
  ~ProgressHandlerScope();
  ProgressHandlerScope(const ProgressHandlerScope&) = delete;
  ProgressHandlerScope& operator=(const ProgressHandlerScope&) = delete;
};

}  // namespace virazav::cli
