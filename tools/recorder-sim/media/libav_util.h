// Owners of libavcodec's objects and the small helpers that the simulated recorder's
// encoders share (MPEG-4 video and JPEG stills).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace virazav::sim {

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using ContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

// Stores `what` (and libavcodec's text for a non-zero code) in *error when given;
// returns false so that callers can write `return av_fail(error, "...", rc);`.
inline bool av_fail(std::string* error, const std::string& what, int code = 0) {
  if (error != nullptr) {
    *error = what;
    if (code != 0) {
      char text[AV_ERROR_MAX_STRING_SIZE] = {};
      av_strerror(code, text, sizeof text);
      *error += std::string(": ") + text;
    }
  }
  return false;
}

// Copies a tightly packed plane of w × h bytes into a frame plane with its stride.
inline void copy_plane(const std::vector<uint8_t>& src, int w, int h, uint8_t* dst, int stride) {
  for (int row = 0; row < h; ++row) {
    std::memcpy(dst + static_cast<ptrdiff_t>(row) * stride, &src[static_cast<size_t>(row) * w],
                static_cast<size_t>(w));
  }
}

}  // namespace virazav::sim
