// The decoding core behind `decore`: libavcodec's MPEG-4 Visual decoder, one
// single-threaded context per instance driven through send/receive, libswscale
// for the 24-bit bottom-up output, and libpostproc for the deblocking and
// deringing levels. libavcodec errors are translated here, in one place.
#include "decoder/core_instance.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "decoder/decore.h"
#include "platform/platform.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/video_enc_params.h>
#include <libpostproc/postprocess.h>
#include <libswscale/swscale.h>
}

namespace virazav::decoder {
namespace {

constexpr int64_t kDefaultPixelLimit = 4095LL * 4095LL;
std::atomic<int64_t> g_pixel_limit{kDefaultPixelLimit};
std::atomic<bool> g_av_log_to_trace{false};

// Quantiser used for post-processing when the decoder exports none.
constexpr int8_t kFallbackQuantiser = 8;

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct PpContextFree {
  void operator()(pp_context* c) const { pp_free_context(c); }
};
struct PpModeFree {
  void operator()(pp_mode* m) const { pp_free_mode(m); }
};

void av_log_sink(void* avcl, int level, const char* fmt, va_list args) {
  if (!g_av_log_to_trace.load() || level > AV_LOG_ERROR) return;
  char line[512];
  int print_prefix = 1;
  av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &print_prefix);
  std::string text = "decoder: ";
  text += line;
  platform::trace(text.c_str());
}

// The libpostproc mode text of a filter set: bit 0 luma horizontal deblocking,
// bit 1 luma vertical deblocking, bit 2 chroma horizontal deblocking, bit 3
// chroma vertical deblocking, bit 4 luma deringing, bit 5 chroma deringing.
std::string pp_mode_text(int set) {
  auto part = [](const char* filter, bool luma, bool chroma) -> std::string {
    if (luma && chroma) return std::string(filter);
    if (luma) return std::string(filter) + ":y";    // luma only
    if (chroma) return std::string(filter) + ":n";  // chroma only
    return std::string();
  };
  std::string text;
  for (const std::string& p : {part("hb", set & 1, set & 4), part("vb", set & 2, set & 8),
                               part("dr", set & 16, set & 32)}) {
    if (p.empty()) continue;
    if (!text.empty()) text += "/";
    text += p;
  }
  return text;
}

}  // namespace

void set_core_pixel_limit(int64_t pixels) {
  g_pixel_limit.store(pixels > 0 ? pixels : kDefaultPixelLimit);
}

namespace detail {

int translate_av_error(int av_error) {
  switch (av_error) {
    case 0:
      return kDecoreOk;
    case AVERROR(ENOMEM):
      return kDecoreNoMemory;
    case AVERROR(EAGAIN):
      return kDecoreBadPicture;  // the bit-stream held no whole picture
    case AVERROR_EOF:
      return kDecoreBadPicture;
    case AVERROR_INVALIDDATA:
      return kDecoreBadPicture;
    case AVERROR_PATCHWELCOME:
      return kDecoreBadPicture;
    case AVERROR(EINVAL):
      return kDecoreBadArgument;
    default:
      return kDecoreBadPicture;
  }
}

void route_av_log() {
  static std::once_flag once;
  g_av_log_to_trace.store(platform::get_env("VIRAZAV_DECODER_LOG", nullptr));
  std::call_once(once, [] { av_log_set_callback(av_log_sink); });
}

struct CoreInstance::Impl {
  std::unique_ptr<AVCodecContext, CodecContextFree> ctx;
  std::unique_ptr<AVFrame, FrameFree> frame;
  std::unique_ptr<AVFrame, FrameFree> filtered;
  std::unique_ptr<AVPacket, PacketFree> packet;
  std::unique_ptr<SwsContext, SwsFree> sws;
  std::unique_ptr<pp_context, PpContextFree> pp;
  std::unique_ptr<pp_mode, PpModeFree> pp_mode_;
  int pp_width = 0, pp_height = 0, pp_set = 0;
  std::string qp;  // per-macroblock quantisers for the post-processing filter

  // Runs the post-processing filter set over `src` into `filtered`. Returns the
  // frame to convert: `filtered`, or `src` when the filter cannot run.
  const AVFrame* post_process(const AVFrame* src, int set);
};

const AVFrame* CoreInstance::Impl::post_process(const AVFrame* src, int set) {
  if (src->format != AV_PIX_FMT_YUV420P) return src;
  int w = src->width, h = src->height;
  if (!pp || pp_width != w || pp_height != h) {
    pp.reset(pp_get_context(w, h, PP_FORMAT_420 | PP_CPU_CAPS_AUTO));
    pp_width = w, pp_height = h;
    filtered.reset();
  }
  if (!pp_mode_ || pp_set != set) {
    pp_mode_.reset(pp_get_mode_by_name_and_quality(pp_mode_text(set).c_str(), PP_QUALITY_MAX));
    pp_set = set;
  }
  if (!pp || !pp_mode_) return src;
  if (!filtered) {
    filtered.reset(av_frame_alloc());
    if (!filtered) return src;
    filtered->format = AV_PIX_FMT_YUV420P;
    filtered->width = w;
    filtered->height = h;
    if (av_frame_get_buffer(filtered.get(), 32) < 0) {
      filtered.reset();
      return src;
    }
  }
  int mb_w = (w + 15) / 16, mb_h = (h + 15) / 16;
  qp.assign(static_cast<size_t>(mb_w) * mb_h, static_cast<char>(kFallbackQuantiser));
  if (const AVFrameSideData* sd = av_frame_get_side_data(src, AV_FRAME_DATA_VIDEO_ENC_PARAMS)) {
    const auto* par = reinterpret_cast<const AVVideoEncParams*>(sd->data);
    for (unsigned i = 0; i < par->nb_blocks; ++i) {
      const AVVideoBlockParams* b =
          av_video_enc_params_block(const_cast<AVVideoEncParams*>(par), i);
      int x = b->src_x / 16, y = b->src_y / 16;
      if (x < 0 || y < 0 || x >= mb_w || y >= mb_h) continue;
      int q = par->qp + b->delta_qp;
      qp[static_cast<size_t>(y) * mb_w + x] = static_cast<char>(q < 1 ? 1 : q > 31 ? 31 : q);
    }
  }
  const uint8_t* in[3] = {src->data[0], src->data[1], src->data[2]};
  uint8_t* out[3] = {filtered->data[0], filtered->data[1], filtered->data[2]};
  pp_postprocess(in, src->linesize, out, filtered->linesize, w, h,
                 reinterpret_cast<const int8_t*>(qp.data()), mb_w, pp_mode_.get(), pp.get(),
                 src->pict_type == AV_PICTURE_TYPE_I ? PP_PICT_TYPE_QP2 : 0);
  return filtered.get();
}

CoreInstance::CoreInstance() : impl_(std::make_unique<Impl>()) {}
CoreInstance::~CoreInstance() = default;

bool CoreInstance::is_open() const {
  return impl_ && impl_->ctx != nullptr;
}

int CoreInstance::open() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return kDecoreNoMemory;
  std::unique_ptr<AVCodecContext, CodecContextFree> ctx(avcodec_alloc_context3(codec));
  if (!ctx) return kDecoreNoMemory;
  // One thread and no frame delay: every call returns its own picture.
  ctx->thread_count = 1;
  ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
  ctx->max_pixels = g_pixel_limit.load();
  int rc = avcodec_open2(ctx.get(), codec, nullptr);
  if (rc < 0) return kDecoreNoMemory;
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!frame || !packet) return kDecoreNoMemory;
  impl_->ctx = std::move(ctx);
  impl_->frame = std::move(frame);
  impl_->packet = std::move(packet);
  return kDecoreOk;
}

int CoreInstance::decode(const uint8_t* bits, size_t length, uint8_t* picture, int width,
                         int height, int stride, int post_level) {
  if (!is_open()) return kDecoreInvalidState;
  if (bits == nullptr || length == 0 || length > static_cast<size_t>(INT32_MAX) - 64) {
    return kDecoreBadPicture;
  }
  Impl& m = *impl_;
  int set = post_processing_filter_set(post_level);
  if (set != 0) {
    m.ctx->export_side_data |= AV_CODEC_EXPORT_DATA_VIDEO_ENC_PARAMS;
  } else {
    m.ctx->export_side_data &= ~AV_CODEC_EXPORT_DATA_VIDEO_ENC_PARAMS;
  }
  // The packet owns a copy of the bit-stream followed by the zero padding that
  // the bit reader may run into.
  av_packet_unref(m.packet.get());
  int rc = av_new_packet(m.packet.get(), static_cast<int>(length));
  if (rc < 0) return translate_av_error(rc);
  std::memcpy(m.packet->data, bits, length);
  rc = avcodec_send_packet(m.ctx.get(), m.packet.get());
  av_packet_unref(m.packet.get());
  if (rc < 0) return translate_av_error(rc);
  // Take the newest picture the packet produced (more than one only for a
  // stream with bidirectional pictures, which the recorder does not make).
  bool have = false;
  while (true) {
    av_frame_unref(m.frame.get());
    rc = avcodec_receive_frame(m.ctx.get(), m.frame.get());
    if (rc < 0) break;
    have = true;
    // Each picture is converted as it comes, so the last one stays.
    if (picture == nullptr) continue;
    const AVFrame* src = m.frame.get();
    if (src->width <= 0 || src->height <= 0) return kDecoreBadPicture;
    if (set != 0) src = m.post_process(src, set);
    SwsContext* sws = sws_getCachedContext(
        m.sws.release(), src->width, src->height, static_cast<AVPixelFormat>(src->format), width,
        height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    m.sws.reset(sws);
    if (sws == nullptr) return kDecoreBadPicture;
    // Bottom-up rows: start at the last row and step backwards.
    int row = stride * 3;
    uint8_t* dst[4] = {picture + static_cast<size_t>(height - 1) * row, nullptr, nullptr, nullptr};
    int dst_stride[4] = {-row, 0, 0, 0};
    sws_scale(sws, src->data, src->linesize, 0, src->height, dst, dst_stride);
  }
  if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && !have) return translate_av_error(rc);
  return have ? kDecoreOk : kDecoreBadPicture;
}

}  // namespace detail
}  // namespace virazav::decoder
