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
#include "json_writer.h"
#include "report.h"
#include "time_text.h"
#include "timeline_draw.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

constexpr uint32_t kChunkBuffer = 0x200000;
constexpr int64_t kCylinderBytes = 255 * 63 * 512;

std::string format_time(uint32_t t) {
  return format_time_text(from_time_number(t));
}

// An ISO time (years 2000..2132, what a time number holds) as a time number; a plain
// number is taken as one.
bool parse_time(const std::string& text, uint32_t* out) {
  CivilTime t;
  if (parse_time_text(text, &t, 2000, 2132)) {
    const uint32_t number = to_time_number(t);
    if (number > 0x7FFFFFFF) return false;  // past 2066: no int time number holds it
    *out = number;
    return true;
  }
  // The disk exports take time numbers as int: a larger number would arrive negative.
  int64_t n = 0;
  if (!parse_number(text, 0, 0x7FFFFFFF, &n)) return false;
  *out = static_cast<uint32_t>(n);
  return true;
}

int run_info(int drive, const std::string& name, bool json) {
  int cylinders = hdd_get(drive);
  if (!json) {
    if (cylinders > 0) {
      std::printf("%s: %d cylinders of 255 heads x 63 sectors (%.1f GB)\n", name.c_str(), cylinders,
                  cylinders * kCylinderBytes / 1e9);
    } else {
      std::printf("%s: probe result %d (%s)\n", name.c_str(), cylinders,
                  virazav_disk_strerror(VIRAZAV_DISK_DRIVE, cylinders));
    }
  }
  if (int st = open_drive(drive, name); st != kExitOk) return st;
  first_section_play();
  const IndexCopies copies = read_index_copies();
  if (!json) {
    for (int c = 0; c < kIndexCopies; ++c) {
      if (copies.generation[c] >= 0) {
        std::printf("index copy %d: generation %d\n", c, copies.generation[c]);
      } else {
        std::printf("index copy %d: %s\n", c,
                    copies.bad_checksum[c] ? "bad checksum" : "unreadable or out of range");
      }
    }
  }
  // The checks close the drive when they fail.
  DiskIndex index;
  const int st = check_disk_index(name, &index);
  if (st == kExitOk) hdd_close();
  if (json) {
    // The probe and the copies' headers are told even when the index does not load, so
    // that a script sees what is wrong with a disk; "index" is null then.
    JsonWriter out;
    out.begin_object().member("drive", name).member("probe", cylinders).key("bytes");
    if (cylinders > 0) {
      out.value(static_cast<int64_t>(cylinders) * kCylinderBytes);
    } else {
      out.null();
    }
    out.key("index_copies").begin_array();
    for (int c = 0; c < kIndexCopies; ++c) {
      out.begin_object().member("copy", c).key("generation");
      if (copies.generation[c] >= 0) {
        out.value(copies.generation[c]);
      } else {
        out.null();
      }
      out.member("bad_checksum", copies.bad_checksum[c])
          .member("newest", c == copies.newest)
          .end_object();
    }
    out.end_array().key("index");
    if (st == kExitOk) {
      out.begin_object()
          .member("copy", index.copies.newest)
          .member("generation", index.copies.generation_used)
          .member("recording_list_copy", index.recording_list_copy)
          .member("start", format_time(index.start))
          .member("end", format_time(index.end))
          .member("recordings", index.recordings.size())
          .member("alarms", index.alarms.size())
          .end_object();
    } else {
      out.null();
    }
    out.end_object().print();
    return st;
  }
  if (st != kExitOk) return st;
  std::printf("index read from %s\n", describe_copy_used(index).c_str());
  std::printf("recorded: %s .. %s\n", format_time(index.start).c_str(),
              format_time(index.end).c_str());
  std::printf("recordings: %zu, alarms: %zu\n", index.recordings.size(), index.alarms.size());
  return kExitOk;
}

int run_list(int drive, const std::string& name, bool json) {
  DiskIndex index;
  if (int st = open_disk_index(drive, name, &index); st != kExitOk) return st;
  hdd_close();
  if (json) {
    JsonWriter out;
    out.begin_object()
        .member("drive", name)
        .member("index_copy", index.copies.newest)
        .member("generation", index.copies.generation_used)
        .member("recording_list_copy", index.recording_list_copy)
        .member("start", format_time(index.start))
        .member("end", format_time(index.end))
        .key("recordings")
        .begin_array();
    for (const RecordingSpan& s : index.recordings) {
      out.begin_object()
          .member("index", s.index)
          .member("start", format_time(s.start))
          .member("end", format_time(s.end))
          .member("kind", s.kind)
          .end_object();
    }
    out.end_array().key("alarms").begin_array();
    for (const AlarmSpan& a : index.alarms) {
      out.begin_object()
          .member("index", a.index)
          .member("start", format_time(a.start))
          .member("end", format_time(a.end))
          .end_object();
    }
    out.end_array().end_object().print();
    return kExitOk;
  }
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
    return usage(inv, "--at needs a time (YYYY-MM-DDThh:mm:ss)");
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
  if (!inv.global.json) {
    std::printf(
        "search %s: %s\n", format_time(t).c_str(),
        placed == 1 ? "positioned at the time" : "not found, positioned at the newest recording");
  }
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
  if (inv.global.json) {
    JsonWriter json;
    json.begin_object()
        .member("drive", name)
        .member("at", format_time(t))
        .member("found", placed == 1)
        .member("chunks", delivered)
        .member("bytes", bytes)
        .key("file");
    if (out != nullptr) {
      json.value(*out);
    } else {
      json.null();
    }
    json.member("last_result", last).end_object().print();
    return kExitOk;
  }
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
  if (action == "info") return run_info(drive, name, inv.global.json);
  if (action == "list") return run_list(drive, name, inv.global.json);
  if (action == "timeline") return run_disk_timeline(inv, drive, name);
  return run_read(inv, drive, name);
}

}  // namespace virazav::cli
