// The copy file set: file names, data and index records byte-checked, the list
// line, the size and free-space limits, overwriting in place, and every failed
// open or write leaving the set closed or its counts unchanged.
#include "recdisk/copy_media.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "still_builder.h"
#include "support/recorder_fixture.h"

namespace virazav::recdisk {
namespace {

using testing::read_file;

// A seam table whose free-space query reports a figure of the test's choosing,
// and whose writes can be made to succeed without touching the disk.
struct FakeMedium {
  static inline uint64_t free_kib = 1 << 20;
  static inline bool discard_writes = false;
  static int free_space(const std::string&, uint64_t* kib) {
    *kib = free_kib;
    return 0;
  }
  static int file_write(platform::FileHandle f, const void* d, size_t n) {
    return discard_writes ? 0 : platform::system_ops().file_write(f, d, n);
  }
  platform::Ops ops;
  FakeMedium(uint64_t kib, bool discard = false) : ops(platform::system_ops()) {
    free_kib = kib;
    discard_writes = discard;
    ops.free_space_kib = &FakeMedium::free_space;
    ops.file_write = &FakeMedium::file_write;
    platform::install_ops(&ops);
  }
  ~FakeMedium() { platform::install_ops(nullptr); }
};

ChunkInfo info_at(uint8_t y, uint8_t mo, uint8_t d, uint8_t h, uint8_t mi, uint8_t s,
                  uint8_t b2 = 0, uint8_t b0 = 0, uint8_t b27 = 0) {
  ChunkInfo c;
  std::memset(c.bytes, 0xCC, sizeof c.bytes);  // bytes outside 8..16 are not used
  const uint8_t t[6] = {y, mo, d, h, mi, s};
  std::memcpy(c.bytes + kChunkInfoTime, t, 6);
  c.bytes[kChunkInfoEntryByte2] = b2;
  c.bytes[kChunkInfoEntryByte0] = b0;
  c.bytes[kChunkInfoEntryByte27] = b27;
  return c;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13);
  return v;
}

uint64_t le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

class CopyMediaTest : public ::testing::Test {
 protected:
  void TearDown() override {
    close_copy_files();
    platform::fault_reset();
  }
  testing::TempCwd cwd_;
};

TEST_F(CopyMediaTest, BothFormsOfTheFolderNameTheSameFiles) {
  for (const char* dir : {"media", "media/"}) {
    FakeMedium medium(1 << 20);
    ASSERT_EQ(platform::make_directory("media"), 0);
    ASSERT_EQ(open_copy_files(dir), kCopyOpened) << dir;
    std::vector<uint8_t> d = pattern(10, 1);
    EXPECT_EQ(write_copy_data(d.data(), 10), 10) << dir;
    EXPECT_EQ(close_copy_files(), 1);
    EXPECT_EQ(read_file("media/HDR.dat"), d) << dir;
    EXPECT_EQ(read_file("media/.index").size(), 0u) << dir;
    EXPECT_EQ(read_file("media/List.HDR").size(), kCopyListLineSize) << dir;
    EXPECT_FALSE(platform::file_exists("mediaHDR.dat")) << dir;
  }
}

TEST_F(CopyMediaTest, ThreeChunksGiveOffsetsAndRecordsByteForByte) {
  FakeMedium medium(1 << 20);
  ASSERT_EQ(open_copy_files(cwd_.path().c_str()), kCopyOpened);
  const size_t sizes[3] = {1000, 2500, 700};
  std::vector<uint8_t> all;
  std::vector<ChunkInfo> infos;
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> d = pattern(sizes[i], static_cast<uint8_t>(i * 50));
    all.insert(all.end(), d.begin(), d.end());
    infos.push_back(
        info_at(7, 3, 15, 12, 30, static_cast<uint8_t>(45 + i), 0x10 + i, 0x20 + i, 0x30 + i));
    EXPECT_EQ(write_copy_data(d.data(), static_cast<uint32_t>(d.size())),
              static_cast<int>(d.size()));
    EXPECT_EQ(write_copy_index(infos.back()), 24);
  }
  EXPECT_EQ(copy_files_status().written, 4200u + 3 * 24);
  EXPECT_EQ(write_copy_range(infos.front(), infos.back()), 1);
  EXPECT_EQ(close_copy_files(), 1);

  EXPECT_EQ(read_file("HDR.dat"), all);
  std::vector<uint8_t> index = read_file(".index");
  ASSERT_EQ(index.size(), 3 * kFileIndexEntrySize);
  const uint64_t offsets[3] = {0, 1000, 3500};
  for (int i = 0; i < 3; ++i) {
    const uint8_t* r = index.data() + i * kFileIndexEntrySize;
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(le64(r), offsets[i]);
    EXPECT_EQ(0, std::memcmp(r + 8, infos[i].bytes + 8, 9));  // time, bytes 2, 0, 27
    EXPECT_EQ(r[14], 0x10 + i);
    EXPECT_EQ(r[15], 0x20 + i);
    EXPECT_EQ(r[16], 0x30 + i);
    for (int z = 17; z < 24; ++z) EXPECT_EQ(r[z], 0) << "byte " << z;
  }
  std::vector<uint8_t> list = read_file("List.HDR");
  EXPECT_EQ(std::string(list.begin(), list.end()), "2007/03/15 12:30:45 - 2007/03/15 12:30:47");
}

TEST_F(CopyMediaTest, ListLineFormatsAndPlaceholder) {
  char line[64];
  const uint8_t a[6] = {7, 3, 15, 12, 30, 45}, b[6] = {7, 3, 15, 13, 0, 0};
  EXPECT_EQ(format_copy_range(a, b, line, sizeof line), 41);
  EXPECT_STREQ(line, "2007/03/15 12:30:45 - 2007/03/15 13:00:00");

  FakeMedium medium(1 << 20);
  ASSERT_EQ(open_copy_files("."), kCopyOpened);
  // Until the range is written the list file holds the placeholder.
  std::vector<uint8_t> list = read_file("List.HDR");
  EXPECT_EQ(std::string(list.begin(), list.end()), kCopyListPlaceholder);
}

TEST_F(CopyMediaTest, FreeSpaceLimitKeepsOneMebibyteFree) {
  struct Row {
    const char* name;
    uint64_t free_kib;
    std::vector<uint32_t> writes;  // bytes
    std::vector<int> want;
    const char* trace;
  } rows[] = {
      {"refused: 3000 free, 2100 needed",
       3000,
       {2100 * 1024},
       {kCopyLimit},
       "usb_rest_kbyte 3000 2100\n"},
      {"exactly 1024 KiB stay free",
       3000,
       {1976 * 1024, 1024},
       {1976 * 1024, kCopyLimit},
       "usb_rest_kbyte 3000 1977\n"},
      {"needed counts the bytes of the copy, not of the write",
       3000,
       {1000 * 1024, 976 * 1024, 1024},
       {1000 * 1024, 976 * 1024, kCopyLimit},
       "usb_rest_kbyte 3000 1977\n"},
      {"no free figure: the first KiB is refused", 0, {1000}, {kCopyLimit}, "usb_rest_kbyte 0 0\n"},
      {"no free figure: beyond 1 KiB the difference wraps", 0, {1024, 5000}, {1024, 5000}, ""},
  };
  for (const Row& r : rows) {
    FakeMedium medium(r.free_kib, true);
    ASSERT_EQ(open_copy_files("."), kCopyOpened) << r.name;
    std::vector<uint8_t> buf(2200 * 1024);
    ::testing::internal::CaptureStdout();
    for (size_t i = 0; i < r.writes.size(); ++i)
      EXPECT_EQ(write_copy_data(buf.data(), r.writes[i]), r.want[i]) << r.name << " write " << i;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), r.trace) << r.name;
    close_copy_files();
  }
}

TEST_F(CopyMediaTest, StatvfsFailureCountsAsNoSpace) {
  platform::fault_arm(platform::FaultKind::kFreeSpace, 1);
  ASSERT_EQ(open_copy_files("."), kCopyOpened);
  EXPECT_EQ(copy_files_status().free_kib, 0u);
  uint8_t b[100] = {};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(write_copy_data(b, sizeof b), kCopyLimit);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "usb_rest_kbyte 0 0\n");
}

TEST_F(CopyMediaTest, RealFreeSpaceOfTheFolderIsRead) {
  ASSERT_EQ(open_copy_files("."), kCopyOpened);
  uint64_t kib = 0;
  ASSERT_EQ(platform::free_space_kib(".", &kib), 0);
  uint64_t want = kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : kib;
  // Other writers share the file system: allow for what they did meanwhile.
  EXPECT_NEAR(static_cast<double>(copy_files_status().free_kib), static_cast<double>(want),
              64 * 1024.0);
  EXPECT_GT(copy_files_status().free_kib, 0u);
}

TEST_F(CopyMediaTest, DataFileStaysBelowTwoGibibytes) {
  FakeMedium medium(uint64_t{1} << 32, true);  // 4 TiB free; writes are discarded
  ASSERT_EQ(open_copy_files("."), kCopyOpened);
  std::vector<uint8_t> buf(0x200000);
  for (int i = 0; i < 1023; ++i) ASSERT_EQ(write_copy_data(buf.data(), 0x200000), 0x200000) << i;
  // 2 GiB - 2 MiB written: one more whole chunk would reach 2^31 bytes.
  EXPECT_EQ(write_copy_data(buf.data(), 0x200000), kCopyLimit);
  EXPECT_EQ(write_copy_data(buf.data(), 0x1FFFFF), 0x1FFFFF);
  EXPECT_EQ(copy_files_status().total, (uint64_t{1} << 31) - 1);
  EXPECT_EQ(write_copy_data(buf.data(), 1), kCopyLimit);
  EXPECT_EQ(copy_files_status().free_kib, 0xFFFFFFFFu);  // capped to 32 bits
}

TEST_F(CopyMediaTest, ExistingLongerFilesAreOverwrittenFromTheStart) {
  std::vector<uint8_t> old = pattern(5000, 99);
  platform::FileHandle f = platform::file_open("HDR.dat", platform::OpenMode::kWriteTruncate);
  platform::file_write(f, old.data(), old.size());
  platform::file_close(f);
  FakeMedium medium(1 << 20);
  ASSERT_EQ(open_copy_files("."), kCopyOpened);
  std::vector<uint8_t> d = pattern(1200, 7);
  ASSERT_EQ(write_copy_data(d.data(), 1200), 1200);
  close_copy_files();
  std::vector<uint8_t> want = d;
  want.insert(want.end(), old.begin() + 1200, old.end());
  EXPECT_EQ(read_file("HDR.dat"), want);
}

TEST_F(CopyMediaTest, FailedOpensCloseWhatWasOpened) {
  struct Row {
    const char* name;
    const char* dir;
    int fail_open;  // 0: none
  } rows[] = {
      {"null folder", nullptr, 0}, {"empty folder", "", 0}, {"missing folder", "no/such/folder", 0},
      {"data file", ".", 1},       {"index file", ".", 2},  {"list file", ".", 3},
  };
  for (const Row& r : rows) {
    platform::FaultScope faults;
    if (r.fail_open) platform::fault_arm(platform::FaultKind::kFileOpen, r.fail_open);
    EXPECT_EQ(open_copy_files(r.dir), kCopyNotOpen) << r.name;
    CopyFilesStatus s = copy_files_status();
    EXPECT_FALSE(s.data_open || s.index_open || s.list_open || s.active) << r.name;
    uint8_t b[4] = {};
    EXPECT_EQ(write_copy_data(b, 4), kCopyNotOpen) << r.name;
    EXPECT_EQ(write_copy_index(ChunkInfo{}), kCopyNotOpen) << r.name;
    EXPECT_EQ(write_copy_range(ChunkInfo{}, ChunkInfo{}), kCopyNotOpen) << r.name;
  }
  // The set is usable afterwards.
  EXPECT_EQ(open_copy_files("."), kCopyOpened);
}

TEST_F(CopyMediaTest, SecondOpenReturnsTwoAndKeepsTheFiles) {
  FakeMedium medium(1 << 20);
  ASSERT_EQ(open_copy_files("."), kCopyOpened);
  std::vector<uint8_t> d = pattern(3000, 3);
  ASSERT_EQ(write_copy_data(d.data(), 3000), 3000);
  ASSERT_EQ(write_copy_index(ChunkInfo{}), 24);
  EXPECT_EQ(open_copy_files("elsewhere"), kCopyAlreadyOpen);
  CopyFilesStatus s = copy_files_status();
  EXPECT_TRUE(s.active && s.data_open && s.index_open && s.list_open);
  EXPECT_EQ(s.total, 3000u);
  EXPECT_EQ(s.mark, 3000u);
  EXPECT_EQ(s.written, 0u);  // the count of the copy starts again, as the open reads the space
  close_copy_files();
  s = copy_files_status();
  EXPECT_FALSE(s.active || s.data_open || s.index_open || s.list_open);
  EXPECT_EQ(s.total, 0u);
  EXPECT_EQ(s.mark, 0u);
}

TEST_F(CopyMediaTest, ShortWritesReturnZeroAndKeepTheCounts) {
  FakeMedium medium(1 << 20);
  ASSERT_EQ(open_copy_files("."), kCopyOpened);
  std::vector<uint8_t> d = pattern(800, 1);
  ASSERT_EQ(write_copy_data(d.data(), 800), 800);
  platform::install_ops(nullptr);
  {
    platform::FaultScope faults;
    platform::fault_arm(platform::FaultKind::kFileWrite, 1);
    EXPECT_EQ(write_copy_data(d.data(), 800), kCopyShortWrite);
    CopyFilesStatus s = copy_files_status();
    EXPECT_EQ(s.total, 800u);
    EXPECT_EQ(s.written, 800u);
    platform::fault_arm(platform::FaultKind::kFileWrite, 1);
    EXPECT_EQ(write_copy_index(ChunkInfo{}), kCopyShortWrite);
    EXPECT_EQ(copy_files_status().written, 800u);
  }
}

}  // namespace
}  // namespace virazav::recdisk
