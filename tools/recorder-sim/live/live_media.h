// What the live stream carries: the time stamps of its pictures and audio packets (counted
// from the start of the stream), the microphones' continuous ADPCM packets, and ready-made
// datagrams for benchmarks that send them themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/media.h"

namespace virazav::sim {

// The PTS of the stream's first picture and first audio packet.
inline constexpr uint64_t kLiveFirstPts = 90000;

// PTS of picture `frame` (0 at the start of the stream) at `fps` pictures a second:
// 90,000 + frame × 90,000 / fps. The DTS lies one picture earlier.
uint64_t live_picture_pts(int64_t frame, int fps);
uint64_t live_picture_dts(int64_t frame, int fps);
// PTS of audio packet `index`: 90,000 + index × 46,080 (4,096 samples at 8,000 a second).
uint64_t live_audio_pts(int64_t index);

// One microphone of the live stream: audio packet 0, 1, 2, ... of the channel's tone, each
// packet's ADPCM continuing from the state the previous packet ended in.
class LiveAudioSource {
 public:
  explicit LiveAudioSource(int channel) : channel_(channel) {}

  // Returns packet index() (2,112 bytes: 64-byte header with the ADPCM state of its first
  // sample, 2,048 bytes of ADPCM) and moves on to the next.
  std::vector<uint8_t> next();
  int64_t index() const { return index_; }
  int channel() const { return channel_; }

 private:
  int channel_;
  int64_t index_ = 0;
  AdpcmState state_{};
};

// Returns audio packet `index` of an audio channel (0..3) exactly as the stream sends it
// (encodes the tone from packet 0 on: cost grows with the index). Empty for a bad channel
// or a negative index.
std::vector<uint8_t> live_audio_packet(int channel, int64_t index);

// Builds `count` datagrams of exactly `size` bytes each, ready to send to a client's port
// base (stream 0): set-0 video blocks of channels 0, 1, ..., 15, 0, ... in turn, each one
// key picture of `width` × `height` (176 × 144 by default) cut with stride size − 8 and
// padded with zeros behind its records to whole fragments. Block numbers count up from 0.
// When count is not a multiple of the fragments a block needs, the last block is cut short.
// Stores the fragments per block in *fragments_per_block (may be null). Returns an empty
// vector when size is below 64 or above kLiveMaxStride + 8, or the pictures cannot be
// encoded.
std::vector<std::vector<uint8_t>> make_live_datagrams(int count, size_t size,
                                                      int* fragments_per_block = nullptr,
                                                      int width = 176, int height = 144);

}  // namespace virazav::sim
