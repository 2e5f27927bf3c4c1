// The library's own player, until its decoding thread lands: it starts, takes
// no block and has no picture.
#include <cstring>

#include "player/player_library.h"

namespace virazav::player {

namespace {

int open(int, int, int, int) {
  return 0;
}
int add_ring(int ring, const uint8_t*, int, int, int) {
  return ring == 0 ? 1 : -1;
}
void sound_change(int) {}
void stop_play_thread() {}
int err_flag_status() {
  return 0;
}
void err_flag_reset() {}
void set_init_again() {}
int get_ch_bmp(int channel, uint8_t*, int* width, int* height) {
  if (width != nullptr) *width = 0;
  if (height != nullptr) *height = 0;
  return channel >= 1 && channel <= 4 ? 0 : -1;
}
void get_bmpdata(int* layout, int* first, int* second, uint8_t* pixels, void*) {
  if (layout != nullptr) *layout = 4;
  if (first != nullptr) *first = 1;
  if (second != nullptr) *second = 2;
  if (pixels != nullptr) std::memset(pixels, 0, 704 * 480 * 3);
}
int no_audio_mode_set(int) {
  return 0;
}
int set_viewer_mode(int, int) {
  return 0;
}

const PlayerLibrary kOwnPlayer = {
    open,           add_ring,   sound_change, stop_play_thread,  err_flag_status, err_flag_reset,
    set_init_again, get_ch_bmp, get_bmpdata,  no_audio_mode_set, set_viewer_mode};

}  // namespace

const PlayerLibrary& own_player() {
  return kOwnPlayer;
}

}  // namespace virazav::player
