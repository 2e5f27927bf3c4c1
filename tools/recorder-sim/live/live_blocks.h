// The live stream's wire layouts: the 8-byte fragment header of a datagram, the video block
// (a header and records of video packets), the audio block (sub-blocks of one audio packet
// each), and the cutting of a block into fragments. Pure functions, no sockets. The layouts
// are described in docs/formats/live-stream.md.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace virazav::sim {

// ---- Datagram ---------------------------------------------------------------------------

inline constexpr size_t kLiveFragmentHeader = 8;
inline constexpr size_t kLiveBlockNumberOffset = 0;    // u8, counts up per port and stream
inline constexpr size_t kLiveFragmentIndexOffset = 1;  // u8, from 0
inline constexpr size_t kLiveFragmentCountOffset = 2;  // u8, 1..255
inline constexpr size_t kLiveStreamOffset = 3;         // u8, 0 video, 1 audio
inline constexpr size_t kLiveStrideOffset = 4;         // u32le
inline constexpr int kLiveMaxFragments = 255;
// The largest payload of a UDP datagram over IPv4 (65,507 bytes) less the fragment header.
inline constexpr uint32_t kLiveMaxStride = 65499;
inline constexpr uint8_t kLiveVideoStream = 0;
inline constexpr uint8_t kLiveAudioStream = 1;

// ---- Block header (video blocks and every audio sub-block) ------------------------------

inline constexpr size_t kLiveWord0Offset = 0;           // u16le: video channel << 12; audio channel
inline constexpr size_t kLiveLengthOffset = 4;          // u32le L
inline constexpr size_t kLiveTimeValueOffset = 8;       // u32le packed recorder time
inline constexpr size_t kLiveTimeWordOffset = 12;       // u16le milliseconds within that second
inline constexpr size_t kLiveTypeOffset = 15;           // u8 block type 0..3
inline constexpr size_t kLiveStatusWordOffset = 16;     // u16le, video only
inline constexpr size_t kLiveStatusByteOffset = 22;     // u8: video status byte; audio flags
inline constexpr size_t kLivePtzOffset = 23;            // 3 × u8, video set 0 only
inline constexpr size_t kLiveSequenceOffset = 23;       // u8, audio only
inline constexpr size_t kLiveSubBlockCountOffset = 24;  // u8, first audio sub-block only
inline constexpr size_t kLiveHeaderSize = 28;
inline constexpr int kLiveChannelShift = 12;

// The further header of a video block (bytes 28..127), which this recorder fills with what
// a test wants to know about the block without walking its records.
inline constexpr size_t kLiveFirstFrameOffset = 28;   // u32le frame number of record 0
inline constexpr size_t kLiveRecordCountOffset = 32;  // u16le number of records
inline constexpr size_t kLiveFpsOffset = 34;          // u8 pictures a second
inline constexpr size_t kLiveGroupFlagOffset = 35;    // u8 1: the display channel's group
inline constexpr size_t kLiveRecordsOffset = 128;

// A video record: a 6-byte header, then one video packet.
inline constexpr size_t kLiveRecordHeader = 6;
inline constexpr size_t kLiveRecordKeyOffset = 0;      // u8 1: key picture
inline constexpr size_t kLiveRecordChannelOffset = 1;  // u8
inline constexpr size_t kLiveRecordUnitsOffset = 2;    // u16le packet length / 32
inline constexpr size_t kLiveRecordNumberOffset = 4;   // u16le record number in the block
inline constexpr size_t kLiveRecordUnit = 32;

// An audio sub-block: the 28-byte header, 44 bytes of zeros, then L bytes of audio data.
inline constexpr size_t kLiveAudioDataOffset = 72;
inline constexpr int kLiveMaxSubBlocks = 4;
inline constexpr uint8_t kLiveNoAudioRing0 = 0x10;
inline constexpr uint8_t kLiveNoAudioRing1 = 0x20;

// Block types, byte 15.
inline constexpr int kLiveVideoSet0 = 0;
inline constexpr int kLiveVideoSet1 = 1;
inline constexpr int kLiveAudioRing0 = 2;
inline constexpr int kLiveAudioRing1 = 3;
inline constexpr int kLiveBlockTypes = 4;

// ---- Builders ---------------------------------------------------------------------------

// The header fields of a video block.
struct LiveVideoHeader {
  int type = kLiveVideoSet0;  // 0 or 1
  int channel = 0;            // 0..15
  uint32_t time_value = 0;
  uint16_t time_word = 0;
  uint16_t status_word = 0;
  uint8_t status_byte = 0;
  std::array<uint8_t, 3> ptz{};  // written in set 0 only; set 1 carries zeros
  uint32_t first_frame = 0;
  int fps = 0;
  bool group = false;
};

// Builds a video block: the header, then one record per packet, the first one marked as the
// key picture. Each packet must be a non-empty multiple of 32 bytes of at most 65,535 units.
// Returns the block, or an empty vector when the type, the channel or a packet is unfit.
std::vector<uint8_t> build_live_video_block(const LiveVideoHeader& header,
                                            const std::vector<std::vector<uint8_t>>& packets);

// The header fields of an audio block; every sub-block carries them.
struct LiveAudioHeader {
  int type = kLiveAudioRing0;  // 2 or 3
  uint32_t time_value = 0;
  uint16_t time_word = 0;
  uint8_t flags = 0;  // byte 22: the no-audio marks
  uint8_t sequence = 0;
};

// One audio channel's packet of an audio block.
struct LiveAudioPart {
  int channel = 0;              // 0..3
  std::vector<uint8_t> packet;  // one whole audio packet (2,112 bytes)
};

// Builds an audio block of one sub-block per part, in the order given. Returns the block, or
// an empty vector when there are no parts or more than four, a channel is out of range, a
// packet is empty, or the type is not 2 or 3.
std::vector<uint8_t> build_live_audio_block(const LiveAudioHeader& header,
                                            const std::vector<LiveAudioPart>& parts);

// Returns the offset of the sub-block after the one whose data length is L: 72 + L + L mod 4.
constexpr size_t live_sub_block_step(uint32_t length) {
  return kLiveAudioDataOffset + length + length % 4;
}

// ---- Fragments --------------------------------------------------------------------------

// Returns the stride a block of `size` bytes is cut with: `stride`, raised to the smallest
// stride that keeps the block within 255 fragments when it would need more (stride 0 asks
// for that smallest one). Returns 0 when the block cannot be cut within 255 fragments of at
// most kLiveMaxStride bytes.
uint32_t live_fragment_stride(size_t size, uint32_t stride);

// Cuts a block into datagrams: fragment i carries block bytes [i × s, min((i + 1) × s, size))
// behind its 8-byte header, s = live_fragment_stride(size, stride). Returns the datagrams in
// fragment order, or an empty vector for an empty block or one that cannot be cut.
std::vector<std::vector<uint8_t>> fragment(const std::vector<uint8_t>& block, uint8_t block_number,
                                           uint8_t stream, uint32_t stride);

// ---- Little-endian fields ---------------------------------------------------------------

inline void put_live_le16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}
inline void put_live_le32(uint8_t* p, uint32_t v) {
  put_live_le16(p, v & 0xFFFF);
  put_live_le16(p + 2, v >> 16);
}
inline uint16_t live_le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t live_le32(const uint8_t* p) {
  return live_le16(p) | (static_cast<uint32_t>(live_le16(p + 2)) << 16);
}

}  // namespace virazav::sim
