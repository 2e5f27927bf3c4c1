// Opening a recorder disk for the disk commands and checking its record index before use.
#include "disk_index.h"

#include <cstdlib>
#include <filesystem>

#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

constexpr int kImageDrive = 9;  // the drive number an image path is read through
// First sectors of the three index copies; each starts with its 16-byte header in the
// sector after the first (docs/formats/record-index.md).
constexpr int32_t kCopyStart[kIndexCopies] = {0, 244333, 488666};
constexpr int kHeaderGeneration = 12;
constexpr int kHeaderChecksum = 15;
constexpr int kGenerations = 6;
constexpr int kRecordingSlots = 1000;
constexpr int kAlarmSlots = 50;
// The recording list of a copy: its 8-byte control record in the copy's sector 23, the
// 1000 entries of 28 bytes from sector 24 on.
constexpr int kRecControlSector = 23;
constexpr size_t kRecControlSize = 8;
constexpr size_t kRecEntrySize = 28;
constexpr uint32_t kRecListSectors = (kRecordingSlots * kRecEntrySize + 511) / 512;
// Time numbers count every year as 372 days; the recorder writes years 2000..2099.
constexpr uint32_t kTimeNumberYear = 32140800;
constexpr uint32_t kLastTimeNumber = 100 * kTimeNumberYear - 1;

bool sane_time(uint32_t t) {
  return t <= kLastTimeNumber;
}

}  // namespace

bool resolve_drive(const Invocation& inv, int* drive, std::string* name, int* status) {
  if (inv.args.positional.size() < 2) {
    *status = usage(inv, "missing DRIVE (a number 0..9 or an image path)");
    return false;
  }
  const std::string& word = inv.args.positional[1];
  int64_t n = 0;
  if (parse_number(word, 0, 9, &n)) {
    *drive = static_cast<int>(n);
    *name = "drive " + word;
    return true;
  }
  ::setenv("VIRAZAV_PHYSICALDRIVE9", word.c_str(), 1);
  *drive = kImageDrive;
  *name = "image " + word;
  return true;
}

IndexCopies read_index_copies() {
  IndexCopies copies;
  int highest = -1;
  for (int c = 0; c < kIndexCopies; ++c) {
    uint8_t sector[512];
    copies.generation[c] = -1;
    if (hdd_read(kCopyStart[c] + 1, 1, sector) != 0) continue;
    uint8_t sum = 0;
    for (int i = 0; i < kHeaderChecksum; ++i) sum = static_cast<uint8_t>(sum + sector[i]);
    copies.bad_checksum[c] = sum != sector[kHeaderChecksum];
    if (copies.bad_checksum[c] || sector[kHeaderGeneration] >= kGenerations) continue;
    copies.generation[c] = sector[kHeaderGeneration];
    if (copies.generation[c] > highest) highest = copies.generation[c];
  }
  if (highest < 0) return copies;  // no valid header: the library starts with copy 0
  // The counter wraps after 5: a 0 in copy 0 is newer than a 5, and a 1 in copy 1 newer
  // still.
  if (highest == kGenerations - 1 && copies.generation[0] == 0) {
    highest = 0;
    if (copies.generation[1] == 1) highest = 1;
  }
  copies.generation_used = highest;
  copies.newest = highest % kIndexCopies;
  return copies;
}

namespace {

std::string describe_newest(const IndexCopies& copies) {
  if (copies.newest < 0) return "copy 0 (no copy has a valid header)";
  return "copy " + std::to_string(copies.newest) + " (generation " +
         std::to_string(copies.generation_used) + ")";
}

bool checksum_ok(const uint8_t* record, size_t size) {
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < size; ++i) sum = static_cast<uint8_t>(sum + record[i]);
  return sum == record[size - 1];
}

// Returns the copy whose recording list the library takes: the first, in the order newest,
// newest + 2, newest + 1 (modulo 3), whose control record and entries in use pass their
// checksums; -1 when none does.
int find_recording_list_copy(const IndexCopies& copies) {
  const int g = copies.generation_used;
  const int order[kIndexCopies] = {g % 3, (g + 2) % 3, (g + 1) % 3};
  std::vector<uint8_t> table(kRecListSectors * 512);
  for (int c : order) {
    uint8_t control[512];
    if (hdd_read(kCopyStart[c] + kRecControlSector, 1, control) != 0) continue;
    if (!checksum_ok(control, kRecControlSize)) continue;
    const int count = control[0] | control[1] << 8;
    const int oldest = control[2] | control[3] << 8;
    if (count == 0) return c;
    if (count > kRecordingSlots || oldest >= kRecordingSlots) continue;
    if (hdd_read(kCopyStart[c] + kRecControlSector + 1, kRecListSectors, table.data()) != 0) {
      continue;
    }
    bool ok = true;
    for (int k = 0; k < count && ok; ++k) {
      const size_t slot = static_cast<size_t>((oldest + k) % kRecordingSlots);
      ok = checksum_ok(&table[slot * kRecEntrySize], kRecEntrySize);
    }
    if (ok) return c;
  }
  return -1;
}

}  // namespace

std::string describe_copy_used(const DiskIndex& index) {
  std::string text = describe_newest(index.copies);
  if (index.recording_list_copy >= 0 && index.recording_list_copy != index.copies.newest) {
    text += ", its recording list damaged: the list from copy " +
            std::to_string(index.recording_list_copy);
  }
  return text;
}

int open_drive(int drive, const std::string& name) {
  const int rc = hdd_open(drive);
  if (rc == 0) return kExitOk;
  // The library cannot tell a missing image from one it may not open.
  if (drive == kImageDrive) {
    const char* path = std::getenv("VIRAZAV_PHYSICALDRIVE9");
    std::error_code ec;
    if (path != nullptr && !std::filesystem::exists(path, ec)) {
      return report_problem("open disk image " + std::string(path), "no such file");
    }
  }
  return report_disk_failure("open " + name, VIRAZAV_DISK_DRIVE, rc);
}

int open_disk_index(int drive, const std::string& name, DiskIndex* out) {
  if (int st = open_drive(drive, name); st != kExitOk) return st;
  return check_disk_index(name, out);
}

int check_disk_index(const std::string& name, DiskIndex* out) {
  first_section_play();
  out->copies = read_index_copies();
  auto refuse = [&](const std::string& why) {
    hdd_close();
    return report_problem(name, why);
  };
  if (out->copies.newest < 0) {
    return refuse("no index copy has a valid header: not a recorder's disk, or its index is lost");
  }
  if (read_start_end_sec(&out->start, &out->end) != 0) {
    return refuse("the record index cannot be loaded from any copy (newest: " +
                  describe_newest(out->copies) + ")");
  }
  if (!sane_time(out->start) || !sane_time(out->end) || out->start > out->end) {
    return refuse("the record index holds no sane recorded range (" + format_disk_time(out->start) +
                  " .. " + format_disk_time(out->end) + ")");
  }
  uint16_t count = 0, oldest = 0;
  get_rec_list(&count, &oldest);
  if (count > kRecordingSlots || oldest >= kRecordingSlots) {
    return refuse("the recording list claims " + std::to_string(count) + " recordings from slot " +
                  std::to_string(oldest) + "; it has " + std::to_string(kRecordingSlots) +
                  " slots");
  }
  out->recording_list_copy = find_recording_list_copy(out->copies);
  out->recordings.clear();
  for (int k = 0; k < count; ++k) {
    RecordingSpan s;
    s.index = (oldest + k) % kRecordingSlots;
    get_list_start_end_sec(s.index, &s.start, &s.end, &s.kind);
    if (!sane_time(s.start) || !sane_time(s.end) || s.start > s.end) {
      return refuse("recording " + std::to_string(s.index) + " has no sane times (" +
                    format_disk_time(s.start) + " .. " + format_disk_time(s.end) + ")");
    }
    out->recordings.push_back(s);
  }
  uint8_t alarm_count = 0, alarm_oldest = 0;
  get_alarm_list(&alarm_count, &alarm_oldest);
  if (alarm_count > kAlarmSlots || alarm_oldest >= kAlarmSlots) {
    return refuse("the alarm list claims " + std::to_string(alarm_count) + " alarms from slot " +
                  std::to_string(alarm_oldest) + "; it has " + std::to_string(kAlarmSlots) +
                  " slots");
  }
  out->alarms.clear();
  for (int k = 0; k < alarm_count; ++k) {
    AlarmSpan a;
    a.index = (alarm_oldest + k) % kAlarmSlots;
    get_alarm_info(a.index, &a.start, &a.end);
    if (!sane_time(a.start) || !sane_time(a.end) || a.start > a.end) {
      return refuse("alarm " + std::to_string(a.index) + " has no sane times (" +
                    format_disk_time(a.start) + " .. " + format_disk_time(a.end) + ")");
    }
    out->alarms.push_back(a);
  }
  return kExitOk;
}

}  // namespace virazav::cli
