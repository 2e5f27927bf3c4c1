// The decoder core entry: option dispatch over the parameter records, the
// post-processing level, and the header probe, which reads the video object
// layer header itself to learn a stream's picture size.
#include "decoder/decore.h"

#include <atomic>
#include <cstring>
#include <new>

#include "decoder/core_instance.h"

namespace virazav::decoder {
namespace {

std::atomic<int> g_post_level{0};

constexpr int kMaxPostLevel = 100;
constexpr int kMaxDimension = 4095;  // the probe packs 12 bits each
constexpr int kShapeRectangular = 0;
constexpr int kShapeGrayscale = 3;
constexpr int kAspectExtended = 15;
constexpr int kVbvParameterBits = 79;  // the VBV fields with their markers

// Bounds-checked big-endian bit reader over a byte range.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t length) : data_(data), bits_(length * 8) {}
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= bits_) {
        overrun_ = true;
        return 0;
      }
      v = (v << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u);
      ++pos_;
    }
    return v;
  }
  void skip(int n) { get_skip(n); }
  bool overrun() const { return overrun_; }

 private:
  void get_skip(int n) {
    pos_ += static_cast<size_t>(n);
    if (pos_ > bits_) overrun_ = true;
  }
  const uint8_t* data_;
  size_t bits_;
  size_t pos_ = 0;
  bool overrun_ = false;
};

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
  if (data == nullptr || packed_size == nullptr) return kDecoreBadPicture;
  size_t limit = length < kProbeBytes ? length : kProbeBytes;
  size_t at = limit;
  for (size_t i = 0; i + 3 < limit; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0xF0) == 0x20) {
      at = i + 4;
      break;
    }
  }
  if (at >= limit) return kDecoreBadPicture;
  BitReader r(data + at, limit - at);
  r.skip(1);  // random_accessible_vol
  r.skip(8);  // video_object_type_indication
  uint32_t verid = 1;
  if (r.get(1)) {  // is_object_layer_identifier
    verid = r.get(4);
    r.skip(3);  // priority
  }
  if (r.get(4) == kAspectExtended) r.skip(16);  // par_width, par_height
  if (r.get(1)) {                               // vol_control_parameters
    r.skip(2);                                  // chroma_format
    r.skip(1);                                  // low_delay
    if (r.get(1)) r.skip(kVbvParameterBits);
  }
  uint32_t shape = r.get(2);
  if (shape == kShapeGrayscale && verid != 1) r.skip(4);
  if (r.get(1) != 1) return kDecoreBadPicture;  // marker
  uint32_t resolution = r.get(16);
  if (r.get(1) != 1 || resolution == 0) return kDecoreBadPicture;
  if (r.get(1)) {  // fixed_vop_rate
    int bits = 1;
    while ((1u << bits) < resolution) ++bits;
    r.skip(bits);
  }
  if (shape != kShapeRectangular) return kDecoreBadPicture;
  if (r.get(1) != 1) return kDecoreBadPicture;
  uint32_t width = r.get(13);
  if (r.get(1) != 1) return kDecoreBadPicture;
  uint32_t height = r.get(13);
  if (r.get(1) != 1) return kDecoreBadPicture;
  if (r.overrun()) return kDecoreBadPicture;
  if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) {
    return kDecoreBadPicture;
  }
  *packed_size = width * 4096 + height;
  return kDecoreOk;
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
