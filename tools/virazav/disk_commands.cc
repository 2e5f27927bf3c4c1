// The "disk" command: a recorder disk attached to this computer, or an image of one. Shows
// the drive and its index copies, lists the recordings and alarms, draws the recorded
// timeline (timeline_draw.cc), and reads the packets at a time into a file. Everything goes
// through the library's exports.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "disk_index.h"
#include "report.h"
#include "timeline_draw.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

constexpr uint32_t kChunkBuffer = 0x200000;

// Time numbers: every month counts 31 days, every year 372.
constexpr uint32_t kYear = 32140800, kMonth = 2678400, kDay = 86400;

std::string format_time(uint32_t t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 2000 + t / kYear,
                t % kYear / kMonth + 1, t % kMonth / kDay + 1, t % kDay / 3600, t % 3600 / 60,
                t % 60);
  return buf;
}

// "YYYY-MM-DD HH:MM:SS" (or with 'T') as a time number; a plain number is taken as one.
bool parse_time(const std::string& text, uint32_t* out) {
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4u-%2u-%2u%c%2u:%2u:%2u%n", &y, &mo, &d, &sep, &h, &mi, &s,
                  &used) == 7 &&
      used == static_cast<int>(text.size()) && (sep == ' ' || sep == 'T')) {
    if (y < 2000 || y > 2255 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
      return false;
    const uint64_t number =
        s + 60 * (mi + 60 * (h + 24 * (d + 31 * (mo + 12 * (uint64_t{y} - 2000)) - 32)));
    if (number > 0x7FFFFFFF) return false;  // past 2066: no int time number holds it
    *out = static_cast<uint32_t>(number);
    return true;
  }
  // The disk exports take time numbers as int: a larger number would arrive negative.
  int64_t n = 0;
  if (!parse_number(text, 0, 0x7FFFFFFF, &n)) return false;
  *out = static_cast<uint32_t>(n);
  return true;
}

int run_info(int drive, const std::string& name) {
  int cylinders = hdd_get(drive);
  if (cylinders > 0) {
    std::printf("%s: %d cylinders of 255 heads x 63 sectors (%.1f GB)\n", name.c_str(), cylinders,
                cylinders * 8225280.0 / 1e9);
  } else {
    std::printf("%s: probe result %d (%s)\n", name.c_str(), cylinders,
                virazav_disk_strerror(VIRAZAV_DISK_DRIVE, cylinders));
  }
  if (int st = open_drive(drive, name); st != kExitOk) return st;
  first_section_play();
  const IndexCopies copies = read_index_copies();
  for (int c = 0; c < kIndexCopies; ++c) {
    if (copies.generation[c] >= 0) {
      std::printf("index copy %d: generation %d\n", c, copies.generation[c]);
    } else {
      std::printf("index copy %d: %s\n", c,
                  copies.bad_checksum[c] ? "bad checksum" : "unreadable or out of range");
    }
  }
  // The checks close the drive when they fail.
  DiskIndex index;
  if (int st = check_disk_index(name, &index); st != kExitOk) return st;
  std::printf("index read from %s\n", describe_copy_used(index).c_str());
  std::printf("recorded: %s .. %s\n", format_time(index.start).c_str(),
              format_time(index.end).c_str());
  std::printf("recordings: %zu, alarms: %zu\n", index.recordings.size(), index.alarms.size());
  hdd_close();
  return kExitOk;
}

int run_list(int drive, const std::string& name) {
  DiskIndex index;
  if (int st = open_disk_index(drive, name, &index); st != kExitOk) return st;
  hdd_close();
  std::printf("index read from %s\n", describe_copy_used(index).c_str());
  std::printf("%zu recordings\n", index.recordings.size());
  for (const RecordingSpan& s : index.recordings) {
    std::printf("  [%3d] %s .. %s  kind %u\n", s.index, format_time(s.start).c_str(),
                format_time(s.end).c_str(), s.kind);
  }
  std::printf("%zu alarms\n", index.alarms.size());
  for (const AlarmSpan& a : index.alarms) {
    std::printf("  [%2d] %s .. %s\n", a.index, format_time(a.start).c_str(),
                format_time(a.end).c_str());
  }
  return kExitOk;
}

int run_read(const Invocation& inv, int drive, const std::string& name) {
  const std::string* at = inv.args.value("at");
  uint32_t t = 0;
  if (at == nullptr || !parse_time(*at, &t))
    return usage(inv, "--at needs a time (YYYY-MM-DD HH:MM:SS)");
  int64_t chunks = 10;
  if (const std::string* n = inv.args.value("chunks");
      n != nullptr && !parse_number(*n, 1, 100000, &chunks)) {
    return usage(inv, "--chunks needs a count 1..100000");
  }
  const std::string* out = inv.args.value("out");
  std::FILE* file = nullptr;
  if (out != nullptr) {
    file = std::fopen(out->c_str(), "wb");
    if (file == nullptr) return report_problem("create " + *out, "cannot be written");
  }
  DiskIndex index;
  if (int st = open_disk_index(drive, name, &index); st != kExitOk) {
    if (file) std::fclose(file);
    return st;
  }
  int placed = search_play(static_cast<int>(t));
  std::printf(
      "search %s: %s\n", format_time(t).c_str(),
      placed == 1 ? "positioned at the time" : "not found, positioned at the newest recording");
  std::vector<uint8_t> buf(kChunkBuffer);
  uint64_t bytes = 0;
  int delivered = 0, last = 0;
  for (int64_t i = 0; i < chunks; ++i) {
    uint32_t length = 0;
    last = read_data(buf.data(), &length);
    if (last == 0 || last == 1) {
      ++delivered;
      bytes += length;
      if (file && length > 0 && std::fwrite(buf.data(), 1, length, file) != length) {
        std::fclose(file);
        hdd_close();
        return report_problem("write " + *out, "short write");
      }
    }
    if (last == 100) break;
  }
  if (file) std::fclose(file);
  hdd_close();
  std::printf("%d chunks, %llu bytes of packets%s%s; last result %d\n", delivered,
              static_cast<unsigned long long>(bytes), out ? " written to " : "",
              out ? out->c_str() : "", last);
  return kExitOk;
}

}  // namespace

bool parse_disk_time(const std::string& text, uint32_t* out) {
  return parse_time(text, out);
}

std::string format_disk_time(uint32_t t) {
  return format_time(t);
}

int run_disk(const Invocation& inv) {
  if (inv.args.positional.empty())
    return usage(inv, "missing action: info, list, timeline, read, play, copy or stills");
  const std::string& action = inv.args.positional[0];
  int drive = 0, status = kExitOk;
  std::string name;
  if (action != "info" && action != "list" && action != "timeline" && action != "read" &&
      action != "play" && action != "copy" && action != "stills") {
    return usage(inv, "unknown action " + action);
  }
  if (!resolve_drive(inv, &drive, &name, &status)) return status;
  if (action == "copy" || action == "stills") return run_disk_media(inv, action, drive, name);
  if (!expect_positional(inv, 2, 0, &status)) return status;
  if (action == "play") return run_disk_play(inv, drive, name);
  if (action == "info") return run_info(drive, name);
  if (action == "list") return run_list(drive, name);
  if (action == "timeline") return run_disk_timeline(inv, drive, name);
  return run_read(inv, drive, name);
}

}  // namespace virazav::cli
