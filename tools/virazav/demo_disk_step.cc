// The tour's disk step: the built-in recorder writes two minutes of four cameras onto a
// disk image, a stretch of it is copied off as a file pair, the copy is played through the
// library's player and a quad snapshot of what it shows is taken.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "commands.h"
#include "demo.h"
#include "disk/disk_image.h"
#include "virazav.h"

namespace virazav::cli {

namespace fs = std::filesystem;

namespace {

constexpr int kDrive = 9;  // the drive number the tour's image stands for
constexpr char kDriveVariable[] = "VIRAZAV_PHYSICALDRIVE9";
constexpr char kFrom[] = "2024-05-01T10:00:30";
constexpr char kTo[] = "2024-05-01T10:01:00";
constexpr int kPlayMs = 2500;
constexpr int kCopyLimitMs = 60000;
constexpr int kCopyDone = 200;  // hdd_copy_usb_get_sts once a copy has ended well

// Points drive kDrive at the image for its lifetime and puts the variable back after.
class DriveScope {
 public:
  explicit DriveScope(const std::string& image) {
    if (const char* v = std::getenv(kDriveVariable)) previous_ = v, had_ = true;
    ::setenv(kDriveVariable, image.c_str(), 1);
  }
  ~DriveScope() {
    if (had_) {
      ::setenv(kDriveVariable, previous_.c_str(), 1);
    } else {
      ::unsetenv(kDriveVariable);
    }
  }
  DriveScope(const DriveScope&) = delete;
  DriveScope& operator=(const DriveScope&) = delete;

 private:
  std::string previous_;
  bool had_ = false;
};

// Copies kFrom..kTo of drive kDrive into `dir`. Returns an empty text, or what failed.
std::string copy_stretch(const fs::path& dir) {
  uint32_t from = 0, to = 0;
  parse_disk_time(kFrom, &from);
  parse_disk_time(kTo, &to);
  int rc = hdd_open(kDrive);
  if (rc != 0) return "open the image: " + std::string(virazav_strerror(rc));
  first_section_play();
  rc = hdd_copy_usb(dir.c_str(), static_cast<int>(from), static_cast<int>(to));
  int status = 0;
  for (int waited = 0; rc == 0 && waited < kCopyLimitMs; waited += 20) {
    hdd_copy_usb_get_sts(&status);
    if (status > 99) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  hdd_close();
  if (rc != 0) return "start the copy: " + std::string(virazav_strerror(rc));
  if (status != kCopyDone) return "the copy ended with status " + std::to_string(status);
  return "";
}

// Plays the copy in `copy` for kPlayMs and takes a quad snapshot into `snaps`. Returns an
// empty text, or what failed.
std::string play_and_snap(const fs::path& copy, const fs::path& snaps) {
  Zel_play_open(0, 0, 0, 0);
  const std::string data = (copy / "HDR.dat").string();
  const std::string index = (copy / ".index").string();
  int rc = playfile(data.c_str(), index.c_str(), 0);
  if (rc != 0) return "open the copy: " + std::string(virazav_strerror(rc));
  Zel_set_viewer_mode(0, 0);
  file_play_start();
  std::this_thread::sleep_for(std::chrono::milliseconds(kPlayMs));
  std::error_code ec;
  const fs::path old_cwd = fs::current_path(ec);
  fs::current_path(snaps, ec);
  int layout = 0, first = 0, second = 0, status = 0;
  if (!ec) rc = make_bmp(&layout, &first, &second, nullptr, &status);
  fs::current_path(old_cwd, ec);
  file_play_stop();
  file_read_stop();
  play_end();
  if (rc != 0) return "take the snapshot: " + std::string(virazav_strerror(rc));
  if (status != 0) return "the copy was no longer playing when the snapshot was taken";
  if (layout != 4) return "the snapshot's layout is " + std::to_string(layout) + ", not quad";
  for (int ch = 1; ch <= 4; ++ch) {
    if (!fs::exists(snaps / ("bmp" + std::to_string(ch) + ".bmp"), ec))
      return "no snapshot of channel " + std::to_string(ch);
  }
  return "";
}

}  // namespace

StepResult demo_disk(Tour& tour) {
  const fs::path dir = tour.dir / "disk";
  const fs::path image = dir / "recorder.img";
  const fs::path copy = dir / "copy";
  const fs::path snaps = dir / "snapshot";
  std::error_code ec;
  fs::remove_all(copy, ec);  // a copy goes into an empty folder
  fs::create_directories(copy, ec);
  fs::create_directories(snaps, ec);

  sim::DiskImageDesc desc;
  desc.hours = 2.0 / 60.0;
  desc.channels = 4;
  std::string error;
  if (!sim::write_disk_image(desc, image.string(), &error))
    return step_problem("write the disk image: " + error);
  tour.wrote(image, "a recorder's disk: two minutes of four cameras from 2024-05-01T10:00:00");

  DriveScope drive(image.string());
  std::string failure = copy_stretch(copy);
  if (!failure.empty()) return step_problem(failure);
  tour.wrote(copy, std::string("the copy of ") + kFrom + " .. " + kTo + ": HDR.dat, .index");
  failure = play_and_snap(copy, snaps);
  if (!failure.empty()) return step_problem(failure);
  tour.wrote(snaps, "a quad snapshot of the copy playing, bmp1.bmp .. bmp4.bmp");

  const auto bytes = fs::file_size(copy / "HDR.dat", ec);
  const auto records = fs::file_size(copy / ".index", ec);
  return step_ok("copied " + std::to_string(records / 24) + " chunks (" +
                 std::to_string(bytes / 1024) + " KiB), played " +
                 std::to_string(kPlayMs / 1000.0).substr(0, 3) + " s, quad snapshot -> " +
                 shown_path(snaps));
}

}  // namespace virazav::cli
