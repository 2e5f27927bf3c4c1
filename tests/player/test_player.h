// A player for the feeder and snapshot tests: it records every call it gets
// (arguments, the bytes of every block offered), refuses blocks on demand,
// answers with chosen results and fills the composite with a known pattern.
// Constructing one puts it in as the library's player; destroying it restores
// the library's own.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "player/player_library.h"

namespace virazav::testing {

enum class PlayerOp {
  kOpen,
  kAddRing,
  kSoundChange,
  kStopPlayThread,
  kErrFlagStatus,
  kErrFlagReset,
  kSetInitAgain,
  kGetChBmp,
  kGetBmpData,
  kNoAudioModeSet,
  kSetViewerMode
};

struct PlayerCall {
  PlayerOp op = PlayerOp::kOpen;
  int a = 0, b = 0, c = 0,
      d = 0;  // the int arguments in order (add_ring: ring, length, special, speed)
  const void* pointer = nullptr;   // the pointer argument (get_ch_bmp buffer, get_bmpdata pass)
  const void* pointer2 = nullptr;  // get_ch_bmp: width; get_bmpdata: pixels
  std::vector<uint8_t> data;       // add_ring: the block's bytes (when the player keeps them)
  uint64_t digest = 0;             // add_ring: digest_of the block's bytes
  bool taken = false;              // add_ring: the block was taken
};

// A digest of a block's bytes, for tests that see too many blocks to keep them.
uint64_t digest_of(const uint8_t* data, size_t length);
inline uint64_t digest_of(const std::vector<uint8_t>& v) {
  return digest_of(v.data(), v.size());
}

class RecordingPlayer {
 public:
  RecordingPlayer();
  ~RecordingPlayer();
  RecordingPlayer(const RecordingPlayer&) = delete;
  RecordingPlayer& operator=(const RecordingPlayer&) = delete;

  std::vector<PlayerCall> calls() const;
  // The add_ring calls (offers), taken or refused.
  std::vector<PlayerCall> offers() const;
  // The blocks taken, in order.
  std::vector<PlayerCall> taken() const;
  int count(PlayerOp op) const;
  void clear();

  // Refuses the next n offers; refuse_all refuses every offer until cleared.
  void refuse_next(int n);
  void refuse_all(bool on);
  // Waits up to timeout_ms until at least n blocks were taken (n offers when
  // any_offer). Returns whether they were.
  bool wait_taken(size_t n, int timeout_ms = 5000) const;
  bool wait_offers(size_t n, int timeout_ms = 5000) const;

  // Whether add_ring keeps the blocks' bytes (set before any feeder runs).
  bool keep_data = true;
  // Results of the calls that return one.
  int open_result = 0;
  int err_status = 0;
  int ch_bmp_result = 0;
  int no_audio_result = 0;
  int viewer_result = 0;
  // What get_ch_bmp stores in *width and *height, and writes to the buffer.
  int ch_width = 0, ch_height = 0;
  uint8_t ch_fill = 0;
  // What get_bmpdata reports and how it fills the composite (byte i of row r).
  int layout = 4, first = 1, second = 2;
  std::function<uint8_t(int row, int byte)> pattern;

 private:
  static int open(int a, int b, int c, int d);
  static int add_ring(int ring, const uint8_t* data, int length, int special, int speed);
  static void sound_change(int value);
  static void stop_play_thread();
  static int err_flag_status();
  static void err_flag_reset();
  static void set_init_again();
  static int get_ch_bmp(int channel, uint8_t* buffer, int* width, int* height);
  static void get_bmpdata(int* layout, int* first, int* second, uint8_t* pixels, void* pass);
  static int no_audio_mode_set(int value);
  static int set_viewer_mode(int a, int b);
  void record(PlayerCall call);

  mutable std::mutex lock_;
  std::vector<PlayerCall> calls_;
  int refuse_next_ = 0;
  bool refuse_all_ = false;
  player::PlayerLibrary table_;
};

}  // namespace virazav::testing
