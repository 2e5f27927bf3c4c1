// The record index loaded from the recorder disk, the one play position in it,
// and everything that moves that position: loads, time search, segment walks,
// recording skips, and the chunk readers that deliver the recorded packets.
//
// All of it is one process-wide state without a lock: loads, searches, walks,
// skips, readers and list reads must not run at the same time; their callers
// serialise them (the player and copy threads hold their own locks around them).
// Every index or length taken from the disk is checked before use; the guards
// are listed in docs/formats/record-index.md.
#pragma once

#include <cstddef>
#include <cstdint>

#include "recdisk/record_layout.h"

namespace virazav::recdisk {

// ---- Parsed entries (copies of the bytes in memory) --------------------------------
struct RingControl {
  uint32_t count = 0;   // entries in use, at most the ring size when read through ring_control
  uint32_t oldest = 0;  // ring index of the oldest entry, below the ring size
  uint32_t newest = 0;  // ring index of the newest entry, below the ring size
};

struct TimeAttributeEntry {
  uint16_t attribute = 0;
  RecTime first_time, last_time;
  uint32_t first_segment = 0, last_segment = 0;
  uint8_t first_block = 0, last_block = 0;
};

struct BlockEntry {
  uint16_t segment_count = 0, first_segment = 0, last_segment = 0;
  uint16_t first_attribute = 0, last_attribute = 0;
  RecTime first_time, last_time;
};

struct RecordingEntry {
  uint16_t attribute = 0;
  RecTime start, end;
  uint8_t start_block = 0, end_block = 0;
  uint32_t start_segment = 0, end_segment = 0;
  uint8_t kind = 0, skip_again = 0;
};

struct AlarmEntry {
  RecTime start, end;
};

struct SegmentEntry {
  bool valid = false;  // checksum valid and the slot inside 0..24999
  RecTime time;
  uint32_t chunk_sector = 0;
  uint8_t chunk_count = 0;  // as stored; chunks_in() caps it at kMaxChunks
  uint8_t flags = 0, kind = 0;
  bool playable() const { return (flags & kPlayableMask) != 0; }
  int chunks() const { return chunk_count > kMaxChunks ? kMaxChunks : chunk_count; }
};

struct ChunkEntry {
  bool valid = false;  // checksum valid
  RecTime time;
  uint32_t size = 0, sector = 0;
  uint8_t byte0 = 0, byte2 = 0, byte27 = 0;
};

// The four ring tables.
enum class Ring { kTimeAttribute, kBlock, kRecording, kAlarm };
int ring_size(Ring ring);

// ---- The play position ---------------------------------------------------------------
struct PlayPosition {
  int32_t time_attribute = 0;  // ring index in the TimeAttributeTable
  int32_t block = 0;           // 0..249
  int32_t recording = 0;       // ring index in the RecList
  int32_t alarm = 0;           // ring index in the AlarmList
  int32_t segment = 0;         // 0..24999 within the block
  int32_t chunk = 0;           // chunk of the segment
};

// Puts the position at the newest (or the oldest) end of the recorded range: the
// rings' newest (oldest) entries and the block's last (first) segment.
void set_end_position(bool newest);

// ---- Loading -------------------------------------------------------------------------------
enum class LoadMode { kNewest = 0, kOldest = 1, kKeep = 2 };

// Computes the sector offsets of the three copies (first_section_play does it).
// Until then every load and table read reports failure without reading.
void compute_layout();
bool layout_ready();
// Forgets the layout and empties the whole index (zero bytes, position 0); for
// tests that start from a fresh process state.
void reset_record_index();

// Reads the three copy headers and picks the newest generation (0 when no copy
// header is valid). Returns the generation; the copy read first is generation % 3.
int choose_newest_copy();
// The generation chosen by the last choose_newest_copy.
int newest_generation();
// The copy read i-th (i = 0..2) for the chosen generation: g % 3, (g + 2) % 3,
// (g + 1) % 3.
int copy_in_order(int i);

// Loads the whole index (copy choice, four rings, the SegmentTable of the
// position's block, the ChunkIndex of its segment) and sets the position by the
// mode. Returns 1 when every step succeeded, 0 when any failed; every step is
// attempted and a failed item keeps what its last attempt read.
int load_record_index(LoadMode mode);
// Reads one ring's control record and table from the copies in order. Returns 1
// or 0 as load_record_index.
int load_ring(Ring ring);
// Reads the SegmentTable of block b (0..249) from the copies in order, starting
// with the copy `rotation` places further on (0 = the index's own order).
// Returns 1 when a copy passed the sparse check, 0 otherwise (also for b outside
// 0..249, which reads nothing).
int read_segment_table(int32_t block, int rotation = 0);
// The block whose SegmentTable is in memory (-1 before the first read).
int32_t segment_table_block();
// Reads the ChunkIndex the entry names. Returns 1, or 0 (the previous ChunkIndex
// stays) when the read fails.
int read_chunk_index(const SegmentEntry& entry);

// ---- The loaded tables ------------------------------------------------------------------
// The control record of a ring, with the count capped at the ring size and the
// indexes reduced modulo the ring size.
RingControl ring_control(Ring ring);
// Ring index of the k-th entry in use: (oldest + k) % N.
int ring_index(Ring ring, uint32_t k);
// Entries by ring index; an index outside the ring gives an all-zero entry.
TimeAttributeEntry time_attribute_entry(int index);
BlockEntry block_entry(int index);
RecordingEntry recording_entry(int index);
AlarmEntry alarm_entry(int index);
// Entry `segment` of the SegmentTable in memory; valid is false for a bad
// checksum or a slot outside 0..24999.
SegmentEntry segment_entry(int64_t segment);
// Entry j of the ChunkIndex in memory; valid is false for a bad checksum or j
// outside 0..39.
ChunkEntry chunk_entry(int j);

// ---- Position ----------------------------------------------------------------------------
PlayPosition& position();
PlayPosition& saved_position();
// The read cursor: the chunk the next forward read delivers, or the chunk last
// delivered backwards minus one.
int32_t& read_cursor();

// Range tests on linear positions block x 25000 + segment (unsigned): -1 before
// the range, 1 after it, 2 outside a wrapped range, 0 inside.
int range_test(uint32_t first_block, uint32_t first_segment, uint32_t last_block,
               uint32_t last_segment, uint32_t block, uint32_t segment);
// The recorded range: the oldest block's first segment to the newest block's last.
int position_in_range(int32_t block, int32_t segment);

// ---- Search, walks, readers, skips ---------------------------------------------------------
// Results of the time search.
inline constexpr int kSearchFound = 1;
inline constexpr int kSearchBeforeAll = 20;  // placed at the start of the newest attribute
inline constexpr int kSearchNotFound = -1;
inline constexpr int kSearchNoAttribute = 16;  // attribute missing or no block holds t
inline constexpr int kSearchAfterAttribute = -2;
inline constexpr int kSearchEndMark = -4;
inline constexpr int kMaxSearchPasses = 100;

// Results of the walks and skips.
inline constexpr int kWalkMoved = 1;
inline constexpr int kNoBlocks = -123;
inline constexpr int kNoFurtherRecording = -124;
inline constexpr int kOutsideRange = -125;
inline constexpr int kMaxStepDepth = 100;

// Results of the chunk readers.
inline constexpr int kReadDelivered = 0;
inline constexpr int kReadEndOfData = 1;
inline constexpr int kReadNoSegment = 100;
inline constexpr int kReadNotDelivered = -1;

// Clears the position, computes the layout, loads with kOldest, sets the read
// cursor to 0. Returns 0.
int first_section_play();
// Searches t through the time attributes from the newest to the oldest. Returns
// kSearchFound, kSearchBeforeAll, kSearchNotFound or 0 (position restored).
int search_by_time(const RecTime& t);
// Searches the index for t under attribute a (one try, no retries): kSearchFound,
// kSearchNotFound (t before a), kSearchAfterAttribute, kSearchNoAttribute,
// kSearchEndMark or 0.
int search_index(const RecTime& t, int attribute);
// Moves one segment forwards / backwards over playable segments. Returns
// kWalkMoved (also when at the end), kNoBlocks or kOutsideRange.
int walk_forward();
int walk_back();

// Chunk readers: buffer of kMaxChunkSize bytes, *length receives the bytes
// delivered. Return kReadDelivered, kReadEndOfData, kReadNoSegment or
// kReadNotDelivered.
int read_data(uint8_t* buffer, uint32_t* length);
int read_data_forward(uint8_t* buffer, uint32_t* length, int step);
int read_data_back(uint8_t* buffer, uint32_t* length);
int read_data_back_step(uint8_t* buffer, uint32_t* length, int step);
// As read_data, and fills bytes 8..16 of the 24-byte chunk information record
// (RecTime of the chunk, entry bytes 2, 0 and 27) before parsing.
int read_for_copy(uint8_t* buffer, uint32_t* length, uint8_t* info24);

// Copies the packets of one chunk (chunk_size bytes as read) to out (out_cap
// bytes), adding their sizes to *length. Returns kReadDelivered after the
// chunk's packet count, kReadEndOfData at an end marker, kReadNotDelivered at an
// unknown marker or a packet that runs past the chunk or out_cap (the packets
// before it stay delivered).
int parse_chunk_packets(const uint8_t* chunk, size_t chunk_size, uint8_t* out, size_t out_cap,
                        uint32_t* length);

// The RecList entry that holds (block, segment), trying `recording` first.
int find_recording(int recording, int32_t block, int32_t segment);
// One skip to the next (direction 1) or previous (0) recording: kWalkMoved,
// kNoFurtherRecording, kNoBlocks or 0 (a block could not be read).
int skip_recording(int direction);
// Skip with the skip-again flag (the count is not used). Returns the result of
// the last skip_recording, with the exceptions in record-index.md.
int skip_with_repeat(int direction, int count);

}  // namespace virazav::recdisk
