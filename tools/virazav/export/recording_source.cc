// Walking a stream file or an HDR.dat packet by packet with the library's stream format
// helpers: the packet search and size fields, the PES stamps, the picture kind and the
// recorder's time stamps.
#include "recording_source.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "format/bytes.h"
#include "format/pes_fields.h"
#include "format/stream_format.h"
#include "format/video_headers.h"
#include "platform/platform.h"
#include "recdisk/copy_media.h"
#include "recdisk/record_layout.h"

namespace virazav::cli::exporting {
namespace {

// The data set loads no packet larger than its 1 MiB frame buffer; the export keeps to
// the same bound so that it copies exactly the packets a player shows.
constexpr uint32_t kMaxStreamPacket = 1u << 20;
// HDR.dat packets: the PES packet's 22-bit size field bounds it.
constexpr uint32_t kMaxCopyPacket = format::kField22Max;
// Bytes read from the file at a time.
constexpr size_t kReadBlock = size_t{4} << 20;
constexpr int64_t kTicksPerSecond = 90000;
// The chunk's time in an HDR.dat packet header.
constexpr size_t kPacketTime = 4;

// The recorder's time number of local calendar fields (years 2000 .. 2255).
int64_t time_number_of(const platform::LocalTime& t) {
  recdisk::RecTime r;
  r.year = static_cast<uint8_t>(t.year - 2000);
  r.month = static_cast<uint8_t>(t.month);
  r.day = static_cast<uint8_t>(t.day);
  r.hour = static_cast<uint8_t>(t.hour);
  r.minute = static_cast<uint8_t>(t.minute);
  r.second = static_cast<uint8_t>(t.second);
  return recdisk::time_number(r);
}

// True when the picture of a video packet is intra: the first VOP header after the PES
// header says so.
bool is_key_picture(const uint8_t* pes, size_t size) {
  format::VideoHeaders h;
  return (format::scan_video_headers(pes, size, &h) & format::kFoundVop) != 0 &&
         h.vop_kind == format::kVopIntra;
}

}  // namespace

RecordingSource::~RecordingSource() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RecordingSource::open(const std::string& path, std::string* error) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::fseek(file_, 0, SEEK_END);
  size_ = std::ftell(file_);
  std::fseek(file_, 0, SEEK_SET);
  const uint8_t* head = nullptr;
  const size_t n = window(0, 4, &head);
  if (n >= 4 && head[0] == 0 && head[1] == 0 && head[2] == 1 &&
      (head[3] == format::kPackStartCode || format::is_packet_stream_id(head[3]))) {
    kind_ = SourceKind::kStreamFile;
    return true;
  }
  if (n >= 2) {
    const uint16_t marker = format::load_le16(head);
    if (marker == recdisk::kPacketMarkerVideo || marker == recdisk::kPacketMarkerAudio) {
      kind_ = SourceKind::kDiskCopy;
      load_copy_index();
      return true;
    }
  }
  *error = path + ": neither a stream file nor a copy's HDR.dat (" +
           (size_ == 0 ? std::string("empty") : "unknown first bytes") + ")";
  return false;
}

void RecordingSource::load_copy_index() {
  // A chunk that the recorder repeats keeps the packet headers, and so the times, of the
  // chunk it repeats; the copy's index holds each chunk's own time.
  const std::string index =
      (std::filesystem::path(path_).parent_path() / recdisk::kCopyIndexFileName).string();
  std::FILE* f = std::fopen(index.c_str(), "rb");
  if (f == nullptr) return;
  std::vector<ChunkTime> chunks;
  uint8_t record[recdisk::kFileIndexEntrySize];
  bool fits = true;
  while (std::fread(record, 1, sizeof record, f) == sizeof record) {
    ChunkTime c;
    c.offset = static_cast<int64_t>(format::load_le64(record + recdisk::kFileIndexOffset));
    c.time = recdisk::time_number(recdisk::load_rec_time(record + recdisk::kFileIndexInfo));
    const bool rising = chunks.empty() ? c.offset == 0 : c.offset > chunks.back().offset;
    if (!rising || c.offset >= size_) {
      fits = false;
      break;
    }
    chunks.push_back(c);
  }
  std::fclose(f);
  if (fits) chunks_ = std::move(chunks);
}

size_t RecordingSource::window(int64_t at, size_t n, const uint8_t** data) {
  const int64_t have_end = buffer_at_ + static_cast<int64_t>(buffer_have_);
  // Bytes asked for beyond the end of the file are not there to read: the buffer that
  // holds everything up to the end is enough.
  const int64_t want_end = std::min(at + static_cast<int64_t>(n), size_);
  if (at < buffer_at_ || at > have_end || want_end > have_end) {
    // Keep what is already read from `at` on, then read behind it.
    if (at >= buffer_at_ && at <= have_end) {
      const size_t keep = static_cast<size_t>(have_end - at);
      // Before the first read the buffer has no storage at all, and nothing to keep.
      if (keep > 0) std::memmove(buffer_.data(), buffer_.data() + (at - buffer_at_), keep);
      buffer_have_ = keep;
    } else {
      buffer_have_ = 0;
      if (std::fseek(file_, at, SEEK_SET) != 0) read_failed_ = true;
    }
    buffer_at_ = at;
    const size_t want = std::max(n, kReadBlock);
    if (buffer_.size() < want) buffer_.resize(want);
    while (!read_failed_ && buffer_have_ < want) {
      const size_t got = std::fread(buffer_.data() + buffer_have_, 1, want - buffer_have_, file_);
      if (got == 0) {
        if (std::ferror(file_)) read_failed_ = true;
        break;
      }
      buffer_have_ += got;
    }
  }
  *data = buffer_.data() + (at - buffer_at_);
  const int64_t avail = buffer_at_ + static_cast<int64_t>(buffer_have_) - at;
  return static_cast<size_t>(std::min<int64_t>(avail, static_cast<int64_t>(n)));
}

WalkResult RecordingSource::walk(const std::function<bool(const SourcePacket&)>& visit) {
  buffer_have_ = 0;
  buffer_at_ = 0;
  read_failed_ = false;
  if (std::fseek(file_, 0, SEEK_SET) != 0) return {WalkEnd::kReadError, 0, 0, 0};
  WalkResult r = kind_ == SourceKind::kStreamFile ? walk_stream(visit) : walk_copy(visit);
  if (read_failed_) r.end = WalkEnd::kReadError;
  return r;
}

WalkResult RecordingSource::walk_stream(const std::function<bool(const SourcePacket&)>& visit) {
  WalkResult r;
  const uint8_t* data = nullptr;
  // The pack header's SCR is the recording's first second on the computer's local clock;
  // each packet lies as many seconds after it as its stamp lies after the first stamp.
  int64_t base = 0;
  if (window(0, format::kPackHeaderSize, &data) == format::kPackHeaderSize) {
    base = format::pack_scr(data);
  }
  bool first = true;
  uint32_t first_stamp = 0;
  int64_t last_seconds = -1;
  int64_t last_time = 0;
  int64_t pos = 0;
  while (pos < size_) {
    const size_t avail = window(pos, format::kStartSearchLimit + format::kPacketHeaderBytes, &data);
    format::PacketHeader h;
    if (format::parse_packet_header(data, avail, format::kForward, &h) != format::kPacketFound) {
      // A start code whose header the file cuts off is a packet cut short; anything else
      // after the last packet (nothing, or bytes without a start) ends the walk.
      for (size_t i = 0; i + 4 <= avail; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 &&
            format::is_packet_stream_id(data[i + 3]) && avail < format::kStartSearchLimit) {
          r.end = WalkEnd::kTruncated;
          r.at = pos + static_cast<int64_t>(i);
          break;
        }
      }
      return r;
    }
    const int64_t at = pos + h.offset;
    if (h.packet_size < format::kPacketHeaderBytes || h.packet_size > kMaxStreamPacket) {
      ++r.skipped;
      pos = at + 4;
      continue;
    }
    if (window(at, h.packet_size, &data) < h.packet_size) {
      r.end = WalkEnd::kTruncated;
      r.at = at;
      return r;
    }
    format::PesFields f;
    if (!format::read_pes_fields(data, h.packet_size, &f)) {
      ++r.skipped;
      pos = at + h.packet_size;
      continue;
    }
    SourcePacket p;
    p.kind = f.kind;
    p.channel = f.channel;
    p.pts = f.pts;
    p.dts = f.dts;
    p.offset = at;
    p.end = at + h.packet_size;
    p.pes = data;
    p.pes_size = h.packet_size;
    p.payload_offset = f.payload_offset;
    p.key = p.kind == format::kKindVideo && is_key_picture(data, h.packet_size);
    const uint32_t stamp = format::packet_pts(data, h.packet_size);
    if (first) {
      first_stamp = stamp;
      first = false;
    }
    // Stamps are kept to 32 bits; a stamp a little before the first (a picture's DTS
    // behind the first sound) counts as the first second.
    const int64_t seconds =
        std::max<int64_t>(0, static_cast<int32_t>(stamp - first_stamp)) / kTicksPerSecond;
    if (seconds != last_seconds) {
      platform::LocalTime lt{};
      last_time = platform::local_time_of(base + seconds, &lt) ? time_number_of(lt) : 0;
      last_seconds = seconds;
    }
    p.time = last_time;
    ++r.packets;
    if (!visit(p)) return r;
    pos = p.end;
  }
  return r;
}

WalkResult RecordingSource::walk_copy(const std::function<bool(const SourcePacket&)>& visit) {
  WalkResult r;
  const uint8_t* data = nullptr;
  int64_t pos = 0;
  size_t chunk = 0;  // the index record of the chunk that holds pos
  while (pos < size_) {
    while (chunk + 1 < chunks_.size() && chunks_[chunk + 1].offset <= pos) ++chunk;
    const size_t n = window(pos, recdisk::kPacketHeaderSize, &data);
    if (n < recdisk::kPacketHeaderSize) {
      r.end = WalkEnd::kTruncated;
      r.at = pos;
      return r;
    }
    const uint16_t marker = format::load_le16(data + recdisk::kPacketMarker);
    const uint32_t length = format::load_le32(data + recdisk::kPacketPayloadLength);
    if (length < format::kPacketHeaderBytes || length > kMaxCopyPacket) {
      r.end = WalkEnd::kDamaged;
      r.at = pos;
      return r;
    }
    const int64_t time = chunks_.empty()
                             ? recdisk::time_number(recdisk::load_rec_time(data + kPacketTime))
                             : chunks_[chunk].time;
    const size_t total = recdisk::kPacketHeaderSize + length;
    if (window(pos, total, &data) < total) {
      r.end = WalkEnd::kTruncated;
      r.at = pos;
      return r;
    }
    const uint8_t* pes = data + recdisk::kPacketHeaderSize;
    format::PesFields f;
    // The recorder marks where a chunk's data ends and may leave unknown markers; such
    // packets carry nothing to show and are passed over by their length.
    if ((marker == recdisk::kPacketMarkerVideo || marker == recdisk::kPacketMarkerAudio) &&
        format::read_pes_fields(pes, length, &f)) {
      SourcePacket p;
      p.kind = f.kind;
      p.channel = f.channel;
      p.pts = f.pts;
      p.dts = f.dts;
      p.time = time;
      p.offset = pos;
      p.end = pos + static_cast<int64_t>(total);
      p.pes = pes;
      p.pes_size = length;
      p.payload_offset = f.payload_offset;
      p.key = p.kind == format::kKindVideo && is_key_picture(pes, length);
      ++r.packets;
      if (!visit(p)) return r;
    } else {
      ++r.skipped;
    }
    pos += static_cast<int64_t>(total);
  }
  return r;
}

std::string RecordingSource::format_time(int64_t time) {
  const recdisk::RecTime t = recdisk::rec_time_from_number(static_cast<int32_t>(time));
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", 2000 + t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}

}  // namespace virazav::cli::exporting
