// The diagnostic log: file per weekday under the drive's folder, entry format,
// append on the same day and truncation on a new one.
#include "diag/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/platform.h"
#include "support/recorder_fixture.h"

namespace virazav::diag {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VIRAZAV_DRIVE_D", cwd_.path().c_str(), 1);
    path_ = log_file_path(cwd_.path(), platform::local_time_now().weekday);
  }
  void TearDown() override { unsetenv("VIRAZAV_DRIVE_D"); }
  testing::TempCwd cwd_;
  std::string path_;
};

TEST_F(LogTest, EntriesLookLikeCallsWithHexadecimalValues) {
  EXPECT_EQ(kora_log_sw('D'), 'D');
  LogEntry("kora_cam_swset").values3(2, 0x1f, 0);
  log_value("kora_connect", 2);
  LogEntry("note").text("0123456789012345678901234567890123456789");
  std::string text = read_file(path_);
  std::regex line1(R"(^/\* \d{1,2}/\d\d:\d\d:\d\d \*/  kora_cam_swset\(0x2,0x1f,0x0,\);\n)");
  EXPECT_TRUE(std::regex_search(text, line1)) << text;
  EXPECT_NE(text.find("  kora_connect(0x2,);\n"), std::string::npos) << text;
  EXPECT_NE(text.find("note(\"012345678901234567890123456789\",);\n"), std::string::npos) << text;
}

TEST_F(LogTest, OtherDriveLettersAreIgnored) {
  EXPECT_EQ(kora_log_sw('G'), 'G');
  EXPECT_EQ(log_drive(), 0);
  log_value("kora_connect", 1);
  EXPECT_FALSE(platform::file_exists(path_));
  EXPECT_FALSE(platform::file_exists(platform::join_path(cwd_.path(), "unit_")));
  kora_log_sw('D');
  kora_log_sw(0);
  EXPECT_EQ(log_drive(), 'D');
}

TEST_F(LogTest, MissingDriveSwitchesLoggingOff) {
  kora_log_sw('E');
  unsetenv("VIRAZAV_DRIVE_E");
  log_value("kora_connect", 1);
  EXPECT_EQ(log_drive(), 0);
}

TEST_F(LogTest, FirstEntryOfTheDayEmptiesAFileLastTouchedOnAnotherDay) {
  kora_log_sw('D');
  ASSERT_EQ(platform::make_directory(cwd_.path() + "/unit_"), 0);
  ASSERT_EQ(platform::make_directory(cwd_.path() + "/unit_/log"), 0);
  std::ofstream(path_, std::ios::trunc) << "last week\n";
  utimbuf old{time(nullptr) - 7 * 86400, time(nullptr) - 7 * 86400};
  ASSERT_EQ(utime(path_.c_str(), &old), 0);
  forget_day_of_last_entry();
  log_value("first", 1);
  log_value("second", 2);
  std::string text = read_file(path_);
  EXPECT_EQ(text.find("last week"), std::string::npos) << text;
  EXPECT_NE(text.find("first(0x1,);\n"), std::string::npos);
  EXPECT_NE(text.find("second(0x2,);\n"), std::string::npos);
}

TEST_F(LogTest, FirstEntryOfTheDayAppendsToAFileTouchedToday) {
  kora_log_sw('D');
  log_value("earlier", 1);  // creates the folders and the file
  forget_day_of_last_entry();
  log_value("later", 2);
  std::string text = read_file(path_);
  EXPECT_NE(text.find("earlier(0x1,);\n"), std::string::npos) << text;
  EXPECT_NE(text.find("later(0x2,);\n"), std::string::npos) << text;
}

TEST_F(LogTest, ConnectWritesItsEntriesEvenForABadSlot) {
  kora_log_sw('D');
  EXPECT_EQ(kora_connect(17, "127.0.0.1", "", nullptr), VIRAZAV_ERR_SLOT_RANGE);
  EXPECT_NE(read_file(path_).find("kora_connect(0x11,);"), std::string::npos);
}

}  // namespace
}  // namespace virazav::diag
