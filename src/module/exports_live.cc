// Exports of the live stream client: the session, its control and queries, and
// the audio output. Arguments are checked in src/live/; these only forward.
#include "live/live.h"
#include "virazav.h"

using namespace virazav;

extern "C" {

int kora_udp_connect(const char* address, int port, int) noexcept {
  return live::udp_connect(address, port);
}
int kora_udp_close(void) noexcept {
  return live::udp_close();
}
int kora_udp_rx_start(int a, int b, int c, int d) noexcept {
  return live::rx_start(a, b, c, d);
}
int kora_udp_rx_stop(void) noexcept {
  return live::rx_stop();
}
int kora_udp_count(int slot, int down, int value, int audio) noexcept {
  return live::udp_count(slot, down, value, audio);
}
int kora_udp_dispmode(int slot, int display, int mode) noexcept {
  return live::udp_dispmode(slot, display, mode);
}
int kora_udp_rx(int channel, int set) noexcept {
  return live::udp_rx(channel, set);
}
void kora_udp_rxtime(int set, unsigned char* out) noexcept {
  live::rx_time(set, out);
}
void kora_udp_rxstatus(int set, unsigned char* status, unsigned char* channel,
                       uint16_t* status_word, uint16_t* ptz1, uint16_t* ptz2,
                       uint16_t* ptz3) noexcept {
  live::rx_status(set, status, channel, status_word, ptz1, ptz2, ptz3);
}
void kora_udp_ptzstatus(int channel, uint16_t* ptz1, uint16_t* ptz2, uint16_t* ptz3) noexcept {
  live::ptz_status(channel, ptz1, ptz2, ptz3);
}

int wave_play_ctrl(int mode) noexcept {
  return live::wave_play_ctrl(mode);
}
void wave_play_ch(int kind, int channel) noexcept {
  live::wave_play_ch(kind, channel);
}
int kora_udp_wave(int, int set, const char* path) noexcept {
  return live::udp_wave(set, path);
}

int virazav_live_statistics(virazav_live_stats* out) noexcept {
  if (out == nullptr) return -1;
  live::Statistics st = live::statistics();
  out->datagrams = st.datagrams;
  out->bytes = st.bytes;
  out->ignored = st.ignored;
  out->late_fragments = st.late_fragments;
  out->dropped_fragments = st.dropped_fragments;
  out->blocks_completed = st.blocks_completed;
  out->video_blocks = st.video_blocks;
  out->audio_blocks = st.audio_blocks;
  out->blocks_abandoned = st.blocks_abandoned;
  out->fragments_missing = st.fragments_missing;
  out->blocks_dropped = st.blocks_dropped;
  out->pictures = st.pictures;
  return 0;
}

}  // extern "C"
