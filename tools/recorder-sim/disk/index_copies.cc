// The record index copies. The recorder writes its index to the copies in turn, each write
// with the next generation modulo 6, so the copy of generation g holds the index of the write
// before g + 1 (one lag of segments older), and a copy that missed its last write, or whose
// write was cut short, still holds the index of three writes before.

#include "disk/index_copies.h"

#include <algorithm>

#include "disk/disk_format.h"

namespace virazav::sim::diskimg {

namespace {

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

// One sector-aligned item of a copy: where it lies (sectors from the copy's start) and how
// many sectors it spans.
struct Item {
  int64_t offset = 0;
  int64_t sectors = 0;
  enum Kind { kHeader, kControl, kTable, kSegments } kind = kHeader;
  IndexTable table = IndexTable::kTimeAttributes;
  int block = 0;
};

// The content of one copy as of one write.
struct Content {
  IndexCopyInfo state;
  int generation = 0;
  uint32_t write_count = 0;
  uint32_t write_time = 0;
};

std::vector<Item> copy_items() {
  std::vector<Item> items;
  items.push_back({kHeaderOffset, 1, Item::kHeader});
  const struct {
    IndexTable table;
    int64_t control, table_offset, table_sectors;
  } rings[] = {
      {IndexTable::kTimeAttributes, kAttributeControlOffset, kAttributeTableOffset, 6},
      {IndexTable::kBlocks, kBlockControlOffset, kBlockTableOffset, 13},
      {IndexTable::kRecordings, kRecordingControlOffset, kRecordingTableOffset, 55},
      {IndexTable::kAlarms, kAlarmControlOffset, kAlarmTableOffset, 3},
  };
  for (const auto& r : rings) {
    items.push_back({r.control, 1, Item::kControl, r.table});
    items.push_back({r.table_offset, r.table_sectors, Item::kTable, r.table});
  }
  for (int b = 0; b < kBlockCount; ++b) {
    items.push_back({kSegmentTableOffset + kSegmentTableSectors * b, kSegmentTableSectors,
                     Item::kSegments, IndexTable::kBlocks, b});
  }
  return items;
}

size_t entry_size(IndexTable t) {
  switch (t) {
    case IndexTable::kTimeAttributes:
      return kAttributeEntrySize;
    case IndexTable::kBlocks:
      return kBlockEntrySize;
    case IndexTable::kRecordings:
      return kRecordingEntrySize;
    case IndexTable::kAlarms:
      return kAlarmEntrySize;
  }
  return 0;
}

int ring_capacity(IndexTable t) {
  switch (t) {
    case IndexTable::kTimeAttributes:
      return kTimeAttributeSlots;
    case IndexTable::kBlocks:
      return kBlockCount;
    case IndexTable::kRecordings:
      return kRecordingSlots;
    case IndexTable::kAlarms:
      return kAlarmSlots;
  }
  return 0;
}

class CopyWriter {
 public:
  CopyWriter(const DiskImageDesc& desc, const DiskPlan& plan, const VideoArea& video)
      : desc_(desc), plan_(plan), video_(video) {}

  Content content(int age) const;
  // The bytes of `item` in `content` for copy `copy`; empty when the item is all zero.
  std::vector<uint8_t> build(const Content& content, const Item& item, int copy) const;

 private:
  void put_control(const Content& c, IndexTable t, uint8_t* p) const;
  void put_table(const Content& c, IndexTable t, uint8_t* p) const;
  const BlockInfo* find_block(const Content& c, int block) const;
  void put_segments(const BlockInfo& b, int copy, uint8_t* p) const;
  void put_segment(int64_t g, int copy, uint8_t* e) const;

  const DiskImageDesc& desc_;
  const DiskPlan& plan_;
  const VideoArea& video_;
};

Content CopyWriter::content(int age) const {
  Content c;
  const int64_t lag = desc_.index_lag_segments;
  const int64_t n = std::max<int64_t>(0, plan_.total() - lag * age);
  c.state = plan_.index_state(n);
  c.generation =
      ((desc_.newest_generation - age) % kGenerationCount + kGenerationCount) % kGenerationCount;
  // One index write per lag of segments (at least a write per copy), counted in 24 bits.
  const int64_t writes = plan_.total() / std::max<int64_t>(1, lag) + 6;
  c.write_count = static_cast<uint32_t>((writes - age) & 0xFFFFFF);
  const int64_t clock = n > 0 ? plan_.clock(n - 1) + plan_.chunks(n - 1) - 1 : plan_.clock_at(0);
  c.write_time = packed_time(rec_time_at(clock).value_or(RecTime{}));
  return c;
}

void CopyWriter::put_control(const Content& c, IndexTable t, uint8_t* p) const {
  const IndexCopyInfo& s = c.state;
  switch (t) {
    case IndexTable::kTimeAttributes:
    case IndexTable::kRecordings: {
      const RingInfo& r = t == IndexTable::kRecordings ? s.recordings : s.attributes;
      put_u16le(p + 0, static_cast<uint32_t>(r.count));
      put_u16le(p + 2, static_cast<uint32_t>(r.oldest));
      put_u16le(p + 4, static_cast<uint32_t>(r.newest));
      seal(p, kWideControlSize);
      break;
    }
    case IndexTable::kBlocks:
      p[0] = static_cast<uint8_t>(s.blocks.count);
      p[1] = static_cast<uint8_t>(s.blocks.oldest);
      p[2] = static_cast<uint8_t>(s.blocks.newest);
      p[kBlockControlCurrentBlock] = static_cast<uint8_t>(s.current_block);
      put_u16le(p + kBlockControlCurrentSegment, static_cast<uint32_t>(s.current_segment));
      seal(p, kWideControlSize);
      break;
    case IndexTable::kAlarms:
      p[0] = static_cast<uint8_t>(s.alarms.count);
      p[1] = static_cast<uint8_t>(s.alarms.oldest);
      p[2] = static_cast<uint8_t>(s.alarms.newest);
      seal(p, kAlarmControlSize);
      break;
  }
}

void CopyWriter::put_table(const Content& c, IndexTable t, uint8_t* p) const {
  const IndexCopyInfo& s = c.state;
  const size_t size = entry_size(t);
  switch (t) {
    case IndexTable::kTimeAttributes:
      for (const AttributeInfo& a : s.attribute_entries) {
        uint8_t* e = p + size * static_cast<size_t>(a.slot);
        put_u16le(e + kAttributeValue, static_cast<uint32_t>(a.attribute));
        put_rec_time(e + kAttributeFirstTime, a.first);
        put_rec_time(e + kAttributeLastTime, a.last);
        put_u32le(e + kAttributeFirstSegment, a.first_segment);
        put_u32le(e + kAttributeLastSegment, a.last_segment);
        e[kAttributeFirstBlock] = static_cast<uint8_t>(a.first_block);
        e[kAttributeLastBlock] = static_cast<uint8_t>(a.last_block);
        seal(e, size);
      }
      break;
    case IndexTable::kBlocks:
      // The block table is indexed by block number.
      for (const BlockInfo& b : s.block_entries) {
        uint8_t* e = p + size * static_cast<size_t>(b.block);
        put_u16le(e + kBlockSegments, static_cast<uint32_t>(b.segments));
        put_u16le(e + kBlockFirstSegment, static_cast<uint32_t>(b.first_segment));
        put_u16le(e + kBlockLastSegment, static_cast<uint32_t>(b.last_segment));
        put_u16le(e + kBlockFirstAttribute, static_cast<uint32_t>(b.first_attribute));
        put_rec_time(e + kBlockFirstTime, b.first_time);
        put_u16le(e + kBlockLastAttribute, static_cast<uint32_t>(b.last_attribute));
        put_rec_time(e + kBlockLastTime, b.last_time);
        seal(e, size);
      }
      break;
    case IndexTable::kRecordings:
      for (const RecordingInfo& r : s.recording_entries) {
        uint8_t* e = p + size * static_cast<size_t>(r.slot);
        put_u16le(e + kRecordingAttribute, static_cast<uint32_t>(r.attribute));
        put_rec_time(e + kRecordingStart, r.start);
        put_rec_time(e + kRecordingEnd, r.end);
        e[kRecordingStartBlock] = static_cast<uint8_t>(r.start_block);
        e[kRecordingEndBlock] = static_cast<uint8_t>(r.end_block);
        put_u32le(e + kRecordingStartSegment, r.start_segment);
        put_u32le(e + kRecordingEndSegment, r.end_segment);
        e[kRecordingKind] = r.kind;
        e[kRecordingSkipAgain] = r.skip_again ? 1 : 0;
        seal(e, size);
      }
      break;
    case IndexTable::kAlarms:
      for (const AlarmInfo& a : s.alarm_entries) {
        uint8_t* e = p + size * static_cast<size_t>(a.slot);
        e[kAlarmChannel] = static_cast<uint8_t>(a.channel);
        put_rec_time(e + kAlarmStart, a.start);
        put_rec_time(e + kAlarmEnd, a.end);
        seal(e, size);
      }
      break;
  }
}

void CopyWriter::put_segment(int64_t g, int copy, uint8_t* e) const {
  const DamageOptions& d = desc_.damage;
  const int64_t s = g - plan_.filler();
  auto named = [&](const std::vector<SegmentRef>& refs) {
    return s >= 0 && std::any_of(refs.begin(), refs.end(), [&](const SegmentRef& r) {
             return r.segment == s && (r.copy < 0 || r.copy == copy);
           });
  };
  put_u16le(e + kSegmentAttribute, static_cast<uint32_t>(plan_.attribute(g)));
  put_rec_time(e + kSegmentTime, plan_.time(g));
  if (s < 0) {
    put_u32le(e + kSegmentChunkIndex,
              video_.filler_chunk_indexes[static_cast<size_t>(plan_.recording(g))]);
    e[kSegmentFlags] = video_.filler_flags;
  } else {
    const SegmentInfo& seg = video_.segments[static_cast<size_t>(s)];
    put_u32le(e + kSegmentChunkIndex, seg.chunk_index_sector);
    e[kSegmentFlags] = seg.flags;
  }
  put_u16le(e + kSegmentChannels, (1u << desc_.channels) - 1);
  e[kSegmentChunkCount] =
      static_cast<uint8_t>(named(d.chunk_count_55) ? kTooManyChunks : plan_.chunks(g));
  e[kSegmentKind] = plan_.kind(g);
  seal(e, kSegmentEntrySize);
  if (named(d.bad_segments)) ++e[kSegmentEntrySize - 1];
}

const BlockInfo* CopyWriter::find_block(const Content& c, int block) const {
  for (const BlockInfo& b : c.state.block_entries) {
    if (b.block == block) return &b;
  }
  return nullptr;
}

void CopyWriter::put_segments(const BlockInfo& b, int copy, uint8_t* p) const {
  for (int k = 0; k < b.segments; ++k) {
    const int slot = (b.first_segment + k) % kSegmentsPerBlock;
    const int64_t g = plan_.segment_at_slot(int64_t{b.block} * kSegmentsPerBlock + slot);
    put_segment(g, copy, p + kSegmentEntrySize * static_cast<size_t>(slot));
  }
}

std::vector<uint8_t> CopyWriter::build(const Content& c, const Item& item, int copy) const {
  // The segment table of a block not in use is all zero: nothing to build.
  const BlockInfo* block = item.kind == Item::kSegments ? find_block(c, item.block) : nullptr;
  if (item.kind == Item::kSegments && block == nullptr) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(item.sectors) * kSectorSize, 0);
  switch (item.kind) {
    case Item::kHeader:
      bytes[kHeaderVersion] = 1;
      put_u24be(&bytes[kHeaderWriteCount], c.write_count);
      put_u32le(&bytes[kHeaderWriteTime], c.write_time);
      put_u32le(&bytes[kHeaderSegmentCount], static_cast<uint32_t>(c.state.segments));
      bytes[kHeaderGeneration] = static_cast<uint8_t>(c.generation);
      seal(bytes.data(), kHeaderSize);
      break;
    case Item::kControl:
      put_control(c, item.table, bytes.data());
      break;
    case Item::kTable:
      put_table(c, item.table, bytes.data());
      break;
    case Item::kSegments:
      put_segments(*block, copy, bytes.data());
      break;
  }
  return bytes;
}

// A write cut short inside `torn` (sector offset within the copy): what lies before it is
// new, what lies after it old, and the torn sector holds half of each.
std::vector<uint8_t> tear(const Item& item, std::vector<uint8_t> fresh, std::vector<uint8_t> old,
                          int64_t torn) {
  const size_t size = static_cast<size_t>(item.sectors) * kSectorSize;
  if (item.offset + item.sectors <= torn) return fresh;
  if (item.offset > torn) return old;
  fresh.resize(size, 0);
  old.resize(size, 0);
  const size_t cut = static_cast<size_t>(torn - item.offset) * kSectorSize + kSectorSize / 2;
  std::copy(fresh.begin(), fresh.begin() + static_cast<ptrdiff_t>(cut), old.begin());
  return old;
}

bool zero_sector(const std::vector<uint8_t>& bytes, size_t sector) {
  const auto begin = bytes.begin() + static_cast<ptrdiff_t>(sector * kSectorSize);
  return std::all_of(begin, begin + kSectorSize, [](uint8_t b) { return b == 0; });
}

void damage_checksum(std::vector<uint8_t>* bytes, size_t at) {
  if (bytes->empty()) bytes->resize(kSectorSize, 0);
  if (at >= bytes->size()) bytes->resize(at + 1, 0);
  ++(*bytes)[at];
}

}  // namespace

bool write_index_copies(const DiskImageDesc& desc, const DiskPlan& plan, const VideoArea& video,
                        const std::vector<uint8_t>& label, ImageFile* file,
                        std::array<IndexCopyInfo, kIndexCopyCount>* copies, int* newest_copy,
                        std::string* error) {
  for (const TableDamage& t : desc.damage.bad_entries) {
    if (t.copy < 0 || t.copy >= kIndexCopyCount || t.entry < -1 ||
        t.entry >= ring_capacity(t.table)) {
      return fail(error, "a table damage names a copy or entry that does not exist");
    }
  }
  for (const CopyDamage& d : desc.damage.copies) {
    if (d.torn_at_sector == 0 || d.torn_at_sector >= kCopySectors || d.torn_at_sector < -1 ||
        d.generation < -1 || d.generation > 255) {
      return fail(error,
                  "a copy damage is out of range (torn sector 1..244332, generation -1..255)");
    }
  }

  const CopyWriter writer(desc, plan, video);
  const std::vector<Item> items = copy_items();
  const int newest = desc.newest_generation % kIndexCopyCount;
  *newest_copy = newest;
  for (int copy = 0; copy < kIndexCopyCount; ++copy) {
    const CopyDamage& damage = desc.damage.copies[static_cast<size_t>(copy)];
    int age = (newest - copy + kIndexCopyCount) % kIndexCopyCount;
    if (damage.stale) age += kIndexCopyCount;
    const Content fresh = writer.content(age);
    const bool torn = damage.torn_at_sector > 0;
    const Content old = torn ? writer.content(age + kIndexCopyCount) : Content{};
    const int64_t first = kCopyFirstSector[copy];

    if (!file->write_sectors(static_cast<uint64_t>(first + kLabelOffset), label, error)) {
      return false;
    }
    for (const Item& item : items) {
      std::vector<uint8_t> bytes = writer.build(fresh, item, copy);
      if (torn) bytes = tear(item, bytes, writer.build(old, item, copy), damage.torn_at_sector);
      if (item.kind == Item::kHeader) {
        if (damage.generation >= 0) {
          bytes[kHeaderGeneration] = static_cast<uint8_t>(damage.generation);
          seal(bytes.data(), kHeaderSize);
        }
        if (damage.bad_header_checksum) damage_checksum(&bytes, kHeaderSize - 1);
      }
      for (const TableDamage& t : desc.damage.bad_entries) {
        if (t.copy != copy || t.table != item.table) continue;
        if (item.kind == Item::kControl && t.entry < 0) {
          const size_t size = t.table == IndexTable::kAlarms ? kAlarmControlSize : kWideControlSize;
          damage_checksum(&bytes, size - 1);
        } else if (item.kind == Item::kTable && t.entry >= 0) {
          const size_t size = entry_size(t.table);
          damage_checksum(&bytes, size * static_cast<size_t>(t.entry) + size - 1);
        }
      }
      // Zero sectors at either end of the item are left as holes, which read as zeros.
      size_t from = 0;
      size_t to = bytes.size() / kSectorSize;
      while (from < to && zero_sector(bytes, from)) ++from;
      while (to > from && zero_sector(bytes, to - 1)) --to;
      if (from == to) continue;
      if (!file->write(
              static_cast<uint64_t>(first + item.offset) * kSectorSize + from * kSectorSize,
              &bytes[from * kSectorSize], (to - from) * kSectorSize, error)) {
        return false;
      }
    }

    IndexCopyInfo& info = (*copies)[static_cast<size_t>(copy)];
    info = fresh.state;
    info.age = age;
    info.generation = damage.generation >= 0 ? damage.generation : fresh.generation;
    info.header_valid = !damage.bad_header_checksum;
  }
  return true;
}

}  // namespace virazav::sim::diskimg
