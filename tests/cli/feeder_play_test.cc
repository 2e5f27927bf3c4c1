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

#include "disk/disk_image.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::string out;
};

std::string quoted(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs the program in the current folder with no sound device; at most 60 s.
CliRun run_cli(const std::vector<std::string>& args) {
  std::string command = "VIRAZAV_AUDIO=none timeout 60 " + quoted(VIRAZAV_CLI_PATH);
  for (const std::string& a : args) command += " " + quoted(a);
  command += " </dev/null 2>/dev/null";
  CliRun run;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int wait_status = pclose(pipe);
  if (wait_status != -1 && WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
  return run;
}

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
    const CliRun copy = run_cli({"disk", "copy", "disk.img", "media", "--from",
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
  CliRun run = run_cli({"file", "search", "media/HDR.dat", "media/.index", "2024-05-10 10:00:15"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("range 2024-05-10T10:00:05 .. 2024-05-10T10:00:25"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("2024-05-10T10:00:15: placed at the chunk of that time"),
            std::string::npos);
  run = run_cli({"file", "search", "media/HDR.dat", "media/.index", "2024-05-10 10:00:04"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("outside the file's range (-2)"), std::string::npos) << run.out;
}

TEST_F(FeederPlayCommandTest, FilePlayPrintsEverySecondAndWritesSnapshots) {
  const CliRun run =
      run_cli({"file", "play", "media/HDR.dat", "media/.index", "--at", "2024-05-10 10:00:10",
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
  const CliRun run = run_cli({"disk", "play", "disk.img", "--at", "2024-05-10 10:00:10", "--step",
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
    EXPECT_EQ(run_cli(r.args).status, r.status) << line;
  }
}

}  // namespace
}  // namespace virazav::testing
