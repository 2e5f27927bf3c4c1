// The chunk readers and the segment walks under them: forwards and backwards
// across block boundaries and around the ring, over unplayable segments, at both
// ends, and the guards on chunk sizes and packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using namespace virazav::recdisk;

struct Id {
  int block, segment, chunk;
  bool operator==(const Id& o) const {
    return block == o.block && segment == o.segment && chunk == o.chunk;
  }
};
std::ostream& operator<<(std::ostream& os, const Id& id) {
  return os << id.block << "/" << id.segment << "/" << id.chunk;
}

// The chunk a delivery came from, read from its first packet's payload.
Id id_of(const std::vector<uint8_t>& buf) {
  return Id{buf[48], buf[49] | (buf[50] << 8), buf[51]};
}

class ChunkReaderTest : public DiskImageTest {
 protected:
  void lay(const std::vector<RecordingPlan>& plans) {
    make_image();
    disk_ = lay_out(*image_, plans);
    open_and_load();
  }
  std::vector<Id> all_ids(bool playable_only = true) const {
    std::vector<Id> ids;
    for (const LaidSegment& s : disk_.segments) {
      if (playable_only && s.flags == 0) continue;
      for (size_t j = 0; j < s.chunks.size(); ++j)
        ids.push_back({s.block, s.segment, static_cast<int>(j)});
    }
    return ids;
  }
  const LaidChunk& chunk_of(const Id& id) const {
    for (const LaidSegment& s : disk_.segments) {
      if (s.block == id.block && s.segment == id.segment) return s.chunks[id.chunk];
    }
    static LaidChunk none;
    return none;
  }
  // Reads until the reader stops; checks every delivered byte.
  std::vector<Id> read_all(bool forward, int* last_result, int limit = 200) {
    std::vector<Id> ids;
    std::vector<uint8_t> buf(kMaxChunkSize);
    for (int i = 0; i < limit; ++i) {
      uint32_t length = 12345;
      int r =
          forward ? recdisk::read_data(buf.data(), &length) : read_data_back(buf.data(), &length);
      *last_result = r;
      if (r != 0) break;
      Id id = id_of(buf);
      const LaidChunk& c = chunk_of(id);
      EXPECT_EQ(length, c.packets.size()) << id;
      EXPECT_TRUE(std::equal(c.packets.begin(), c.packets.end(), buf.begin())) << id;
      ids.push_back(id);
    }
    return ids;
  }
  LaidDisk disk_;
};

RecordingPlan plan_at(int64_t slot, int segments, int hour = 10) {
  RecordingPlan p;
  p.first_slot = slot;
  p.segments = segments;
  p.start.hour = hour;
  return p;
}

TEST_F(ChunkReaderTest, ForwardAcrossABlockBoundaryToTheEnd) {
  lay({plan_at(24998, 4)});
  int last = 0;
  std::vector<Id> ids = read_all(true, &last);
  EXPECT_EQ(ids, all_ids());
  EXPECT_EQ(last, kReadNoSegment);
  EXPECT_EQ(position().block, 1);
  EXPECT_EQ(position().segment, 1) << "the position stays at the newest segment";
  uint32_t length = 0;
  std::vector<uint8_t> buf(kMaxChunkSize);
  EXPECT_EQ(recdisk::read_data(buf.data(), &length), kReadNoSegment) << "and stays there";
}

TEST_F(ChunkReaderTest, ForwardAndBackAroundTheRing) {
  lay({plan_at(249 * 25000 + 24998, 2), plan_at(-1, 3, 11)});
  ASSERT_EQ(position().block, 249);
  int last = 0;
  std::vector<Id> ids = read_all(true, &last);
  EXPECT_EQ(ids, all_ids());
  EXPECT_EQ(last, kReadNoSegment);
  EXPECT_EQ(position().block, 0);
  EXPECT_EQ(position().segment, 2);

  std::vector<Id> expect = all_ids();
  std::reverse(expect.begin(), expect.end());
  std::vector<Id> back = read_all(false, &last);
  EXPECT_EQ(back, expect);
  EXPECT_EQ(last, kReadNoSegment);
  EXPECT_EQ(position().block, 249);
  EXPECT_EQ(position().segment, 24998);
}

TEST_F(ChunkReaderTest, UnplayableSegmentsAndEmptySlotsAreSteppedOver) {
  RecordingPlan a = plan_at(10, 4);
  a.unplayable = {1, 2};
  RecordingPlan b = plan_at(20, 2, 11);  // slots 14..19 between them are empty
  lay({a, b});
  int last = 0;
  EXPECT_EQ(read_all(true, &last), all_ids());
  std::vector<Id> expect = all_ids();
  std::reverse(expect.begin(), expect.end());
  EXPECT_EQ(read_all(false, &last), expect);
}

TEST_F(ChunkReaderTest, StepVariantsMoveTheCursor) {
  RecordingPlan p = plan_at(0, 2);
  p.chunks = 6;
  lay({p});
  std::vector<uint8_t> buf(kMaxChunkSize);
  uint32_t length = 0;
  struct Row {
    const char* name;
    int step;
    int chunk;  // delivered
  };
  const Row rows[] = {{"step 0 moves one", 0, 0},
                      {"then chunk 1", 2, 1},
                      {"step 2 skipped chunk 2", 4, 3},
                      {"negative step", -1, 7 - 7}};
  for (const Row& row : rows) {
    ASSERT_EQ(read_data_forward(buf.data(), &length, row.step), 0) << row.name;
    if (row.step >= 0) {
      EXPECT_EQ(id_of(buf).chunk, row.chunk) << row.name;
    }
  }
  // After the step of 4 from chunk 3 the cursor is 7, past the segment's 6:
  // the step of -1 walked to segment 1 and delivered its chunk 0 without moving.
  EXPECT_EQ(id_of(buf).segment, 1);
  EXPECT_EQ(read_cursor(), 0);
  // Backwards by two from chunk 5 of segment 1.
  read_cursor() = 5;
  ASSERT_EQ(read_data_back_step(buf.data(), &length, 2), 0);
  EXPECT_EQ(id_of(buf).chunk, 5);
  ASSERT_EQ(read_data_back_step(buf.data(), &length, 2), 0);
  EXPECT_EQ(id_of(buf).chunk, 3);
  EXPECT_EQ(read_cursor(), 1);
}

TEST_F(ChunkReaderTest, ChunkGuards) {
  lay({plan_at(0, 3)});
  const LaidSegment& s0 = disk_.segments[0];
  std::vector<uint8_t> buf(kMaxChunkSize);
  uint32_t length = 0;

  // Chunk 0 claims 0x200001 bytes: not read, the cursor moves on.
  std::vector<ChunkFields> entries(2);
  for (int j = 0; j < 2; ++j) {
    entries[j].time = s0.chunks[j].time;
    entries[j].size = s0.chunks[j].size;
    entries[j].sector = s0.chunks[j].sector;
  }
  entries[0].size = 0x200001;
  image_->chunk_index(s0.chunk_index_sector, entries);
  recdisk::first_section_play();
  EXPECT_EQ(recdisk::read_data(buf.data(), &length), kReadNotDelivered);
  EXPECT_EQ(read_cursor(), 1);
  ASSERT_EQ(recdisk::read_data(buf.data(), &length), 0);
  EXPECT_EQ(id_of(buf).chunk, 1);

  // Packets: the third carries the end marker; two are delivered.
  struct Row {
    const char* name;
    std::vector<uint16_t> markers;
    int64_t bad_length;  // payload length stored in the last packet, -1 as is
    int result;
    int delivered;
  };
  const Row rows[] = {
      {"end marker third", {0xFBFF, 0xFCFF, 0xFFFF, 0xFBFF}, -1, kReadEndOfData, 2},
      {"unknown marker second", {0xFBFF, 0x1234, 0xFBFF}, -1, kReadNotDelivered, 1},
      {"payload runs past the chunk", {0xFBFF, 0xFCFF}, 5000, kReadNotDelivered, 1},
      {"payload length near 2^32", {0xFBFF, 0xFCFF}, 0xFFFFFFF0, kReadNotDelivered, 1},
      {"all good", {0xFBFF, 0xFCFF, 0xFBFF}, -1, 0, 3},
  };
  const LaidSegment& s1 = disk_.segments[1];
  for (const Row& row : rows) {
    std::vector<PacketFields> packets;
    for (uint16_t m : row.markers) {
      PacketFields p = chunk_packets(s1.block, s1.segment, 0)[0];
      p.marker = m;
      packets.push_back(p);
    }
    if (row.bad_length >= 0) packets.back().length_override = row.bad_length;
    uint32_t size = image_->chunk(s1.chunks[0].sector, packets);
    ChunkFields c;
    c.time = s1.chunks[0].time;
    c.size = size;
    c.sector = s1.chunks[0].sector;
    image_->chunk_index(s1.chunk_index_sector, {c});
    recdisk::first_section_play();
    position().segment = 1;
    load_record_index(LoadMode::kKeep);
    read_cursor() = 0;
    length = 999;
    EXPECT_EQ(recdisk::read_data(buf.data(), &length), row.result) << row.name;
    EXPECT_EQ(length, row.delivered * (48 + packets[0].payload.size())) << row.name;
  }
}

TEST_F(ChunkReaderTest, ChunkCountAboveFortyCountsAsForty) {
  lay({plan_at(0, 2)});
  const LaidSegment& s0 = disk_.segments[0];
  std::vector<ChunkFields> entries(40);
  for (int j = 0; j < 40; ++j) {
    entries[j].time = add_seconds(s0.time, j);
    entries[j].size = s0.chunks[0].size;
    entries[j].sector = s0.chunks[0].sector;
  }
  image_->chunk_index(s0.chunk_index_sector, entries);
  SegFields seg;
  seg.time = s0.time;
  seg.chunk_index_sector = s0.chunk_index_sector;
  seg.chunk_count = 55;
  seg.kind = 2;
  image_->segment(-1, 0, 0, seg);
  recdisk::first_section_play();
  std::vector<uint8_t> buf(kMaxChunkSize);
  uint32_t length = 0;
  for (int j = 0; j < 40; ++j) ASSERT_EQ(recdisk::read_data(buf.data(), &length), 0) << j;
  ASSERT_EQ(recdisk::read_data(buf.data(), &length), 0);
  EXPECT_EQ(position().segment, 1) << "the 41st read walks on";
  EXPECT_EQ(id_of(buf).segment, 1);
}

TEST_F(ChunkReaderTest, ReadForCopyFillsTheInformationRecord) {
  lay({plan_at(5, 1)});
  std::vector<uint8_t> buf(kMaxChunkSize);
  uint32_t length = 0;
  uint8_t info[24];
  std::memset(info, 0xAA, sizeof info);
  ASSERT_EQ(read_for_copy(buf.data(), &length, info), 0);
  const LaidChunk& c = disk_.segments[0].chunks[0];
  EXPECT_EQ(info[8], c.time.year);
  EXPECT_EQ(info[11], c.time.hour);
  EXPECT_EQ(info[13], c.time.second);
  EXPECT_EQ(info[14], 5) << "entry byte 2";
  EXPECT_EQ(info[15], 0) << "entry byte 0";
  EXPECT_EQ(info[16], 0x27) << "entry byte 27";
  EXPECT_EQ(info[0], 0xAA) << "other bytes untouched";
  EXPECT_EQ(info[17], 0xAA);
}

TEST_F(ChunkReaderTest, ExportChecksItsArguments) {
  lay({plan_at(0, 1)});
  uint32_t length = 0;
  std::vector<uint8_t> buf(kMaxChunkSize);
  EXPECT_EQ(recdisk::read_data(nullptr, &length), kReadNotDelivered);
  EXPECT_EQ(recdisk::read_data(buf.data(), nullptr), kReadNotDelivered);
  EXPECT_EQ(::read_data(buf.data(), &length), 0);
}

TEST(ChunkPacketParser, BoundsEveryPacket) {
  std::vector<uint8_t> chunk(100 + 48 + 10, 0);
  chunk[27] = 1;
  chunk[100] = 0xFF, chunk[101] = 0xFB;
  chunk[100 + 16] = 10;
  std::vector<uint8_t> out(58);
  uint32_t length = 0;
  EXPECT_EQ(parse_chunk_packets(chunk.data(), chunk.size(), out.data(), out.size(), &length), 0);
  EXPECT_EQ(length, 58u);
  length = 0;
  EXPECT_EQ(parse_chunk_packets(chunk.data(), chunk.size(), out.data(), 57, &length),
            kReadNotDelivered)
      << "one byte short of the caller's buffer";
  length = 0;
  EXPECT_EQ(parse_chunk_packets(chunk.data(), chunk.size() - 1, out.data(), out.size(), &length),
            kReadNotDelivered)
      << "one byte short of the chunk";
  length = 0;
  EXPECT_EQ(parse_chunk_packets(chunk.data(), 27, out.data(), out.size(), &length), 0)
      << "no packet count";
  EXPECT_EQ(length, 0u);
  chunk[27] = 0;
  EXPECT_EQ(parse_chunk_packets(chunk.data(), chunk.size(), out.data(), out.size(), &length), 0);
  EXPECT_EQ(length, 0u);
}

}  // namespace
}  // namespace virazav::testing
