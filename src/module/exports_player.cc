// The disk player's exports that work on the record index alone; they only
// forward to the player subsystem.
#include "player/disk_index.h"
#include "virazav.h"

using namespace virazav;

extern "C" {

int search_play(int t) noexcept {
  return player::search_play(t);
}
int read_start_end_sec(uint32_t* start, uint32_t* end) noexcept {
  return player::read_start_end_sec(start, end);
}
int get_rec_list(uint16_t* count, uint16_t* oldest) noexcept {
  return player::get_rec_list(count, oldest);
}
int get_list_start_end_sec(int index, uint32_t* start, uint32_t* end, uint32_t* kind) noexcept {
  return player::get_list_start_end_sec(index, start, end, kind);
}
int get_alarm_list(uint8_t* count, uint8_t* oldest) noexcept {
  return player::get_alarm_list(count, oldest);
}
int get_alarm_info(int index, uint32_t* start, uint32_t* end) noexcept {
  return player::get_alarm_info(index, start, end);
}
int skip_foward(void) noexcept {
  return player::skip_forward();
}
int skip_back(void) noexcept {
  return player::skip_back();
}

}  // extern "C"
