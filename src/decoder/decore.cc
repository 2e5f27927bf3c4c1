// The decoder core entry: option dispatch over the parameter records, the
// post-processing level, and the header probe, which reads the video object
// layer header itself (format/video_headers) to learn a stream's picture size.
#include "decoder/decore.h"

#include <atomic>
#include <cstring>
#include <new>

#include "decoder/core_instance.h"
#include "format/video_headers.h"

namespace virazav::decoder {
namespace {

std::atomic<int> g_post_level{0};

constexpr int kMaxPostLevel = 100;

// The state buffer holds a marker word and, behind it, the instance; the
// marker tells a constructed instance from a zero-filled or released buffer.
constexpr uint64_t kInstanceMarker = 0x45524F43454400ULL;  // "\0DECORE"
constexpr size_t kInstanceOffset = 16;

detail::CoreInstance* instance_of(const DecoderParam* param) {
  if (param == nullptr || param->state == nullptr) return nullptr;
  uint64_t marker;
  std::memcpy(&marker, param->state, sizeof marker);
  if (marker != kInstanceMarker) return nullptr;
  return std::launder(reinterpret_cast<detail::CoreInstance*>(static_cast<uint8_t*>(param->state) +
                                                              kInstanceOffset));
}

int option_decode(DecoderFrame* frame, DecoderParam* param) {
  if (frame == nullptr || param == nullptr) return kDecoreBadArgument;
  detail::CoreInstance* core = instance_of(param);
  if (core == nullptr || !core->is_open()) return kDecoreInvalidState;
  if (frame->bitstream == nullptr || frame->length <= 0) return kDecoreBadPicture;
  if (param->output_format != kOutputRgb24) return kDecoreBadArgument;
  if (param->width <= 0 || param->height <= 0 || frame->stride < param->width) {
    return kDecoreBadArgument;
  }
  // The decoder starts at the first video object start or VOP start; what
  // comes before (the packet header) is not part of the picture.
  const uint8_t* b = frame->bitstream;
  size_t n = static_cast<size_t>(frame->length);
  size_t start = n;
  bool has_vol = false;
  for (size_t i = 0; i + 3 < n; ++i) {
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
      uint8_t code = b[i + 3];
      if (start == n && (code == 0x00 || code == 0xB6)) start = i;
      if (start != n && (code & 0xF0) == 0x20) has_vol = true;
      if (code == 0xB6 && start != n) break;
    }
  }
  if (start == n) return kDecoreBadPicture;
  if (!has_vol && !core->seen_sequence_header()) return kDecoreNoSequenceHeader;
  int rc = core->decode(b + start, n - start, frame->render ? frame->picture : nullptr,
                        param->width, param->height, frame->stride, g_post_level.load());
  if (rc == kDecoreOk && has_vol) core->mark_sequence_header();
  return rc;
}

int option_release(DecoderParam* param);

int option_initialise(DecoderParam* param) {
  if (param == nullptr || param->state == nullptr) return kDecoreBadArgument;
  option_release(param);  // a second initialisation starts over
  auto* core = new (static_cast<uint8_t*>(param->state) + kInstanceOffset) detail::CoreInstance();
  std::memcpy(param->state, &kInstanceMarker, sizeof kInstanceMarker);
  detail::route_av_log();
  param->output_format = kOutputRgb24;
  return core->open();
}

int option_release(DecoderParam* param) {
  detail::CoreInstance* core = instance_of(param);
  if (core == nullptr) return kDecoreOk;
  core->~CoreInstance();
  std::memset(param->state, 0, kInstanceOffset + sizeof(detail::CoreInstance));
  return kDecoreOk;
}

}  // namespace

int post_processing_level() {
  return g_post_level.load();
}

int post_processing_filter_set(int level) {
  if (level <= 0) return 0;
  if (level < 10) return 1;
  if (level < 20) return 3;
  if (level < 30) return 19;
  if (level < 40) return 23;
  if (level < 50) return 31;
  return 63;
}

int probe_video_object(const uint8_t* data, size_t length, uint32_t* packed_size) {
  return format::probe_video_object_layer(data, length, packed_size) ? kDecoreOk
                                                                     : kDecoreBadPicture;
}

int decore(uint32_t handle, uint32_t option, void* param1, void* param2) {
  if (handle == 0) return kDecoreBadArgument;
  switch (option) {
    case kDecoreDecode:
      return option_decode(static_cast<DecoderFrame*>(param1), static_cast<DecoderParam*>(param2));
    case kDecoreMemoryRequirements: {
      auto* size = static_cast<const DecoderSize*>(param1);
      auto* reqs = static_cast<DecoderMemReqs*>(param2);
      if (size == nullptr || reqs == nullptr) return kDecoreBadArgument;
      // libavcodec keeps its reference and display pictures and tables itself;
      // the core needs only room for its instance.
      *reqs = DecoderMemReqs{};
      reqs->state = static_cast<uint32_t>(kInstanceOffset + sizeof(detail::CoreInstance));
      return kDecoreOk;
    }
    case kDecoreInitialise:
      return option_initialise(static_cast<DecoderParam*>(param1));
    case kDecoreRelease:
      return option_release(static_cast<DecoderParam*>(param1));
    case kDecorePostProcessing: {
      auto level = reinterpret_cast<intptr_t>(param1);
      if (level < 0 || level > kMaxPostLevel) return kDecoreBadArgument;
      g_post_level.store(static_cast<int>(level));
      return kDecoreOk;
    }
    case kDecoreOutputFormat: {
      auto* param = static_cast<DecoderParam*>(param1);
      if (param == nullptr || param->output_format != kOutputRgb24) return kDecoreBadArgument;
      return kDecoreOk;
    }
    case kDecoreHeaderProbe:
      return probe_video_object(static_cast<const uint8_t*>(param1), kProbeBytes,
                                static_cast<uint32_t*>(param2));
    default:
      return kDecoreBadArgument;
  }
}

}  // namespace virazav::decoder
