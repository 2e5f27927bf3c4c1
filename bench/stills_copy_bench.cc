// Throughput of the still scan (hdd_read_jpeg over a whole still area) and of the
// disk-to-media copy (hdd_copy_usb of a whole recording), each next to a plain
// sequential read of the same sectors of the same disk image in the same run.
// Prints both ratios. The copy thread runs beside the benchmark's thread, so all
// four are timed in wall-clock time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "platform/platform.h"
#include "player/copy_thread.h"
#include "ratio_reporter.h"
#include "recdisk/disk.h"
#include "virazav.h"

namespace {

constexpr int kDrive = 9;

struct Setup {
  std::string dir;
  virazav::sim::DiskImageInfo info;
  uint32_t video_first = 0, video_sectors = 0;  // the sectors the recording's chunks use
  int copy_start = 0, copy_end = 0;
  uint64_t copied_bytes = 0;  // HDR.dat of one copy
  uint64_t still_bytes = 0;   // the stills of the area
};

Setup& setup() {
  static Setup s;
  return s;
}

bool make_image() {
  Setup& s = setup();
  char tmpl[] = "/tmp/virazav-bench-stills-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return false;
  s.dir = tmpl;
  virazav::sim::DiskImageDesc image_desc;
  image_desc.hours = 10.0 / 60;  // ten minutes: 600 one-second chunks
  image_desc.channels = 4;
  image_desc.media = false;
  image_desc.repeat_after_s = 0;  // every chunk its own sectors, so the baseline reads them all
  image_desc.stills = 300;
  std::string error;
  if (!virazav::sim::write_disk_image(image_desc, s.dir + "/disk.img", &s.info, &error)) {
    std::fprintf(stderr, "disk image: %s\n", error.c_str());
    return false;
  }
  ::setenv(("VIRAZAV_PHYSICALDRIVE" + std::to_string(kDrive)).c_str(),
           (s.dir + "/disk.img").c_str(), 1);
  if (hdd_open(kDrive) != 0) return false;
  first_section_play();
  uint32_t lo = UINT32_MAX, hi = 0;
  for (const auto& seg : s.info.segments)
    for (const auto& c : seg.chunks) {
      lo = std::min(lo, c.sector);
      hi = std::max(hi, c.sector + (c.size + 511) / 512);
    }
  s.video_first = lo;
  s.video_sectors = hi - lo;
  s.copy_start = static_cast<int>(virazav::sim::time_number(s.info.segments.front().time));
  s.copy_end = s.copy_start + 24 * 3600;  // past the newest chunk: the whole recording
  for (const auto& still : s.info.stills) s.still_bytes += still.size;
  return virazav::platform::make_directory(s.dir + "/media") == 0;
}

// Reads `sectors` sectors from `first` in requests of `per_request` sectors.
bool read_sequentially(uint32_t first, uint32_t sectors, uint32_t per_request,
                       std::vector<uint8_t>* buf) {
  buf->resize(size_t{per_request} * 512);
  for (uint32_t done = 0; done < sectors; done += per_request) {
    uint32_t n = std::min(per_request, sectors - done);
    if (virazav::recdisk::read_sectors(static_cast<int32_t>(first + done), n, buf->data()) != 0)
      return false;
  }
  return true;
}

void BM_SequentialReadStillArea(benchmark::State& state) {
  const Setup& s = setup();
  std::vector<uint8_t> buf;
  for (auto _ : state) {
    if (!read_sequentially(s.info.still_area_sector, s.info.still_area_sectors, 128, &buf))
      state.SkipWithError("read failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * s.info.still_area_sectors *
                          512);
}

void BM_StillScan(benchmark::State& state) {
  const Setup& s = setup();
  std::vector<uint8_t> work(0x40000);
  for (auto _ : state) {
    int cursor = static_cast<int>(s.info.still_area_sector);
    size_t found = 0;
    for (int calls = 0; calls < 100000; ++calls) {
      char name[43];
      int r = hdd_read_jpeg(&cursor, static_cast<int>(s.info.still_area_sector),
                            static_cast<int>(s.info.still_area_sectors), 1, work.data(), name);
      if (r == -7 || r == -2) break;
      if (r > 0) ++found;
    }
    if (found != s.info.stills.size()) state.SkipWithError("the scan missed stills");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * s.info.still_area_sectors *
                          512);
  state.counters["stills"] = static_cast<double>(s.info.stills.size());
}

void BM_SequentialReadVideo(benchmark::State& state) {
  const Setup& s = setup();
  std::vector<uint8_t> buf;
  for (auto _ : state) {
    if (!read_sequentially(s.video_first, s.video_sectors, 0x200000 / 512, &buf))
      state.SkipWithError("read failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * s.video_sectors * 512);
}

void BM_Copy(benchmark::State& state) {
  Setup& s = setup();
  const std::string out = s.dir + "/media";
  for (auto _ : state) {
    if (hdd_copy_usb(out.c_str(), s.copy_start, s.copy_end) != 0) {
      state.SkipWithError("the copy did not start");
      break;
    }
    int status = 0;
    while (virazav::player::copy_running()) virazav::platform::sleep_ms(1);
    hdd_copy_usb_get_sts(&status);
    if (status != 200) state.SkipWithError("the copy failed");
  }
  s.copied_bytes = std::filesystem::file_size(out + "/HDR.dat");
  // The chunk sectors read, as the baseline reads them (every chunk has its own).
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * s.video_sectors * 512);
  state.counters["copied_MiB"] = static_cast<double>(s.copied_bytes) / (1 << 20);
}

BENCHMARK(BM_SequentialReadStillArea)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_StillScan)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_SequentialReadVideo)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();

using virazav::bench::RatioReporter;

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!make_image()) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Both members of a pair process the same bytes, so the ratio of the times is
  // the ratio of the throughputs.
  double area = reporter.find("BM_SequentialReadStillArea"), scan = reporter.find("BM_StillScan");
  double video = reporter.find("BM_SequentialReadVideo"), copy = reporter.find("BM_Copy");
  if (area > 0 && scan > 0)
    std::printf("ratio still scan / sequential read throughput: %.3f\n", area / scan);
  if (video > 0 && copy > 0)
    std::printf("ratio copy / sequential read throughput: %.3f\n", video / copy);
  hdd_close();
  std::error_code ec;
  std::filesystem::remove_all(setup().dir, ec);
  benchmark::Shutdown();
  return 0;
}
