// Times of a data set: the recorder's packed time (every month 31 days),
// the base time from the pack header, positioning by wall-clock time, and the
// current play time as calendar fields.
#include "dlplayer/dataset_state.h"
#include "dlplayer/dlplayer.h"
#include "dlplayer/frame_index.h"
#include "platform/platform.h"

namespace virazav::dlplayer {

using detail::DataSetState;
using detail::state;

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerMonth = 31 * kSecondsPerDay;   // 2,678,400
constexpr int64_t kSecondsPerYear = 12 * kSecondsPerMonth;  // 32,140,800
constexpr int64_t kPtsPerSecond = 90000;
constexpr int64_t kWrapAllowance = 2147483647;

// Calendar record of calc_time: bytes 8..13.
constexpr size_t kRecordYear = 8;

}  // namespace

int64_t packed_time_to_seconds(int64_t packed_time) {
  int64_t v = packed_time < 0 ? 0 : packed_time;
  platform::LocalTime t{};
  t.year = static_cast<int>(2000 + v / kSecondsPerYear);
  t.month = static_cast<int>((v % kSecondsPerYear) / kSecondsPerMonth + 1);
  t.day = static_cast<int>((v % kSecondsPerMonth) / kSecondsPerDay + 1);
  int64_t rest = v % kSecondsPerDay;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest % 3600 / 60);
  t.second = static_cast<int>(rest % 60);
  return platform::make_local_seconds(t);
}

int make_base_tm(int packed_time) {
  int64_t t = packed_time_to_seconds(packed_time);
  state().base_time.store(t);
  return static_cast<int>(t);
}

void calc_time(uint8_t* record) {
  if (record == nullptr) return;
  DataSetState& s = state();
  uint32_t current = s.current_pts.load();
  int64_t diff = static_cast<int64_t>(current) - static_cast<int64_t>(s.first_pts);
  if (current < s.first_pts) {
    diff = static_cast<int64_t>(static_cast<int32_t>(current - s.first_pts)) + kWrapAllowance;
  }
  int64_t t = diff / kPtsPerSecond + s.base_time.load();
  platform::LocalTime lt{};
  if (!platform::local_time_of(t, &lt)) return;
  record[kRecordYear] = static_cast<uint8_t>(lt.year - 2000);
  record[kRecordYear + 1] = static_cast<uint8_t>(lt.month);
  record[kRecordYear + 2] = static_cast<uint8_t>(lt.day);
  record[kRecordYear + 3] = static_cast<uint8_t>(lt.hour);
  record[kRecordYear + 4] = static_cast<uint8_t>(lt.minute);
  record[kRecordYear + 5] = static_cast<uint8_t>(lt.second);
}

int search(int packed_time, int parts) {
  DataSetState& s = state();
  if (!s.initialised.load() || !s.file.is_open()) return 0;
  int64_t t = packed_time_to_seconds(packed_time);
  int64_t base = s.base_time.load();
  int64_t duration = static_cast<int64_t>(s.end_pts - s.first_pts) / kPtsPerSecond;
  if (t < base) return parts > 0 ? 0 : static_cast<int>(s.first_offset);
  if (base + duration < t) return parts > 0 ? parts : static_cast<int>(s.last_key_offset);

  // The estimate assumes a constant byte rate; a recording shorter than one
  // second has none and starts at its first packet.
  int64_t estimate = s.first_offset;
  if (duration > 0) estimate = (s.file_size / duration) * (t - base);
  if (estimate < s.first_offset) estimate = s.first_offset;

  int64_t result;
  {
    detail::PlayerRequest lock(s);
    s.current_offset = estimate;
    s.file.seek(estimate, platform::SeekFrom::kBegin);
    // The position stays at the key frame found near the estimate; stepping
    // further toward the exact stamp is left out (see the header).
    if (detail::seek_key_frame(format::kForward) < 0) {
      s.current_pts.store(s.first_pts);
      return parts > 0 ? 0 : static_cast<int>(s.first_offset);
    }
    if (parts > 0) {
      int64_t slice = s.file_size / parts;
      if (slice < 1) slice = 1;
      result = (s.current_offset - s.first_offset) / slice;
    } else {
      result = s.current_offset;
    }
    s.displayed_pts.store(0);
    detail::note_reposition(s);
  }
  if (parts <= 0) return static_cast<int>(result >= 0 ? result : s.current_offset.load());
  if (result > parts) return parts;
  return static_cast<int>(result < 0 ? 0 : result);
}

}  // namespace virazav::dlplayer
