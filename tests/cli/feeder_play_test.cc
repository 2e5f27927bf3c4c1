// "virazav disk play", "virazav file play" and "virazav file search" run as processes
// on a disk image of the simulated recorder and a copy made from it: the exit status,
// the lines they print every second, the snapshots they write, and the command lines
// they refuse.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "disk/disk_image.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

int count_lines(const std::string& out, const std::regex& pattern) {
  std::istringstream in(out);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) n += std::regex_match(line, pattern) ? 1 : 0;
  return n;
}

int bitmaps_in(const std::string& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir))
    n += e.path().extension() == ".bmp" && fs::file_size(e.path()) > 54 ? 1 : 0;
  return n;
}

class FeederPlayCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-cli-feed-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    sim::DiskImageDesc desc;
    desc.recordings = {sim::RecordingPlan{40, 0, 0, false}};
    desc.channels = 2;
    desc.media = false;
    desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(desc, "disk.img", &error)) << error;
    fs::create_directory("media");
    fs::create_directory("snaps");
    const CliResult copy = run_program({"disk", "copy", "disk.img", "media", "--from",
                                 "2024-05-10 10:00:05", "--to", "2024-05-10 10:00:25"});
    ASSERT_EQ(copy.status, 0) << copy.out;
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
  fs::path old_cwd_;
};

TEST_F(FeederPlayCommandTest, FileSearchTellsWhetherTheTimeLiesInTheCopy) {
  CliResult run = run_program({"file", "search", "media/HDR.dat", "media/.index", "2024-05-10 10:00:15"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("range 2024-05-10T10:00:05 .. 2024-05-10T10:00:25"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("2024-05-10T10:00:15: placed at the chunk of that time"),
            std::string::npos);
  run = run_program({"file", "search", "media/HDR.dat", "media/.index", "2024-05-10 10:00:04"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("outside the file's range (-2)"), std::string::npos) << run.out;
}

TEST_F(FeederPlayCommandTest, FilePlayPrintsEverySecondAndWritesSnapshots) {
  const CliResult run =
      run_program({"file", "play", "media/HDR.dat", "media/.index", "--at", "2024-05-10 10:00:10",
               "--speed", "3", "--snapshot", "snaps", "--for", "2"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("media/HDR.dat: 2024-05-10T10:00:05 .. 2024-05-10T10:00:25"),
            std::string::npos)
      << run.out;
  const std::regex second(R"( +[12]s  decoder (ok|errors)  file (playing, snapshot .*|stopped))");
  EXPECT_EQ(count_lines(run.out, second), 2) << run.out;
  if (run.out.find("playing, snapshot") != std::string::npos) {
    EXPECT_GT(bitmaps_in("snaps"), 0);
  }
}

TEST_F(FeederPlayCommandTest, DiskPlaySearchesAndSteps) {
  const CliResult run = run_program({"disk", "play", "disk.img", "--at", "2024-05-10 10:00:10", "--step",
                              "--view", "2", "--for", "1"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("search 2024-05-10T10:00:10: positioned at the time"), std::string::npos)
      << run.out;
  EXPECT_EQ(count_lines(run.out, std::regex(R"( +1s  decoder (ok|errors))")), 1) << run.out;
  EXPECT_EQ(bitmaps_in("."), 0) << "no snapshot without --snapshot";
}

TEST_F(FeederPlayCommandTest, RefusedCommandLines) {
  struct Row {
    std::vector<std::string> args;
    int status;
  } rows[] = {
      {{"file", "play", "media/HDR.dat", "media/.index", "--speed", "2", "--back", "3"}, 2},
      {{"file", "play", "media/HDR.dat"}, 2},
      {{"file", "play", "media/HDR.dat", "media/.index", "--view", "5"}, 2},
      {{"file", "play", "media/HDR.dat", "media/.index", "--snapshot", "nowhere"}, 2},
      {{"file", "play", "none.dat", "none.index", "--for", "1"}, 1},
      {{"file", "search", "media/HDR.dat", "media/.index"}, 2},
      {{"file", "rewind"}, 2},
      {{"disk", "play", "disk.img", "--for", "1"}, 2},
  };
  for (const Row& r : rows) {
    std::string line;
    for (const std::string& a : r.args) line += a + " ";
    EXPECT_EQ(run_program(r.args).status, r.status) << line;
  }
}

}  // namespace
}  // namespace virazav::testing
