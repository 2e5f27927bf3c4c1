// The one way the program writes and reads times: ISO 8601 "2024-05-01T10:00:00" (a blank
// is taken for the T), on every command line and in every output, and the conversions
// to the recorder disk's time numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace virazav::cli {

struct CivilTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// Parses "YYYY-MM-DDThh:mm:ss" or "YYYY-MM-DD hh:mm:ss", every field with its full number
// of digits. On success stores the time and returns true when the year lies in
// [min_year, max_year] and every other field in its calendar range (days up to 31).
bool parse_time_text(std::string_view text, CivilTime* out, int min_year = 1970,
                     int max_year = 2099);

// Returns "YYYY-MM-DDThh:mm:ss".
std::string format_time_text(const CivilTime& t);

// The time number of the recorder disk: seconds with every month counted as 31 days,
// from 2000; the year must lie in 2000..2132 for it to fit.
uint32_t to_time_number(const CivilTime& t);
CivilTime from_time_number(uint32_t number);

// The usage text for a time argument.
inline constexpr const char* kTimeFormatHelp = "YYYY-MM-DDThh:mm:ss (a blank for the T is taken)";

}  // namespace virazav::cli
