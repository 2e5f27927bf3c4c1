// The single-file splitter: cuts a stream file, piece by piece, into one data
// file per video packet that carries a sequence header ("<dir>/<ch>_<tick>.dat")
// and one PCM WAV file per audio channel 0..3 ("<dir>/wav<ch>.wav").
#include <cstdio>
#include <cstring>
#include <string>

#include "decoder/decoder.h"
#include "dlplayer/dataset_state.h"
#include "dlplayer/dlplayer.h"
#include "dlplayer/packet_io.h"
#include "format/bytes.h"
#include "format/stream_format.h"
#include "format/video_headers.h"
#include "platform/platform.h"

namespace virazav::dlplayer {
namespace {

constexpr const char* kTextNotInitialized = "error: not initialized ";
constexpr const char* kTextFileOpenError = "error: file open error ";

constexpr int kWavChannels = 4;
constexpr uint32_t kPtsPerTick = 3000;       // 1/30 s
constexpr uint32_t kWrapThreshold = 900000;  // 10 s
constexpr size_t kPcmRoom = 1u << 20;

// The 44-byte RIFF WAVE header of 8000 Hz mono 16-bit PCM.
constexpr size_t kWavHeaderBytes = 44;
constexpr size_t kWavRiffSize = 4;
constexpr size_t kWavDataSize = 40;
constexpr uint32_t kWavRiffBase = 36;

void fill_wav_header(uint8_t out[kWavHeaderBytes], uint32_t data_size) {
  std::memcpy(out, "RIFF", 4);
  format::store_le32(out + kWavRiffSize, kWavRiffBase + data_size);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  format::store_le32(out + 16, 16);     // format chunk size
  format::store_le16(out + 20, 1);      // PCM
  format::store_le16(out + 22, 1);      // mono
  format::store_le32(out + 24, 8000);   // samples a second
  format::store_le32(out + 28, 16000);  // bytes a second
  format::store_le16(out + 32, 2);      // block alignment
  format::store_le16(out + 34, 16);     // bits a sample
  std::memcpy(out + 36, "data", 4);
  format::store_le32(out + kWavDataSize, data_size);
}

// Ticks since `first`, with the wrap rule for stamps below it.
uint32_t tick_of(uint32_t pts, uint32_t first, uint32_t last_increasing) {
  if (pts >= first) return (pts - first) / kPtsPerTick;
  if (first - pts >= kWrapThreshold) return (pts - first + last_increasing) / kPtsPerTick;
  return 0;
}

struct WavOut {
  platform::File file;
  uint32_t bytes = 0;
  uint32_t last_tick = 0;
  uint8_t header[kWavHeaderBytes] = {};
};

std::string data_file_name(const std::string& dir, int channel, uint32_t tick) {
  char name[48];
  std::snprintf(name, sizeof name, "%d_%u.dat", channel, tick);
  return platform::join_path(dir, name);
}

std::string wav_file_name(const std::string& dir, int channel) {
  return platform::join_path(dir, "wav" + std::to_string(channel) + ".wav");
}

// Opens an existing WAV file to continue it: its header is read and its data
// size taken as the count; writing continues at its end.
bool reopen_wav(const std::string& path, WavOut* w) {
  if (!platform::file_exists(path)) return false;
  w->file = platform::File::open(path, platform::OpenMode::kUpdate);
  if (!w->file.is_open()) return false;
  if (w->file.read(w->header, kWavHeaderBytes) != static_cast<long>(kWavHeaderBytes) ||
      w->file.seek(0, platform::SeekFrom::kEnd) != 0) {
    w->file.close();
    return false;
  }
  w->bytes = format::load_le32(w->header + kWavDataSize);
  return true;
}

int split(const char* source, const char* directory, int limit, bool continuing) {
  const char* caption = source ? source : "";
  if (!decoder::setup_done() || !decoder::adpcm_ready() || decoder::frame_buffer() == nullptr) {
    platform::show_message(kTextNotInitialized, caption);
    return -1;
  }
  platform::File src;
  if (source != nullptr) src = platform::File::open(source, platform::OpenMode::kRead);
  if (!src.is_open()) {
    platform::show_message(kTextFileOpenError, caption);
    return -1;
  }
  std::string dir = directory ? directory : "";
  detail::DataSetState& s = detail::state();
  if (!continuing) {
    s.current_offset = 0;
    s.split = detail::SplitterValues{};
  } else if (src.seek(s.split.resume_offset, platform::SeekFrom::kBegin) != 0) {
    return 0;
  }
  WavOut wav[kWavChannels];
  uint8_t* buffer = decoder::frame_buffer();
  bool first_of_call = true;
  uint32_t call_first = 0;
  uint32_t tick = 0;
  int result = -2;  // not yet decided
  int64_t reached = src.tell();

  format::PacketHeader h;
  while (format::parse_packet_header(src, format::kForward, &h) == format::kPacketFound) {
    long loaded = detail::load_packet(src, h);
    // A packet whose size cannot be right ends the split there.
    if (loaded < 0) break;
    size_t n = static_cast<size_t>(loaded);
    reached = h.offset + static_cast<int64_t>(n);
    uint32_t pts = s.packet.pts;
    s.current_pts.store(pts);
    uint32_t limit_tick;
    if (!continuing && first_of_call) {
      s.split.first_pts = s.split.last_increasing = pts;
    }
    tick = tick_of(pts, s.split.first_pts, s.split.last_increasing);
    if (!continuing && pts >= s.split.first_pts) s.split.last_increasing = pts;
    if (first_of_call) call_first = pts;
    first_of_call = false;
    limit_tick = continuing ? tick_of(pts, call_first, s.split.last_increasing) : tick;

    if (h.kind == format::kKindVideo) {
      format::VideoHeaders v;
      format::scan_video_headers(buffer, n, &v);
      if (v.width != 0 && v.height != 0) {
        platform::File out = platform::File::open(data_file_name(dir, h.channel, tick),
                                                  platform::OpenMode::kWriteTruncate);
        // A data file that cannot be created is skipped.
        if (out.is_open()) out.write(buffer, n);
      }
    } else if (h.channel < kWavChannels) {
      WavOut& w = wav[h.channel];
      if (!w.file.is_open()) {
        std::string path = wav_file_name(dir, h.channel);
        if (continuing) {
          reopen_wav(path, &w);
        } else {
          w.file = platform::File::open(path, platform::OpenMode::kWriteTruncate);
          fill_wav_header(w.header, 0);
          if (w.file.is_open() && w.file.write(w.header, kWavHeaderBytes) != 0) w.file.close();
        }
      }
      if (w.file.is_open()) {
        int pcm = decoder::adpcm_decode_packet(buffer, kPcmRoom, 0);
        if (pcm > 0 && w.file.write(buffer, static_cast<size_t>(pcm)) == 0) {
          w.bytes += static_cast<uint32_t>(pcm);
          w.last_tick = tick;
        }
      }
    }
    if (limit > 0 && limit_tick > static_cast<uint32_t>(limit)) {
      result = 0;
      break;
    }
    if (src.seek(h.offset + h.packet_size, platform::SeekFrom::kBegin) != 0) break;
    reached = h.offset + h.packet_size;
  }
  if (result != 0) result = static_cast<int>(tick);
  for (WavOut& w : wav) {
    if (!w.file.is_open()) continue;
    format::store_le32(w.header + kWavDataSize, w.bytes);
    format::store_le32(w.header + kWavRiffSize, w.bytes + kWavRiffBase);
    if (w.file.seek(0, platform::SeekFrom::kBegin) == 0) w.file.write(w.header, kWavHeaderBytes);
    w.file.close();
    if (result != 0 && w.last_tick != 0 && w.last_tick < static_cast<uint32_t>(result)) {
      result = static_cast<int>(w.last_tick);
    }
  }
  s.split.resume_offset = reached;
  s.current_offset = reached;
  return result;
}

}  // namespace

int mpeg4_play(const char* source, const char* directory, int limit) {
  return split(source, directory, limit, false);
}

int mpeg4_play2(const char* source, const char* directory, int limit) {
  return split(source, directory, limit, true);
}

}  // namespace virazav::dlplayer
