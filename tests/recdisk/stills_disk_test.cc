// The still exports over a disk image written by the simulated recorder: every
// still of the area comes out under the recorder's name, byte for byte as the
// image holds it, and decodes as a JPEG; failures of the drive give the
// documented codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "platform/fault.h"
#include "recdisk/disk.h"
#include "recdisk/stills.h"
#include "still_builder.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::recdisk {
namespace {

constexpr int kDrive = 6;

class StillDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-stills-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    close_drive();
    reset_resilient_fallback();
  }
  void TearDown() override {
    platform::fault_reset();
    close_drive();
    ::unsetenv(("VIRAZAV_PHYSICALDRIVE" + std::to_string(kDrive)).c_str());
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Writes an image with `stills` stills, `gap` empty sectors after each, and
  // opens it as the drive.
  void make_disk(int stills, int gap) {
    sim::DiskImageDesc image_desc;
    image_desc.hours = 0.02;
    image_desc.channels = 3;
    image_desc.media = false;
    image_desc.video.width = 176;
    image_desc.video.height = 112;
    image_desc.stills = stills;
    image_desc.still_gap_sectors = gap;
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(image_desc, dir_ + "/disk.img", &info_, &error)) << error;
    testing::use_image_as_drive(kDrive, dir_ + "/disk.img");
    ASSERT_EQ(hdd_open(kDrive), 0);
  }

  std::string dir_;
  sim::DiskImageInfo info_;
};

TEST_F(StillDiskTest, CallerLoopWritesEveryStillByteForByte) {
  make_disk(7, 3);
  ASSERT_EQ(info_.stills.size(), 7u);
  std::vector<uint8_t> work(0x40000);
  int cursor = static_cast<int>(info_.still_area_sector);
  const int first = cursor, length = static_cast<int>(info_.still_area_sectors);
  int sequence = 1, total = 0, markers = 0, calls = 0;
  std::vector<std::string> names;
  for (; calls < 200; ++calls) {
    char name[43];
    int r = hdd_read_jpeg(&cursor, first, length, sequence, work.data(), name);
    if (r == -7) break;
    if (r == -6) ++markers;
    if (r <= 0) continue;
    const std::string path = dir_ + "/" + name;
    int t = hdd_write_jpeg_file(path.c_str(), r, work.data(), total);
    ASSERT_EQ(t, total + r);
    total = t;
    names.push_back(name);
    ++sequence;
  }
  ASSERT_LT(calls, 200) << "the loop did not reach the end of the area";
  EXPECT_EQ(markers, 6) << "each gap before a still is passed by one scan";
  EXPECT_GE(cursor, first + length);
  ASSERT_EQ(names.size(), info_.stills.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const sim::StillInfo& s = info_.stills[i];
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(names[i], sim::still_file_name(s, static_cast<int>(i) + 1));
    const std::string path = dir_ + "/" + names[i];
    std::vector<uint8_t> file = testing::read_file(path);
    EXPECT_EQ(file, s.jpeg);
    ASSERT_GE(file.size(), 4u);
    EXPECT_EQ(file[0], 0xFF);
    EXPECT_EQ(file[1], 0xD8);
    EXPECT_EQ(file[file.size() - 2], 0xFF);
    EXPECT_EQ(file[file.size() - 1], 0xD9);
    int w = 0, h = 0;
    double luma = 0;
    EXPECT_TRUE(testing::decode_jpeg(file, &w, &h, &luma));
    EXPECT_EQ(w, 176);
    EXPECT_EQ(h, 112);
    unsigned char head[16];
    int cls = s.still_class;
    EXPECT_EQ(read_jpeg_head_com(path.c_str(), head), (cls & 7) * 2 + (cls >= 8 ? 1 : 0));
  }
}

TEST_F(StillDiskTest, SequenceZeroNamesAndSizesFromOneSectorEach) {
  make_disk(4, 0);
  std::vector<uint8_t> work(0x40000, 0x77);
  int cursor = static_cast<int>(info_.still_area_sector);
  for (size_t i = 0; i < info_.stills.size(); ++i) {
    const sim::StillInfo& s = info_.stills[i];
    char name[43];
    ASSERT_EQ(cursor, static_cast<int>(s.sector)) << i;
    EXPECT_EQ(hdd_read_jpeg(&cursor, static_cast<int>(info_.still_area_sector),
                            static_cast<int>(info_.still_area_sectors), 0, work.data(), name),
              static_cast<int>(s.size))
        << i;
    EXPECT_EQ(std::string(name), sim::still_file_name(s, 0)) << i;
    // Only the header sector was read into the buffer.
    EXPECT_EQ(work[600], 0x77) << i;
  }
}

TEST_F(StillDiskTest, DriveFailuresGiveTheDocumentedCodes) {
  make_disk(2, 0);
  const int first = static_cast<int>(info_.still_area_sector);
  const int length = static_cast<int>(info_.still_area_sectors);
  std::vector<uint8_t> work(0x40000);
  char name[43];
  int cursor = first;
  {
    platform::FaultScope faults;
    platform::fault_arm(platform::FaultKind::kDriveRead, 1);
    EXPECT_EQ(hdd_read_jpeg(&cursor, first, length, 1, work.data(), name), -3);
    EXPECT_EQ(cursor, first + 129);
  }
  cursor = first;
  {
    platform::FaultScope faults;
    platform::fault_arm(platform::FaultKind::kDriveRead, 2);  // the still's body
    EXPECT_EQ(hdd_read_jpeg(&cursor, first, length, 1, work.data(), name), -5);
    EXPECT_EQ(cursor, first + static_cast<int>((info_.stills[0].size + 511) / 512));
    EXPECT_TRUE(resilient_fallback_active());
  }
  // The next read goes sector by sector, succeeds and restores large reads.
  cursor = first;
  EXPECT_EQ(hdd_read_jpeg(&cursor, first, length, 1, work.data(), name),
            static_cast<int>(info_.stills[0].size));
  EXPECT_FALSE(resilient_fallback_active());
  std::vector<uint8_t> stored = info_.stills[0].jpeg;
  swap_byte_pairs(stored.data(), stored.size());
  EXPECT_EQ(0, std::memcmp(work.data(), stored.data(), stored.size()));

  hdd_close();
  cursor = first;
  EXPECT_EQ(hdd_read_jpeg(&cursor, first, length, 1, work.data(), name), -3);
  EXPECT_EQ(hdd_read_jpeg(nullptr, first, length, 1, work.data(), name), -1);
  EXPECT_EQ(hdd_read_jpeg(&cursor, first, length, 1, nullptr, name), -1);
  EXPECT_EQ(hdd_read_jpeg(&cursor, first, length, 1, work.data(), nullptr), -1);
}

}  // namespace
}  // namespace virazav::recdisk
