// The downloaded-data player as the exports use it: decode_init and
// decode_deinit with the data-set layer's life cycle, opening and closing a stream file, channel
// pictures, the frame index exports, search, the splitters and the time conversions. Each returns
// what its export returns (see include/virazav.h).
#pragma once

#include <cstdint>

namespace virazav::dlplayer {

// The exported decode_init: sets up the decoder (decoder::set_up), installs
// the player's direction as the decoder's live direction, then initialises
// the data-set layer. Returns -1 when the decoder could not be set up
// (nothing else done), otherwise what init returns: 0, or 1 when the layer
// could not allocate its buffers.
int decode_init();
// The exported decode_deinit: releases the data-set layer first (its playback
// thread decodes into the pictures), then the decoder (decoder::tear_down).
void decode_deinit();

// Data-set layer.
int init();
void deinit();
bool initialised();
uint32_t file_open(const char* path, const char* bitmap_dir, const char* index_dir, int parts);
void file_close();
bool file_is_open();
int file_lock(int channel);
int file_unlock(int channel);
int frame_index(const char* index_dir, int parts);
void get_enable_ch(uint32_t* video_mask, uint32_t* audio_mask, const char* index_dir, int parts);
void set_disp_type(int channel);
int search(int packed_time, int parts);

// Play mode word (the playback thread's life cycle: 9 none, 2 idle, 8 end).
int play_mode();

// Playback of the open data set.
int set_play_mode(int mode);
int get_play_pos(int parts);
int set_play_pos(int parts, int position);

// Splitters and frame bitmaps.
int mpeg4_play(const char* source, const char* directory, int limit);
int mpeg4_play2(const char* source, const char* directory, int limit);
int i2bmp(const char* source, const char* bitmap_path, const char* directory, int channel, int tick,
          int end_tick);
int get_bmp_size(const char* path, uint32_t* width, uint32_t* height);

// Times.
int64_t packed_time_to_seconds(int64_t packed_time);
int make_base_tm(int packed_time);
void calc_time(uint8_t* record);

}  // namespace virazav::dlplayer
