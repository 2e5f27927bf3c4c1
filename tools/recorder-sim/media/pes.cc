// The recorder's packets: MPEG-2 PES packets whose header region carries two private
// 22-bit fields (prev_size, packet_size) and, in audio packets, the ADPCM decoder states.
// Every packet is a whole number of 32-byte units; the header's stuffing absorbs the rest.

#include <algorithm>
#include <cstring>

#include "media/media.h"

namespace virazav::sim {

namespace {

constexpr size_t kStartCodeSize = 4;
constexpr size_t kLengthOffset = 4;  // PES_packet_length, 16-bit big-endian
constexpr size_t kFlags1Offset = 6;
constexpr size_t kFlags2Offset = 7;  // PTS_DTS_flags in bits 7..6
constexpr size_t kHeaderLengthOffset = 8;
constexpr size_t kFixedHeader = 9;  // bytes before the optional fields
constexpr size_t kPtsOffset = 9;
constexpr size_t kDtsOffset = 14;
constexpr size_t kTimeStampSize = 5;
constexpr size_t kMaxHeader = kFixedHeader + 255;
// The private fields end at byte 27; a header must reach past them.
constexpr size_t kMinHeaderWithFields = kPacketSizeOffset + 3;

// '10' marker, data_alignment_indicator set: each packet starts a picture or audio frame.
constexpr uint8_t kFlags1 = 0x84;
constexpr uint8_t kPtsOnly = 0x80;
constexpr uint8_t kPtsAndDts = 0xC0;
constexpr uint8_t kPrefixPtsOnly = 0x2;
constexpr uint8_t kPrefixPtsBeforeDts = 0x3;
constexpr uint8_t kPrefixDts = 0x1;
constexpr uint8_t kStuffing = 0xFF;

void put_time_stamp(uint8_t* p, uint8_t prefix, uint64_t v) {
  p[0] = static_cast<uint8_t>((prefix << 4) | (((v >> 30) & 0x07) << 1) | 1);
  p[1] = static_cast<uint8_t>((v >> 22) & 0xFF);
  p[2] = static_cast<uint8_t>((((v >> 15) & 0x7F) << 1) | 1);
  p[3] = static_cast<uint8_t>((v >> 7) & 0xFF);
  p[4] = static_cast<uint8_t>(((v & 0x7F) << 1) | 1);
}

uint64_t get_time_stamp(const uint8_t* p) {
  return (static_cast<uint64_t>((p[0] >> 1) & 0x07) << 30) | (static_cast<uint64_t>(p[1]) << 22) |
         (static_cast<uint64_t>(p[2] >> 1) << 15) | (static_cast<uint64_t>(p[3]) << 7) |
         static_cast<uint64_t>(p[4] >> 1);
}

bool is_media_stream(uint8_t id) {
  return (id & 0xF0) == kVideoStreamBase || (id & 0xF0) == kAudioStreamBase;
}

}  // namespace

void put_field22(uint8_t* p, uint32_t value) {
  value &= kMaxField22;
  p[0] = static_cast<uint8_t>(0x80 | ((value >> 15) & 0x7F));
  p[1] = static_cast<uint8_t>((((value >> 11) & 0x0F) << 4) | 0x08 | ((value >> 8) & 0x07));
  p[2] = static_cast<uint8_t>(value & 0xFF);
}

uint32_t get_field22(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0] & 0x7F) << 15) | (static_cast<uint32_t>(p[1] >> 4) << 11) |
         (static_cast<uint32_t>(p[1] & 0x07) << 8) | p[2];
}

std::vector<uint8_t> make_pes_packet(uint8_t stream_id, uint64_t pts, std::optional<uint64_t> dts,
                                     const uint8_t* payload, size_t size, size_t min_header) {
  size_t header = kFixedHeader + kTimeStampSize + (dts ? kTimeStampSize : 0);
  header = std::max({header, min_header, kMinHeaderWithFields});
  header += (kPacketUnit - (header + size) % kPacketUnit) % kPacketUnit;
  const size_t total = header + size;
  if (header > kMaxHeader || total > kMaxField22) return {};

  std::vector<uint8_t> p(total, kStuffing);
  p[0] = 0x00;
  p[1] = 0x00;
  p[2] = 0x01;
  p[3] = stream_id;
  // A packet longer than the 16-bit length field says 0: its packet_size still tells.
  const size_t pes_length = total - (kStartCodeSize + 2);
  const uint16_t length_field = pes_length <= 0xFFFF ? static_cast<uint16_t>(pes_length) : 0;
  p[kLengthOffset] = static_cast<uint8_t>(length_field >> 8);
  p[kLengthOffset + 1] = static_cast<uint8_t>(length_field & 0xFF);
  p[kFlags1Offset] = kFlags1;
  p[kFlags2Offset] = dts ? kPtsAndDts : kPtsOnly;
  p[kHeaderLengthOffset] = static_cast<uint8_t>(header - kFixedHeader);
  put_time_stamp(&p[kPtsOffset], dts ? kPrefixPtsBeforeDts : kPrefixPtsOnly, pts);
  if (dts) put_time_stamp(&p[kDtsOffset], kPrefixDts, *dts);
  put_field22(&p[kPrevSizeOffset], 0);
  put_field22(&p[kPacketSizeOffset], static_cast<uint32_t>(total));
  if (size > 0) std::memcpy(&p[header], payload, size);
  return p;
}

std::vector<uint8_t> make_video_packet(int channel, uint64_t pts, uint64_t dts,
                                       const EncodedPicture& picture) {
  return make_pes_packet(static_cast<uint8_t>(kVideoStreamBase + (channel & 0x0F)), pts, dts,
                         picture.data.data(), picture.data.size(), kVideoHeaderSize);
}

std::vector<uint8_t> make_audio_packet(int channel, uint64_t pts, const AdpcmState& state,
                                       const uint8_t* adpcm) {
  std::vector<uint8_t> p =
      make_pes_packet(static_cast<uint8_t>(kAudioStreamBase + (channel & 0x0F)), pts, std::nullopt,
                      adpcm, kAdpcmBytes, kAudioHeaderSize);
  // Both states: a stereo decoder would take A for one side and B for the other; this
  // recorder is mono and writes its one state twice.
  for (size_t at : {kAdpcmStateAOffset, kAdpcmStateBOffset}) {
    const auto pred = static_cast<uint16_t>(state.predictor);
    p[at] = static_cast<uint8_t>(pred & 0xFF);
    p[at + 1] = static_cast<uint8_t>(pred >> 8);
    p[at + 2] = state.index;
  }
  return p;
}

std::optional<uint32_t> packet_time_stamp(const uint8_t* packet, size_t size) {
  if (size < kFixedHeader || packet[0] != 0 || packet[1] != 0 || packet[2] != 1 ||
      !is_media_stream(packet[3])) {
    return std::nullopt;
  }
  const uint8_t flags = packet[kFlags2Offset] >> 6;
  if (flags == 3 && size >= kDtsOffset + kTimeStampSize) {
    return static_cast<uint32_t>(get_time_stamp(packet + kDtsOffset));
  }
  if (flags >= 2 && size >= kPtsOffset + kTimeStampSize) {
    return static_cast<uint32_t>(get_time_stamp(packet + kPtsOffset));
  }
  return std::nullopt;
}

}  // namespace virazav::sim
