// The recorder's MPEG-4 video: its encoder (libavcodec's MPEG-4 Part 2 encoder at a fixed
// quantizer, one group of pictures per call, no bidirectional pictures), and a decoder for
// checking the material against its known sources.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

#include <cmath>
#include <cstring>
#include <memory>

#include "media/libav_util.h"
#include "media/media.h"

namespace virazav::sim {

namespace {

void read_plane(const uint8_t* src, int stride, int w, int h, std::vector<uint8_t>* dst) {
  dst->resize(static_cast<size_t>(w) * h);
  for (int row = 0; row < h; ++row) {
    std::memcpy(&(*dst)[static_cast<size_t>(row) * w], src + static_cast<ptrdiff_t>(row) * stride,
                static_cast<size_t>(w));
  }
}

// Takes every packet the encoder has ready.
bool drain(AVCodecContext* ctx, AVPacket* pkt, int64_t first_frame,
           std::vector<EncodedPicture>* out, std::string* error) {
  for (;;) {
    int r = avcodec_receive_packet(ctx, pkt);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return av_fail(error, "avcodec_receive_packet", r);
    EncodedPicture p;
    p.data.assign(pkt->data, pkt->data + pkt->size);
    p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    p.frame = first_frame + pkt->pts;
    out->push_back(std::move(p));
    av_packet_unref(pkt);
  }
}

}  // namespace

bool encode_video_packets(const SyntheticChannel& source, int64_t first_frame, int count,
                          const VideoSettings& settings, std::vector<EncodedPicture>* out,
                          std::string* error) {
  out->clear();
  if (count <= 0) return true;
  if (source.width() != settings.width || source.height() != settings.height) {
    return av_fail(error, "source and settings differ in picture size");
  }
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return av_fail(error, "no MPEG-4 encoder");
  ContextPtr ctx(avcodec_alloc_context3(codec));
  FramePtr frame(av_frame_alloc());
  PacketPtr pkt(av_packet_alloc());
  if (!ctx || !frame || !pkt) return av_fail(error, "out of memory");

  ctx->width = settings.width;
  ctx->height = settings.height;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = AVRational{1, settings.fps};
  ctx->framerate = AVRational{settings.fps, 1};
  ctx->gop_size = count;  // the group is one call: one intra picture at its start
  ctx->max_b_frames = 0;
  ctx->thread_count = 1;
  // Bit-exact output: the same pictures always encode to the same bytes, and the encoder
  // leaves out its name and version.
  ctx->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
  ctx->global_quality = FF_QP2LAMBDA * settings.quantizer;
  int r = avcodec_open2(ctx.get(), codec, nullptr);
  if (r < 0) return av_fail(error, "avcodec_open2", r);

  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = settings.width;
  frame->height = settings.height;
  r = av_frame_get_buffer(frame.get(), 0);
  if (r < 0) return av_fail(error, "av_frame_get_buffer", r);

  for (int i = 0; i < count; ++i) {
    r = av_frame_make_writable(frame.get());
    if (r < 0) return av_fail(error, "av_frame_make_writable", r);
    Picture pic = source.source_picture(first_frame + i);
    copy_plane(pic.y, pic.width, pic.height, frame->data[0], frame->linesize[0]);
    copy_plane(pic.u, pic.width / 2, pic.height / 2, frame->data[1], frame->linesize[1]);
    copy_plane(pic.v, pic.width / 2, pic.height / 2, frame->data[2], frame->linesize[2]);
    frame->pts = i;
    frame->pict_type = i == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    frame->quality = ctx->global_quality;
    r = avcodec_send_frame(ctx.get(), frame.get());
    if (r < 0) return av_fail(error, "avcodec_send_frame", r);
    if (!drain(ctx.get(), pkt.get(), first_frame, out, error)) return false;
  }
  r = avcodec_send_frame(ctx.get(), nullptr);
  if (r < 0) return av_fail(error, "avcodec_send_frame (flush)", r);
  if (!drain(ctx.get(), pkt.get(), first_frame, out, error)) return false;
  if (out->size() != static_cast<size_t>(count)) return av_fail(error, "encoder dropped pictures");
  return true;
}

bool decode_video_packets(const std::vector<std::vector<uint8_t>>& pictures,
                          std::vector<Picture>* out, std::string* error) {
  out->clear();
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return av_fail(error, "no MPEG-4 decoder");
  ContextPtr ctx(avcodec_alloc_context3(codec));
  FramePtr frame(av_frame_alloc());
  PacketPtr pkt(av_packet_alloc());
  if (!ctx || !frame || !pkt) return av_fail(error, "out of memory");
  ctx->thread_count = 1;
  int r = avcodec_open2(ctx.get(), codec, nullptr);
  if (r < 0) return av_fail(error, "avcodec_open2", r);

  auto take_frames = [&]() {
    for (;;) {
      int rr = avcodec_receive_frame(ctx.get(), frame.get());
      if (rr == AVERROR(EAGAIN) || rr == AVERROR_EOF) return true;
      if (rr < 0) return av_fail(error, "avcodec_receive_frame", rr);
      Picture p;
      p.width = frame->width;
      p.height = frame->height;
      read_plane(frame->data[0], frame->linesize[0], p.width, p.height, &p.y);
      read_plane(frame->data[1], frame->linesize[1], p.width / 2, p.height / 2, &p.u);
      read_plane(frame->data[2], frame->linesize[2], p.width / 2, p.height / 2, &p.v);
      out->push_back(std::move(p));
      av_frame_unref(frame.get());
    }
  };

  for (const auto& data : pictures) {
    // The decoder reads past the end of its input by design; give it padded bytes.
    std::vector<uint8_t> padded(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(padded.data(), data.data(), data.size());
    pkt->data = padded.data();
    pkt->size = static_cast<int>(data.size());
    r = avcodec_send_packet(ctx.get(), pkt.get());
    pkt->data = nullptr;
    pkt->size = 0;
    if (r < 0) return av_fail(error, "avcodec_send_packet", r);
    if (!take_frames()) return false;
  }
  r = avcodec_send_packet(ctx.get(), nullptr);
  if (r < 0) return av_fail(error, "avcodec_send_packet (flush)", r);
  return take_frames();
}

double luma_psnr(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.y.size() != b.y.size() || a.y.empty()) {
    return 0;
  }
  double sum = 0;
  for (size_t i = 0; i < a.y.size(); ++i) {
    double d = static_cast<double>(a.y[i]) - static_cast<double>(b.y[i]);
    sum += d * d;
  }
  if (sum == 0) return 99;
  double mse = sum / static_cast<double>(a.y.size());
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace virazav::sim
