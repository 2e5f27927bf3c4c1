// MPEG-4 test material: synthetic pictures, libavcodec's MPEG-4 encoder, PSNR.
#include "support/mpeg4_material.h"

#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace virazav::testing {
namespace {

constexpr uint8_t kBars[8][3] = {{235, 235, 235}, {16, 180, 180}, {180, 180, 16}, {16, 180, 16},
                                 {180, 16, 180},  {16, 16, 180},  {180, 16, 16},  {40, 40, 40}};

}  // namespace

std::vector<uint8_t> synthetic_picture(int width, int height, int frame, int channel) {
  std::vector<uint8_t> p(static_cast<size_t>(width) * height * 3);
  int bx = (frame * 8) % (width > 32 ? width - 32 : 1);
  int by = height / 4;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int bar = y < height / 2 ? (x * 8 / width + channel) % 8 : (y / 16 + channel) % 8;
      const uint8_t* c = kBars[bar];
      if (x >= bx && x < bx + 32 && y >= by && y < by + 32) c = kBars[0];
      uint8_t* px = &p[(static_cast<size_t>(y) * width + x) * 3];
      px[0] = c[0], px[1] = c[1], px[2] = c[2];
    }
  }
  return p;
}

std::vector<EncodedPicture> encode_mpeg4(int width, int height, int frames, int channel, int gop) {
  std::vector<EncodedPicture> out;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!codec) return out;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->width = width;
  ctx->height = height;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = AVRational{1, 30};
  ctx->framerate = AVRational{30, 1};
  ctx->gop_size = gop;
  ctx->max_b_frames = 0;
  ctx->flags |= AV_CODEC_FLAG_QSCALE;
  ctx->global_quality = FF_QP2LAMBDA * 3;
  ctx->thread_count = 1;
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    avcodec_free_context(&ctx);
    return out;
  }
  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_YUV420P;
  f->width = width;
  f->height = height;
  av_frame_get_buffer(f, 32);
  SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height,
                                   AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  AVPacket* pkt = av_packet_alloc();
  auto drain = [&] {
    while (avcodec_receive_packet(ctx, pkt) == 0) {
      EncodedPicture e;
      e.bits.assign(pkt->data, pkt->data + pkt->size);
      e.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
      out.push_back(std::move(e));
      av_packet_unref(pkt);
    }
  };
  for (int i = 0; i < frames; ++i) {
    std::vector<uint8_t> rgb = synthetic_picture(width, height, i, channel);
    av_frame_make_writable(f);
    const uint8_t* src[1] = {rgb.data()};
    int src_stride[1] = {width * 3};
    sws_scale(sws, src, src_stride, 0, height, f->data, f->linesize);
    f->pts = i;
    f->pict_type = i % gop == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    avcodec_send_frame(ctx, f);
    drain();
  }
  avcodec_send_frame(ctx, nullptr);
  drain();
  av_packet_free(&pkt);
  sws_freeContext(sws);
  av_frame_free(&f);
  avcodec_free_context(&ctx);
  return out;
}

double psnr_bottom_up(const uint8_t* decoded, const std::vector<uint8_t>& reference, int width,
                      int height) {
  double sum = 0;
  size_t n = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* d = decoded + static_cast<size_t>(height - 1 - y) * width * 3;
    const uint8_t* r = &reference[static_cast<size_t>(y) * width * 3];
    for (int i = 0; i < width * 3; ++i) {
      double e = static_cast<double>(d[i]) - r[i];
      sum += e * e;
      ++n;
    }
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(n)));
}

std::vector<uint8_t> shift_rows(const std::vector<uint8_t>& picture, int width, int height,
                                int shift) {
  std::vector<uint8_t> out(picture.size());
  size_t row = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    int from = y - shift < 0 ? 0 : y - shift;
    std::copy(picture.begin() + static_cast<long>(from * row),
              picture.begin() + static_cast<long>((from + 1) * row),
              out.begin() + static_cast<long>(y * row));
  }
  return out;
}

}  // namespace virazav::testing
