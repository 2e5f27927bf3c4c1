// The frame index of a data set: loading an index file (both forms), building
// it from the stream file one slice a call, the frame interval it implies, and
// the walks the player moves by (index_step, index_locate, seek_key_frame).
#include "dlplayer/frame_index.h"

#include <cstring>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/dataset_state.h"
#include "format/stream_format.h"
#include "format/video_headers.h"
#include "live/live.h"
#include "platform/platform.h"

namespace virazav::dlplayer::detail {
namespace {

// Bytes of a packet the builder reads to classify it.
constexpr size_t kProbeBytes = 256;
constexpr uint32_t kPtsPerMs = 90;

void put_entry(int n, const format::FrameIndexEntry& e) {
  format::encode_index_entry(
      e, state().index.data() + static_cast<size_t>(n) * format::kIndexEntrySize);
}

bool audio_device_open() {
  return live::device_state() == live::kDeviceOpen;
}

// Loads an index file into the zeroed array. Entries are taken up to, not
// including, the first whose offset is 0 or cannot be a packet of this stream
// file (before the first packet or at or beyond its end), or whose kind or
// channel is out of range. Returns false when the file does not open.
bool load_index_file(const std::string& path) {
  DataSetState& s = state();
  platform::File f = platform::File::open(path, platform::OpenMode::kRead);
  if (!f.is_open()) return false;
  uint8_t* index = s.index.data();
  size_t got = 0;
  while (got < format::kIndexFileBytes) {
    long n = f.read(index + got, format::kIndexFileBytes - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  f.close();
  std::memset(index + got, 0, format::kIndexFileBytes - got);
  uint32_t video = 0, audio = 0;
  bool device_open = audio_device_open();
  int taken = 0;
  for (; taken < format::kIndexCapacity; ++taken) {
    format::FrameIndexEntry e = index_entry(taken);
    if (e.offset == 0) break;
    if (static_cast<int64_t>(e.offset) < s.first_offset ||
        static_cast<int64_t>(e.offset) >= s.file_size || e.kind > format::kKindAudio ||
        e.channel > 15) {
      break;
    }
    if (e.kind == format::kKindVideo) {
      video |= 1u << e.channel;
    } else if (device_open) {
      audio |= 1u << e.channel;
    }
  }
  // Whatever follows the first entry not taken is not part of the index.
  std::memset(index + static_cast<size_t>(taken) * format::kIndexEntrySize, 0,
              format::kIndexFileBytes - static_cast<size_t>(taken) * format::kIndexEntrySize);
  s.video_mask.store(video);
  s.audio_mask.store(audio);
  s.last_valid.store(taken - 1);
  return true;
}

// Puts the data set back at its first packet (under the player lock, since the
// playback thread may be running).
void rewind_to_first_packet() {
  DataSetState& s = state();
  PlayerRequest lock(s);
  s.current_offset = s.first_offset;
  if (s.file.is_open()) s.file.seek(s.first_offset, platform::SeekFrom::kBegin);
  note_reposition(s);
}

int complete(const std::string& path, int count, bool save) {
  DataSetState& s = state();
  s.last_valid.store(count - 1);
  if (save) {
    // An index file that cannot be created leaves the index in memory only.
    platform::File f = platform::File::open(path, platform::OpenMode::kWriteTruncate);
    if (f.is_open()) f.write(s.index.data(), format::kIndexFileBytes);
  }
  rewind_to_first_packet();
  derive_frame_interval();
  s.index_ready.store(1);
  return 1;
}

bool matches(const format::FrameIndexEntry& e, int kind_filter, int video_channel,
             int audio_channel) {
  if (kind_filter == kStepKeyFrames && e.kind != format::kKindVideo) return false;
  if (kind_filter == kStepAudio && e.kind != format::kKindAudio) return false;
  if (e.kind == format::kKindVideo)
    return video_channel < 0 || video_channel > 15 || video_channel == e.channel;
  return audio_channel < 0 || audio_channel > 3 || audio_channel == e.channel;
}

}  // namespace

void derive_frame_interval() {
  DataSetState& s = state();
  int interval = kIntervalLongMs;
  if (s.audio_mask.load() != 0) {
    interval = kIntervalShortMs;
  } else {
    uint32_t first[kChannels] = {}, second[kChannels] = {};
    int seen[kChannels] = {};
    int last = s.last_valid.load();
    for (int n = 0; n < last; ++n) {
      format::FrameIndexEntry e = index_entry(n);
      if (e.kind != format::kKindVideo || e.channel >= kChannels || seen[e.channel] >= 2) continue;
      (seen[e.channel] == 0 ? first : second)[e.channel] = e.pts;
      ++seen[e.channel];
    }
    for (int ch = 0; ch < kChannels; ++ch) {
      if (seen[ch] < 2) continue;
      uint32_t ms = (second[ch] - first[ch]) / kPtsPerMs;
      if (ms != 0 && ms <= static_cast<uint32_t>(kIntervalShortMs)) {
        interval = kIntervalShortMs;
        s.master_channel.store(ch);
        break;
      }
    }
  }
  s.frame_interval_ms.store(interval);
  s.default_interval_ms.store(interval);
}

int build_frame_index(const std::string& index_dir, int mode, int parts) {
  DataSetState& s = state();
  if (s.index_ready.load()) return s.index_ready.load();
  if (!ensure_index() || !s.build_file.is_open()) return 0;
  if (parts < 1) parts = 1;
  std::string path = index_file_path(index_dir);
  if (mode <= 0) {
    // The playback thread reads the index under the player lock; a fresh
    // start must not zero entries under its feet.
    PlayerRequest lock(s);
    s.cursor.store(0);
    s.last_valid.store(-1);
    s.video_mask.store(0);
    s.audio_mask.store(0);
    s.build_offset = s.first_offset;
    std::memset(s.index.data(), 0, format::kIndexFileBytes);
  }
  int64_t step = s.file_size / parts;
  if (step < 1) step = 1;
  s.build_last_progress = static_cast<int>((s.build_offset - s.first_offset) / step);

  if (load_index_file(path)) return complete(path, s.last_valid.load() + 1, false);

  platform::File& f = s.build_file;
  int count = mode <= 0 ? 0 : s.last_valid.load() + 1;
  if (f.seek(s.build_offset, platform::SeekFrom::kBegin) != 0) {
    return complete(path, count, true);
  }
  bool device_open = audio_device_open();
  uint8_t head[kProbeBytes];
  while (true) {
    format::PacketHeader h;
    if (format::parse_packet_header(f, format::kForward, &h) != format::kPacketFound) break;
    if (h.packet_size < format::kPacketHeaderBytes) {
      // A size that cannot hold the packet's own header: not a packet to
      // index; search on after its start code.
      s.build_offset = h.offset + 4;
      if (f.seek(s.build_offset, platform::SeekFrom::kBegin) != 0) break;
      continue;
    }
    size_t want = h.packet_size < kProbeBytes ? h.packet_size : kProbeBytes;
    long got = f.read(head, want);
    if (got <= 0) break;
    size_t n = static_cast<size_t>(got);
    format::FrameIndexEntry e;
    e.channel = static_cast<uint8_t>(h.channel);
    e.offset = static_cast<uint64_t>(h.offset);
    bool add = false;
    if (h.kind == format::kKindVideo) {
      format::VideoHeaders v;
      if (format::scan_video_headers(head, n, &v) != 0 && v.vop_kind == format::kVopIntra) {
        e.kind = format::kKindVideo;
        add = true;
        s.video_mask.fetch_or(1u << h.channel);
      }
    } else {
      e.kind = format::kKindAudio;
      add = true;
      if (device_open) s.audio_mask.fetch_or(1u << h.channel);
    }
    if (add) {
      e.pts = format::packet_pts(head, n);
      put_entry(count++, e);
      if (count >= format::kIndexCapacity) break;
    }
    s.build_offset = h.offset + h.packet_size;
    if (f.seek(s.build_offset, platform::SeekFrom::kBegin) != 0) break;
    if (mode != kBuildToEnd) {
      int progress = static_cast<int>((s.build_offset - s.first_offset) / step);
      if (progress != s.build_last_progress) {
        s.build_last_progress = progress;
        if (progress < parts) {
          s.last_valid.store(count - 1);
          return 0;
        }
      }
    }
  }
  return complete(path, count, true);
}

int64_t index_step(int kind_filter, int video_channel, int audio_channel, int direction,
                   bool has_limit, uint32_t pts_limit) {
  return index_step_from(state().cursor.load(), kind_filter, video_channel, audio_channel,
                         direction, has_limit, pts_limit);
}

int64_t index_step_from(int start, int kind_filter, int video_channel, int audio_channel,
                        int direction, bool has_limit, uint32_t pts_limit) {
  DataSetState& s = state();
  int last = s.last_valid.load();
  if (last < 0) {
    s.cursor.store(0);
    return static_cast<int64_t>(index_entry(0).offset);
  }
  int step = direction == format::kBackward ? -1 : 1;
  int n = start;
  int steps = 0;
  while (true) {
    n += step;
    ++steps;
    if (n < 0) {
      s.cursor.store(0);
      return static_cast<int64_t>(index_entry(0).offset);
    }
    if (n > last) {
      n = last;
      break;
    }
    format::FrameIndexEntry e = index_entry(n);
    if (matches(e, kind_filter, video_channel, audio_channel)) {
      if (!has_limit) break;
      if (step > 0 ? e.pts >= pts_limit : e.pts <= pts_limit) break;
    }
    if (steps > last + 1) break;
  }
  s.cursor.store(n);
  return static_cast<int64_t>(index_entry(n).offset);
}

int index_locate(int64_t offset, int direction) {
  DataSetState& s = state();
  int last = s.last_valid.load();
  if (last < 0) return 0;
  int n = s.cursor.load();
  if (n < 0) n = 0;
  if (n > last) n = last;
  auto at = [](int k) { return static_cast<int64_t>(index_entry(k).offset); };
  if (at(n) > offset) {
    while (n > 0 && at(n) > offset) --n;
  } else {
    while (n < last && at(n) < offset) ++n;
  }
  if (direction == format::kForward) return n - 1 < 0 ? 0 : n - 1;
  return n + 1 > last ? last : n + 1;
}

int seek_key_frame(int direction) {
  DataSetState& s = state();
  if (!s.initialised.load() || !s.file.is_open()) return -1;
  uint8_t* buffer = decoder::frame_buffer();
  if (buffer == nullptr) return -1;
  const int64_t from = s.current_offset;
  int start = index_locate(from, direction);
  // index_locate stays inside the index, so at either end it names the end
  // entry itself rather than the one before it; the walk then starts outside
  // so that it examines that entry first.
  const int last = s.last_valid.load();
  if (direction == format::kForward && start == 0 && last >= 0 &&
      static_cast<int64_t>(index_entry(0).offset) >= from) {
    start = -1;
  } else if (direction != format::kForward && start == last && last >= 0 &&
             static_cast<int64_t>(index_entry(last).offset) <= from) {
    start = last + 1;
  }
  int64_t offset = index_step_from(start, kStepKeyFrames, s.display_channel.load(),
                                   live::selected_audio_channel(1), direction);
  s.current_offset = offset;
  if (s.file.seek(offset, platform::SeekFrom::kBegin) != 0) return -1;
  long got = s.file.read(buffer, kProbeBytes);
  s.file.seek(offset, platform::SeekFrom::kBegin);
  if (got <= 0) return -1;
  format::PacketHeader h;
  if (format::parse_packet_header(buffer, static_cast<size_t>(got), direction, &h) !=
      format::kPacketFound)
    return -1;
  s.current_pts.store(format::packet_pts(buffer, static_cast<size_t>(got)));
  s.packet.channel = h.channel;
  s.packet.kind = h.kind;
  s.packet.packet_size = h.packet_size;
  s.packet.prev_size = h.prev_size;
  s.packet.loaded = static_cast<uint32_t>(got);
  return h.channel;
}

}  // namespace virazav::dlplayer::detail
