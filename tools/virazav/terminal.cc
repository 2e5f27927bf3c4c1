// Signals as a flag and the keyboard in raw mode.

#include "terminal.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace virazav::cli {

namespace {

constexpr int kCaught[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCaughtCount = sizeof kCaught / sizeof kCaught[0];

std::atomic<bool> g_interrupted{false};
struct sigaction g_previous[kCaughtCount];

extern "C" void on_interrupt(int) {
  g_interrupted.store(true);
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
  g_interrupted.store(false);
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < kCaughtCount; ++i) sigaction(kCaught[i], &sa, &g_previous[i]);
}

InterruptCatcher::~InterruptCatcher() {
  for (int i = 0; i < kCaughtCount; ++i) sigaction(kCaught[i], &g_previous[i], nullptr);
}

bool InterruptCatcher::interrupted() const {
  return g_interrupted.load();
}

RawKeyboard::RawKeyboard() {
  if (!stdin_is_terminal() || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
  termios raw = saved_;
  // Keys one at a time and unechoed; ISIG stays on so that Ctrl-C still
  // interrupts, and output processing stays on so that "\n" still starts a line.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

RawKeyboard::~RawKeyboard() {
  if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

std::string RawKeyboard::read_available() {
  std::string bytes;
  if (!active_) return bytes;
  char buffer[64];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

bool stdin_is_terminal() {
  return isatty(STDIN_FILENO) == 1;
}

}  // namespace virazav::cli
