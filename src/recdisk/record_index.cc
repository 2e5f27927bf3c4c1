// The record index in memory and its loader: the choice of the newest copy by
// generation, the four ring tables with their control records, the SegmentTable
// of one block and the ChunkIndex of one segment, and the play position.
#include "recdisk/record_index.h"

#include <cstring>

#include "format/bytes.h"
#include "recdisk/disk.h"

namespace virazav::recdisk {
namespace {

// Sector offsets of the items of one copy, from the copy's first sector.
struct CopyLayout {
  int32_t header = 0;
  int32_t control[4] = {};  // by Ring
  int32_t table[4] = {};    // by Ring
  int32_t segment_tables = 0;
  int32_t segment_table_sectors = 0;
};

constexpr uint32_t kSegmentTableSectors = static_cast<uint32_t>(sectors_for(kSegmentTableSize));

struct RecordIndex {
  bool layout_ready = false;
  CopyLayout layout;
  int generation = 0;
  uint8_t ta_control[kTimeAttributeControlSize] = {};
  uint8_t block_control[kBlockControlSize] = {};
  uint8_t rec_control[kRecordingControlSize] = {};
  uint8_t alarm_control[kAlarmControlSize] = {};
  uint8_t ta_table[kTimeAttributeTableSize] = {};
  uint8_t block_table[kBlockTableSize] = {};
  uint8_t rec_table[kRecordingTableSize] = {};
  uint8_t alarm_table[kAlarmTableSize] = {};
  // Whole sectors, so that a block is read straight into place (the last 224
  // bytes are the sector's tail and never looked at).
  uint8_t segment_table[kSegmentTableSectors * kSectorSize] = {};
  int32_t segment_table_block = -1;
  uint8_t chunk_index[kChunkIndexSize] = {};
  PlayPosition position;
  PlayPosition saved;
  int32_t cursor = 0;
};

RecordIndex g_index;

struct RingShape {
  uint8_t* control;
  size_t control_size;
  uint8_t* table;
  size_t table_size;
  size_t entry_size;
  int slots;
  bool wide;  // 16-bit control fields
};

RingShape shape(Ring ring) {
  switch (ring) {
    case Ring::kTimeAttribute:
      return {g_index.ta_control,
              kTimeAttributeControlSize,
              g_index.ta_table,
              kTimeAttributeTableSize,
              kTimeAttributeEntrySize,
              kTimeAttributeSlots,
              true};
    case Ring::kBlock:
      return {g_index.block_control,
              kBlockControlSize,
              g_index.block_table,
              kBlockTableSize,
              kBlockEntrySize,
              kBlockSlots,
              false};
    case Ring::kRecording:
      return {g_index.rec_control,
              kRecordingControlSize,
              g_index.rec_table,
              kRecordingTableSize,
              kRecordingEntrySize,
              kRecordingSlots,
              true};
    case Ring::kAlarm:
    default:
      return {g_index.alarm_control,
              kAlarmControlSize,
              g_index.alarm_table,
              kAlarmTableSize,
              kAlarmEntrySize,
              kAlarmSlots,
              false};
  }
}

// The control fields as stored, unreduced.
RingControl raw_control(const RingShape& s) {
  RingControl c;
  if (s.wide) {
    c.count = format::load_le16(s.control + kControl16Count);
    c.oldest = format::load_le16(s.control + kControl16Oldest);
    c.newest = format::load_le16(s.control + kControl16Newest);
  } else {
    c.count = s.control[kControl8Count];
    c.oldest = s.control[kControl8Oldest];
    c.newest = s.control[kControl8Newest];
  }
  return c;
}

// A control record passes when its checksum is valid and its count and indexes
// fit the ring; one that names entries outside its table is as bad as one with a
// wrong checksum, and the next copy is tried.
bool control_passes(const RingShape& s) {
  if (!checksum_valid(s.control, s.control_size)) return false;
  RingControl c = raw_control(s);
  uint32_t n = static_cast<uint32_t>(s.slots);
  return c.count <= n && c.oldest < n && c.newest < n;
}

RingControl ring_control_of(const RingShape& s) {
  RingControl c = raw_control(s);
  uint32_t n = static_cast<uint32_t>(s.slots);
  // A control record that failed on every copy stays in memory as read; it is
  // reduced here so that nothing outside the ring is ever named.
  if (c.count > n) c.count = n;
  c.oldest %= n;
  c.newest %= n;
  return c;
}

bool table_passes(const RingShape& s) {
  RingControl c = ring_control_of(s);
  for (uint32_t k = 0; k < c.count; ++k) {
    size_t i = (c.oldest + k) % static_cast<uint32_t>(s.slots);
    if (!checksum_valid(s.table + i * s.entry_size, s.entry_size)) return false;
  }
  return true;
}

int32_t copy_start(int copy) {
  return kCopyStartSectors[copy];
}

int ring_number(Ring ring) {
  return static_cast<int>(ring);
}

const uint8_t* entry_bytes(Ring ring, int index) {
  RingShape s = shape(ring);
  if (index < 0 || index >= s.slots) return nullptr;
  return s.table + static_cast<size_t>(index) * s.entry_size;
}

}  // namespace

int ring_size(Ring ring) {
  return shape(ring).slots;
}

void compute_layout() {
  CopyLayout& l = g_index.layout;
  int32_t sector = 1;  // sector 0 of a copy is not part of the index
  l.header = sector;
  sector += sectors_for(kCopyHeaderSize);
  const Ring order[4] = {Ring::kTimeAttribute, Ring::kBlock, Ring::kRecording, Ring::kAlarm};
  for (Ring r : order) {
    RingShape s = shape(r);
    l.control[ring_number(r)] = sector;
    sector += sectors_for(s.control_size);
    l.table[ring_number(r)] = sector;
    sector += sectors_for(s.table_size);
  }
  l.segment_tables = sector;
  l.segment_table_sectors = sectors_for(kSegmentTableSize);
  g_index.layout_ready = true;
}

bool layout_ready() {
  return g_index.layout_ready;
}

void reset_record_index() {
  std::memset(static_cast<void*>(&g_index), 0, sizeof g_index);
  g_index.segment_table_block = -1;
}

int choose_newest_copy() {
  int gens[kCopyCount];
  for (int c = 0; c < kCopyCount; ++c) {
    gens[c] = -1;
    uint8_t header[kCopyHeaderSize];
    if (g_index.layout_ready &&
        read_disk_bytes(copy_start(c) + g_index.layout.header, header, sizeof header) == 0 &&
        checksum_valid(header, sizeof header) && header[kHeaderGeneration] < kGenerationCount) {
      gens[c] = header[kHeaderGeneration];
    }
  }
  int best = -1;
  for (int g : gens) best = g > best ? g : best;
  // The recorder counts generations modulo 6: after 5 come 0 in copy 0 and 1 in
  // copy 1, which are then the newest.
  if (best == 5 && gens[0] == 0) {
    best = 0;
    if (gens[1] == 1) best = 1;
  }
  if (best < 0) best = 0;
  g_index.generation = best;
  return best;
}

int newest_generation() {
  return g_index.generation;
}

int copy_in_order(int i) {
  const int g = g_index.generation;
  switch (((i % 3) + 3) % 3) {
    case 0:
      return g % 3;
    case 1:
      return (g + 2) % 3;
    default:
      return (g + 1) % 3;
  }
}

int load_ring(Ring ring) {
  if (!g_index.layout_ready) return 0;
  RingShape s = shape(ring);
  const CopyLayout& l = g_index.layout;
  bool control_ok = false;
  for (int i = 0; i < kCopyCount && !control_ok; ++i) {
    int32_t sector = copy_start(copy_in_order(i)) + l.control[ring_number(ring)];
    control_ok = read_disk_bytes(sector, s.control, static_cast<uint32_t>(s.control_size)) == 0 &&
                 control_passes(s);
  }
  bool table_ok = false;
  for (int i = 0; i < kCopyCount && !table_ok; ++i) {
    int32_t sector = copy_start(copy_in_order(i)) + l.table[ring_number(ring)];
    table_ok = read_disk_bytes(sector, s.table, static_cast<uint32_t>(s.table_size)) == 0 &&
               table_passes(s);
  }
  return control_ok && table_ok ? 1 : 0;
}

RingControl ring_control(Ring ring) {
  return ring_control_of(shape(ring));
}

int ring_index(Ring ring, uint32_t k) {
  RingControl c = ring_control(ring);
  return static_cast<int>((c.oldest + k) % static_cast<uint32_t>(ring_size(ring)));
}

TimeAttributeEntry time_attribute_entry(int index) {
  TimeAttributeEntry e;
  const uint8_t* p = entry_bytes(Ring::kTimeAttribute, index);
  if (p == nullptr) return e;
  e.attribute = format::load_le16(p + kTaAttribute);
  e.first_time = load_rec_time(p + kTaFirstTime);
  e.last_time = load_rec_time(p + kTaLastTime);
  e.first_segment = format::load_le32(p + kTaFirstSegment);
  e.last_segment = format::load_le32(p + kTaLastSegment);
  e.first_block = p[kTaFirstBlock];
  e.last_block = p[kTaLastBlock];
  return e;
}

BlockEntry block_entry(int index) {
  BlockEntry e;
  const uint8_t* p = entry_bytes(Ring::kBlock, index);
  if (p == nullptr) return e;
  e.segment_count = format::load_le16(p + kBlockSegmentCount);
  e.first_segment = format::load_le16(p + kBlockFirstSegment);
  e.last_segment = format::load_le16(p + kBlockLastSegment);
  e.first_attribute = format::load_le16(p + kBlockFirstAttribute);
  e.first_time = load_rec_time(p + kBlockFirstTime);
  e.last_attribute = format::load_le16(p + kBlockLastAttribute);
  e.last_time = load_rec_time(p + kBlockLastTime);
  return e;
}

RecordingEntry recording_entry(int index) {
  RecordingEntry e;
  const uint8_t* p = entry_bytes(Ring::kRecording, index);
  if (p == nullptr) return e;
  e.attribute = format::load_le16(p + kRecAttribute);
  e.start = load_rec_time(p + kRecStartTime);
  e.end = load_rec_time(p + kRecEndTime);
  e.start_block = p[kRecStartBlock];
  e.end_block = p[kRecEndBlock];
  e.start_segment = format::load_le32(p + kRecStartSegment);
  e.end_segment = format::load_le32(p + kRecEndSegment);
  e.kind = p[kRecKind];
  e.skip_again = p[kRecSkipAgain];
  return e;
}

AlarmEntry alarm_entry(int index) {
  AlarmEntry e;
  const uint8_t* p = entry_bytes(Ring::kAlarm, index);
  if (p == nullptr) return e;
  e.start = load_rec_time(p + kAlarmStartTime);
  e.end = load_rec_time(p + kAlarmEndTime);
  return e;
}

SegmentEntry segment_entry(int64_t segment) {
  SegmentEntry e;
  if (segment < 0 || segment >= kSegmentSlots) return e;
  const uint8_t* p = g_index.segment_table + static_cast<size_t>(segment) * kSegmentEntrySize;
  e.valid = checksum_valid(p, kSegmentEntrySize);
  e.time = load_rec_time(p + kSegTime);
  e.chunk_sector = format::load_le32(p + kSegChunkSector);
  e.chunk_count = p[kSegChunkCount];
  e.flags = p[kSegFlags];
  e.kind = p[kSegKind];
  return e;
}

ChunkEntry chunk_entry(int j) {
  ChunkEntry e;
  if (j < 0 || j >= kMaxChunks) return e;
  const uint8_t* p = g_index.chunk_index + static_cast<size_t>(j) * kChunkEntrySize;
  e.valid = checksum_valid(p, kChunkEntrySize);
  e.time = load_rec_time(p + kChunkTime);
  e.size = format::load_le32(p + kChunkSize);
  e.sector = format::load_le32(p + kChunkSector);
  e.byte0 = p[kChunkByte0];
  e.byte2 = p[kChunkByte2];
  e.byte27 = p[kChunkByte27];
  return e;
}

int read_segment_table(int32_t block, int rotation) {
  if (!g_index.layout_ready || block < 0 || block >= kBlockSlots) return 0;
  BlockEntry control = block_entry(block);
  const CopyLayout& l = g_index.layout;
  for (int i = 0; i < kCopyCount; ++i) {
    int copy = copy_in_order(i + rotation);
    int32_t sector = copy_start(copy) + l.segment_tables + l.segment_table_sectors * block;
    // A failed read leaves part of the copy in memory, as a failed item may.
    if (read_sectors(sector, kSegmentTableSectors, g_index.segment_table) != 0) continue;
    g_index.segment_table_block = block;
    // Only every thousandth entry in use and the last one are checked here; the
    // search and walks check each entry again before they use it.
    bool ok = true;
    for (uint32_t k = 0; k < control.segment_count && ok; k += 1000) {
      ok = segment_entry((control.first_segment + k) % kSegmentSlots).valid;
    }
    if (ok && segment_entry(control.last_segment).valid) return 1;
  }
  return 0;
}

int32_t segment_table_block() {
  return g_index.segment_table_block;
}

int read_chunk_index(const SegmentEntry& entry) {
  if (!g_index.layout_ready) return 0;
  // Sectors at or above 2^31 are negative as signed numbers, and the read refuses them.
  int32_t sector = static_cast<int32_t>(entry.chunk_sector);
  return read_disk_bytes(sector, g_index.chunk_index, kChunkIndexSize) == 0 ? 1 : 0;
}

PlayPosition& position() {
  return g_index.position;
}
PlayPosition& saved_position() {
  return g_index.saved;
}
int32_t& read_cursor() {
  return g_index.cursor;
}

int range_test(uint32_t first_block, uint32_t first_segment, uint32_t last_block,
               uint32_t last_segment, uint32_t block, uint32_t segment) {
  const uint32_t slots = static_cast<uint32_t>(kSegmentSlots);
  uint32_t low = first_block * slots + first_segment;
  uint32_t high = last_block * slots + last_segment;
  uint32_t p = block * slots + segment;
  if (low <= high) {
    if (p < low) return -1;
    if (p > high) return 1;
    return 0;
  }
  return p > high && p < low ? 2 : 0;
}

int position_in_range(int32_t block, int32_t segment) {
  RingControl c = ring_control(Ring::kBlock);
  BlockEntry oldest = block_entry(static_cast<int>(c.oldest));
  BlockEntry newest = block_entry(static_cast<int>(c.newest));
  return range_test(c.oldest, oldest.first_segment, c.newest, newest.last_segment,
                    static_cast<uint32_t>(block), static_cast<uint32_t>(segment));
}

int load_record_index(LoadMode mode) {
  if (!g_index.layout_ready) return 0;
  choose_newest_copy();
  int ok = 1;
  const Ring order[4] = {Ring::kTimeAttribute, Ring::kBlock, Ring::kRecording, Ring::kAlarm};
  for (Ring r : order) ok &= load_ring(r);

  PlayPosition& pos = g_index.position;
  if (mode == LoadMode::kKeep && position_in_range(pos.block, pos.segment) == 0) {
    // The position stays.
  } else {
    set_end_position(mode == LoadMode::kNewest);
  }
  ok &= read_segment_table(pos.block);
  ok &= read_chunk_index(segment_entry(pos.segment));
  return ok;
}

int first_section_play() {
  g_index.position = PlayPosition{};
  compute_layout();
  load_record_index(LoadMode::kOldest);
  g_index.cursor = g_index.position.chunk;
  return 0;
}

}  // namespace virazav::recdisk
