// The recorder's clock as its disk records it: the 6-byte time stamp of the record index
// (year since 2000, month, day, hour, minute, second), the calendar arithmetic behind it,
// and the two numbers made from a time stamp (the time number with its 31-day months and
// the packed recorder time). Layout in docs/formats/recorder-disk.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace virazav::sim {

// A time stamp of the recorder's clock. The year counts from 2000 (0..255); month 1..12,
// day 1..31, hour 0..23, minute and second 0..59.
struct RecTime {
  int year = 24;
  int month = 5;
  int day = 1;
  int hour = 10;
  int minute = 0;
  int second = 0;

  friend bool operator==(const RecTime&, const RecTime&) = default;
};

inline constexpr int kRecTimeSize = 6;

// Seconds of the recorder's clock counted from 2000-01-01 00:00:00 over the real calendar
// (leap years included). Negative before 2000.
int64_t clock_seconds(const RecTime& t);
// The time stamp `seconds` after 2000-01-01 00:00:00 (the inverse of clock_seconds).
// Returns nullopt when the year falls outside 2000..2255.
std::optional<RecTime> rec_time_at(int64_t seconds);
// Returns true when every field lies in its range and the day exists in its month.
bool valid_rec_time(const RecTime& t);

// The time number: second + 60 × (minute + 60 × (hour + 24 × (day + 31 × (month + 12 ×
// year) − 32))). Every month counts 31 days, so the number keeps the order of time
// stamps without being a count of seconds.
uint32_t time_number(const RecTime& t);
// The packed recorder time: seconds since 2000-01-01 with every month counted as 31 days,
// (year × 12 + month − 1) × 2,678,400 + (day − 1) × 86,400 + the seconds of the day.
uint32_t packed_time(const RecTime& t);

// Stores the 6 bytes of a time stamp at p.
void put_rec_time(uint8_t* p, const RecTime& t);
RecTime get_rec_time(const uint8_t* p);

// Parses "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DDTHH:MM:SS" (year 2000..2255). Returns nullopt
// for anything else or a date that does not exist.
std::optional<RecTime> parse_rec_time(std::string_view text);
// Formats a time stamp as "YYYY-MM-DD HH:MM:SS".
std::string format_rec_time(const RecTime& t);

}  // namespace virazav::sim
