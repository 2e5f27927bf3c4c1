// Tests of the disk image writer. The images are read back with a small reader written
// here from docs/formats/recorder-disk.md (its own offsets, checksums recomputed), and
// compared with what the recording should hold, worked out by hand from each description.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "disk/disk_image.h"

namespace virazav::sim {
namespace {

// ---- The layout, as the format page gives it -------------------------------------------------

constexpr uint64_t kSector = 512;
constexpr uint64_t kCopyStart[3] = {0, 244333, 488666};
constexpr uint64_t kHeaderAt = 1;
constexpr uint64_t kAttrControlAt = 2, kAttrTableAt = 3;
constexpr uint64_t kBlockControlAt = 9, kBlockTableAt = 10;
constexpr uint64_t kRecControlAt = 23, kRecTableAt = 24;
constexpr uint64_t kAlarmControlAt = 79, kAlarmTableAt = 80;
constexpr uint64_t kSegTablesAt = 83, kSegTableSectors = 977;
constexpr size_t kAttrEntry = 28, kBlockEntry = 26, kRecEntry = 28, kAlarmEntry = 28;
constexpr size_t kSegEntry = 20, kChunkEntry = 32;

uint32_t le16(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
bool checksum_ok(const uint8_t* p, size_t size) {
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < size; ++i) sum += p[i];
  return static_cast<uint8_t>(sum) == p[size - 1];
}
RecTime time_at(const uint8_t* p) {
  return RecTime{p[0], p[1], p[2], p[3], p[4], p[5]};
}
uint32_t field22(const uint8_t* p) {
  return ((p[0] & 0x7Fu) << 15) | ((p[1] >> 4u) << 11) | ((p[1] & 0x07u) << 8) | p[2];
}
uint64_t pes_time(const uint8_t* p) {
  const auto b = [p](int i) { return static_cast<uint64_t>(p[i]); };
  return (((b(0) >> 1) & 7) << 30) | (b(1) << 22) | ((b(2) >> 1) << 15) | (b(3) << 7) | (b(4) >> 1);
}

// The start time of the descriptions below, shifted by whole seconds.
RecTime at(int64_t seconds_after_start) {
  const RecTime start{24, 5, 1, 10, 0, 0};
  return *rec_time_at(clock_seconds(start) + seconds_after_start);
}

class Disk {
 public:
  explicit Disk(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Disk() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  std::vector<uint8_t> read(uint64_t sector, size_t bytes) const {
    std::vector<uint8_t> b(bytes, 0);
    size_t done = 0;
    while (done < bytes) {
      ssize_t n =
          ::pread(fd_, b.data() + done, bytes - done, static_cast<off_t>(sector * kSector + done));
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    return b;
  }
  std::vector<uint8_t> copy_item(int copy, uint64_t offset, size_t bytes) const {
    return read(kCopyStart[copy] + offset, bytes);
  }
  std::vector<uint8_t> segment_entry(int copy, int block, int slot) const {
    auto b = read(kCopyStart[copy] + kSegTablesAt + kSegTableSectors * block +
                      static_cast<uint64_t>(slot) * kSegEntry / kSector,
                  kSector * 2);
    const size_t off = static_cast<size_t>(slot) * kSegEntry % kSector;
    return std::vector<uint8_t>(b.begin() + off, b.begin() + off + kSegEntry);
  }

 private:
  int fd_;
};

std::string temp_path(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/vz_disk_" + std::to_string(::getpid()) +
         "_" + name + ".img";
}

// An image file that is removed again at the end of the test.
struct TempImage {
  explicit TempImage(const std::string& name) : path(temp_path(name)) {}
  ~TempImage() { ::unlink(path.c_str()); }
  std::string path;
};

// ---- The recording of most tests -------------------------------------------------------------

// Three channels (two with audio), recordings of 30 s and 25 s five seconds apart, the clock
// set back 20 s at second 40, segments of 4 chunks, starting 5 slots before the end of
// block 3, two alarms and two stills.
DiskImageDesc small_desc() {
  DiskImageDesc s;
  s.channels = 3;
  s.audio_channels = 2;
  s.recordings = {{30, 0, 0, false}, {25, 5, 3, true}};
  s.clock_set_backs = {{40, 20}};
  s.chunks_per_segment = 4;
  s.start_block = 3;
  s.start_segment = 24995;
  s.alarms = 2;
  s.stills = 2;
  s.still_gap_sectors = 3;
  s.media = false;
  s.video.fps = 5;
  s.video.width = 64;
  s.video.height = 48;
  return s;
}

// What those segments must be: seconds of the clock after the start, chunks, attribute, kind.
struct ExpectedSegment {
  int clock;
  int chunks;
  int attribute;
  int kind;
  int elapsed;  // seconds after the start of the stretch
};
const ExpectedSegment kSmallSegments[] = {{0, 4, 0, 2, 0},
                                          {4, 4, 0, 0, 4},
                                          {8, 4, 0, 0, 8},
                                          {12, 4, 0, 0, 12},
                                          {16, 4, 0, 0, 16},
                                          {20, 4, 0, 0, 20},
                                          {24, 4, 0, 0, 24},
                                          {28, 2, 0, 1, 28},
                                          // the second recording, cut by the set-back at 40 s
                                          {35, 4, 0, 2, 35},
                                          {39, 1, 0, 1, 39},
                                          // after the set-back the clock shows 20 s less
                                          {20, 4, 1, 2, 40},
                                          {24, 4, 1, 0, 44},
                                          {28, 4, 1, 0, 48},
                                          {32, 4, 1, 0, 52},
                                          {36, 4, 1, 1, 56}};
// Slots: five in block 3 from 24,995, then block 4 from 0.
std::pair<int, int> small_slot(int k) {
  return k < 5 ? std::pair{3, 24995 + k} : std::pair{4, k - 5};
}

class SmallImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    image_ = new TempImage("small");
    info_ = new DiskImageInfo;
    std::string error;
    ok_ = write_disk_image(small_desc(), image_->path, info_, &error);
    error_ = new std::string(error);
  }
  static void TearDownTestSuite() {
    delete image_;
    delete info_;
    delete error_;
  }
  void SetUp() override { ASSERT_TRUE(ok_) << *error_; }

  static TempImage* image_;
  static DiskImageInfo* info_;
  static std::string* error_;
  static bool ok_;
};
TempImage* SmallImageTest::image_ = nullptr;
DiskImageInfo* SmallImageTest::info_ = nullptr;
std::string* SmallImageTest::error_ = nullptr;
bool SmallImageTest::ok_ = false;

// ---- Time stamps -------------------------------------------------------------------------------

TEST(RecTimeTest, NumbersOfKnownTimes) {
  const RecTime t{7, 3, 15, 12, 30, 45};
  EXPECT_EQ(time_number(t), 231597045u);
  // Packed time: months of 31 days from 2000-01-01.
  EXPECT_EQ(packed_time(RecTime{0, 1, 1, 0, 0, 0}), 0u);
  EXPECT_EQ(packed_time(RecTime{0, 2, 1, 0, 0, 1}), 2678401u);
  EXPECT_EQ(packed_time(RecTime{1, 1, 2, 1, 0, 0}), 12u * 2678400 + 86400 + 3600);
  // The clock runs on the real calendar: 2000 was a leap year.
  EXPECT_EQ(clock_seconds(RecTime{0, 3, 1, 0, 0, 0}), (31 + 29) * 86400);
  EXPECT_EQ(format_rec_time(*rec_time_at(clock_seconds(RecTime{24, 2, 28, 23, 59, 59}) + 1)),
            "2024-02-29 00:00:00");
  EXPECT_EQ(format_rec_time(*rec_time_at(clock_seconds(RecTime{23, 12, 31, 23, 59, 59}) + 1)),
            "2024-01-01 00:00:00");
  EXPECT_FALSE(rec_time_at(-1).has_value());
  EXPECT_FALSE(parse_rec_time("2023-02-29 00:00:00").has_value());
  ASSERT_TRUE(parse_rec_time("2007-03-15T12:30:45").has_value());
  EXPECT_EQ(*parse_rec_time("2007-03-15T12:30:45"), t);
}

// ---- Layout of the small image -----------------------------------------------------------------

TEST_F(SmallImageTest, SizeIsWholeCylindersAndSparse) {
  struct stat st {};
  ASSERT_EQ(::stat(image_->path.c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size) % 8225280, 0u);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), info_->size_bytes);
  EXPECT_GT(st.st_size, 244333 * 3 * 512);  // the index copies alone
  // Only sectors with data were written: a few MB of the 380 MB.
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 4u << 20);
}

TEST_F(SmallImageTest, LabelInFrontOfEachCopy) {
  Disk disk(image_->path);
  ASSERT_TRUE(disk.ok());
  const auto label = disk.read(0, 512);
  // Each 32-bit value as two little-endian words, the high half first.
  auto value = [&](int i) { return (le16(&label[4 * i]) << 16) | le16(&label[4 * i + 2]); };
  EXPECT_EQ(value(0), 0x52454344u);
  EXPECT_EQ(value(1), 1u);
  EXPECT_EQ(value(2), packed_time(at(0)));
  EXPECT_EQ(value(3), packed_time(at(59 - 20)));
  EXPECT_EQ(value(4), 3u);
  EXPECT_EQ(value(5), 2u);
  EXPECT_EQ(value(6), info_->still_area_sector);
  EXPECT_EQ(value(7), info_->still_area_sectors);
  EXPECT_EQ(value(8), info_->video_area_sector);
  EXPECT_EQ(value(9), info_->video_area_sectors);
  EXPECT_EQ(value(10), info_->size_bytes / 512);
  EXPECT_EQ(info_->still_area_sector, 733184u);
  EXPECT_EQ(info_->video_area_sector % 2048, 0u);
  EXPECT_GE(info_->video_area_sector, info_->still_area_sector + info_->still_area_sectors);
  for (int c = 1; c < 3; ++c) EXPECT_EQ(disk.read(kCopyStart[c], 512), label) << "copy " << c;
}

TEST_F(SmallImageTest, CopyHeadersCarryGenerationsInTurn) {
  Disk disk(image_->path);
  // Newest generation 2: copies 0, 1, 2 hold 0, 1, 2; each older copy one segment behind.
  for (int c = 0; c < 3; ++c) {
    const auto h = disk.copy_item(c, kHeaderAt, 16);
    SCOPED_TRACE("copy " + std::to_string(c));
    EXPECT_TRUE(checksum_ok(h.data(), 16));
    EXPECT_EQ(h[12], c);
    EXPECT_EQ(h[0], 1);
    EXPECT_EQ(le32(&h[8]), 13u + c);
    EXPECT_EQ(info_->copies[c].generation, c);
    EXPECT_EQ(info_->copies[c].segments, 13 + c);
    // The write counter (24 bits, big-endian) rises by one per write.
    const uint32_t count = (h[1] << 16) | (h[2] << 8) | h[3];
    const auto newest = disk.copy_item(2, kHeaderAt, 16);
    EXPECT_EQ(count + (2 - c),
              static_cast<uint32_t>((newest[1] << 16) | (newest[2] << 8) | newest[3]));
  }
  EXPECT_EQ(info_->newest_copy, 2);
}

TEST_F(SmallImageTest, SegmentTablesHoldEverySegment) {
  Disk disk(image_->path);
  ASSERT_EQ(info_->segments.size(), std::size(kSmallSegments));
  for (size_t k = 0; k < std::size(kSmallSegments); ++k) {
    const ExpectedSegment& x = kSmallSegments[k];
    const auto [block, slot] = small_slot(static_cast<int>(k));
    SCOPED_TRACE("segment " + std::to_string(k));
    const auto e = disk.segment_entry(2, block, slot);
    EXPECT_TRUE(checksum_ok(e.data(), kSegEntry));
    EXPECT_EQ(le16(&e[0]), static_cast<uint32_t>(x.attribute));
    EXPECT_EQ(time_at(&e[2]), at(x.clock));
    EXPECT_EQ(e[14], x.chunks);
    EXPECT_EQ(e[18], x.kind);
    EXPECT_EQ(e[17] & 0x0F, 0x03);  // pictures and sound
    EXPECT_EQ(le16(&e[12]), 0x7u);
    EXPECT_EQ(le32(&e[8]), info_->segments[k].chunk_index_sector);
    EXPECT_EQ(info_->segments[k].block, block);
    EXPECT_EQ(info_->segments[k].segment, slot);
  }
  // Slots around the recorded ones are empty (all zero).
  for (auto [block, slot] : {std::pair{3, 24994}, std::pair{4, 10}, std::pair{5, 0}}) {
    const auto e = disk.segment_entry(2, block, slot);
    EXPECT_EQ(e, std::vector<uint8_t>(kSegEntry, 0)) << block << ":" << slot;
  }
}

TEST_F(SmallImageTest, ChunksHoldEachSecondsPackets) {
  Disk disk(image_->path);
  const uint32_t video_end = info_->video_area_sector + info_->video_area_sectors;
  std::vector<int> audio_packets(2, 0);
  for (size_t k = 0; k < std::size(kSmallSegments); ++k) {
    const ExpectedSegment& x = kSmallSegments[k];
    const auto index = disk.read(info_->segments[k].chunk_index_sector, 1280);
    for (int c = 0; c < x.chunks; ++c) {
      SCOPED_TRACE("segment " + std::to_string(k) + " chunk " + std::to_string(c));
      const uint8_t* e = &index[kChunkEntry * c];
      ASSERT_TRUE(checksum_ok(e, kChunkEntry));
      EXPECT_EQ(time_at(e + 6), at(x.clock + c));
      const uint32_t size = le32(e + 12);
      const uint32_t sector = le32(e + 16);
      ASSERT_LE(size, 0x200000u);
      ASSERT_GE(sector, info_->video_area_sector);
      ASSERT_LE(sector + (size + 511) / 512, video_end);
      const auto chunk = disk.read(sector, size);
      const int second = x.elapsed + c;
      // Every channel's five pictures of the second, and the audio packets that begin in it.
      std::vector<int> pictures(3, 0);
      size_t p = 100;
      for (int n = 0; n < chunk[27]; ++n) {
        ASSERT_LE(p + 48, chunk.size());
        const uint32_t marker = le16(&chunk[p]);
        const uint32_t length = le32(&chunk[p + 16]);
        ASSERT_LE(p + 48 + length, chunk.size());
        const uint8_t* pes = &chunk[p + 48];
        ASSERT_EQ(pes[0] | pes[1], 0);
        ASSERT_EQ(pes[2], 1);
        EXPECT_EQ(field22(pes + 24), length) << "packet_size";
        EXPECT_EQ(field22(pes + 21), 0u) << "prev_size";
        const uint64_t pts = pes_time(pes + 9);
        if (marker == 0xFBFF) {
          const int ch = pes[3] - 0xE0;
          ASSERT_TRUE(ch >= 0 && ch < 3);
          EXPECT_EQ(chunk[p + 2], ch);
          const int64_t frame = int64_t{second} * 5 + pictures[ch];
          EXPECT_EQ(pts, 90000u + static_cast<uint64_t>(frame) * 18000);
          const std::string text(reinterpret_cast<const char*>(pes) + 32, length - 32);
          char want[32];
          std::snprintf(want, sizeof want, "picture=%08lld", static_cast<long long>(frame));
          EXPECT_NE(text.find(want), std::string::npos) << text;
          // The first picture of each channel in a chunk is a key picture.
          EXPECT_EQ(chunk[p + 3], pictures[ch] == 0 ? 1 : 0);
          ++pictures[ch];
        } else {
          ASSERT_EQ(marker, 0xFCFFu);
          const int ch = pes[3] - 0xC0;
          ASSERT_TRUE(ch >= 0 && ch < 2);
          EXPECT_EQ(length, 2112u);
          // Audio packet j starts at j × 0.512 s: inside this second.
          const uint64_t j = (pts - 90000) / 46080;
          EXPECT_EQ((pts - 90000) % 46080, 0u);
          EXPECT_EQ(j * 512 / 1000, static_cast<uint64_t>(second));
          ++audio_packets[ch];
        }
        p += 48 + length;
      }
      EXPECT_EQ(p, size);
      EXPECT_EQ(pictures, std::vector<int>(3, 5));
    }
  }
  // 55 recorded seconds: one or two audio packets each, about 1.95 a second per channel.
  for (int n : audio_packets) {
    EXPECT_GE(n, 55 * 1000 / 512 - 2);
    EXPECT_LE(n, 55 * 1000 / 512 + 2);
  }
}

TEST_F(SmallImageTest, RingTablesOfTheNewestCopy) {
  Disk disk(image_->path);
  auto control = [&](uint64_t at_sector, size_t size) {
    auto b = disk.copy_item(2, at_sector, size);
    EXPECT_TRUE(checksum_ok(b.data(), size));
    return b;
  };
  // Time attributes 0 and 1.
  auto ta = control(kAttrControlAt, 8);
  EXPECT_EQ(le16(&ta[0]), 2u);
  EXPECT_EQ(le16(&ta[2]), 0u);
  EXPECT_EQ(le16(&ta[4]), 1u);
  const auto attrs = disk.copy_item(2, kAttrTableAt, 2800);
  struct Attr {
    int attribute, first, last, first_block, first_seg, last_block, last_seg;
  };
  const Attr want_attrs[] = {{0, 0, 39, 3, 24995, 4, 4}, {1, 20, 39, 4, 5, 4, 9}};
  for (int i = 0; i < 2; ++i) {
    const uint8_t* e = &attrs[kAttrEntry * i];
    const Attr& w = want_attrs[i];
    SCOPED_TRACE("attribute entry " + std::to_string(i));
    EXPECT_TRUE(checksum_ok(e, kAttrEntry));
    EXPECT_EQ(le16(e), static_cast<uint32_t>(w.attribute));
    EXPECT_EQ(time_at(e + 2), at(w.first));
    EXPECT_EQ(time_at(e + 8), at(w.last));
    EXPECT_EQ(le32(e + 16), static_cast<uint32_t>(w.first_seg));
    EXPECT_EQ(le32(e + 20), static_cast<uint32_t>(w.last_seg));
    EXPECT_EQ(e[24], w.first_block);
    EXPECT_EQ(e[25], w.last_block);
  }

  // Blocks 3 and 4.
  auto bc = control(kBlockControlAt, 8);
  EXPECT_EQ(bc[0], 2);
  EXPECT_EQ(bc[1], 3);
  EXPECT_EQ(bc[2], 4);
  EXPECT_EQ(bc[3], 4);
  EXPECT_EQ(le16(&bc[4]), 9u);
  const auto blocks = disk.copy_item(2, kBlockTableAt, 6500);
  struct Block {
    int block, count, first, last, first_attr, first_clock, last_attr, last_clock;
  };
  const Block want_blocks[] = {{3, 5, 24995, 24999, 0, 0, 0, 16}, {4, 10, 0, 9, 0, 20, 1, 36}};
  for (const Block& w : want_blocks) {
    const uint8_t* e = &blocks[kBlockEntry * w.block];
    SCOPED_TRACE("block " + std::to_string(w.block));
    EXPECT_TRUE(checksum_ok(e, kBlockEntry));
    EXPECT_EQ(le16(e), static_cast<uint32_t>(w.count));
    EXPECT_EQ(le16(e + 2), static_cast<uint32_t>(w.first));
    EXPECT_EQ(le16(e + 4), static_cast<uint32_t>(w.last));
    EXPECT_EQ(le16(e + 6), static_cast<uint32_t>(w.first_attr));
    EXPECT_EQ(time_at(e + 8), at(w.first_clock));
    EXPECT_EQ(le16(e + 14), static_cast<uint32_t>(w.last_attr));
    EXPECT_EQ(time_at(e + 16), at(w.last_clock));
  }
  for (int b : {0, 2, 5, 249}) {
    EXPECT_EQ(std::vector<uint8_t>(blocks.begin() + kBlockEntry * b,
                                   blocks.begin() + kBlockEntry * (b + 1)),
              std::vector<uint8_t>(kBlockEntry, 0))
        << "unused block " << b;
  }

  // Three recordings: the second one of the plan split by the set-back.
  auto rc = control(kRecControlAt, 8);
  EXPECT_EQ(le16(&rc[0]), 3u);
  EXPECT_EQ(le16(&rc[2]), 0u);
  EXPECT_EQ(le16(&rc[4]), 2u);
  const auto recs = disk.copy_item(2, kRecTableAt, 28000);
  struct Rec {
    int attribute, start, end, start_block, start_seg, end_block, end_seg, kind, skip;
  };
  const Rec want_recs[] = {{0, 0, 29, 3, 24995, 4, 2, 0, 0},
                           {0, 35, 39, 4, 3, 4, 4, 3, 1},
                           {1, 20, 39, 4, 5, 4, 9, 3, 1}};
  for (int i = 0; i < 3; ++i) {
    const uint8_t* e = &recs[kRecEntry * i];
    const Rec& w = want_recs[i];
    SCOPED_TRACE("recording " + std::to_string(i));
    EXPECT_TRUE(checksum_ok(e, kRecEntry));
    EXPECT_EQ(le16(e), static_cast<uint32_t>(w.attribute));
    EXPECT_EQ(time_at(e + 2), at(w.start));
    EXPECT_EQ(time_at(e + 8), at(w.end));
    EXPECT_EQ(e[14], w.start_block);
    EXPECT_EQ(e[15], w.end_block);
    EXPECT_EQ(le32(e + 16), static_cast<uint32_t>(w.start_seg));
    EXPECT_EQ(le32(e + 20), static_cast<uint32_t>(w.end_seg));
    EXPECT_EQ(e[24], w.kind);
    EXPECT_EQ(e[26], w.skip);
    EXPECT_EQ(info_->recordings[i].start, at(w.start));
  }

  // Two alarms: at the recorded seconds 13 and 41 of 55, 20 s long, cut at a recording's end.
  auto ac = control(kAlarmControlAt, 4);
  EXPECT_EQ(ac[0], 2);
  EXPECT_EQ(ac[1], 0);
  EXPECT_EQ(ac[2], 1);
  const auto alarms = disk.copy_item(2, kAlarmTableAt, 1400);
  const int want_alarms[2][3] = {{0, 13, 29}, {1, 26, 39}};
  for (int i = 0; i < 2; ++i) {
    const uint8_t* e = &alarms[kAlarmEntry * i];
    SCOPED_TRACE("alarm " + std::to_string(i));
    EXPECT_TRUE(checksum_ok(e, kAlarmEntry));
    EXPECT_EQ(e[0], want_alarms[i][0]);
    EXPECT_EQ(time_at(e + 2), at(want_alarms[i][1]));
    EXPECT_EQ(time_at(e + 8), at(want_alarms[i][2]));
  }
}

TEST_F(SmallImageTest, OlderCopiesHoldAnEarlierIndex) {
  Disk disk(image_->path);
  // Copy 1 lacks the last segment, copy 0 the last two: the last recording ends earlier and
  // block 4 holds fewer segments; the segment tables stop there too.
  const struct {
    int copy, segments, rec_end, block4_count;
  } rows[] = {{2, 15, 39, 10}, {1, 14, 35, 9}, {0, 13, 31, 8}};
  for (const auto& r : rows) {
    SCOPED_TRACE("copy " + std::to_string(r.copy));
    const auto recs = disk.copy_item(r.copy, kRecTableAt, 28000);
    EXPECT_TRUE(checksum_ok(&recs[kRecEntry * 2], kRecEntry));
    EXPECT_EQ(time_at(&recs[kRecEntry * 2 + 8]), at(r.rec_end));
    const auto blocks = disk.copy_item(r.copy, kBlockTableAt, 6500);
    EXPECT_EQ(le16(&blocks[kBlockEntry * 4]), static_cast<uint32_t>(r.block4_count));
    EXPECT_EQ(le16(&blocks[kBlockEntry * 4 + 4]), static_cast<uint32_t>(r.block4_count - 1));
    const auto last = disk.segment_entry(r.copy, 4, r.block4_count - 1);
    EXPECT_TRUE(checksum_ok(last.data(), kSegEntry));
    EXPECT_NE(last[14], 0);
    EXPECT_EQ(disk.segment_entry(r.copy, 4, r.block4_count), std::vector<uint8_t>(kSegEntry, 0));
    EXPECT_EQ(info_->copies[r.copy].recording_entries.back().end, at(r.rec_end));
  }
}

// Decodes a JPEG with libavcodec into its luma plane.
bool decode_jpeg(const std::vector<uint8_t>& jpeg, Picture* out) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::vector<uint8_t> padded(jpeg);
  padded.resize(jpeg.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  bool ok = avcodec_open2(ctx, codec, nullptr) == 0;
  pkt->data = padded.data();
  pkt->size = static_cast<int>(jpeg.size());
  ok = ok && avcodec_send_packet(ctx, pkt) == 0 && avcodec_receive_frame(ctx, frame) == 0;
  if (ok) {
    out->width = frame->width;
    out->height = frame->height;
    out->y.resize(static_cast<size_t>(frame->width) * frame->height);
    for (int row = 0; row < frame->height; ++row) {
      std::memcpy(&out->y[static_cast<size_t>(row) * frame->width],
                  frame->data[0] + static_cast<ptrdiff_t>(row) * frame->linesize[0],
                  static_cast<size_t>(frame->width));
    }
  }
  pkt->data = nullptr;
  pkt->size = 0;
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  return ok;
}

TEST_F(SmallImageTest, StillsAreWordSwappedJpegsWithTheirHeader) {
  Disk disk(image_->path);
  ASSERT_EQ(info_->stills.size(), 2u);
  uint32_t sector = info_->still_area_sector;
  for (size_t i = 0; i < 2; ++i) {
    const StillInfo& s = info_->stills[i];
    SCOPED_TRACE("still " + std::to_string(i));
    EXPECT_EQ(s.sector, sector);
    const auto stored = disk.read(s.sector, (s.size + 511) / 512 * 512);
    EXPECT_EQ(stored[0], 0xD8);
    EXPECT_EQ(stored[1], 0xFF);
    std::vector<uint8_t> j(s.size);
    for (size_t k = 0; k < j.size(); ++k) j[k] = stored[k ^ 1];
    EXPECT_EQ(j, s.jpeg);
    const uint32_t size = (j[41] << 16) | (j[42] << 8) | j[43];
    EXPECT_EQ(size, s.size);
    EXPECT_LT(size, 0x40000u);
    EXPECT_EQ(size % 2, 0u);
    EXPECT_EQ(j[size - 2], 0xFF);
    EXPECT_EQ(j[size - 1], 0xD9);
    // Stills at 1/4 and 3/4 of the 60 s stretch: seconds 15 and 45 (clock 25).
    EXPECT_EQ(time_at(&j[34]), at(i == 0 ? 15 : 25));
    EXPECT_EQ(j[25] << 8 | j[24], static_cast<int>(i + 1));
    EXPECT_EQ(j[7] >> 4, static_cast<int>(i));
    EXPECT_EQ(j[40] & 0x0F, static_cast<int>(i));
    EXPECT_EQ(s.channel, static_cast<int>(i));
    Picture decoded;
    ASSERT_TRUE(decode_jpeg(j, &decoded));
    const SyntheticChannel camera(s.channel, 64, 48);
    EXPECT_GT(luma_psnr(decoded, camera.source_picture(s.picture)), 30.0);
    // The next still follows after the gap of three sectors.
    sector += (s.size + 511) / 512 + 3;
  }
  // The gap before the second still and everything after the last are empty.
  EXPECT_EQ(disk.read(info_->stills[1].sector - 1, 512), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(disk.read(sector - 3, 512), std::vector<uint8_t>(512, 0));
}

TEST(StillNameTest, NameFollowsTheHeaderFields) {
  StillInfo s;
  s.time = RecTime{7, 3, 15, 12, 30, 45};
  s.frame = 2;
  s.serial = 0x1A;
  EXPECT_EQ(still_file_name(s, 1), "1_070315_1230452_1a.jpg");
  EXPECT_EQ(still_file_name(s, 0), "0_070315_1230452_1a.jpg");
  s.serial = 0xFFFF;
  s.frame = 15;
  s.time = RecTime{99, 12, 31, 23, 59, 59};
  EXPECT_EQ(still_file_name(s, 12345), "12345_991231_23595915_ffff.jpg");
}

// ---- Generations --------------------------------------------------------------------------

DiskImageDesc tiny_desc() {
  DiskImageDesc s;
  s.channels = 1;
  s.audio_channels = 0;
  s.recordings = {{6, 0, 0, false}};
  s.chunks_per_segment = 1;
  s.media = false;
  s.video.fps = 1;
  s.video.width = 32;
  s.video.height = 32;
  return s;
}

TEST(GenerationTest, EachCopyHoldsItsTurnOfTheGenerations) {
  const int want[6][3] = {{0, 4, 5}, {0, 1, 5}, {0, 1, 2}, {3, 1, 2}, {3, 4, 2}, {3, 4, 5}};
  for (int g = 0; g < 6; ++g) {
    SCOPED_TRACE("newest generation " + std::to_string(g));
    TempImage image("gen" + std::to_string(g));
    DiskImageDesc desc = tiny_desc();
    desc.newest_generation = g;
    std::string error;
    ASSERT_TRUE(write_disk_image(desc, image.path, &error)) << error;
    Disk disk(image.path);
    for (int c = 0; c < 3; ++c) {
      const auto h = disk.copy_item(c, kHeaderAt, 16);
      EXPECT_TRUE(checksum_ok(h.data(), 16));
      EXPECT_EQ(h[12], want[g][c]) << "copy " << c;
      // The copy of the newest generation holds all six segments, the others fewer.
      EXPECT_EQ(le32(&h[8]), c == g % 3 ? 6u : (c == (g + 2) % 3 ? 5u : 4u)) << "copy " << c;
    }
  }
}

// ---- Damage ----------------------------------------------------------------------------------

TEST(DamageTest, StaleAndTornCopies) {
  TempImage clean("clean"), stale("stale"), torn("torn");
  DiskImageDesc desc = small_desc();
  desc.stills = 0;
  std::string error;
  ASSERT_TRUE(write_disk_image(desc, clean.path, &error)) << error;
  desc.damage.copies[2].stale = true;
  DiskImageInfo stale_info;
  ASSERT_TRUE(write_disk_image(desc, stale.path, &stale_info, &error)) << error;
  desc.damage.copies[2].stale = false;
  desc.damage.copies[2].torn_at_sector = 30;
  ASSERT_TRUE(write_disk_image(desc, torn.path, &error)) << error;

  Disk c(clean.path), s(stale.path), t(torn.path);
  // The stale copy holds generation 5 (three writes before 2) and three segments fewer.
  const auto sh = s.copy_item(2, kHeaderAt, 16);
  EXPECT_TRUE(checksum_ok(sh.data(), 16));
  EXPECT_EQ(sh[12], 5);
  EXPECT_EQ(le32(&sh[8]), 12u);
  EXPECT_EQ(stale_info.copies[2].generation, 5);
  EXPECT_EQ(stale_info.copies[2].segments, 12);
  // The other copies are untouched.
  for (int copy : {0, 1}) {
    EXPECT_EQ(s.copy_item(copy, 0, 100 * 512), c.copy_item(copy, 0, 100 * 512)) << copy;
  }

  // The torn copy: new up to sector 29, half of sector 30, old from sector 31 on, through
  // the segment tables of blocks 3 and 4.
  const uint64_t end = kSegTablesAt + kSegTableSectors * 5;
  const auto tc = t.copy_item(2, 0, end * 512);
  const auto cc = c.copy_item(2, 0, end * 512);
  const auto sc = s.copy_item(2, 0, end * 512);
  ASSERT_NE(cc, sc);  // the test would not see anything otherwise
  EXPECT_TRUE(std::equal(tc.begin(), tc.begin() + 30 * 512 + 256, cc.begin()));
  EXPECT_TRUE(std::equal(tc.begin() + 30 * 512 + 256, tc.end(), sc.begin() + 30 * 512 + 256));
  EXPECT_FALSE(std::equal(cc.begin() + 30 * 512 + 256, cc.end(), sc.begin() + 30 * 512 + 256));
}

TEST(DamageTest, ChecksumsAndFieldsAsAsked) {
  TempImage clean("clean2"), damaged("damaged");
  DiskImageDesc desc = small_desc();
  desc.stills = 0;
  std::string error;
  ASSERT_TRUE(write_disk_image(desc, clean.path, &error)) << error;
  DamageOptions& d = desc.damage;
  d.copies[1].bad_header_checksum = true;
  d.copies[0].generation = 7;
  d.bad_entries = {{2, IndexTable::kRecordings, 1}, {1, IndexTable::kAlarms, -1}};
  d.bad_segments = {{2, 2}};
  d.chunk_count_55 = {{3, -1}};
  d.unplayable_segments = {{4, -1}};
  d.bad_chunk_entries = {{0, 1, 0}};
  d.oversize_chunks = {{0, 2, 0}};
  d.end_markers = {{1, 0, 2}};
  d.unknown_markers = {{1, 1, 0}};
  DiskImageInfo info;
  ASSERT_TRUE(write_disk_image(desc, damaged.path, &info, &error)) << error;
  Disk c(clean.path), x(damaged.path);

  const auto h1 = x.copy_item(1, kHeaderAt, 16);
  EXPECT_FALSE(checksum_ok(h1.data(), 16));
  EXPECT_EQ(h1[12], 1);
  const auto h0 = x.copy_item(0, kHeaderAt, 16);
  EXPECT_TRUE(checksum_ok(h0.data(), 16));
  EXPECT_EQ(h0[12], 7);
  EXPECT_EQ(info.copies[0].generation, 7);
  EXPECT_FALSE(info.copies[1].header_valid);

  const auto recs = x.copy_item(2, kRecTableAt, 28000);
  EXPECT_TRUE(checksum_ok(&recs[0], kRecEntry));
  EXPECT_FALSE(checksum_ok(&recs[kRecEntry], kRecEntry));
  EXPECT_TRUE(checksum_ok(&recs[2 * kRecEntry], kRecEntry));
  EXPECT_TRUE(checksum_ok(x.copy_item(1, kRecTableAt, 512).data() + kRecEntry, kRecEntry));
  EXPECT_FALSE(checksum_ok(x.copy_item(1, kAlarmControlAt, 4).data(), 4));
  EXPECT_TRUE(checksum_ok(x.copy_item(2, kAlarmControlAt, 4).data(), 4));

  // Segment 2 (block 3, slot 24997) is bad in copy 2 only.
  for (int copy = 0; copy < 3; ++copy) {
    const auto e = x.segment_entry(copy, 3, 24997);
    EXPECT_EQ(checksum_ok(e.data(), kSegEntry), copy != 2) << copy;
    const auto e3 = x.segment_entry(copy, 3, 24998);
    EXPECT_TRUE(checksum_ok(e3.data(), kSegEntry));
    EXPECT_EQ(e3[14], 55) << copy;
    const auto e4 = x.segment_entry(copy, 3, 24999);
    EXPECT_TRUE(checksum_ok(e4.data(), kSegEntry));
    EXPECT_EQ(e4[17] & 0x0F, 0) << copy;
    EXPECT_EQ(x.segment_entry(copy, 4, 0), c.segment_entry(copy, 4, 0)) << copy;
  }

  const auto index0 = x.read(info.segments[0].chunk_index_sector, 1280);
  EXPECT_TRUE(checksum_ok(&index0[0], kChunkEntry));
  EXPECT_FALSE(checksum_ok(&index0[kChunkEntry], kChunkEntry));
  EXPECT_TRUE(checksum_ok(&index0[2 * kChunkEntry], kChunkEntry));
  EXPECT_EQ(le32(&index0[2 * kChunkEntry + 12]), 0x200001u);

  // Segment 1: the third packet of chunk 0 ends the data, the first of chunk 1 is unknown.
  const auto index1 = x.read(info.segments[1].chunk_index_sector, 1280);
  for (int chunk = 0; chunk < 2; ++chunk) {
    const auto data =
        x.read(le32(&index1[kChunkEntry * chunk + 16]), le32(&index1[kChunkEntry * chunk + 12]));
    std::vector<uint32_t> markers;
    for (size_t p = 100; p + 48 <= data.size(); p += 48 + le32(&data[p + 16])) {
      markers.push_back(le16(&data[p]));
    }
    ASSERT_GE(markers.size(), 4u);
    EXPECT_EQ(markers[0], chunk == 0 ? 0xFBFFu : 0x1234u);
    EXPECT_EQ(markers[1], 0xFBFFu);
    EXPECT_EQ(markers[2], chunk == 0 ? 0xFFFFu : 0xFBFFu);
    EXPECT_EQ(info.segments[1].chunks[chunk].packets[chunk == 0 ? 2 : 0].marker,
              chunk == 0 ? 0xFFFF : 0x1234);
  }
}

// ---- Wrapped rings and real media ------------------------------------------------------------

TEST(RingTest, RingsWrapFromTheirFirstSlots) {
  TempImage image("wrap");
  DiskImageDesc desc = tiny_desc();
  desc.recordings.clear();
  for (int i = 0; i < 6; ++i) desc.recordings.push_back({2, 1, 0, false});
  desc.start_block = 249;
  desc.start_segment = 24995;
  desc.first_recording_slot = 997;
  desc.first_attribute = 99;
  desc.first_attribute_slot = 99;
  desc.first_alarm_slot = 48;
  desc.alarms = 4;
  desc.alarm_s = 1;
  desc.clock_set_backs = {{7, 60}};
  std::string error;
  ASSERT_TRUE(write_disk_image(desc, image.path, &error)) << error;
  Disk disk(image.path);
  // 12 segments from block 249 slot 24995: five in block 249, seven in block 0.
  const auto bc = disk.copy_item(2, kBlockControlAt, 8);
  EXPECT_EQ(bc[0], 2);
  EXPECT_EQ(bc[1], 249);
  EXPECT_EQ(bc[2], 0);
  EXPECT_EQ(le16(&bc[4]), 6u);
  // Recordings in slots 997, 998, 999, 0, 1, 2; the third begins with the set-back at
  // second 7, under attribute 0, which follows 99.
  const auto rc = disk.copy_item(2, kRecControlAt, 8);
  EXPECT_EQ(le16(&rc[0]), 6u);
  EXPECT_EQ(le16(&rc[2]), 997u);
  EXPECT_EQ(le16(&rc[4]), 2u);
  const auto recs = disk.copy_item(2, kRecTableAt, 28000);
  EXPECT_EQ(le16(&recs[kRecEntry * 998]), 99u);
  EXPECT_EQ(le16(&recs[kRecEntry * 999]), 0u);
  EXPECT_EQ(le16(&recs[kRecEntry * 2]), 0u);
  const auto ta = disk.copy_item(2, kAttrControlAt, 8);
  EXPECT_EQ(le16(&ta[0]), 2u);
  EXPECT_EQ(le16(&ta[2]), 99u);
  EXPECT_EQ(le16(&ta[4]), 0u);
  const auto ac = disk.copy_item(2, kAlarmControlAt, 4);
  EXPECT_EQ(ac[0], 4);
  EXPECT_EQ(ac[1], 48);
  EXPECT_EQ(ac[2], 1);
}

TEST(MediaTest, ChunksCarryRealPicturesAndSound) {
  TempImage image("media");
  DiskImageDesc desc;
  desc.channels = 2;
  desc.audio_channels = 1;
  desc.recordings = {{4, 0, 0, false}};
  desc.chunks_per_segment = 4;
  desc.repeat_after_s = 2;
  desc.video.fps = 5;
  DiskImageInfo info;
  std::string error;
  ASSERT_TRUE(write_disk_image(desc, image.path, &info, &error)) << error;
  Disk disk(image.path);
  ASSERT_EQ(info.segments.size(), 1u);
  const auto& chunks = info.segments[0].chunks;
  ASSERT_EQ(chunks.size(), 4u);
  // Seconds 2 and 3 repeat the data of seconds 0 and 1.
  EXPECT_FALSE(chunks[1].repeated);
  EXPECT_TRUE(chunks[2].repeated);
  EXPECT_EQ(chunks[2].sector, chunks[0].sector);
  EXPECT_EQ(chunks[3].sector, chunks[1].sector);
  EXPECT_EQ(chunks[3].time, at(3));

  const auto data = disk.read(chunks[1].sector, chunks[1].size);
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<uint8_t> sound;
  for (size_t p = 100; p + 48 <= data.size(); p += 48 + le32(&data[p + 16])) {
    const uint8_t* pes = &data[p + 48];
    const size_t length = le32(&data[p + 16]);
    const size_t payload = 9 + pes[8];
    if (pes[3] == 0xE1) pictures.emplace_back(pes + payload, pes + length);
    if (pes[3] == 0xC0 && sound.empty()) sound.assign(pes, pes + length);
  }
  ASSERT_EQ(pictures.size(), 5u);
  std::vector<Picture> decoded;
  ASSERT_TRUE(decode_video_packets(pictures, &decoded, &error)) << error;
  ASSERT_EQ(decoded.size(), 5u);
  const SyntheticChannel camera(1, 352, 240);
  for (int i = 0; i < 5; ++i) {
    EXPECT_GT(luma_psnr(decoded[i], camera.source_picture(5 + i)), 30.0) << i;
    EXPECT_EQ(read_frame_counter(decoded[i]), 5 + i);
    EXPECT_EQ(read_channel_number(decoded[i]), 1);
  }
  // The first audio packet of second 1 is packet 2 (1.024 s); it decodes to the tone.
  ASSERT_EQ(sound.size(), 2112u);
  EXPECT_EQ(pes_time(&sound[9]), 90000u + 2 * 46080);
  AdpcmState state;
  state.predictor = static_cast<int16_t>(le16(&sound[56]));
  state.index = sound[58];
  std::vector<int16_t> pcm(4096);
  decode_adpcm(&sound[64], 2048, &state, pcm.data());
  const std::vector<int16_t> tone = tone_samples(0, 2 * 4096, 4096);
  double signal = 0, noise = 0;
  for (size_t i = 0; i < pcm.size(); ++i) {
    const double want = tone[i];
    const double got = pcm[i];
    signal += want * want;
    noise += (got - want) * (got - want);
  }
  EXPECT_GT(10 * std::log10(signal / std::max(noise, 1.0)), 15.0);
}

// ---- A full-size index -------------------------------------------------------------------------

TEST(FullIndexTest, EveryBlockAndSlotIsInUse) {
  TempImage image("full");
  DiskImageDesc desc = tiny_desc();
  desc.recordings = {{20, 0, 0, false}};
  desc.chunks_per_segment = 10;
  desc.full_size_index = true;
  DiskImageInfo info;
  std::string error;
  ASSERT_TRUE(write_disk_image(desc, image.path, &info, &error)) << error;
  EXPECT_EQ(info.filler_segments, 250 * 25000 - 2);
  Disk disk(image.path);
  const auto bc = disk.copy_item(2, kBlockControlAt, 8);
  EXPECT_TRUE(checksum_ok(bc.data(), 8));
  EXPECT_EQ(bc[0], 250);
  EXPECT_EQ(bc[1], 0);
  EXPECT_EQ(bc[2], 249);
  EXPECT_EQ(le16(&bc[4]), 24999u);
  const auto blocks = disk.copy_item(2, kBlockTableAt, 6500);
  for (int b = 0; b < 250; ++b) {
    const uint8_t* e = &blocks[kBlockEntry * b];
    ASSERT_TRUE(checksum_ok(e, kBlockEntry)) << b;
    ASSERT_EQ(le16(e), 25000u) << b;
    ASSERT_EQ(le16(e + 2), 0u) << b;
    ASSERT_EQ(le16(e + 4), 24999u) << b;
  }
  // Filler segments 10 s apart, ending where the recording begins.
  const int64_t start = clock_seconds(at(0));
  for (auto [block, slot] :
       {std::pair{0, 0}, std::pair{0, 24999}, std::pair{137, 12345}, std::pair{249, 24997}}) {
    const auto e = disk.segment_entry(2, block, slot);
    ASSERT_TRUE(checksum_ok(e.data(), kSegEntry));
    const int64_t g = int64_t{block} * 25000 + slot;
    EXPECT_EQ(clock_seconds(time_at(&e[2])), start - (250 * 25000 - 2 - g) * 10);
    EXPECT_EQ(e[14], 1);
    // The block's shared chunk index holds one chunk stamped with its last filler time.
    const auto index = disk.read(le32(&e[8]), 32);
    EXPECT_TRUE(checksum_ok(index.data(), 32));
    EXPECT_EQ(le32(&index[16]), info.segments[0].chunks[0].sector);
  }
  for (int slot : {24998, 24999}) {
    const auto e = disk.segment_entry(2, 249, slot);
    EXPECT_EQ(time_at(&e[2]), at((slot - 24998) * 10));
    EXPECT_EQ(e[14], 10);
  }
  const auto rc = disk.copy_item(2, kRecControlAt, 8);
  EXPECT_EQ(le16(&rc[0]), 251u);
  struct stat st {};
  ASSERT_EQ(::stat(image.path.c_str(), &st), 0);
  // Three copies of 250 segment tables, hardly any video.
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 3 * 125500000ull + (8u << 20));
}

// ---- Refusals and the command line ---------------------------------------------------------

TEST(DescriptionTest, ImpossibleDescriptionsAreRefused) {
  struct Row {
    const char* name;
    void (*change)(DiskImageDesc*);
  } rows[] = {
      {"no channels", [](DiskImageDesc* s) { s->channels = 0; }},
      {"17 channels", [](DiskImageDesc* s) { s->channels = 17; }},
      {"41 chunks a segment", [](DiskImageDesc* s) { s->chunks_per_segment = 41; }},
      {"too many packets a chunk",
       [](DiskImageDesc* s) {
         s->channels = 16;
         s->video.fps = 30;
       }},
      {"disk too small", [](DiskImageDesc* s) { s->size_bytes = 1 << 20; }},
      {"generation 6", [](DiskImageDesc* s) { s->newest_generation = 6; }},
      {"damage outside the stretch", [](DiskImageDesc* s) { s->damage.bad_segments = {{99}}; }},
      {"packet outside its chunk",
       [](DiskImageDesc* s) {
         s->damage.end_markers = {{0, 0, 200}};
       }},
      {"filler before 2000",
       [](DiskImageDesc* s) {
         s->full_size_index = true;
         s->start = RecTime{0, 1, 20, 0, 0, 0};  // 72 days of filler before it
       }},
      {"torn at sector 0", [](DiskImageDesc* s) { s->damage.copies[0].torn_at_sector = 0; }},
  };
  for (const Row& r : rows) {
    TempImage image("refused");
    DiskImageDesc desc = tiny_desc();
    r.change(&desc);
    std::string error;
    EXPECT_FALSE(write_disk_image(desc, image.path, &error)) << r.name;
    EXPECT_FALSE(error.empty()) << r.name;
  }
}

TEST(CommandLineTest, OptionsAndDescriptionFileFillTheDescription) {
  const std::vector<std::string> args = {"out.img",      "--hours",     "0.5",
                                         "--channels",   "3",           "--clock-set-back",
                                         "10m,5m",       "--alarms",    "4",
                                         "--stills",     "2",           "--size",
                                         "2G",           "--start",     "2007-03-15 12:30:45",
                                         "--start-slot", "7:100",       "--torn",
                                         "1:40",         "--bad-entry", "2:alarms:control",
                                         "--end-marker", "1:2:3",       "--full-index",
                                         "--placeholder"};
  DiskImageDesc desc;
  std::string path, error;
  ASSERT_TRUE(parse_disk_image_args(args, &desc, &path, &error)) << error;
  EXPECT_EQ(path, "out.img");
  EXPECT_EQ(desc.hours, 0.5);
  EXPECT_EQ(desc.channels, 3);
  ASSERT_EQ(desc.clock_set_backs.size(), 1u);
  EXPECT_EQ(desc.clock_set_backs[0].at_s, 600);
  EXPECT_EQ(desc.clock_set_backs[0].back_s, 300);
  EXPECT_EQ(desc.alarms, 4);
  EXPECT_EQ(desc.stills, 2);
  EXPECT_EQ(desc.size_bytes, 2ull << 30);
  EXPECT_EQ(desc.start, (RecTime{7, 3, 15, 12, 30, 45}));
  EXPECT_EQ(desc.start_block, 7);
  EXPECT_EQ(desc.start_segment, 100);
  EXPECT_EQ(desc.damage.copies[1].torn_at_sector, 40);
  ASSERT_EQ(desc.damage.bad_entries.size(), 1u);
  EXPECT_EQ(desc.damage.bad_entries[0].table, IndexTable::kAlarms);
  EXPECT_EQ(desc.damage.bad_entries[0].entry, -1);
  ASSERT_EQ(desc.damage.end_markers.size(), 1u);
  EXPECT_EQ(desc.damage.end_markers[0].packet, 3);
  EXPECT_TRUE(desc.full_size_index);
  EXPECT_FALSE(desc.media);

  // The same options from a description file.
  const std::string file = temp_path("description");
  {
    std::ofstream out(file);
    out << "# a test disk\nout out.img\nhours 0.5\nchannels 3   # three cameras\n"
           "clock-set-back 10m,5m\nalarms 4\nstills 2\nsize 2G\n"
           "start 2007-03-15 12:30:45\nstart-slot 7:100\ntorn 1:40\n"
           "bad-entry 2:alarms:control\nend-marker 1:2:3\nfull-index\nplaceholder\n";
  }
  DiskImageDesc from_file;
  std::string file_path;
  ASSERT_TRUE(parse_disk_image_args({"--from", file}, &from_file, &file_path, &error)) << error;
  ::unlink(file.c_str());
  EXPECT_EQ(file_path, path);
  EXPECT_EQ(from_file.start, desc.start);
  EXPECT_EQ(from_file.channels, desc.channels);
  EXPECT_EQ(from_file.clock_set_backs[0].back_s, 300);
  EXPECT_EQ(from_file.size_bytes, desc.size_bytes);
  EXPECT_EQ(from_file.damage.copies[1].torn_at_sector, 40);
  EXPECT_TRUE(from_file.full_size_index);

  const std::vector<std::vector<std::string>> bad = {{"x.img", "--torn", "3:5"},
                                                     {"x.img", "--bad-entry", "0:foo:1"},
                                                     {"x.img", "--size", "0"},
                                                     {"x.img", "--clock-set-back", "soon"},
                                                     {"x.img", "--hours"},
                                                     {"x.img", "--frobnicate", "1"},
                                                     {"--channels", "2"},
                                                     {"x.img", "y.img"},
                                                     {"x.img", "--start", "2007-02-30 00:00:00"}};
  for (const auto& b : bad) {
    DiskImageDesc s;
    std::string p, e;
    EXPECT_FALSE(parse_disk_image_args(b, &s, &p, &e)) << b.back();
    EXPECT_FALSE(e.empty());
  }
}

TEST(CommandLineTest, SubcommandWritesTheImage) {
  TempImage image("cli");
  EXPECT_EQ(run_disk_image_command({image.path, "--hours", "0.002", "--channels", "1",
                                    "--placeholder", "--size", "1G", "--quiet"}),
            0);
  struct stat st {};
  ASSERT_EQ(::stat(image.path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1 << 30);
  Disk disk(image.path);
  EXPECT_TRUE(checksum_ok(disk.copy_item(2, kHeaderAt, 16).data(), 16));
  EXPECT_EQ(run_disk_image_command({image.path, "--channels", "99", "--quiet"}), 1);
  EXPECT_EQ(run_disk_image_command({"--bogus"}), 2);
}

}  // namespace
}  // namespace virazav::sim
