// One decoder core instance: a libavcodec MPEG-4 Visual decoding context with
// its colour converter and post-processing filter. The core entry places one
// in each instance's "decoder state" buffer; nothing outside src/decoder/ sees
// an FFmpeg type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace virazav::decoder::detail {

class CoreInstance {
 public:
  CoreInstance();
  ~CoreInstance();
  CoreInstance(const CoreInstance&) = delete;
  CoreInstance& operator=(const CoreInstance&) = delete;

  // Opens the codec context. Returns a decore result (kDecoreOk or kDecoreNoMemory).
  int open();
  bool is_open() const;
  // Whether a sequence (video object layer) header has been decoded since the
  // instance was opened; a picture before one cannot be decoded.
  bool seen_sequence_header() const { return seen_sequence_header_; }
  void mark_sequence_header() { seen_sequence_header_ = true; }

  // Decodes the picture in bits[0..length) (the bit-stream from its first
  // video object or VOP start on) and, when `picture` is not null, converts it
  // into width × height pixels of 24-bit bottom-up rows of `stride` pixels.
  // Returns a decore result; on failure the picture is not touched.
  int decode(const uint8_t* bits, size_t length, uint8_t* picture, int width, int height,
             int stride, int post_level);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool seen_sequence_header_ = false;
};

// Translates a libavcodec error into a decore result.
int translate_av_error(int av_error);

// Routes libav's log lines to the library's trace output (only when
// VIRAZAV_DECODER_LOG is set; otherwise they are dropped). Idempotent.
void route_av_log();

}  // namespace virazav::decoder::detail
