// ISO 8601 times of the program and the disk's time numbers.

#include "time_text.h"

#include <cstdio>

namespace virazav::cli {

namespace {

// Time numbers count every month as 31 days and every year as 12 such months.
constexpr uint32_t kDay = 86400, kMonth = 31 * kDay, kYear = 12 * kMonth;

// Reads exactly `width` decimal digits at `at`.
bool digits(std::string_view text, size_t at, size_t width, int* out) {
  if (at + width > text.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *out = v;
  return true;
}

}  // namespace

bool parse_time_text(std::string_view text, CivilTime* out, int min_year, int max_year) {
  // YYYY-MM-DDThh:mm:ss: separators at fixed places, nothing after the seconds.
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':') {
    return false;
  }
  CivilTime t;
  if (!digits(text, 0, 4, &t.year) || !digits(text, 5, 2, &t.month) ||
      !digits(text, 8, 2, &t.day) || !digits(text, 11, 2, &t.hour) ||
      !digits(text, 14, 2, &t.minute) || !digits(text, 17, 2, &t.second)) {
    return false;
  }
  if (t.year < min_year || t.year > max_year || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59) {
    return false;
  }
  *out = t;
  return true;
}

std::string format_time_text(const CivilTime& t) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

uint32_t to_time_number(const CivilTime& t) {
  const uint32_t days =
      static_cast<uint32_t>(t.day - 1) +
      31u * (static_cast<uint32_t>(t.month - 1) + 12u * static_cast<uint32_t>(t.year - 2000));
  return static_cast<uint32_t>(t.second) +
         60u * (static_cast<uint32_t>(t.minute) + 60u * static_cast<uint32_t>(t.hour)) +
         kDay * days;
}

CivilTime from_time_number(uint32_t n) {
  CivilTime t;
  t.year = 2000 + static_cast<int>(n / kYear);
  t.month = static_cast<int>(n % kYear / kMonth) + 1;
  t.day = static_cast<int>(n % kMonth / kDay) + 1;
  t.hour = static_cast<int>(n % kDay / 3600);
  t.minute = static_cast<int>(n % 3600 / 60);
  t.second = static_cast<int>(n % 60);
  return t;
}

}  // namespace virazav::cli
