// Builders of still-image test material: see still_builder.h.
#include "still_builder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace virazav::testing {
namespace {

// Positions of the recorder's fields in JPEG order.
constexpr size_t kTagLow = 24;
constexpr size_t kDateTime = 34;
constexpr size_t kCamera = 40;
constexpr size_t kSize = 41;
// make_still_bytes builds at least this many bytes, so that every field fits,
// and cuts them to the size asked for afterwards.
constexpr size_t kAppSegmentEnd = 50;

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

void put_fields(std::vector<uint8_t>& j, const StillFields& f, uint32_t size_field) {
  j[kTagLow] = static_cast<uint8_t>(f.tag);
  j[kTagLow + 1] = static_cast<uint8_t>(f.tag >> 8);
  std::memcpy(&j[kDateTime], f.date_time, 6);
  j[kCamera] = static_cast<uint8_t>(0xA0 | (f.camera & 0x0F));  // high bits are not ours
  j[kSize] = static_cast<uint8_t>(size_field >> 16);
  j[kSize + 1] = static_cast<uint8_t>(size_field >> 8);
  j[kSize + 2] = static_cast<uint8_t>(size_field);
}

}  // namespace

std::vector<uint8_t> make_still_bytes(const StillFields& fields, uint32_t size_field, size_t size) {
  std::vector<uint8_t> j(size < kAppSegmentEnd ? kAppSegmentEnd : size);
  for (size_t i = 0; i < j.size(); ++i) j[i] = static_cast<uint8_t>(i * 7 + 3);
  j[0] = 0xFF;
  j[1] = 0xD8;
  put_fields(j, fields, size_field);
  j.resize(size);
  return j;
}

bool decode_jpeg(const std::vector<uint8_t>& jpeg, int* width, int* height, double* mean_luma) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
  if (codec == nullptr) return false;
  std::unique_ptr<AVCodecContext, CodecContextFree> ctx(avcodec_alloc_context3(codec));
  ctx->thread_count = 1;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return false;
  std::vector<uint8_t> padded(jpeg);
  padded.resize(jpeg.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
  pkt->data = padded.data();
  pkt->size = static_cast<int>(jpeg.size());
  if (avcodec_send_packet(ctx.get(), pkt.get()) < 0) return false;
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  if (avcodec_receive_frame(ctx.get(), frame.get()) < 0) return false;
  // A picture decoded from a damaged stream is flagged; only a clean one counts.
  if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT)) return false;
  *width = frame->width;
  *height = frame->height;
  double sum = 0;
  for (int y = 0; y < frame->height; ++y)
    for (int x = 0; x < frame->width; ++x) sum += frame->data[0][y * frame->linesize[0] + x];
  *mean_luma = sum / (static_cast<double>(frame->width) * frame->height);
  return true;
}

void MemoryDisk::store(int64_t sector, const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> stored(jpeg);
  for (size_t i = 0; i + 1 < stored.size(); i += 2) std::swap(stored[i], stored[i + 1]);
  poke(static_cast<size_t>(sector) * recdisk::kStillSectorSize, stored);
}

void MemoryDisk::poke(size_t position, const std::vector<uint8_t>& raw) {
  if (position + raw.size() > bytes_.size()) bytes_.resize(position + raw.size(), 0);
  std::memcpy(bytes_.data() + position, raw.data(), raw.size());
}

int MemoryDisk::read(void* self, int64_t sector, uint32_t count, uint8_t* dest) {
  auto* d = static_cast<MemoryDisk*>(self);
  ++d->requests_;
  d->first_sectors_.push_back(sector);
  if (sector < 0) return -1;
  for (uint32_t i = 0; i < count; ++i)
    if (d->bad_.count(sector + i)) return -2;
  d->sectors_read_ += count;
  size_t from = static_cast<size_t>(sector) * recdisk::kStillSectorSize;
  size_t n = static_cast<size_t>(count) * recdisk::kStillSectorSize;
  for (size_t i = 0; i < n; ++i) dest[i] = from + i < d->bytes_.size() ? d->bytes_[from + i] : 0;
  return 0;
}

bool MemoryDisk::save(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes_.data()),
            static_cast<std::streamsize>(bytes_.size()));
  return static_cast<bool>(out);
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace virazav::testing
