// The recorder commands built on the exchange: clock and switches, remote
// playback, menus, status and lists, maintenance values and the update upload.
// Each returns what its export returns (see include/virazav.h).
#pragma once

#include <cstdint>

namespace virazav::command {

// Clock and switches.
int get_time(int slot, char* date, char* time);
int set_time(int slot, const char* date, const char* time);
int cam_sw_get(int slot, int item);
int cam_sw_set(int slot, int a, int b);
int hd_sw_get(int slot, int item);
int hd_sw_set(int slot, int a, int b);
int jpeg_sw_get(int slot, int item);
int jpeg_sw_set(int slot, int a, int b);
int combi_set(int slot, int w1, int w2, int w3, int w4, int w5);
int combi_get(int slot, uint32_t* p1, uint32_t* p2, uint32_t* p3, uint32_t* p4, int w5);

// Remote playback, menus, status and lists.
int rx_menu_data(int slot, int menu, uint8_t* data);
int rx_status(int slot, int item);
int ctrl_play(int slot, int control);
int play_search(int slot, int year, int f2, int f3, int f4, int f5, int f6);
int rx_playlist(int slot, int list);
int set_play_pointer(int slot, uint32_t a, uint32_t b);
int rx_hdd_list(int slot, uint32_t a, uint32_t b);
int re_boot(int slot);

// Maintenance.
int mem_get(int slot, uint32_t a, uint32_t b);
int mem_set(int slot, uint32_t a, uint32_t b, uint32_t c);
int i2c_get(int slot, uint32_t a, uint32_t b);
int i2c_set(int slot, uint32_t a, uint32_t b, uint32_t c);
int nvc_get(int slot, uint32_t a, uint32_t b, uint32_t c);
int nvc_set(int slot, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
int update(int slot, const char* file_name, int kind);

// Progress of long transfers (the update upload), for programs that show it.
using ProgressFn = void (*)(int64_t done, int64_t total, void* user);
void set_progress_handler(ProgressFn fn, void* user);
void report_progress(int64_t done, int64_t total);

}  // namespace virazav::command
