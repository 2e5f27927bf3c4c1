// The export of a recording to files that any player opens: a Matroska or MP4 file with
// one video track per recorder channel (the MPEG-4 pictures copied as they are, stamped
// from their PES stamps) and the sound decoded from IMA ADPCM into PCM (Matroska) or AAC
// (MP4); or one MPEG-4 elementary stream (.m4v) per channel. The channels, a stretch of the
// recorder's time and the progress display are the caller's choice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recording_source.h"

namespace virazav::cli::exporting {

enum class Container { kMatroska, kMp4, kSplit };

struct ExportRequest {
  Container container = Container::kMatroska;
  std::string output;          // the .mkv or .mp4 file, or the folder of the .m4v files
  uint32_t channels = 0xFFFF;  // bit n: video channel n (and its sound, n < 16)
  int64_t from = 0;            // first recorder second exported (time number)
  int64_t to = INT64_MAX;      // last recorder second exported
  // Called with the progress in source bytes: each of the two passes over the source counts
  // for half of its size. May be empty.
  std::function<void(int64_t done, int64_t total)> progress;
};

// One track written.
struct TrackReport {
  int kind = 0;  // format::kKindVideo or format::kKindAudio
  int channel = 0;
  int64_t packets = 0;  // pictures copied, or sound packets decoded
  double seconds = 0;   // from the first stamp to the end of the last packet
  int width = 0, height = 0;
  std::string file;  // the .m4v file of a split
};

struct ExportReport {
  std::vector<TrackReport> tracks;
  std::vector<std::string> outputs;  // the files written
  int64_t first_time = 0;            // recorder time numbers of the first and last packets
  int64_t last_time = 0;
  int64_t source_begin = 0;  // the source bytes the exported packets came from
  int64_t source_end = 0;
  WalkResult walk;                 // how the source read ended
  int64_t dropped_before_key = 0;  // pictures in the range before their channel's first key
};

// Results of export_recording.
inline constexpr int kExportDone = 0;
inline constexpr int kExportFailed = 1;   // *error says why; no output is left behind
inline constexpr int kExportNothing = 4;  // no key picture or sound of the channels in range

// Reads the source twice: once to find the channels, their first key pictures and the
// headers a container needs, once to write. On kExportDone fills *report (the caller tells
// a cut source from report->walk); on failure stores a message in *error.
int export_recording(RecordingSource& source, const ExportRequest& request, ExportReport* report,
                     std::string* error);

}  // namespace virazav::cli::exporting
