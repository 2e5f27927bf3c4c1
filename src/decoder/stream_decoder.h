// A decoder instance of its own on the decoder core, for a player that keeps
// its pictures apart from the sixteen channel instances: it needs no set_up,
// follows the picture size its stream's sequence headers announce, and keeps
// the latest picture it decoded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/decore.h"
#include "platform/platform.h"

namespace virazav::decoder {

// The largest picture a StreamDecoder takes (the player's picture buffers are
// this size); a sequence header announcing more is refused.
inline constexpr int kStreamMaxWidth = 704;
inline constexpr int kStreamMaxHeight = 576;

// Results of StreamDecoder::decode besides the decore results.
inline constexpr int kStreamTooLarge = 20;  // the announced size exceeds 704 x 576
inline constexpr int kStreamNoMemory = 21;  // the instance or its picture could not be allocated

class StreamDecoder {
 public:
  StreamDecoder() = default;
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // Decodes one picture: a video PES packet, or its elementary stream. A
  // sequence header in it sets the picture size (the instance is made anew
  // when the size changes). Returns kDecoreOk when a picture was decoded into
  // picture(); otherwise a decore result (kDecoreNoSequenceHeader for a
  // picture before any sequence header), kStreamTooLarge or kStreamNoMemory,
  // and picture() keeps what it held.
  int decode(const uint8_t* data, size_t length);
  // Forgets the stream: the next picture must bring its sequence header.
  void reset();

  // Hands the latest picture over without copying it: swaps the picture
  // buffer with *other, which must hold at least 704 x 576 x 3 bytes, and the
  // decoder goes on decoding into the buffer it got. picture() is nullptr
  // until the next decoded picture. False (nothing swapped) when there is no
  // picture or *other is too small.
  bool hand_over_picture(platform::Buffer* other);

  // The latest picture: width() x height() pixels of 24-bit BGR, rows bottom-up
  // and unpadded (3 x width bytes). nullptr before the first decoded picture.
  const uint8_t* picture() const { return has_picture_ ? picture_.data() : nullptr; }
  int width() const { return param_.width; }
  int height() const { return param_.height; }

 private:
  bool create(int width, int height);
  void release();

  DecoderParam param_;
  DecoderFrame frame_;
  platform::Buffer state_;  // holds the core instance
  platform::Buffer picture_;
  bool usable_ = false;
  bool has_picture_ = false;
};

}  // namespace virazav::decoder
