// The disk reader on disk images written by the simulated recorder: the copy it
// picks, the whole recorded stretch read forwards and backwards, searches across
// clock set-backs, and the damage the recorder's disks show.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

using recdisk::kMaxChunkSize;

recdisk::RecTime to_rec_time(const sim::RecTime& t) {
  recdisk::RecTime r;
  r.year = static_cast<uint8_t>(t.year), r.month = static_cast<uint8_t>(t.month);
  r.day = static_cast<uint8_t>(t.day), r.hour = static_cast<uint8_t>(t.hour);
  r.minute = static_cast<uint8_t>(t.minute), r.second = static_cast<uint8_t>(t.second);
  return r;
}

class RecorderImageTest : public DiskImageTest {
 protected:
  static sim::DiskImageDesc small_desc() {
    sim::DiskImageDesc desc;
    desc.media = false;
    desc.hours = 0.02;  // 72 s
    desc.recording_count = 3;
    desc.gap_s = 30;
    desc.channels = 2;
    desc.chunks_per_segment = 4;
    desc.start_segment = 24990;  // the stretch crosses into block 1
    return desc;
  }
  void write(const sim::DiskImageDesc& desc) {
    std::string path = dir_ + "/recorder.img";
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(desc, path, &info_, &error)) << error;
    use_image_as_drive(kTestDrive, path);
    ASSERT_EQ(hdd_open(kTestDrive), 0);
    ASSERT_EQ(recdisk::first_section_play(), 0);
  }
  // Every playable chunk of the stretch in recording order, by its time.
  std::vector<uint32_t> chunk_times() const {
    std::vector<uint32_t> out;
    for (const sim::SegmentInfo& s : info_.segments) {
      if ((s.flags & 0x0F) == 0) continue;
      for (const sim::ChunkInfo& c : s.chunks) out.push_back(sim::time_number(c.time));
    }
    return out;
  }
  // Reads in one direction until the reader stops; returns the times of the
  // chunks delivered (the read_for_copy record names them).
  std::vector<uint32_t> read_all(bool forward, int* last) {
    std::vector<uint32_t> out;
    std::vector<uint8_t> buf(kMaxChunkSize);
    for (int i = 0; i < 2000; ++i) {
      uint32_t length = 0;
      uint8_t info[24] = {};
      int r;
      if (forward) {
        r = recdisk::read_for_copy(buf.data(), &length, info);
      } else {
        // The backward reader does not fill the record: the chunk it delivered
        // is the one after the cursor it left.
        r = recdisk::read_data_back(buf.data(), &length);
        if (r == 0)
          recdisk::store_rec_time(recdisk::chunk_entry(recdisk::read_cursor() + 1).time, info + 8);
      }
      *last = r;
      if (r != 0) break;
      EXPECT_GT(length, 0u);
      out.push_back(recdisk::time_number(recdisk::load_rec_time(info + 8)));
    }
    return out;
  }
  sim::DiskImageInfo info_;
};

TEST_F(RecorderImageTest, WholeStretchForwardsAndBackwards) {
  write(small_desc());
  std::vector<uint32_t> expect = chunk_times();
  ASSERT_GT(expect.size(), 10u);
  int last = 0;
  EXPECT_EQ(read_all(true, &last), expect);
  EXPECT_EQ(last, recdisk::kReadNoSegment);
  std::vector<uint32_t> back = read_all(false, &last);
  std::reverse(expect.begin(), expect.end());
  // The first backward read starts at the newest segment's last chunk.
  EXPECT_EQ(back, expect);
  EXPECT_EQ(last, recdisk::kReadNoSegment);
}

TEST_F(RecorderImageTest, RangeAndListsMatchTheRecorder) {
  write(small_desc());
  uint32_t start = 0, end = 0;
  ASSERT_EQ(read_start_end_sec(&start, &end), 0);
  const sim::IndexCopyInfo& newest = info_.copies[info_.newest_copy];
  ASSERT_FALSE(newest.block_entries.empty());
  EXPECT_EQ(start, sim::time_number(newest.block_entries.front().first_time));
  EXPECT_EQ(end, sim::time_number(newest.block_entries.back().last_time));
  uint16_t count = 0, oldest = 0;
  ASSERT_EQ(get_rec_list(&count, &oldest), 0);
  ASSERT_EQ(count, newest.recording_entries.size());
  for (int k = 0; k < count; ++k) {
    uint32_t s = 0, e = 0, kind = 0;
    ASSERT_EQ(get_list_start_end_sec((oldest + k) % 1000, &s, &e, &kind), 0);
    EXPECT_EQ(s, sim::time_number(newest.recording_entries[k].start)) << k;
    EXPECT_EQ(e, sim::time_number(newest.recording_entries[k].end)) << k;
  }
}

TEST_F(RecorderImageTest, SearchAcrossAClockSetBack) {
  sim::DiskImageDesc desc = small_desc();
  desc.clock_set_backs.push_back(sim::ClockSetBack{60, 3600});
  write(desc);
  int attributes = 0, previous = -1;
  for (const sim::SegmentInfo& s : info_.segments) {
    if (s.attribute != previous) ++attributes, previous = s.attribute;
  }
  ASSERT_GE(attributes, 2) << "the set-back starts a new time attribute";
  // Every chunk is found by its own time. A block's last time is the time of its
  // last segment, so the later chunks of a block's last segment lie outside
  // every block of a multi-block attribute: those segments are left out.
  for (size_t i = 0; i + 1 < info_.segments.size(); i += 3) {
    const sim::SegmentInfo& s = info_.segments[i];
    if ((s.flags & 0x0F) == 0 || info_.segments[i + 1].block != s.block) continue;
    for (const sim::ChunkInfo& c : s.chunks) {
      ::testing::internal::CaptureStdout();
      int r = recdisk::search_by_time(to_rec_time(c.time));
      ::testing::internal::GetCapturedStdout();
      EXPECT_EQ(r, recdisk::kSearchFound) << sim::format_rec_time(c.time);
      EXPECT_EQ(recdisk::position().block, s.block) << sim::format_rec_time(c.time);
      EXPECT_EQ(recdisk::position().segment, s.segment) << sim::format_rec_time(c.time);
      EXPECT_EQ(recdisk::time_number(recdisk::chunk_entry(recdisk::position().chunk).time),
                sim::time_number(c.time));
    }
  }
}

TEST_F(RecorderImageTest, DamagedNewestCopyIsPassedOver) {
  struct Row {
    const char* name;
    int newest_generation;
    void (*damage)(sim::DamageOptions&, int newest);
  };
  const Row rows[] = {
      {"newest header checksum", 2,
       [](sim::DamageOptions& d, int n) { d.copies[n].bad_header_checksum = true; }},
      {"newest generation 7", 4, [](sim::DamageOptions& d, int n) { d.copies[n].generation = 7; }},
      {"newest block table entry", 0,
       [](sim::DamageOptions& d, int n) {
         d.bad_entries.push_back({n, sim::IndexTable::kBlocks, 1});
       }},
  };
  for (const Row& row : rows) {
    sim::DiskImageDesc desc = small_desc();
    desc.newest_generation = row.newest_generation;
    desc.index_lag_segments = 2;
    row.damage(desc.damage, row.newest_generation % 3);
    recdisk::close_drive();
    write(desc);
    // The copy written before the newest lacks its last segments: the recorded
    // range ends where that copy's block table ends.
    const int fallback = (row.newest_generation + 2) % 3;
    const sim::IndexCopyInfo& used = info_.copies[fallback];
    ASSERT_FALSE(used.block_entries.empty()) << row.name;
    uint32_t start = 0, end = 0;
    ASSERT_EQ(read_start_end_sec(&start, &end), 0) << row.name;
    EXPECT_EQ(end, sim::time_number(used.block_entries.back().last_time)) << row.name;
    EXPECT_NE(end, sim::time_number(
                       info_.copies[row.newest_generation % 3].block_entries.back().last_time))
        << row.name << ": the newest copy's range would end later";
  }
}

TEST_F(RecorderImageTest, DamagedSegmentsAndChunks) {
  sim::DiskImageDesc desc = small_desc();
  desc.damage.unplayable_segments.push_back({2});
  desc.damage.chunk_count_55.push_back({4});
  desc.damage.oversize_chunks.push_back({6, 1});
  desc.damage.unknown_markers.push_back({7, 0, 1});
  desc.damage.end_markers.push_back({9, 2, 1});
  write(desc);
  std::vector<int> results;
  std::vector<uint8_t> buf(kMaxChunkSize);
  for (int i = 0; i < 2000; ++i) {
    uint32_t length = 0;
    int r = recdisk::read_data(buf.data(), &length);
    if (r == recdisk::kReadNoSegment) break;
    if (r != 0) results.push_back(r);
  }
  // The oversize chunk and the unknown marker give -1, the end marker 1; the
  // reads go on past each of them.
  EXPECT_EQ(results, (std::vector<int>{-1, -1, 1}));
}

}  // namespace
}  // namespace virazav::testing
