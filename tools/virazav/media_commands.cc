// The stream-file commands: index (build or load the frame index and tell what the
// file holds), split (cut a stream file into per-picture data files and per-channel
// WAV files) and frame (turn one picture's data file into a bitmap).

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "json_writer.h"
#include "progress.h"
#include "report.h"
#include "stream_index.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

constexpr int kIndexParts = 100;
constexpr int kSplitSliceTicks = 300;  // ten seconds of the 1/30 s tick
constexpr size_t kEntrySize = 12;

// Sets the decoder up for one command and takes it down again.
class DecoderScope {
 public:
  DecoderScope() : rc_(decode_init()) {}
  ~DecoderScope() { decode_deinit(); }
  int rc() const { return rc_; }

 private:
  int rc_;
};

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// What the frame index says about a file.
struct IndexSummary {
  size_t key_frames[16] = {};
  size_t audio_packets[16] = {};
  uint32_t first_pts = 0, last_pts = 0;
  bool any_video = false;
};

// Reads the index file: entries up to the first whose offset is 0.
bool summarise_index(const std::string& path, IndexSummary* out, std::string* error) {
  std::string bytes;
  if (!read_file(path, &bytes, error)) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t at = 0; at + kEntrySize <= bytes.size(); at += kEntrySize) {
    const uint8_t* e = p + at;
    uint32_t offset_low = le32(e + 4);
    uint32_t offset_high = static_cast<uint32_t>(e[2]) | static_cast<uint32_t>(e[3]) << 8;
    if (offset_low == 0 && offset_high == 0) break;
    if (e[1] > 15) continue;
    uint32_t pts = le32(e + 8);
    if (e[0] == 0) {
      ++out->key_frames[e[1]];
      if (!out->any_video) out->first_pts = pts;
      out->last_pts = pts;
      out->any_video = true;
    } else if (e[0] == 1) {
      ++out->audio_packets[e[1]];
    }
  }
  return true;
}

}  // namespace

std::string channel_list(unsigned mask) {
  std::string s;
  for (int ch = 0; ch < 16; ++ch) {
    if (mask & (1u << ch)) s += (s.empty() ? "" : ",") + std::to_string(ch);
  }
  return s.empty() ? "none" : s;
}

bool complete_frame_index(const std::string& index_dir, int parts, bool draw,
                          const std::function<bool()>& keep_going) {
  ProgressBar bar("index", draw);
  int done = Mpeg4DLdata_frame_index(index_dir.c_str(), 0) ? parts : 0;
  while (done < parts) {
    if (keep_going && !keep_going()) {
      bar.finish();
      return false;
    }
    int r = Mpeg4DLdata_frame_index(index_dir.c_str(), parts);
    // No file open (or no progress on the first slice): the build cannot go on.
    if (r <= 0) break;
    done = r;
    ProgressBar::on_progress(done, parts, &bar);
  }
  bar.finish();
  return true;
}

int run_index(const Invocation& inv) {
  int status = 0;
  if (!expect_positional(inv, 0, 1, &status)) return status;
  const std::string file = inv.args.positional[0];
  if (!check_readable(file, &status)) return status;
  std::string dir;
  if (!prepare_index_dir(file, inv.args.value("index-dir"), inv.args.has("rebuild"), &dir,
                         &status)) {
    return status;
  }
  const std::string index_path = (std::filesystem::path(dir) / ".index").string();
  DecoderScope decoder;
  if (decoder.rc() != 0) return report_problem("index", "the decoder could not be set up");
  unsigned size = Mpeg4DLdata_fileopen(file.c_str(), dir.c_str(), dir.c_str(), kIndexParts);
  if (size == 0)
    return report_problem("index " + file, "not a stream file, or it cannot be opened");

  complete_frame_index(dir, kIndexParts, want_progress(inv.args.has("progress")));
  unsigned video = 0, audio = 0;
  Mpeg4DLdata_get_enable_ch(&video, &audio, dir.c_str(), kIndexParts);
  Mpeg4DLdata_fileclose();

  IndexSummary summary;
  std::string error;
  if (!summarise_index(index_path, &summary, &error))
    return report_problem("index " + index_path, error);
  const double seconds = summary.any_video ? (summary.last_pts - summary.first_pts) / 90000.0 : 0;
  if (inv.global.json) {
    JsonWriter json;
    json.begin_object()
        .member("file", file)
        .member("bytes", size)
        .member("index", index_path)
        .member("video_mask", video)
        .member("audio_mask", audio)
        .member("duration_s", seconds)
        .key("channels")
        .begin_array();
    for (int ch = 0; ch < 16; ++ch) {
      if (summary.key_frames[ch] || summary.audio_packets[ch]) {
        json.begin_object()
            .member("channel", ch)
            .member("key_frames", summary.key_frames[ch])
            .member("audio_packets", summary.audio_packets[ch])
            .end_object();
      }
    }
    json.end_array().end_object().print();
    return kExitOk;
  }
  std::printf("file          %s (%s)\n", file.c_str(), human_bytes(size).c_str());
  std::printf("index         %s\n", index_path.c_str());
  std::printf("video         channels %s\n", channel_list(video).c_str());
  std::printf("audio         channels %s (played ones only)\n", channel_list(audio).c_str());
  std::printf("duration      %.1f s (first to last key frame)\n", seconds);
  for (int ch = 0; ch < 16; ++ch) {
    if (summary.key_frames[ch] || summary.audio_packets[ch]) {
      std::printf("channel %-2d    %zu key frames, %zu audio packets\n", ch, summary.key_frames[ch],
                  summary.audio_packets[ch]);
    }
  }
  return kExitOk;
}

int run_split(const Invocation& inv) {
  int status = 0;
  if (!expect_positional(inv, 0, 2, &status)) return status;
  const std::string file = inv.args.positional[0];
  const std::string dir = inv.args.positional[1];
  if (!check_readable(file, &status)) return status;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return report_problem("split: folder " + dir, ec.message());
  DecoderScope decoder;
  if (decoder.rc() != 0) return report_problem("split", "the decoder could not be set up");

  // The split goes in slices of ten seconds so that a long file shows its progress.
  int r = Mpeg4Play(file.c_str(), dir.c_str(), kSplitSliceTicks);
  int slices = 1;
  const bool draw = want_progress(inv.args.has("progress"));
  while (r == 0) {
    if (draw) std::fprintf(stderr, "\rsplit: %d s of recording", slices * kSplitSliceTicks / 30);
    r = Mpeg4Play2(file.c_str(), dir.c_str(), kSplitSliceTicks);
    ++slices;
  }
  if (draw) std::fputc('\n', stderr);
  if (r < 0) return report_failure("split " + file, r);

  size_t data_files = 0, wav_files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dat") == 0) ++data_files;
    if (name.rfind("wav", 0) == 0 && name.size() > 4 &&
        name.compare(name.size() - 4, 4, ".wav") == 0) {
      ++wav_files;
    }
  }
  std::printf("split %s into %s: %zu picture data files, %zu WAV files, last tick %d (%.1f s)\n",
              file.c_str(), dir.c_str(), data_files, wav_files, r, r / 30.0);
  return kExitOk;
}

int run_frame(const Invocation& inv) {
  int status = 0;
  if (!expect_positional(inv, 0, 2, &status)) return status;
  const std::string dat = inv.args.positional[0];
  const std::string bmp = inv.args.positional[1];
  // A data file is named "<channel>_<tick>.dat" in its folder.
  std::filesystem::path p(dat);
  int channel = -1, tick = -1, used = 0;
  const std::string name = p.filename().string();
  if (std::sscanf(name.c_str(), "%d_%d.dat%n", &channel, &tick, &used) != 2 ||
      static_cast<size_t>(used) != name.size() || channel < 0 || channel > 15 || tick < 0) {
    return usage(inv,
                 "DATFILE must be a data file named <channel>_<tick>.dat, as split writes them");
  }
  const std::string dir = p.has_parent_path() ? p.parent_path().string() : std::string(".");
  DecoderScope decoder;
  if (decoder.rc() != 0) return report_problem("frame", "the decoder could not be set up");
  int r = I2BMP(dat.c_str(), bmp.c_str(), dir.c_str(), channel, tick, tick + 1);
  if (r == -1) return report_problem("frame " + dat, "no such data file");
  if (r < 0) return report_failure("frame " + dat, r);
  if (r != tick)
    return report_problem("frame " + dat, "the data file holds no picture that decodes");
  unsigned width = 0, height = 0;
  if (get_bmpsize(bmp.c_str(), &width, &height) != 0)
    return report_problem("frame " + bmp, "no bitmap written");
  std::printf("channel %d, tick %d -> %s (%u x %u, 24-bit)\n", channel, tick, bmp.c_str(), width,
              height);
  return kExitOk;
}

}  // namespace virazav::cli
