// The "disk copy" and "disk stills" actions: copies a stretch of recording from a
// recorder disk into the three files of a copy to removable media, with a progress
// bar, and writes the JPEG stills of the disk's still area into a folder. Both go
// through the library's exports only.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "commands.h"
#include "disk_index.h"
#include "json_writer.h"
#include "progress.h"
#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

constexpr int kPollMs = 100;
constexpr int kBarWidth = 30;
constexpr int kStatusIdle = 200;
constexpr int kWorkBufferSize = 0x40000;
constexpr int kNameSize = 43;

// The label the simulated recorder writes in sector 0: value 0 is its magic, values 6
// and 7 the still area's first sector and length.
constexpr uint32_t kLabelMagic = 0x52454344;
constexpr int kLabelStillSector = 6;
constexpr int kLabelStillSectors = 7;

const char* copy_end_text(int status) {
  switch (status) {
    case 101:
      return "a chunk could not be read";
    case 102:
      return "stopped";
    case 103:
      return "the data file could not be written (short write, 2 GiB, or less than 1 MiB free)";
    case 104:
      return "the index file could not be written";
    default:
      return "unknown end code";
  }
}

void draw_bar(int percent) {
  int filled = percent * kBarWidth / 100;
  std::fprintf(stderr, "\rcopy [%.*s%.*s] %3d%%", filled, "##############################",
               kBarWidth - filled, "------------------------------", percent);
  std::fflush(stderr);
}

int close_with(int status) {
  hdd_close();
  return status;
}

// The three files of a copy. The library writes a data file it finds over from its start
// without shortening it, so a longer earlier copy's tail would stay behind the new data.
constexpr const char* kCopyFiles[] = {"HDR.dat", ".index", "List.HDR"};

// Returns the recordings that share at least a second with [from, to].
int recordings_between(const DiskIndex& index, uint32_t from, uint32_t to) {
  int n = 0;
  for (const RecordingSpan& r : index.recordings) n += r.start <= to && r.end >= from ? 1 : 0;
  return n;
}

int run_copy(const Invocation& inv, int drive, const std::string& name) {
  int status = kExitOk;
  if (!expect_positional(inv, 2, 1, &status)) return status;
  const std::string& dir = inv.args.positional[2];
  const std::string* from = inv.args.value("from");
  const std::string* to = inv.args.value("to");
  if (from == nullptr || to == nullptr) return usage(inv, "copy needs --from TIME and --to TIME");
  uint32_t start = 0, end = 0;
  if (!parse_disk_time(*from, &start)) return usage(inv, "--from: not a time: " + *from);
  if (!parse_disk_time(*to, &end)) return usage(inv, "--to: not a time: " + *to);
  if (start > end) {
    return usage(inv,
                 "--from " + format_disk_time(start) + " lies after --to " + format_disk_time(end));
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return report_problem("copy into " + dir, "no such folder");
  for (const char* file : kCopyFiles) {
    const fs::path path = fs::path(dir) / file;
    if (!fs::exists(path, ec)) continue;
    if (!inv.args.has("replace")) {
      return report_problem("copy into " + dir,
                            "it already holds a copy (" + std::string(file) +
                                "); give an empty folder, or --replace to remove the old copy");
    }
    if (!fs::remove(path, ec)) return report_problem("remove " + path.string(), ec.message());
  }

  DiskIndex index;
  if (int st = open_disk_index(drive, name, &index); st != kExitOk) return st;
  if (recordings_between(index, start, end) == 0) {
    hdd_close();
    std::fprintf(stderr,
                 "virazav: copy: nothing is recorded from %s to %s (recorded: %s .. %s, %zu "
                 "recordings; 'disk list' shows them)\n",
                 format_disk_time(start).c_str(), format_disk_time(end).c_str(),
                 format_disk_time(index.start).c_str(), format_disk_time(index.end).c_str(),
                 index.recordings.size());
    if (inv.global.json) {
      JsonWriter()
          .begin_object()
          .member("folder", dir)
          .member("from", format_disk_time(start))
          .member("to", format_disk_time(end))
          .member("copied", false)
          .end_object()
          .print();
    }
    return kExitNothing;
  }
  int rc = hdd_copy_usb(dir.c_str(), static_cast<int>(start), static_cast<int>(end));
  if (rc != 0) {
    return close_with(report_disk_failure("start the copy into " + dir, VIRAZAV_DISK_COPY, rc));
  }

  const bool draw = want_progress(inv.args.has("progress"));
  int st = 0;
  // The copy ends by itself: at the chunk at or after the end time, at the newest chunk,
  // or at a failure; the status leaves 0..99 then.
  for (;;) {
    hdd_copy_usb_get_sts(&st);
    if (st > 99) break;
    if (draw) draw_bar(st);
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  if (draw) {
    draw_bar(100);
    std::fputc('\n', stderr);
  }
  if (st != kStatusIdle) return close_with(report_problem("copy", copy_end_text(st)));

  const auto bytes = std::filesystem::file_size(std::filesystem::path(dir) / "HDR.dat", ec);
  const auto records = std::filesystem::file_size(std::filesystem::path(dir) / ".index", ec);
  std::string list;
  std::string error;
  read_file((std::filesystem::path(dir) / "List.HDR").string(), &list, &error);
  if (inv.global.json) {
    JsonWriter()
        .begin_object()
        .member("folder", dir)
        .member("from", format_disk_time(start))
        .member("to", format_disk_time(end))
        .member("copied", true)
        .member("bytes", static_cast<uint64_t>(bytes))
        .member("chunks", static_cast<uint64_t>(records / 24))
        .member("list", list)
        .end_object()
        .print();
    return close_with(kExitOk);
  }
  std::printf("copied %s in %llu chunks into %s: %s\n",
              human_bytes(static_cast<double>(bytes)).c_str(),
              static_cast<unsigned long long>(records / 24), dir.c_str(), list.c_str());
  return close_with(kExitOk);
}

// The still area from --area FIRST:SECTORS, else from the simulated recorder's label.
bool still_area(const Invocation& inv, int* first, int* sectors, int* status) {
  const std::string* area = inv.args.value("area");
  if (area != nullptr) {
    size_t colon = area->find(':');
    uint32_t a = 0, n = 0;
    if (colon == std::string::npos || !parse_u32(area->substr(0, colon), &a) ||
        !parse_u32(area->substr(colon + 1), &n) || a > 0x7FFFFFFF || n > 0x7FFFFFFF) {
      *status = usage(inv, "--area: expected FIRST:SECTORS");
      return false;
    }
    *first = static_cast<int>(a);
    *sectors = static_cast<int>(n);
    return true;
  }
  uint32_t label[128] = {};
  if (hdd_read_hdsw(label) != 0 || label[0] != kLabelMagic) {
    *status = report_problem("stills", "the disk names no still area: give --area FIRST:SECTORS");
    return false;
  }
  *first = static_cast<int>(label[kLabelStillSector]);
  *sectors = static_cast<int>(label[kLabelStillSectors]);
  return true;
}

int run_stills(const Invocation& inv, int drive, const std::string& name) {
  int status = kExitOk;
  if (!expect_positional(inv, 2, 1, &status)) return status;
  const std::string& dir = inv.args.positional[2];
  if (int st = open_drive(drive, name); st != kExitOk) return st;
  int first = 0, sectors = 0;
  if (!still_area(inv, &first, &sectors, &status)) return close_with(status);

  std::string work(kWorkBufferSize, '\0');
  unsigned char* buffer = reinterpret_cast<unsigned char*>(work.data());
  int cursor = first, sequence = 1, total = 0, unreadable = 0;
  JsonWriter json;
  json.begin_object()
      .member("folder", dir)
      .member("area_first", first)
      .member("area_sectors", sectors);
  json.key("stills").begin_array();
  // Every call moves the cursor on, and a scan without a marker moves it 16 MiB, so the
  // loop reaches the end of the area.
  for (;;) {
    char name[kNameSize];
    int r = hdd_read_jpeg(&cursor, first, sectors, sequence, buffer, name);
    if (r == -7) break;
    if (r == -3 || r == -5) ++unreadable;
    if (r <= 0) continue;
    const std::string path = (std::filesystem::path(dir) / name).string();
    int t = hdd_write_jpeg_file(path.c_str(), r, buffer, total);
    if (t < 0) return close_with(report_disk_failure("write " + path, VIRAZAV_DISK_STILL_FILE, t));
    total = t;
    if (inv.global.json) {
      json.begin_object().member("name", name).member("bytes", r).end_object();
    } else {
      std::printf("%s  %d bytes\n", name, r);
    }
    ++sequence;
  }
  if (inv.global.json) {
    json.end_array()
        .member("count", sequence - 1)
        .member("total_bytes", total)
        .member("unreadable", unreadable)
        .end_object()
        .print();
    return close_with(kExitOk);
  }
  std::printf("%d stills, %s written to %s", sequence - 1,
              human_bytes(static_cast<double>(total)).c_str(), dir.c_str());
  if (unreadable > 0) std::printf(" (%d unreadable places passed over)", unreadable);
  std::printf("\n");
  return close_with(kExitOk);
}

}  // namespace

int run_disk_media(const Invocation& inv, const std::string& action, int drive,
                   const std::string& name) {
  if (action == "copy") return run_copy(inv, drive, name);
  return run_stills(inv, drive, name);
}

}  // namespace virazav::cli
