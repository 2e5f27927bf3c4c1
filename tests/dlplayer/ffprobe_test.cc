// A stream file as the library writes it is an MPEG program stream that an
// independent reader accepts (skipped when ffprobe is not installed).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "stream_material.h"
#include "support/recorder_fixture.h"

namespace virazav::dlplayer {
namespace {

std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

TEST(StreamFileReaders, FfprobeReadsAProgramStreamWithTheVideoStreams) {
  if (run("command -v ffprobe").empty()) GTEST_SKIP() << "ffprobe not installed";
  testing::TempCwd cwd;
  testing::StreamPlan plan;
  plan.video = {testing::ChannelPlan{0, 10, 10}, testing::ChannelPlan{1, 10, 10}};
  plan.seconds = 2;
  auto m = testing::make_stream(plan);
  ASSERT_TRUE(m.builder.write("s.mpg"));
  std::string format =
      run("ffprobe -v error -show_entries format=format_name -of csv=p=0 s.mpg 2>&1");
  EXPECT_NE(format.find("mpeg"), std::string::npos) << format;
  std::string ids = run("ffprobe -v error -show_entries stream=id -of csv=p=0 s.mpg 2>&1");
  EXPECT_NE(ids.find("0x1e0"), std::string::npos) << ids;
  EXPECT_NE(ids.find("0x1e1"), std::string::npos) << ids;
}

}  // namespace
}  // namespace virazav::dlplayer
