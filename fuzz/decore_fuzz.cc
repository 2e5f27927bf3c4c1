// Fuzzes the decoder core entry on mutated bit-streams, in the manner of
// FFmpeg's decoder fuzzer: the input is split into pictures at a tag, each is
// decoded with option 0 by one instance, with the pixel count and the number
// of pictures capped. The first picture may change the output size.
#include <cstdint>
#include <cstring>
#include <vector>

#include "decoder/decore.h"

namespace dec = virazav::decoder;

namespace {

constexpr uint8_t kTag[4] = {'F', 'U', 'Z', 'Z'};
constexpr int kMaxPictures = 64;
constexpr int64_t kMaxPixels = 1024 * 768;
constexpr int kWidth = 176, kHeight = 144;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    dec::set_core_pixel_limit(kMaxPixels);
    return true;
  }();
  (void)once;
  dec::DecoderSize want{kWidth, kHeight};
  dec::DecoderMemReqs reqs;
  if (dec::decore(dec::kDecoreHandle, dec::kDecoreMemoryRequirements, &want, &reqs) != 0) return 0;
  std::vector<uint8_t> state(reqs.state);
  dec::DecoderParam param;
  param.width = kWidth;
  param.height = kHeight;
  param.state = state.data();
  std::vector<uint8_t> picture(kWidth * kHeight * 3);
  int post = size > 0 ? data[0] % 101 : 0;
  dec::decore(dec::kDecoreHandle, dec::kDecorePostProcessing,
              reinterpret_cast<void*>(intptr_t{post}), nullptr);
  if (dec::decore(dec::kDecoreHandle, dec::kDecoreInitialise, &param, nullptr) == 0) {
    size_t start = 0;
    int pictures = 0;
    while (start <= size && pictures < kMaxPictures) {
      size_t end = start;
      while (end + 4 <= size && std::memcmp(data + end, kTag, 4) != 0) ++end;
      if (end + 4 > size) end = size;
      // An exactly sized copy: reads beyond a picture's bytes are caught.
      std::vector<uint8_t> bits(data + start, data + end);
      dec::DecoderFrame frame;
      frame.picture = picture.data();
      frame.bitstream = bits.data();
      frame.length = static_cast<int32_t>(bits.size());
      frame.render = 1;
      frame.stride = kWidth;
      if (!bits.empty()) dec::decore(dec::kDecoreHandle, dec::kDecoreDecode, &frame, &param);
      ++pictures;
      start = end + 4;
    }
    if (size >= 4) {
      uint32_t packed = 0;
      std::vector<uint8_t> probe(data, data + size);
      dec::probe_video_object(probe.data(), probe.size(), &packed);
    }
  }
  dec::decore(dec::kDecoreHandle, dec::kDecoreRelease, &param, nullptr);
  dec::decore(dec::kDecoreHandle, dec::kDecorePostProcessing, nullptr, nullptr);
  return 0;
}
