// The live stream's media clock stamps, its microphones, and ready-made datagrams for
// benchmarks.

#include "live/live_media.h"

#include <algorithm>

#include "live/live_blocks.h"

namespace virazav::sim {

namespace {

constexpr size_t kMinBenchDatagram = 64;
constexpr int kBenchFps = 10;

}  // namespace

uint64_t live_picture_pts(int64_t frame, int fps) {
  fps = std::max(fps, 1);
  return kLiveFirstPts + static_cast<uint64_t>(frame * kPtsRate / fps);
}

uint64_t live_picture_dts(int64_t frame, int fps) {
  fps = std::max(fps, 1);
  return live_picture_pts(frame, fps) - static_cast<uint64_t>(kPtsRate / fps);
}

uint64_t live_audio_pts(int64_t index) {
  return kLiveFirstPts + static_cast<uint64_t>(index * kAudioPacketTicks);
}

std::vector<uint8_t> LiveAudioSource::next() {
  std::vector<int16_t> pcm =
      tone_samples(channel_, index_ * kAudioPacketSamples, kAudioPacketSamples);
  // The decoder starts on the tone's first sample, as a recording's first packet does.
  if (index_ == 0) state_ = AdpcmState{pcm[0], 0};
  const AdpcmState at_start = state_;
  uint8_t adpcm[kAdpcmBytes];
  encode_adpcm(pcm.data(), pcm.size(), &state_, adpcm);
  std::vector<uint8_t> packet =
      make_audio_packet(channel_, live_audio_pts(index_), at_start, adpcm);
  ++index_;
  return packet;
}

std::vector<uint8_t> live_audio_packet(int channel, int64_t index) {
  if (channel < 0 || channel >= kAudioChannelCount || index < 0) return {};
  LiveAudioSource source(channel);
  std::vector<uint8_t> packet;
  while (source.index() <= index) packet = source.next();
  return packet;
}

std::vector<std::vector<uint8_t>> make_live_datagrams(int count, size_t size,
                                                      int* fragments_per_block, int width,
                                                      int height) {
  if (count <= 0 || size < kMinBenchDatagram || size > kLiveMaxStride + kLiveFragmentHeader) {
    return {};
  }
  const auto stride = static_cast<uint32_t>(size - kLiveFragmentHeader);
  VideoSettings settings;
  settings.width = width & ~1;
  settings.height = height & ~1;
  settings.fps = kBenchFps;

  // One block per channel; every block gets the fragment count of the largest.
  std::vector<std::vector<uint8_t>> blocks;
  size_t largest = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    std::vector<EncodedPicture> pictures;
    SyntheticChannel source(ch, settings.width, settings.height);
    if (!encode_video_packets(source, 0, 1, settings, &pictures, nullptr)) return {};
    LiveVideoHeader h;
    h.channel = ch;
    h.fps = kBenchFps;
    std::vector<uint8_t> packet = make_video_packet(
        ch, live_picture_pts(0, kBenchFps), live_picture_dts(0, kBenchFps), pictures.front());
    blocks.push_back(build_live_video_block(h, {packet}));
    if (blocks.back().empty()) return {};
    largest = std::max(largest, blocks.back().size());
  }
  const size_t per_block = (largest + stride - 1) / stride;
  if (per_block > static_cast<size_t>(kLiveMaxFragments)) return {};
  if (fragments_per_block != nullptr) *fragments_per_block = static_cast<int>(per_block);
  for (auto& b : blocks) b.resize(per_block * stride, 0);

  std::vector<std::vector<uint8_t>> out;
  out.reserve(static_cast<size_t>(count));
  for (uint32_t n = 0; out.size() < static_cast<size_t>(count); ++n) {
    auto parts =
        fragment(blocks[n % blocks.size()], static_cast<uint8_t>(n), kLiveVideoStream, stride);
    for (auto& d : parts) {
      if (out.size() == static_cast<size_t>(count)) break;
      out.push_back(std::move(d));
    }
  }
  return out;
}

}  // namespace virazav::sim
