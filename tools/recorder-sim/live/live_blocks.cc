// The live stream's blocks as the recorder lays them out, and their cutting into datagrams.

#include "live/live_blocks.h"

#include <algorithm>
#include <cstring>

namespace virazav::sim {

namespace {

constexpr int kChannels = 16;
constexpr int kAudioChannels = 4;
constexpr uint32_t kMaxUnits = 0xFFFF;
constexpr size_t kMaxRecords = 0xFFFF;

}  // namespace

std::vector<uint8_t> build_live_video_block(const LiveVideoHeader& header,
                                            const std::vector<std::vector<uint8_t>>& packets) {
  if (header.type != kLiveVideoSet0 && header.type != kLiveVideoSet1) return {};
  if (header.channel < 0 || header.channel >= kChannels) return {};
  if (packets.size() > kMaxRecords) return {};
  size_t size = kLiveRecordsOffset;
  for (const auto& p : packets) {
    if (p.empty() || p.size() % kLiveRecordUnit != 0 || p.size() / kLiveRecordUnit > kMaxUnits) {
      return {};
    }
    size += kLiveRecordHeader + p.size();
  }
  // L is a 32-bit field; a block that large would never leave as 255 fragments anyway.
  if (size > UINT32_MAX) return {};

  std::vector<uint8_t> block(size, 0);
  uint8_t* b = block.data();
  put_live_le16(b + kLiveWord0Offset, static_cast<uint32_t>(header.channel) << kLiveChannelShift);
  put_live_le32(b + kLiveLengthOffset, static_cast<uint32_t>(size));
  put_live_le32(b + kLiveTimeValueOffset, header.time_value);
  put_live_le16(b + kLiveTimeWordOffset, header.time_word);
  b[kLiveTypeOffset] = static_cast<uint8_t>(header.type);
  put_live_le16(b + kLiveStatusWordOffset, header.status_word);
  b[kLiveStatusByteOffset] = header.status_byte;
  if (header.type == kLiveVideoSet0) {
    std::copy(header.ptz.begin(), header.ptz.end(), b + kLivePtzOffset);
  }
  put_live_le32(b + kLiveFirstFrameOffset, header.first_frame);
  put_live_le16(b + kLiveRecordCountOffset, static_cast<uint32_t>(packets.size()));
  b[kLiveFpsOffset] = static_cast<uint8_t>(std::clamp(header.fps, 0, 255));
  b[kLiveGroupFlagOffset] = header.group ? 1 : 0;

  size_t at = kLiveRecordsOffset;
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto& p = packets[i];
    b[at + kLiveRecordKeyOffset] = i == 0 ? 1 : 0;
    b[at + kLiveRecordChannelOffset] = static_cast<uint8_t>(header.channel);
    put_live_le16(b + at + kLiveRecordUnitsOffset,
                  static_cast<uint32_t>(p.size() / kLiveRecordUnit));
    put_live_le16(b + at + kLiveRecordNumberOffset, static_cast<uint32_t>(i));
    std::memcpy(b + at + kLiveRecordHeader, p.data(), p.size());
    at += kLiveRecordHeader + p.size();
  }
  return block;
}

std::vector<uint8_t> build_live_audio_block(const LiveAudioHeader& header,
                                            const std::vector<LiveAudioPart>& parts) {
  if (header.type != kLiveAudioRing0 && header.type != kLiveAudioRing1) return {};
  if (parts.empty() || parts.size() > static_cast<size_t>(kLiveMaxSubBlocks)) return {};
  size_t size = 0;
  for (const auto& part : parts) {
    if (part.channel < 0 || part.channel >= kAudioChannels || part.packet.empty()) return {};
    size += live_sub_block_step(static_cast<uint32_t>(part.packet.size()));
  }

  std::vector<uint8_t> block(size, 0);
  size_t at = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    uint8_t* h = block.data() + at;
    const auto length = static_cast<uint32_t>(parts[i].packet.size());
    put_live_le16(h + kLiveWord0Offset, static_cast<uint32_t>(parts[i].channel));
    put_live_le32(h + kLiveLengthOffset, length);
    put_live_le32(h + kLiveTimeValueOffset, header.time_value);
    put_live_le16(h + kLiveTimeWordOffset, header.time_word);
    h[kLiveTypeOffset] = static_cast<uint8_t>(header.type);
    h[kLiveStatusByteOffset] = header.flags;
    h[kLiveSequenceOffset] = header.sequence;
    // The count lives in the first sub-block only, which is the block's own header.
    if (i == 0) h[kLiveSubBlockCountOffset] = static_cast<uint8_t>(parts.size());
    std::memcpy(h + kLiveAudioDataOffset, parts[i].packet.data(), length);
    at += live_sub_block_step(length);
  }
  return block;
}

uint32_t live_fragment_stride(size_t size, uint32_t stride) {
  const size_t smallest = (size + kLiveMaxFragments - 1) / kLiveMaxFragments;
  const size_t s = std::max<size_t>({stride, smallest, 1});
  return s > kLiveMaxStride ? 0 : static_cast<uint32_t>(s);
}

std::vector<std::vector<uint8_t>> fragment(const std::vector<uint8_t>& block, uint8_t block_number,
                                           uint8_t stream, uint32_t stride) {
  const uint32_t s = live_fragment_stride(block.size(), stride);
  if (block.empty() || s == 0) return {};
  const size_t count = (block.size() + s - 1) / s;
  std::vector<std::vector<uint8_t>> out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t from = i * s;
    const size_t n = std::min<size_t>(s, block.size() - from);
    std::vector<uint8_t> d(kLiveFragmentHeader + n);
    d[kLiveBlockNumberOffset] = block_number;
    d[kLiveFragmentIndexOffset] = static_cast<uint8_t>(i);
    d[kLiveFragmentCountOffset] = static_cast<uint8_t>(count);
    d[kLiveStreamOffset] = stream;
    put_live_le32(&d[kLiveStrideOffset], s);
    std::memcpy(&d[kLiveFragmentHeader], block.data() + from, n);
    out.push_back(std::move(d));
  }
  return out;
}

}  // namespace virazav::sim
