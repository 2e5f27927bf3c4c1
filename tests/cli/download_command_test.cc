// "virazav download" run as a process against the simulated recorder: the exit status and
// the seconds it reports when the recorder has all, part or none of the stretch asked
// for, and the folders it checks before anything crosses the network.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kRecordedSeconds = 8;  // 2024-05-01 10:00:00 .. 10:00:07

class DownloadCommandTest : public RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    o.recording.video_channels = 0x0001;
    o.recording.audio_channels = 0x0001;
    o.recording.seconds = kRecordedSeconds;
    o.recording.video.width = 96;
    o.recording.video.height = 64;
    o.recording.video.fps = 2;
  }

  CliResult download(const std::string& file, const std::string& from, int seconds,
                     std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--address", address_, "download",  file,
                                     "--from",    from,     "--seconds", std::to_string(seconds)};
    args.insert(args.end(), more.begin(), more.end());
    return run_program(args);
  }

  bool sent(const std::string& word) {
    for (const std::string& line : rec().received_lines(0)) {
      if (line.find(word) != std::string::npos) return true;
    }
    return false;
  }

  TempCwd cwd_;
};

TEST_F(DownloadCommandTest, WholeStretch_ReportsItAllAndExitsZero) {
  const CliResult r = download("rec.mpg", "2024-05-01T10:00:02", 5);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("downloaded 5 of 5 s"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("received"), std::string::npos) << r.err;
  ASSERT_TRUE(fs::exists("rec.mpg.idx/.index"));
  EXPECT_GT(fs::file_size("rec.mpg.idx/.index"), 0u);
  EXPECT_GT(fs::file_size("rec.mpg"), 292u);
}

TEST_F(DownloadCommandTest, LongerRequestThanRecorded_ReportsTheShortfallAndExitsThree) {
  const CliResult r = download("rec.mpg", "2024-05-01T10:00:00", 3600, {"--progress"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.out.find("downloaded 8 of 3600 s"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("received 8 of 3600 s"), std::string::npos) << r.err;
  // The bar ends at what came, not at what was asked for.
  EXPECT_NE(r.err.find(" 8/3600 s"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("3600/3600"), std::string::npos) << r.err;
  // What came is kept: the stream file and its index.
  EXPECT_GT(fs::file_size("rec.mpg"), 292u);
  EXPECT_GT(fs::file_size("rec.mpg.idx/.index"), 0u);

  // A stretch that starts before the recording is short by the seconds before it.
  const CliResult early = download("early.mpg", "2024-05-01T09:59:57", 6);
  EXPECT_EQ(early.status, 3) << early.err;
  EXPECT_NE(early.err.find("received 3 of 6 s"), std::string::npos) << early.err;
}

TEST_F(DownloadCommandTest, NothingRecordedInTheStretch_WritesNothingAndExitsFour) {
  const CliResult r = download("rec.mpg", "2024-05-02T10:00:00", 60);
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.out.find("no file written"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("nothing in that stretch"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists("rec.mpg"));
  EXPECT_FALSE(fs::exists("rec.mpg.idx/.index"));
}

TEST_F(DownloadCommandTest, MissingIndexOrFileFolder_FailsBeforeAskingTheRecorder) {
  const CliResult no_index = download("rec.mpg", "2024-05-01T10:00:00", 4, {"--index-dir", "nix"});
  EXPECT_EQ(no_index.status, 1) << no_index.err;
  EXPECT_NE(no_index.err.find("the index folder nix does not exist"), std::string::npos)
      << no_index.err;
  const CliResult no_folder = download("gone/rec.mpg", "2024-05-01T10:00:00", 4);
  EXPECT_EQ(no_folder.status, 1) << no_folder.err;
  EXPECT_NE(no_folder.err.find("the folder gone does not exist"), std::string::npos)
      << no_folder.err;
  EXPECT_FALSE(fs::exists("rec.mpg"));
  EXPECT_FALSE(sent("SendDataF"));

  // An existing index folder gets the index, the file's own index folder none.
  fs::create_directory("idx");
  const CliResult elsewhere = download("rec.mpg", "2024-05-01T10:00:00", 4, {"--index-dir", "idx"});
  EXPECT_EQ(elsewhere.status, 0) << elsewhere.err;
  EXPECT_GT(fs::file_size("idx/.index"), 0u);
  EXPECT_FALSE(fs::exists("rec.mpg.idx/.index"));
}

}  // namespace
}  // namespace virazav::testing
