#include "player/player_library.h"

#include <atomic>

namespace virazav::player {

namespace {
std::atomic<const PlayerLibrary*> g_library{nullptr};
}  // namespace

const PlayerLibrary& player_library() {
  const PlayerLibrary* library = g_library.load(std::memory_order_acquire);
  return library != nullptr ? *library : own_player();
}

void set_player_library(const PlayerLibrary* library) {
  g_library.store(library, std::memory_order_release);
}

}  // namespace virazav::player
