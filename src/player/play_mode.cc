// The feeders' shared words and the "PLAYMODE" lock around their writes.
#include "player/play_mode.h"

#include <mutex>

namespace virazav::player {
namespace {

struct PlayModeState {
  std::atomic<int32_t> disk_mode{kModeStop};
  std::atomic<int32_t> file_mode{kModeStop};
  std::atomic<int32_t> speed{0};
};

PlayModeState g_modes;

// Writes one word while holding the named lock: the lock orders the writes of
// every thread and process that drives a feeder.
void locked_store(std::atomic<int32_t>& word, int32_t value) {
  std::lock_guard<platform::NamedMutex> hold(playmode_mutex());
  word.store(value);
}

}  // namespace

platform::NamedMutex& playmode_mutex() {
  static platform::NamedMutex lock("PLAYMODE");
  return lock;
}

int32_t disk_mode() {
  return g_modes.disk_mode.load();
}
void set_disk_mode(int32_t mode) {
  locked_store(g_modes.disk_mode, mode);
}

int32_t play_speed() {
  return g_modes.speed.load();
}
void set_mode_and_speed(std::atomic<int32_t>* mode_word, int32_t mode, int32_t speed) {
  std::lock_guard<platform::NamedMutex> hold(playmode_mutex());
  if (mode_word != nullptr) mode_word->store(mode);
  g_modes.speed.store(speed);
}

std::atomic<int32_t>& disk_mode_word() {
  return g_modes.disk_mode;
}

int32_t file_mode() {
  return g_modes.file_mode.load();
}
void set_file_mode(int32_t mode) {
  locked_store(g_modes.file_mode, mode);
}
std::atomic<int32_t>& file_mode_word() {
  return g_modes.file_mode;
}

int set_play_control(std::atomic<int32_t>* mode_word, int32_t mode, int32_t speed) {
  if (mode == kModeForward || mode == kModeBack) {
    set_mode_and_speed(mode_word, mode, speed);
  } else if (mode_word != nullptr) {
    locked_store(*mode_word, mode);
  }
  return 0;
}

void store_under_playmode(std::atomic<int32_t>* word, int32_t value) {
  if (word != nullptr) locked_store(*word, value);
}

}  // namespace virazav::player
