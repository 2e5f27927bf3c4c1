// Every failure code the header names has its own text.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

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

}  // namespace
