// The recorder's calendar: its clock runs on the real Gregorian calendar, while the numbers
// it derives from a time stamp count every month as 31 days.

#include "disk/rec_time.h"

#include <charconv>
#include <cstdio>

namespace virazav::sim {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int kMaxYear = 255;  // one byte of years since 2000

bool leap_year(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && leap_year(year)) return 29;
  return kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

const int64_t kEpochDays = days_from_civil(2000, 1, 1);

bool take_number(std::string_view* text, int digits, int* out) {
  if (text->size() < static_cast<size_t>(digits)) return false;
  auto [end, ec] = std::from_chars(text->data(), text->data() + digits, *out);
  if (ec != std::errc() || end != text->data() + digits) return false;
  text->remove_prefix(static_cast<size_t>(digits));
  return true;
}

bool take_char(std::string_view* text, std::string_view allowed) {
  if (text->empty() || allowed.find(text->front()) == std::string_view::npos) return false;
  text->remove_prefix(1);
  return true;
}

}  // namespace

int64_t clock_seconds(const RecTime& t) {
  const int64_t days = days_from_civil(2000 + t.year, t.month, t.day) - kEpochDays;
  return days * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
}

std::optional<RecTime> rec_time_at(int64_t seconds) {
  int64_t days = seconds / kSecondsPerDay;
  int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  int64_t year = 0;
  int month = 0;
  int day = 0;
  civil_from_days(days + kEpochDays, &year, &month, &day);
  if (year < 2000 || year > 2000 + kMaxYear) return std::nullopt;
  RecTime t;
  t.year = static_cast<int>(year - 2000);
  t.month = month;
  t.day = day;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

bool valid_rec_time(const RecTime& t) {
  return t.year >= 0 && t.year <= kMaxYear && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= days_in_month(2000 + t.year, t.month) && t.hour >= 0 && t.hour < 24 &&
         t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

uint32_t time_number(const RecTime& t) {
  const int64_t days = t.day + 31 * (t.month + 12 * t.year) - 32;
  return static_cast<uint32_t>(t.second + 60 * (t.minute + 60 * (t.hour + 24 * days)));
}

uint32_t packed_time(const RecTime& t) {
  const int64_t months = static_cast<int64_t>(t.year) * 12 + t.month - 1;
  return static_cast<uint32_t>(months * 2678400 + (t.day - 1) * kSecondsPerDay + t.hour * 3600 +
                               t.minute * 60 + t.second);
}

void put_rec_time(uint8_t* p, const RecTime& t) {
  p[0] = static_cast<uint8_t>(t.year);
  p[1] = static_cast<uint8_t>(t.month);
  p[2] = static_cast<uint8_t>(t.day);
  p[3] = static_cast<uint8_t>(t.hour);
  p[4] = static_cast<uint8_t>(t.minute);
  p[5] = static_cast<uint8_t>(t.second);
}

RecTime get_rec_time(const uint8_t* p) {
  return RecTime{p[0], p[1], p[2], p[3], p[4], p[5]};
}

std::optional<RecTime> parse_rec_time(std::string_view text) {
  int year = 0;
  RecTime t;
  if (!take_number(&text, 4, &year) || !take_char(&text, "-") || !take_number(&text, 2, &t.month) ||
      !take_char(&text, "-") || !take_number(&text, 2, &t.day) || !take_char(&text, " T") ||
      !take_number(&text, 2, &t.hour) || !take_char(&text, ":") ||
      !take_number(&text, 2, &t.minute) || !take_char(&text, ":") ||
      !take_number(&text, 2, &t.second) || !text.empty()) {
    return std::nullopt;
  }
  t.year = year - 2000;
  if (!valid_rec_time(t)) return std::nullopt;
  return t;
}

std::string format_rec_time(const RecTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}

}  // namespace virazav::sim
