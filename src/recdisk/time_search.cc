// The search for a time in the record index. The recorder moves its time
// attribute on whenever its clock is set, so one wall-clock time can lie under
// several attributes: the search goes through them from the newest to the
// oldest, and within one attribute narrows a block, then a segment range, then a
// segment and a chunk.
#include "recdisk/index_trace.h"
#include "recdisk/record_index.h"

namespace virazav::recdisk {
namespace {

using detail::tracef;

constexpr int64_t kLastSlot = kSegmentSlots - 1;
constexpr int kMaxSegmentRereads = 3;

int64_t clamp_slot(int64_t s) {
  return s < 0 ? 0 : s > kLastSlot ? kLastSlot : s;
}

// Step 4: the block of attribute a that holds t, narrowing [*lo, *hi]. Returns
// the block, or -1 when no block fits.
int find_block(const TimeAttributeEntry& e, int attribute, const RecTime& t, int64_t* lo,
               int64_t* hi) {
  if (e.first_block == e.last_block) return e.first_block < kBlockSlots ? e.first_block : -1;
  int b = e.first_block % kBlockSlots;
  const int last = e.last_block % kBlockSlots;
  // A ring of blocks: at most one turn, passing blocks of other attributes.
  for (int n = 0; n < kBlockSlots; ++n) {
    BlockEntry be = block_entry(b);
    bool first_is_a = be.first_attribute == attribute;
    bool last_is_a = be.last_attribute == attribute;
    if (last_is_a && !first_is_a && compare_rec_time(be.last_time, t) >= 0) {
      *hi = be.last_segment;
      return b;
    }
    if (first_is_a && !last_is_a && compare_rec_time(be.first_time, t) <= 0) {
      *lo = be.first_segment;
      return b;
    }
    if (first_is_a && last_is_a && compare_rec_time(be.first_time, t) <= 0 &&
        compare_rec_time(be.last_time, t) >= 0) {
      *lo = be.first_segment;
      *hi = be.last_segment;
      return b;
    }
    if (b == last) break;
    b = (b + 1) % kBlockSlots;
  }
  return -1;
}

// One end of a recording compared with t, narrowing [*lo, *hi] (step 5).
// `minus_one` allows the lower end one before an equal start segment.
void narrow_by(int64_t segment, int cmp, bool minus_one, int64_t* lo, int64_t* hi) {
  if (cmp < 0) {
    if (segment > *lo) *lo = segment;
  } else if (cmp > 0) {
    if (segment < *hi) *hi = segment;
  } else {
    *lo = *hi = segment;
    if (minus_one) *lo = segment - 1;
  }
}

// Step 5: narrows the range with the recordings of attribute a in the block.
void narrow_by_recordings(int attribute, int block, const RecTime& t, int64_t lo4, int64_t* lo,
                          int64_t* hi) {
  RingControl rc = ring_control(Ring::kRecording);
  int64_t previous_end = -2;  // no recording examined yet
  for (uint32_t k = 0; k < rc.count; ++k) {
    RecordingEntry r = recording_entry(ring_index(Ring::kRecording, k));
    if (r.attribute != attribute) continue;
    const bool starts_here = r.start_block == block;
    const bool ends_here = r.end_block == block;
    bool stop = false;
    if (starts_here) {
      int64_t s = r.start_segment;
      int c = compare_rec_time(r.start, t);
      bool minus_one = s > 0 && s > lo4 && s != previous_end + 1;
      narrow_by(s, c, minus_one, lo, hi);
      stop = c >= 0;
    }
    if (ends_here) {
      int c = compare_rec_time(r.end, t);
      narrow_by(r.end_segment, c, false, lo, hi);
      if (starts_here && c >= 0) stop = true;
    }
    previous_end = r.end_segment;
    if (stop) break;
  }
}

// Step 8: looks for the chunk of t in one segment. Returns the chunk or -1.
int find_chunk(const SegmentEntry& se, const RecTime& t) {
  if (read_chunk_index(se) == 0) return -1;
  const int n = se.chunks();
  for (int j = 0; j < n; ++j) {
    ChunkEntry ce = chunk_entry(j);
    if (!ce.valid) continue;
    int c = compare_rec_time(ce.time, t);
    if (c == 0) return j;
    if (c > 0) return j > 0 ? j - 1 : 0;
  }
  return -1;
}

bool is_end_mark(int64_t segment) {
  SegmentEntry se = segment_entry(segment);
  return se.valid && se.kind == kSegKindEndMark;
}

// The search within one attribute with its retries: a missing attribute is
// searched once more, and a stop at an end mark counts as found.
int search_within_attribute(const RecTime& t, int attribute, int* retry) {
  int r = search_index(t, attribute);
  while (r == kSearchNoAttribute) {
    ++*retry;
    tracef("TA_count up:%d\n", *retry);
    if (*retry >= 2) return 0;
    tracef("Callback search\n");
    r = search_index(t, attribute);
  }
  if (r == kSearchEndMark) {
    load_record_index(LoadMode::kKeep);
    return kSearchFound;
  }
  return r;
}

}  // namespace

int search_index(const RecTime& t, int attribute) {
  RingControl tc = ring_control(Ring::kTimeAttribute);
  if (tc.count == 0) return kSearchNoAttribute;
  int found = -1;
  for (uint32_t k = 0; k < tc.count && found < 0; ++k) {
    int i = ring_index(Ring::kTimeAttribute, k);
    if (time_attribute_entry(i).attribute == attribute) found = i;
  }
  if (found < 0) return kSearchNoAttribute;
  const TimeAttributeEntry e = time_attribute_entry(found);
  PlayPosition& pos = position();

  if (compare_rec_time(e.first_time, t) > 0) {
    pos.block = e.first_block;
    pos.segment = static_cast<int32_t>(e.first_segment);
    pos.chunk = 0;
    return kSearchNotFound;
  }
  if (compare_rec_time(e.last_time, t) < 0) {
    pos.block = e.last_block;
    pos.segment = static_cast<int32_t>(e.last_segment);
    pos.chunk = 0;
    return kSearchAfterAttribute;
  }

  int64_t lo = e.first_segment;
  int64_t hi = e.last_segment;
  const int block = find_block(e, attribute, t, &lo, &hi);
  if (block < 0) return kSearchNoAttribute;
  const int64_t lo4 = lo;
  narrow_by_recordings(attribute, block, t, lo4, &lo, &hi);

  // Segment numbers come from the disk; the scan never leaves the block's slots.
  read_segment_table(block);
  lo = clamp_slot(lo);
  hi = clamp_slot(hi);
  int64_t taken = -1;
  int64_t last_compared = hi;
  if (lo <= hi) {
    int rereads = 0;
    for (int64_t s = lo; s <= hi; ++s) {
      SegmentEntry se = segment_entry(s);
      // A bad entry makes the block be read again with another copy in front;
      // three rereads per search at most, so a damaged block costs a bounded time.
      while (!se.valid && rereads < kMaxSegmentRereads) {
        ++rereads;
        read_segment_table(block, rereads);
        se = segment_entry(s);
      }
      if (!se.valid) continue;
      int c = compare_rec_time(se.time, t);
      if (c < 0) continue;
      last_compared = s;
      if (c == 0) {
        taken = s > 0 && s > lo4 ? s - 1 : s;
      } else {
        taken = s > 0 ? s - 1 : s;
      }
      break;
    }
  }
  if (taken < 0) {
    taken = hi;
    last_compared = hi;
  }

  bool end_mark = false;
  int64_t end_segment = -1;
  for (int64_t s = taken; s <= last_compared; ++s) {
    SegmentEntry se = segment_entry(s);
    if (!se.valid) continue;
    int chunk = find_chunk(se, t);
    if (chunk >= 0) {
      pos.block = block;
      pos.segment = static_cast<int32_t>(s);
      pos.chunk = chunk;
      return kSearchFound;
    }
    if (se.kind == kSegKindEndMark) {
      end_mark = true;
      end_segment = s;
      break;
    }
  }
  if (!end_mark && last_compared + 1 <= kLastSlot && is_end_mark(last_compared + 1)) {
    end_mark = true;
    end_segment = last_compared + 1;
  }
  if (!end_mark) return 0;
  if (end_segment + 1 > kLastSlot) {
    pos.block = (block + 1) % kBlockSlots;
    pos.segment = 0;
    read_segment_table(pos.block);
  } else {
    pos.block = block;
    pos.segment = static_cast<int32_t>(end_segment + 1);
  }
  pos.chunk = 0;
  return kSearchEndMark;
}

int search_by_time(const RecTime& t) {
  load_ring(Ring::kTimeAttribute);
  int attribute =
      time_attribute_entry(static_cast<int>(ring_control(Ring::kTimeAttribute).newest)).attribute;
  saved_position() = position();
  const PlayPosition saved = position();
  PlayPosition fallback;
  bool have_fallback = false;
  int result = 0;
  bool ended_by_count = true;

  for (int pass = 0; pass < kMaxSearchPasses; ++pass) {
    int retry = 0;
    load_record_index(LoadMode::kKeep);
    tracef("time attribute=%d\n", attribute);
    int r = search_within_attribute(t, attribute, &retry);
    if (r > 0) return r;
    if (pass == 0 && r == kSearchNotFound) {
      fallback = position();
      have_fallback = true;
    }
    if (attribute == static_cast<int>(ring_control(Ring::kTimeAttribute).oldest)) {
      PlayPosition& pos = position();
      pos = saved;
      if (have_fallback) {
        // t lies before the newest attribute and in no older one: play from the
        // start of the newest attribute.
        pos.block = fallback.block;
        pos.segment = fallback.segment;
        load_record_index(LoadMode::kKeep);
        read_chunk_index(segment_entry(pos.segment));
        return kSearchBeforeAll;
      }
      result = kSearchNotFound;
      ended_by_count = false;
      break;
    }
    attribute = attribute == 0 ? kTimeAttributeSlots - 1 : attribute - 1;
    result = load_record_index(LoadMode::kOldest);
  }
  if (ended_by_count && result > 0) return result;
  position() = saved;
  if (load_record_index(LoadMode::kKeep) != 0) read_chunk_index(segment_entry(position().segment));
  return result;
}

}  // namespace virazav::recdisk
