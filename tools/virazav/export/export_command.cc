// "virazav export" and "virazav verify": the command lines, the report of what was
// written, and the exit statuses. The export itself is exporter.cc, the manifest
// manifest.cc.
#include "export/export_command.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "export/disk_stretch.h"
#include "export/exporter.h"
#include "export/manifest.h"
#include "export/recording_source.h"
#include "format/stream_format.h"
#include "progress.h"
#include "time_text.h"
#include "recdisk/record_layout.h"
#include "report.h"

namespace virazav::cli {
namespace {

using exporting::Container;
using exporting::ExportReport;
using exporting::ExportRequest;
using exporting::RecordingSource;
using exporting::WalkEnd;

bool ends_with(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Parses "YYYY-MM-DDThh:mm:ss" or "YYYY-MM-DD hh:mm:ss" (years 2000..2132) into the
// recorder's time number.
bool parse_export_time(const std::string& text, int64_t* out) {
  CivilTime t;
  if (!parse_time_text(text, &t, 2000, 2132)) return false;
  *out = to_time_number(t);
  return true;
}

// Reads the command line into *request; returns false with *status set on a usage error.
bool read_request(const Invocation& inv, ExportRequest* request, std::string* manifest,
                  int* status) {
  const Arguments& a = inv.args;
  // With --disk the disk is the source and the output may be the only word.
  const size_t sources = a.has("disk") ? 0 : 1;
  if (a.positional.size() < sources || a.positional.size() > sources + 1) {
    *status =
        usage(inv, a.positional.size() < sources ? "SOURCE is missing" : "too many arguments");
    return false;
  }
  const std::string* to = a.value("to");
  const std::string* until = a.value("until");
  const std::string* split = a.value("split");
  std::string output;
  std::string end_text;
  if (a.positional.size() == sources + 1) output = a.positional[sources];
  if (to != nullptr) {
    int64_t ignored = 0;
    if (parse_export_time(*to, &ignored)) {
      end_text = *to;
    } else if (output.empty()) {
      output = *to;
    } else {
      *status = usage(inv, "--to " + *to + " is neither a time nor the only output");
      return false;
    }
  }
  if (until != nullptr) {
    if (!end_text.empty()) {
      *status = usage(inv, "give the last second once (--to TIME or --until TIME)");
      return false;
    }
    end_text = *until;
  }
  if (split != nullptr) {
    if (!output.empty()) {
      *status = usage(inv, "--split writes .m4v files; give no other output");
      return false;
    }
    request->container = Container::kSplit;
    request->output = *split;
  } else if (output.empty()) {
    *status = usage(inv, "the output is missing (--to OUT.mkv, --to OUT.mp4 or --split DIR)");
    return false;
  } else if (ends_with(output, ".mkv")) {
    request->container = Container::kMatroska;
    request->output = output;
  } else if (ends_with(output, ".mp4")) {
    request->container = Container::kMp4;
    request->output = output;
  } else {
    *status = usage(inv, "the output " + output + " ends neither in .mkv nor in .mp4");
    return false;
  }
  if (const std::string* c = a.value("channels"); c != nullptr) {
    if (!parse_channel_mask(*c, &request->channels)) {
      *status = usage(inv, "--channels " + *c + ": expected channels 0..15 such as 0,1,5, or all");
      return false;
    }
  }
  if (const std::string* f = a.value("from"); f != nullptr) {
    if (!parse_export_time(*f, &request->from)) {
      *status = usage(inv, "--from " + *f + ": expected YYYY-MM-DDThh:mm:ss");
      return false;
    }
  }
  if (!end_text.empty() && !parse_export_time(end_text, &request->to)) {
    *status = usage(inv, "the last second " + end_text + ": expected YYYY-MM-DDThh:mm:ss");
    return false;
  }
  if (request->from > request->to) {
    *status = usage(inv, "the stretch ends before it starts");
    return false;
  }
  if (a.has("disk")) {
    if (request->container == Container::kSplit) {
      *status = usage(inv, "--disk writes .mkv or .mp4 files, not --split");
      return false;
    }
    if (!a.has("from") || end_text.empty()) {
      *status = usage(inv, "--disk needs the stretch: --from TIME and --to TIME");
      return false;
    }
  }
  if (const std::string* m = a.value("manifest"); m != nullptr) *manifest = *m;
  return true;
}

void print_report(const RecordingSource& source, const ExportRequest& request,
                  const ExportReport& r) {
  std::printf("%s: %s .. %s\n", request.output.c_str(),
              RecordingSource::format_time(r.first_time).c_str(),
              RecordingSource::format_time(r.last_time).c_str());
  for (const exporting::TrackReport& t : r.tracks) {
    if (t.kind == format::kKindVideo) {
      std::printf("  video channel %-2d %6lld pictures %dx%d %8.3f s%s%s\n", t.channel,
                  static_cast<long long>(t.packets), t.width, t.height, t.seconds,
                  t.file.empty() ? "" : "  ", t.file.c_str());
    } else {
      std::printf("  sound channel %-2d %6lld packets %8.3f s\n", t.channel,
                  static_cast<long long>(t.packets), t.seconds);
    }
  }
  std::printf("  from %s bytes %lld .. %lld\n", source.path().c_str(),
              static_cast<long long>(r.source_begin), static_cast<long long>(r.source_end));
}

}  // namespace

int run_export(const Invocation& inv) {
  ExportRequest request;
  std::string manifest;
  int status = kExitOk;
  if (!read_request(inv, &request, &manifest, &status)) return status;
  std::string path;
  const bool draw = inv.args.has("progress") || stderr_is_terminal();
  if (const std::string* disk = inv.args.value("disk"); disk != nullptr) {
    const std::string copy = request.output + ".copy";
    const int copied = exporting::copy_disk_stretch(*disk, request.from, request.to, copy, draw);
    if (copied != kExitOk) return copied;
    path = (std::filesystem::path(copy) / "HDR.dat").string();
  } else {
    path = inv.args.positional[0];
  }

  RecordingSource source;
  std::string error;
  if (!source.open(path, &error)) return report_problem("export", error);

  ProgressBar bar("export", draw);
  request.progress = [&bar](int64_t done, int64_t total) {
    ProgressBar::on_progress(done, total, &bar);
  };
  ExportReport report;
  const int rc = exporting::export_recording(source, request, &report, &error);
  bar.finish();
  if (rc == exporting::kExportFailed) return report_problem("export", error);
  if (rc == exporting::kExportNothing) {
    const std::string which = request.channels == 0xFFFF
                                  ? std::string("any channel")
                                  : "channels " + channel_list(request.channels);
    std::fprintf(stderr, "virazav: export: %s holds no key picture or sound of %s", path.c_str(),
                 which.c_str());
    if (inv.args.has("from") || request.to != INT64_MAX) std::fprintf(stderr, " in the stretch");
    std::fprintf(stderr, "; nothing written\n");
    return kExitNothing;
  }
  print_report(source, request, report);

  int result = kExitOk;
  if (report.walk.end == WalkEnd::kTruncated || report.walk.end == WalkEnd::kDamaged) {
    std::fprintf(stderr,
                 "virazav: export: %s %s at byte %lld; the packets before it are exported\n",
                 path.c_str(),
                 report.walk.end == WalkEnd::kTruncated ? "ends inside a packet"
                                                        : "has a damaged packet header",
                 static_cast<long long>(report.walk.at));
    result = kExitShort;
  }
  if (inv.args.value("channels") != nullptr && inv.args.value("channels")->compare("all") != 0) {
    uint32_t found = 0;
    for (const exporting::TrackReport& t : report.tracks) {
      if (t.kind == format::kKindVideo) found |= 1u << t.channel;
    }
    if ((request.channels & ~found) != 0) {
      std::fprintf(stderr, "virazav: export: no pictures of channels %s\n",
                   channel_list(request.channels & ~found).c_str());
      result = kExitShort;
    }
  }
  if (!manifest.empty()) {
    std::vector<exporting::ManifestItem> items;
    exporting::ManifestItem src;
    src.source = true;
    src.path = path;
    src.offset = report.source_begin;
    src.length = report.source_end - report.source_begin;
    items.push_back(src);
    for (const std::string& out : report.outputs) {
      exporting::ManifestItem item;
      item.path = out;
      items.push_back(item);
    }
    if (!exporting::write_manifest(manifest, RecordingSource::format_time(report.first_time),
                                   RecordingSource::format_time(report.last_time), items, &error)) {
      return report_problem("export --manifest", error);
    }
    std::printf("manifest %s\n", manifest.c_str());
  }
  return result;
}

int run_verify(const Invocation& inv) {
  int status = kExitOk;
  if (!expect_positional(inv, 0, 1, &status)) return status;
  const std::string& path = inv.args.positional[0];
  exporting::Manifest m;
  std::string error;
  if (!exporting::read_manifest(path, &m, &error)) return report_problem("verify", error);
  std::printf("%s: recorded %s .. %s\n", path.c_str(), m.first.c_str(), m.last.c_str());
  int bad = 0;
  for (const exporting::ManifestItem& item : m.items) {
    const std::string file = exporting::resolve_item_path(path, item.path);
    std::string sha;
    std::string why;
    const bool read = exporting::sha256_of_file(
        file, item.source ? item.offset : 0, item.source ? item.length : -1, &sha, nullptr, &why);
    const char* what = item.source ? "source" : "output";
    if (read && sha == item.sha256) {
      std::printf("ok        %s %s\n", what, item.path.c_str());
      continue;
    }
    ++bad;
    std::printf("MISMATCH  %s %s\n", what, item.path.c_str());
    if (!read) {
      std::fprintf(stderr, "virazav: verify: %s\n", why.c_str());
    } else {
      std::fprintf(stderr, "virazav: verify: %s: SHA-256 %s, the manifest says %s\n", file.c_str(),
                   sha.c_str(), item.sha256.c_str());
    }
  }
  return bad == 0 ? kExitOk : kExitFailure;
}

}  // namespace virazav::cli
