// Raw drives on Linux: a block device or a disk image file named by the drive
// number, opened read-only and exclusively, with its geometry and positioned
// reads.
#include "platform/posix/drive_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <new>

namespace virazav::platform {
namespace {

struct Drive {
  int fd = -1;
  bool image = false;  // a regular file rather than a block device
};

Drive* drive_of(DriveHandle d) {
  return static_cast<Drive*>(d);
}

// The device's removable flag from sysfs; a device that does not say counts as
// fixed, as the recorder's disks are.
bool block_device_removable(dev_t dev) {
  char path[64];
  std::snprintf(path, sizeof path, "/sys/dev/block/%u:%u/removable", major(dev), minor(dev));
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char c = '0';
  ssize_t r;
  do r = ::read(fd, &c, 1);
  while (r < 0 && errno == EINTR);
  ::close(fd);
  return r == 1 && c == '1';
}

}  // namespace

std::string drive_path(int number) {
  if (number < 0 || number > 9) return std::string();
  char name[] = "VIRAZAV_PHYSICALDRIVE0";
  name[sizeof name - 2] = static_cast<char>('0' + number);
  std::string path;
  if (get_env(name, &path) && !path.empty()) return path;
  path = "/dev/sd";
  path += static_cast<char>('a' + number);
  return path;
}

int drive_seek(DriveHandle d, int64_t offset) {
  Drive* drive = drive_of(d);
  if (drive == nullptr || offset < 0) return -1;
  return ::lseek(drive->fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset)
             ? 0
             : -1;
}

void drive_close(DriveHandle d) {
  Drive* drive = drive_of(d);
  if (drive == nullptr) return;
  // Closing the descriptor also releases the flock of an image.
  ::close(drive->fd);
  delete drive;
}

namespace posix {

DriveHandle real_drive_open(int number) {
  std::string path = drive_path(number);
  if (path.empty()) return nullptr;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return nullptr;
  bool image = S_ISREG(st.st_mode);
  if (!image && !S_ISBLK(st.st_mode)) return nullptr;
  // O_EXCL without O_CREAT on a block device refuses a device that is mounted or
  // held by another exclusive open; an image is held with an flock instead.
  int flags = O_RDONLY | O_CLOEXEC | (image ? 0 : O_EXCL);
  int fd;
  do fd = ::open(path.c_str(), flags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  if (image) {
    int r;
    do r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
      ::close(fd);
      return nullptr;
    }
  }
  Drive* drive = new (std::nothrow) Drive;
  if (drive == nullptr) {
    ::close(fd);
    return nullptr;
  }
  drive->fd = fd;
  drive->image = image;
  return drive;
}

int real_drive_geometry(DriveHandle d, DriveGeometry* out) {
  Drive* drive = drive_of(d);
  if (drive == nullptr || out == nullptr) return -1;
  struct stat st {};
  if (::fstat(drive->fd, &st) != 0) return -1;
  DriveGeometry g;
  if (drive->image) {
    g.media_type = kMediaFixedDisk;
    g.bytes_per_sector = 512;
    g.tracks_per_cylinder = 255;
    g.sectors_per_track = 63;
    g.cylinders = static_cast<int64_t>(st.st_size) / (512 * 255 * 63);
    *out = g;
    return 0;
  }
  hd_geometry geo{};
  uint64_t bytes = 0;
  int sector_size = 0;
  if (::ioctl(drive->fd, HDIO_GETGEO, &geo) != 0) return -1;
  if (::ioctl(drive->fd, BLKGETSIZE64, &bytes) != 0) return -1;
  if (::ioctl(drive->fd, BLKSSZGET, &sector_size) != 0 || sector_size <= 0) return -1;
  g.media_type = block_device_removable(st.st_rdev) ? kMediaRemovable : kMediaFixedDisk;
  g.bytes_per_sector = static_cast<uint32_t>(sector_size);
  g.tracks_per_cylinder = geo.heads;
  g.sectors_per_track = geo.sectors;
  // HDIO_GETGEO's cylinder field is 16 bits wide; the size gives the real count.
  uint64_t per_cylinder =
      static_cast<uint64_t>(geo.heads) * geo.sectors * static_cast<uint64_t>(sector_size);
  g.cylinders = per_cylinder ? static_cast<int64_t>(bytes / per_cylinder) : 0;
  *out = g;
  return 0;
}

long real_drive_read(DriveHandle d, void* data, size_t n) {
  Drive* drive = drive_of(d);
  if (drive == nullptr) return -1;
  auto* p = static_cast<uint8_t*>(data);
  size_t done = 0;
  // One request for the caller; short transfers inside it are continued so that
  // only the end of the drive makes the count fall short.
  while (done < n) {
    ssize_t r = ::read(drive->fd, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<long>(done);
}

}  // namespace posix
}  // namespace virazav::platform
