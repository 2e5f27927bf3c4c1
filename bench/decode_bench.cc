// Decode throughput of decode_loaded_frame with colour conversion on a
// 704 × 480 stream, next to a plain libavcodec + libswscale loop over the
// same stream in the same run. Prints the ratio (goal: at least 0.9).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/dlplayer.h"
#include "format/stream_format.h"
#include "ratio_reporter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kWidth = 704, kHeight = 480, kFrames = 60, kGop = 30;

// Encodes a moving test picture with libavcodec's MPEG-4 encoder.
std::vector<std::vector<uint8_t>> encode_stream() {
  std::vector<std::vector<uint8_t>> out;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = kWidth;
  c->height = kHeight;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, 30};
  c->gop_size = kGop;
  c->max_b_frames = 0;
  c->bit_rate = 2000000;
  avcodec_open2(c, codec, nullptr);
  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_YUV420P;
  f->width = kWidth;
  f->height = kHeight;
  av_frame_get_buffer(f, 32);
  AVPacket* p = av_packet_alloc();
  for (int i = 0; i <= kFrames; ++i) {
    if (i < kFrames) {
      av_frame_make_writable(f);
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x)
          f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(x + y + i * 3);
      }
      for (int y = 0; y < kHeight / 2; ++y) {
        for (int x = 0; x < kWidth / 2; ++x) {
          f->data[1][y * f->linesize[1] + x] = static_cast<uint8_t>(128 + x / 4 - i);
          f->data[2][y * f->linesize[2] + x] = static_cast<uint8_t>(64 + y / 2 + i);
        }
      }
      f->pts = i;
      avcodec_send_frame(c, f);
    } else {
      avcodec_send_frame(c, nullptr);
    }
    while (avcodec_receive_packet(c, p) == 0) {
      out.emplace_back(p->data, p->data + p->size);
      av_packet_unref(p);
    }
  }
  av_packet_free(&p);
  av_frame_free(&f);
  avcodec_free_context(&c);
  return out;
}

// Each picture as a video packet of channel 0 (header, private fields, picture).
std::vector<std::vector<uint8_t>> make_packets(const std::vector<std::vector<uint8_t>>& pictures) {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& bits : pictures) {
    std::vector<uint8_t> p(virazav::format::kPacketHeaderBytes + bits.size(), 0xFF);
    p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xE0, p[4] = 0, p[5] = 0, p[6] = 0x80, p[7] = 0x80,
    p[8] = 18;
    p[9] = 0x21, p[10] = 0, p[11] = 1, p[12] = 0, p[13] = 1;
    std::copy(bits.begin(), bits.end(), p.begin() + virazav::format::kPacketHeaderBytes);
    virazav::format::encode_field22(0, &p[virazav::format::kPrevSizeOffset]);
    virazav::format::encode_field22(static_cast<uint32_t>(p.size()),
                                    &p[virazav::format::kPacketSizeOffset]);
    out.push_back(std::move(p));
  }
  return out;
}

const std::vector<std::vector<uint8_t>>& pictures() {
  static auto p = encode_stream();
  return p;
}

void BM_DecodeLoadedFrame(benchmark::State& state) {
  static auto packets = make_packets(pictures());
  virazav::dlplayer::decode_init();
  uint8_t* fb = virazav::decoder::frame_buffer();
  // The first packet carries the sequence header and sizes the instances.
  virazav::decoder::decode_frame_buffer(packets[0].data(), packets[0].size(),
                                        virazav::format::kForward);
  int64_t frames = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < packets.size(); ++i) {
      std::memcpy(fb, packets[i].data(), packets[i].size());
      virazav::dlplayer::CurrentPacket cp;
      cp.channel = 0;
      cp.packet_size = static_cast<uint32_t>(packets[i].size());
      cp.loaded = cp.packet_size;
      virazav::dlplayer::set_current_packet(cp);
      if (virazav::dlplayer::decode_loaded_frame() != 1) state.SkipWithError("decode failed");
      ++frames;
    }
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  virazav::dlplayer::decode_deinit();
}

void BM_PlainLibav(benchmark::State& state) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_LOW_DELAY;
  avcodec_open2(c, codec, nullptr);
  AVFrame* f = av_frame_alloc();
  AVPacket* p = av_packet_alloc();
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  SwsContext* sws = nullptr;
  int64_t frames = 0;
  for (auto _ : state) {
    for (const auto& bits : pictures()) {
      av_new_packet(p, static_cast<int>(bits.size()));
      std::memcpy(p->data, bits.data(), bits.size());
      avcodec_send_packet(c, p);
      av_packet_unref(p);
      while (avcodec_receive_frame(c, f) == 0) {
        sws = sws_getCachedContext(sws, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                   kWidth, kHeight, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr,
                                   nullptr, nullptr);
        uint8_t* dst[4] = {rgb.data() + static_cast<size_t>(kHeight - 1) * kWidth * 3};
        int stride[4] = {-kWidth * 3};
        sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
        ++frames;
      }
    }
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  sws_freeContext(sws);
  av_packet_free(&p);
  av_frame_free(&f);
  avcodec_free_context(&c);
}

BENCHMARK(BM_PlainLibav)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeLoadedFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);

using virazav::bench::RatioReporter;

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto find = [&](const std::string& prefix) {
    for (auto& [name, v] : reporter.times) {
      if (name.rfind(prefix, 0) == 0) return v;
    }
    return 0.0;
  };
  double plain = find("BM_PlainLibav"), ours = find("BM_DecodeLoadedFrame");
  if (plain > 0 && ours > 0) {
    std::printf(
        "ratio decode_loaded_frame / plain libavcodec+libswscale throughput: %.3f (goal >= 0.9)\n",
        plain / ours);
  }
  benchmark::Shutdown();
  return 0;
}
