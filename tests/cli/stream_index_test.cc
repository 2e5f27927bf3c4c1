// The frame index of each stream file in a folder of its own beside the file: two
// downloads into one folder keep two indexes, an index that belongs to another file (or
// is not a frame index at all) is rebuilt in the file's own folder and refused in a
// folder given with --index-dir.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "disk/disk_image.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

class StreamIndexTest : public RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    o.recording.video_channels = 0x0001;
    o.recording.audio_channels = 0x0001;
    o.recording.seconds = 8;
    o.recording.video.width = 96;
    o.recording.video.height = 64;
    o.recording.video.fps = 2;
  }

  void download(const std::string& file, int seconds) {
    const CliResult r = run_program({"--address", address_, "download", file, "--from",
                                     "2024-05-01T10:00:00", "--seconds", std::to_string(seconds)});
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // The seconds of "duration N s" that "index" prints, or -1.
  static double duration(const CliResult& r) {
    std::smatch m;
    static const std::regex kLine(R"(duration +([0-9.]+) s)");
    return std::regex_search(r.out, m, kLine) ? std::stod(m[1]) : -1;
  }

  static std::string contents(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  TempCwd cwd_;
};

TEST_F(StreamIndexTest, TwoDownloadsIntoOneFolder_KeepAnIndexEach) {
  download("a.mpg", 3);
  download("b.mpg", 6);
  EXPECT_TRUE(fs::exists("a.mpg.idx/.index"));
  EXPECT_TRUE(fs::exists("b.mpg.idx/.index"));
  EXPECT_FALSE(fs::exists(".index"));
  const CliResult a = run_program({"index", "a.mpg"});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_DOUBLE_EQ(duration(a), 2.0) << a.out;
  EXPECT_NE(a.out.find("index         a.mpg.idx/.index"), std::string::npos) << a.out;
  const CliResult b = run_program({"index", "b.mpg"});
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_DOUBLE_EQ(duration(b), 5.0) << b.out;
  EXPECT_EQ(a.err.find("does not belong"), std::string::npos) << a.err;
}

TEST_F(StreamIndexTest, AnotherFilesIndexInTheOwnFolder_IsRebuilt) {
  download("a.mpg", 3);
  download("b.mpg", 6);
  fs::copy_file("b.mpg.idx/.index", "a.mpg.idx/.index", fs::copy_options::overwrite_existing);
  const CliResult a = run_program({"index", "a.mpg"});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_NE(a.err.find("note: a.mpg.idx/.index does not belong to a.mpg"), std::string::npos)
      << a.err;
  EXPECT_DOUBLE_EQ(duration(a), 2.0) << a.out;
  // Rebuilt, it fits: the next run says nothing.
  const CliResult again = run_program({"index", "a.mpg"});
  EXPECT_EQ(again.err.find("does not belong"), std::string::npos) << again.err;
  EXPECT_DOUBLE_EQ(duration(again), 2.0) << again.out;

  // play finds the same.
  fs::copy_file("b.mpg.idx/.index", "a.mpg.idx/.index", fs::copy_options::overwrite_existing);
  const CliResult play =
      run_program({"play", "a.mpg", "--out", "pics", "--script", "pos #0; step"});
  EXPECT_EQ(play.status, 0) << play.err;
  EXPECT_NE(play.err.find("does not belong to a.mpg"), std::string::npos) << play.err;
}

TEST_F(StreamIndexTest, ForeignIndexInAGivenFolder_IsRefusedAndKept) {
  download("a.mpg", 3);
  download("b.mpg", 6);
  const std::string before = contents("b.mpg.idx/.index");
  const CliResult r = run_program({"index", "a.mpg", "--index-dir", "b.mpg.idx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("b.mpg.idx/.index: does not belong to a.mpg"), std::string::npos) << r.err;
  EXPECT_EQ(contents("b.mpg.idx/.index"), before);

  // A disk copy's .index lists chunks, not frames: never read as a frame index.
  sim::DiskImageDesc desc;
  desc.recordings = {sim::RecordingPlan{20, 0, 0, false}};
  desc.channels = 1;
  desc.media = false;
  desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
  std::string error;
  ASSERT_TRUE(sim::write_disk_image(desc, "disk.img", &error)) << error;
  fs::create_directory("copy");
  ASSERT_EQ(run_program({"disk", "copy", "disk.img", "copy", "--from", "2024-05-10 10:00:02",
                         "--to", "2024-05-10 10:00:08"})
                .status,
            0);
  const std::string copy_index = contents("copy/.index");
  const CliResult hdr = run_program({"index", "copy/HDR.dat", "--index-dir", "copy"});
  EXPECT_EQ(hdr.status, 1);
  EXPECT_NE(hdr.err.find("copy/.index: does not belong to copy/HDR.dat"), std::string::npos)
      << hdr.err;
  EXPECT_EQ(contents("copy/.index"), copy_index);
}

}  // namespace
}  // namespace virazav::testing
