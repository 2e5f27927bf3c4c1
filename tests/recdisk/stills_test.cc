// The still-image area: header recognition and naming, the reader's results and
// cursor movement on a memory disk, and stills written to files byte-checked
// against the disk and decoded as JPEG.
#include "recdisk/stills.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "still_builder.h"
#include "support/recorder_fixture.h"

namespace virazav::recdisk {
namespace {

using testing::make_still_bytes;
using testing::MemoryDisk;
using testing::read_file;
using testing::StillFields;

std::vector<uint8_t> stored_sector(const std::vector<uint8_t>& jpeg) {
  MemoryDisk d(1);
  d.store(0, jpeg);
  return std::vector<uint8_t>(d.bytes().begin(), d.bytes().begin() + kStillSectorSize);
}

TEST(StillHeader, RecognisesMarkerAndSizeBound) {
  struct Row {
    const char* name;
    uint8_t b0, b1;  // JPEG order
    uint32_t size;
    bool valid;
  } rows[] = {
      {"marker, small size", 0xFF, 0xD8, 1000, true},
      {"size 0", 0xFF, 0xD8, 0, true},
      {"largest size", 0xFF, 0xD8, 0x3FFFF, true},
      {"size at the bound", 0xFF, 0xD8, 0x40000, false},
      {"size far above", 0xFF, 0xD8, 0xFFFFFF, false},
      {"marker bytes reversed", 0xD8, 0xFF, 1000, false},
      {"other marker", 0xFF, 0xD9, 1000, false},
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> j = make_still_bytes(StillFields{}, r.size, kStillSectorSize);
    j[0] = r.b0;
    j[1] = r.b1;
    std::vector<uint8_t> s = stored_sector(j);
    StillHeader h;
    h.size = 77;
    EXPECT_EQ(parse_still_header(s.data(), s.size(), &h), r.valid) << r.name;
    EXPECT_EQ(h.size, r.valid ? r.size : 77u) << r.name;
  }
}

TEST(StillHeader, TakesFieldsInJpegOrderFromStoredBytes) {
  StillFields f;
  f.tag = 0xBEEF;
  f.camera = 0x0C;
  const uint8_t dt[6] = {26, 12, 31, 23, 59, 58};
  std::memcpy(f.date_time, dt, 6);
  std::vector<uint8_t> s = stored_sector(make_still_bytes(f, 0x012345, kStillSectorSize));
  StillHeader h;
  ASSERT_TRUE(parse_still_header(s.data(), s.size(), &h));
  EXPECT_EQ(h.size, 0x012345u);
  EXPECT_EQ(h.tag, 0xBEEF);
  EXPECT_EQ(h.camera, 0x0C);  // the high bits of byte 40 are dropped
  EXPECT_EQ(0, std::memcmp(h.date_time, dt, 6));
  // The stored sector begins D8 FF; fewer than 44 bytes are no header.
  EXPECT_EQ(s[0], 0xD8);
  EXPECT_EQ(s[1], 0xFF);
  EXPECT_FALSE(parse_still_header(s.data(), 43, &h));
}

TEST(StillName, FormatsFieldsAsTheRecorderNamesThem) {
  struct Row {
    int seq;
    uint8_t dt[6];
    uint8_t camera;
    uint16_t tag;
    const char* want;
  } rows[] = {
      {1, {7, 3, 15, 12, 30, 45}, 2, 0x1A, "1_070315_1230452_1a.jpg"},
      {0, {7, 3, 15, 12, 30, 45}, 2, 0x1A, "0_070315_1230452_1a.jpg"},
      {12, {0, 1, 2, 3, 4, 5}, 15, 0xFFFF, "12_000102_03040515_ffff.jpg"},
      {-2147483647 - 1,
       {255, 255, 255, 255, 255, 255},
       15,
       0xFFFF,
       "-2147483648_255255255_25525525515_ffff.jpg"},
  };
  for (const Row& r : rows) {
    StillHeader h;
    std::memcpy(h.date_time, r.dt, 6);
    h.camera = r.camera;
    h.tag = r.tag;
    char name[kStillNameSize];
    int n = format_still_name(r.seq, h, name, sizeof name);
    EXPECT_STREQ(name, r.want) << r.want;
    EXPECT_EQ(n, static_cast<int>(std::strlen(r.want))) << r.want;
  }
  // The longest name fits the 43-byte name buffer with its zero.
  EXPECT_EQ(std::strlen(rows[3].want), kStillNameSize - 1);
}

struct ReadCase {
  const char* name;
  uint32_t size;
  int sequence;
  int64_t want_sectors;  // sectors read in all
  int32_t want_cursor;
};

TEST(StillRead, ResultCursorAndSectorsRead) {
  const ReadCase cases[] = {
      {"1000 bytes", 1000, 1, 2, 5002},
      {"1024 bytes reads one sector more", 1024, 1, 3, 5002},
      {"511 bytes: the header sector only", 511, 1, 1, 5001},
      {"sequence 0 reads the header only", 100000, 0, 1, 5000 + 196},
      {"largest still", 0x3FFFF, 3, 512, 5512},
  };
  for (const ReadCase& c : cases) {
    MemoryDisk disk(6000);
    disk.store(5000, make_still_bytes(StillFields{}, c.size, c.size));
    std::vector<uint8_t> work(kStillWorkBufferSize + 1, 0xEE);
    char name[kStillNameSize] = {};
    int32_t cursor = 5000;
    int r = read_still(disk.source(), &cursor, 4000, 2000, c.sequence, work.data(), name);
    EXPECT_EQ(r, static_cast<int>(c.size)) << c.name;
    EXPECT_EQ(cursor, c.want_cursor) << c.name;
    EXPECT_EQ(disk.sectors_read(), c.want_sectors) << c.name;
    EXPECT_EQ(std::string(name), std::to_string(c.sequence) + "_070315_1230452_1a.jpg") << c.name;
    EXPECT_EQ(work[kStillWorkBufferSize], 0xEE) << c.name << ": wrote past the work buffer";
    if (c.sequence != 0) {
      // The work buffer holds the still as stored from byte 0.
      size_t from = 5000 * kStillSectorSize;
      EXPECT_EQ(0, std::memcmp(work.data(), disk.bytes().data() + from, c.size)) << c.name;
    }
  }
}

TEST(StillRead, SizeZeroLeavesTheCursor) {
  MemoryDisk disk(10);
  disk.store(3, make_still_bytes(StillFields{}, 0, 64));
  std::vector<uint8_t> work(kStillWorkBufferSize);
  char name[kStillNameSize];
  int32_t cursor = 3;
  EXPECT_EQ(read_still(disk.source(), &cursor, 0, 10, 1, work.data(), name), 0);
  EXPECT_EQ(cursor, 3);
}

TEST(StillRead, FailuresAndScanResults) {
  struct Row {
    const char* name;
    int32_t cursor;
    int want;
    int32_t want_cursor;
  };
  // Area 1000..1999. Still at 1000 (3000 bytes: 6 sectors), garbage, a marker with
  // an oversize header at 1672; sector 1500 unreadable; a still at 1800 whose body
  // sector 1801 is unreadable. The scan from 1673 reads 1673..1800 in one request,
  // which stops just short of the bad sector.
  MemoryDisk disk(2100);
  disk.store(1000, make_still_bytes(StillFields{}, 3000, 3000));
  disk.poke(1100 * kStillSectorSize, {0x12, 0x34, 0x56});
  disk.store(1672, make_still_bytes(StillFields{}, 0x40000, 600));
  disk.fail_sector(1500);
  disk.store(1800, make_still_bytes(StillFields{}, 2000, 2000));
  disk.fail_sector(1801);
  const Row rows[] = {
      {"still at the cursor", 1000, 3000, 1006},
      {"garbage, a failed batch passed over, marker ahead", 1006, kStillMarkerAhead, 1672},
      {"oversize header scans on to the next marker", 1672, kStillMarkerAhead, 1800},
      {"unreadable sector at the cursor", 1500, kStillUnreadable, 1629},
      {"header valid, body unreadable", 1800, kStillRestUnreadable, 1804},
      {"end of the area", 1804, kStillAreaEnd, 1805 + 256},
      {"cursor past the end", 1999, kStillAreaEnd, 2000},
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> work(kStillWorkBufferSize);
    char name[kStillNameSize];
    int32_t cursor = r.cursor;
    EXPECT_EQ(read_still(disk.source(), &cursor, 1000, 1000, 1, work.data(), name), r.want)
        << r.name;
    EXPECT_EQ(cursor, r.want_cursor) << r.name;
  }
}

TEST(StillRead, ScanSkipsAnUnreadableBatchSilently) {
  MemoryDisk disk(600);
  disk.fail_sector(60);  // inside the first 128-sector request from 1
  disk.store(50, make_still_bytes(StillFields{}, 600, 600));  // hidden behind it
  disk.store(300, make_still_bytes(StillFields{}, 600, 600));
  std::vector<uint8_t> work(kStillWorkBufferSize);
  char name[kStillNameSize];
  int32_t cursor = 0;
  EXPECT_EQ(read_still(disk.source(), &cursor, 0, 600, 1, work.data(), name), kStillMarkerAhead);
  EXPECT_EQ(cursor, 300);
  // Requests: the cursor's sector, then batches at 1, 129 and 257.
  EXPECT_EQ(disk.first_sectors(), (std::vector<int64_t>{0, 1, 129, 257}));
}

TEST(StillRead, SixteenMebibytesWithoutMarkerGivesUp) {
  MemoryDisk disk(1);  // everything beyond reads as zeros
  std::vector<uint8_t> work(kStillWorkBufferSize);
  char name[kStillNameSize];
  int32_t cursor = 10;
  EXPECT_EQ(read_still(disk.source(), &cursor, 0, 1 << 30, 1, work.data(), name), kStillNoMarker);
  EXPECT_EQ(cursor, 11 + 256 * 128);
  EXPECT_EQ(disk.requests(), 1 + 256);
  // The caller may go on from there; the next call scans the next 16 MiB.
  disk.store(cursor + 700, make_still_bytes(StillFields{}, 600, 600));
  EXPECT_EQ(read_still(disk.source(), &cursor, 0, 1 << 30, 1, work.data(), name),
            kStillMarkerAhead);
  EXPECT_EQ(cursor, 11 + 256 * 128 + 700);
}

TEST(StillWrite, ExchangesPairsInPlaceAndReturnsTheRunningTotal) {
  testing::TempCwd cwd;
  uint8_t buf[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(write_still_file("a.jpg", 5, buf, 100), 105);
  EXPECT_EQ(read_file("a.jpg"), (std::vector<uint8_t>{2, 1, 4, 3, 5}));
  // The buffer was turned in place, so a second write restores the stored order.
  EXPECT_EQ(write_still_file("b.jpg", 5, buf, 105), 110);
  EXPECT_EQ(read_file("b.jpg"), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  // An existing longer file is truncated.
  EXPECT_EQ(write_still_file("a.jpg", 2, buf, 0), 2);
  EXPECT_EQ(read_file("a.jpg"), (std::vector<uint8_t>{2, 1}));
}

TEST(StillWrite, FailureCodes) {
  testing::TempCwd cwd;
  uint8_t buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(write_still_file("no-such-folder/a.jpg", 4, buf, 0), kStillFileNotCreated);
  EXPECT_EQ(write_still_file(nullptr, 4, buf, 0), kStillFileNotCreated);
  EXPECT_EQ(write_still_file("neg.jpg", -1, buf, 0), kStillFileShortWrite);
  EXPECT_FALSE(platform::file_exists("neg.jpg"));
  {
    platform::FaultScope faults;
    platform::fault_arm(platform::FaultKind::kFileWrite, 1);
    EXPECT_EQ(write_still_file("short.jpg", 4, buf, 0), kStillFileShortWrite);
  }
  EXPECT_TRUE(platform::file_exists("short.jpg"));  // the incomplete file stays
}

TEST(StillHeadCode, ClassifiesByByteSeven) {
  testing::TempCwd cwd;
  struct Row {
    const char* name;
    std::vector<uint8_t> bytes;
    int want;
  } rows[] = {
      {"0x9C", {0, 0, 0, 0, 0, 0, 0, 0x9C, 0, 0, 0, 0, 0, 0, 0, 0}, 3},
      {"0x70", {0, 0, 0, 0, 0, 0, 0, 0x70, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9}, 14},
      {"0x0F", {0, 0, 0, 0, 0, 0, 0, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"0xF0", {0, 0, 0, 0, 0, 0, 0, 0xF0, 0, 0, 0, 0, 0, 0, 0, 0}, 15},
      {"10-byte file", {1, 2, 3, 4, 5, 6, 7, 0xFF, 9, 10}, 10},
      {"empty file", {}, 0},
  };
  for (const Row& r : rows) {
    platform::FileHandle f = platform::file_open("h.jpg", platform::OpenMode::kWriteTruncate);
    ASSERT_NE(f, nullptr);
    if (!r.bytes.empty()) platform::file_write(f, r.bytes.data(), r.bytes.size());
    platform::file_close(f);
    uint8_t head[16] = {};
    EXPECT_EQ(still_header_code("h.jpg", head), r.want) << r.name;
    size_t n = r.bytes.size() < 16 ? r.bytes.size() : 16;
    EXPECT_EQ(std::vector<uint8_t>(head, head + n),
              std::vector<uint8_t>(r.bytes.begin(), r.bytes.begin() + static_cast<long>(n)))
        << r.name;
  }
  uint8_t head[16];
  EXPECT_EQ(still_header_code("missing.jpg", head), 0);
}

}  // namespace
}  // namespace virazav::recdisk
