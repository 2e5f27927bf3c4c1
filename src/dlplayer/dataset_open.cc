// The data set's life cycle: decode_init and decode_deinit around the
// decoder, the layer's set-up and release, opening a stream file (first
// packet, index, end time, playback thread) and closing it, the channel
// pictures handed to the application, and the mask and index exports.
#include <cstring>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/dataset_state.h"
#include "dlplayer/dlplayer.h"
#include "dlplayer/frame_index.h"
#include "dlplayer/packet_io.h"
#include "dlplayer/playback_thread.h"
#include "format/stream_format.h"
#include "format/video_headers.h"
#include "platform/platform.h"

namespace virazav::dlplayer {

using detail::DataSetState;
using detail::state;

namespace {

constexpr const char* kTextFileOpenError = "error: file open error ";
constexpr const char* kTextNoFrameIndex = "frame index is none.";
// The caption of the "frame index is none." message: 50 blanks.
constexpr const char* kCaptionBlanks = "                                                  ";

// The tail of the file scanned for the last key frame when there is no index.
constexpr int64_t kTailBytes = 524288;
constexpr int kTailPackets = 1000;
// Polls of 1 ms that fileclose waits for the thread to end, and that fileopen
// waits for it to start.
constexpr int kThreadWaitPolls = 10000;

bool valid_channel(int channel) {
  return channel >= 0 && channel < detail::kChannels;
}

// Finds the last key frame of the stream: through the index when it is ready,
// otherwise by scanning the file's tail. Leaves the last packet read in the
// frame buffer (its stamp becomes the end stamp).
void find_last_key_frame() {
  DataSetState& s = state();
  s.last_key_offset = 0;
  s.last_key_prev_size = 0;
  if (s.index_ready.load() != 1) {
    int64_t from = s.file_size > kTailBytes ? s.file_size - kTailBytes : 0;
    if (s.file.seek(from, platform::SeekFrom::kBegin) != 0) return;
    for (int i = 0; i < kTailPackets; ++i) {
      format::PacketHeader h;
      if (format::parse_packet_header(s.file, format::kForward, &h) != format::kPacketFound) break;
      if (detail::load_packet(s.file, h) < 0) {
        // A packet whose size cannot be right: search on after its start code.
        if (s.file.seek(h.offset + 4, platform::SeekFrom::kBegin) != 0) break;
        continue;
      }
      if (h.kind != format::kKindVideo) continue;
      format::VideoHeaders v;
      format::scan_video_headers(decoder::frame_buffer(), s.packet.loaded, &v);
      if (v.vop_kind == format::kVopIntra) {
        s.last_key_offset = s.file.tell();
        s.last_key_prev_size = h.prev_size;
      }
    }
    return;
  }
  for (int n = s.last_valid.load(); n >= 1; --n) {
    format::FrameIndexEntry e = index_entry(n);
    if (e.kind != format::kKindVideo) continue;
    s.last_key_offset = static_cast<int64_t>(e.offset);
    if (s.file.seek(s.last_key_offset, platform::SeekFrom::kBegin) != 0) return;
    format::PacketHeader h;
    if (format::parse_packet_header(s.file, format::kForward, &h) != format::kPacketFound) return;
    if (detail::load_packet(s.file, h) < 0) return;
    format::VideoHeaders v;
    format::scan_video_headers(decoder::frame_buffer(), s.packet.loaded, &v);
    s.last_key_prev_size = h.prev_size;
    return;
  }
}

void release_ring() {
  for (detail::RingBuffer& b : state().ring) {
    platform::MutexLock lock(b.lock);
    b.data = platform::Buffer();
  }
}

void close_files() {
  DataSetState& s = state();
  detail::PlayerRequest lock(s);
  s.file.close();
  s.build_file.close();
}

// Refuses an open after the file was opened: closes it, shows the message.
uint32_t refuse(const char* path) {
  close_files();
  platform::show_message(kTextFileOpenError, path);
  state().file_size = 0;
  return 0;
}

}  // namespace

int decode_init() {
  if (decoder::set_up() != 0) return -1;
  decoder::set_direction_reader(play_direction);
  return init();
}

void decode_deinit() {
  deinit();
  decoder::tear_down();
}

int init() {
  DataSetState& s = state();
  if (s.initialised.load()) return 0;
  bool ok = true;
  for (detail::RingBuffer& b : s.ring) {
    platform::MutexLock lock(b.lock);
    if (!b.data.ok()) b.data = platform::Buffer(detail::kAudioBufferSize);
    ok = ok && b.data.ok();
  }
  if (!ok) {
    release_ring();
    s.file_size = 0;
    s.first_offset = 0;
    s.first_size = 0;
    return 1;
  }
  s.file.close();
  s.build_file.close();
  s.current_offset = 0;
  s.last_read_offset = 0;
  s.file_size = 0;
  s.first_offset = 0;
  s.first_size = 0;
  s.play_mode.store(detail::kModeNoThread);
  s.display_channel.store(-1);
  s.initialised.store(true);
  return 0;
}

void deinit() {
  DataSetState& s = state();
  if (!s.initialised.load()) return;
  file_close();
  release_ring();
  s.initialised.store(false);
}

bool initialised() {
  return state().initialised.load();
}

bool file_is_open() {
  return state().file.is_open();
}

uint32_t file_open(const char* path, const char* bitmap_dir, const char* index_dir, int parts) {
  DataSetState& s = state();
  if (!s.initialised.load() || s.file.is_open() || path == nullptr) return 0;
  // The packets are read into the decoder's frame buffer: no decode_init, no data set.
  if (decoder::frame_buffer() == nullptr) return 0;
  s.file = platform::File::open(path, platform::OpenMode::kRead);
  if (!s.file.is_open()) {
    platform::show_message(kTextFileOpenError, path);
    s.file_size = 0;
    return 0;
  }
  s.build_file = platform::File::open(path, platform::OpenMode::kRead);
  if (!s.build_file.is_open()) return refuse(path);
  s.path = path;
  s.play_mode.store(detail::kModeNoThread);

  uint8_t pack[format::kPackHeaderSize];
  long got = s.file.read(pack, sizeof pack);
  s.base_time.store(got == static_cast<long>(sizeof pack) ? format::pack_scr(pack) : 0);

  // The first packet: it must exist and have a size the frame buffer holds.
  format::PacketHeader first;
  if (s.file.seek(0, platform::SeekFrom::kBegin) != 0 ||
      format::parse_packet_header(s.file, format::kForward, &first) != format::kPacketFound ||
      detail::load_packet(s.file, first) < 0) {
    return refuse(path);
  }
  s.first_pts = s.packet.pts;
  s.current_pts.store(s.packet.pts);
  s.file_size = s.file.size();
  s.first_offset = first.offset;
  s.first_size = first.packet_size;
  s.current_offset = first.offset;
  s.last_read_offset = first.offset;
  s.master_channel.store(first.channel);
  s.index_ready.store(0);
  s.build_offset = first.offset;

  s.index_ready.store(
      detail::build_frame_index(index_dir ? index_dir : "", detail::kBuildFresh, parts));
  find_last_key_frame();
  s.end_pts = s.packet.pts;
  s.file.seek(s.first_offset, platform::SeekFrom::kBegin);
  s.current_offset = s.first_offset;

  s.bitmap_dir = bitmap_dir ? bitmap_dir : "";
  if (s.bitmap_dir.size() > detail::kBitmapDirMax) s.bitmap_dir.resize(detail::kBitmapDirMax);
  for (auto& f : s.picture_ready) f.store(0);
  s.play_mode.store(detail::kModeNoThread);
  if (!detail::start_playback()) return refuse(path);
  for (int i = 0; i < kThreadWaitPolls && s.play_mode.load() == detail::kModeNoThread; ++i) {
    platform::sleep_ms(1);
  }
  return static_cast<uint32_t>(s.file_size);
}

void file_close() {
  DataSetState& s = state();
  if (!s.initialised.load() || !s.file.is_open()) return;
  if (s.play_mode.load() != detail::kModeNoThread) {
    s.play_mode.store(detail::kModeEnd);
    detail::wake_engine();
    for (int i = 0; i < kThreadWaitPolls && s.play_mode.load() != detail::kModeNoThread; ++i) {
      platform::sleep_ms(1);
    }
  }
  close_files();
}

int file_lock(int channel) {
  DataSetState& s = state();
  if (!valid_channel(channel) || s.picture_ready[channel].load() == 0) return 0;
  std::lock_guard<std::mutex> lock(s.channel_locks[channel]);
  std::string path = platform::join_path(s.bitmap_dir, std::to_string(channel) + ".bmp");
  decoder::write_channel_bmp(path, channel);
  return 1;
}

int file_unlock(int channel) {
  if (!valid_channel(channel)) return 0;
  return state().picture_ready[channel].exchange(0);
}

int frame_index(const char* index_dir, int parts) {
  DataSetState& s = state();
  if (parts == 0) return s.index_ready.load();
  if (s.index_ready.load()) return parts;
  if (!s.initialised.load() || !s.file.is_open()) return 0;
  if (detail::build_frame_index(index_dir ? index_dir : "", detail::kBuildContinue, parts) == 1) {
    return parts;
  }
  int64_t step = s.file_size / (parts < 1 ? 1 : parts);
  if (step < 1) step = 1;
  return static_cast<int>((s.build_offset - s.first_offset) / step);
}

void get_enable_ch(uint32_t* video_mask, uint32_t* audio_mask, const char* index_dir, int parts) {
  DataSetState& s = state();
  if (s.index_ready.load() != 1) {
    platform::show_message(kTextNoFrameIndex, kCaptionBlanks);
    if (s.file.is_open()) {
      s.index_ready.store(
          detail::build_frame_index(index_dir ? index_dir : "", detail::kBuildToEnd, parts));
    }
  }
  if (video_mask) *video_mask = s.video_mask.load();
  if (audio_mask) *audio_mask = s.audio_mask.load();
}

void set_disp_type(int channel) {
  DataSetState& s = state();
  detail::PlayerRequest lock(s);
  s.display_channel.exchange(channel);
}

int play_mode() {
  return state().play_mode.load();
}

}  // namespace virazav::dlplayer
