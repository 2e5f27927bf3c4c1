// The recorder's disk as the recorder writes it: a sparse disk image with the three copies
// of the record index (generations, checksums, ring tables, segment tables), the chunk
// indexes and chunks of the recorded video and audio, and the still area with its JPEG
// stills. A DiskImageDesc describes what the recorder recorded and how its disk was
// damaged; write_disk_image writes the image and reports in a DiskImageInfo everything a
// reader of the disk should find there. The layout is described in
// docs/formats/recorder-disk.md.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/rec_time.h"
#include "media/media.h"

namespace virazav::sim {

// ---- Geometry of the recorder's disk -------------------------------------------------------

inline constexpr int kSectorSize = 512;
// A disk image counts as a drive of 255 heads and 63 sectors a track.
inline constexpr uint64_t kCylinderBytes = 512ull * 255 * 63;  // 8,225,280

inline constexpr int kIndexCopyCount = 3;
inline constexpr int kBlockCount = 250;          // blocks of the segment ring
inline constexpr int kSegmentsPerBlock = 25000;  // segment slots of a block
inline constexpr int64_t kRingSlots = int64_t{kBlockCount} * kSegmentsPerBlock;
inline constexpr int kMaxChunksPerSegment = 40;  // entries of a chunk index
inline constexpr uint32_t kMaxChunkSize = 0x200000;
inline constexpr int kTimeAttributeSlots = 100;
inline constexpr int kRecordingSlots = 1000;
inline constexpr int kAlarmSlots = 50;
inline constexpr int kGenerationCount = 6;          // generations 0..5, in turn over the copies
inline constexpr uint32_t kStillMaxSize = 0x40000;  // a still is shorter than 256 KiB

// ---- What the recorder recorded -------------------------------------------------------------

// The recorder's clock was set back while it recorded: from `at_s` seconds after the start of
// the recorded stretch (wall time, gaps included) the clock shows `back_s` seconds less, and
// everything recorded from then on carries the next time attribute.
struct ClockSetBack {
  int64_t at_s = 0;
  int64_t back_s = 3600;
};

// One recording of the stretch, in order.
struct RecordingPlan {
  int64_t seconds = 60;      // recorded seconds
  int64_t gap_before_s = 0;  // seconds without recording before it (after the previous one)
  uint8_t kind = 0;          // the recording kind of its list entry
  bool skip_again = false;   // the skip-again flag of its list entry
};

// The tables of the record index, as damage options name them.
enum class IndexTable { kTimeAttributes, kBlocks, kRecordings, kAlarms };

// How one index copy was left by the recorder.
struct CopyDamage {
  bool bad_header_checksum = false;  // the copy header's checksum byte is off by one
  int generation = -1;  // stored in the header instead of the copy's own generation, with a
                        // valid checksum (e.g. 7, which no recorder writes); -1: its own
  bool stale = false;   // the copy missed its last write: its generation and its content are
                        // those of the write three generations before
  int64_t torn_at_sector = -1;  // the last write to this copy stopped in this sector (counted
                                // from the copy's first sector, 1 and up): the sectors before
                                // it hold the new content, the sectors after it the content
                                // of the copy's previous write, and the sector itself its
                                // first 256 bytes new and the rest old; -1: not torn
};

// A bad checksum in a ring table of one copy: the control record (entry −1) or the entry in
// ring slot `entry`.
struct TableDamage {
  int copy = 0;
  IndexTable table = IndexTable::kRecordings;
  int entry = -1;
};

// A segment of the recorded stretch: its position in DiskImageInfo::segments. `copy` limits
// a damage of the index to one copy (-1: all three).
struct SegmentRef {
  int64_t segment = 0;
  int copy = -1;
};

// A chunk (and a packet of it) of a segment of the recorded stretch.
struct ChunkRef {
  int64_t segment = 0;
  int chunk = 0;
  int packet = 0;
};

struct DamageOptions {
  std::array<CopyDamage, kIndexCopyCount> copies{};
  std::vector<TableDamage> bad_entries;         // ring table checksums
  std::vector<SegmentRef> bad_segments;         // segment table entry checksums
  std::vector<SegmentRef> unplayable_segments;  // flags without playable data (low 4 bits 0)
  std::vector<SegmentRef> chunk_count_55;       // the segment entry claims 55 chunks
  std::vector<ChunkRef> bad_chunk_entries;      // chunk index entry checksums
  std::vector<ChunkRef> oversize_chunks;        // chunk index entry size 0x200001
  std::vector<ChunkRef> end_markers;            // packet `packet` carries the end marker 0xFFFF
  std::vector<ChunkRef> unknown_markers;        // packet `packet` carries the marker 0x1234
};

struct DiskImageDesc {
  // The recorded stretch: either `recordings` as given, or `hours` split into
  // `recording_count` recordings of equal length with `gap_s` seconds between them.
  double hours = 1.0;
  int recording_count = 1;
  int64_t gap_s = 60;
  std::vector<RecordingPlan> recordings;

  int channels = 4;         // video channels 0 .. channels − 1 (1..16)
  int audio_channels = -1;  // audio channels 0 .. audio_channels − 1 (0..4); -1: up to 4
  RecTime start;            // the recorder's clock at the start of the stretch
  int first_attribute = 0;  // time attribute of the start (0..99)
  std::vector<ClockSetBack> clock_set_backs;

  int alarms = 0;             // alarms spread evenly over the recordings
  int64_t alarm_s = 20;       // length of each (cut at the end of its recording)
  int stills = 0;             // JPEG stills spread evenly over the stretch
  int still_gap_sectors = 0;  // sectors left empty between two stills

  uint64_t size_bytes = 0;  // size of the disk; 0: the smallest number of whole cylinders

  // Where the recorder's rings stood when the stretch began.
  int start_block = 0;
  int start_segment = 0;
  int first_attribute_slot = 0;
  int first_recording_slot = 0;
  int first_alarm_slot = 0;

  int chunks_per_segment = 10;  // one-second chunks a segment holds (1..40)
  int newest_generation = 2;    // generation of the copy the recorder wrote last (0..5)
  int index_lag_segments = 1;   // each older copy lacks this many more of the newest segments

  // A full ring (250 blocks of 25,000 segments): the stretch ends at the last slot of block
  // 249 and every slot before it holds filler segments, which share one chunk index per
  // block and one chunk of repeated data. start_block and start_segment are not used.
  bool full_size_index = false;

  // Chunks after the first `repeat_after_s` recorded seconds repeat the data of earlier
  // chunks instead of new pictures (0: every chunk has its own).
  int64_t repeat_after_s = 120;
  bool media = true;             // real MPEG-4 pictures and ADPCM audio; false: placeholder packets
  VideoSettings video;           // picture size, pictures a second (1..30) and quantizer
  int still_quality = 4;         // JPEG quantizer of the stills (2..31)
  bool keep_packet_info = true;  // fill ChunkInfo::packets

  DamageOptions damage;
};

// ---- What was written -----------------------------------------------------------------------

struct PacketInfo {
  uint32_t offset = 0;  // of its 48-byte packet header, from the start of the chunk
  uint16_t marker = 0;  // 0xFBFF video, 0xFCFF audio (as written, damage included)
  bool audio = false;
  int channel = 0;
  uint32_t payload_size = 0;  // the PES packet that follows the packet header
  uint32_t time_stamp = 0;    // low 32 bits of its DTS (video) or PTS (audio), 90 kHz
  bool key = false;           // a key picture with its headers
  int64_t index = 0;          // picture number or audio packet number in the stretch
};

struct ChunkInfo {
  RecTime time;
  int64_t second = 0;   // seconds after the start of the stretch
  uint32_t sector = 0;  // first sector of the chunk's data
  uint32_t size = 0;    // bytes
  int packet_count = 0;
  bool repeated = false;  // its data is that of an earlier chunk
  std::vector<PacketInfo> packets;
};

struct SegmentInfo {
  int block = 0;
  int segment = 0;  // slot in the block
  RecTime time;     // of its first chunk
  int attribute = 0;
  int recording = 0;  // index into DiskImageInfo::recordings
  uint8_t kind = 0;   // 1 last segment of a recording, 2 first, 0 others
  uint8_t flags = 0;
  uint32_t chunk_index_sector = 0;
  std::vector<ChunkInfo> chunks;
};

struct RingInfo {
  int count = 0;
  int oldest = 0;
  int newest = 0;
};

struct AttributeInfo {
  int slot = 0;
  int attribute = 0;
  RecTime first, last;
  uint32_t first_segment = 0, last_segment = 0;
  int first_block = 0, last_block = 0;
};

struct BlockInfo {
  int block = 0;
  int segments = 0;
  int first_segment = 0, last_segment = 0;
  int first_attribute = 0, last_attribute = 0;
  RecTime first_time, last_time;
};

struct RecordingInfo {
  int slot = 0;
  int attribute = 0;
  RecTime start, end;  // its first and last recorded second
  int start_block = 0, end_block = 0;
  uint32_t start_segment = 0, end_segment = 0;
  uint8_t kind = 0;
  bool skip_again = false;
  bool filler = false;  // a filler recording of a full-size index
};

struct AlarmInfo {
  int slot = 0;
  int channel = 0;
  RecTime start, end;
};

// One index copy as written.
struct IndexCopyInfo {
  int generation = 0;        // as stored in the header
  bool header_valid = true;  // its checksum is right
  int age = 0;               // writes since its content was current (0: the newest content)
  int64_t segments = 0;      // segments of the ring its content holds
  RingInfo attributes, blocks, recordings, alarms;  // control records
  int current_block = 0;
  int current_segment = 0;
  // Entries in use, oldest first. A torn copy's entries describe its new content.
  std::vector<AttributeInfo> attribute_entries;
  std::vector<BlockInfo> block_entries;
  std::vector<RecordingInfo> recording_entries;
  std::vector<AlarmInfo> alarm_entries;
};

struct StillInfo {
  uint32_t sector = 0;  // first sector
  uint32_t size = 0;    // bytes of the JPEG (even)
  int channel = 0;
  RecTime time;
  int frame = 0;              // the 4-bit value after the time (the picture within its second)
  uint16_t serial = 0;        // the 16-bit value of the name
  int still_class = 0;        // the 4-bit class (high half of byte 7)
  int64_t picture = 0;        // the synthetic picture number it shows
  std::vector<uint8_t> jpeg;  // in the JPEG's own byte order
};

struct DiskImageInfo {
  uint64_t size_bytes = 0;
  uint32_t cylinders = 0;
  int newest_copy = 0;  // the copy the recorder wrote last (generation modulo 3)
  std::array<IndexCopyInfo, kIndexCopyCount> copies{};
  // The recordings and alarms of the index after the recorder's last write (its entries in
  // use, oldest first), whatever damage the copies were given.
  std::vector<RecordingInfo> recordings;
  std::vector<AlarmInfo> alarms;
  std::vector<SegmentInfo> segments;  // the recorded stretch, in recording order
  int64_t filler_segments = 0;        // segments before the stretch (full-size index)
  uint32_t still_area_sector = 0, still_area_sectors = 0;
  uint32_t video_area_sector = 0, video_area_sectors = 0;
  std::vector<StillInfo> stills;
};

// Writes the disk image described by `desc` to `path` (created or truncated), as a sparse
// file: only sectors that hold data are written. On success fills *info (may be null) and
// returns true; on failure stores a message in *error (may be null) and returns false; the
// file is then incomplete.
bool write_disk_image(const DiskImageDesc& desc, const std::string& path, DiskImageInfo* info,
                      std::string* error);
inline bool write_disk_image(const DiskImageDesc& desc, const std::string& path,
                             std::string* error) {
  return write_disk_image(desc, path, nullptr, error);
}

// Returns the file name a reader gives a still: "%d_%02d%02d%02d_%02d%02d%02d%d_%x.jpg" with
// the sequence number, the date and time, the frame value and the serial.
std::string still_file_name(const StillInfo& still, int sequence);

// ---- The command line ---------------------------------------------------------------------

// Fills *desc and *path from the arguments of `virazav-recorder disk-image` (after the
// subcommand's name). Returns false with a message for a bad argument.
bool parse_disk_image_args(const std::vector<std::string>& args, DiskImageDesc* desc,
                           std::string* path, std::string* error);
// Runs the subcommand; returns the process exit code.
int run_disk_image_command(const std::vector<std::string>& args);

}  // namespace virazav::sim
