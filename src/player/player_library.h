// The player library: the eleven operations through which the disk and file
// feeders hand recorded blocks to a player and read its pictures back. The
// library's own player (src/player/own/) fills the table; tests put in a
// player of their own that records the calls.
#pragma once

#include <cstdint>

namespace virazav::player {

struct PlayerLibrary {
  // Starts the player (a is always 0 here); again resets it. 0 when started.
  int (*open)(int a, int b, int c, int d);
  // Offers a block: a run of disk packets or a file's bytes. special 0 for
  // normal play, 1 for fast, reverse and single-frame play; speed 0 or a
  // speed code. 0 when taken (the caller may reuse the buffer at once), any
  // other result when not taken (the same block is offered again later).
  int (*add_ring)(int ring, const uint8_t* data, int length, int special, int speed);
  // The feeder's play mode changed to another nonzero mode (argument 1).
  void (*sound_change)(int value);
  // Drops what is queued, stops the decoding and the sound.
  void (*stop_play_thread)();
  // 1 when a picture failed to decode since the last reset, else 0.
  int (*err_flag_status)();
  void (*err_flag_reset)();
  // Every channel waits for its next key picture.
  void (*set_init_again)();
  // The latest picture of player channel 1..4 at its own size, bottom-up
  // 24-bit BGR, into buffer (at least 704 x 576 x 3 bytes).
  int (*get_ch_bmp)(int channel, uint8_t* buffer, int* width, int* height);
  // The composite: one bottom-up 704 x 480 picture of 24-bit BGR pixels, 2112
  // bytes a row, into pixels (1,013,761 bytes), with its layout (1, 2 or 4)
  // and the first and second channel (1..4). pass is the caller's own.
  void (*get_bmpdata)(int* layout, int* first, int* second, uint8_t* pixels, void* pass);
  // 1 mutes, 0 plays; returns the previous value.
  int (*no_audio_mode_set)(int value);
  // The viewer mode (a 0..7, b its argument). 0, or -2 for b out of range.
  int (*set_viewer_mode)(int a, int b);
};

// The library's own player.
const PlayerLibrary& own_player();

// The player the feeders and snapshots use: the own player unless a test has
// put in another. set_player_library(nullptr) goes back to the own player.
// Not to be changed while a feeder runs.
const PlayerLibrary& player_library();
void set_player_library(const PlayerLibrary* library);

}  // namespace virazav::player
