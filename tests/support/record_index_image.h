// A compact builder of recorder disk images for the disk reader's tests: writes
// the record index copies byte by byte from the layout in
// docs/formats/record-index.md (its own offsets, independent of the library's),
// and lays out small recordings with their segment tables, chunk indexes and
// chunks of identifiable packets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace virazav::testing {

struct Stamp {
  int year = 24, month = 5, day = 10, hour = 10, minute = 0, second = 0;
};
// The stamp `seconds` later (within the month; tests stay well inside one).
Stamp add_seconds(Stamp t, int seconds);
// The library's time number of a stamp, computed here from the definition.
uint32_t stamp_number(const Stamp& t);

enum class Table { kAttributes = 0, kBlocks = 1, kRecordings = 2, kAlarms = 3 };

struct AttrFields {
  int attribute = 0;
  Stamp first, last;
  uint32_t first_segment = 0, last_segment = 0;
  int first_block = 0, last_block = 0;
};
struct BlockFields {
  int count = 0, first_segment = 0, last_segment = 0;
  int first_attribute = 0, last_attribute = 0;
  Stamp first_time, last_time;
};
struct RecFields {
  int attribute = 0;
  Stamp start, end;
  int start_block = 0, end_block = 0;
  uint32_t start_segment = 0, end_segment = 0;
  int kind = 0, skip_again = 0;
};
struct SegFields {
  Stamp time;
  uint32_t chunk_index_sector = 0;
  int chunk_count = 0, flags = 1, kind = 0;
};
struct ChunkFields {
  Stamp time;
  uint32_t size = 0, sector = 0;
  int byte0 = 0, byte2 = 0, byte27 = 0;
  bool good_checksum = true;
};
struct PacketFields {
  uint16_t marker = 0xFBFF;
  std::vector<uint8_t> payload;
  int64_t length_override = -1;  // stored payload length instead of payload.size()
};

// Sectors of the layout, as the recorder writes them.
inline constexpr uint32_t kCopyStart[3] = {0, 244333, 488666};
inline constexpr uint32_t kDataAreaSector = 740000;

class IndexImage {
 public:
  // Creates (truncates) a sparse image covering the index and `data_sectors`
  // sectors of data after kDataAreaSector.
  explicit IndexImage(std::string path, uint32_t data_sectors = 20000);
  ~IndexImage();
  IndexImage(const IndexImage&) = delete;
  IndexImage& operator=(const IndexImage&) = delete;
  const std::string& path() const { return path_; }

  void write(uint64_t offset, const void* data, size_t n);
  std::vector<uint8_t> read(uint64_t offset, size_t n);
  void xor_byte(uint64_t offset, uint8_t mask);
  void truncate(uint64_t size);

  // Byte offset of an item of copy c.
  static uint64_t header_offset(int copy);
  static uint64_t control_offset(int copy, Table t);
  static uint64_t entry_offset(int copy, Table t, int slot);
  static uint64_t segment_offset(int copy, int block, int segment);

  // Items; copy -1 writes all three copies.
  void header(int copy, int generation, bool good_checksum = true);
  void control(int copy, Table t, int count, int oldest, int newest, bool good_checksum = true);
  void attribute(int copy, int slot, const AttrFields& a);
  void block(int copy, int b, const BlockFields& s);
  void recording(int copy, int slot, const RecFields& r);
  void alarm(int copy, int slot, const Stamp& start, const Stamp& end);
  void segment(int copy, int block, int seg, const SegFields& s, bool good_checksum = true);
  void chunk_index(uint32_t sector, const std::vector<ChunkFields>& chunks);
  // Writes a chunk; returns its size in bytes. packet_count -1: packets.size().
  uint32_t chunk(uint32_t sector, const std::vector<PacketFields>& packets, int packet_count = -1);

 private:
  std::string path_;
  int fd_ = -1;
};

// ---- Laid-out recordings --------------------------------------------------------------
struct RecordingPlan {
  int attribute = 0;
  Stamp start;
  int segments = 3;
  int chunks = 2;           // per segment; one second per chunk
  int64_t first_slot = -1;  // linear slot block * 25000 + segment; -1: right after the previous
  int kind = 0, skip_again = 0;
  std::vector<int> unplayable;  // segment numbers within the recording with flags 0
};

struct LaidChunk {
  Stamp time;
  uint32_t sector = 0, size = 0;
  std::vector<uint8_t> packets;  // the bytes a reader delivers
};
struct LaidSegment {
  int block = 0, segment = 0, recording = 0, attribute = 0, kind = 0, flags = 1;
  Stamp time;
  uint32_t chunk_index_sector = 0;
  std::vector<LaidChunk> chunks;
};
struct LaidDisk {
  std::vector<LaidSegment> segments;  // in recording order
  std::vector<RecFields> recordings;
  int first_recording_slot = 0;
  int oldest_block = 0, newest_block = 0;
};

// Writes recordings into every copy (generation 0 in copy 0 unless changed
// afterwards), with their tables: time attributes in ring slot = attribute, the
// blocks touched, the recording list from `first_recording_slot`. Packets carry
// the segment's block, slot and chunk in their payload.
LaidDisk lay_out(IndexImage& image, const std::vector<RecordingPlan>& plans,
                 int first_recording_slot = 0);

// The packets of a chunk as lay_out makes them.
std::vector<PacketFields> chunk_packets(int block, int segment, int chunk);

// Points VIRAZAV_PHYSICALDRIVE<drive> at path.
void use_image_as_drive(int drive, const std::string& path);

}  // namespace virazav::testing

namespace virazav::testing {

// A fresh temporary folder with an image in it that the library reads as drive
// kTestDrive; the drive, the record index and the fault seam are reset around
// each test.
class DiskImageTest : public ::testing::Test {
 protected:
  static constexpr int kTestDrive = 7;
  void SetUp() override;
  void TearDown() override;
  // Creates the image (replacing an earlier one) and points the drive at it.
  IndexImage& make_image(uint32_t data_sectors = 20000);
  // Opens the drive and runs first_section_play. Fails the test when the open fails.
  void open_and_load();
  std::string dir_;
  std::unique_ptr<IndexImage> image_;
};

}  // namespace virazav::testing
