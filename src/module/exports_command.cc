// The exports of the command client and the log: argument checks live in the
// command subsystem, these only forward.
#include "command/commands.h"
#include "command/connection.h"
#include "diag/log.h"
#include "virazav.h"

using namespace virazav;

extern "C" {

int kora_log_sw(int drive) noexcept {
  return diag::set_log_drive(drive);
}

int kora_connect(int slot, const char* address, const char* password,
                 unsigned char* info) noexcept {
  return command::connect_slot(slot, address, password, info);
}
int kora_unconnect(int slot, int, int, int) noexcept {
  return command::unconnect_slot(slot);
}

int kora_get_time(int slot, char* date, char* time) noexcept {
  return command::get_time(slot, date, time);
}
int kora_set_time(int slot, const char* date, const char* time) noexcept {
  return command::set_time(slot, date, time);
}
int kora_cam_swget(int slot, int item) noexcept {
  return command::cam_sw_get(slot, item);
}
int kora_cam_swset(int slot, int a, int b) noexcept {
  return command::cam_sw_set(slot, a, b);
}
int kora_hd_swget(int slot, int item) noexcept {
  return command::hd_sw_get(slot, item);
}
int kora_hd_swset(int slot, int a, int b) noexcept {
  return command::hd_sw_set(slot, a, b);
}
int kora_jpeg_swget(int slot, int item) noexcept {
  return command::jpeg_sw_get(slot, item);
}
int kora_jpeg_swset(int slot, int a, int b) noexcept {
  return command::jpeg_sw_set(slot, a, b);
}
int kora_combi_set(int slot, int w1, int w2, int w3, int w4, int w5) noexcept {
  return command::combi_set(slot, w1, w2, w3, w4, w5);
}
int kora_combi_get(int slot, uint32_t* p1, uint32_t* p2, uint32_t* p3, uint32_t* p4,
                   int w5) noexcept {
  return command::combi_get(slot, p1, p2, p3, p4, w5);
}

int kora_rx_menu_data(int slot, int menu, unsigned char* data) noexcept {
  return command::rx_menu_data(slot, menu, data);
}
int kora_rx_status(int slot, int item) noexcept {
  return command::rx_status(slot, item);
}
int kora_ctrl_play(int slot, int control) noexcept {
  return command::ctrl_play(slot, control);
}
int kora_play_search(int slot, int year, int f2, int f3, int f4, int f5, int f6) noexcept {
  return command::play_search(slot, year, f2, f3, f4, f5, f6);
}
int kora_rx_playlist(int slot, int list) noexcept {
  return command::rx_playlist(slot, list);
}
int kora_set_playpointer(int slot, uint32_t a, uint32_t b) noexcept {
  return command::set_play_pointer(slot, a, b);
}
int kora_rx_hddlist(int slot, uint32_t a, uint32_t b) noexcept {
  return command::rx_hdd_list(slot, a, b);
}
int kora_re_boot(int slot) noexcept {
  return command::re_boot(slot);
}

int kora_mem_get(int slot, uint32_t a, uint32_t b) noexcept {
  return command::mem_get(slot, a, b);
}
int kora_mem_set(int slot, uint32_t a, uint32_t b, uint32_t c) noexcept {
  return command::mem_set(slot, a, b, c);
}
int kora_i2c_get(int slot, uint32_t a, uint32_t b) noexcept {
  return command::i2c_get(slot, a, b);
}
int kora_i2c_set(int slot, uint32_t a, uint32_t b, uint32_t c) noexcept {
  return command::i2c_set(slot, a, b, c);
}
int kora_nvc_get(int slot, uint32_t a, uint32_t b, uint32_t c) noexcept {
  return command::nvc_get(slot, a, b, c);
}
int kora_nvc_set(int slot, uint32_t a, uint32_t b, uint32_t c, uint32_t d) noexcept {
  return command::nvc_set(slot, a, b, c, d);
}
int kora_update(int slot, const char* file_name, int kind) noexcept {
  return command::update(slot, file_name, kind);
}

int virazav_set_progress_handler(virazav_progress_fn fn, void* user) noexcept {
  command::set_progress_handler(fn, user);
  return 0;
}

}  // extern "C"
