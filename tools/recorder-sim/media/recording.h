// The simulated recorder's recordings: which channels it recorded over which seconds, the
// packets of every second of every channel (encoded once, then kept), and the video and
// audio blocks in which the recorder sends them to a client that downloads a stretch of
// time. The block layout and the download request are described in
// docs/formats/download-blocks.md.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/media.h"

namespace virazav::sim {

// A wall-clock time of the recorder (local time).
struct CivilTime {
  int year = 2024;
  int month = 5;
  int day = 1;
  int hour = 10;
  int minute = 0;
  int second = 0;
};

// What the recorder has recorded.
struct RecordingOptions {
  uint32_t video_channels = 0x0003;  // bit n: channel n was recorded
  uint32_t audio_channels = 0x0003;  // bit n (0..3): audio channel n was recorded
  CivilTime start;                   // the first recorded second
  int seconds = 60;                  // length of the recording
  VideoSettings video;               // fps 1..60: one block of `fps` pictures a second
  uint32_t first_pts = 90000;        // PTS of the first picture of the recording
};

// Layout of the blocks after "JpegSendStart".
inline constexpr size_t kVideoBlockHeader = 100;
inline constexpr size_t kVideoBlockChannelOffset = 10;  // bits 4..7
inline constexpr size_t kVideoBlockCountOffset = 27;
inline constexpr size_t kRecordHeader = 6;
inline constexpr size_t kRecordUnitsOffset = 2;  // 16-bit LE length in 32-byte units
inline constexpr size_t kAudioBlockHeader = 6;
inline constexpr size_t kAudioBlockChannelOffset = 0;  // bits 4..7
inline constexpr int kMaxRecordsPerBlock = 255;

// The twelve decimal fields of "SendDataF" as this recorder reads them.
struct DownloadRequest {
  uint32_t channels = 0;  // field 1: bit n selects video channel n; 0 selects all recorded
  CivilTime start;        // fields 2..7: year (00..99 for 2000..2099, or 1970..2099),
                          //   month, day, hour, minute, second
  int seconds = 0;        // field 8: length of the stretch, 1.. seconds
  bool audio = false;     // field 9: 1 with the audio of the selected channels 0..3, 0 without
                          // fields 10..12: not used
};

// Parses the twelve fields. Returns false for values out of range (bad date, length below
// 1, a mask beyond 16 bits, field 9 neither 0 nor 1).
bool parse_download_request(const std::vector<int64_t>& fields, DownloadRequest* out);

// One step of a download: the two blocks sent after "JpegSendStart"; an empty block is
// announced with size 0 and not sent.
struct DownloadStep {
  std::vector<uint8_t> video;
  std::vector<uint8_t> audio;
};

// Returns the value of the recorder's time as the seconds a client's mktime gives for it
// (local time, daylight-saving flag 0): the start time the SendDataF reply announces.
int64_t recorder_seconds(const CivilTime& t);

class Recording {
 public:
  explicit Recording(RecordingOptions options);

  const RecordingOptions& options() const { return options_; }

  // Returns the known source picture of a channel's picture `frame` (counted from the
  // start of the recording).
  Picture source_picture(int channel, int64_t frame) const;
  // PTS and DTS of picture `frame`; the DTS lies one picture earlier (the pictures are
  // decoded one picture ahead of their display).
  uint64_t picture_pts(int64_t frame) const;
  uint64_t picture_dts(int64_t frame) const;
  // PTS of audio packet `index` (each 4096 samples long).
  uint64_t audio_pts(int64_t index) const;

  // Returns the video packets of second `second` of a recorded channel (one group: key
  // picture first), encoding them on first use; empty when the channel or second was not
  // recorded or encoding failed.
  std::vector<std::vector<uint8_t>> video_packets(int channel, int second);
  // Returns audio packet `index` of a recorded audio channel (2112 bytes), or empty.
  std::vector<uint8_t> audio_packet(int channel, int64_t index);

  // The recorder's blocks: a video block of one second of a channel, and an audio block of
  // one audio packet.
  std::vector<uint8_t> video_block(int channel, int second);
  std::vector<uint8_t> audio_block(int channel, int64_t index);

  // Plans the steps of a download: the requested stretch cut to the recording, every
  // selected channel's blocks in time order, a video block paired with the audio block
  // that follows it in time (steps without video carry audio alone). Empty when nothing
  // of the stretch was recorded. Stores the start time announced for the download (the
  // first second sent, or the requested start when nothing is) in *start_seconds.
  std::vector<DownloadStep> plan_download(const DownloadRequest& request, int64_t* start_seconds);

 private:
  bool recorded(int channel) const;
  bool audio_recorded(int channel) const;

  RecordingOptions options_;
  std::mutex mu_;  // guards the caches
  std::map<std::pair<int, int>, std::vector<std::vector<uint8_t>>> video_cache_;
  // Per audio channel: packets encoded so far, in order, and the state after the last.
  std::array<std::vector<std::vector<uint8_t>>, kAudioChannelCount> audio_cache_;
  std::array<AdpcmState, kAudioChannelCount> audio_state_{};
};

}  // namespace virazav::sim
