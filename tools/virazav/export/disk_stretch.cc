// Copying a stretch of a recorder disk for the export, through the library's exports:
// the record index loaded as the disk commands load it, then hdd_copy_usb polled until
// it ends.
#include "export/disk_stretch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "disk_index.h"
#include "options.h"
#include "progress.h"
#include "report.h"
#include "virazav.h"

namespace virazav::cli::exporting {
namespace {

constexpr int kPollMs = 50;
constexpr int kCopyDone = 200;  // hdd_copy_usb_get_sts once the copy ended well
constexpr int kCopyRunning = 99;
constexpr int kImageDriveNumber = 9;  // an image path stands in for drive 9

}  // namespace

int copy_disk_stretch(const std::string& disk, int64_t from, int64_t to, const std::string& dir,
                      bool draw) {
  namespace fs = std::filesystem;
  int drive = kImageDriveNumber;
  std::string name;
  int64_t n = 0;
  if (parse_number(disk, 0, 9, &n)) {
    drive = static_cast<int>(n);
    name = "drive " + disk;
  } else {
    ::setenv("VIRAZAV_PHYSICALDRIVE9", disk.c_str(), 1);
    name = "image " + disk;
  }
  std::error_code ec;
  if (fs::exists(fs::path(dir) / "HDR.dat", ec)) {
    return report_problem("export --disk", dir + " holds a copy already; remove it first");
  }
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) return report_problem("export --disk", "cannot make " + dir);

  DiskIndex index;
  if (open_disk_index(drive, name, &index) != kExitOk) return kExitFailure;
  bool recorded = false;
  for (const RecordingSpan& r : index.recordings) {
    recorded = recorded || (r.start <= to && r.end >= from);
  }
  if (!recorded) {
    hdd_close();
    fs::remove(dir, ec);  // only when it is empty: a folder made for nothing
    std::fprintf(stderr,
                 "virazav: export: nothing is recorded on %s from %s to %s; nothing written\n",
                 name.c_str(), format_disk_time(static_cast<uint32_t>(from)).c_str(),
                 format_disk_time(static_cast<uint32_t>(to)).c_str());
    return kExitNothing;
  }
  const int rc = hdd_copy_usb(dir.c_str(), static_cast<int>(from), static_cast<int>(to));
  if (rc != 0) {
    hdd_close();
    return report_disk_failure("export --disk: copy into " + dir, VIRAZAV_DISK_COPY, rc);
  }
  ProgressBar bar("disk copy", draw);
  int status = 0;
  for (;;) {
    hdd_copy_usb_get_sts(&status);
    if (status > kCopyRunning) break;
    if (draw) ProgressBar::on_progress(status, 100, &bar);
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  if (draw) ProgressBar::on_progress(100, 100, &bar);
  bar.finish();
  hdd_close();
  if (status != kCopyDone) {
    return report_problem("export --disk",
                          "the copy from " + name + " ended with status " + std::to_string(status));
  }
  return kExitOk;
}

}  // namespace virazav::cli::exporting
