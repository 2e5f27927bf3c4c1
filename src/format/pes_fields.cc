// Reading a packet's PES header: both time stamps and the start of its payload.
#include "format/pes_fields.h"

#include "format/stream_format.h"

namespace virazav::format {
namespace {

constexpr size_t kFlagsOffset = 7;         // PTS_DTS_flags in bits 7..6
constexpr size_t kHeaderLengthOffset = 8;  // PES_header_data_length
constexpr size_t kFixedHeader = 9;         // bytes before the optional fields
constexpr size_t kPtsOffset = 9;
constexpr size_t kDtsOffset = 14;
constexpr size_t kStampBytes = 5;

// The 33-bit time stamp coding of five PES bytes, bits 0..31 kept as every reader of the
// stream keeps them.
uint32_t stamp_at(const uint8_t* p) {
  const uint64_t v = (static_cast<uint64_t>((p[0] >> 1) & 0x07) << 30) |
                     (static_cast<uint64_t>(p[1]) << 22) |
                     (static_cast<uint64_t>(p[2] >> 1) << 15) | (static_cast<uint64_t>(p[3]) << 7) |
                     (static_cast<uint64_t>(p[4]) >> 1);
  return static_cast<uint32_t>(v);
}

}  // namespace

bool read_pes_fields(const uint8_t* packet, size_t length, PesFields* out) {
  if (packet == nullptr || out == nullptr || length < kFixedHeader) return false;
  if (packet[0] != 0 || packet[1] != 0 || packet[2] != 1 || !is_packet_stream_id(packet[3])) {
    return false;
  }
  const size_t payload = kFixedHeader + packet[kHeaderLengthOffset];
  if (payload > length) return false;
  PesFields f;
  f.channel = packet[3] & 0x0F;
  f.kind = (packet[3] & 0xF0) == kVideoStreamBase ? kKindVideo : kKindAudio;
  const int flags = packet[kFlagsOffset] >> 6;
  f.has_pts = flags >= 2;
  f.has_dts = flags == 3;
  // The stamps lie inside the header; a header_data_length too short for them is broken.
  if (f.has_pts && kPtsOffset + kStampBytes > payload) return false;
  if (f.has_dts && kDtsOffset + kStampBytes > payload) return false;
  if (f.has_pts) f.pts = stamp_at(packet + kPtsOffset);
  f.dts = f.has_dts ? stamp_at(packet + kDtsOffset) : f.pts;
  f.payload_offset = payload;
  *out = f;
  return true;
}

}  // namespace virazav::format
