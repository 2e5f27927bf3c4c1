// What the recorder recorded, worked out before anything is written: the recordings of the
// stretch cut at clock set-backs, their segments and the slots of the segment ring they
// occupy, the filler of a full-size index, the alarms, and the state of the record index
// after any number of segments (older index copies hold an earlier state).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk_image.h"

namespace virazav::sim::diskimg {

// One recording as the record index lists it. A recording of the plan that a clock
// set-back interrupts becomes two: the recorder closes its recording when the clock is set.
struct PlannedRecording {
  int64_t first = 0;    // first segment (global number: filler segments first)
  int64_t count = 0;    // segments
  int64_t start_s = 0;  // seconds after the start of the stretch (filler: not used)
  int64_t seconds = 0;
  int attribute = 0;
  uint8_t kind = 0;
  bool skip_again = false;
  bool filler = false;
};

struct PlannedAlarm {
  int64_t start_s = 0;  // first second of the alarm, after the start of the stretch
  int64_t end_s = 0;    // one past its last second
  int channel = 0;
};

class DiskPlan {
 public:
  // Works out the plan of `desc`. Returns false with a message when it cannot be
  // recorded (values out of range, more segments than the ring holds, ...).
  bool make(const DiskImageDesc& desc, std::string* error);

  int64_t filler() const { return filler_; }
  int64_t stretch_segments() const { return static_cast<int64_t>(segments_.size()); }
  int64_t total() const { return filler_ + stretch_segments(); }

  // Properties of segment g (global number, 0 .. total() − 1).
  int64_t slot(int64_t g) const { return (first_slot_ + g) % kRingSlots; }
  int block(int64_t g) const { return static_cast<int>(slot(g) / kSegmentsPerBlock); }
  int slot_in_block(int64_t g) const { return static_cast<int>(slot(g) % kSegmentsPerBlock); }
  int64_t clock(int64_t g) const;  // clock seconds of its first chunk
  RecTime time(int64_t g) const;
  int chunks(int64_t g) const;
  int attribute(int64_t g) const;
  uint8_t kind(int64_t g) const;
  int recording(int64_t g) const;  // index into recordings()
  // The global number of the segment in `slot` of the ring, or -1 when the slot is unused.
  int64_t segment_at_slot(int64_t slot) const;

  // Second (after the start of the stretch) of chunk c of stretch segment s.
  int64_t chunk_second(int64_t s, int c) const { return segments_[s].second + c; }
  int64_t clock_at(int64_t second) const;  // clock seconds at a second of the stretch
  int attribute_at(int64_t second) const;

  const std::vector<PlannedRecording>& recordings() const { return recordings_; }
  const std::vector<PlannedAlarm>& alarms() const { return alarms_; }
  int64_t span_s() const { return span_s_; }  // seconds from the stretch's start to its end
  int64_t recorded_s() const { return recorded_s_; }

  // The record index after the first n segments were written: the tables that a copy
  // written then holds, entries in use oldest first (the generation fields are left 0).
  IndexCopyInfo index_state(int64_t n) const;

 private:
  struct StretchSegment {
    int64_t second = 0;  // of its first chunk
    int chunks = 0;
    int recording = 0;
    uint8_t kind = 0;
  };

  bool plan_recordings(const DiskImageDesc& desc, std::string* error);
  void plan_alarms(const DiskImageDesc& desc);
  // Seconds after the stretch's start at which segment g's last chunk ends (filler: 0).
  int64_t written_until(int64_t g) const;

  int chunks_per_segment_ = 10;
  int first_attribute_ = 0;
  int64_t start_clock_ = 0;  // clock seconds at the start of the stretch
  int64_t first_slot_ = 0;   // ring slot of global segment 0
  int64_t filler_ = 0;
  int64_t filler_step_s_ = 0;  // seconds between two filler segments
  int64_t span_s_ = 0;
  int64_t recorded_s_ = 0;
  int first_attribute_slot_ = 0;
  int first_recording_slot_ = 0;
  int first_alarm_slot_ = 0;
  std::vector<ClockSetBack> set_backs_;  // sorted by time
  std::vector<StretchSegment> segments_;
  std::vector<PlannedRecording> recordings_;  // filler recordings first
  int filler_recordings_ = 0;
  std::vector<PlannedAlarm> alarms_;
  int channels_ = 1;
};

// Places `total` entries written in turn from ring slot `first` into a ring of `capacity`
// slots: the control values, and the slot of entry k (valid for the newest `count` only).
RingInfo ring_of(int64_t total, int first, int capacity);
inline int ring_slot(int64_t k, int first, int capacity) {
  return static_cast<int>((first + k) % capacity);
}

}  // namespace virazav::sim::diskimg
