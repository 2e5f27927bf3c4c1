// Skipping from recording to recording through the RecList: finding the
// recording that holds the position, one skip forwards or backwards, and the
// repeat over recordings the recorder flagged to be skipped again.
#include "recdisk/index_trace.h"
#include "recdisk/record_index.h"

namespace virazav::recdisk {
namespace {

using detail::tracef;

// Nested skips over recordings without playable data. Each reads a SegmentTable;
// a damaged list of unplayable recordings stops after as many as a walk steps over.
constexpr int kMaxSkipDepth = kMaxStepDepth;

int range_of(const RecordingEntry& r, int32_t block, int32_t segment) {
  return range_test(r.start_block, r.start_segment, r.end_block, r.end_segment,
                    static_cast<uint32_t>(block), static_cast<uint32_t>(segment));
}

int wrap_recording(int index) {
  return ((index % kRecordingSlots) + kRecordingSlots) % kRecordingSlots;
}

bool flagged(int recording) {
  return recording_entry(wrap_recording(recording)).skip_again != 0;
}

int skip_once(int direction, int depth) {
  if (ring_control(Ring::kBlock).count == 0) return kNoBlocks;
  PlayPosition& pos = position();
  const bool forward = direction != 0;
  if (forward) {
    tracef("SKIP NEXT %ld %ld\n", static_cast<long>(pos.block), static_cast<long>(pos.segment));
  } else {
    tracef("SKIP BACK %ld %ld %ld\n", static_cast<long>(pos.block), static_cast<long>(pos.segment),
           static_cast<long>(pos.chunk));
  }
  const int current = wrap_recording(pos.recording);
  const int32_t previous_block = pos.block;
  int target = current;
  bool to_own_start = false;

  if (forward) {
    if (current == static_cast<int>(ring_control(Ring::kRecording).newest))
      load_record_index(LoadMode::kKeep);
    const RingControl rc = ring_control(Ring::kRecording);
    const int newest = static_cast<int>(rc.newest);
    // At the newest recording there is nothing further: the target stays the
    // current recording, whose start the position goes to (before it or not).
    if (rc.count != 0 && current != newest) target = (current + 1) % kRecordingSlots;
  } else {
    const RecordingEntry cur = recording_entry(current);
    const bool at_start = pos.block == cur.start_block &&
                          static_cast<uint32_t>(pos.segment) == cur.start_segment && pos.chunk == 0;
    if (ring_control(Ring::kRecording).count == 0) {
      // An empty list: nothing further.
    } else if (at_start) {
      if (current == static_cast<int>(ring_control(Ring::kRecording).oldest)) {
        load_record_index(LoadMode::kKeep);
      } else {
        target = current == 0 ? kRecordingSlots - 1 : current - 1;
      }
    } else {
      target = current;
      to_own_start = true;
    }
  }

  // Without a further recording the position goes to the current one's start.
  const RecordingEntry te = recording_entry(target);
  pos.recording = target;
  pos.block = te.start_block;
  pos.segment = static_cast<int32_t>(te.start_segment);
  tracef("%ld:%ld %ld\n", static_cast<long>(target), static_cast<long>(pos.block),
         static_cast<long>(pos.segment));
  int result = kWalkMoved;
  int table_read = read_segment_table(pos.block);
  tracef("%d\n", table_read);
  if (table_read == 0) {
    read_segment_table(previous_block);
    pos.block = previous_block;
    result = 0;
  }
  read_chunk_index(segment_entry(pos.segment));
  pos.chunk = 0;
  read_cursor() = 0;
  tracef("<%d ret %d(%ld %ld [%d])>\t", target, result, static_cast<long>(pos.block),
         static_cast<long>(pos.segment), pos.chunk);
  if (target == current && !to_own_start) result = kNoFurtherRecording;

  SegmentEntry landed = segment_entry(pos.segment);
  if (forward && landed.valid && landed.kind == kSegKindStartMark) {
    load_record_index(LoadMode::kKeep);
    landed = segment_entry(pos.segment);
    read_chunk_index(landed);
  }
  if (result > 0 && !landed.playable() && depth < kMaxSkipDepth)
    result = skip_once(direction, depth + 1);
  tracef("PLAY SKIP %d ret %d(%ld %ld [%d])\n", direction, result, static_cast<long>(pos.block),
         static_cast<long>(pos.segment), pos.recording);
  return result;
}

}  // namespace

int find_recording(int recording, int32_t block, int32_t segment) {
  int answer = -1;
  if (recording >= 0 && recording < kRecordingSlots &&
      range_of(recording_entry(recording), block, segment) == 0) {
    answer = recording;
  } else {
    const RingControl rc = ring_control(Ring::kRecording);
    for (uint32_t k = 0; k < rc.count && answer < 0; ++k) {
      const int i = ring_index(Ring::kRecording, k);
      const int r = range_of(recording_entry(i), block, segment);
      if (r == 0) {
        answer = i;
      } else if (r == -1) {
        // This recording starts after the position: the one before holds it.
        answer = i > 0 ? i - 1 : 0;
      }
    }
    if (answer < 0) answer = static_cast<int>(rc.oldest);
  }
  tracef("rec_start_num[R_PLAY_FLAG]=%d\n", answer);
  return answer;
}

int skip_recording(int direction) {
  return skip_once(direction, 0);
}

int skip_with_repeat(int direction, int /*count*/) {
  const PlayPosition start = position();
  int result = skip_recording(direction);
  // The recorder flags recordings that a skip passes over once more.
  for (int repeats = 0; repeats < 2 && result >= 0 && flagged(position().recording); ++repeats) {
    result = skip_recording(direction);
  }
  if (direction != 0) {
    if (result < 0 && flagged(position().recording)) {
      const int first = result;
      for (int back = 0; back < 2; ++back) {
        if (skip_recording(0) < 0 || !flagged(position().recording)) break;
      }
      return first;
    }
    return result;
  }
  const PlayPosition& now = position();
  if ((now.block != start.block || now.segment != start.segment) && flagged(now.recording))
    return kWalkMoved;
  return result;
}

}  // namespace virazav::recdisk
