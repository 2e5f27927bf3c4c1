// Stepping the play position one segment forwards or backwards over the ring of
// 250 blocks x 25,000 segment slots, stepping over segments with nothing to play
// and staying inside the recorded range.
#include "recdisk/record_index.h"

namespace virazav::recdisk {
namespace {

constexpr int32_t kLastSlot = kSegmentSlots - 1;

bool same_place(const PlayPosition& a, const PlayPosition& b) {
  return a.block == b.block && a.segment == b.segment;
}

// The SegmentTable in memory must be the position's block before its entries
// are read; a search or a failed read may have left another block there.
void ensure_segment_table(int32_t block) {
  if (segment_table_block() != block) read_segment_table(block);
}


// A step that left the recorded range: reload, and come back to where the step
// began when that is still recorded, else to the end in the walking direction.
int return_into_range(const PlayPosition& saved, bool forward) {
  load_record_index(LoadMode::kKeep);
  if (position_in_range(saved.block, saved.segment) == 0) {
    position() = saved;
  } else {
    set_end_position(forward);
  }
  PlayPosition& pos = position();
  ensure_segment_table(pos.block);
  read_chunk_index(segment_entry(pos.segment));
  return kWalkMoved;
}

// The next slot of the ring: segment + 1, after slot 24,999 segment 0 of the
// next block.
void next_slot(PlayPosition* pos) {
  if (pos->segment >= kLastSlot) {
    pos->block = (pos->block + 1) % kBlockSlots;
    pos->segment = 0;
  } else {
    pos->segment += 1;
  }
}

void previous_slot(PlayPosition* pos) {
  if (pos->segment <= 0) {
    pos->block = (pos->block + kBlockSlots - 1) % kBlockSlots;
    pos->segment = kLastSlot;
  } else {
    pos->segment -= 1;
  }
}

// Steps 2 and 3 of a forward step: moves the position one segment on.
void move_forward(PlayPosition& pos) {
  SegmentEntry current = segment_entry(pos.segment);
  if (current.valid && current.kind == kSegKindEndMark) {
    const int32_t newest = static_cast<int32_t>(ring_control(Ring::kBlock).newest);
    if (!(pos.block == newest && pos.segment == block_entry(newest).last_segment)) next_slot(&pos);
    load_record_index(LoadMode::kKeep);
    return;
  }
  // The newest block's end is tried twice: the reload may find that the
  // recorder has written further in the meantime.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int32_t newest = static_cast<int32_t>(ring_control(Ring::kBlock).newest);
    if (pos.block == newest && pos.segment == block_entry(newest).last_segment) {
      if (attempt == 0) load_record_index(LoadMode::kKeep);
      continue;
    }
    if (pos.segment >= kLastSlot) {
      // A block is left only through its last slot.
      const int32_t next = (pos.block + 1) % kBlockSlots;
      if (read_segment_table(next) != 0) {
        pos.block = next;
        pos.segment = block_entry(next).first_segment;
        return;
      }
      pos.block = newest;
      if (attempt == 0) load_record_index(LoadMode::kKeep);
      continue;
    }
    pos.segment += 1;
    return;
  }
}

void move_back(PlayPosition& pos) {
  SegmentEntry current = segment_entry(pos.segment);
  if (current.valid && current.kind == kSegKindStartMark) {
    previous_slot(&pos);
    // Outside the recorded range the reload falls back to the oldest position.
    load_record_index(LoadMode::kKeep);
    return;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int32_t oldest = static_cast<int32_t>(ring_control(Ring::kBlock).oldest);
    const bool at_oldest_start =
        pos.block == oldest && pos.segment == block_entry(oldest).first_segment;
    if (at_oldest_start || (pos.segment <= 0 && pos.block == oldest)) {
      if (attempt == 0) load_record_index(LoadMode::kKeep);
      continue;
    }
    if (pos.segment <= 0) {
      const int32_t previous = (pos.block + kBlockSlots - 1) % kBlockSlots;
      if (read_segment_table(previous) != 0) {
        pos.block = previous;
        pos.segment = block_entry(previous).last_segment;
        return;
      }
      pos.block = oldest;
      if (attempt == 0) load_record_index(LoadMode::kKeep);
      continue;
    }
    pos.segment -= 1;
    return;
  }
}

int walk(bool forward, int depth) {
  if (ring_control(Ring::kBlock).count == 0) return kNoBlocks;
  PlayPosition& pos = position();
  if (position_in_range(pos.block, pos.segment) != 0) return kOutsideRange;
  const PlayPosition saved = pos;
  saved_position() = saved;
  ensure_segment_table(pos.block);

  if (forward) {
    move_forward(pos);
  } else {
    move_back(pos);
  }

  ensure_segment_table(pos.block);
  SegmentEntry entry = segment_entry(pos.segment);
  read_chunk_index(entry);
  pos.chunk = 0;

  if (position_in_range(pos.block, pos.segment) != 0) return return_into_range(saved, forward);
  // A segment with a bad checksum counts as one without playable data.
  if (entry.valid && entry.playable()) return kWalkMoved;
  if (same_place(pos, saved)) return kWalkMoved;
  if (depth >= kMaxStepDepth) return kWalkMoved;
  return walk(forward, depth + 1);
}

}  // namespace

void set_end_position(bool newest) {
  PlayPosition& pos = position();
  if (newest) {
    pos.time_attribute = static_cast<int32_t>(ring_control(Ring::kTimeAttribute).newest);
    pos.block = static_cast<int32_t>(ring_control(Ring::kBlock).newest);
    pos.recording = static_cast<int32_t>(ring_control(Ring::kRecording).newest);
    pos.alarm = static_cast<int32_t>(ring_control(Ring::kAlarm).newest);
    pos.segment = block_entry(pos.block).last_segment;
  } else {
    pos.time_attribute = static_cast<int32_t>(ring_control(Ring::kTimeAttribute).oldest);
    pos.block = static_cast<int32_t>(ring_control(Ring::kBlock).oldest);
    pos.recording = static_cast<int32_t>(ring_control(Ring::kRecording).oldest);
    pos.alarm = static_cast<int32_t>(ring_control(Ring::kAlarm).oldest);
    pos.segment = block_entry(pos.block).first_segment;
  }
}

int walk_forward() {
  return walk(true, 0);
}
int walk_back() {
  return walk(false, 0);
}

}  // namespace virazav::recdisk
