// The index-only disk player operations, over the record index of the disk
// reader. Like the index itself they are unlocked: one caller at a time, and
// not while the disk feeder plays.
#include "player/disk_index.h"

#include "recdisk/disk.h"
#include "recdisk/record_index.h"

namespace virazav::player {

using namespace virazav::recdisk;

int search_play(int32_t t) {
  const RecTime when = rec_time_from_number(t);
  if (search_by_time(when) > 0) {
    read_cursor() = position().chunk;
    return kSearchPlayFound;
  }
  load_record_index(LoadMode::kNewest);
  PlayPosition& pos = position();
  const int chunks = segment_entry(pos.segment).chunks();
  if (chunks > 0) pos.chunk = chunks - 1;
  read_cursor() = pos.chunk;
  return kSearchPlayNewest;
}

int read_start_end_sec(uint32_t* start, uint32_t* end) {
  if (!drive_is_open()) return kRangeUnavailable;
  if (load_record_index(LoadMode::kKeep) == 0) return kRangeUnavailable;
  const RingControl bc = ring_control(Ring::kBlock);
  if (start) *start = time_number(block_entry(static_cast<int>(bc.oldest)).first_time);
  if (end) *end = time_number(block_entry(static_cast<int>(bc.newest)).last_time);
  return 0;
}

int get_rec_list(uint16_t* count, uint16_t* oldest) {
  const RingControl rc = ring_control(Ring::kRecording);
  if (count) *count = static_cast<uint16_t>(rc.count);
  if (oldest) *oldest = static_cast<uint16_t>(rc.oldest);
  return 0;
}

int get_list_start_end_sec(int index, uint32_t* start, uint32_t* end, uint32_t* kind) {
  if (index < 0 || index >= kRecordingSlots) return kListIndexOutside;
  const RecordingEntry r = recording_entry(index);
  if (start) *start = time_number(r.start);
  if (end) *end = time_number(r.end);
  if (kind) *kind = r.kind;
  return 0;
}

int get_alarm_list(uint8_t* count, uint8_t* oldest) {
  const RingControl ac = ring_control(Ring::kAlarm);
  if (count) *count = static_cast<uint8_t>(ac.count);
  if (oldest) *oldest = static_cast<uint8_t>(ac.oldest);
  return 0;
}

int get_alarm_info(int index, uint32_t* start, uint32_t* end) {
  if (index < 0 || index >= kAlarmSlots) return kListIndexOutside;
  const AlarmEntry a = alarm_entry(index);
  if (start) *start = time_number(a.start);
  if (end) *end = time_number(a.end);
  return 0;
}

namespace {

int skip(int direction) {
  PlayPosition& pos = position();
  pos.recording = find_recording(pos.recording, pos.block, pos.segment);
  skip_with_repeat(direction, 3);
  return 0;
}

}  // namespace

int skip_forward() {
  return skip(1);
}
int skip_back() {
  return skip(0);
}

}  // namespace virazav::player
