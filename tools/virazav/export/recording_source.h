// The packets of a recording on this computer, walked in file order with each packet's
// stamps, key picture flag and recorder time: a downloaded stream file
// (docs/formats/stream-file.md) or the data file of a copy to removable media, HDR.dat
// (docs/formats/copy-media.md), whose 48-byte packet headers wrap PES packets of the same
// layout. The export reads its sources through this one interface.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace virazav::cli::exporting {

enum class SourceKind { kStreamFile, kDiskCopy };

// One PES packet of the source. `pes` points into the walker's buffer and stays valid
// only during the visit.
struct SourcePacket {
  int kind = 0;        // format::kKindVideo or format::kKindAudio
  int channel = 0;     // 0..15
  bool key = false;    // a video packet whose picture is intra (with its headers before it)
  uint32_t pts = 0;    // low 32 bits of the 90 kHz PTS
  uint32_t dts = 0;    // of the DTS; equal to pts when the packet carries none
  int64_t time = 0;    // the recorder's time of the packet as a time number (one a second)
  int64_t offset = 0;  // in the source: the PES start code, or the 48-byte header of HDR.dat
  int64_t end = 0;     // the source offset after the packet
  const uint8_t* pes = nullptr;
  size_t pes_size = 0;
  size_t payload_offset = 0;  // the elementary stream data: pes[payload_offset .. pes_size)
};

// How a walk ended.
enum class WalkEnd {
  kEnd,        // every packet of the source was visited (or the visitor stopped)
  kTruncated,  // the source ends inside a packet; the packets before it were visited
  kDamaged,    // an HDR.dat packet header with an impossible length; packets before it visited
  kReadError,  // the source could not be read
};

struct WalkResult {
  WalkEnd end = WalkEnd::kEnd;
  int64_t at = 0;       // the offset of the cut or damaged packet
  int64_t packets = 0;  // packets visited
  int64_t skipped = 0;  // stream file packets with a size field below 27 or above 1 MiB
};

class RecordingSource {
 public:
  RecordingSource() = default;
  ~RecordingSource();
  RecordingSource(const RecordingSource&) = delete;
  RecordingSource& operator=(const RecordingSource&) = delete;

  // Opens the file and tells its kind from its first bytes: a pack header or a video or
  // audio start code make a stream file, a picture or sound packet marker an HDR.dat. An
  // HDR.dat's chunk times come from the copy's .index beside it when that fits the file
  // (offsets rising from 0, inside the file), else from the packets' own headers. On
  // failure stores a message in *error and returns false.
  bool open(const std::string& path, std::string* error);

  SourceKind kind() const { return kind_; }
  // True when an HDR.dat's times come from its .index.
  bool uses_copy_index() const { return !chunks_.empty(); }
  int64_t size() const { return size_; }
  const std::string& path() const { return path_; }

  // Visits every packet in file order; the visitor returns false to stop the walk.
  WalkResult walk(const std::function<bool(const SourcePacket&)>& visit);

  // Formats a time number as "YYYY-MM-DDThh:mm:ss", the program's one time form.
  static std::string format_time(int64_t time);

 private:
  // Makes bytes [at, at + n) of the file present in the buffer, as far as the file has
  // them; returns how many are, and stores where they begin in *data.
  size_t window(int64_t at, size_t n, const uint8_t** data);
  WalkResult walk_stream(const std::function<bool(const SourcePacket&)>& visit);
  WalkResult walk_copy(const std::function<bool(const SourcePacket&)>& visit);

  // Loads the .index beside an HDR.dat into chunks_, or leaves it empty when the index is
  // missing or does not fit the file.
  void load_copy_index();

  struct ChunkTime {
    int64_t offset = 0;  // of the chunk's first packet in HDR.dat
    int64_t time = 0;    // the chunk's time number
  };

  std::string path_;
  std::vector<ChunkTime> chunks_;
  std::FILE* file_ = nullptr;
  SourceKind kind_ = SourceKind::kStreamFile;
  int64_t size_ = 0;
  bool read_failed_ = false;
  std::vector<uint8_t> buffer_;
  int64_t buffer_at_ = 0;  // file offset of buffer_[0]
  size_t buffer_have_ = 0;
};

}  // namespace virazav::cli::exporting
