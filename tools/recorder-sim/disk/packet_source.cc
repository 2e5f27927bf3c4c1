// The recorded packets of each second: one group of pictures per channel (key picture
// first), and the audio packets that begin in the second, ordered by time stamp as the
// recorder interleaves them in a chunk.

#include "disk/packet_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace virazav::sim::diskimg {

namespace {

// An audio packet of 4096 samples lasts 512 ms.
constexpr int64_t kAudioPacketMs = int64_t{kAudioPacketSamples} * 1000 / kAudioRate;

// First audio packet that begins at or after millisecond `ms`.
int64_t first_audio_packet_from(int64_t ms) {
  return (ms + kAudioPacketMs - 1) / kAudioPacketMs;
}

// A placeholder picture: a VOP start code with the picture kind (intra or predicted), then a
// text that names channel and picture.
std::vector<uint8_t> placeholder_picture(int channel, int64_t frame, bool key) {
  std::vector<uint8_t> data = {0x00, 0x00, 0x01, 0xB6, static_cast<uint8_t>(key ? 0x00 : 0x40)};
  char text[48];
  const int n = std::snprintf(text, sizeof text, "placeholder ch=%02d picture=%08lld", channel,
                              static_cast<long long>(frame));
  data.insert(data.end(), text, text + n);
  return data;
}

}  // namespace

PacketSource::PacketSource(bool media, int channels, int audio_channels, const VideoSettings& video)
    : media_(media),
      channels_(channels),
      audio_channels_(audio_channels),
      video_(video),
      next_audio_(static_cast<size_t>(audio_channels), 0),
      audio_state_(static_cast<size_t>(audio_channels)) {
  if (media_) {
    for (int c = 0; c < channels_; ++c) cameras_.emplace_back(c, video_.width, video_.height);
  }
}

uint64_t PacketSource::picture_pts(int64_t frame) const {
  return static_cast<uint64_t>(kFirstPts + frame * kPtsRate / video_.fps);
}

uint64_t PacketSource::audio_pts(int64_t index) const {
  return static_cast<uint64_t>(kFirstPts + index * kAudioPacketTicks);
}

bool PacketSource::packets(int64_t second, std::vector<SourcePacket>* out, std::string* error) {
  out->clear();
  for (int c = 0; c < channels_; ++c) {
    if (!add_pictures(c, second, out, error)) return false;
  }
  for (int a = 0; a < audio_channels_; ++a) add_audio(a, second, out);
  // Time stamp order; at equal stamps pictures before audio, lower channels first (the
  // pictures were added channel by channel, so a stable sort keeps that order).
  std::stable_sort(out->begin(), out->end(), [](const SourcePacket& x, const SourcePacket& y) {
    if (x.ticks != y.ticks) return x.ticks < y.ticks;
    return !x.audio && y.audio;
  });
  return true;
}

bool PacketSource::add_pictures(int channel, int64_t second, std::vector<SourcePacket>* out,
                                std::string* error) {
  const int64_t first = second * video_.fps;
  std::vector<EncodedPicture> pictures;
  if (media_) {
    if (!encode_video_packets(cameras_[static_cast<size_t>(channel)], first, video_.fps, video_,
                              &pictures, error)) {
      return false;
    }
  } else {
    for (int i = 0; i < video_.fps; ++i) {
      EncodedPicture p;
      p.frame = first + i;
      p.key = i == 0;
      p.data = placeholder_picture(channel, p.frame, p.key);
      pictures.push_back(std::move(p));
    }
  }
  for (const EncodedPicture& pic : pictures) {
    // Pictures are decoded one picture ahead of their display: the DTS lies a picture
    // before the PTS, and the DTS is the stamp a player goes by.
    const uint64_t pts = picture_pts(pic.frame);
    const uint64_t dts = pts - static_cast<uint64_t>(kPtsRate / video_.fps);
    SourcePacket p;
    p.channel = channel;
    p.key = pic.key;
    p.index = pic.frame;
    p.ticks = dts;
    p.time_stamp = static_cast<uint32_t>(dts);
    p.pes = make_video_packet(channel, pts, dts, pic);
    if (p.pes.empty()) {
      if (error != nullptr) *error = "a picture does not fit a packet";
      return false;
    }
    out->push_back(std::move(p));
  }
  return true;
}

void PacketSource::add_audio(int channel, int64_t second, std::vector<SourcePacket>* out) {
  const int64_t begin = first_audio_packet_from(second * 1000);
  const int64_t end = first_audio_packet_from((second + 1) * 1000);
  int64_t& next = next_audio_[static_cast<size_t>(channel)];
  AdpcmState& state = audio_state_[static_cast<size_t>(channel)];
  std::vector<uint8_t> adpcm(kAdpcmBytes);
  // The encoder runs without pause, also through seconds that are not recorded, so that each
  // packet's state is the one a continuous encoding reaches.
  for (; next < end; ++next) {
    const AdpcmState at_start = state;
    const std::vector<int16_t> pcm =
        tone_samples(channel, next * kAudioPacketSamples, kAudioPacketSamples);
    encode_adpcm(pcm.data(), pcm.size(), &state, adpcm.data());
    if (next < begin) continue;
    SourcePacket p;
    p.audio = true;
    p.channel = channel;
    p.index = next;
    const uint64_t pts = audio_pts(next);
    p.ticks = pts;
    p.time_stamp = static_cast<uint32_t>(pts);
    p.pes = make_audio_packet(channel, pts, at_start, adpcm.data());
    out->push_back(std::move(p));
  }
}

}  // namespace virazav::sim::diskimg
