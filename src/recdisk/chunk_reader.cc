// The chunk readers: deliver the packets of the chunk at the read cursor of the
// current segment, forwards or backwards, one chunk or n at a time, walking to
// the next segment when the current one is used up.
#include <cstring>

#include "format/bytes.h"
#include "platform/platform.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"

namespace virazav::recdisk {
namespace {

// Byte offsets in the chunk information record of the copy.
constexpr size_t kInfoTime = 8;
constexpr size_t kInfoByte2 = 14;
constexpr size_t kInfoByte0 = 15;
constexpr size_t kInfoByte27 = 16;

int current_chunk_count() {
  const PlayPosition& pos = position();
  if (segment_table_block() != pos.block) read_segment_table(pos.block);
  return segment_entry(pos.segment).chunks();
}

bool same_place(const PlayPosition& a, const PlayPosition& b) {
  return a.block == b.block && a.segment == b.segment;
}

// Brings the cursor onto a chunk of the current segment in the reading
// direction, walking one segment when the current one is used up. Returns 0 when
// the cursor names a chunk, or the reader's result to return.
int place_cursor(bool forward) {
  int32_t& cursor = read_cursor();
  PlayPosition& pos = position();
  if (forward) {
    // After backward reads the cursor may stand before chunk 0.
    if (cursor < 0) cursor = 0;
    if (cursor >= current_chunk_count()) {
      const PlayPosition before = pos;
      walk_forward();
      if (same_place(before, pos)) return kReadNoSegment;
      cursor = pos.chunk;
    }
    // A segment that lists no chunks has nothing to deliver; the next read walks on.
    if (cursor >= current_chunk_count()) return kReadNotDelivered;
    return 0;
  }
  const int count = current_chunk_count();
  // After forward reads the cursor may stand after the last chunk.
  if (cursor > count - 1) cursor = count - 1;
  if (cursor < 0) {
    const PlayPosition before = pos;
    walk_back();
    if (same_place(before, pos)) {
      cursor = 0;
      return kReadNoSegment;
    }
    const int n = current_chunk_count();
    cursor = n > 0 ? n - 1 : 0;
    if (n == 0) {
      cursor = -1;
      return kReadNotDelivered;
    }
  }
  return 0;
}

int read_chunk(bool forward, int step, uint8_t* buffer, uint32_t* length, uint8_t* info) {
  if (buffer == nullptr || length == nullptr) return kReadNotDelivered;
  *length = 0;
  int placed = place_cursor(forward);
  if (placed != 0) return placed;

  int32_t& cursor = read_cursor();
  const ChunkEntry ce = chunk_entry(cursor);
  // A step of 0 moves by one chunk; a negative step does not move the cursor.
  const int32_t move = step == 0 ? 1 : step < 0 ? 0 : step;
  const int32_t delta = forward ? move : -move;
  if (ce.size > kMaxChunkSize) {
    cursor += delta;
    return kReadNotDelivered;
  }
  // The temporary buffer holds the chunk's whole sectors (at most 2 MiB, checked
  // above): zero-filling a full 2 MiB for every chunk would cost more than the read.
  const uint32_t sectors = (ce.size + kSectorSize - 1) / kSectorSize;
  platform::Buffer chunk(static_cast<size_t>(sectors) * kSectorSize);
  cursor += delta;
  if (!chunk.ok()) return kReadNotDelivered;
  if (read_sectors(static_cast<int32_t>(ce.sector), sectors, chunk.data()) != 0) {
    return kReadNotDelivered;
  }
  if (info != nullptr) {
    store_rec_time(ce.time, info + kInfoTime);
    info[kInfoByte2] = ce.byte2;
    info[kInfoByte0] = ce.byte0;
    info[kInfoByte27] = ce.byte27;
  }
  return parse_chunk_packets(chunk.data(), ce.size, buffer, kMaxChunkSize, length);
}

}  // namespace

int parse_chunk_packets(const uint8_t* chunk, size_t chunk_size, uint8_t* out, size_t out_cap,
                        uint32_t* length) {
  if (length == nullptr || *length > out_cap) return kReadNotDelivered;
  // A chunk too short to hold its packet count holds no packets.
  if (chunk_size <= kChunkPacketCount) return kReadDelivered;
  const int count = chunk[kChunkPacketCount];
  size_t offset = kChunkFirstPacket;
  for (int i = 0; i < count; ++i) {
    if (offset + 2 > chunk_size) return kReadNotDelivered;
    const uint16_t marker = format::load_le16(chunk + offset + kPacketMarker);
    if (marker == kPacketMarkerEnd) return kReadEndOfData;
    if (marker != kPacketMarkerVideo && marker != kPacketMarkerAudio) return kReadNotDelivered;
    if (offset + kPacketHeaderSize > chunk_size) return kReadNotDelivered;
    // The payload length comes from the disk: the packet must end inside the
    // chunk as read and fit the caller's buffer.
    const uint64_t total =
        kPacketHeaderSize +
        static_cast<uint64_t>(format::load_le32(chunk + offset + kPacketPayloadLength));
    if (total > chunk_size - offset) return kReadNotDelivered;
    if (total > out_cap - *length) return kReadNotDelivered;
    std::memcpy(out + *length, chunk + offset, static_cast<size_t>(total));
    *length += static_cast<uint32_t>(total);
    offset += static_cast<size_t>(total);
  }
  return kReadDelivered;
}

int read_data(uint8_t* buffer, uint32_t* length) {
  return read_chunk(true, 1, buffer, length, nullptr);
}
int read_data_forward(uint8_t* buffer, uint32_t* length, int step) {
  return read_chunk(true, step, buffer, length, nullptr);
}
int read_data_back(uint8_t* buffer, uint32_t* length) {
  return read_chunk(false, 1, buffer, length, nullptr);
}
int read_data_back_step(uint8_t* buffer, uint32_t* length, int step) {
  return read_chunk(false, step, buffer, length, nullptr);
}
int read_for_copy(uint8_t* buffer, uint32_t* length, uint8_t* info24) {
  return read_chunk(true, 1, buffer, length, info24);
}

}  // namespace virazav::recdisk
