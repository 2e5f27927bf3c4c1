// The download command: copies a stretch of recorded time from the recorder into a
// stream file and its frame index, drawing the seconds downloaded on standard error.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "json_writer.h"
#include "progress.h"
#include "report.h"
#include "session.h"
#include "stream_index.h"
#include "time_text.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

constexpr int kFieldCount = 12;
constexpr int kMaxSteps = 10000000;  // a guard only: the recorder ends every download
constexpr int kBarWidth = 30;

// The frame index beside the stream file: 12-byte entries, kind at 0 (0 a key frame), the
// 90 kHz time stamp at 8 (docs/formats/frame-index.md).
constexpr size_t kIndexEntrySize = 12;
constexpr size_t kIndexKindOffset = 0;
constexpr size_t kIndexPtsOffset = 8;
constexpr uint8_t kIndexKindVideo = 0;
constexpr uint32_t kTicksPerSecond = 90000;

// Parses twelve comma-separated numbers for --raw.
bool parse_raw(const std::string& text, int out[kFieldCount]) {
  size_t pos = 0;
  for (int i = 0; i < kFieldCount; ++i) {
    size_t comma = text.find(',', pos);
    if ((comma == std::string::npos) != (i == kFieldCount - 1)) return false;
    std::string part =
        text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    if (!parse_int(part, &out[i])) return false;
    pos = comma + 1;
  }
  return true;
}

// A one-line bar of the seconds downloaded so far against the seconds asked for.
class SecondsBar {
 public:
  SecondsBar(int total, bool draw) : total_(total), draw_(draw) {}
  void update(int seconds, uint64_t bytes) {
    if (!draw_) return;
    const int shown = total_ > 0 ? std::min(seconds, total_) : seconds;
    const int filled = total_ > 0 ? shown * kBarWidth / total_ : 0;
    std::fprintf(stderr, "\rdownload [%s%s] %d/%d s, %s", std::string(filled, '#').c_str(),
                 std::string(kBarWidth - filled, ' ').c_str(), shown, total_,
                 human_bytes(static_cast<double>(bytes)).c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  // Completes the bar with the seconds the recorder actually sent.
  void finish(int seconds, uint64_t bytes) {
    if (!drawn_) return;
    update(seconds, bytes);
    std::fputc('\n', stderr);
  }

 private:
  int total_;
  bool draw_;
  bool drawn_ = false;
};

// What a download's frame index says about the stretch that arrived.
struct Received {
  bool index_read = false;
  uint64_t entries = 0;
  int seconds = 0;  // from the first key frame through the second of the last one
};

// Reads the frame index the download wrote. The recorder sends one second of pictures in
// each video block and the download indexes each block's first picture, so the stretch
// received runs from the first indexed picture to one second after the last one. Time
// stamps are the low 32 bits of a 90 kHz clock: they are taken relative to the first one
// so that a wrap of the clock inside the stretch does no harm.
Received read_received(const std::filesystem::path& index) {
  Received r;
  std::string data, error;
  if (!read_file(index.string(), &data, &error) || data.empty() ||
      data.size() % kIndexEntrySize != 0) {
    return r;
  }
  r.index_read = true;
  r.entries = data.size() / kIndexEntrySize;
  bool any = false;
  uint32_t first = 0, last_delta = 0;
  for (size_t at = 0; at + kIndexEntrySize <= data.size(); at += kIndexEntrySize) {
    const auto* e = reinterpret_cast<const uint8_t*>(data.data() + at);
    if (e[kIndexKindOffset] != kIndexKindVideo) continue;
    const uint32_t pts = uint32_t{e[kIndexPtsOffset]} | uint32_t{e[kIndexPtsOffset + 1]} << 8 |
                         uint32_t{e[kIndexPtsOffset + 2]} << 16 |
                         uint32_t{e[kIndexPtsOffset + 3]} << 24;
    if (!any) {
      first = pts;
      any = true;
    }
    last_delta = std::max(last_delta, pts - first);
  }
  if (any) r.seconds = static_cast<int>((last_delta + kTicksPerSecond / 2) / kTicksPerSecond) + 1;
  return r;
}

}  // namespace

int run_download(const Invocation& inv) {
  int status = kExitOk;
  if (!expect_positional(inv, 0, 1, &status)) return status;
  const std::string& out = inv.args.positional[0];
  int fields[kFieldCount] = {};
  int seconds = 60;
  if (const std::string* raw = inv.args.value("raw")) {
    if (!parse_raw(*raw, fields)) return usage(inv, "--raw needs twelve comma-separated numbers");
    seconds = fields[7];
  } else {
    const std::string* from = inv.args.value("from");
    CivilTime t;
    if (from == nullptr || !parse_time_text(*from, &t)) {
      return usage(inv, std::string("--from needs a start time ") + kTimeFormatHelp);
    }
    const int start[6] = {t.year, t.month, t.day, t.hour, t.minute, t.second};
    if (const std::string* s = inv.args.value("seconds")) {
      int64_t v = 0;
      if (!parse_number(*s, 1, 99999999, &v))
        return usage(inv, "--seconds needs a number 1..99999999");
      seconds = static_cast<int>(v);
    }
    // The recorder takes mask 0 for every channel.
    int mask = 0;
    if (const std::string* c = inv.args.value("channels")) {
      uint32_t m = 0;
      if (!parse_channel_mask(*c, &m))
        return usage(inv, "--channels needs 'all' or channels 0..15 like 0,1,5");
      mask = *c == "all" ? 0 : static_cast<int>(m);
    }
    // The recorder's fields: channel mask, start (two-digit year), length, audio switch.
    const int v[kFieldCount] = {mask,
                                start[0] % 100,
                                start[1],
                                start[2],
                                start[3],
                                start[4],
                                start[5],
                                seconds,
                                inv.args.has("no-audio") ? 0 : 1,
                                0,
                                0,
                                0};
    std::copy(v, v + kFieldCount, fields);
  }
  // The library cannot make folders: a missing one would lose the stream file or its
  // index only after the whole stretch has crossed the network.
  std::error_code dir_ec;
  const std::string out_dir = std::filesystem::path(out).parent_path().string();
  if (!out_dir.empty() && !std::filesystem::is_directory(out_dir, dir_ec)) {
    return report_problem("download into " + out, "the folder " + out_dir + " does not exist");
  }
  // The index goes into the file's own index folder unless --index-dir names another.
  std::string index_dir;
  if (const std::string* d = inv.args.value("index-dir")) {
    index_dir = *d;
    if (!std::filesystem::is_directory(index_dir, dir_ec)) {
      return report_problem("download into " + out,
                            "the index folder " + index_dir + " does not exist");
    }
  } else {
    index_dir = own_index_dir(out);
    std::filesystem::create_directories(index_dir, dir_ec);
    if (dir_ec) return report_problem("create the index folder " + index_dir, dir_ec.message());
  }
  const bool draw = want_progress(inv.args.has("progress"));
  const auto index = std::filesystem::path(index_dir) / ".index";

  return run_connected(inv.global, [&](Session& s) {
    const int* f = fields;
    int rc = kora_copy_fast(s.slot(), out.c_str(), 0, f[0], f[1], f[2], f[3], f[4], f[5], f[6],
                            f[7], f[8], f[9], f[10], f[11]);
    if (rc < 0) return report_failure("download into " + out, rc);
    if (rc == 0) {
      if (inv.global.json) {
        JsonWriter()
            .begin_object()
            .member("file", out)
            .member("written", false)
            .member("seconds_asked", seconds)
            .member("seconds_received", 0)
            .end_object()
            .print();
      } else {
        std::printf("nothing recorded in that stretch; no file written\n");
      }
      std::fprintf(stderr, "virazav: download: the recorder has nothing in that stretch\n");
      return kExitNothing;
    }
    // The stream file has just been started anew, so an index left from an earlier file
    // no longer fits it; removing it lets the end tell whether this download wrote one.
    std::error_code rm_ec;
    std::filesystem::remove(index, rm_ec);
    SecondsBar bar(seconds, draw);
    uint64_t bytes = 0;
    int steps = 1;
    int last = 0;
    for (; steps < kMaxSteps; ++steps) {
      uint8_t count[4] = {};
      rc = kora_copy_next(s.slot(), out.c_str(), count, index_dir.c_str());
      if (rc <= 0) break;
      bytes += (uint64_t{count[0]} << 24) | (uint64_t{count[1]} << 16) | (uint64_t{count[2]} << 8) |
               count[3];
      // The result counts seconds from the first block; steps without video say 1.
      last = std::max(last, rc);
      bar.update(last, bytes);
    }
    const Received got = rc == 0 ? read_received(index) : Received{};
    if (rc == 0)
      bar.finish(got.seconds, bytes);
    else if (draw)
      std::fputc('\n', stderr);
    if (rc < 0)
      return report_failure("download into " + out + " (step " + std::to_string(steps) + ")", rc);
    std::error_code ec;
    const auto size = std::filesystem::file_size(out, ec);
    if (!got.index_read) {
      return report_problem("download into " + out,
                            "the frame index " + index.string() + " could not be written");
    }
    if (inv.global.json) {
      JsonWriter()
          .begin_object()
          .member("file", out)
          .member("written", true)
          .member("bytes", static_cast<uint64_t>(size))
          .member("steps", steps)
          .member("index", index.string())
          .member("index_entries", static_cast<uint64_t>(got.entries))
          .member("seconds_asked", seconds)
          .member("seconds_received", std::min(got.seconds, seconds))
          .end_object()
          .print();
    } else {
      std::printf("downloaded %d of %d s in %d steps into %s (%s); index %s with %llu entries\n",
                  std::min(got.seconds, seconds), seconds, steps, out.c_str(),
                  human_bytes(static_cast<double>(size)).c_str(), index.string().c_str(),
                  static_cast<unsigned long long>(got.entries));
    }
    if (got.seconds < seconds) {
      std::fprintf(stderr,
                   "virazav: download: received %d of %d s: the recorder has no more of that "
                   "stretch\n",
                   got.seconds, seconds);
      return kExitShort;
    }
    return kExitOk;
  });
}

}  // namespace virazav::cli
