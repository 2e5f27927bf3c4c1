// The recorder's record index as it lies on the disk: item sizes, the fields of
// every entry at their byte offsets, the 6-byte RecTime stamp, and the checksum
// rule. docs/formats/record-index.md is the grammar these names follow.
#pragma once

#include <cstddef>
#include <cstdint>

namespace virazav::recdisk {

// ---- Shape of the index -------------------------------------------------------
inline constexpr int kCopyCount = 3;
inline constexpr int32_t kCopyStartSectors[kCopyCount] = {0, 244333, 488666};
inline constexpr int32_t kIndexEndSector = 732999;  // the index ends before this sector

inline constexpr int kTimeAttributeSlots = 100;  // N of the time attribute ring
inline constexpr int kBlockSlots = 250;          // N of the block ring; blocks 0..249
inline constexpr int kRecordingSlots = 1000;     // N of the recording list ring
inline constexpr int kAlarmSlots = 50;           // N of the alarm list ring
inline constexpr int32_t kSegmentSlots = 25000;  // segment slots per block: 0..24999
inline constexpr int kMaxChunks = 40;            // chunk entries of one segment

// Item sizes in bytes.
inline constexpr size_t kCopyHeaderSize = 16;
inline constexpr size_t kTimeAttributeControlSize = 8;
inline constexpr size_t kBlockControlSize = 8;
inline constexpr size_t kRecordingControlSize = 8;
inline constexpr size_t kAlarmControlSize = 4;
inline constexpr size_t kTimeAttributeEntrySize = 28;
inline constexpr size_t kBlockEntrySize = 26;
inline constexpr size_t kRecordingEntrySize = 28;
inline constexpr size_t kAlarmEntrySize = 28;
inline constexpr size_t kSegmentEntrySize = 20;
inline constexpr size_t kChunkEntrySize = 32;

inline constexpr size_t kTimeAttributeTableSize =
    kTimeAttributeSlots * kTimeAttributeEntrySize;                                    // 2800
inline constexpr size_t kBlockTableSize = kBlockSlots * kBlockEntrySize;              // 6500
inline constexpr size_t kRecordingTableSize = kRecordingSlots * kRecordingEntrySize;  // 28000
inline constexpr size_t kAlarmTableSize = kAlarmSlots * kAlarmEntrySize;              // 1400
inline constexpr size_t kSegmentTableSize = kSegmentSlots * kSegmentEntrySize;        // 500000
inline constexpr size_t kChunkIndexSize = kMaxChunks * kChunkEntrySize;               // 1280

// The largest chunk, and the caller's buffer of the chunk readers.
inline constexpr uint32_t kMaxChunkSize = 0x200000;

// ---- RecTime: year since 2000, month, day, hour, minute, second --------------
inline constexpr size_t kRecTimeSize = 6;
struct RecTime {
  uint8_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// Reads a RecTime from 6 bytes.
RecTime load_rec_time(const uint8_t* p);
// Writes a RecTime as 6 bytes.
void store_rec_time(const RecTime& t, uint8_t* p);
// Orders two stamps: year, month, day as unsigned bytes, then hour x 3600 +
// minute x 60 + second. Returns <0, 0 or >0.
int compare_rec_time(const RecTime& a, const RecTime& b);
// The time number: second + 60 x (minute + 60 x (hour + 24 x (day + 31 x
// (month + 12 x year) - 32))), in 32 bits (every month 31 days, every year 372).
uint32_t time_number(const RecTime& t);
// The RecTime of a time number given by a caller: signed divisions, and a day of
// 0 (only for negative numbers) becomes the last day of the previous month.
RecTime rec_time_from_number(int32_t t);

// ---- Checksum ------------------------------------------------------------------
// True when the last byte of the n-byte item equals the sum of the others modulo
// 256 (an all-zero item is valid).
bool checksum_valid(const uint8_t* item, size_t n);

// ---- Field offsets ---------------------------------------------------------------
// CopyHeader.
inline constexpr size_t kHeaderGeneration = 12;  // u8, 0..5
inline constexpr int kGenerationCount = 6;

// Ring control records (count, oldest, newest). The time attribute and recording
// controls use u16 fields, the block and alarm controls u8.
inline constexpr size_t kControl16Count = 0, kControl16Oldest = 2, kControl16Newest = 4;
inline constexpr size_t kControl8Count = 0, kControl8Oldest = 1, kControl8Newest = 2;

// TimeAttributeTable entry.
inline constexpr size_t kTaAttribute = 0;      // u16
inline constexpr size_t kTaFirstTime = 2;      // RecTime
inline constexpr size_t kTaLastTime = 8;       // RecTime
inline constexpr size_t kTaFirstSegment = 16;  // u32
inline constexpr size_t kTaLastSegment = 20;   // u32
inline constexpr size_t kTaFirstBlock = 24;    // u8
inline constexpr size_t kTaLastBlock = 25;     // u8

// BlockTable entry (also the control record of the block's SegmentTable).
inline constexpr size_t kBlockSegmentCount = 0;    // u16
inline constexpr size_t kBlockFirstSegment = 2;    // u16
inline constexpr size_t kBlockLastSegment = 4;     // u16
inline constexpr size_t kBlockFirstAttribute = 6;  // u16
inline constexpr size_t kBlockFirstTime = 8;       // RecTime
inline constexpr size_t kBlockLastAttribute = 14;  // u16
inline constexpr size_t kBlockLastTime = 16;       // RecTime

// RecList entry.
inline constexpr size_t kRecAttribute = 0;      // u16
inline constexpr size_t kRecStartTime = 2;      // RecTime
inline constexpr size_t kRecEndTime = 8;        // RecTime
inline constexpr size_t kRecStartBlock = 14;    // u8
inline constexpr size_t kRecEndBlock = 15;      // u8
inline constexpr size_t kRecStartSegment = 16;  // u32
inline constexpr size_t kRecEndSegment = 20;    // u32
inline constexpr size_t kRecKind = 24;          // u8, handed on unchanged
inline constexpr size_t kRecSkipAgain = 26;     // u8

// AlarmList entry.
inline constexpr size_t kAlarmStartTime = 2;  // RecTime
inline constexpr size_t kAlarmEndTime = 8;    // RecTime

// SegmentTable entry.
inline constexpr size_t kSegTime = 2;         // RecTime
inline constexpr size_t kSegChunkSector = 8;  // u32: sector of the ChunkIndex
inline constexpr size_t kSegChunkCount = 14;  // u8 (at most kMaxChunks used)
inline constexpr size_t kSegFlags = 17;       // u8: low 4 bits 0 = nothing to play
inline constexpr size_t kSegKind = 18;        // u8
inline constexpr uint8_t kPlayableMask = 0x0F;
inline constexpr uint8_t kSegKindEndMark = 1;    // last segment of a recording
inline constexpr uint8_t kSegKindStartMark = 2;  // first segment of a recording

// ChunkIndex entry.
inline constexpr size_t kChunkByte0 = 0;    // u8 handed to the copy as is
inline constexpr size_t kChunkByte2 = 2;    // u8 handed to the copy as is
inline constexpr size_t kChunkTime = 6;     // RecTime
inline constexpr size_t kChunkSize = 12;    // u32 bytes
inline constexpr size_t kChunkSector = 16;  // u32 first sector
inline constexpr size_t kChunkByte27 = 27;  // u8 handed to the copy as is

// Chunk and packets.
inline constexpr size_t kChunkPacketCount = 27;  // u8
inline constexpr size_t kChunkFirstPacket = 100;
inline constexpr size_t kPacketHeaderSize = 48;
inline constexpr size_t kPacketMarker = 0;          // u16
inline constexpr size_t kPacketPayloadLength = 16;  // u32
inline constexpr uint16_t kPacketMarkerVideo = 0xFBFF;
inline constexpr uint16_t kPacketMarkerAudio = 0xFCFF;
inline constexpr uint16_t kPacketMarkerEnd = 0xFFFF;

// Sectors an item of n bytes occupies.
inline constexpr int32_t sectors_for(size_t n) {
  return static_cast<int32_t>((n + 511) / 512);
}

}  // namespace virazav::recdisk
