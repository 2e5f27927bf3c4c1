// The live stream client as the exports and the other subsystems use it: the
// session with its two receive threads, the control and query calls, and the
// audio output thread that plays the live rings and the playback ring. Each
// function returns what its export returns (see include/virazav.h).
#pragma once

#include <cstdint>

namespace virazav::live {

// ---- Session (the receive threads) ------------------------------------------------
int udp_connect(const char* address, int port);
int udp_close();

// ---- Control and queries ----------------------------------------------------------
int rx_start(int a, int b, int c, int d);
int rx_stop();
int udp_count(int slot, int down, int value, int audio);
int udp_dispmode(int slot, int display, int mode);
int udp_rx(int channel, int set);
void rx_time(int set, uint8_t* out);
void rx_status(int set, uint8_t* status, uint8_t* channel, uint16_t* status_word, uint16_t* ptz1,
               uint16_t* ptz2, uint16_t* ptz3);
void ptz_status(int channel, uint16_t* ptz1, uint16_t* ptz2, uint16_t* ptz3);

// ---- Audio output --------------------------------------------------------------------
int wave_play_ctrl(int mode);
void wave_play_ch(int kind, int channel);
int udp_wave(int set, const char* path);

// Output-device states.
inline constexpr int kDeviceClosed = -1;  // the next output thread searches again
inline constexpr int kDeviceNone = 0;     // no device was found
inline constexpr int kDeviceOpen = 1;
int device_state();
// The selected audio channel of ring 0 or ring 1 (ring 1's is also the audio
// channel of the downloaded-data player).
int selected_audio_channel(int ring);

// ---- The playback ring (wave mode 3) ---------------------------------------------------
// The downloaded-data player is its producer: it owns the three buffers, fills
// header w with a decoded buffer, and hands the slot over by setting its state
// to queued; the output thread writes queued slots in index order and frees
// each one (state 0) when the device is done with it.
inline constexpr int kPlaybackSlots = 3;
inline constexpr int kSlotFree = 0;
inline constexpr int kSlotQueuedForOutput = 1;
int wave_mode();
int playback_slot_state(int w);
// Sets slot w's state (0 free, 1 queued) and wakes the output thread.
void set_playback_slot_state(int w, int state);
// Fills header w: data, length, user value w, begin- and end-loop flags, one
// loop, prepared when `prepared`.
void fill_playback_header(int w, uint8_t* data, uint32_t length, bool prepared);
int playback_write_index();
void set_playback_write_index(int w);
// Waits up to timeout_ms until slot w is free. Returns true when it is.
bool wait_playback_slot_free(int w, int timeout_ms);

// ---- Receive statistics -----------------------------------------------------------------
// Counters since the process started (a new session does not reset them), for
// programs that show the state of reception.
struct Statistics {
  uint64_t datagrams = 0;          // datagrams read from the sockets
  uint64_t bytes = 0;              // their bytes
  uint64_t ignored = 0;            // short, foreign sender or stream number above 1
  uint64_t late_fragments = 0;     // fragments of an abandoned block
  uint64_t dropped_fragments = 0;  // fragments that would not fit their buffer
  uint64_t blocks_completed = 0;   // blocks complete and filed (any type)
  uint64_t video_blocks = 0;       // video blocks filed in their slots
  uint64_t audio_blocks = 0;       // audio blocks filed in their rings
  uint64_t blocks_abandoned = 0;   // blocks left unfinished when a new one began
  uint64_t fragments_missing = 0;  // fragments those blocks still lacked
  uint64_t blocks_dropped = 0;     // complete blocks that had no place to go
  uint64_t pictures = 0;           // kora_udp_rx calls that took a block or showed a picture
};
Statistics statistics();

}  // namespace virazav::live
