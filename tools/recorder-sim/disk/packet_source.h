// Where the recorded packets of a disk image come from: the recorder's synthetic cameras
// and microphones (MPEG-4 pictures, IMA ADPCM tones), or, for images that only need the
// layout, placeholder pictures whose small payload names channel and picture number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk_format.h"
#include "media/media.h"

namespace virazav::sim::diskimg {

// PTS of the first picture of a stretch; everything after follows at 90 kHz.
inline constexpr int64_t kFirstPts = 90000;

class PacketSource {
 public:
  // media: real pictures from SyntheticChannel; otherwise placeholders. Audio is always
  // the channels' real tones.
  PacketSource(bool media, int channels, int audio_channels, const VideoSettings& video);

  // Stores in *out the packets of second `second` of the stretch (counted from its start):
  // every channel's pictures of that second, the first of each a key picture, and the audio
  // packets that begin in it, in the order of their time stamps. Seconds must be asked for
  // in rising order. Returns false with a message when encoding fails.
  bool packets(int64_t second, std::vector<SourcePacket>* out, std::string* error);

  // PTS of picture `frame` and of audio packet `index`.
  uint64_t picture_pts(int64_t frame) const;
  uint64_t audio_pts(int64_t index) const;

 private:
  bool add_pictures(int channel, int64_t second, std::vector<SourcePacket>* out,
                    std::string* error);
  void add_audio(int channel, int64_t second, std::vector<SourcePacket>* out);

  bool media_;
  int channels_;
  int audio_channels_;
  VideoSettings video_;
  std::vector<SyntheticChannel> cameras_;
  // Per audio channel: the next packet the encoder has not encoded yet, and its state then.
  std::vector<int64_t> next_audio_;
  std::vector<AdpcmState> audio_state_;
};

}  // namespace virazav::sim::diskimg
