// The decoder's one process-wide state (private to src/decoder/): the frame
// buffer, the sixteen instances with their records and pictures, the synced
// flags and the ADPCM work buffers. instances.cc owns the single instance.
#pragma once

#include <atomic>
#include <cstdint>

#include "decoder/decoder.h"
#include "decoder/decore.h"
#include "platform/platform.h"

namespace virazav::decoder::detail {

inline constexpr int kInstanceBuffers = 6;
inline constexpr int kAdpcmBuffers = 2;

struct Instance {
  Instance() = default;
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  // A process that ends without decode_deinit still gives the core back what
  // it allocated itself, before the buffers that hold it are freed.
  ~Instance() { decore(kDecoreHandle, kDecoreRelease, &param, nullptr); }

  DecoderParam param;
  DecoderFrame frame;
  platform::Buffer buffers[kInstanceBuffers];
  bool usable = false;
};

struct DecoderState {
  std::atomic<bool> setup{false};
  platform::Buffer frame_buffer;
  Instance instances[kChannels];
  platform::Buffer pictures[kChannels];
  ChannelSize sizes[kChannels];
  std::atomic<int32_t> synced[kChannels] = {};
  std::atomic<DirectionReader> direction_reader{nullptr};

  platform::Buffer adpcm_work[kAdpcmBuffers];
  bool adpcm_ready = false;
  int adpcm_mode = 0;
  size_t adpcm_length = 0;
};

DecoderState& state();

}  // namespace virazav::decoder::detail
