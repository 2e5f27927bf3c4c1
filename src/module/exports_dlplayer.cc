// Exports of the downloaded-data family: the data-set layer, its frame index
// and search, playback modes and positions, the single-file splitters, frame
// bitmaps and times.
#include "dlplayer/dlplayer.h"
#include "virazav.h"

namespace dl = virazav::dlplayer;

extern "C" {

int Mpeg4DLdata_init(void) noexcept {
  return dl::init();
}

int Mpeg4DLdata_deinit(void) noexcept {
  dl::deinit();
  return 0;
}

unsigned Mpeg4DLdata_fileopen(const char* path, const char* bitmap_dir, const char* index_dir,
                              int parts) noexcept {
  return dl::file_open(path, bitmap_dir, index_dir, parts);
}

int Mpeg4DLdata_fileclose(void) noexcept {
  dl::file_close();
  return 0;
}

int Mpeg4DLdata_filelock(int channel) noexcept {
  return dl::file_lock(channel);
}

int Mpeg4DLdata_fileunlock(int channel) noexcept {
  return dl::file_unlock(channel);
}

int Mpeg4DLdata_frame_index(const char* index_dir, int parts) noexcept {
  return dl::frame_index(index_dir, parts);
}

int Mpeg4DLdata_get_enable_ch(unsigned* video_mask, unsigned* audio_mask, const char* index_dir,
                              int parts) noexcept {
  dl::get_enable_ch(video_mask, audio_mask, index_dir, parts);
  return 0;
}

int Mpeg4DLdata_set_disptype(int channel) noexcept {
  dl::set_disp_type(channel);
  return 0;
}

int Mpeg4DLdata_search(int packed_time, int parts) noexcept {
  return dl::search(packed_time, parts);
}

int Mpeg4DLdata_set_m_nPlayMode(int mode) noexcept {
  return dl::set_play_mode(mode);
}

int Mpeg4DLdata_get_m_nPlayMode(void) noexcept {
  return dl::play_mode();
}

int Mpeg4DLdata_get_PlayPos(int parts) noexcept {
  return dl::get_play_pos(parts);
}

int Mpeg4DLdata_set_PlayPos(int parts, int position) noexcept {
  return dl::set_play_pos(parts, position);
}

int Mpeg4Play(const char* source, const char* directory, int limit) noexcept {
  return dl::mpeg4_play(source, directory, limit);
}

int Mpeg4Play2(const char* source, const char* directory, int limit) noexcept {
  return dl::mpeg4_play2(source, directory, limit);
}

int I2BMP(const char* source, const char* bitmap_path, const char* directory, int channel, int tick,
          int end_tick) noexcept {
  return dl::i2bmp(source, bitmap_path, directory, channel, tick, end_tick);
}

int get_bmpsize(const char* path, unsigned* width, unsigned* height) noexcept {
  return dl::get_bmp_size(path, width, height);
}

int make_base_tm(int packed_time) noexcept {
  return dl::make_base_tm(packed_time);
}

int calc_time(int reserved, unsigned char* record) noexcept {
  (void)reserved;
  dl::calc_time(record);
  return 0;
}

}  // extern "C"
