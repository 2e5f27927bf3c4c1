// The disk and file feeders: the two worker threads that read recorded blocks
// and hand them to the player, the play controls that steer them through their
// mode words, the time search in a file, the single-file view and the calls
// that open and end the player.
#pragma once

#include <cstdint>

namespace virazav::player {

// ---- Results ----------------------------------------------------------------------------
inline constexpr int kFeederRefused = -1;         // already running / not running / file not opened
inline constexpr int kFileSearchNotRunning = -1;  // file_search: the file feeder is not running
inline constexpr int kFileSearchOutside = -2;     // file_search: t outside the file's range
inline constexpr int kFeederBusy = -3;            // a wait for the file feeder reached its bound
inline constexpr int kFeederNoMemory = -13;       // the 2 MiB block buffer could not be allocated
inline constexpr int kRingOutside = -1;           // a ring outside 0..7: the player is not called

// Bounds of the waits on the file feeder.
inline constexpr int kFeederStopWaitMs = 5000;  // playfile, for a running feeder to end
inline constexpr int kFeederIdleWaitMs = 5000;  // file_search, for the feeder to go idle
inline constexpr int kPendingOnStopMs = 1000;   // a refused block is offered this long after
                                                // a stop request, then dropped
// The feeders' block buffer.
inline constexpr uint32_t kFeederBufferSize = 0x200000;
// one_farme_view reads at most this much of the file and offers 48 zero bytes more.
inline constexpr uint32_t kOneViewReadSize = 262144;
inline constexpr uint32_t kOneViewTail = 48;

// Offers a block to ring `ring` of the player: -1 without a call for a ring
// outside 0..7, otherwise the player's result (0 taken).
int offer_block(int ring, const uint8_t* data, int length, int special, int speed);

// ---- The disk feeder's mode table ---------------------------------------------------------
enum class DiskReader { kData, kForward, kBack, kBackStep };
struct FeedRow {
  DiskReader reader = DiskReader::kData;
  int step = 1;         // chunks the reader moves (kForward, kBackStep)
  int special = 0;      // 0 normal play, 1 fast, reverse and single-frame play
  int speed_code = 0;   // the speed argument of the offer
  bool single = false;  // one frame: the mode goes back to 0 after a block taken
};
// The row of the disk feeder's table for mode 1..5 and the speed last set.
FeedRow disk_feed_row(int32_t mode, int32_t speed);

// ---- Disk feeder ------------------------------------------------------------------------------
// Starts the disk feeder. 0, kFeederRefused when it is running, kFeederNoMemory.
int hdd_read_start();
// Sets its stop request under "PLAYMODE" without waiting. 0, or kFeederRefused
// when it is not running.
int hdd_read_stop();
bool disk_feeder_running();

// ---- File feeder ------------------------------------------------------------------------------
// Ends a running file feeder (waiting at most kFeederStopWaitMs, else
// kFeederBusy with nothing opened), opens the index file and the data file,
// stops disk playback and starts the file feeder in mode 0. 0, kFeederRefused
// (a path NULL or a file that cannot be opened), kFeederBusy, kFeederNoMemory.
int playfile(const char* data_path, const char* index_path);
// Sets the file feeder's stop request under "PLAYMODE" without waiting. 0, or
// kFeederRefused when it is not running.
int file_read_stop();
bool file_feeder_running();
// Places the file feeder at the index entry of time number t (see the header
// for the proportion). 0, kFileSearchNotRunning, kFileSearchOutside or kFeederBusy.
int file_search(int32_t t);
// Time numbers of the first and the last index entry as the feeder read them
// when it started (NULL outputs skipped). Returns 0.
int file_read_start_end_sec(uint32_t* start, uint32_t* end);
// The file feeder's current index entry number (for tests and the CLI).
int64_t file_current_entry();

// ---- Other
// ------------------------------------------------------------------------------------------ Stops
// both modes and offers the first kOneViewReadSize bytes of the file (plus kOneViewTail zero bytes)
// once. 0, kFeederRefused (file not opened, path NULL) or kFeederNoMemory.
int one_farme_view(const char* path);
// Stops the player's decoding thread. Returns 0.
int play_end();
// Starts the player with (0, b, c, d); returns its result.
int zel_play_open(int b, int c, int d);
// The test entry point: feeds up to 50 blocks from the two-slot exchange to ring
// 0. Returns the number of blocks fed.
int playtest();
// Puts a block into the next free slot of that exchange (at most
// kFeederBufferSize bytes). Returns 0, or -1 when both slots are full or the
// block does not fit.
int playtest_put(const uint8_t* data, uint32_t length);

}  // namespace virazav::player
