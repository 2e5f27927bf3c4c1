// `virazav-recorder disk-image`: the command line (or a description file of the same
// options, one a line) turned into a DiskImageDesc, the image written, and a summary of
// what it holds printed.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "disk/disk_image.h"

namespace virazav::sim {

namespace {

constexpr char kUsage[] =
    "usage: virazav-recorder disk-image OUT [options]\n"
    "       virazav-recorder disk-image OUT --from FILE [options]\n"
    "\n"
    "Writes a sparse image of a recorder's disk to OUT: the three copies of the record index,\n"
    "the recorded chunks (MPEG-4 pictures and ADPCM audio of every channel) and the JPEG\n"
    "stills. Only sectors holding data are written, so a large disk takes little space.\n"
    "Durations take s, m or h (default s); sizes take K, M, G or T (powers of 1024).\n"
    "\n"
    "What was recorded:\n"
    "  --hours H               length of the recording (default 1; decimals allowed)\n"
    "  --recordings N          split into N recordings (default 1)\n"
    "  --gap DUR               time without recording between them (default 60s)\n"
    "  --channels C            video channels 0..C-1 (1..16, default 4)\n"
    "  --audio-channels N      audio channels 0..N-1 (0..4, default up to 4)\n"
    "  --start 'YYYY-MM-DD HH:MM:SS'  the recorder's clock at the start\n"
    "  --attribute A           time attribute at the start (0..99, default 0)\n"
    "  --clock-set-back AT[,BACK]  the clock moves back by BACK (default 1h) at AT after\n"
    "                          the start: a new time attribute, times repeat (repeatable)\n"
    "  --alarms N              alarms spread over the recordings (default 0)\n"
    "  --alarm-length DUR      length of each alarm (default 20s)\n"
    "  --stills N              JPEG stills in the still area (default 0)\n"
    "  --still-gap SECTORS     empty sectors between stills (default 0)\n"
    "  --size SIZE             disk size (default: the smallest whole number of cylinders)\n"
    "  --start-slot B:S        segment ring position of the start (block, segment)\n"
    "  --chunks-per-segment N  one-second chunks per segment (1..40, default 10)\n"
    "  --full-index            fill the whole ring (250 blocks of 25,000 segments) with\n"
    "                          filler segments before the recording\n"
    "  --repeat-after DUR      later chunks repeat earlier data (default 120s; 0: never)\n"
    "  --placeholder           placeholder pictures instead of MPEG-4 (fast)\n"
    "  --fps N, --picture WxH, --quantizer Q   the pictures (default 10, 352x240, 4)\n"
    "\n"
    "The index copies:\n"
    "  --generation G          generation of the copy written last (0..5, default 2)\n"
    "  --index-lag N           each older copy lacks N more segments (default 1)\n"
    "\n"
    "Damage (SEG counts the segments of the recording from 0; COPY is 0..2):\n"
    "  --bad-header COPY       copy header with a bad checksum\n"
    "  --header-generation COPY:G  copy header claiming generation G (valid checksum)\n"
    "  --stale COPY            copy that missed its last write (an older generation)\n"
    "  --torn COPY:SECTOR      copy whose last write stopped inside SECTOR of the copy\n"
    "  --bad-entry COPY:TABLE:ENTRY  bad checksum; TABLE attributes|blocks|recordings|alarms,\n"
    "                          ENTRY a ring slot or 'control'\n"
    "  --bad-segment SEG[:COPY]      segment entry with a bad checksum\n"
    "  --chunk-count-55 SEG[:COPY]   segment entry claiming 55 chunks\n"
    "  --unplayable SEG        segment marked as holding nothing to play\n"
    "  --bad-chunk SEG:CHUNK   chunk index entry with a bad checksum\n"
    "  --oversize-chunk SEG:CHUNK    chunk index entry with the size 0x200001\n"
    "  --end-marker SEG:CHUNK:PACKET     the packet carries the end marker 0xFFFF\n"
    "  --unknown-marker SEG:CHUNK:PACKET the packet carries an unknown marker\n"
    "\n"
    "  --from FILE             read options from FILE: one per line, 'name value' without\n"
    "                          the dashes ('out PATH' names the image); '#' starts a comment\n"
    "  --quiet                 print nothing on success\n";

bool parse_int(std::string_view text, int64_t* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parse_int(std::string_view text, int* out) {
  int64_t v = 0;
  if (!parse_int(text, &v) || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

bool parse_double(std::string_view text, double* out) {
  if (text.empty()) return false;
  std::string s(text);
  char* end = nullptr;
  *out = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && std::isfinite(*out);
}

// A duration: a number with an optional unit s, m or h.
bool parse_duration(std::string_view text, int64_t* seconds) {
  double scale = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 's':
        scale = 1;
        text.remove_suffix(1);
        break;
      case 'm':
        scale = 60;
        text.remove_suffix(1);
        break;
      case 'h':
        scale = 3600;
        text.remove_suffix(1);
        break;
      default:
        break;
    }
  }
  double v = 0;
  if (!parse_double(text, &v) || v < 0 || v * scale > 1e12) return false;
  *seconds = std::llround(v * scale);
  return true;
}

bool parse_size(std::string_view text, uint64_t* bytes) {
  double scale = 1;
  if (!text.empty() && (text.back() == 'B' || text.back() == 'b')) text.remove_suffix(1);
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
      case 'k':
        scale = 1024.0;
        break;
      case 'M':
      case 'm':
        scale = 1024.0 * 1024;
        break;
      case 'G':
      case 'g':
        scale = 1024.0 * 1024 * 1024;
        break;
      case 'T':
      case 't':
        scale = 1024.0 * 1024 * 1024 * 1024;
        break;
      default:
        break;
    }
    if (scale != 1) text.remove_suffix(1);
  }
  double v = 0;
  if (!parse_double(text, &v) || v < 1 || v * scale > 1.8e19) return false;
  *bytes = static_cast<uint64_t>(std::llround(v * scale));
  return true;
}

// Integers separated by `sep`; the count must be between min and max.
bool parse_list(std::string_view text, char sep, size_t min, size_t max,
                std::vector<int64_t>* out) {
  out->clear();
  for (;;) {
    const size_t at = text.find(sep);
    int64_t v = 0;
    if (!parse_int(text.substr(0, at), &v)) return false;
    out->push_back(v);
    if (at == std::string_view::npos) break;
    text.remove_prefix(at + 1);
  }
  return out->size() >= min && out->size() <= max;
}

bool parse_table(std::string_view text, IndexTable* table) {
  if (text == "attributes")
    *table = IndexTable::kTimeAttributes;
  else if (text == "blocks")
    *table = IndexTable::kBlocks;
  else if (text == "recordings")
    *table = IndexTable::kRecordings;
  else if (text == "alarms")
    *table = IndexTable::kAlarms;
  else
    return false;
  return true;
}

bool valid_copy(int64_t c) {
  return c >= 0 && c < kIndexCopyCount;
}

// Reads a description file into arguments: "name value" becomes "--name", "value".
bool read_description(const std::string& path, std::vector<std::string>* args, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    const size_t b = line.find_first_not_of(" \t\r");
    if (b == std::string::npos) continue;
    const size_t e = line.find_first_of(" \t", b);
    std::string name = line.substr(b, e == std::string::npos ? std::string::npos : e - b);
    if (name.rfind("--", 0) != 0) name = "--" + name;
    args->push_back(name);
    if (e != std::string::npos) {
      const size_t vb = line.find_first_not_of(" \t", e);
      const size_t ve = line.find_last_not_of(" \t\r");
      if (vb != std::string::npos && ve >= vb) args->push_back(line.substr(vb, ve - vb + 1));
    }
  }
  return true;
}

bool apply_option(const std::string& name, const std::string& value, DiskImageDesc* desc,
                  std::string* path) {
  DamageOptions& d = desc->damage;
  std::vector<int64_t> v;
  int64_t n = 0;
  if (name == "--out") {
    *path = value;
  } else if (name == "--hours") {
    return parse_double(value, &desc->hours) && desc->hours > 0;
  } else if (name == "--recordings") {
    return parse_int(value, &desc->recording_count) && desc->recording_count > 0;
  } else if (name == "--gap") {
    return parse_duration(value, &desc->gap_s);
  } else if (name == "--channels") {
    return parse_int(value, &desc->channels);
  } else if (name == "--audio-channels") {
    return parse_int(value, &desc->audio_channels);
  } else if (name == "--start") {
    const auto t = parse_rec_time(value);
    if (!t) return false;
    desc->start = *t;
  } else if (name == "--attribute") {
    return parse_int(value, &desc->first_attribute);
  } else if (name == "--clock-set-back") {
    ClockSetBack b;
    const size_t comma = value.find(',');
    if (!parse_duration(value.substr(0, comma), &b.at_s)) return false;
    if (comma != std::string::npos && !parse_duration(value.substr(comma + 1), &b.back_s)) {
      return false;
    }
    desc->clock_set_backs.push_back(b);
  } else if (name == "--alarms") {
    return parse_int(value, &desc->alarms);
  } else if (name == "--alarm-length") {
    return parse_duration(value, &desc->alarm_s);
  } else if (name == "--stills") {
    return parse_int(value, &desc->stills);
  } else if (name == "--still-gap") {
    return parse_int(value, &desc->still_gap_sectors);
  } else if (name == "--size") {
    return parse_size(value, &desc->size_bytes);
  } else if (name == "--start-slot") {
    if (!parse_list(value, ':', 2, 2, &v)) return false;
    desc->start_block = static_cast<int>(v[0]);
    desc->start_segment = static_cast<int>(v[1]);
  } else if (name == "--chunks-per-segment") {
    return parse_int(value, &desc->chunks_per_segment);
  } else if (name == "--repeat-after") {
    return parse_duration(value, &desc->repeat_after_s);
  } else if (name == "--fps") {
    return parse_int(value, &desc->video.fps);
  } else if (name == "--picture") {
    if (!parse_list(value, 'x', 2, 2, &v) || v[0] > 4096 || v[1] > 4096) return false;
    desc->video.width = static_cast<int>(v[0]);
    desc->video.height = static_cast<int>(v[1]);
  } else if (name == "--quantizer") {
    return parse_int(value, &desc->video.quantizer);
  } else if (name == "--generation") {
    return parse_int(value, &desc->newest_generation);
  } else if (name == "--index-lag") {
    return parse_int(value, &desc->index_lag_segments);
  } else if (name == "--bad-header" || name == "--stale") {
    if (!parse_int(value, &n) || !valid_copy(n)) return false;
    CopyDamage& c = d.copies[static_cast<size_t>(n)];
    (name == "--stale" ? c.stale : c.bad_header_checksum) = true;
  } else if (name == "--header-generation" || name == "--torn") {
    if (!parse_list(value, ':', 2, 2, &v) || !valid_copy(v[0])) return false;
    CopyDamage& c = d.copies[static_cast<size_t>(v[0])];
    if (name == "--torn") {
      c.torn_at_sector = v[1];
    } else {
      if (v[1] < 0 || v[1] > 255) return false;
      c.generation = static_cast<int>(v[1]);
    }
  } else if (name == "--bad-entry") {
    const size_t a = value.find(':');
    const size_t b = value.find(':', a == std::string::npos ? a : a + 1);
    if (a == std::string::npos || b == std::string::npos) return false;
    TableDamage t;
    int64_t entry = -1;
    if (!parse_int(value.substr(0, a), &n) || !valid_copy(n) ||
        !parse_table(value.substr(a + 1, b - a - 1), &t.table)) {
      return false;
    }
    const std::string e = value.substr(b + 1);
    if (e != "control" && (!parse_int(e, &entry) || entry < 0 || entry > 999)) return false;
    t.copy = static_cast<int>(n);
    t.entry = static_cast<int>(entry);
    d.bad_entries.push_back(t);
  } else if (name == "--bad-segment" || name == "--chunk-count-55" || name == "--unplayable") {
    if (!parse_list(value, ':', 1, name == "--unplayable" ? 1 : 2, &v)) return false;
    SegmentRef r{v[0], v.size() > 1 ? static_cast<int>(v[1]) : -1};
    (name == "--bad-segment"      ? d.bad_segments
     : name == "--chunk-count-55" ? d.chunk_count_55
                                  : d.unplayable_segments)
        .push_back(r);
  } else if (name == "--bad-chunk" || name == "--oversize-chunk") {
    if (!parse_list(value, ':', 2, 2, &v)) return false;
    (name == "--bad-chunk" ? d.bad_chunk_entries : d.oversize_chunks)
        .push_back({v[0], static_cast<int>(v[1]), 0});
  } else if (name == "--end-marker" || name == "--unknown-marker") {
    if (!parse_list(value, ':', 3, 3, &v)) return false;
    (name == "--end-marker" ? d.end_markers : d.unknown_markers)
        .push_back({v[0], static_cast<int>(v[1]), static_cast<int>(v[2])});
  } else {
    return false;
  }
  return true;
}

void print_summary(const std::string& path, const DiskImageInfo& info) {
  std::printf("%s: %llu bytes (%u cylinders), %zu segments", path.c_str(),
              static_cast<unsigned long long>(info.size_bytes), info.cylinders,
              info.segments.size());
  if (info.filler_segments > 0) {
    std::printf(" after %lld filler segments", static_cast<long long>(info.filler_segments));
  }
  std::printf(", %zu stills\n", info.stills.size());
  for (int c = 0; c < kIndexCopyCount; ++c) {
    const IndexCopyInfo& copy = info.copies[static_cast<size_t>(c)];
    std::printf("copy %d: generation %d%s, %lld segments%s\n", c, copy.generation,
                copy.header_valid ? "" : " (bad checksum)", static_cast<long long>(copy.segments),
                c == info.newest_copy ? " (newest)" : "");
  }
  for (const RecordingInfo& r : info.recordings) {
    if (r.filler) continue;
    std::printf("recording %d: attribute %d, %s - %s, block %d segment %u - block %d segment %u\n",
                r.slot, r.attribute, format_rec_time(r.start).c_str(),
                format_rec_time(r.end).c_str(), r.start_block, r.start_segment, r.end_block,
                r.end_segment);
  }
  for (const AlarmInfo& a : info.alarms) {
    std::printf("alarm %d: channel %d, %s - %s\n", a.slot, a.channel,
                format_rec_time(a.start).c_str(), format_rec_time(a.end).c_str());
  }
  std::printf("still area: sector %u, %u sectors; video area: sector %u, %u sectors\n",
              info.still_area_sector, info.still_area_sectors, info.video_area_sector,
              info.video_area_sectors);
}

}  // namespace

bool parse_disk_image_args(const std::vector<std::string>& args, DiskImageDesc* desc,
                           std::string* path, std::string* error) {
  std::vector<std::string> all;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--from") {
      if (i + 1 >= args.size()) {
        *error = "--from needs a file";
        return false;
      }
      if (!read_description(args[++i], &all, error)) return false;
    } else {
      all.push_back(args[i]);
    }
  }
  for (size_t i = 0; i < all.size(); ++i) {
    const std::string& a = all[i];
    if (a.rfind("--", 0) != 0) {
      if (!path->empty()) {
        *error = "unexpected argument " + a;
        return false;
      }
      *path = a;
      continue;
    }
    if (a == "--full-index") {
      desc->full_size_index = true;
    } else if (a == "--placeholder") {
      desc->media = false;
    } else if (a == "--quiet") {
      continue;
    } else if (i + 1 >= all.size()) {
      *error = a + " needs a value";
      return false;
    } else if (!apply_option(a, all[i + 1], desc, path)) {
      *error = "bad option " + a + " " + all[i + 1];
      return false;
    } else {
      ++i;
    }
  }
  if (path->empty()) {
    *error = "no output file";
    return false;
  }
  return true;
}

int run_disk_image_command(const std::vector<std::string>& args) {
  bool quiet = false;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    quiet = quiet || a == "--quiet";
  }
  DiskImageDesc desc;
  std::string path;
  std::string error;
  if (!parse_disk_image_args(args, &desc, &path, &error)) {
    std::cerr << "virazav-recorder disk-image: " << error << "\n" << kUsage;
    return 2;
  }
  // The command line writes large images: it keeps no per-packet details.
  desc.keep_packet_info = false;
  DiskImageInfo info;
  if (!write_disk_image(desc, path, &info, &error)) {
    std::cerr << "virazav-recorder disk-image: " << error << "\n";
    return 1;
  }
  if (!quiet) print_summary(path, info);
  return 0;
}

}  // namespace virazav::sim
