// Reading and writing the stream file's layout: the 22-bit private fields, the
// packet header search (in memory and in a file), time stamps, the pack header
// and stream map, and the 12-byte frame index entry.
#include "format/stream_format.h"

#include <cstring>

#include "format/bytes.h"

namespace virazav::format {
namespace {

// Pack header fields (MPEG-2 program stream).
constexpr size_t kScrOffset = 4;        // six bytes of SCR base and extension
constexpr size_t kMuxRateOffset = 10;   // 22 bits and two markers
constexpr size_t kStuffingOffset = 13;  // reserved bits and pack_stuffing_length
constexpr uint8_t kPackStuffingByte = 0xFA;

// Program stream map fields.
constexpr uint16_t kStreamMapLength = 270;
constexpr uint8_t kStreamMapVersion = 0xE2;  // current_next_indicator 1, version 2
constexpr uint16_t kProgramInfoLength = 8;
constexpr uint16_t kElementaryMapLength = 256;
constexpr size_t kStreamMapEntries = 32;
constexpr size_t kStreamMapEntrySize = 8;
constexpr size_t kStreamMapFirstEntry = 20;
constexpr uint8_t kStreamTypeVideo = 0x84;
constexpr uint8_t kStreamTypeAudio = 0x91;
constexpr uint8_t kStreamTypeAbsent = 0xFF;

// PES header fields used for the time stamp.
constexpr size_t kPesFlagsOffset = 7;  // PTS_DTS_flags in bits 7..6
constexpr size_t kPtsOffset = 9;
constexpr size_t kDtsOffset = 14;
constexpr size_t kTimeStampBytes = 5;

// How much of a file the forward search reads at a time.
constexpr size_t kSearchChunk = 4096;

// Reads the 33-bit time stamp coding of five PES bytes, keeping bits 0..31.
uint32_t read_time_stamp(const uint8_t* p) {
  uint64_t v = (static_cast<uint64_t>((p[0] >> 1) & 0x07) << 30) |
               (static_cast<uint64_t>(p[1]) << 22) | (static_cast<uint64_t>(p[2] >> 1) << 15) |
               (static_cast<uint64_t>(p[3]) << 7) | (static_cast<uint64_t>(p[4]) >> 1);
  return static_cast<uint32_t>(v);
}

// Index of the first packet start code in data[0..length) whose start code
// ends within `limit` bytes, or -1.
int64_t find_packet_start(const uint8_t* data, size_t length, size_t limit) {
  uint32_t reg = 0xFFFFFFFF;
  size_t end = length < limit ? length : limit;
  for (size_t i = 0; i < end; ++i) {
    reg = (reg << 8) | data[i];
    if ((reg & 0xFFFFFF00u) == 0x00000100u && is_packet_stream_id(static_cast<uint8_t>(reg))) {
      return static_cast<int64_t>(i) - 3;
    }
  }
  return -1;
}

void read_fields(const uint8_t* start, PacketHeader* out) {
  uint8_t id = start[3];
  out->channel = id & 0x0F;
  out->kind = (id & 0xF0) == kVideoStreamBase ? kKindVideo : kKindAudio;
  out->prev_size = decode_field22(start + kPrevSizeOffset);
  out->packet_size = decode_field22(start + kPacketSizeOffset);
}

}  // namespace

void encode_field22(uint32_t value, uint8_t out[3]) {
  out[0] = static_cast<uint8_t>(0x80 | ((value >> 15) & 0x7F));
  out[1] = static_cast<uint8_t>((((value >> 11) & 0x0F) << 4) | 0x08 | ((value >> 8) & 0x07));
  out[2] = static_cast<uint8_t>(value & 0xFF);
}

uint32_t decode_field22(const uint8_t in[3]) {
  return (static_cast<uint32_t>(in[0] & 0x7F) << 15) | (static_cast<uint32_t>(in[1] >> 4) << 11) |
         (static_cast<uint32_t>(in[1] & 0x07) << 8) | in[2];
}

bool is_packet_stream_id(uint8_t id) {
  uint8_t family = id & 0xF0;
  return family == kVideoStreamBase || family == kAudioStreamBase;
}

int parse_packet_header(const uint8_t* data, size_t length, int direction, PacketHeader* out) {
  if (data == nullptr || out == nullptr) return kPacketNone;
  int64_t start;
  if (direction == kForward) {
    start = find_packet_start(data, length, kStartSearchLimit);
    if (start < 0) return kPacketNone;
  } else {
    if (length < 4) return kPacketNone;
    start = find_packet_start(data, 4, 4);
    if (start != 0) return kPacketNotHere;
  }
  // The two private fields must lie inside the buffer; a packet cut off
  // before them counts as no packet.
  if (static_cast<size_t>(start) + kPacketHeaderBytes > length) return kPacketNone;
  read_fields(data + start, out);
  out->offset = start;
  return kPacketFound;
}

int parse_packet_header(platform::File& file, int direction, PacketHeader* out) {
  if (!file.is_open() || out == nullptr) return kPacketNone;
  int64_t origin = file.tell();
  if (origin < 0) return kPacketNone;
  uint8_t buf[kSearchChunk];
  if (direction != kForward) {
    long n = file.read(buf, kPacketHeaderBytes);
    if (n < 4) return kPacketNone;
    if (find_packet_start(buf, 4, 4) != 0) {
      file.seek(origin, platform::SeekFrom::kBegin);
      return kPacketNotHere;
    }
    if (static_cast<size_t>(n) < kPacketHeaderBytes) return kPacketNone;
    read_fields(buf, out);
    out->offset = origin;
    return file.seek(origin, platform::SeekFrom::kBegin) == 0 ? kPacketFound : kPacketNone;
  }
  // Forward: read chunk after chunk, keeping the last three bytes of each so
  // that a start code split between two chunks is still seen.
  size_t scanned = 0;  // bytes of the file searched so far
  size_t keep = 0;     // bytes carried over at the front of buf
  while (scanned < kStartSearchLimit) {
    size_t want = sizeof buf - keep;
    if (want > kStartSearchLimit - scanned) want = kStartSearchLimit - scanned;
    long n = file.read(buf + keep, want);
    if (n <= 0) return kPacketNone;
    size_t have = keep + static_cast<size_t>(n);
    int64_t at = find_packet_start(buf, have, have);
    if (at >= 0) {
      int64_t start = origin + static_cast<int64_t>(scanned) - static_cast<int64_t>(keep) + at;
      uint8_t head[kPacketHeaderBytes];
      if (file.seek(start, platform::SeekFrom::kBegin) != 0) return kPacketNone;
      if (file.read(head, sizeof head) != static_cast<long>(sizeof head)) {
        return kPacketNone;  // the file ends inside the packet header
      }
      read_fields(head, out);
      out->offset = start;
      return file.seek(start, platform::SeekFrom::kBegin) == 0 ? kPacketFound : kPacketNone;
    }
    scanned += static_cast<size_t>(n);
    keep = have < 3 ? have : 3;
    std::memmove(buf, buf + have - keep, keep);
  }
  return kPacketNone;
}

bool packet_time_stamp(const uint8_t* data, size_t length, uint32_t* pts) {
  if (data == nullptr) return false;
  int64_t start = find_packet_start(data, length, length);
  if (start < 0) return false;
  const uint8_t* p = data + start;
  size_t avail = length - static_cast<size_t>(start);
  if (avail <= kPesFlagsOffset) return false;
  int flags = p[kPesFlagsOffset] >> 6;
  size_t at;
  if (flags == 3) {
    at = kDtsOffset;
  } else if (flags == 2) {
    at = kPtsOffset;
  } else {
    return false;
  }
  if (at + kTimeStampBytes > avail) return false;
  if (pts) *pts = read_time_stamp(p + at);
  return true;
}

uint32_t packet_pts(const uint8_t* data, size_t length) {
  uint32_t pts = 0;
  return packet_time_stamp(data, length, &pts) ? pts : 0;
}

uint32_t pack_scr(const uint8_t first16[kPackHeaderSize]) {
  if (first16 == nullptr) return 0;
  if (first16[0] != 0 || first16[1] != 0 || first16[2] != 1 || first16[3] != kPackStartCode)
    return 0;
  const uint8_t* s = first16 + kScrOffset;
  uint64_t v = (static_cast<uint64_t>((s[0] >> 3) & 0x07) << 30) |
               (static_cast<uint64_t>(s[0] & 0x03) << 28) | (static_cast<uint64_t>(s[1]) << 20) |
               (static_cast<uint64_t>(s[2] >> 3) << 15) |
               (static_cast<uint64_t>(s[2] & 0x03) << 13) | (static_cast<uint64_t>(s[3]) << 5) |
               (static_cast<uint64_t>(s[4]) >> 3);
  return static_cast<uint32_t>(v);
}

void write_pack_header(uint32_t scr, uint8_t out[kPackHeaderSize]) {
  out[0] = 0x00;
  out[1] = 0x00;
  out[2] = 0x01;
  out[3] = kPackStartCode;
  uint8_t* s = out + kScrOffset;
  // '01', base bits 32..30 (bit 32 is 0), marker, bits 29..28.
  s[0] = static_cast<uint8_t>(0x40 | (((scr >> 30) & 0x03) << 3) | 0x04 | ((scr >> 28) & 0x03));
  s[1] = static_cast<uint8_t>(scr >> 20);
  s[2] = static_cast<uint8_t>((((scr >> 15) & 0x1F) << 3) | 0x04 | ((scr >> 13) & 0x03));
  s[3] = static_cast<uint8_t>(scr >> 5);
  // Base bits 4..0, marker, extension bits 8..7 (0); extension bits 6..0 (0), marker.
  s[4] = static_cast<uint8_t>(((scr & 0x1F) << 3) | 0x04);
  s[5] = 0x01;
  uint32_t rate = kPackMuxRate;
  out[kMuxRateOffset] = static_cast<uint8_t>(rate >> 14);
  out[kMuxRateOffset + 1] = static_cast<uint8_t>(rate >> 6);
  out[kMuxRateOffset + 2] = static_cast<uint8_t>(((rate & 0x3F) << 2) | 0x03);
  out[kStuffingOffset] = kPackStuffingByte;
  out[14] = 0xFF;
  out[15] = 0xFF;
}

void write_stream_map(uint32_t video_mask, uint32_t audio_mask, uint8_t out[kStreamMapSize]) {
  out[0] = 0x00;
  out[1] = 0x00;
  out[2] = 0x01;
  out[3] = kStreamMapCode;
  store_be16(out + 4, kStreamMapLength);
  out[6] = kStreamMapVersion;
  out[7] = 0xFF;
  store_be16(out + 8, kProgramInfoLength);
  std::memset(out + 10, 0xFF, kProgramInfoLength);
  store_be16(out + 18, kElementaryMapLength);
  for (size_t i = 0; i < kStreamMapEntries; ++i) {
    uint8_t* e = out + kStreamMapFirstEntry + i * kStreamMapEntrySize;
    bool video = i < 16;
    int channel = static_cast<int>(i % 16);
    bool present = ((video ? video_mask : audio_mask) >> channel) & 1;
    e[0] = present ? (video ? kStreamTypeVideo : kStreamTypeAudio) : kStreamTypeAbsent;
    e[1] = static_cast<uint8_t>((video ? kVideoStreamBase : kAudioStreamBase) + channel);
    e[2] = 0x00;
    e[3] = 0x04;  // ES_info_length
    bool described = video && present;
    e[4] = described ? 0x2D : 0xFF;
    e[5] = described ? 0x1E : 0xFF;
    e[6] = 0xFF;
    e[7] = 0xFF;
  }
}

void patch_prev_size(uint8_t* packet, size_t length, int64_t value) {
  if (packet == nullptr || value < 0 || length < 1) return;
  int64_t start = find_packet_start(packet, length, kStartSearchLimit);
  if (start < 0) return;
  if (static_cast<size_t>(start) + kPrevSizeOffset + 3 > length) return;
  encode_field22(static_cast<uint32_t>(value), packet + start + kPrevSizeOffset);
}

void encode_index_entry(const FrameIndexEntry& entry, uint8_t out[kIndexEntrySize]) {
  out[0] = entry.kind;
  out[1] = entry.channel;
  store_le16(out + 2, static_cast<uint16_t>(entry.offset >> 32));
  store_le32(out + 4, static_cast<uint32_t>(entry.offset));
  store_le32(out + 8, entry.pts);
}

FrameIndexEntry decode_index_entry(const uint8_t in[kIndexEntrySize]) {
  FrameIndexEntry e;
  e.kind = in[0];
  e.channel = in[1];
  e.offset = (static_cast<uint64_t>(load_le16(in + 2)) << 32) | load_le32(in + 4);
  e.pts = load_le32(in + 8);
  return e;
}

}  // namespace virazav::format
