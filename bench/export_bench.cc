// Throughput of the export of a stream file to Matroska and to MP4, next to a plain
// sequential read of the same file in the same run; prints the ratios. The stream file
// holds a minute of four channels of the simulated recorder's pictures and their sound,
// laid out as a download writes it (docs/formats/stream-file.md).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "export/exporter.h"
#include "export/recording_source.h"
#include "format/stream_format.h"
#include "media/recording.h"
#include "ratio_reporter.h"

namespace {

namespace fs = std::filesystem;
using virazav::bench::RatioReporter;
namespace exporting = virazav::cli::exporting;

constexpr int kChannels = 4;
constexpr int kSeconds = 60;
constexpr int kFps = 10;

struct Setup {
  std::string dir;
  std::string stream;
  int64_t bytes = 0;
};

Setup& setup() {
  static Setup s;
  return s;
}

// Writes the stream file: pack header, stream map, then second by second every channel's
// pictures followed by the sound packets that begin in that second.
bool make_stream_file() {
  Setup& s = setup();
  char tmpl[] = "/tmp/virazav-bench-export-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return false;
  s.dir = tmpl;
  s.stream = s.dir + "/rec.mpg";
  virazav::sim::RecordingOptions options;
  options.video_channels = (1u << kChannels) - 1;
  options.audio_channels = (1u << kChannels) - 1;
  options.seconds = kSeconds;
  options.video.fps = kFps;
  virazav::sim::Recording recording(options);
  std::FILE* f = std::fopen(s.stream.c_str(), "wb");
  if (f == nullptr) return false;
  uint8_t head[virazav::format::kStreamHeaderSize];
  virazav::format::write_pack_header(0x10000000, head);
  virazav::format::write_stream_map(0xFFFF, 0xF, head + virazav::format::kPackHeaderSize);
  std::fwrite(head, 1, sizeof head, f);
  int64_t audio_index = 0;
  for (int second = 0; second < kSeconds; ++second) {
    for (int ch = 0; ch < kChannels; ++ch) {
      for (const std::vector<uint8_t>& p : recording.video_packets(ch, second)) {
        std::fwrite(p.data(), 1, p.size(), f);
      }
    }
    const int64_t next_second = static_cast<int64_t>(second + 1) * virazav::sim::kPtsRate;
    for (; static_cast<int64_t>(audio_index) * virazav::sim::kAudioPacketTicks < next_second;
         ++audio_index) {
      for (int ch = 0; ch < kChannels; ++ch) {
        const std::vector<uint8_t> p = recording.audio_packet(ch, audio_index);
        std::fwrite(p.data(), 1, p.size(), f);
      }
    }
  }
  const bool ok = std::fclose(f) == 0;
  s.bytes = static_cast<int64_t>(fs::file_size(s.stream));
  return ok;
}

void BM_PlainRead(benchmark::State& state) {
  const Setup& s = setup();
  std::vector<uint8_t> block(size_t{4} << 20);
  for (auto _ : state) {
    std::FILE* f = std::fopen(s.stream.c_str(), "rb");
    size_t total = 0, n = 0;
    while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) total += n;
    std::fclose(f);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * s.bytes);
}

void export_to(benchmark::State& state, exporting::Container container, const char* name) {
  const Setup& s = setup();
  exporting::ExportRequest request;
  request.container = container;
  request.output = s.dir + "/" + name;
  for (auto _ : state) {
    exporting::RecordingSource source;
    std::string error;
    exporting::ExportReport report;
    if (!source.open(s.stream, &error) ||
        exporting::export_recording(source, request, &report, &error) != exporting::kExportDone) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * s.bytes);
}

void BM_ExportMatroska(benchmark::State& state) {
  export_to(state, exporting::Container::kMatroska, "out.mkv");
}
void BM_ExportMp4(benchmark::State& state) {
  export_to(state, exporting::Container::kMp4, "out.mp4");
}

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_ExportMatroska)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_ExportMp4)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!make_stream_file()) return 1;
  std::printf("stream file: %lld bytes, %d channels, %d s\n", static_cast<long long>(setup().bytes),
              kChannels, kSeconds);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Each run processes the same bytes, so the ratio of the times is the ratio of the
  // throughputs.
  const double read = reporter.find("BM_PlainRead");
  const double mkv = reporter.find("BM_ExportMatroska");
  const double mp4 = reporter.find("BM_ExportMp4");
  if (read > 0 && mkv > 0)
    std::printf("ratio export .mkv / plain read throughput: %.4f\n", read / mkv);
  if (read > 0 && mp4 > 0)
    std::printf("ratio export .mp4 / plain read throughput: %.4f\n", read / mp4);
  std::error_code ec;
  fs::remove_all(setup().dir, ec);
  benchmark::Shutdown();
  return 0;
}
