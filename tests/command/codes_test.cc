// Every failure code the header names has its own text, and so has every result of each
// family of the disk side.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "virazav.h"

namespace {

TEST(FailureCodes, EveryCodeInTheHeaderHasADistinctText) {
  std::ifstream f(VIRAZAV_HEADER_PATH);
  ASSERT_TRUE(f) << VIRAZAV_HEADER_PATH;
  std::stringstream s;
  s << f.rdbuf();
  const std::string text = s.str();
  std::regex code(R"(\b(VIRAZAV_(?:ERR|WSA)_[A-Z0-9_]+) *= *(-?\d+))");
  std::map<int, std::string> names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), code); it != std::sregex_iterator();
       ++it) {
    int value = std::stoi((*it)[2]);
    EXPECT_LT(value, 0) << (*it)[1];
    names[value] += (*it)[1].str() + " ";
  }
  ASSERT_GT(names.size(), 20u);
  std::map<std::string, int> texts;
  for (const auto& [value, name] : names) {
    std::string t = virazav_strerror(value);
    EXPECT_NE(t, "unknown code") << name;
    EXPECT_TRUE(texts.emplace(t, value).second) << name << "shares its text with " << texts[t];
  }
  EXPECT_STREQ(virazav_strerror(0), "success");
  EXPECT_STREQ(virazav_strerror(-123456), "unknown code");
}

// The codes each disk family's functions return, as their doc blocks state them.
struct DiskFamily {
  int family;
  std::vector<int> codes;
};

const std::vector<DiskFamily>& disk_families() {
  static const std::vector<DiskFamily> families = {
      {VIRAZAV_DISK_DRIVE, {-1, -2, -3, -4}},
      {VIRAZAV_DISK_FEEDER, {-1}},
      {VIRAZAV_DISK_FILE_OPEN, {-1, -3}},
      {VIRAZAV_DISK_FILE_SEARCH, {-1, -2, -3}},
      {VIRAZAV_DISK_STILL, {-1, -2, -3, -5, -6, -7}},
      {VIRAZAV_DISK_STILL_FILE, {-1, -2}},
      {VIRAZAV_DISK_COPY, {-1}},
  };
  return families;
}

TEST(DiskCodes, EveryCodeOfEveryFamilyHasATextOfItsOwn) {
  std::map<std::string, std::string> texts;  // text -> family and code that gave it
  for (const DiskFamily& f : disk_families()) {
    for (int code : f.codes) {
      const std::string where =
          "family " + std::to_string(f.family) + " code " + std::to_string(code);
      const std::string t = virazav_disk_strerror(f.family, code);
      EXPECT_NE(t, "unknown code") << where;
      // None of them is the command side's text of the same number.
      EXPECT_NE(t, virazav_strerror(code)) << where;
      EXPECT_TRUE(texts.emplace(t, where).second) << where << " shares its text with " << texts[t];
    }
  }
}

TEST(DiskCodes, OtherResultsFamiliesAndCodes) {
  EXPECT_STREQ(virazav_disk_strerror(VIRAZAV_DISK_DRIVE, 0), "success");
  EXPECT_STREQ(virazav_disk_strerror(VIRAZAV_DISK_DRIVE, 1200), "value");
  EXPECT_STREQ(virazav_disk_strerror(VIRAZAV_DISK_FEEDER, VIRAZAV_ERR_NO_MEMORY),
               virazav_strerror(VIRAZAV_ERR_NO_MEMORY));
  // Codes a family never returns, and families that do not exist.
  EXPECT_STREQ(virazav_disk_strerror(VIRAZAV_DISK_STILL, -4), "unknown code");
  EXPECT_STREQ(virazav_disk_strerror(VIRAZAV_DISK_COPY, -2), "unknown code");
  EXPECT_STREQ(virazav_disk_strerror(0, -1), "unknown disk family");
  EXPECT_STREQ(virazav_disk_strerror(VIRAZAV_DISK_COPY + 1, -1), "unknown disk family");
}

}  // namespace
