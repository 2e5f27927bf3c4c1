// The recorder's recordings and the blocks it downloads them in: one video block per second
// of a channel (its group of pictures, key picture first), one audio block per audio packet,
// sent in time order.

#include "media/recording.h"

#include <algorithm>
#include <ctime>

namespace virazav::sim {

namespace {

constexpr int kMaxFps = 60;
constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2099;
constexpr int kTwoDigitYearBase = 2000;
constexpr uint32_t kAllChannels = 0xFFFF;
constexpr uint8_t kKeyRecord = 1;
constexpr uint8_t kAudioKind = 1;

void put_le16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

void put_le32(uint8_t* p, uint32_t v) {
  put_le16(p, v & 0xFFFF);
  put_le16(p + 2, v >> 16);
}

bool leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int days_in_month(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

bool valid_time(const CivilTime& t) {
  return t.year >= kFirstYear && t.year <= kLastYear && t.month >= 1 && t.month <= 12 &&
         t.day >= 1 && t.day <= days_in_month(t.year, t.month) && t.hour >= 0 && t.hour <= 23 &&
         t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

void write_time(uint8_t* p, int64_t seconds) {
  std::time_t tt = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (localtime_r(&tt, &tm) == nullptr) return;
  p[0] = static_cast<uint8_t>(tm.tm_year % 100);
  p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[2] = static_cast<uint8_t>(tm.tm_mday);
  p[3] = static_cast<uint8_t>(tm.tm_hour);
  p[4] = static_cast<uint8_t>(tm.tm_min);
  p[5] = static_cast<uint8_t>(tm.tm_sec);
}

// One thing to send in a download, ordered by time; at equal times video goes first.
struct Event {
  uint64_t time;
  bool video;
  int channel;
  int64_t index;  // second of a video block, packet number of an audio block
  bool operator<(const Event& o) const {
    if (time != o.time) return time < o.time;
    if (video != o.video) return video;
    return channel < o.channel;
  }
};

}  // namespace

bool parse_download_request(const std::vector<int64_t>& f, DownloadRequest* out) {
  if (f.size() != 12) return false;
  DownloadRequest r;
  if (f[0] < 0 || f[0] > kAllChannels) return false;
  r.channels = static_cast<uint32_t>(f[0]);
  int64_t year = f[1];
  if (year >= 0 && year <= 99) year += kTwoDigitYearBase;
  for (int i = 1; i <= 6; ++i) {
    if (f[i] < 0 || f[i] > kLastYear) return false;
  }
  r.start = {static_cast<int>(year), static_cast<int>(f[2]), static_cast<int>(f[3]),
             static_cast<int>(f[4]), static_cast<int>(f[5]), static_cast<int>(f[6])};
  if (!valid_time(r.start)) return false;
  if (f[7] < 1 || f[7] > INT32_MAX) return false;
  r.seconds = static_cast<int>(f[7]);
  if (f[8] != 0 && f[8] != 1) return false;
  r.audio = f[8] == 1;
  *out = r;
  return true;
}

int64_t recorder_seconds(const CivilTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = 0;
  return static_cast<int64_t>(std::mktime(&tm));
}

Recording::Recording(RecordingOptions options) : options_(std::move(options)) {
  options_.video.fps = std::clamp(options_.video.fps, 1, kMaxFps);
  options_.video.width &= ~1;
  options_.video.height &= ~1;
  options_.video_channels &= kAllChannels;
  options_.audio_channels &= (1u << kAudioChannelCount) - 1;
  options_.seconds = std::max(options_.seconds, 0);
}

bool Recording::recorded(int channel) const {
  return channel >= 0 && channel < kChannelCount && ((options_.video_channels >> channel) & 1);
}

bool Recording::audio_recorded(int channel) const {
  return channel >= 0 && channel < kAudioChannelCount && ((options_.audio_channels >> channel) & 1);
}

Picture Recording::source_picture(int channel, int64_t frame) const {
  return SyntheticChannel(channel, options_.video.width, options_.video.height)
      .source_picture(frame);
}

uint64_t Recording::picture_pts(int64_t frame) const {
  return options_.first_pts + static_cast<uint64_t>(frame * kPtsRate / options_.video.fps);
}

uint64_t Recording::picture_dts(int64_t frame) const {
  return picture_pts(frame) - static_cast<uint64_t>(kPtsRate / options_.video.fps);
}

uint64_t Recording::audio_pts(int64_t index) const {
  return options_.first_pts + static_cast<uint64_t>(index * kAudioPacketTicks);
}

std::vector<std::vector<uint8_t>> Recording::video_packets(int channel, int second) {
  if (!recorded(channel) || second < 0 || second >= options_.seconds) return {};
  std::lock_guard<std::mutex> lock(mu_);
  auto key = std::make_pair(channel, second);
  auto it = video_cache_.find(key);
  if (it != video_cache_.end()) return it->second;

  const int fps = options_.video.fps;
  const int64_t first = static_cast<int64_t>(second) * fps;
  SyntheticChannel source(channel, options_.video.width, options_.video.height);
  std::vector<EncodedPicture> pictures;
  if (!encode_video_packets(source, first, fps, options_.video, &pictures, nullptr)) return {};
  std::vector<std::vector<uint8_t>> packets;
  for (const auto& p : pictures) {
    packets.push_back(make_video_packet(channel, picture_pts(p.frame), picture_dts(p.frame), p));
    if (packets.back().empty()) return {};
  }
  video_cache_[key] = packets;
  return packets;
}

std::vector<uint8_t> Recording::audio_packet(int channel, int64_t index) {
  const int64_t total = static_cast<int64_t>(options_.seconds) * kAudioRate / kAudioPacketSamples;
  if (!audio_recorded(channel) || index < 0 || index >= total) return {};
  std::lock_guard<std::mutex> lock(mu_);
  auto& cache = audio_cache_[static_cast<size_t>(channel)];
  // Each packet carries the decoder state its first sample needs, so the tone is encoded
  // in order from the start of the recording.
  while (static_cast<int64_t>(cache.size()) <= index) {
    const int64_t n = static_cast<int64_t>(cache.size());
    std::vector<int16_t> pcm = tone_samples(channel, n * kAudioPacketSamples, kAudioPacketSamples);
    AdpcmState& state = audio_state_[static_cast<size_t>(channel)];
    if (n == 0) state = AdpcmState{pcm[0], 0};
    const AdpcmState at_start = state;
    uint8_t adpcm[kAdpcmBytes];
    encode_adpcm(pcm.data(), pcm.size(), &state, adpcm);
    cache.push_back(make_audio_packet(channel, audio_pts(n), at_start, adpcm));
  }
  return cache[static_cast<size_t>(index)];
}

std::vector<uint8_t> Recording::video_block(int channel, int second) {
  std::vector<std::vector<uint8_t>> packets = video_packets(channel, second);
  if (packets.empty() || packets.size() > kMaxRecordsPerBlock) return {};
  std::vector<uint8_t> block(kVideoBlockHeader, 0);
  const int64_t first_frame = static_cast<int64_t>(second) * options_.video.fps;
  write_time(&block[4], recorder_seconds(options_.start) + second);
  block[kVideoBlockChannelOffset] = static_cast<uint8_t>(channel << 4);
  block[11] = static_cast<uint8_t>(options_.video.fps);
  put_le32(&block[12], static_cast<uint32_t>(first_frame));
  put_le32(&block[16], static_cast<uint32_t>(picture_pts(first_frame)));
  block[kVideoBlockCountOffset] = static_cast<uint8_t>(packets.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    uint8_t head[kRecordHeader] = {};
    head[0] = i == 0 ? kKeyRecord : 0;
    head[1] = static_cast<uint8_t>(channel);
    put_le16(&head[kRecordUnitsOffset], static_cast<uint32_t>(packets[i].size() / kPacketUnit));
    put_le16(&head[4], static_cast<uint32_t>(i));
    block.insert(block.end(), head, head + kRecordHeader);
    block.insert(block.end(), packets[i].begin(), packets[i].end());
  }
  put_le32(&block[0], static_cast<uint32_t>(block.size()));
  return block;
}

std::vector<uint8_t> Recording::audio_block(int channel, int64_t index) {
  std::vector<uint8_t> packet = audio_packet(channel, index);
  if (packet.empty()) return {};
  std::vector<uint8_t> block(kAudioBlockHeader, 0);
  block[kAudioBlockChannelOffset] = static_cast<uint8_t>(channel << 4);
  block[1] = kAudioKind;
  put_le16(&block[kRecordUnitsOffset], static_cast<uint32_t>(packet.size() / kPacketUnit));
  put_le16(&block[4], static_cast<uint32_t>(index & 0xFFFF));
  block.insert(block.end(), packet.begin(), packet.end());
  return block;
}

std::vector<DownloadStep> Recording::plan_download(const DownloadRequest& request,
                                                   int64_t* start_seconds) {
  const int64_t rec_start = recorder_seconds(options_.start);
  const int64_t want_start = recorder_seconds(request.start);
  int64_t first = std::max<int64_t>(want_start - rec_start, 0);
  int64_t end = std::min<int64_t>(want_start - rec_start + request.seconds, options_.seconds);
  *start_seconds = want_start;
  uint32_t channels =
      request.channels == 0 ? options_.video_channels : request.channels & options_.video_channels;
  if (first >= end || channels == 0) return {};
  *start_seconds = rec_start + first;

  std::vector<Event> events;
  for (int c = 0; c < kChannelCount; ++c) {
    if (((channels >> c) & 1) == 0) continue;
    for (int64_t s = first; s < end; ++s) {
      const int64_t frame = s * options_.video.fps;
      events.push_back({picture_pts(frame), true, c, s});
    }
    if (!request.audio || !audio_recorded(c)) continue;
    // Audio packets that begin inside the stretch.
    const int64_t from = (first * kAudioRate + kAudioPacketSamples - 1) / kAudioPacketSamples;
    const int64_t to = (end * kAudioRate + kAudioPacketSamples - 1) / kAudioPacketSamples;
    for (int64_t j = from; j < to; ++j) events.push_back({audio_pts(j), false, c, j});
  }
  std::sort(events.begin(), events.end());

  std::vector<DownloadStep> steps;
  for (size_t i = 0; i < events.size(); ++i) {
    DownloadStep step;
    const Event& e = events[i];
    if (e.video) {
      step.video = video_block(e.channel, static_cast<int>(e.index));
      if (i + 1 < events.size() && !events[i + 1].video) {
        ++i;
        step.audio = audio_block(events[i].channel, events[i].index);
      }
    } else {
      step.audio = audio_block(e.channel, e.index);
    }
    if (step.video.empty() && step.audio.empty()) continue;
    steps.push_back(std::move(step));
  }
  return steps;
}

}  // namespace virazav::sim
