// The index's 6-byte time stamp and its time number, and the checksum byte that
// ends every header, control record and entry of the index.
#include "recdisk/record_layout.h"

namespace virazav::recdisk {

RecTime load_rec_time(const uint8_t* p) {
  RecTime t;
  t.year = p[0];
  t.month = p[1];
  t.day = p[2];
  t.hour = p[3];
  t.minute = p[4];
  t.second = p[5];
  return t;
}

void store_rec_time(const RecTime& t, uint8_t* p) {
  p[0] = t.year;
  p[1] = t.month;
  p[2] = t.day;
  p[3] = t.hour;
  p[4] = t.minute;
  p[5] = t.second;
}

int compare_rec_time(const RecTime& a, const RecTime& b) {
  if (a.year != b.year) return a.year < b.year ? -1 : 1;
  if (a.month != b.month) return a.month < b.month ? -1 : 1;
  if (a.day != b.day) return a.day < b.day ? -1 : 1;
  // The clock part is compared as a second count, so a stored minute or second
  // above 59 still orders the way the recorder orders it.
  int sa = a.hour * 3600 + a.minute * 60 + a.second;
  int sb = b.hour * 3600 + b.minute * 60 + b.second;
  return sa < sb ? -1 : sa > sb ? 1 : 0;
}

uint32_t time_number(const RecTime& t) {
  // Every month counts 31 days and every year 372; the "- 32" takes out the first
  // month and day, which count from 1. Unsigned arithmetic wraps for stamps
  // before 2000-01-01 the way the 32-bit original does.
  uint32_t days = t.day + 31u * (t.month + 12u * t.year) - 32u;
  return t.second + 60u * (t.minute + 60u * (t.hour + 24u * days));
}

namespace {

bool leap_year(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int month, int year) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && leap_year(year)) return 29;
  return kDays[(month - 1) % 12];
}

}  // namespace

RecTime rec_time_from_number(int32_t t) {
  constexpr int32_t kYear = 32140800;  // 372 days
  constexpr int32_t kMonth = 2678400;  // 31 days
  constexpr int32_t kDay = 86400;
  int year = t / kYear;
  int month = (t % kYear) / kMonth + 1;
  int day = (t % kMonth) / kDay + 1;
  int hour = (t % kDay) / 3600;
  int minute = (t % 3600) / 60;
  int second = t % 60;
  if (day == 0) {
    // Only a negative number gets here: its day lies in the month before.
    month -= 1;
    if (month < 1) {
      month = 12;
      year -= 1;
    }
    day = days_in_month(month, 2000 + year);
  }
  RecTime r;
  r.year = static_cast<uint8_t>(year);
  r.month = static_cast<uint8_t>(month);
  r.day = static_cast<uint8_t>(day);
  r.hour = static_cast<uint8_t>(hour);
  r.minute = static_cast<uint8_t>(minute);
  r.second = static_cast<uint8_t>(second);
  return r;
}

bool checksum_valid(const uint8_t* item, size_t n) {
  if (n == 0) return false;
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < n; ++i) sum = static_cast<uint8_t>(sum + item[i]);
  return sum == item[n - 1];
}

}  // namespace virazav::recdisk
