// Index building throughput over a stream file of more than 1 GiB (made once
// in /tmp, sparse, with real packet headers, and deleted afterwards), next to
// a sequential read of the same file in the same run. Prints the ratio
// (goal: at least 0.5).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/dlplayer.h"
#include "format/stream_format.h"
#include "platform/platform.h"
#include "ratio_reporter.h"

namespace {

namespace dl = virazav::dlplayer;
namespace format = virazav::format;

constexpr uint64_t kFileBytes = (1ULL << 30) + (64ULL << 20);
constexpr uint32_t kPacketBytes = 192 * 1024;  // below the 1 MiB frame buffer

std::string dir() {
  return "/tmp/virazav-index-bench." + std::to_string(getpid());
}
std::string stream_path() {
  return dir() + "/s.mpg";
}

// One packet header with a time stamp and a VOP start (every 10th intra).
std::vector<uint8_t> packet_head(int n, uint32_t size) {
  std::vector<uint8_t> p(format::kPacketHeaderBytes + 5, 0xFF);
  uint32_t pts = 90000u + static_cast<uint32_t>(n) * 3000u;
  uint8_t id = static_cast<uint8_t>(
      (n % 20 < 10 ? format::kVideoStreamBase : format::kAudioStreamBase) + n % 4);
  p[0] = 0, p[1] = 0, p[2] = 1, p[3] = id, p[4] = 0, p[5] = 0, p[6] = 0x80, p[7] = 0x80, p[8] = 18;
  p[9] = static_cast<uint8_t>(0x21 | ((pts >> 29) & 6));
  p[10] = static_cast<uint8_t>(pts >> 22);
  p[11] = static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1);
  p[12] = static_cast<uint8_t>(pts >> 7);
  p[13] = static_cast<uint8_t>((pts << 1) | 1);
  format::encode_field22(0, &p[format::kPrevSizeOffset]);
  format::encode_field22(size, &p[format::kPacketSizeOffset]);
  const uint8_t vop[] = {0, 0, 1, 0xB6, static_cast<uint8_t>(n % 10 == 0 ? 0x00 : 0x40)};
  std::copy(vop, vop + sizeof vop, p.begin() + format::kPacketHeaderBytes);
  return p;
}

void make_file() {
  std::filesystem::create_directories(dir());
  FILE* f = std::fopen(stream_path().c_str(), "wb");
  std::vector<uint8_t> head(format::kStreamHeaderSize);
  format::write_pack_header(0x5A000000, head.data());
  format::write_stream_map(0xFFFF, 0xF, head.data() + format::kPackHeaderSize);
  std::fwrite(head.data(), 1, head.size(), f);
  uint64_t at = head.size();
  for (int n = 0; at + kPacketBytes <= kFileBytes; ++n, at += kPacketBytes) {
    std::vector<uint8_t> p = packet_head(n, kPacketBytes);
    fseeko(f, static_cast<off_t>(at), SEEK_SET);
    std::fwrite(p.data(), 1, p.size(), f);
  }
  std::fclose(f);
  std::filesystem::resize_file(stream_path(), at);  // the rest of each packet is a hole
}

void BM_SequentialRead(benchmark::State& state) {
  std::vector<uint8_t> buf(1 << 20);
  uint64_t bytes = 0;
  for (auto _ : state) {
    FILE* f = std::fopen(stream_path().c_str(), "rb");
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) bytes += n;
    std::fclose(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_IndexBuild(benchmark::State& state) {
  virazav::dlplayer::decode_init();
  uint64_t bytes = 0;
  std::string index = dl::index_file_path(dir());
  for (auto _ : state) {
    std::remove(index.c_str());
    unsigned size = dl::file_open(stream_path().c_str(), dir().c_str(), dir().c_str(), 1);
    if (size == 0 || dl::frame_index(dir().c_str(), 0) != 1) state.SkipWithError("index not built");
    dl::file_close();
    bytes += std::filesystem::file_size(stream_path());
  }
  state.counters["entries"] = dl::index_last_valid() + 1;
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  virazav::dlplayer::decode_deinit();
}

BENCHMARK(BM_SequentialRead)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond)->MinTime(1.0);

using virazav::bench::RatioReporter;

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  virazav::platform::set_message_handler([](const char*, const char*, void*) {}, nullptr);
  make_file();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto find = [&](const std::string& prefix) {
    for (auto& [name, v] : reporter.times) {
      if (name.rfind(prefix, 0) == 0) return v;
    }
    return 0.0;
  };
  double read = find("BM_SequentialRead"), build = find("BM_IndexBuild");
  if (read > 0 && build > 0) {
    std::printf("ratio index building / sequential read throughput: %.3f (goal >= 0.5)\n",
                read / build);
  }
  std::filesystem::remove_all(dir());
  benchmark::Shutdown();
  return 0;
}
