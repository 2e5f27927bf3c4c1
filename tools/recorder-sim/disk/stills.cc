// JPEG stills of the still area: pictures of the synthetic cameras at moments spread over
// the recorded stretch, encoded as JPEG, given the recorder's header and stored word-swapped
// one after the other from sector boundaries.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "disk/disk_format.h"
#include "disk/stills.h"
#include "media/libav_util.h"

namespace virazav::sim::diskimg {

namespace {

constexpr uint8_t kSoi[2] = {0xFF, 0xD8};
constexpr uint8_t kEoi[2] = {0xFF, 0xD9};
constexpr uint8_t kApp15 = 0xEF;
constexpr uint8_t kFill = 0xFF;
constexpr uint8_t kStillLayoutVersion = 1;

}  // namespace

bool encode_jpeg(const Picture& picture, int quantizer, std::vector<uint8_t>* out,
                 std::string* error) {
  out->clear();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (codec == nullptr) return av_fail(error, "no JPEG encoder");
  std::unique_ptr<AVCodecContext, CodecContextFree> ctx(avcodec_alloc_context3(codec));
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
  if (!ctx || !frame || !pkt) return av_fail(error, "out of memory");
  ctx->width = picture.width;
  ctx->height = picture.height;
  ctx->pix_fmt = AV_PIX_FMT_YUVJ420P;
  ctx->color_range = AVCOL_RANGE_JPEG;
  ctx->time_base = AVRational{1, 25};
  ctx->thread_count = 1;
  ctx->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
  ctx->global_quality = FF_QP2LAMBDA * quantizer;
  int r = avcodec_open2(ctx.get(), codec, nullptr);
  if (r < 0) return av_fail(error, "avcodec_open2 (JPEG)", r);
  frame->format = AV_PIX_FMT_YUVJ420P;
  frame->width = picture.width;
  frame->height = picture.height;
  r = av_frame_get_buffer(frame.get(), 0);
  if (r < 0) return av_fail(error, "av_frame_get_buffer", r);
  copy_plane(picture.y, picture.width, picture.height, frame->data[0], frame->linesize[0]);
  copy_plane(picture.u, picture.width / 2, picture.height / 2, frame->data[1], frame->linesize[1]);
  copy_plane(picture.v, picture.width / 2, picture.height / 2, frame->data[2], frame->linesize[2]);
  frame->pts = 0;
  frame->quality = ctx->global_quality;
  r = avcodec_send_frame(ctx.get(), frame.get());
  if (r < 0) return av_fail(error, "avcodec_send_frame (JPEG)", r);
  r = avcodec_send_frame(ctx.get(), nullptr);
  if (r < 0) return av_fail(error, "avcodec_send_frame (JPEG flush)", r);
  for (;;) {
    r = avcodec_receive_packet(ctx.get(), pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) return av_fail(error, "avcodec_receive_packet (JPEG)", r);
    out->insert(out->end(), pkt->data, pkt->data + pkt->size);
    av_packet_unref(pkt.get());
  }
  if (out->size() < 4) return av_fail(error, "the JPEG encoder gave no picture");
  return true;
}

bool make_still(const std::vector<uint8_t>& jpeg, StillInfo* still, std::string* error) {
  if (jpeg.size() < 4 || jpeg[0] != kSoi[0] || jpeg[1] != kSoi[1] ||
      jpeg[jpeg.size() - 2] != kEoi[0] || jpeg[jpeg.size() - 1] != kEoi[1]) {
    return av_fail(error, "not a whole JPEG");
  }
  std::vector<uint8_t> j(kStillHeaderEnd, 0);
  j[0] = kSoi[0];
  j[1] = kSoi[1];
  j[kStillSegmentMarker] = 0xFF;
  j[kStillSegmentMarker + 1] = kApp15;
  j[kStillSegmentLength] = 0;
  j[kStillSegmentLength + 1] = kStillSegmentBytes;
  j[kStillVersion] = kStillLayoutVersion;
  j[kStillClass] = static_cast<uint8_t>((still->still_class << 4) | (still->channel & 0x0F));
  put_u16le(&j[kStillSerial], still->serial);
  j[kStillChannel] = static_cast<uint8_t>(still->channel);
  put_rec_time(&j[kStillTime], still->time);
  j[kStillFrame] = static_cast<uint8_t>(still->frame & 0x0F);
  j.insert(j.end(), jpeg.begin() + 2, jpeg.end());
  // The recorder writes whole 16-bit words; an odd JPEG gets a fill byte before its EOI,
  // which every JPEG reader passes over.
  if (j.size() % 2 != 0) j.insert(j.end() - 2, kFill);
  if (j.size() >= kStillMaxSize) return av_fail(error, "a still would be 256 KiB or longer");
  put_u24be(&j[kStillSize], static_cast<uint32_t>(j.size()));
  still->size = static_cast<uint32_t>(j.size());
  still->jpeg = std::move(j);
  return true;
}

std::vector<uint8_t> stored_order(const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> s(jpeg.size() + jpeg.size() % 2, 0);
  std::copy(jpeg.begin(), jpeg.end(), s.begin());
  for (size_t k = 0; k + 1 < s.size(); k += 2) std::swap(s[k], s[k + 1]);
  return s;
}

bool write_still_area(const DiskImageDesc& desc, const DiskPlan& plan, uint32_t first_sector,
                      ImageFile* file, StillArea* out, std::string* error) {
  out->first_sector = first_sector;
  uint32_t sector = first_sector;
  const int64_t n = desc.stills;
  const int per_second = std::min(desc.video.fps, 10);
  for (int64_t i = 0; i < n; ++i) {
    StillInfo still;
    // Stills lie at moments (2i + 1) / 2n of the way through the stretch.
    const int64_t second = (2 * i + 1) * plan.span_s() / (2 * n);
    still.channel = static_cast<int>(i % desc.channels);
    still.frame = static_cast<int>(i % per_second);
    still.time = rec_time_at(plan.clock_at(second)).value_or(RecTime{});
    still.serial = static_cast<uint16_t>(i + 1);
    still.still_class = static_cast<int>(i % 16);
    still.picture = second * desc.video.fps + still.frame;
    const SyntheticChannel camera(still.channel, desc.video.width, desc.video.height);
    std::vector<uint8_t> jpeg;
    if (!encode_jpeg(camera.source_picture(still.picture), desc.still_quality, &jpeg, error) ||
        !make_still(jpeg, &still, error)) {
      return false;
    }
    still.sector = sector;
    if (!file->write_sectors(sector, stored_order(still.jpeg), error)) return false;
    sector += sectors_for(still.size) + static_cast<uint32_t>(desc.still_gap_sectors);
    out->stills.push_back(std::move(still));
  }
  const uint32_t used = sector - first_sector + kStillAreaTailSectors;
  out->sectors = (used + kAreaAlignSectors - 1) / kAreaAlignSectors * kAreaAlignSectors;
  return true;
}

}  // namespace virazav::sim::diskimg
