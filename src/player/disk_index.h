// The disk player's operations that work on the record index alone: the time
// search that places playback, the recorded range, the recording and alarm
// lists, and the skips between recordings.
#pragma once

#include <cstdint>

namespace virazav::player {

// Results.
inline constexpr int kSearchPlayFound = 1;    // positioned at t (or the newest attribute's start)
inline constexpr int kSearchPlayNewest = 2;   // t not found: positioned at the newest recording
inline constexpr int kRangeUnavailable = -1;  // no drive open, or the index could not be loaded
inline constexpr int kListIndexOutside = -1;  // a list index outside its table

// Places the play position at time number t (search_by_time); when the search
// does not place it, at the last chunk of the newest segment.
int search_play(int32_t t);
// Time numbers of the first segment of the oldest block and of the last segment
// of the newest block, after a load that keeps the position.
int read_start_end_sec(uint32_t* start, uint32_t* end);
// Count and oldest index of the recording list.
int get_rec_list(uint16_t* count, uint16_t* oldest);
// Start and end time numbers and kind of recording `index` (0..999).
int get_list_start_end_sec(int index, uint32_t* start, uint32_t* end, uint32_t* kind);
// Count and oldest index of the alarm list.
int get_alarm_list(uint8_t* count, uint8_t* oldest);
// Start and end time numbers of alarm `index` (0..49).
int get_alarm_info(int index, uint32_t* start, uint32_t* end);
// Sets the current recording from the position, then skips forwards / back.
int skip_forward();
int skip_back();

}  // namespace virazav::player
