// The test builder of recorder disk images (see record_index_image.h).
#include "record_index_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "platform/fault.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"

namespace virazav::testing {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint32_t kSlotsPerBlock = 25000;
constexpr uint64_t kRingSlots = 250ull * kSlotsPerBlock;

// Sector offsets inside a copy.
constexpr uint32_t kHeaderSector = 1;
constexpr uint32_t kControlSector[4] = {2, 9, 23, 79};
constexpr uint32_t kTableSector[4] = {3, 10, 24, 80};
constexpr size_t kControlSize[4] = {8, 8, 8, 4};
constexpr size_t kEntrySize[4] = {28, 26, 28, 28};
constexpr uint32_t kSegmentTablesSector = 83;
constexpr uint32_t kSegmentTableSectors = 977;

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_stamp(uint8_t* p, const Stamp& t) {
  p[0] = static_cast<uint8_t>(t.year);
  p[1] = static_cast<uint8_t>(t.month);
  p[2] = static_cast<uint8_t>(t.day);
  p[3] = static_cast<uint8_t>(t.hour);
  p[4] = static_cast<uint8_t>(t.minute);
  p[5] = static_cast<uint8_t>(t.second);
}
void seal(uint8_t* p, size_t n, bool good) {
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < n; ++i) sum = static_cast<uint8_t>(sum + p[i]);
  p[n - 1] = good ? sum : static_cast<uint8_t>(sum + 1);
}

template <typename Fn>
void for_copies(int copy, Fn fn) {
  if (copy >= 0) {
    fn(copy);
    return;
  }
  for (int c = 0; c < 3; ++c) fn(c);
}

}  // namespace

Stamp add_seconds(Stamp t, int seconds) {
  int total = ((t.day - 1) * 24 + t.hour) * 3600 + t.minute * 60 + t.second + seconds;
  t.day = total / 86400 + 1;
  total %= 86400;
  t.hour = total / 3600;
  t.minute = total / 60 % 60;
  t.second = total % 60;
  return t;
}

uint32_t stamp_number(const Stamp& t) {
  uint32_t days = static_cast<uint32_t>(t.day + 31 * (t.month + 12 * t.year) - 32);
  return static_cast<uint32_t>(t.second + 60 * (t.minute + 60 * (t.hour + 24 * days)));
}

IndexImage::IndexImage(std::string path, uint32_t data_sectors) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error("cannot create " + path_);
  truncate((static_cast<uint64_t>(kDataAreaSector) + data_sectors) * kSector);
}

IndexImage::~IndexImage() {
  if (fd_ >= 0) ::close(fd_);
}

void IndexImage::write(uint64_t offset, const void* data, size_t n) {
  if (::pwrite(fd_, data, n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n)) {
    throw std::runtime_error("short write to " + path_);
  }
}

std::vector<uint8_t> IndexImage::read(uint64_t offset, size_t n) {
  std::vector<uint8_t> out(n);
  ssize_t r = ::pread(fd_, out.data(), n, static_cast<off_t>(offset));
  out.resize(r > 0 ? static_cast<size_t>(r) : 0);
  return out;
}

void IndexImage::xor_byte(uint64_t offset, uint8_t mask) {
  std::vector<uint8_t> b = read(offset, 1);
  uint8_t v = static_cast<uint8_t>((b.empty() ? 0 : b[0]) ^ mask);
  write(offset, &v, 1);
}

void IndexImage::truncate(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
    throw std::runtime_error("cannot size " + path_);
}

uint64_t IndexImage::header_offset(int copy) {
  return (kCopyStart[copy] + kHeaderSector) * kSector;
}
uint64_t IndexImage::control_offset(int copy, Table t) {
  return (kCopyStart[copy] + kControlSector[static_cast<int>(t)]) * kSector;
}
uint64_t IndexImage::entry_offset(int copy, Table t, int slot) {
  return (kCopyStart[copy] + kTableSector[static_cast<int>(t)]) * kSector +
         static_cast<uint64_t>(slot) * kEntrySize[static_cast<int>(t)];
}
uint64_t IndexImage::segment_offset(int copy, int block, int segment) {
  return (static_cast<uint64_t>(kCopyStart[copy]) + kSegmentTablesSector +
          static_cast<uint64_t>(kSegmentTableSectors) * block) *
             kSector +
         static_cast<uint64_t>(segment) * 20;
}

void IndexImage::header(int copy, int generation, bool good_checksum) {
  for_copies(copy, [&](int c) {
    uint8_t h[16] = {};
    h[0] = 1;
    h[12] = static_cast<uint8_t>(generation);
    seal(h, sizeof h, good_checksum);
    write(header_offset(c), h, sizeof h);
  });
}

void IndexImage::control(int copy, Table t, int count, int oldest, int newest, bool good_checksum) {
  for_copies(copy, [&](int c) {
    uint8_t b[8] = {};
    size_t n = kControlSize[static_cast<int>(t)];
    if (t == Table::kAttributes || t == Table::kRecordings) {
      put16(b + 0, static_cast<uint32_t>(count));
      put16(b + 2, static_cast<uint32_t>(oldest));
      put16(b + 4, static_cast<uint32_t>(newest));
    } else {
      b[0] = static_cast<uint8_t>(count);
      b[1] = static_cast<uint8_t>(oldest);
      b[2] = static_cast<uint8_t>(newest);
    }
    seal(b, n, good_checksum);
    write(control_offset(c, t), b, n);
  });
}

void IndexImage::attribute(int copy, int slot, const AttrFields& a) {
  for_copies(copy, [&](int c) {
    uint8_t e[28] = {};
    put16(e + 0, static_cast<uint32_t>(a.attribute));
    put_stamp(e + 2, a.first);
    put_stamp(e + 8, a.last);
    put32(e + 16, a.first_segment);
    put32(e + 20, a.last_segment);
    e[24] = static_cast<uint8_t>(a.first_block);
    e[25] = static_cast<uint8_t>(a.last_block);
    seal(e, sizeof e, true);
    write(entry_offset(c, Table::kAttributes, slot), e, sizeof e);
  });
}

void IndexImage::block(int copy, int b, const BlockFields& s) {
  for_copies(copy, [&](int c) {
    uint8_t e[26] = {};
    put16(e + 0, static_cast<uint32_t>(s.count));
    put16(e + 2, static_cast<uint32_t>(s.first_segment));
    put16(e + 4, static_cast<uint32_t>(s.last_segment));
    put16(e + 6, static_cast<uint32_t>(s.first_attribute));
    put_stamp(e + 8, s.first_time);
    put16(e + 14, static_cast<uint32_t>(s.last_attribute));
    put_stamp(e + 16, s.last_time);
    seal(e, sizeof e, true);
    write(entry_offset(c, Table::kBlocks, b), e, sizeof e);
  });
}

void IndexImage::recording(int copy, int slot, const RecFields& r) {
  for_copies(copy, [&](int c) {
    uint8_t e[28] = {};
    put16(e + 0, static_cast<uint32_t>(r.attribute));
    put_stamp(e + 2, r.start);
    put_stamp(e + 8, r.end);
    e[14] = static_cast<uint8_t>(r.start_block);
    e[15] = static_cast<uint8_t>(r.end_block);
    put32(e + 16, r.start_segment);
    put32(e + 20, r.end_segment);
    e[24] = static_cast<uint8_t>(r.kind);
    e[26] = static_cast<uint8_t>(r.skip_again);
    seal(e, sizeof e, true);
    write(entry_offset(c, Table::kRecordings, slot), e, sizeof e);
  });
}

void IndexImage::alarm(int copy, int slot, const Stamp& start, const Stamp& end) {
  for_copies(copy, [&](int c) {
    uint8_t e[28] = {};
    put_stamp(e + 2, start);
    put_stamp(e + 8, end);
    seal(e, sizeof e, true);
    write(entry_offset(c, Table::kAlarms, slot), e, sizeof e);
  });
}

void IndexImage::segment(int copy, int block, int seg, const SegFields& s, bool good_checksum) {
  for_copies(copy, [&](int c) {
    uint8_t e[20] = {};
    put_stamp(e + 2, s.time);
    put32(e + 8, s.chunk_index_sector);
    e[14] = static_cast<uint8_t>(s.chunk_count);
    e[17] = static_cast<uint8_t>(s.flags);
    e[18] = static_cast<uint8_t>(s.kind);
    seal(e, sizeof e, good_checksum);
    write(segment_offset(c, block, seg), e, sizeof e);
  });
}

void IndexImage::chunk_index(uint32_t sector, const std::vector<ChunkFields>& chunks) {
  std::vector<uint8_t> b(1280, 0);
  for (size_t j = 0; j < chunks.size() && j < 40; ++j) {
    uint8_t* e = b.data() + 32 * j;
    e[0] = static_cast<uint8_t>(chunks[j].byte0);
    e[2] = static_cast<uint8_t>(chunks[j].byte2);
    put_stamp(e + 6, chunks[j].time);
    put32(e + 12, chunks[j].size);
    put32(e + 16, chunks[j].sector);
    e[27] = static_cast<uint8_t>(chunks[j].byte27);
    seal(e, 32, chunks[j].good_checksum);
  }
  write(sector * kSector, b.data(), b.size());
}

uint32_t IndexImage::chunk(uint32_t sector, const std::vector<PacketFields>& packets,
                           int packet_count) {
  std::vector<uint8_t> b(100, 0);
  b[27] = static_cast<uint8_t>(packet_count < 0 ? packets.size() : packet_count);
  for (const PacketFields& p : packets) {
    uint8_t h[48] = {};
    put16(h, p.marker);
    put32(h + 16,
          static_cast<uint32_t>(p.length_override >= 0 ? p.length_override : p.payload.size()));
    b.insert(b.end(), h, h + 48);
    b.insert(b.end(), p.payload.begin(), p.payload.end());
  }
  write(sector * kSector, b.data(), b.size());
  return static_cast<uint32_t>(b.size());
}

std::vector<PacketFields> chunk_packets(int block, int segment, int chunk) {
  PacketFields video;
  video.marker = 0xFBFF;
  video.payload = {static_cast<uint8_t>(block),
                   static_cast<uint8_t>(segment),
                   static_cast<uint8_t>(segment >> 8),
                   static_cast<uint8_t>(chunk),
                   'V',
                   'I',
                   'D',
                   'E',
                   'O',
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0};
  PacketFields audio;
  audio.marker = 0xFCFF;
  audio.payload = {static_cast<uint8_t>(block), static_cast<uint8_t>(segment),
                   static_cast<uint8_t>(chunk), 'A'};
  return {video, audio};
}

LaidDisk lay_out(IndexImage& image, const std::vector<RecordingPlan>& plans,
                 int first_recording_slot) {
  LaidDisk disk;
  disk.first_recording_slot = first_recording_slot;
  uint64_t slot = 0;
  uint32_t data = kDataAreaSector;
  for (size_t r = 0; r < plans.size(); ++r) {
    const RecordingPlan& p = plans[r];
    if (p.first_slot >= 0) slot = static_cast<uint64_t>(p.first_slot) % kRingSlots;
    RecFields rec;
    rec.attribute = p.attribute;
    rec.kind = p.kind;
    rec.skip_again = p.skip_again;
    for (int i = 0; i < p.segments; ++i) {
      LaidSegment s;
      s.block = static_cast<int>(slot / kSlotsPerBlock);
      s.segment = static_cast<int>(slot % kSlotsPerBlock);
      s.recording = static_cast<int>(r);
      s.attribute = p.attribute;
      s.time = add_seconds(p.start, i * p.chunks);
      s.kind = i == 0 ? 2 : i == p.segments - 1 ? 1 : 0;
      s.flags =
          std::find(p.unplayable.begin(), p.unplayable.end(), i) != p.unplayable.end() ? 0 : 1;
      s.chunk_index_sector = data;
      data += 3;
      std::vector<ChunkFields> entries;
      for (int j = 0; j < p.chunks; ++j) {
        LaidChunk c;
        c.time = add_seconds(s.time, j);
        c.sector = data;
        std::vector<PacketFields> packets = chunk_packets(s.block, s.segment, j);
        c.size = image.chunk(data, packets);
        for (const PacketFields& pk : packets) {
          uint8_t h[48] = {};
          put16(h, pk.marker);
          put32(h + 16, static_cast<uint32_t>(pk.payload.size()));
          c.packets.insert(c.packets.end(), h, h + 48);
          c.packets.insert(c.packets.end(), pk.payload.begin(), pk.payload.end());
        }
        data += (c.size + 511) / 512;
        ChunkFields fields;
        fields.time = c.time;
        fields.size = c.size;
        fields.sector = c.sector;
        fields.byte0 = j;
        fields.byte2 = s.segment & 0xFF;
        fields.byte27 = 0x27;
        entries.push_back(fields);
        s.chunks.push_back(c);
      }
      image.chunk_index(s.chunk_index_sector, entries);
      SegFields seg;
      seg.time = s.time;
      seg.chunk_index_sector = s.chunk_index_sector;
      seg.chunk_count = p.chunks;
      seg.flags = s.flags;
      seg.kind = s.kind;
      image.segment(-1, s.block, s.segment, seg);
      if (i == 0) {
        rec.start = s.time;
        rec.start_block = s.block;
        rec.start_segment = static_cast<uint32_t>(s.segment);
      }
      rec.end = s.chunks.back().time;
      rec.end_block = s.block;
      rec.end_segment = static_cast<uint32_t>(s.segment);
      disk.segments.push_back(s);
      slot = (slot + 1) % kRingSlots;
    }
    disk.recordings.push_back(rec);
  }

  // Blocks in the order they were first written.
  std::vector<int> block_order;
  std::map<int, BlockFields> blocks;
  std::vector<int> attr_order;
  std::map<int, AttrFields> attrs;
  for (const LaidSegment& s : disk.segments) {
    auto it = blocks.find(s.block);
    if (it == blocks.end()) {
      BlockFields b;
      b.first_segment = s.segment;
      b.first_attribute = s.attribute;
      b.first_time = s.time;
      it = blocks.emplace(s.block, b).first;
      block_order.push_back(s.block);
    }
    it->second.count += 1;
    it->second.last_segment = s.segment;
    it->second.last_attribute = s.attribute;
    it->second.last_time = s.time;
    auto at = attrs.find(s.attribute);
    if (at == attrs.end()) {
      AttrFields a;
      a.attribute = s.attribute;
      a.first = s.time;
      a.first_segment = static_cast<uint32_t>(s.segment);
      a.first_block = s.block;
      at = attrs.emplace(s.attribute, a).first;
      attr_order.push_back(s.attribute);
    }
    at->second.last = s.chunks.empty() ? s.time : s.chunks.back().time;
    at->second.last_segment = static_cast<uint32_t>(s.segment);
    at->second.last_block = s.block;
  }
  for (int b : block_order) image.block(-1, b, blocks[b]);
  for (int a : attr_order) image.attribute(-1, a % 100, attrs[a]);
  for (size_t r = 0; r < disk.recordings.size(); ++r) {
    image.recording(-1, static_cast<int>((first_recording_slot + r) % 1000), disk.recordings[r]);
  }
  if (!block_order.empty()) {
    disk.oldest_block = block_order.front();
    disk.newest_block = block_order.back();
    image.control(-1, Table::kBlocks, static_cast<int>(block_order.size()), block_order.front(),
                  block_order.back());
  } else {
    image.control(-1, Table::kBlocks, 0, 0, 0);
  }
  if (!attr_order.empty()) {
    image.control(-1, Table::kAttributes, static_cast<int>(attr_order.size()),
                  attr_order.front() % 100, attr_order.back() % 100);
  } else {
    image.control(-1, Table::kAttributes, 0, 0, 0);
  }
  int n = static_cast<int>(disk.recordings.size());
  image.control(-1, Table::kRecordings, n, first_recording_slot % 1000,
                n ? (first_recording_slot + n - 1) % 1000 : first_recording_slot % 1000);
  image.control(-1, Table::kAlarms, 0, 0, 0);
  for (int c = 0; c < 3; ++c) image.header(c, c);
  return disk;
}

void use_image_as_drive(int drive, const std::string& path) {
  std::string name = "VIRAZAV_PHYSICALDRIVE" + std::to_string(drive);
  ::setenv(name.c_str(), path.c_str(), 1);
}

}  // namespace virazav::testing

namespace virazav::testing {

void DiskImageTest::SetUp() {
  char tmpl[] = "/tmp/virazav-disk-XXXXXX";
  const char* d = ::mkdtemp(tmpl);
  ASSERT_NE(d, nullptr);
  dir_ = d;
  recdisk::close_drive();
  recdisk::reset_record_index();
  recdisk::reset_resilient_fallback();
}

void DiskImageTest::TearDown() {
  platform::fault_reset();
  recdisk::close_drive();
  recdisk::reset_record_index();
  image_.reset();
  std::string name = "VIRAZAV_PHYSICALDRIVE" + std::to_string(kTestDrive);
  ::unsetenv(name.c_str());
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

IndexImage& DiskImageTest::make_image(uint32_t data_sectors) {
  image_.reset();
  image_ = std::make_unique<IndexImage>(dir_ + "/disk.img", data_sectors);
  use_image_as_drive(kTestDrive, image_->path());
  return *image_;
}

void DiskImageTest::open_and_load() {
  ASSERT_EQ(recdisk::open_drive(kTestDrive), 0);
  ASSERT_EQ(recdisk::first_section_play(), 0);
}

}  // namespace virazav::testing
