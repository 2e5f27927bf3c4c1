// Chunks and chunk indexes of the recorded stretch, written segment after segment from the
// start of the video area, and the shared chunk indexes of a full-size index's filler.

#include "disk/video_area.h"

#include <algorithm>

#include "disk/disk_format.h"
#include "disk/packet_source.h"

namespace virazav::sim::diskimg {

namespace {

constexpr uint64_t kSectorLimit = uint64_t{1} << 31;  // readers take sector numbers signed

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

bool names(const std::vector<ChunkRef>& refs, int64_t segment, int chunk) {
  return std::any_of(refs.begin(), refs.end(),
                     [&](const ChunkRef& r) { return r.segment == segment && r.chunk == chunk; });
}

// What a chunk's entry in its chunk index says.
struct ChunkEntry {
  int number = 0;
  int packets = 0;
  RecTime time;
  uint32_t size = 0;
  uint32_t sector = 0;
  int rate = 0;
  bool bad_checksum = false;
};

void put_chunk_entry(uint8_t* e, const ChunkEntry& c) {
  e[kChunkEntryNumber] = static_cast<uint8_t>(c.number);
  e[kChunkEntryPackets] = static_cast<uint8_t>(c.packets);
  put_rec_time(e + kChunkEntryTime, c.time);
  put_u32le(e + kChunkEntrySizeField, c.size);
  put_u32le(e + kChunkEntrySector, c.sector);
  e[kChunkEntryRate] = static_cast<uint8_t>(c.rate);
  seal(e, kChunkEntrySize);
  if (c.bad_checksum) ++e[kChunkEntrySize - 1];
}

class VideoWriter {
 public:
  VideoWriter(const DiskImageDesc& desc, const DiskPlan& plan, int audio_channels, ImageFile* file)
      : desc_(desc),
        plan_(plan),
        file_(file),
        source_(desc.media, desc.channels, audio_channels, desc.video),
        audio_mask_(static_cast<uint8_t>((1u << audio_channels) - 1)),
        video_mask_(static_cast<uint16_t>((1u << desc.channels) - 1)) {}

  bool run(uint32_t first_sector, VideoArea* out, std::string* error);

 private:
  bool check_damage(std::string* error) const;
  bool write_segment(int64_t s, SegmentInfo* seg, std::string* error);
  bool fresh_chunk(int64_t s, int c, int64_t second, ChunkInfo* chunk, std::string* error);
  bool allocate(uint64_t bytes, uint32_t* sector, std::string* error);

  const DiskImageDesc& desc_;
  const DiskPlan& plan_;
  ImageFile* file_;
  PacketSource source_;
  uint8_t audio_mask_;
  uint16_t video_mask_;
  uint64_t cursor_ = 0;
  int64_t recorded_chunks_ = 0;
  std::vector<ChunkInfo> originals_;    // the chunks that later chunks repeat
  std::vector<bool> original_damaged_;  // a damaged chunk is not repeated
};

bool VideoWriter::allocate(uint64_t bytes, uint32_t* sector, std::string* error) {
  if (cursor_ + sectors_for(bytes) >= kSectorLimit) {
    return fail(error, "the video area would reach sector 2^31");
  }
  *sector = static_cast<uint32_t>(cursor_);
  cursor_ += sectors_for(bytes);
  return true;
}

bool VideoWriter::check_damage(std::string* error) const {
  const DamageOptions& d = desc_.damage;
  for (const auto* list :
       {&d.bad_chunk_entries, &d.oversize_chunks, &d.end_markers, &d.unknown_markers}) {
    for (const ChunkRef& r : *list) {
      if (r.segment < 0 || r.segment >= plan_.stretch_segments() || r.chunk < 0 ||
          r.chunk >= plan_.chunks(plan_.filler() + r.segment) || r.packet < 0) {
        return fail(error, "a damage option names a chunk that the stretch does not have");
      }
    }
  }
  for (const auto* list : {&d.bad_segments, &d.unplayable_segments, &d.chunk_count_55}) {
    for (const SegmentRef& r : *list) {
      if (r.segment < 0 || r.segment >= plan_.stretch_segments() || r.copy < -1 ||
          r.copy >= kIndexCopyCount) {
        return fail(error, "a damage option names a segment that the stretch does not have");
      }
    }
  }
  return true;
}

bool VideoWriter::run(uint32_t first_sector, VideoArea* out, std::string* error) {
  if (!check_damage(error)) return false;
  out->first_sector = first_sector;
  cursor_ = first_sector;
  // The filler's chunk indexes come first; they point at the stretch's first chunk.
  const auto filler_indexes =
      static_cast<int64_t>((plan_.filler() + kSegmentsPerBlock - 1) / kSegmentsPerBlock);
  for (int64_t k = 0; k < filler_indexes; ++k) {
    uint32_t sector = 0;
    if (!allocate(kChunkIndexSize, &sector, error)) return false;
    out->filler_chunk_indexes.push_back(sector);
  }
  out->segments.resize(static_cast<size_t>(plan_.stretch_segments()));
  for (int64_t s = 0; s < plan_.stretch_segments(); ++s) {
    if (!write_segment(s, &out->segments[static_cast<size_t>(s)], error)) return false;
  }

  if (filler_indexes > 0) {
    const ChunkInfo& shared = out->segments.front().chunks.front();
    out->filler_flags = out->segments.front().flags;
    for (int64_t k = 0; k < filler_indexes; ++k) {
      // Every segment of the block uses this index. Its one chunk carries the time of the
      // block's last filler segment, so that a time search inside the block stops at the
      // segment whose time it passed.
      const int64_t last = std::min(plan_.filler(), (k + 1) * kSegmentsPerBlock) - 1;
      ChunkEntry e;
      e.packets = shared.packet_count;
      e.time = plan_.time(last);
      e.size = shared.size;
      e.sector = shared.sector;
      e.rate = desc_.video.fps;
      std::vector<uint8_t> index(kChunkIndexSectors * kSectorSize, 0);
      put_chunk_entry(index.data(), e);
      if (!file_->write_sectors(out->filler_chunk_indexes[static_cast<size_t>(k)], index, error)) {
        return false;
      }
    }
  }
  out->end_sector = static_cast<uint32_t>(cursor_);
  return true;
}

bool VideoWriter::write_segment(int64_t s, SegmentInfo* seg, std::string* error) {
  const int64_t g = plan_.filler() + s;
  const DamageOptions& d = desc_.damage;
  seg->block = plan_.block(g);
  seg->segment = plan_.slot_in_block(g);
  seg->time = plan_.time(g);
  seg->attribute = plan_.attribute(g);
  seg->recording = plan_.recording(g);
  seg->kind = plan_.kind(g);
  if (!allocate(kChunkIndexSize, &seg->chunk_index_sector, error)) return false;

  std::vector<uint8_t> index(kChunkIndexSectors * kSectorSize, 0);
  bool audio = false;
  const int chunks = plan_.chunks(g);
  for (int c = 0; c < chunks; ++c) {
    const int64_t second = plan_.chunk_second(s, c);
    const int64_t k = recorded_chunks_++;
    const bool damaged = names(d.end_markers, s, c) || names(d.unknown_markers, s, c);
    ChunkInfo chunk;
    const auto origin =
        static_cast<size_t>(desc_.repeat_after_s > 0 ? k % desc_.repeat_after_s : 0);
    if (desc_.repeat_after_s > 0 && k >= desc_.repeat_after_s && !damaged &&
        !original_damaged_[origin]) {
      // Repeated data: the chunk's sectors are those of an earlier chunk.
      chunk = originals_[origin];
      chunk.repeated = true;
    } else {
      if (!fresh_chunk(s, c, second, &chunk, error)) return false;
      if (k < desc_.repeat_after_s) {
        originals_.push_back(chunk);
        original_damaged_.push_back(damaged);
      }
    }
    chunk.second = second;
    chunk.time = rec_time_at(plan_.clock_at(second)).value_or(RecTime{});
    for (const PacketInfo& p : chunk.packets) audio = audio || p.audio;

    ChunkEntry e;
    e.number = c;
    e.packets = chunk.packet_count;
    e.time = chunk.time;
    e.size = names(d.oversize_chunks, s, c) ? kOversizeChunk : chunk.size;
    e.sector = chunk.sector;
    e.rate = desc_.video.fps;
    e.bad_checksum = names(d.bad_chunk_entries, s, c);
    put_chunk_entry(&index[static_cast<size_t>(c) * kChunkEntrySize], e);
    chunk.size = e.size;
    if (!desc_.keep_packet_info) std::vector<PacketInfo>().swap(chunk.packets);
    seg->chunks.push_back(std::move(chunk));
  }
  seg->flags = static_cast<uint8_t>(kFlagVideo | (audio ? kFlagAudio : 0));
  for (const SegmentRef& r : d.unplayable_segments) {
    if (r.segment == s) seg->flags = 0;
  }
  return file_->write_sectors(seg->chunk_index_sector, index, error);
}

bool VideoWriter::fresh_chunk(int64_t s, int c, int64_t second, ChunkInfo* chunk,
                              std::string* error) {
  std::vector<SourcePacket> packets;
  if (!source_.packets(second, &packets, error)) return false;
  const RecTime time = rec_time_at(plan_.clock_at(second)).value_or(RecTime{});
  const DamageOptions& d = desc_.damage;

  size_t size = kChunkHeaderSize;
  for (const SourcePacket& p : packets) size += kPacketHeaderSize + p.pes.size();
  if (size > kMaxChunkSize) return fail(error, "a chunk would exceed 2 MiB");
  std::vector<uint8_t> data(size, 0);
  put_rec_time(&data[kChunkTime], time);
  put_u16le(&data[kChunkChannels], video_mask_);
  data[kChunkAudioChannels] = audio_mask_;
  data[kChunkNumber] = static_cast<uint8_t>(c);
  put_u32le(&data[kChunkSizeField], static_cast<uint32_t>(size));
  put_u16le(&data[kChunkAttribute], static_cast<uint32_t>(plan_.attribute_at(second)));
  data[kChunkPacketCount] = static_cast<uint8_t>(packets.size());

  size_t at = kChunkHeaderSize;
  for (size_t i = 0; i < packets.size(); ++i) {
    const SourcePacket& p = packets[i];
    uint16_t marker = p.audio ? kAudioMarker : kVideoMarker;
    for (const ChunkRef& r : d.end_markers) {
      if (r.segment == s && r.chunk == c && r.packet == static_cast<int>(i)) marker = kEndMarker;
    }
    for (const ChunkRef& r : d.unknown_markers) {
      if (r.segment == s && r.chunk == c && r.packet == static_cast<int>(i)) {
        marker = kUnknownMarker;
      }
    }
    uint8_t* h = &data[at];
    put_u16le(h + kPacketMarker, marker);
    h[kPacketChannel] = static_cast<uint8_t>(p.channel);
    h[kPacketKey] = p.key ? 1 : 0;
    put_rec_time(h + kPacketTime, time);
    put_u32le(h + kPacketTimeStamp, p.time_stamp);
    put_u32le(h + kPacketPayloadSize, static_cast<uint32_t>(p.pes.size()));
    std::copy(p.pes.begin(), p.pes.end(), h + kPacketHeaderSize);

    PacketInfo info;
    info.offset = static_cast<uint32_t>(at);
    info.marker = marker;
    info.audio = p.audio;
    info.channel = p.channel;
    info.payload_size = static_cast<uint32_t>(p.pes.size());
    info.time_stamp = p.time_stamp;
    info.key = p.key;
    info.index = p.index;
    chunk->packets.push_back(info);
    at += kPacketHeaderSize + p.pes.size();
  }
  for (const auto* list : {&d.end_markers, &d.unknown_markers}) {
    for (const ChunkRef& r : *list) {
      if (r.segment == s && r.chunk == c && r.packet >= static_cast<int>(packets.size())) {
        return fail(error, "a damage option names a packet that the chunk does not have");
      }
    }
  }
  chunk->size = static_cast<uint32_t>(size);
  chunk->packet_count = static_cast<int>(packets.size());
  if (!allocate(size, &chunk->sector, error)) return false;
  return file_->write_sectors(chunk->sector, data, error);
}

}  // namespace

bool write_video_area(const DiskImageDesc& desc, const DiskPlan& plan, int audio_channels,
                      uint32_t first_sector, ImageFile* file, VideoArea* out, std::string* error) {
  VideoWriter writer(desc, plan, audio_channels, file);
  return writer.run(first_sector, out, error);
}

}  // namespace virazav::sim::diskimg
