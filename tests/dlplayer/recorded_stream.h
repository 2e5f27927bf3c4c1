// Recordings of the simulated recorder, downloaded through the library's own
// download (kora_copy_fast, kora_copy_next) over loopback, and what their
// stream files hold packet by packet: the known pictures and sound the
// playback tests compare with (each picture shows its channel number and
// frame counter, sim::read_channel_number and sim::read_frame_counter).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/stream_format.h"
#include "media/media.h"
#include "media/recording.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {

struct StreamPacket {
  int64_t offset = 0;
  uint32_t size = 0;
  int channel = 0;
  bool audio = false;
  bool key = false;   // a video packet with a sequence header and an intra picture
  uint32_t pts = 0;   // the stamp the player reads (DTS of a video packet)
  int64_t frame = 0;  // picture number since the recording's start, or audio packet number
};

struct RecordedStream {
  sim::RecordingOptions options;
  std::string dir;   // holds rec.mpg and .index
  std::string path;  // the stream file
  std::vector<StreamPacket> packets;
  std::vector<format::FrameIndexEntry> index;  // as the download wrote it

  // The picture number of a video stamp.
  int64_t frame_of(uint32_t pts) const;
  // The key frames of `channel` (all channels for -1), in file order.
  std::vector<StreamPacket> key_frames(int channel) const;
  // The packets of an audio channel, in file order.
  std::vector<StreamPacket> audio_packets(int channel) const;
  // The bytes of a packet of the stream file.
  std::vector<uint8_t> packet_bytes(const StreamPacket& p) const;
};

// A recording of small pictures (176 x 144) of the video channels in
// `video` with sound on the audio channels in `audio`, recorded for 20 s.
sim::RecordingOptions small_recording(uint32_t video, uint32_t audio, int fps = 10);

// Downloads the first `seconds` of a recording made with `options` (all its
// channels, with audio) into `dir`/rec.mpg and `dir`/.index, then reads the
// file back. On failure stores a message in *error and returns false.
bool download_recording(const sim::RecordingOptions& options, int seconds, const std::string& dir,
                        RecordedStream* out, std::string* error);

// A bitmap written by Mpeg4DLdata_filelock read back as a picture of the
// recording's size (the 8 rows the writer leaves out are black), so that its
// channel number and frame counter can be read.
bool read_bitmap_picture(const std::string& path, int height, sim::Picture* out);

// A test suite over one recording, downloaded once for all its tests into a
// folder of its own: the suite calls download() from its SetUpTestSuite.
class RecordedSuite : public ::testing::Test {
 protected:
  static void download(const sim::RecordingOptions& options, int seconds);
  static void TearDownTestSuite();
  static const RecordedStream& s() { return *stream_; }
  static const std::string& folder() { return cwd_->path(); }

 private:
  static TempCwd* cwd_;
  static RecordedStream* stream_;
};

}  // namespace virazav::testing
