// The composite's scaler: libswscale from BGR24 to BGR24, one cached context
// per scaler, re-made only when the sizes change.
#include "decoder/picture_scaler.h"

#include <climits>

extern "C" {
#include <libswscale/swscale.h>
}

namespace virazav::decoder {
namespace {

struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

}  // namespace

struct PictureScaler::Impl {
  std::unique_ptr<SwsContext, SwsFree> sws;
};

PictureScaler::PictureScaler() : impl_(std::make_unique<Impl>()) {}
PictureScaler::~PictureScaler() = default;

bool PictureScaler::scale(const uint8_t* src, int src_width, int src_height, size_t src_stride,
                          uint8_t* dst, int dst_width, int dst_height, size_t dst_stride) {
  if (src == nullptr || dst == nullptr || src_width <= 0 || src_height <= 0 || dst_width <= 0 ||
      dst_height <= 0) {
    return false;
  }
  if (src_stride < static_cast<size_t>(src_width) * 3 ||
      dst_stride < static_cast<size_t>(dst_width) * 3 || src_stride > INT_MAX ||
      dst_stride > INT_MAX) {
    return false;
  }
  SwsContext* sws =
      sws_getCachedContext(impl_->sws.release(), src_width, src_height, AV_PIX_FMT_BGR24, dst_width,
                           dst_height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  impl_->sws.reset(sws);
  if (sws == nullptr) return false;
  const uint8_t* in[4] = {src, nullptr, nullptr, nullptr};
  const int in_stride[4] = {static_cast<int>(src_stride), 0, 0, 0};
  uint8_t* out[4] = {dst, nullptr, nullptr, nullptr};
  const int out_stride[4] = {static_cast<int>(dst_stride), 0, 0, 0};
  sws_scale(sws, in, in_stride, 0, src_height, out, out_stride);
  return true;
}

}  // namespace virazav::decoder
