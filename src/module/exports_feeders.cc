// The disk and file player's exports: the player's opening and end, the two
// feeders and their play controls, the time search in a file, the single-file
// view, snapshots and the decoder status; they only forward to the player subsystem.
#include "player/feeders.h"
#include "player/play_mode.h"
#include "player/snapshot.h"
#include "virazav.h"

using namespace virazav;

extern "C" {

int Zel_play_open(int a, int b, int c, int d) noexcept {
  (void)a;  // not passed on: the player is always opened with 0
  return player::zel_play_open(b, c, d);
}
int play_end(void) noexcept {
  return player::play_end();
}

int hdd_read_start(void) noexcept {
  return player::hdd_read_start();
}
int hdd_read_stop(void) noexcept {
  return player::hdd_read_stop();
}
int hdd_play_start(void) noexcept {
  return player::set_play_control(&player::disk_mode_word(), player::kModePlay, 0);
}
int hdd_play_stop(void) noexcept {
  return player::set_play_control(&player::disk_mode_word(), player::kModeStop, 0);
}
int hdd_play_forward(int speed) noexcept {
  return player::set_play_control(&player::disk_mode_word(), player::kModeForward, speed);
}
int hdd_play_back(int speed) noexcept {
  return player::set_play_control(&player::disk_mode_word(), player::kModeBack, speed);
}
int hdd_one_play(void) noexcept {
  return player::set_play_control(&player::disk_mode_word(), player::kModeOneForward, 0);
}
int hdd_one_back(void) noexcept {
  return player::set_play_control(&player::disk_mode_word(), player::kModeOneBack, 0);
}

int playfile(const char* data_path, const char* index_path, int reserved) noexcept {
  (void)reserved;
  return player::playfile(data_path, index_path);
}
int file_read_stop(void) noexcept {
  return player::file_read_stop();
}
int file_play_start(void) noexcept {
  return player::set_play_control(&player::file_mode_word(), player::kModePlay, 0);
}
int file_play_stop(void) noexcept {
  return player::set_play_control(&player::file_mode_word(), player::kModeStop, 0);
}
int file_play_forward(int speed) noexcept {
  return player::set_play_control(&player::file_mode_word(), player::kModeForward, speed);
}
int file_play_back(int speed) noexcept {
  return player::set_play_control(&player::file_mode_word(), player::kModeBack, speed);
}
int file_one_play(void) noexcept {
  return player::set_play_control(&player::file_mode_word(), player::kModeOneForward, 0);
}
int file_one_back(void) noexcept {
  return player::set_play_control(&player::file_mode_word(), player::kModeOneBack, 0);
}
int file_search(int t) noexcept {
  return player::file_search(t);
}
int file_read_start_end_sec(uint32_t* start, uint32_t* end) noexcept {
  return player::file_read_start_end_sec(start, end);
}
int one_farme_view(const char* path, int reserved) noexcept {
  (void)reserved;
  return player::one_farme_view(path);
}
int playtest(void) noexcept {
  return player::playtest();
}

int make_bmp(int* layout, int* first, int* second, void* pass, int* status) noexcept {
  return player::make_bmp(layout, first, second, pass, status);
}
int make_bmp_one(int* layout, int* first, int* second, void* pass) noexcept {
  return player::make_bmp_one(layout, first, second, pass);
}
int marlotest(void) noexcept {
  return player::marlotest();
}
int set_make_bmp_mode(int mode) noexcept {
  return player::set_make_bmp_mode(mode);
}
int get_make_bmp_mode(void) noexcept {
  return player::get_make_bmp_mode();
}
int get_bmp(int channel, unsigned char* buffer, int* width, int* height) noexcept {
  return player::get_bmp(channel, buffer, width, height);
}
int get_dec_sts(void) noexcept {
  return player::get_dec_sts();
}
int set_init_dec(void) noexcept {
  return player::set_init_dec();
}
int clear_dec_err(void) noexcept {
  return player::clear_dec_err();
}
int audio_set(int value) noexcept {
  return player::audio_set(value);
}
int Zel_set_viewer_mode(int a, int b) noexcept {
  return player::zel_set_viewer_mode(a, b);
}

}  // extern "C"
