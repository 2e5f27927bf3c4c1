// A player's own decoder instance: the core entry's memory request, set-up,
// decoding and release, at the size the stream's sequence header announces.
#include "decoder/stream_decoder.h"

#include <utility>

#include "format/video_headers.h"

namespace virazav::decoder {

StreamDecoder::~StreamDecoder() {
  release();
}

void StreamDecoder::release() {
  decore(kDecoreHandle, kDecoreRelease, &param_, nullptr);
  state_ = platform::Buffer();
  param_ = DecoderParam{};
  frame_ = DecoderFrame{};
  usable_ = false;
  has_picture_ = false;
}

void StreamDecoder::reset() {
  release();
}

bool StreamDecoder::create(int width, int height) {
  release();
  DecoderSize size{width, height};
  DecoderMemReqs reqs;
  if (decore(kDecoreHandle, kDecoreMemoryRequirements, &size, &reqs) != kDecoreOk) return false;
  // The core keeps its reference pictures itself and asks only for room for
  // its instance; the other five buffers of the record stay empty.
  state_ = platform::Buffer(reqs.state);
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
  if (!picture_.ok() || picture_.size() < bytes) {
    picture_ = platform::Buffer(static_cast<size_t>(kStreamMaxWidth) * kStreamMaxHeight * 3);
  }
  if (!state_.ok() || !picture_.ok()) return false;
  param_.width = width;
  param_.height = height;
  param_.output_format = kOutputRgb24;
  param_.state = state_.data();
  if (decore(kDecoreHandle, kDecoreInitialise, &param_, nullptr) != kDecoreOk) {
    decore(kDecoreHandle, kDecoreRelease, &param_, nullptr);
    param_ = DecoderParam{};
    return false;
  }
  frame_ = DecoderFrame{picture_.data(), nullptr, 0, 1, width};
  usable_ = true;
  return true;
}

bool StreamDecoder::hand_over_picture(platform::Buffer* other) {
  constexpr size_t kFull = static_cast<size_t>(kStreamMaxWidth) * kStreamMaxHeight * 3;
  if (!has_picture_ || other == nullptr || !other->ok() || other->size() < kFull) return false;
  std::swap(picture_, *other);
  frame_.picture = picture_.data();
  has_picture_ = false;
  return true;
}

int StreamDecoder::decode(const uint8_t* data, size_t length) {
  if (data == nullptr || length == 0 || length > static_cast<size_t>(INT32_MAX)) {
    return kDecoreBadPicture;
  }
  // A sequence header carries the picture size; the video object layer start
  // lies within the first bytes after the picture's first start code.
  for (size_t i = 0; i + 3 < length; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    const uint8_t code = data[i + 3];
    if (code == 0xB6) break;  // the picture itself: no sequence header before it
    if ((code & 0xF0) != 0x20) continue;
    uint32_t packed = 0;
    if (!format::probe_video_object_layer(data + i, length - i, &packed)) break;
    const int w = static_cast<int>(packed >> 12);
    const int h = static_cast<int>(packed & 0xFFF);
    if (w > kStreamMaxWidth || h > kStreamMaxHeight) return kStreamTooLarge;
    if (!usable_ || w != param_.width || h != param_.height) {
      if (!create(w, h)) return kStreamNoMemory;
    }
    break;
  }
  if (!usable_) return kDecoreNoSequenceHeader;
  frame_.bitstream = data;
  frame_.length = static_cast<int32_t>(length);
  const int rc = decore(kDecoreHandle, kDecoreDecode, &frame_, &param_);
  frame_.bitstream = nullptr;
  frame_.length = 0;
  if (rc == kDecoreOk) has_picture_ = true;
  return rc;
}

}  // namespace virazav::decoder
