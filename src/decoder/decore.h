// The decoder core entry `decore`: its options, its three parameter records
// and its result codes. One core instance decodes one channel's MPEG-4 Visual
// bit-stream into a 24-bit bottom-up RGB picture; the instance lives in the
// "decoder state" buffer that the caller allocates with the size the core
// asks for (option kDecoreMemoryRequirements).
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/video_headers.h"

namespace virazav::decoder {

// Options.
inline constexpr uint32_t kDecoreDecode = 0;
inline constexpr uint32_t kDecoreMemoryRequirements = 0x4000;
inline constexpr uint32_t kDecoreInitialise = 0x8000;
inline constexpr uint32_t kDecoreRelease = 0x10000;
inline constexpr uint32_t kDecorePostProcessing = 0x20000;
inline constexpr uint32_t kDecoreOutputFormat = 0x40000;
inline constexpr uint32_t kDecoreHeaderProbe = 0x80000;

// Results.
inline constexpr int kDecoreOk = 0;
inline constexpr int kDecoreNoMemory = 1;       // the core could not allocate its state
inline constexpr int kDecoreBadArgument = 2;    // handle 0, unknown option, null record,
                                                // level outside 0..100, unknown format
inline constexpr int kDecoreBadPicture = 3;     // no readable picture (or VOL) header
inline constexpr int kDecoreOkNoPicture = 10;   // accepted as success by the wrapper
inline constexpr int kDecoreInvalidState = 11;  // the instance was not initialised
inline constexpr int kDecoreNoPictureHeader = 12;
inline constexpr int kDecoreNoSequenceHeader = 13;  // a picture before any VOL header

// The one output format the core renders: 24-bit RGB (B, G, R bytes), rows
// bottom-up, the row length given by the frame's stride.
inline constexpr int kOutputRgb24 = 5;
// The handle the wrapper passes; 0 is refused.
inline constexpr uint32_t kDecoreHandle = 1;

// The header probe reads at most this many bytes after a video object start.
inline constexpr size_t kProbeBytes = format::kVideoObjectProbeBytes;

// Instance parameters: size, output format, time increment, six buffers.
struct DecoderParam {
  int32_t width = 0;
  int32_t height = 0;
  int32_t output_format = kOutputRgb24;
  int32_t time_increment = 0;
  void* reference_a = nullptr;
  void* reference_b = nullptr;
  void* display = nullptr;
  void* state = nullptr;  // holds the core instance
  void* tables = nullptr;
  void* reader = nullptr;
};

// One picture to decode.
struct DecoderFrame {
  uint8_t* picture = nullptr;  // output: stride × 3 × height bytes
  const uint8_t* bitstream = nullptr;
  int32_t length = 0;  // bytes of bitstream
  int32_t render = 1;  // 1: convert into picture; 0: decode only
  int32_t stride = 0;  // pixels per output row (at least width)
};

// Buffer sizes the core asks for, in the order of DecoderParam's buffers.
struct DecoderMemReqs {
  uint32_t reference_a = 0;
  uint32_t reference_b = 0;
  uint32_t display = 0;
  uint32_t state = 0;
  uint32_t tables = 0;
  uint32_t reader = 0;
};

struct DecoderSize {
  int32_t width = 0;
  int32_t height = 0;
};

// The core entry. `handle` must be kDecoreHandle (0 gives kDecoreBadArgument).
//   kDecoreDecode:             param1 DecoderFrame*, param2 DecoderParam* of an
//                              initialised instance; kDecoreOk, kDecoreBadPicture
//                              (no picture decoded: the picture keeps its contents),
//                              kDecoreNoSequenceHeader, kDecoreInvalidState.
//   kDecoreMemoryRequirements: param1 DecoderSize*, param2 DecoderMemReqs*.
//   kDecoreInitialise:         param1 DecoderParam* with its buffers; kDecoreOk or
//                              kDecoreNoMemory.
//   kDecoreRelease:            param1 the instance's DecoderParam* (null: nothing to
//                              release); frees what the core allocated itself.
//   kDecorePostProcessing:     param1 the level 0..100 cast to a pointer-sized integer.
//   kDecoreOutputFormat:       param1 DecoderParam*; only kOutputRgb24 is accepted.
//   kDecoreHeaderProbe:        param1 the address of a video object start code with
//                              kProbeBytes readable bytes, param2 uint32_t* result =
//                              width × 4096 + height; kDecoreOk or kDecoreBadPicture.
// Not thread-safe per instance; distinct instances may decode concurrently.
int decore(uint32_t handle, uint32_t option, void* param1, void* param2);

// The header probe on a bounded buffer (format::probe_video_object_layer): looks
// for a video object layer start (00 00 01 20..2F) within the first
// min(kProbeBytes, length) bytes of `data` and parses its header up to the
// picture size. Stores width × 4096 + height and returns kDecoreOk, or returns
// kDecoreBadPicture when there is no valid rectangular layer header with both
// sizes in 1..4095.
int probe_video_object(const uint8_t* data, size_t length, uint32_t* packed_size);

// The post-processing level set with kDecorePostProcessing, and the filter set
// it selects (0 off; 1, 3, 19, 23, 31 or 63).
int post_processing_level();
int post_processing_filter_set(int level);

// Caps the pixel count of any picture the core accepts (fuzzing uses a low
// cap); 0 restores the default of 4095 × 4095.
void set_core_pixel_limit(int64_t pixels);

}  // namespace virazav::decoder
