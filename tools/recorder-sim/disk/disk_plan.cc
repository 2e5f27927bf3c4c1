// The recorder's bookkeeping of a recorded stretch: recordings cut at clock set-backs,
// segments in consecutive ring slots, filler before the stretch, alarms, and the tables of
// its record index after any number of segments.

#include "disk/disk_plan.h"

#include <algorithm>
#include <cmath>

namespace virazav::sim::diskimg {

namespace {

constexpr int kMaxPacketsPerChunk = 255;  // the chunk header counts packets in one byte
constexpr int kMaxSetBacks = kTimeAttributeSlots - 1;
constexpr int kMaxFps = 30;
constexpr int kMaxPictureSide = 1920;
constexpr int kMaxAlarmsOrStills = 100000;
constexpr int kMaxStillGap = 65536;

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

}  // namespace

RingInfo ring_of(int64_t total, int first, int capacity) {
  RingInfo r;
  const int64_t count = std::min<int64_t>(total, capacity);
  r.count = static_cast<int>(count);
  r.oldest = static_cast<int>((first + total - count) % capacity);
  r.newest = total > 0 ? static_cast<int>((first + total - 1) % capacity) : first % capacity;
  return r;
}

bool DiskPlan::make(const DiskImageDesc& desc, std::string* error) {
  *this = DiskPlan();
  if (desc.channels < 1 || desc.channels > kChannelCount) {
    return fail(error, "channels must be 1..16");
  }
  const int audio =
      desc.audio_channels < 0 ? std::min(desc.channels, kAudioChannelCount) : desc.audio_channels;
  if (audio > kAudioChannelCount) return fail(error, "audio channels must be 0..4");
  if (desc.chunks_per_segment < 1 || desc.chunks_per_segment > kMaxChunksPerSegment) {
    return fail(error, "chunks per segment must be 1..40");
  }
  if (desc.newest_generation < 0 || desc.newest_generation >= kGenerationCount) {
    return fail(error, "the newest generation must be 0..5");
  }
  if (desc.index_lag_segments < 0) return fail(error, "the index lag must not be negative");
  if (desc.first_attribute < 0 || desc.first_attribute >= kTimeAttributeSlots) {
    return fail(error, "the first time attribute must be 0..99");
  }
  if (desc.start_block < 0 || desc.start_block >= kBlockCount || desc.start_segment < 0 ||
      desc.start_segment >= kSegmentsPerBlock) {
    return fail(error, "the start slot must be block 0..249, segment 0..24999");
  }
  if (desc.first_attribute_slot < 0 || desc.first_attribute_slot >= kTimeAttributeSlots ||
      desc.first_recording_slot < 0 || desc.first_recording_slot >= kRecordingSlots ||
      desc.first_alarm_slot < 0 || desc.first_alarm_slot >= kAlarmSlots) {
    return fail(error, "a first ring slot lies outside its table");
  }
  if (!valid_rec_time(desc.start)) return fail(error, "the start time is not a valid date");
  const VideoSettings& v = desc.video;
  if (v.fps < 1 || v.fps > kMaxFps) return fail(error, "pictures a second must be 1..30");
  if (v.width < 16 || v.height < 16 || v.width > kMaxPictureSide || v.height > kMaxPictureSide ||
      v.width % 16 != 0 || v.height % 16 != 0) {
    return fail(error, "the picture size must be multiples of 16 from 16 to 1920");
  }
  if (v.quantizer < 2 || v.quantizer > 31 || desc.still_quality < 2 || desc.still_quality > 31) {
    return fail(error, "quantizers must be 2..31");
  }
  // A one-second chunk holds every picture of every channel and up to two audio packets of
  // each audio channel (0.512 s each).
  if (v.fps * desc.channels + 2 * audio > kMaxPacketsPerChunk) {
    return fail(error, "a chunk would hold more than 255 packets (fewer channels or pictures)");
  }
  if (desc.alarms < 0 || desc.alarm_s < 1 || desc.stills < 0 || desc.still_gap_sectors < 0 ||
      desc.repeat_after_s < 0) {
    return fail(error, "alarms, stills, gaps and lengths must not be negative");
  }
  if (desc.alarms > kMaxAlarmsOrStills || desc.stills > kMaxAlarmsOrStills ||
      desc.still_gap_sectors > kMaxStillGap) {
    return fail(error, "at most 100000 alarms and stills, and gaps of 65536 sectors");
  }
  if (desc.clock_set_backs.size() > static_cast<size_t>(kMaxSetBacks)) {
    return fail(error, "at most 99 clock set-backs");
  }
  for (const ClockSetBack& b : desc.clock_set_backs) {
    if (b.at_s < 0 || b.back_s < 1) {
      return fail(error, "a clock set-back needs a time from 0 and a step back of 1 s or more");
    }
  }

  chunks_per_segment_ = desc.chunks_per_segment;
  first_attribute_ = desc.first_attribute;
  start_clock_ = clock_seconds(desc.start);
  first_attribute_slot_ = desc.first_attribute_slot;
  first_recording_slot_ = desc.first_recording_slot;
  first_alarm_slot_ = desc.first_alarm_slot;
  channels_ = desc.channels;
  set_backs_ = desc.clock_set_backs;
  std::stable_sort(set_backs_.begin(), set_backs_.end(),
                   [](const ClockSetBack& a, const ClockSetBack& b) { return a.at_s < b.at_s; });

  if (!plan_recordings(desc, error)) return false;

  const int64_t stretch = stretch_segments();
  if (desc.full_size_index) {
    if (stretch > kRingSlots) return fail(error, "the stretch needs more segments than the ring");
    filler_ = kRingSlots - stretch;
    first_slot_ = 0;
  } else {
    // The newest block must not reach back into the oldest one.
    if (stretch > kRingSlots - kSegmentsPerBlock) {
      return fail(error, "the stretch needs more segments than the ring holds");
    }
    filler_ = 0;
    first_slot_ = int64_t{desc.start_block} * kSegmentsPerBlock + desc.start_segment;
  }
  filler_step_s_ = chunks_per_segment_;
  // Filler recordings: one per block, the stretch beginning at a block's start or inside the
  // last filler block.
  filler_recordings_ = static_cast<int>((filler_ + kSegmentsPerBlock - 1) / kSegmentsPerBlock);
  std::vector<PlannedRecording> all;
  for (int r = 0; r < filler_recordings_; ++r) {
    PlannedRecording f;
    f.first = int64_t{r} * kSegmentsPerBlock;
    f.count = std::min<int64_t>(kSegmentsPerBlock, filler_ - f.first);
    f.attribute = first_attribute_;
    f.filler = true;
    all.push_back(f);
  }
  for (PlannedRecording r : recordings_) {
    r.first += filler_;
    all.push_back(r);
  }
  recordings_ = std::move(all);

  // Every time stamp must fit the recorder's byte of years.
  int64_t lowest = filler_ > 0 ? clock(0) : start_clock_;
  int64_t highest = start_clock_;
  for (const PlannedRecording& r : recordings_) {
    if (r.filler) continue;
    lowest = std::min(lowest, clock_at(r.start_s));
    highest = std::max(highest, clock_at(r.start_s + r.seconds - 1));
  }
  if (!rec_time_at(lowest) || !rec_time_at(highest)) {
    return fail(error, "a recorded time would fall outside the years 2000..2255");
  }
  plan_alarms(desc);
  return true;
}

bool DiskPlan::plan_recordings(const DiskImageDesc& desc, std::string* error) {
  std::vector<RecordingPlan> plans = desc.recordings;
  if (plans.empty()) {
    const double seconds = std::round(desc.hours * 3600.0);
    if (!(seconds >= 1.0) || seconds > 1e9) return fail(error, "hours must give 1 s or more");
    const auto total = static_cast<int64_t>(seconds);
    if (desc.recording_count < 1 || desc.recording_count > 100000 || total < desc.recording_count ||
        desc.gap_s < 0) {
      return fail(error, "each recording needs a second at least; gaps must not be negative");
    }
    if (total / chunks_per_segment_ > kRingSlots) {
      return fail(error, "the stretch needs more segments than the ring holds");
    }
    const int64_t each = total / desc.recording_count;
    for (int i = 0; i < desc.recording_count; ++i) {
      RecordingPlan p;
      p.seconds = i + 1 == desc.recording_count ? total - each * i : each;
      p.gap_before_s = i == 0 ? 0 : desc.gap_s;
      plans.push_back(p);
    }
  }

  int64_t at = 0;
  size_t next_back = 0;
  int attribute = first_attribute_;
  for (const RecordingPlan& p : plans) {
    if (p.seconds < 1 || p.gap_before_s < 0) {
      return fail(error, "a recording needs 1 s or more and a gap that is not negative");
    }
    at += p.gap_before_s;
    int64_t begin = at;
    const int64_t end = at + p.seconds;
    while (begin < end) {
      // Set-backs up to and including this second change the attribute from here on.
      while (next_back < set_backs_.size() && set_backs_[next_back].at_s <= begin) {
        attribute = (attribute + 1) % kTimeAttributeSlots;
        ++next_back;
      }
      int64_t piece_end = end;
      if (next_back < set_backs_.size() && set_backs_[next_back].at_s < end) {
        piece_end = set_backs_[next_back].at_s;
      }
      PlannedRecording r;
      r.start_s = begin;
      r.seconds = piece_end - begin;
      r.attribute = attribute;
      r.kind = p.kind;
      r.skip_again = p.skip_again;
      r.first = stretch_segments();
      r.count = (r.seconds + chunks_per_segment_ - 1) / chunks_per_segment_;
      const int index = static_cast<int>(recordings_.size());
      for (int64_t k = 0; k < r.count; ++k) {
        StretchSegment s;
        s.second = begin + k * chunks_per_segment_;
        s.chunks = static_cast<int>(std::min<int64_t>(chunks_per_segment_, piece_end - s.second));
        s.recording = index;
        // The first segment of a recording carries the start mark and its last the end
        // mark; a recording of one segment carries the end mark.
        s.kind = k + 1 == r.count ? 1 : (k == 0 ? 2 : 0);
        segments_.push_back(s);
        if (segments_.size() > static_cast<size_t>(kRingSlots)) {
          return fail(error, "the stretch needs more segments than the ring holds");
        }
      }
      recorded_s_ += r.seconds;
      recordings_.push_back(r);
      begin = piece_end;
    }
    at = end;
  }
  span_s_ = at;
  return true;
}

void DiskPlan::plan_alarms(const DiskImageDesc& desc) {
  const int64_t n = desc.alarms;
  for (int64_t i = 0; i < n; ++i) {
    // The alarm begins at the recorded second (2i + 1) / 2n of the way through.
    int64_t k = (2 * i + 1) * recorded_s_ / (2 * n);
    for (const PlannedRecording& r : recordings_) {
      if (r.filler) continue;
      if (k >= r.seconds) {
        k -= r.seconds;
        continue;
      }
      PlannedAlarm a;
      a.start_s = r.start_s + k;
      a.end_s = std::min(a.start_s + desc.alarm_s, r.start_s + r.seconds);
      a.channel = static_cast<int>(i % channels_);
      alarms_.push_back(a);
      break;
    }
  }
}

int64_t DiskPlan::clock_at(int64_t second) const {
  int64_t c = start_clock_ + second;
  for (const ClockSetBack& b : set_backs_) {
    if (b.at_s <= second) c -= b.back_s;
  }
  return c;
}

int DiskPlan::attribute_at(int64_t second) const {
  int64_t backs = 0;
  for (const ClockSetBack& b : set_backs_) backs += b.at_s <= second ? 1 : 0;
  return static_cast<int>((first_attribute_ + backs) % kTimeAttributeSlots);
}

int64_t DiskPlan::clock(int64_t g) const {
  if (g < filler_) return start_clock_ - (filler_ - g) * filler_step_s_;
  return clock_at(segments_[g - filler_].second);
}

RecTime DiskPlan::time(int64_t g) const {
  return rec_time_at(clock(g)).value_or(RecTime{});
}

int DiskPlan::chunks(int64_t g) const {
  return g < filler_ ? 1 : segments_[g - filler_].chunks;
}

int DiskPlan::attribute(int64_t g) const {
  return recordings_[recording(g)].attribute;
}

uint8_t DiskPlan::kind(int64_t g) const {
  if (g >= filler_) return segments_[g - filler_].kind;
  const PlannedRecording& r = recordings_[recording(g)];
  if (g + 1 == r.first + r.count) return 1;
  return g == r.first ? 2 : 0;
}

int DiskPlan::recording(int64_t g) const {
  if (g < filler_) return static_cast<int>(g / kSegmentsPerBlock);
  return filler_recordings_ + segments_[g - filler_].recording;
}

int64_t DiskPlan::segment_at_slot(int64_t slot) const {
  const int64_t g = ((slot - first_slot_) % kRingSlots + kRingSlots) % kRingSlots;
  return g < total() ? g : -1;
}

int64_t DiskPlan::written_until(int64_t g) const {
  if (g < filler_) return 0;
  const StretchSegment& s = segments_[g - filler_];
  return s.second + s.chunks;
}

IndexCopyInfo DiskPlan::index_state(int64_t n) const {
  n = std::clamp<int64_t>(n, 0, total());
  IndexCopyInfo st;
  st.segments = n;
  auto last_chunk_time = [this](int64_t g) {
    return rec_time_at(clock(g) + chunks(g) - 1).value_or(RecTime{});
  };

  // Blocks: the slots written so far, block by block in ring order.
  int block_total = 0;
  for (int64_t g = 0; g < n;) {
    const int first = slot_in_block(g);
    const int64_t end = std::min<int64_t>(n, g + (kSegmentsPerBlock - first));
    BlockInfo b;
    b.block = block(g);
    b.segments = static_cast<int>(end - g);
    b.first_segment = first;
    b.last_segment = slot_in_block(end - 1);
    b.first_attribute = attribute(g);
    b.first_time = time(g);
    b.last_attribute = attribute(end - 1);
    b.last_time = time(end - 1);
    st.block_entries.push_back(b);
    ++block_total;
    g = end;
  }
  if (n > 0) {
    st.blocks.count = block_total;
    st.blocks.oldest = block(0);
    st.blocks.newest = block(n - 1);
    st.current_block = block(n - 1);
    st.current_segment = slot_in_block(n - 1);
  }

  // Recordings and time attribute stretches, each cut at the segments written.
  std::vector<AttributeInfo> runs;
  std::vector<RecordingInfo> recs;
  for (const PlannedRecording& r : recordings_) {
    if (r.first >= n) break;
    const int64_t last = std::min(r.first + r.count, n) - 1;
    RecordingInfo ri;
    ri.attribute = r.attribute;
    ri.start = time(r.first);
    ri.end = last_chunk_time(last);
    ri.start_block = block(r.first);
    ri.end_block = block(last);
    ri.start_segment = static_cast<uint32_t>(slot_in_block(r.first));
    ri.end_segment = static_cast<uint32_t>(slot_in_block(last));
    ri.kind = r.kind;
    ri.skip_again = r.skip_again;
    ri.filler = r.filler;
    recs.push_back(ri);
    if (!runs.empty() && runs.back().attribute == r.attribute) {
      runs.back().last = ri.end;
      runs.back().last_segment = ri.end_segment;
      runs.back().last_block = ri.end_block;
    } else {
      AttributeInfo a;
      a.attribute = r.attribute;
      a.first = ri.start;
      a.last = ri.end;
      a.first_segment = ri.start_segment;
      a.last_segment = ri.end_segment;
      a.first_block = ri.start_block;
      a.last_block = ri.end_block;
      runs.push_back(a);
    }
  }

  // Alarms that had begun when the last of the n segments was complete.
  std::vector<AlarmInfo> alarms;
  const int64_t until = n > 0 ? written_until(n - 1) : 0;
  for (const PlannedAlarm& a : alarms_) {
    if (a.start_s >= until) break;
    AlarmInfo ai;
    ai.channel = a.channel;
    ai.start = rec_time_at(clock_at(a.start_s)).value_or(RecTime{});
    ai.end = rec_time_at(clock_at(std::min(a.end_s, until) - 1)).value_or(RecTime{});
    alarms.push_back(ai);
  }

  // Each ring keeps its newest entries.
  auto keep_newest = [](auto& entries, int first, int capacity, RingInfo* ring) {
    const auto total = static_cast<int64_t>(entries.size());
    *ring = ring_of(total, first, capacity);
    const int64_t drop = total - ring->count;
    entries.erase(entries.begin(), entries.begin() + drop);
    for (int64_t k = 0; k < ring->count; ++k) {
      entries[k].slot = ring_slot(drop + k, first, capacity);
    }
  };
  keep_newest(runs, first_attribute_slot_, kTimeAttributeSlots, &st.attributes);
  keep_newest(recs, first_recording_slot_, kRecordingSlots, &st.recordings);
  keep_newest(alarms, first_alarm_slot_, kAlarmSlots, &st.alarms);
  st.attribute_entries = std::move(runs);
  st.recording_entries = std::move(recs);
  st.alarm_entries = std::move(alarms);
  return st;
}

}  // namespace virazav::sim::diskimg
