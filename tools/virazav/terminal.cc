// Signals as a flag.

#include "terminal.h"

#include <signal.h>

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

}  // namespace virazav::cli
