// Fuzzes the record index loader and everything that walks it, on disk images
// made from mutated bytes. The input is a list of patches
//   u8 region  u16be offset  u8 length  bytes[length]
// written into an all-zero sparse image at the named region (copy headers,
// control records, ring tables, segment tables of blocks 0, 1 and 249 of each
// copy, and the start of the video area). Then the drive is opened and the
// index is loaded, searched, read both ways, skipped and listed.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "virazav.h"

namespace {

constexpr int kDrive = 9;
constexpr uint64_t kSector = 512;
constexpr uint64_t kImageSectors = 740000 + 4096;
constexpr uint64_t kVideoArea = 740000 * kSector;

struct Fixture {
  std::string path;
  int fd = -1;
  std::vector<uint64_t> regions;
};

Fixture& fixture() {
  static Fixture f = [] {
    Fixture x;
    char tmpl[] = "/tmp/virazav-index-fuzz-XXXXXX";
    x.fd = ::mkstemp(tmpl);
    if (x.fd < 0) std::abort();
    // The image lives only as long as the process: it is reached through its
    // descriptor once its name is gone.
    ::unlink(tmpl);
    x.path = "/proc/self/fd/" + std::to_string(x.fd);
    ::setenv("VIRAZAV_PHYSICALDRIVE9", x.path.c_str(), 1);
    // The walks trace to standard output; the fuzzer does not need the lines.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    const uint64_t copies[3] = {0, 244333, 488666};
    const uint64_t items[] = {1, 2, 3, 9, 10, 23, 24, 79, 80, 83, 83 + 977, 83 + 977 * 249};
    for (uint64_t c : copies) {
      for (uint64_t i : items) x.regions.push_back((c + i) * kSector);
    }
    x.regions.push_back(kVideoArea);
    return x;
  }();
  return f;
}

void write_at(int fd, uint64_t offset, const uint8_t* p, size_t n) {
  if (::pwrite(fd, p, n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = fixture();
  // A fresh all-zero image: cutting the file to nothing and back keeps it sparse.
  if (::ftruncate(f.fd, 0) != 0 ||
      ::ftruncate(f.fd, static_cast<off_t>(kImageSectors * kSector)) != 0)
    std::abort();
  size_t at = 0;
  int32_t search_time = 0;
  while (at + 4 <= size) {
    const uint64_t region = f.regions[data[at] % f.regions.size()];
    const uint64_t offset = static_cast<uint64_t>(data[at + 1]) << 8 | data[at + 2];
    size_t n = data[at + 3];
    at += 4;
    if (n > size - at) n = size - at;
    write_at(f.fd, region + offset, data + at, n);
    if (n >= 4)
      search_time = static_cast<int32_t>(data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                                         data[at + 3] << 24);
    at += n;
  }

  namespace recdisk = virazav::recdisk;
  if (hdd_open(kDrive) != 0) std::abort();
  first_section_play();
  std::vector<uint8_t> buf(recdisk::kMaxChunkSize);
  uint32_t length = 0;
  int r = search_play(search_time);
  if (r != 1 && r != 2) std::abort();
  for (int i = 0; i < 12; ++i) {
    r = i < 8 ? read_data(buf.data(), &length) : recdisk::read_data_back(buf.data(), &length);
    if (r != 0 && r != 1 && r != 100 && r != -1) std::abort();
    if (length > recdisk::kMaxChunkSize) std::abort();
  }
  skip_foward();
  skip_back();
  uint32_t start = 0, end = 0, kind = 0;
  read_start_end_sec(&start, &end);
  uint16_t count = 0, oldest = 0;
  get_rec_list(&count, &oldest);
  for (int k = 0; k < count && k < 5; ++k)
    get_list_start_end_sec((oldest + k) % 1000, &start, &end, &kind);
  uint8_t alarms = 0, first = 0;
  get_alarm_list(&alarms, &first);
  for (int k = 0; k < alarms && k < 5; ++k) get_alarm_info((first + k) % 50, &start, &end);
  hdd_close();
  return 0;
}
