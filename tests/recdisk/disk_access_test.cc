// Raw drive access: drive paths, the probe, the open drive, and the sector
// readers over disk images.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/fault.h"
#include "platform/platform.h"
#include "recdisk/disk.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using recdisk::kDiskReadFailed;
using recdisk::kDiskSeekFailed;

constexpr uint64_t kCylinder = 512ull * 255 * 63;

class DiskAccessTest : public DiskImageTest {
 protected:
  // An image of `bytes` bytes whose sector s begins with the 4 bytes of s.
  void make_raw_image(uint64_t bytes, uint32_t marked_sectors = 64) {
    make_image(0);
    image_->truncate(bytes);
    for (uint32_t s = 0; s < marked_sectors && (s + 1) * 512ull <= bytes; ++s) {
      image_->write(s * 512ull, &s, sizeof s);
    }
  }
};

TEST_F(DiskAccessTest, DrivePath_TakesVariableOrDeviceLetter) {
  ::unsetenv("VIRAZAV_PHYSICALDRIVE3");
  EXPECT_EQ(platform::drive_path(3), "/dev/sdd");
  EXPECT_EQ(platform::drive_path(0), "/dev/sda");
  ::setenv("VIRAZAV_PHYSICALDRIVE3", "/some/image", 1);
  EXPECT_EQ(platform::drive_path(3), "/some/image");
  EXPECT_EQ(platform::drive_path(4), "/dev/sde") << "only drive 3's variable was set";
  ::unsetenv("VIRAZAV_PHYSICALDRIVE3");
  EXPECT_EQ(platform::drive_path(10), "");
  EXPECT_EQ(platform::drive_path(-1), "");
}

TEST_F(DiskAccessTest, Probe_ImageReportsWholeCylinders_AndTraces) {
  make_raw_image(10 * kCylinder + 4096);
  ::testing::internal::CaptureStdout();
  int r = hdd_get(kTestDrive);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(r, 10);
  EXPECT_EQ(out, "Cylinders = 10\n");
}

TEST_F(DiskAccessTest, Probe_Failures) {
  ::setenv("VIRAZAV_PHYSICALDRIVE7", (dir_ + "/missing.img").c_str(), 1);
  EXPECT_EQ(hdd_get(kTestDrive), recdisk::kProbeOpenFailed) << "missing image";
  EXPECT_EQ(hdd_get(12), recdisk::kProbeOpenFailed) << "drive number outside 0..9";

  make_raw_image(2 * kCylinder);
  platform::fault_arm(platform::FaultKind::kDriveGeometry, 1);
  EXPECT_EQ(hdd_get(kTestDrive), recdisk::kProbeGeometryFailed);
  platform::fault_reset();
  EXPECT_EQ(hdd_get(kTestDrive), 2) << "the failed probe must not leave the drive held";

  make_raw_image(kCylinder - 512);
  EXPECT_EQ(hdd_get(kTestDrive), recdisk::kProbeWrongGeometry) << "less than one cylinder";
}

// A geometry reported by a wrapper of the real operations.
platform::DriveGeometry g_fake_geometry;
int fake_geometry(platform::DriveHandle, platform::DriveGeometry* out) {
  *out = g_fake_geometry;
  return 0;
}

TEST_F(DiskAccessTest, Probe_ChecksMediaAndGeometry) {
  make_raw_image(3 * kCylinder);
  struct Row {
    const char* name;
    int32_t media;
    uint32_t bytes, heads, sectors;
    int expected;
  };
  const Row rows[] = {
      {"fixed disk in recorder geometry", 12, 512, 255, 63, 3},
      {"removable media", 11, 512, 255, 63, recdisk::kProbeNotFixedDisk},
      {"unknown media", 0, 512, 255, 63, recdisk::kProbeNotFixedDisk},
      {"16 heads", 12, 512, 16, 63, recdisk::kProbeWrongGeometry},
      {"4096-byte sectors", 12, 4096, 255, 63, recdisk::kProbeWrongGeometry},
      {"32 sectors a track", 12, 512, 255, 32, recdisk::kProbeWrongGeometry},
  };
  platform::Ops ops = platform::system_ops();
  ops.drive_geometry = fake_geometry;
  platform::install_ops(&ops);
  for (const Row& row : rows) {
    g_fake_geometry = platform::DriveGeometry{};
    g_fake_geometry.cylinders = 3;
    g_fake_geometry.media_type = row.media;
    g_fake_geometry.bytes_per_sector = row.bytes;
    g_fake_geometry.tracks_per_cylinder = row.heads;
    g_fake_geometry.sectors_per_track = row.sectors;
    EXPECT_EQ(hdd_get(kTestDrive), row.expected) << row.name;
  }
  platform::install_ops(nullptr);
}

TEST_F(DiskAccessTest, ProbeWhileOpen_FailsAndLeavesTheOpenDriveUsable) {
  make_raw_image(2 * kCylinder);
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  EXPECT_EQ(hdd_get(kTestDrive), recdisk::kProbeOpenFailed) << "the open is exclusive";
  uint8_t sector[512];
  ASSERT_EQ(hdd_read(5, 1, sector), 0);
  uint32_t mark;
  std::memcpy(&mark, sector, 4);
  EXPECT_EQ(mark, 5u);
  EXPECT_EQ(hdd_open(kTestDrive), -1) << "a second open of the same image";
  hdd_close();
  EXPECT_EQ(hdd_get(kTestDrive), 2) << "closed again";
}

TEST_F(DiskAccessTest, Read_NoDriveNegativeSectorAndPastTheEnd) {
  uint8_t buf[1024];
  EXPECT_EQ(hdd_read(0, 1, buf), kDiskSeekFailed) << "no drive open";
  make_raw_image(64 * 512);
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  EXPECT_EQ(hdd_read(-1, 1, buf), kDiskSeekFailed);
  EXPECT_EQ(hdd_read(63, 2, buf), kDiskReadFailed) << "the second sector lies past the end";
  EXPECT_EQ(hdd_read(63, 1, buf), 0);
  EXPECT_EQ(hdd_read(0, 1, nullptr), kDiskReadFailed);
  platform::fault_arm(platform::FaultKind::kDriveRead, 1);
  EXPECT_EQ(hdd_read(1, 1, buf), kDiskReadFailed);
  hdd_close();
  EXPECT_EQ(hdd_read(1, 1, buf), kDiskSeekFailed) << "closed";
}

TEST_F(DiskAccessTest, Read_LastSignedSectorIsAtOneTebibyte) {
  // A sparse image of 2^31 sectors: sector 2^31 - 1 begins at byte 1,099,511,627,264.
  make_raw_image(0);
  image_->truncate(uint64_t{1} << 40);
  const uint64_t offset = 1099511627264ull;
  const char mark[] = "LAST";
  image_->write(offset, mark, 4);
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  uint8_t sector[512] = {};
  ASSERT_EQ(hdd_read(0x7FFFFFFF, 1, sector), 0);
  EXPECT_EQ(std::memcmp(sector, mark, 4), 0);
}

TEST_F(DiskAccessTest, ReadDiskBytes_CopiesExactlyTheCount) {
  make_raw_image(64 * 512);
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  struct Row {
    int32_t sector;
    uint32_t bytes;
  };
  for (const Row row : {Row{3, 1}, Row{3, 513}, Row{10, 512}, Row{10, 4}}) {
    std::vector<uint8_t> out(row.bytes + 16, 0xEE);
    ASSERT_EQ(recdisk::read_disk_bytes(row.sector, out.data(), row.bytes), 0) << row.bytes;
    std::vector<uint8_t> expect(row.bytes, 0);
    uint32_t mark = static_cast<uint32_t>(row.sector);
    std::memcpy(expect.data(), &mark, row.bytes < 4 ? row.bytes : 4);
    if (row.bytes > 512) {
      uint32_t next = mark + 1;
      std::memcpy(expect.data() + 512, &next, row.bytes - 512 < 4 ? row.bytes - 512 : 4);
    }
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), out.begin())) << row.bytes << " bytes";
    for (size_t i = row.bytes; i < out.size(); ++i)
      ASSERT_EQ(out[i], 0xEE) << "wrote past " << row.bytes;
  }
  uint8_t one = 0xEE;
  EXPECT_EQ(recdisk::read_disk_bytes(0, &one, 0x80000000u), kDiskSeekFailed);
  EXPECT_EQ(recdisk::read_disk_bytes(63, &one, 513), kDiskReadFailed)
      << "second sector past the end";
  EXPECT_EQ(one, 0xEE) << "destination untouched on failure";
  platform::fault_arm(platform::FaultKind::kAlloc, 1);
  EXPECT_EQ(recdisk::read_disk_bytes(1, &one, 1), kDiskReadFailed) << "no temporary buffer";
}

TEST_F(DiskAccessTest, ResilientRead_FallsBackToSectorsAndRecovers) {
  make_raw_image(512 * 512, 256);
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  std::vector<uint8_t> buf(128 * 512);
  platform::fault_arm(platform::FaultKind::kDriveRead, 1);
  EXPECT_EQ(recdisk::read_sectors_resilient(0, 128, buf.data()), kDiskReadFailed);
  EXPECT_TRUE(recdisk::resilient_fallback_active());

  // While the flag is set, a read goes sector by sector: 4 requests for 4 sectors.
  platform::fault_arm(platform::FaultKind::kDriveRead, 1000);
  EXPECT_EQ(recdisk::read_sectors_resilient(2, 4, buf.data()), 0);
  EXPECT_EQ(platform::fault_calls(platform::FaultKind::kDriveRead), 4);
  EXPECT_FALSE(recdisk::resilient_fallback_active());
  uint32_t mark;
  std::memcpy(&mark, buf.data() + 3 * 512, 4);
  EXPECT_EQ(mark, 5u);

  platform::fault_arm(platform::FaultKind::kDriveRead, 1000);
  EXPECT_EQ(recdisk::read_sectors_resilient(0, 128, buf.data()), 0);
  EXPECT_EQ(platform::fault_calls(platform::FaultKind::kDriveRead), 1) << "one request again";

  // A failing sector in fallback mode keeps the flag set.
  platform::fault_arm(platform::FaultKind::kDriveRead, 1);
  EXPECT_EQ(recdisk::read_sectors_resilient(0, 128, buf.data()), kDiskReadFailed);
  platform::fault_arm(platform::FaultKind::kDriveRead, 3);
  EXPECT_EQ(recdisk::read_sectors_resilient(0, 8, buf.data()), kDiskReadFailed);
  EXPECT_TRUE(recdisk::resilient_fallback_active());
  EXPECT_EQ(recdisk::read_sectors_resilient(-5, 8, buf.data()), kDiskSeekFailed);
  EXPECT_TRUE(recdisk::resilient_fallback_active()) << "a failed seek leaves the flag";
}

TEST_F(DiskAccessTest, SectorZero_WordsHighHalfFirstAndRaw) {
  make_raw_image(8 * 512, 0);
  const uint8_t head[8] = {0x34, 0x12, 0x78, 0x56, 0x01, 0x00, 0x02, 0x00};
  image_->write(0, head, sizeof head);
  uint32_t values[128];
  EXPECT_EQ(hdd_read_hdsw(values), kDiskSeekFailed) << "no drive";
  ASSERT_EQ(hdd_open(kTestDrive), 0);
  ASSERT_EQ(hdd_read_hdsw(values), 0);
  EXPECT_EQ(values[0], 0x12345678u);
  EXPECT_EQ(values[1], 0x00010002u);
  EXPECT_EQ(values[2], 0u);
  uint32_t raw[128];
  std::memset(raw, 0xAB, sizeof raw);
  EXPECT_EQ(get_start_time(raw), 0);
  EXPECT_EQ(std::memcmp(raw, head, sizeof head), 0);
  hdd_close();
  std::memset(raw, 0xAB, sizeof raw);
  EXPECT_EQ(get_start_time(raw), 0) << "0 even without a drive";
  EXPECT_EQ(raw[0], 0u) << "an unreadable sector is delivered as zeros";
}

}  // namespace
}  // namespace virazav::testing
