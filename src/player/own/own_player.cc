// The library's own player behind the eleven player operations: the table,
// the viewer modes and the state they share. Blocks go through the ring to
// the decoding thread (decode_thread.cc); pictures come back from the channel
// views (channel_view.cc, composite.cc). docs/player.md describes the design.
#include "player/own/player_state.h"
#include "player/player_library.h"

namespace virazav::player {
namespace own {

PlayerState& player_state() {
  static PlayerState s;
  return s;
}

namespace {

// Viewer modes: the first argument of Zel_set_viewer_mode1.
constexpr int kViewQuad = 0;
constexpr int kViewSingleLast = 4;  // 1..4: one picture of that channel
constexpr int kViewTwo = 5;
constexpr int kViewGroup = 6;
constexpr int kViewSound = 7;
constexpr int kViewBadMode = -1;
constexpr int kViewBadArgument = -2;

// Zel_play_open1: a, b, c and d are not used. Starts the player, or starts it
// over with every setting back to its first value.
int open(int, int, int, int) {
  PlayerState& s = player_state();
  stop_thread();
  s.ring.set_open(false);
  s.sound.close();
  s.views.clear();
  s.viewer.reset();
  s.counters.error_flag.store(0);
  s.counters.pictures.store(0);
  s.counters.sound_packets.store(0);
  s.counters.blocks.store(0);
  s.counters.key_requests.fetch_add(1);
  s.ring.set_open(true);
  start_thread();
  return 0;
}

int add_ring(int ring, const uint8_t* data, int length, int special, int speed) {
  if (ring != 0) return kOfferBad;
  return player_state().ring.offer(data, length, special, speed);
}

void sound_change(int value) {
  if (value == 1) player_state().sound.drop();
}

void stop_play_thread() {
  PlayerState& s = player_state();
  s.ring.set_open(false);
  stop_thread();
  s.sound.close();
}

int err_flag_status() {
  return player_state().counters.error_flag.load() != 0 ? 1 : 0;
}

void err_flag_reset() {
  player_state().counters.error_flag.store(0);
}

void set_init_again() {
  player_state().counters.key_requests.fetch_add(1);
}

int get_ch_bmp(int channel, uint8_t* buffer, int* width, int* height) {
  return player_state().views.copy_picture(channel, buffer, width, height);
}

void get_bmpdata(int* layout, int* first, int* second, uint8_t* pixels, void*) {
  PlayerState& s = player_state();
  const Arrangement a = s.viewer.arrangement();
  s.views.compose(a.layout, a.first, a.second, pixels);
  if (layout != nullptr) *layout = a.layout;
  if (first != nullptr) *first = a.first;
  if (second != nullptr) *second = a.second;
}

int no_audio_mode_set(int value) {
  PlayerState& s = player_state();
  const int before = s.viewer.muted.exchange(value != 0 ? 1 : 0);
  if (value != 0) s.sound.drop();
  return before;
}

int set_viewer_mode(int a, int b) {
  PlayerState& s = player_state();
  if (a == kViewQuad) {
    s.viewer.arrange(Arrangement{4, 1, 2});
  } else if (a >= 1 && a <= kViewSingleLast) {
    s.viewer.arrange(Arrangement{1, a, a});
  } else if (a == kViewTwo) {
    if (b < 0 || b > 15) return kViewBadArgument;
    s.viewer.arrange(Arrangement{2, 1 + (b & 3), 1 + ((b >> 2) & 3)});
  } else if (a == kViewGroup) {
    if (b < 0 || b >= kChannelGroups) return kViewBadArgument;
    if (s.viewer.group.exchange(b) != b) {
      // Other cameras now: their pictures start black, at their next key picture.
      s.views.clear();
      s.counters.key_requests.fetch_add(1);
    }
  } else if (a == kViewSound) {
    if (b < kNoSoundChannel || b > kPlayerChannels) return kViewBadArgument;
    if (s.viewer.sound_channel.exchange(b) != b) s.sound.drop();
  } else {
    return kViewBadMode;
  }
  return 0;
}

const PlayerLibrary kOwnPlayer = {
    open,           add_ring,   sound_change, stop_play_thread,  err_flag_status, err_flag_reset,
    set_init_again, get_ch_bmp, get_bmpdata,  no_audio_mode_set, set_viewer_mode};

}  // namespace
}  // namespace own

const PlayerLibrary& own_player() {
  return own::kOwnPlayer;
}

}  // namespace virazav::player
