// The packet walk of the player: markers, payload lengths and PES headers are
// checked before anything is read, so a damaged block ends its walk instead of
// leading a read outside it.
#include "player/own/block_walk.h"

#include "format/bytes.h"
#include "format/stream_format.h"
#include "recdisk/record_layout.h"

namespace virazav::player::own {
namespace {

using recdisk::kPacketHeaderSize;

constexpr size_t kPacketKeyFlag = 3;  // u8: 1 for a key picture

bool zeros_to_end(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

}  // namespace

WalkStep BlockWalk::next(BlockPacket* out) {
  if (done_ || data_ == nullptr || offset_ >= length_) return WalkStep::kEnd;
  const uint8_t* at = data_ + offset_;
  const size_t left = length_ - offset_;
  // A file read into a larger buffer leaves zeros behind its last packet.
  if (zeros_to_end(at, left)) {
    done_ = true;
    return WalkStep::kEnd;
  }
  done_ = true;  // until the packet is known to be whole
  // The end marker closes the run however few bytes follow it.
  if (left >= 2 && format::load_le16(at + recdisk::kPacketMarker) == recdisk::kPacketMarkerEnd) {
    return WalkStep::kEnd;
  }
  if (left < kPacketHeaderSize) return WalkStep::kDamaged;
  const uint16_t marker = format::load_le16(at + recdisk::kPacketMarker);
  if (marker != recdisk::kPacketMarkerVideo && marker != recdisk::kPacketMarkerAudio) {
    return WalkStep::kDamaged;
  }
  const uint64_t payload = format::load_le32(at + recdisk::kPacketPayloadLength);
  if (payload > left - kPacketHeaderSize) return WalkStep::kDamaged;
  const uint8_t* pes = at + kPacketHeaderSize;
  const size_t n = static_cast<size_t>(payload);
  // The payload must begin with the PES start code of its own kind.
  format::PacketHeader h;
  if (format::parse_packet_header(pes, n, format::kBackward, &h) != format::kPacketFound) {
    return WalkStep::kDamaged;
  }
  const bool audio = marker == recdisk::kPacketMarkerAudio;
  if (audio != (h.kind == format::kKindAudio)) return WalkStep::kDamaged;
  out->pes = pes;
  out->length = n;
  out->audio = audio;
  out->channel = h.channel;
  out->key = !audio && at[kPacketKeyFlag] == 1;
  out->has_stamp = format::packet_time_stamp(pes, n, &out->stamp);
  if (!out->has_stamp) out->stamp = 0;
  offset_ += kPacketHeaderSize + n;
  done_ = false;
  return WalkStep::kPacket;
}

}  // namespace virazav::player::own
