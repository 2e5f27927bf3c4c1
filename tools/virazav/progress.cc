// Drawing the progress bar on standard error.

#include "progress.h"

#include <unistd.h>

#include <cstdio>

#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string rate_text(double bytes, double seconds) {
  // Below a tenth of a millisecond the rate is noise rather than a measurement.
  if (seconds < 0.0001) return "-";
  return human_bytes(bytes / seconds) + "/s";
}

bool quiet_run = false;

}  // namespace

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

void set_quiet(bool quiet) {
  quiet_run = quiet;
}

bool quiet() {
  return quiet_run;
}

bool want_progress(bool asked) {
  return !quiet_run && (asked || stderr_is_terminal());
}

ProgressBar::ProgressBar(std::string label, bool draw)
    : label_(std::move(label)), draw_(draw), first_(Clock::now()), last_(first_) {}

void ProgressBar::on_progress(int64_t done, int64_t total, void* user) {
  static_cast<ProgressBar*>(user)->update(done, total);
}

void ProgressBar::update(int64_t done, int64_t total) {
  Clock::time_point now = Clock::now();
  started_ = true;
  last_ = now;
  done_ = done;
  total_ = total;
  if (!draw_) return;
  if (drawn_ && done < total && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  draw_line();
}

void ProgressBar::draw_line() {
  double fraction = total_ > 0 ? static_cast<double>(done_) / static_cast<double>(total_) : 1.0;
  if (fraction > 1.0) fraction = 1.0;
  if (fraction < 0.0) fraction = 0.0;
  int filled = static_cast<int>(fraction * kBarWidth);
  char bar[kBarWidth + 1];
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::string amounts =
      human_bytes(static_cast<double>(done_)) + " / " + human_bytes(static_cast<double>(total_));
  // Fixed-width fields overwrite the previous drawing completely, so no terminal control
  // sequence is needed and the output stays readable in a log file with --progress.
  std::fprintf(stderr, "\r%s [%s] %-21s %3d%%  %-12s", label_.c_str(), bar, amounts.c_str(),
               static_cast<int>(fraction * 100.0),
               rate_text(static_cast<double>(done_), seconds()).c_str());
  std::fflush(stderr);
  drawn_ = true;
  drawn_done_ = done_;
}

double ProgressBar::seconds() const {
  return std::chrono::duration<double>(last_ - first_).count();
}

std::string ProgressBar::summary() const {
  char secs[32];
  double s = seconds();
  if (s < 0.1) {
    std::snprintf(secs, sizeof secs, "%.1f ms", s * 1000.0);
  } else {
    std::snprintf(secs, sizeof secs, "%.2f s", s);
  }
  return human_bytes(static_cast<double>(done_)) + " (" + std::to_string(done_) + " bytes) in " +
         secs + ", " + rate_text(static_cast<double>(done_), seconds());
}

void ProgressBar::finish() {
  if (!started_) return;
  if (draw_) {
    if (!drawn_ || drawn_done_ != done_) draw_line();
    std::fputc('\n', stderr);
  } else if (!quiet_run) {
    std::fprintf(stderr, "%s: %s\n", label_.c_str(), summary().c_str());
  }
}

ProgressHandlerScope::ProgressHandlerScope(ProgressBar* bar) {
  virazav_set_progress_handler(&ProgressBar::on_progress, bar);
}

ProgressHandlerScope::~ProgressHandlerScope() {
  virazav_set_progress_handler(nullptr, nullptr);
}

}  // namespace virazav::cli
