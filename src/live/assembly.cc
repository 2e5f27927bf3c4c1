// The assembly step that places each fragment at its offset, and the completion
// of video and audio blocks. Every copy is checked against the buffer it goes
// into and the one it comes from; a fragment or block that would not fit is
// dropped and counted, never cut.
#include "live/assembly.h"

#include <algorithm>
#include <cstring>

#include "decoder/decoder.h"
#include "format/bytes.h"
#include "format/stream_format.h"

namespace virazav::live::detail {
namespace {

using format::load_le16;
using format::load_le32;
using format::store_le32;

bool is_video(int type) {
  return type == kTypeVideoSet0 || type == kTypeVideoSet1;
}
bool is_audio(int type) {
  return type == kTypeAudioRing0 || type == kTypeAudioRing1;
}

int video_channel(const uint8_t* block) {
  return load_le16(block + kBlockChannelAt) >> 12;
}

// True when `size` bytes at `offset` lie inside a buffer of `room` bytes.
bool fits(uint64_t offset, uint64_t size, uint64_t room) {
  return offset <= room && size <= room - offset;
}

void clear_records(VideoSet& set, int from) VZ_REQUIRES(set.group_lock) {
  for (int k = from; k < kGroupRecords; ++k) {
    set.group[k] = GroupRecord{};
    set.group[k].data = set.display.data();
  }
}

}  // namespace

int lock_write_slot(AudioRing& ring) {
  for (;;) {
    int w = ring.write_index.load();
    if (w < 0 || w >= kRingSlots) w = 0;
    ring.slots[w].lock.lock();
    if (ring.write_index.load() == w) return w;
    ring.slots[w].lock.unlock();
  }
}

void build_group(VideoSet& set, size_t copied, uint32_t length, int channel) {
  const uint8_t* d = set.display.data();
  // The records end at block offset `length`, which is length − 128 in the copy;
  // the difference is taken as unsigned, as the block's own field is.
  const uint32_t records_end = length - static_cast<uint32_t>(kVideoRecordsAt);
  uint64_t offset = kRecordHeaderBytes;
  uint32_t first_pts = 0;
  for (int k = 0; k < kGroupRecords; ++k) {
    if (!fits(offset - (kRecordHeaderBytes - kRecordUnitsAt), 2, copied)) {
      clear_records(set, k);
      return;
    }
    uint64_t size = kRecordUnit * load_le16(d + offset - (kRecordHeaderBytes - kRecordUnitsAt));
    if (!fits(offset, size, copied)) {
      clear_records(set, k);
      return;
    }
    GroupRecord& r = set.group[k];
    r.channel = static_cast<uint32_t>(channel);
    r.offset = static_cast<uint32_t>(offset);
    r.data = d + offset;
    r.length = static_cast<uint32_t>(size);
    r.kind = k == 0 ? kRecordFirst : kRecordFollowing;
    r.pts = format::packet_pts(r.data, size);
    if (k == 0) first_pts = r.pts;
    r.due_ms = (r.pts - first_pts) / 90;
    if (static_cast<uint32_t>(offset + size) >= records_end) {
      clear_records(set, k + 1);
      return;
    }
    offset += size + kRecordHeaderBytes;
  }
}

Assembler::Assembler(int thread) : thread_(thread) {
  staging_[0] = platform::Buffer(kStagingBytes);
  staging_[1] = platform::Buffer(kStagingBytes);
}

Outcome Assembler::take(const uint8_t* datagram, size_t length) {
  LiveState& s = state();
  if (datagram == nullptr || length <= kDatagramHeader) return Outcome::kIgnored;
  const int stream = datagram[kStreamNumberAt];
  if (stream >= kStreams) return Outcome::kIgnored;

  const uint8_t number = datagram[kBlockNumberAt];
  const int index = datagram[kFragmentIndexAt];
  const int count = datagram[kFragmentCountAt];
  const uint32_t stride = load_le32(datagram + kStrideAt) & 0xFFFFu;
  const uint8_t* payload = datagram + kDatagramHeader;
  const size_t size = length - kDatagramHeader;
  Record& a = records_[stream];

  // Which block this fragment belongs to.
  if (a.count == 0) {
    a.current = a.previous = number;
    a.staging = false;
  }
  if (number != a.current) {
    if (number == a.previous) {
      s.counters.late_fragments.fetch_add(1);
      return Outcome::kLate;
    }
    s.counters.blocks_abandoned.fetch_add(1);
    if (a.fragments > a.count) {
      s.counters.fragments_missing.fetch_add(static_cast<uint64_t>(a.fragments - a.count));
    }
    a.previous = a.current;
    a.current = number;
    a.count = 0;
    a.staging = false;
  }

  if (index == 0) {
    // The block header travels in fragment 0; one too short to hold it cannot
    // say where the block goes.
    if (size <= kBlockTypeAt) {
      s.counters.dropped_fragments.fetch_add(1);
      return Outcome::kDropped;
    }
    a.type = payload[kBlockTypeAt];
    if (is_video(a.type)) {
      a.channel = video_channel(payload);
      s.last_video_channel.store(a.channel);
    }
  }
  if (a.count == 0) {
    bool occupied = is_video(a.type) && index == 0 &&
                    s.sets[a.type].slots[a.channel].state.load() != kSlotEmpty;
    a.staging = index != 0 || occupied;
  }

  // The buffer this fragment goes into, and whether it fits there.
  const uint64_t offset = static_cast<uint64_t>(index) * stride;
  VideoSlot* video = nullptr;
  AudioRing* ring = nullptr;
  size_t room = 0;
  if (a.staging) {
    room = kStagingBytes;
  } else if (is_video(a.type)) {
    video = &s.sets[a.type].slots[a.channel];
    room = kVideoSlotBytes;
  } else if (is_audio(a.type)) {
    ring = &s.rings[a.type - kTypeAudioRing0];
    room = kAudioSlotBytes;
  }
  if ((a.staging || video != nullptr || ring != nullptr) && !fits(offset, size, room)) {
    s.counters.dropped_fragments.fetch_add(1);
    return Outcome::kDropped;
  }

  if (a.count == 0) a.extent = 0;
  ++a.count;
  a.fragments = count;
  a.extent = std::max<size_t>(a.extent, static_cast<size_t>(offset + size));

  if (a.staging) {
    std::memcpy(staging_[stream].data() + offset, payload, size);
  } else if (video != nullptr) {
    std::lock_guard<std::mutex> lock(video->lock);
    if (count > 1) video->state.store(kSlotEmpty);
    if (video->buffer.ok()) std::memcpy(video->buffer.data() + offset, payload, size);
  } else if (ring != nullptr) {
    int w = lock_write_slot(*ring);
    AudioSlot& slot = ring->slots[w];
    if (count > 1) slot.state.store(kSlotEmpty);
    if (slot.buffer.ok()) std::memcpy(slot.buffer.data() + offset, payload, size);
    slot.lock.unlock();
  }

  if (a.count < count) return Outcome::kStored;
  return complete(stream);
}

Outcome Assembler::complete(int stream) {
  LiveState& s = state();
  Record& a = records_[stream];
  const uint8_t* staged = staging_[stream].data();
  if (a.staging) {
    a.type = staged[kBlockTypeAt];
    if (is_video(a.type)) a.channel = video_channel(staged);
  }
  a.count = 0;

  if (is_video(a.type)) {
    VideoSlot& slot = s.sets[a.type].slots[a.channel];
    std::lock_guard<std::mutex> lock(slot.lock);
    if (!slot.buffer.ok()) {
      s.counters.blocks_dropped.fetch_add(1);
      return Outcome::kBlockDropped;
    }
    if (a.staging) {
      const uint64_t copy = uint64_t{load_le32(staged + kBlockLengthAt)} + kStagedExtra;
      if (copy > kVideoSlotBytes) {
        s.counters.blocks_dropped.fetch_add(1);
        return Outcome::kBlockDropped;
      }
      slot.state.store(kSlotEmpty);
      std::memcpy(slot.buffer.data(), staged, static_cast<size_t>(copy));
    }
    return file_video(a.type, a.channel, slot);
  }

  if (is_audio(a.type)) {
    const int r = a.type - kTypeAudioRing0;
    AudioRing& ring = s.rings[r];
    const int w = lock_write_slot(ring);
    AudioSlot& slot = ring.slots[w];
    std::unique_lock<std::mutex> lock(slot.lock, std::adopt_lock);
    if (!slot.buffer.ok()) {
      s.counters.blocks_dropped.fetch_add(1);
      return Outcome::kBlockDropped;
    }
    if (a.staging) {
      // The length field of an audio block is its first sub-block's data length,
      // shorter than the block itself; a staged audio block is copied whole, as
      // far as its fragments reached.
      if (a.extent > kAudioSlotBytes) {
        s.counters.blocks_dropped.fetch_add(1);
        return Outcome::kBlockDropped;
      }
      slot.state.store(kSlotEmpty);
      std::memcpy(slot.buffer.data(), staged, a.extent);
    }
    return file_audio(r, w, slot);
  }

  s.counters.blocks_dropped.fetch_add(1);
  return Outcome::kBlockDropped;
}

Outcome Assembler::file_video(int set_index, int channel, VideoSlot& slot) {
  LiveState& s = state();
  VideoSet& set = s.sets[set_index];
  const uint8_t* b = slot.buffer.data();
  const uint32_t length = load_le32(b + kBlockLengthAt);

  if (set_index == kTypeVideoSet0) {
    s.last_video_channel.store(channel);
    for (int k = 0; k < 3; ++k) s.ptz[channel][k].store(b[kBlockPtzAt + k]);
  }
  set.time_value.store(load_le32(b + kBlockTimeValueAt));
  set.time_word.store(load_le16(b + kBlockTimeWordAt));
  set.status_byte.store(b[kBlockStatusByteAt]);
  set.status_word.store(load_le16(b + kBlockStatusWordAt));

  const int display = s.display_channel.load();
  if (display == channel + 1 || display == 0) {
    platform::MutexLock group(set.group_lock);
    const uint64_t copy = uint64_t{length} + kDisplayExtra;
    if (display != 0 && set.display.ok() && fits(kVideoRecordsAt, copy, kVideoSlotBytes) &&
        copy <= kDisplayBytes) {
      std::memcpy(set.display.data(), b + kVideoRecordsAt, static_cast<size_t>(copy));
      build_group(set, static_cast<size_t>(copy), length, channel);
    } else {
      // No display buffer, a block too long to copy, or no display channel.
      set.group[0].length = kNoGroup;
    }
  }

  slot.state.store(kSlotReady);
  s.counters.blocks_completed.fetch_add(1);
  s.counters.video_blocks.fetch_add(1);
  return Outcome::kCompleted;
}

Outcome Assembler::file_audio(int r, int w, AudioSlot& slot) {
  LiveState& s = state();
  AudioRing& ring = s.rings[r];
  uint8_t* b = slot.buffer.data();
  s.counters.blocks_completed.fetch_add(1);
  s.counters.audio_blocks.fetch_add(1);

  // Find the sub-block of the ring's selected channel.
  int n = std::clamp<int>(b[kAudioSubBlocksAt], 1, kMaxSubBlocks);
  uint64_t h = 0;
  bool found = false;
  for (int j = 0; j < n; ++j) {
    if (!fits(h, kAudioDataAt, kAudioSlotBytes)) break;
    if (b[h + kBlockStatusByteAt] & kNoAudioMark[r]) {
      s.no_audio[r].store(1);
      return Outcome::kCompleted;
    }
    if (s.audio_switch.load() != 0 &&
        load_le16(b + h + kBlockChannelAt) == s.audio.selected_channel[r].load()) {
      found = true;
      break;
    }
    const uint32_t data = load_le32(b + h + kBlockLengthAt);
    h += kAudioDataAt + uint64_t{data} + data % 4;
  }
  if (!found) return Outcome::kCompleted;
  if (s.audio.wave_mode.load() != r + 1 || b[h + kAudioSequenceAt] == last_sequence_[r]) {
    return Outcome::kCompleted;
  }

  // The samples replace the packet in place, from its first byte on.
  uint8_t* audio = b + h + kAudioDataAt;
  const size_t room = std::min<size_t>(kAudioDecodeRoom, kAudioSlotBytes - (h + kAudioDataAt));
  const int decoded = decoder::adpcm_decode_packet(audio, room, thread_);
  const uint32_t bytes = decoded > 0 ? static_cast<uint32_t>(decoded) : 0;
  store_le32(b + h + kAudioDecodedLengthAt, bytes);

  WaveHeader& header = slot.header;
  header.data = audio;
  header.length = bytes;
  header.user = static_cast<uint32_t>(r == 0 ? w : w + 10);
  header.flags = kWaveBeginEndLoop;
  header.loops = 1;

  if (s.audio.device_state.load() == kDeviceOpen) {
    header.prepared = true;
    const int next = (w + 1) % kRingSlots;
    if (ring.slots[next].state.load() == kSlotEmpty) {
      slot.state.store(kSlotQueued);
      ring.write_index.store(next);
      kick();
    }
  } else {
    slot.state.store(kSlotEmpty);
    ring.write_index.store(0);
  }
  last_sequence_[r] = b[h + kAudioSequenceAt];
  if (r == 1) s.no_audio[1].store(0);
  return Outcome::kCompleted;
}

}  // namespace virazav::live::detail
