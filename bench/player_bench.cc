// The library's own player at full speed: a copy pair of four channels of
// 352 x 240 pictures (the simulated recorder's media) played through the file
// feeder with the player's thread unpaced (its benchmark mode: every picture
// decoded and shown the moment it is walked), next to a plain libavcodec +
// libswscale loop over the same pictures in the same run (goal: at least 0.8 of
// its pictures a second). Also the cost of one composite (get_bmpdata) and one
// snapshot (make_bmp_one, four files) next to a memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "disk/disk_image.h"
#include "format/bytes.h"
#include "player/own/player_state.h"
#include "player/player_library.h"
#include "ratio_reporter.h"
#include "virazav.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

namespace fs = std::filesystem;
namespace own = virazav::player::own;

constexpr int kWidth = 352, kHeight = 240, kChannels = 4, kSeconds = 60;
constexpr size_t kCompositeBytes = 1013760;

struct Material {
  std::string dir, data, index;
  std::vector<std::vector<uint8_t>> chunks;  // each chunk's disk packets
  uint64_t pictures = 0;
};

// A media disk image of the simulated recorder, its chunks read back and
// written as a copy pair (docs/formats/copy-media.md).
const Material& material() {
  static Material m = [] {
    Material m;
    m.dir = (fs::temp_directory_path() / "virazav-player-bench").string();
    fs::create_directories(m.dir);
    virazav::sim::DiskImageDesc desc;
    desc.recordings = {virazav::sim::RecordingPlan{kSeconds, 0, 0, false}};
    desc.channels = kChannels;
    desc.video.width = kWidth;
    desc.video.height = kHeight;
    desc.video.fps = 10;
    virazav::sim::DiskImageInfo info;
    std::string error;
    const std::string image = m.dir + "/disk.img";
    if (!virazav::sim::write_disk_image(desc, image, &info, &error)) {
      std::fprintf(stderr, "disk image: %s\n", error.c_str());
      std::exit(1);
    }
    std::ifstream in(image, std::ios::binary);
    std::vector<uint8_t> data, index;
    for (const auto& seg : info.segments) {
      for (const auto& c : seg.chunks) {
        std::vector<uint8_t> chunk;
        for (const auto& p : c.packets) {
          std::vector<uint8_t> bytes(48 + size_t{p.payload_size});
          in.seekg(static_cast<std::streamoff>(uint64_t{c.sector} * 512 + p.offset));
          in.read(reinterpret_cast<char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
          chunk.insert(chunk.end(), bytes.begin(), bytes.end());
          m.pictures += p.audio ? 0 : 1;
        }
        uint8_t record[24] = {};
        virazav::format::store_le32(record, static_cast<uint32_t>(data.size()));
        virazav::sim::put_rec_time(record + 8, c.time);
        index.insert(index.end(), record, record + 24);
        data.insert(data.end(), chunk.begin(), chunk.end());
        m.chunks.push_back(std::move(chunk));
      }
    }
    m.data = m.dir + "/HDR.dat";
    m.index = m.dir + "/.index";
    std::ofstream(m.data, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    std::ofstream(m.index, std::ios::binary)
        .write(reinterpret_cast<const char*>(index.data()),
               static_cast<std::streamsize>(index.size()));
    return m;
  }();
  return m;
}

// The copy's chunks offered straight to the player's ring, each offered again
// at once while the ring is full: what the player itself decodes a second.
void BM_PlayerUnpaced(benchmark::State& state) {
  const Material& m = material();
  own::set_unpaced(true);
  Zel_play_open(0, 0, 0, 0);
  const virazav::player::PlayerLibrary& p = virazav::player::own_player();
  uint64_t pictures = 0;
  for (auto _ : state) {
    const uint64_t shown = own::pictures_shown();
    const uint64_t walked = own::player_state().counters.blocks.load();
    for (const auto& chunk : m.chunks) {
      while (p.add_ring(0, chunk.data(), static_cast<int>(chunk.size()), 0, 0) != 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    while (own::player_state().counters.blocks.load() < walked + m.chunks.size()) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    pictures += own::pictures_shown() - shown;
  }
  own::set_unpaced(false);
  if (pictures != m.pictures * state.iterations()) state.SkipWithError("pictures missing");
  state.SetItemsProcessed(static_cast<int64_t>(pictures));
}

// The same through the file feeder (playfile, file_play_start), whose offers
// of a refused block come every 5 ms: its own limit, not the player's.
void BM_FileFeederUnpaced(benchmark::State& state) {
  const Material& m = material();
  own::set_unpaced(true);
  Zel_play_open(0, 0, 0, 0);
  uint64_t pictures = 0;
  for (auto _ : state) {
    const uint64_t shown = own::pictures_shown();
    const uint64_t walked = own::player_state().counters.blocks.load();
    playfile(m.data.c_str(), m.index.c_str(), 0);
    file_play_start();
    while (own::player_state().counters.blocks.load() < walked + m.chunks.size()) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    pictures += own::pictures_shown() - shown;
  }
  file_read_stop();
  own::set_unpaced(false);
  if (pictures != m.pictures * state.iterations()) state.SkipWithError("pictures missing");
  state.SetItemsProcessed(static_cast<int64_t>(pictures));
}

// The elementary stream of each picture packet, per channel.
void BM_PlainDecode(benchmark::State& state) {
  const Material& m = material();
  AVCodecContext* ctx[kChannels];
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  for (AVCodecContext*& c : ctx) {
    c = avcodec_alloc_context3(codec);
    c->thread_count = 1;
    c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    avcodec_open2(c, codec, nullptr);
  }
  AVFrame* f = av_frame_alloc();
  AVPacket* p = av_packet_alloc();
  SwsContext* sws = nullptr;
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  int64_t pictures = 0;
  for (auto _ : state) {
    for (const auto& chunk : m.chunks) {
      for (size_t at = 0; at + 48 <= chunk.size();) {
        const size_t n = virazav::format::load_le32(&chunk[at + 16]);
        const uint8_t* pes = &chunk[at + 48];
        at += 48 + n;
        if ((pes[3] & 0xF0) != 0xE0) continue;
        const size_t header = 9 + size_t{pes[8]};
        av_new_packet(p, static_cast<int>(n - header));
        std::memcpy(p->data, pes + header, n - header);
        AVCodecContext* c = ctx[pes[3] & 3];
        avcodec_send_packet(c, p);
        av_packet_unref(p);
        while (avcodec_receive_frame(c, f) == 0) {
          sws = sws_getCachedContext(sws, f->width, f->height,
                                     static_cast<AVPixelFormat>(f->format), kWidth, kHeight,
                                     AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
          uint8_t* dst[4] = {rgb.data() + static_cast<size_t>(kHeight - 1) * kWidth * 3};
          int stride[4] = {-kWidth * 3};
          sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
          ++pictures;
        }
      }
    }
  }
  state.SetItemsProcessed(pictures);
  sws_freeContext(sws);
  av_packet_free(&p);
  av_frame_free(&f);
  for (AVCodecContext*& c : ctx) avcodec_free_context(&c);
}

// Pictures on every channel, then composites in the quad layout.
void BM_Composite(benchmark::State& state) {
  std::vector<uint8_t> pixels(kCompositeBytes + 1);
  int layout = 0, first = 0, second = 0;
  for (auto _ : state) {
    virazav::player::own_player().get_bmpdata(&layout, &first, &second, pixels.data(), nullptr);
    benchmark::DoNotOptimize(pixels.data());
  }
}

void BM_Snapshot(benchmark::State& state) {
  const fs::path old = fs::current_path();
  fs::current_path(material().dir);
  int layout = 0, first = 0, second = 0;
  for (auto _ : state) make_bmp_one(&layout, &first, &second, nullptr);
  fs::current_path(old);
}

void BM_MemcpyComposite(benchmark::State& state) {
  std::vector<uint8_t> a(kCompositeBytes, 1), b(kCompositeBytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
  }
}

BENCHMARK(BM_PlainDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PlayerUnpaced)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FileFeederUnpaced)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_Composite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyComposite)->Unit(benchmark::kMicrosecond);

using virazav::bench::RatioReporter;

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Both in pictures a second of real time: the player decodes on its own thread.
  auto rate = [&](const std::string& prefix) {
    for (const auto& [name, v] : reporter.rates) {
      if (name.rfind(prefix, 0) == 0) return v;
    }
    return 0.0;
  };
  const double plain = rate("BM_PlainDecode"), ours = rate("BM_PlayerUnpaced");
  if (plain > 0 && ours > 0) {
    std::printf("ratio own player / plain decode loop, pictures a second: %.3f (goal >= 0.8)\n",
                ours / plain);
    std::printf(
        "ratio file feeder + own player / plain decode loop: %.3f (feeder retries every 5 ms)\n",
        rate("BM_FileFeederUnpaced") / plain);
  }
  const double copy = reporter.find("BM_MemcpyComposite");
  if (copy > 0) {
    std::printf("composite (get_bmpdata) / memcpy of its 1,013,760 bytes: %.1f\n",
                reporter.find("BM_Composite") / copy);
    std::printf("snapshot (make_bmp_one, 4 files) / memcpy of the same bytes: %.1f\n",
                reporter.find("BM_Snapshot") / copy);
  }
  play_end();
  benchmark::Shutdown();
  return 0;
}
