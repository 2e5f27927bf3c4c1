// The disk-to-media copy over disk images written by the simulated recorder: the
// files of a copy byte-checked against the chunks the image holds, where a copy
// starts and ends, the stop request, the end codes of every failure, and the
// status before, during and after a copy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "platform/fault.h"
#include "player/copy_thread.h"
#include "player/play_mode.h"
#include "recdisk/copy_media.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "support/recorded_chunks.h"
#include "virazav.h"

namespace virazav::player {
namespace {

constexpr int kDrive = 5;

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> v;
  platform::FileHandle f = platform::file_open(path, platform::OpenMode::kRead);
  if (f == nullptr) return v;
  uint8_t buf[65536];
  long n;
  while ((n = platform::file_read(f, buf, sizeof buf)) > 0) v.insert(v.end(), buf, buf + n);
  platform::file_close(f);
  return v;
}

uint64_t le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

using testing::RecordedChunk;

// A slow drive: every read of the disk takes a few milliseconds, so that a copy
// runs long enough to be stopped or met by a second start.
struct SlowDrive {
  static long read(platform::DriveHandle d, void* data, size_t n) {
    platform::sleep_ms(3);
    return platform::system_ops().drive_read(d, data, n);
  }
  platform::Ops ops;
  SlowDrive() : ops(platform::system_ops()) {
    ops.drive_read = &SlowDrive::read;
    platform::install_ops(&ops);
  }
  ~SlowDrive() { platform::install_ops(nullptr); }
};

class CopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-copy-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    out_ = dir_ + "/media";
    ASSERT_EQ(platform::make_directory(out_), 0);
    recdisk::close_drive();
    recdisk::reset_record_index();
  }
  void TearDown() override {
    wait_for_end();
    platform::install_ops(nullptr);
    platform::fault_reset();
    set_disk_mode(kModeStop);
    recdisk::close_drive();
    recdisk::reset_record_index();
    ::unsetenv(("VIRAZAV_PHYSICALDRIVE" + std::to_string(kDrive)).c_str());
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Two recordings of 70 s and 50 s with a gap, ten one-second chunks a segment.
  void make_disk(sim::DamageOptions damage = {}) {
    sim::DiskImageDesc image_desc;
    image_desc.recordings = {sim::RecordingPlan{70, 0, 0, false},
                             sim::RecordingPlan{50, 40, 0, false}};
    image_desc.channels = 2;
    image_desc.media = false;
    image_desc.damage = damage;
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(image_desc, dir_ + "/disk.img", &info_, &error)) << error;
    testing::use_image_as_drive(kDrive, dir_ + "/disk.img");
    ASSERT_EQ(hdd_open(kDrive), 0);
    ASSERT_EQ(first_section_play(), 0);
    collect_chunks();
  }

  // Every chunk of the image in recording order, read from the image's bytes.
  void collect_chunks() {
    chunks_ = testing::recorded_chunks(dir_ + "/disk.img", info_);
    ASSERT_EQ(chunks_.size(), 120u);
  }

  // Polls the status until the copy thread has ended (at most 10 s).
  void wait_for_end() {
    for (int i = 0; i < 5000 && copy_running(); ++i) platform::sleep_ms(2);
    ASSERT_FALSE(copy_running()) << "the copy did not end within 10 s";
  }
  int status() {
    int s = -999;
    EXPECT_EQ(hdd_copy_usb_get_sts(&s), 0);
    return s;
  }

  // Checks the three files against chunks [first, last] of the image.
  void expect_files(size_t first, size_t last) {
    std::vector<uint8_t> want_data, want_index;
    for (size_t k = first; k <= last; ++k) {
      uint8_t r[24] = {};
      uint64_t offset = want_data.size();
      for (int b = 0; b < 8; ++b) r[b] = static_cast<uint8_t>(offset >> (8 * b));
      std::memcpy(r + 8, chunks_[k].rec_time, 6);
      r[14] = chunks_[k].entry_byte2;
      r[15] = chunks_[k].entry_byte0;
      r[16] = chunks_[k].entry_byte27;
      want_index.insert(want_index.end(), r, r + 24);
      want_data.insert(want_data.end(), chunks_[k].packets.begin(), chunks_[k].packets.end());
    }
    std::vector<uint8_t> data = read_file(out_ + "/HDR.dat");
    std::vector<uint8_t> index = read_file(out_ + "/.index");
    EXPECT_EQ(data.size(), want_data.size());
    EXPECT_TRUE(data == want_data) << "HDR.dat differs from the chunks " << first << ".." << last;
    ASSERT_EQ(index.size(), want_index.size());
    for (size_t k = 0; k < index.size() / 24; ++k)
      EXPECT_EQ(0, std::memcmp(index.data() + 24 * k, want_index.data() + 24 * k, 24))
          << "index record " << k << " (offset " << le64(index.data() + 24 * k) << ")";
    expect_list(first, last);
  }
  void expect_list(size_t first, size_t last) {
    char want[64];
    recdisk::format_copy_range(chunks_[first].rec_time, chunks_[last].rec_time, want, sizeof want);
    std::vector<uint8_t> list = read_file(out_ + "/List.HDR");
    EXPECT_EQ(std::string(list.begin(), list.end()), want);
  }

  std::string dir_, out_;
  sim::DiskImageInfo info_;
  std::vector<RecordedChunk> chunks_;
};

TEST(CopyProgress, ShareOfTheRange) {
  struct Row {
    const char* name;
    int64_t t;
    int32_t start, end;
    int32_t want;
  } rows[] = {
      {"at the start", 1000, 1000, 1100, 0},
      {"half way", 1050, 1000, 1100, 50},
      {"just before the end", 1099, 1000, 1100, 99},
      {"before the start (reported as 0)", 990, 1000, 1100, -10},
      {"start equals end: no division", 900, 1000, 1000, 0},
      {"a year-long range does not overflow", 231597045 + 30000000, 231597045, 231597045 + 32140800,
       93},
  };
  for (const Row& r : rows) EXPECT_EQ(copy_progress(r.t, r.start, r.end), r.want) << r.name;
}

TEST_F(CopyTest, StatusBeforeAnyCopyIsIdle) {
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(hdd_copy_usb_get_sts(nullptr), -1);
  EXPECT_EQ(hdd_copy_usb_stop(), 0);  // nothing runs: nothing happens
  EXPECT_EQ(status(), 200);
}

TEST_F(CopyTest, CopiesFromTheStartChunkThroughTheChunkAtTheEnd) {
  make_disk();
  // Across the gap between the two recordings: chunks 25..95.
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[25].time),
                         static_cast<int>(chunks_[95].time)),
            0);
  wait_for_end();
  EXPECT_EQ(status(), 200);
  expect_files(25, 95);
  // The files are closed and the set is free for the next copy.
  EXPECT_FALSE(recdisk::copy_files_status().active);
}

TEST_F(CopyTest, EndTimeBetweenChunksCopiesTheChunkAfterIt) {
  make_disk();
  // An end inside the gap: the first chunk at or after it is the second
  // recording's first chunk (70), which is copied as well.
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[60].time),
                         static_cast<int>(chunks_[69].time + 20)),
            0);
  wait_for_end();
  EXPECT_EQ(status(), 200);
  expect_files(60, 70);
}

TEST_F(CopyTest, EndBeforeTheFirstChunkCopiesExactlyOne) {
  make_disk();
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[30].time),
                         static_cast<int>(chunks_[30].time) - 100),
            0);
  wait_for_end();
  EXPECT_EQ(status(), 200);
  expect_files(30, 30);
}

TEST_F(CopyTest, StartEqualToEndCopiesOneChunk) {
  make_disk();
  const int t = static_cast<int>(chunks_[12].time);
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), t, t), 0);
  wait_for_end();
  EXPECT_EQ(status(), 200);
  expect_files(12, 12);
}

TEST_F(CopyTest, ReachingTheNewestChunkEndsNormally) {
  make_disk();
  ASSERT_EQ(hdd_copy_usb((out_ + "/").c_str(), static_cast<int>(chunks_[100].time),
                         static_cast<int>(chunks_[119].time) + 3600),
            0);
  wait_for_end();
  EXPECT_EQ(status(), 200);
  expect_files(100, 119);
}

TEST_F(CopyTest, StopEndsWith102AndTheListNamesTheChunksCopied) {
  make_disk();
  SlowDrive slow;
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[0].time),
                         static_cast<int>(chunks_[119].time)),
            0);
  int progress = -1;
  for (int i = 0; i < 2000 && progress < 5; ++i) {
    platform::sleep_ms(2);
    progress = status();
  }
  ASSERT_GE(progress, 5);
  ASSERT_LE(progress, 99) << "the copy ended before it could be stopped";
  EXPECT_EQ(hdd_copy_usb_stop(), 0);
  wait_for_end();
  EXPECT_EQ(status(), 102);
  // The copy stopped somewhere in the middle; the files hold exactly the chunks
  // named in the index, and the list names the first and the last of them.
  size_t copied = read_file(out_ + "/.index").size() / 24;
  ASSERT_GT(copied, 1u);
  ASSERT_LT(copied, 120u);
  expect_files(0, copied - 1);
  // A new copy starts cleanly afterwards.
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[0].time),
                         static_cast<int>(chunks_[0].time)),
            0);
  wait_for_end();
  EXPECT_EQ(status(), 200);
}

TEST_F(CopyTest, SecondStartWhileRunningIsRefusedAndChangesNothing) {
  make_disk();
  SlowDrive slow;
  const std::string other = dir_ + "/other";
  ASSERT_EQ(platform::make_directory(other), 0);
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[0].time),
                         static_cast<int>(chunks_[40].time)),
            0);
  EXPECT_TRUE(copy_running());
  EXPECT_EQ(hdd_copy_usb(other.c_str(), static_cast<int>(chunks_[50].time),
                         static_cast<int>(chunks_[60].time)),
            -1);
  EXPECT_FALSE(platform::file_exists(other + "/HDR.dat"));
  wait_for_end();
  EXPECT_EQ(status(), 200);
  expect_files(0, 40);
}

TEST_F(CopyTest, StartStopsDiskPlaybackUnderThePlayModeLock) {
  make_disk();
  set_disk_mode(kModePlay);
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[3].time),
                         static_cast<int>(chunks_[4].time)),
            0);
  EXPECT_EQ(disk_mode(), kModeStop);
  wait_for_end();
  expect_files(3, 4);
}

TEST_F(CopyTest, FilesThatCannotBeOpenedRefuseTheStart) {
  make_disk();
  EXPECT_EQ(hdd_copy_usb(nullptr, 0, 0), -1);
  EXPECT_EQ(hdd_copy_usb("", 0, 0), -1);
  EXPECT_EQ(hdd_copy_usb((dir_ + "/missing").c_str(), 0, 0), -1);
  EXPECT_FALSE(copy_running());
  EXPECT_EQ(status(), 200);
  {
    platform::FaultScope faults;
    platform::fault_arm(platform::FaultKind::kAlloc, 1, true);
    EXPECT_EQ(hdd_copy_usb(out_.c_str(), 0, 0), -13);
  }
  EXPECT_FALSE(recdisk::copy_files_status().active);
  EXPECT_FALSE(copy_running());
}

// Every failure inside the copy ends it with its code; the files are closed and
// the list still names the first chunk and the last one read.
TEST_F(CopyTest, FailuresEndWithTheirCodes) {
  // Write calls of a copy: 1 the list placeholder, 2 and 3 the first chunk's
  // packets and record (not checked), 4 and 5 the second chunk's.
  struct Row {
    const char* name;
    platform::FaultKind kind;
    int nth;
    int want;
    size_t last_listed;  // the chunk the list ends with (start chunk 10)
    size_t last_in_index;
  } rows[] = {
      {"packets of the second chunk", platform::FaultKind::kFileWrite, 4, 103, 11, 10},
      {"record of the second chunk", platform::FaultKind::kFileWrite, 5, 104, 11, 10},
  };
  make_disk();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    platform::FaultScope faults;
    platform::fault_arm(r.kind, r.nth);
    ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[10].time),
                           static_cast<int>(chunks_[20].time)),
              0);
    wait_for_end();
    EXPECT_EQ(status(), r.want);
    EXPECT_FALSE(recdisk::copy_files_status().active);
    expect_list(10, r.last_listed);
    EXPECT_EQ(read_file(out_ + "/.index").size(), 24 * (r.last_in_index - 10 + 1));
    std::filesystem::remove_all(out_);
    ASSERT_EQ(platform::make_directory(out_), 0);
  }
}

TEST_F(CopyTest, UnreadableChunkEndsWith101) {
  sim::DamageOptions damage;
  damage.unknown_markers.push_back(sim::ChunkRef{2, 5, 1});  // segment 2, chunk 5: chunk 25
  make_disk(damage);
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[20].time),
                         static_cast<int>(chunks_[40].time)),
            0);
  wait_for_end();
  EXPECT_EQ(status(), 101);
  // Chunks 20..24 are whole; the list ends with the chunk whose read failed.
  EXPECT_EQ(read_file(out_ + "/.index").size(), 24u * 5);
  expect_list(20, 25);
}

TEST_F(CopyTest, FreeSpaceLimitEndsWith103) {
  make_disk();
  struct TinyMedium {
    static int free_space(const std::string&, uint64_t* kib) {
      *kib = 1024 + 2;  // room for 2 KiB above the reserve
      return 0;
    }
  };
  platform::Ops ops = platform::system_ops();
  ops.free_space_kib = &TinyMedium::free_space;
  platform::install_ops(&ops);
  ASSERT_EQ(hdd_copy_usb(out_.c_str(), static_cast<int>(chunks_[0].time),
                         static_cast<int>(chunks_[50].time)),
            0);
  wait_for_end();
  platform::install_ops(nullptr);
  EXPECT_EQ(status(), 103);
  EXPECT_EQ(read_file(out_ + "/HDR.dat").size(), 0u) << "no chunk fits";
}

}  // namespace
}  // namespace virazav::player
