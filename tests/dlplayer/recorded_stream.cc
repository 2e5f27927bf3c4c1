#include "recorded_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "format/video_headers.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::testing {

int64_t RecordedStream::frame_of(uint32_t pts) const {
  // A picture's stamp is its DTS, one picture before its PTS.
  const int64_t ticks_per_frame = sim::kPtsRate / options.video.fps;
  return (static_cast<int64_t>(pts) - options.first_pts) / ticks_per_frame + 1;
}

std::vector<StreamPacket> RecordedStream::key_frames(int channel) const {
  std::vector<StreamPacket> out;
  for (const StreamPacket& p : packets) {
    if (!p.audio && p.key && (channel < 0 || p.channel == channel)) out.push_back(p);
  }
  return out;
}

std::vector<StreamPacket> RecordedStream::audio_packets(int channel) const {
  std::vector<StreamPacket> out;
  for (const StreamPacket& p : packets) {
    if (p.audio && p.channel == channel) out.push_back(p);
  }
  return out;
}

std::vector<uint8_t> RecordedStream::packet_bytes(const StreamPacket& p) const {
  std::vector<uint8_t> all = read_file(path);
  if (p.offset < 0 || static_cast<size_t>(p.offset) + p.size > all.size()) return {};
  return std::vector<uint8_t>(all.begin() + p.offset, all.begin() + p.offset + p.size);
}

namespace {

// Reads the packets of a stream file one after the other by their sizes.
bool scan(RecordedStream* s, std::string* error) {
  const std::vector<uint8_t> bytes = read_file(s->path);
  size_t at = format::kStreamHeaderSize;
  while (at < bytes.size()) {
    format::PacketHeader h;
    if (format::parse_packet_header(bytes.data() + at, bytes.size() - at, format::kBackward, &h) !=
            format::kPacketFound ||
        h.packet_size < format::kPacketHeaderBytes || at + h.packet_size > bytes.size()) {
      *error = "no packet at offset " + std::to_string(at);
      return false;
    }
    StreamPacket p;
    p.offset = static_cast<int64_t>(at);
    p.size = h.packet_size;
    p.channel = h.channel;
    p.audio = h.kind == format::kKindAudio;
    p.pts = format::packet_pts(bytes.data() + at, h.packet_size);
    if (p.audio) {
      p.frame = (static_cast<int64_t>(p.pts) - s->options.first_pts) / sim::kAudioPacketTicks;
    } else {
      format::VideoHeaders v;
      format::scan_video_headers(bytes.data() + at, std::min<size_t>(h.packet_size, 256), &v);
      p.key = v.vop_kind == format::kVopIntra && v.width > 0;
      p.frame = s->frame_of(p.pts);
    }
    s->packets.push_back(p);
    at += h.packet_size;
  }
  const std::vector<uint8_t> index = read_file(s->dir + "/.index");
  for (size_t i = 0; i + format::kIndexEntrySize <= index.size(); i += format::kIndexEntrySize) {
    s->index.push_back(format::decode_index_entry(index.data() + i));
  }
  return true;
}

}  // namespace

bool download_recording(const sim::RecordingOptions& options, int seconds, const std::string& dir,
                        RecordedStream* out, std::string* error) {
  sim::RecorderOptions ro;
  ro.recording = options;
  std::string address;
  std::unique_ptr<sim::Recorder> recorder = start_recorder(ro, &address);
  if (!recorder) {
    *error = "no loopback address for the simulated recorder";
    return false;
  }
  unsigned char info[128] = {};
  int rc = kora_connect(0, address.c_str(), ro.password.c_str(), info);
  if (rc != 0) {
    *error = std::string("kora_connect: ") + virazav_strerror(rc);
    return false;
  }
  out->options = options;
  out->dir = dir;
  out->path = dir + "/rec.mpg";
  const sim::CivilTime& t = options.start;
  rc = kora_copy_fast(0, out->path.c_str(), 0, 0, t.year % 100, t.month, t.day, t.hour, t.minute,
                      t.second, seconds, 1, 0, 0, 0);
  for (int step = 0; step < 10000 && rc > 0; ++step) {
    unsigned char count4[4];
    rc = kora_copy_next(0, out->path.c_str(), count4, dir.c_str());
  }
  kora_unconnect(0, 0, 0, 0);
  recorder->stop();
  if (rc != 0) {
    *error = "download ended with " + std::to_string(rc);
    return false;
  }
  return scan(out, error);
}

sim::RecordingOptions small_recording(uint32_t video, uint32_t audio, int fps) {
  sim::RecordingOptions o;
  o.video_channels = video;
  o.audio_channels = audio;
  o.seconds = 20;
  o.video.width = 176;
  o.video.height = 144;
  o.video.fps = fps;
  return o;
}

TempCwd* RecordedSuite::cwd_ = nullptr;
RecordedStream* RecordedSuite::stream_ = nullptr;

void RecordedSuite::download(const sim::RecordingOptions& options, int seconds) {
  TearDownTestSuite();
  cwd_ = new TempCwd;
  stream_ = new RecordedStream;
  std::string error;
  ASSERT_TRUE(download_recording(options, seconds, cwd_->path(), stream_, &error)) << error;
}

void RecordedSuite::TearDownTestSuite() {
  delete stream_;
  stream_ = nullptr;
  delete cwd_;
  cwd_ = nullptr;
}

bool read_bitmap_picture(const std::string& path, int height, sim::Picture* out) {
  const std::vector<uint8_t> d = read_file(path);
  if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return false;
  auto le32 = [&](size_t o) {
    return static_cast<int>(d[o] | d[o + 1] << 8 | d[o + 2] << 16 | d[o + 3] << 24);
  };
  const int offset = le32(10), width = le32(18), rows = le32(22);
  if (width <= 0 || rows <= 0 || rows > height) return false;
  // The writer does not pad its rows.
  const size_t stride = static_cast<size_t>(width) * 3;
  if (d.size() < static_cast<size_t>(offset) + stride * rows) return false;
  out->width = width;
  out->height = height;
  out->y.assign(static_cast<size_t>(width) * height, 0);
  out->u.assign(static_cast<size_t>(width / 2) * (height / 2), 128);
  out->v = out->u;
  for (int r = 0; r < rows; ++r) {  // the file's first row is the lowest one kept
    const uint8_t* src = d.data() + offset + stride * static_cast<size_t>(rows - 1 - r);
    for (int x = 0; x < width; ++x) {
      const double y = 0.299 * src[3 * x + 2] + 0.587 * src[3 * x + 1] + 0.114 * src[3 * x];
      out->y[static_cast<size_t>(r) * width + x] =
          static_cast<uint8_t>(std::lround(std::clamp(y, 0.0, 255.0)));
    }
  }
  return true;
}

}  // namespace virazav::testing
