// The program's one time format: what it reads, what it writes, and the disk's time
// numbers it converts to and from.
#include "time_text.h"

#include <gtest/gtest.h>

#include <string>

namespace virazav::cli {
namespace {

TEST(TimeTextTest, ReadsIsoWithTOrABlank_AndRefusesEverythingElse) {
  CivilTime t;
  ASSERT_TRUE(parse_time_text("2024-05-01T10:02:03", &t));
  EXPECT_EQ(format_time_text(t), "2024-05-01T10:02:03");
  ASSERT_TRUE(parse_time_text("2024-12-31 23:59:59", &t));
  EXPECT_EQ(format_time_text(t), "2024-12-31T23:59:59");
  const char* refused[] = {
      "2024-05-01",          "2024-05-01T10:02",     "2024-5-01T10:02:03",
      "2024-05-01x10:02:03", "2024-05-01T10:02:03Z", "2024-13-01T10:00:00",
      "2024-00-01T10:00:00", "2024-05-32T10:00:00",  "2024-05-00T10:00:00",
      "2024-05-01T24:00:00", "2024-05-01T10:60:00",  "2024-05-01T10:00:60",
      "1969-12-31T23:59:59", "2100-01-01T00:00:00",  "2024/05/01 10:00:00",
      "+024-05-01T10:00:00", " 2024-05-01T10:00:0",  "",
  };
  for (const char* text : refused) {
    CivilTime untouched{1999, 2, 3, 4, 5, 6};
    EXPECT_FALSE(parse_time_text(text, &untouched)) << text;
    EXPECT_EQ(untouched.year, 1999) << text;
  }
  EXPECT_TRUE(parse_time_text("2132-01-01T00:00:00", &t, 2000, 2132));
  EXPECT_FALSE(parse_time_text("2133-01-01T00:00:00", &t, 2000, 2132));
  EXPECT_FALSE(parse_time_text("1999-12-31T23:59:59", &t, 2000, 2132));
}

TEST(TimeTextTest, TimeNumbers_CountThirtyOneDaysAMonthFromTwoThousand) {
  EXPECT_EQ(to_time_number(CivilTime{2000, 1, 1, 0, 0, 0}), 0u);
  EXPECT_EQ(to_time_number(CivilTime{2000, 1, 2, 0, 0, 1}), 86401u);
  EXPECT_EQ(to_time_number(CivilTime{2000, 2, 1, 0, 0, 0}), 31u * 86400u);
  EXPECT_EQ(to_time_number(CivilTime{2001, 1, 1, 0, 0, 0}), 372u * 86400u);
  // 2024-05-01 10:00:30: 24 years, 4 months, 0 days, 10 h 30 s.
  const uint32_t n = to_time_number(CivilTime{2024, 5, 1, 10, 0, 30});
  EXPECT_EQ(n, (24u * 372u + 4u * 31u) * 86400u + 36030u);
  EXPECT_EQ(format_time_text(from_time_number(n)), "2024-05-01T10:00:30");
  // A 32-bit time number holds every second up to the end of 2132.
  EXPECT_EQ(format_time_text(from_time_number(to_time_number(CivilTime{2132, 12, 31, 23, 59, 59}))),
            "2132-12-31T23:59:59");
}

}  // namespace
}  // namespace virazav::cli
