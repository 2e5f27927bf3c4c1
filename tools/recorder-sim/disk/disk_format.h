// Named offsets and sizes of everything the recorder writes to its disk: the disk label,
// the three record index copies and their tables, chunk indexes, chunks and their packets,
// and the still area. docs/formats/recorder-disk.md is the grammar these constants follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/disk_image.h"

namespace virazav::sim::diskimg {

// ---- Bytes ---------------------------------------------------------------------------------

inline void put_u16le(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_u32le(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put_u24be(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline uint32_t get_u16le(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8);
}
inline uint32_t get_u32le(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The index's checksum: the last byte of a header, control record or entry is the sum
// modulo 256 of all its other bytes.
inline void seal(uint8_t* p, size_t size) {
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < size; ++i) sum = static_cast<uint8_t>(sum + p[i]);
  p[size - 1] = sum;
}

inline uint32_t sectors_for(uint64_t bytes) {
  return static_cast<uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

// ---- The disk label (sector 0 of every copy) ------------------------------------------------

// 128 32-bit values, each stored as two little-endian 16-bit words, the high half first.
inline constexpr uint32_t kLabelMagic = 0x52454344;
inline constexpr uint32_t kLabelVersion = 1;
enum LabelValue : int {
  kLabelMagicValue = 0,
  kLabelVersionValue = 1,
  kLabelFirstTime = 2,  // packed time of the stretch's first second
  kLabelLastTime = 3,   // packed time of its last second
  kLabelChannels = 4,
  kLabelAudioChannels = 5,
  kLabelStillSector = 6,  // still area: first sector and length in sectors
  kLabelStillSectors = 7,
  kLabelVideoSector = 8,  // video area: first sector and length in sectors
  kLabelVideoSectors = 9,
  kLabelDiskSectors = 10,  // sectors of the whole disk (low 32 bits)
  kLabelValueCount = 128,
};

// ---- Index copies ---------------------------------------------------------------------------

inline constexpr int64_t kCopySectors = 244333;
inline constexpr int64_t kCopyFirstSector[kIndexCopyCount] = {0, 244333, 488666};
inline constexpr int64_t kIndexEndSector = 732999;

// Sector offsets within a copy.
inline constexpr int64_t kLabelOffset = 0;
inline constexpr int64_t kHeaderOffset = 1;
inline constexpr int64_t kAttributeControlOffset = 2;
inline constexpr int64_t kAttributeTableOffset = 3;
inline constexpr int64_t kBlockControlOffset = 9;
inline constexpr int64_t kBlockTableOffset = 10;
inline constexpr int64_t kRecordingControlOffset = 23;
inline constexpr int64_t kRecordingTableOffset = 24;
inline constexpr int64_t kAlarmControlOffset = 79;
inline constexpr int64_t kAlarmTableOffset = 80;
inline constexpr int64_t kSegmentTableOffset = 83;
inline constexpr int64_t kSegmentTableSectors = 977;

// Copy header (16 bytes).
inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kHeaderVersion = 0;       // u8: layout version 1
inline constexpr size_t kHeaderWriteCount = 1;    // 24 bits, most significant byte first
inline constexpr size_t kHeaderWriteTime = 4;     // u32: packed time of the write
inline constexpr size_t kHeaderSegmentCount = 8;  // u32: segments the copy holds
inline constexpr size_t kHeaderGeneration = 12;   // u8

// Control records: count, oldest, newest (u16, or u8 in the block and alarm rings).
inline constexpr size_t kWideControlSize = 8;
inline constexpr size_t kAlarmControlSize = 4;
inline constexpr size_t kBlockControlCurrentBlock = 3;    // u8
inline constexpr size_t kBlockControlCurrentSegment = 4;  // u16

// Time attribute entry (28 bytes).
inline constexpr size_t kAttributeEntrySize = 28;
inline constexpr size_t kAttributeValue = 0;  // u16
inline constexpr size_t kAttributeFirstTime = 2;
inline constexpr size_t kAttributeLastTime = 8;
inline constexpr size_t kAttributeFirstSegment = 16;  // u32
inline constexpr size_t kAttributeLastSegment = 20;   // u32
inline constexpr size_t kAttributeFirstBlock = 24;
inline constexpr size_t kAttributeLastBlock = 25;

// Block entry (26 bytes).
inline constexpr size_t kBlockEntrySize = 26;
inline constexpr size_t kBlockSegments = 0;        // u16
inline constexpr size_t kBlockFirstSegment = 2;    // u16
inline constexpr size_t kBlockLastSegment = 4;     // u16
inline constexpr size_t kBlockFirstAttribute = 6;  // u16
inline constexpr size_t kBlockFirstTime = 8;
inline constexpr size_t kBlockLastAttribute = 14;  // u16
inline constexpr size_t kBlockLastTime = 16;

// Recording entry (28 bytes).
inline constexpr size_t kRecordingEntrySize = 28;
inline constexpr size_t kRecordingAttribute = 0;  // u16
inline constexpr size_t kRecordingStart = 2;
inline constexpr size_t kRecordingEnd = 8;
inline constexpr size_t kRecordingStartBlock = 14;
inline constexpr size_t kRecordingEndBlock = 15;
inline constexpr size_t kRecordingStartSegment = 16;  // u32
inline constexpr size_t kRecordingEndSegment = 20;    // u32
inline constexpr size_t kRecordingKind = 24;
inline constexpr size_t kRecordingSkipAgain = 26;

// Alarm entry (28 bytes).
inline constexpr size_t kAlarmEntrySize = 28;
inline constexpr size_t kAlarmChannel = 0;
inline constexpr size_t kAlarmStart = 2;
inline constexpr size_t kAlarmEnd = 8;

// Segment entry (20 bytes).
inline constexpr size_t kSegmentEntrySize = 20;
inline constexpr size_t kSegmentAttribute = 0;  // u16
inline constexpr size_t kSegmentTime = 2;
inline constexpr size_t kSegmentChunkIndex = 8;  // u32 sector
inline constexpr size_t kSegmentChannels = 12;   // u16 mask of the video channels
inline constexpr size_t kSegmentChunkCount = 14;
inline constexpr size_t kSegmentFlags = 17;
inline constexpr size_t kSegmentKind = 18;
inline constexpr uint8_t kFlagVideo = 0x01;
inline constexpr uint8_t kFlagAudio = 0x02;
inline constexpr uint8_t kTooManyChunks = 55;

// ---- Video area ----------------------------------------------------------------------------

// Chunk index: 40 entries of 32 bytes, three sectors.
inline constexpr size_t kChunkEntrySize = 32;
inline constexpr size_t kChunkIndexSize = kChunkEntrySize * kMaxChunksPerSegment;  // 1280
inline constexpr uint32_t kChunkIndexSectors = 3;
inline constexpr size_t kChunkEntryNumber = 0;   // u8: chunk number in its segment
inline constexpr size_t kChunkEntryPackets = 2;  // u8: packets in the chunk
inline constexpr size_t kChunkEntryTime = 6;
inline constexpr size_t kChunkEntrySizeField = 12;  // u32 bytes
inline constexpr size_t kChunkEntrySector = 16;     // u32
inline constexpr size_t kChunkEntryRate = 27;       // u8: pictures a second
inline constexpr uint32_t kOversizeChunk = kMaxChunkSize + 1;

// Chunk header (100 bytes).
inline constexpr size_t kChunkHeaderSize = 100;
inline constexpr size_t kChunkTime = 0;
inline constexpr size_t kChunkChannels = 6;       // u16 video channel mask
inline constexpr size_t kChunkAudioChannels = 8;  // u8 audio channel mask
inline constexpr size_t kChunkNumber = 9;
inline constexpr size_t kChunkSizeField = 10;  // u32
inline constexpr size_t kChunkAttribute = 14;  // u16
inline constexpr size_t kChunkPacketCount = 27;

// Packet header (48 bytes) before each PES packet.
inline constexpr size_t kPacketHeaderSize = 48;
inline constexpr size_t kPacketMarker = 0;  // u16
inline constexpr size_t kPacketChannel = 2;
inline constexpr size_t kPacketKey = 3;
inline constexpr size_t kPacketTime = 4;
inline constexpr size_t kPacketTimeStamp = 12;    // u32
inline constexpr size_t kPacketPayloadSize = 16;  // u32
inline constexpr uint16_t kVideoMarker = 0xFBFF;
inline constexpr uint16_t kAudioMarker = 0xFCFF;
inline constexpr uint16_t kEndMarker = 0xFFFF;
inline constexpr uint16_t kUnknownMarker = 0x1234;

// ---- Still area ----------------------------------------------------------------------------

// The still area follows the index at the next whole MiB; the video area follows the
// still area at the next whole MiB.
inline constexpr uint32_t kAreaAlignSectors = 2048;
inline constexpr uint32_t kStillAreaSector = 733184;
inline constexpr uint32_t kStillAreaTailSectors = 2048;  // empty sectors after the last still

// Fields of a still in the JPEG's own byte order (an APP15 segment right after SOI).
inline constexpr size_t kStillSegmentMarker = 2;  // FF EF
inline constexpr size_t kStillSegmentLength = 4;  // u16 big-endian: 42
inline constexpr size_t kStillVersion = 6;
inline constexpr size_t kStillClass = 7;    // high 4 bits: class; low 4 bits: channel
inline constexpr size_t kStillSerial = 24;  // u16 little-endian
inline constexpr size_t kStillChannel = 26;
inline constexpr size_t kStillTime = 34;
inline constexpr size_t kStillFrame = 40;      // low 4 bits
inline constexpr size_t kStillSize = 41;       // 24 bits, most significant byte first
inline constexpr size_t kStillHeaderEnd = 46;  // first byte after the segment
inline constexpr uint16_t kStillSegmentBytes = 42;

// ---- Packet sources -------------------------------------------------------------------------

// One PES packet of a recorded second, in the order the chunk stores it.
struct SourcePacket {
  bool audio = false;
  int channel = 0;
  bool key = false;
  int64_t index = 0;        // picture number or audio packet number
  uint64_t ticks = 0;       // its DTS (pictures) or PTS (audio), 90 kHz, in full
  uint32_t time_stamp = 0;  // the low 32 bits of ticks, as a player reads them
  std::vector<uint8_t> pes;
};

}  // namespace virazav::sim::diskimg
