// The record index on a full-size disk (250 blocks of 25,000 segment slots):
// loading the index, searching a time and reading a chunk, each next to the raw
// sector reads the operation needs, measured in the same run. The image is a
// sparse file written by the simulated recorder in /tmp and deleted afterwards.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "virazav.h"

namespace {

namespace recdisk = virazav::recdisk;

constexpr int kDrive = 8;

struct Disk {
  std::string dir;
  virazav::sim::DiskImageInfo info;
  recdisk::RecTime middle;    // a time inside the recorded stretch
  uint32_t chunk_sector = 0;  // a chunk of the stretch
  uint32_t chunk_sectors = 0;
};

Disk g_disk;

recdisk::RecTime to_rec_time(const virazav::sim::RecTime& t) {
  recdisk::RecTime r;
  r.year = static_cast<uint8_t>(t.year), r.month = static_cast<uint8_t>(t.month);
  r.day = static_cast<uint8_t>(t.day), r.hour = static_cast<uint8_t>(t.hour);
  r.minute = static_cast<uint8_t>(t.minute), r.second = static_cast<uint8_t>(t.second);
  return r;
}

bool make_disk() {
  char tmpl[] = "/tmp/virazav-bench-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return false;
  g_disk.dir = tmpl;
  virazav::sim::DiskImageDesc desc;
  desc.full_size_index = true;
  desc.media = false;
  desc.hours = 0.05;
  desc.recording_count = 2;
  desc.channels = 2;
  std::string path = g_disk.dir + "/disk.img";
  std::string error;
  std::fprintf(stderr, "writing a full-size index image to %s ...\n", path.c_str());
  if (!virazav::sim::write_disk_image(desc, path, &g_disk.info, &error)) {
    std::fprintf(stderr, "disk image: %s\n", error.c_str());
    return false;
  }
  const auto& segments = g_disk.info.segments;
  if (segments.empty() || segments[segments.size() / 2].chunks.size() < 2) return false;
  const auto& mid = segments[segments.size() / 2];
  g_disk.middle = to_rec_time(mid.chunks[1].time);
  g_disk.chunk_sector = mid.chunks[1].sector;
  g_disk.chunk_sectors = (mid.chunks[1].size + 511) / 512;
  ::setenv("VIRAZAV_PHYSICALDRIVE8", path.c_str(), 1);
  return hdd_open(kDrive) == 0 && recdisk::first_section_play() == 0;
}

// The raw reads of one index load: three copy headers, the four control records
// and tables from the copy read first, one SegmentTable and one ChunkIndex.
void raw_load_reads(std::vector<uint8_t>& buf) {
  const int32_t copy = recdisk::kCopyStartSectors[recdisk::copy_in_order(0)];
  for (int32_t c : recdisk::kCopyStartSectors) recdisk::read_sectors(c + 1, 1, buf.data());
  const int32_t items[][2] = {{2, 1},  {3, 6},   {9, 1},  {10, 13},
                              {23, 1}, {24, 55}, {79, 1}, {80, 3}};
  for (const auto& item : items)
    recdisk::read_sectors(copy + item[0], static_cast<uint32_t>(item[1]), buf.data());
  recdisk::read_sectors(copy + 83 + 977 * recdisk::position().block, 977, buf.data());
  recdisk::read_sectors(static_cast<int32_t>(g_disk.chunk_sector), 3, buf.data());
}

void BM_LoadIndex(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(recdisk::load_record_index(recdisk::LoadMode::kKeep));
}
BENCHMARK(BM_LoadIndex)->Unit(benchmark::kMillisecond);

void BM_LoadIndexRawReads(benchmark::State& state) {
  std::vector<uint8_t> buf(977 * 512);
  for (auto _ : state) raw_load_reads(buf);
}
BENCHMARK(BM_LoadIndexRawReads)->Unit(benchmark::kMillisecond);

void BM_SearchTime(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(recdisk::search_by_time(g_disk.middle));
}
BENCHMARK(BM_SearchTime)->Unit(benchmark::kMillisecond);

// The reads of a search that finds its time under the newest attribute: the time
// attribute ring afresh, one load, the block's SegmentTable and two ChunkIndexes.
void BM_SearchTimeRawReads(benchmark::State& state) {
  std::vector<uint8_t> buf(977 * 512);
  const int32_t copy = recdisk::kCopyStartSectors[recdisk::copy_in_order(0)];
  for (auto _ : state) {
    recdisk::read_sectors(copy + 2, 1, buf.data());
    recdisk::read_sectors(copy + 3, 6, buf.data());
    raw_load_reads(buf);
    recdisk::read_sectors(copy + 83 + 977 * recdisk::position().block, 977, buf.data());
    recdisk::read_sectors(static_cast<int32_t>(g_disk.chunk_sector), 3, buf.data());
    recdisk::read_sectors(static_cast<int32_t>(g_disk.chunk_sector), 3, buf.data());
  }
}
BENCHMARK(BM_SearchTimeRawReads)->Unit(benchmark::kMillisecond);

void BM_ReadChunk(benchmark::State& state) {
  std::vector<uint8_t> buf(recdisk::kMaxChunkSize);
  uint32_t length = 0;
  recdisk::search_by_time(g_disk.middle);
  recdisk::read_cursor() = recdisk::position().chunk;
  const recdisk::PlayPosition start = recdisk::position();
  for (auto _ : state) {
    // Stay on the same chunk so that every iteration reads the same bytes.
    recdisk::position() = start;
    recdisk::read_cursor() = start.chunk;
    benchmark::DoNotOptimize(recdisk::read_data(buf.data(), &length));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}
BENCHMARK(BM_ReadChunk)->Unit(benchmark::kMicrosecond);

void BM_ReadChunkRawReads(benchmark::State& state) {
  std::vector<uint8_t> buf(recdisk::kMaxChunkSize);
  for (auto _ : state) {
    recdisk::read_sectors(static_cast<int32_t>(g_disk.chunk_sector), g_disk.chunk_sectors,
                          buf.data());
  }
}
BENCHMARK(BM_ReadChunkRawReads)->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration so that main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      real_[run.benchmark_name()] = run.GetAdjustedRealTime();
      cpu_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void print_ratio(const char* what, const std::string& op, const std::string& base) const {
    double real = ratio(real_, op, base), cpu = ratio(cpu_, op, base);
    if (real <= 0 || cpu <= 0) return;
    std::fprintf(stderr, "%-14s %.2fx (CPU %.2fx) the raw sector reads it needs\n", what, real,
                 cpu);
  }

 private:
  static double ratio(const std::map<std::string, double>& t, const std::string& op,
                      const std::string& base) {
    auto a = t.find(op), b = t.find(base);
    return a == t.end() || b == t.end() || b->second <= 0 ? 0 : a->second / b->second;
  }
  std::map<std::string, double> real_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!make_disk()) {
    std::fprintf(stderr, "could not prepare the disk image\n");
    std::error_code ec;
    std::filesystem::remove_all(g_disk.dir, ec);
    return 1;
  }
  // The search writes trace lines to standard output; the report goes to
  // standard error instead.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  RatioReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratio("load index:", "BM_LoadIndex", "BM_LoadIndexRawReads");
  reporter.print_ratio("search time:", "BM_SearchTime", "BM_SearchTimeRawReads");
  reporter.print_ratio("read chunk:", "BM_ReadChunk", "BM_ReadChunkRawReads");
  hdd_close();
  std::error_code ec;
  std::filesystem::remove_all(g_disk.dir, ec);
  benchmark::Shutdown();
  return 0;
}
