// The failure lines of "virazav" name their cause in the terms of what was asked for: the
// file that cannot be opened, the drive and what its code means for a disk, never the
// text the same number has for a recorder connection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "disk/disk_image.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

// What the command side's text of -1 says; a file or disk failure must not read so.
constexpr const char* kRecorderText = "no reply";

class ErrorTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-cli-err-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    sim::DiskImageDesc desc;
    desc.recordings = {sim::RecordingPlan{20, 0, 0, false}};
    desc.channels = 1;
    desc.media = false;
    desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(desc, "disk.img", &error)) << error;
    fs::create_directory("media");
    const CliResult copy = run_program({"disk", "copy", "disk.img", "media", "--from",
                                        "2024-05-10 10:00:02", "--to", "2024-05-10 10:00:08"});
    ASSERT_EQ(copy.status, 0) << copy.err;
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string dir_;
  fs::path old_cwd_;
};

TEST_F(ErrorTextTest, FilesThatCannotBeOpened_AreNamed) {
  struct Row {
    std::vector<std::string> args;
    std::string named;
  } rows[] = {
      {{"split", "none.mpg", "parts"}, "virazav: open none.mpg: No such file or directory"},
      {{"index", "none.mpg"}, "virazav: open none.mpg: No such file or directory"},
      {{"play", "none.mpg", "--script", "stop"},
       "virazav: open none.mpg: No such file or directory"},
      {{"file", "play", "none.dat", "media/.index", "--for", "1"},
       "virazav: open none.dat: No such file or directory"},
      {{"file", "play", "media/HDR.dat", "none.idx", "--for", "1"},
       "virazav: open none.idx: No such file or directory"},
      {{"file", "search", "media/HDR.dat", "media", "2024-05-10 10:00:05"},
       "virazav: open media: Is a directory"},
      {{"update", "none.bin"}, "virazav: open none.bin: No such file or directory"},
      {{"disk", "list", "none.img"}, "virazav: open disk image none.img: no such file"},
  };
  for (const Row& r : rows) {
    const CliResult run = run_program(r.args);
    EXPECT_EQ(run.status, 1) << r.args[0] << " " << r.args[1] << "\n" << run.err;
    EXPECT_NE(run.err.find(r.named), std::string::npos) << r.args[0] << " " << r.args[1] << "\n"
                                                        << run.err;
    EXPECT_EQ(run.err.find(kRecorderText), std::string::npos) << run.err;
  }
}

TEST_F(ErrorTextTest, DiskCodes_AreToldInTheirFamilysTerms) {
  // A drive number whose device does not exist.
  const CliResult absent =
      run_program({"disk", "list", "7"}, "VIRAZAV_PHYSICALDRIVE7=" + dir_ + "/nothing");
  EXPECT_EQ(absent.status, 1);
  EXPECT_NE(absent.err.find("virazav: open drive 7: the drive cannot be opened (absent, or held "
                            "by another open), or no drive is open (-1)"),
            std::string::npos)
      << absent.err;
  EXPECT_EQ(absent.err.find(kRecorderText), std::string::npos) << absent.err;

  // An image smaller than one cylinder has no geometry of the recorder's.
  { std::ofstream("tiny.img") << std::string(4096, '\0'); }
  const CliResult tiny = run_program({"disk", "info", "tiny.img"});
  EXPECT_EQ(tiny.status, 1);
  EXPECT_NE(tiny.out.find("image tiny.img: probe result"), std::string::npos) << tiny.out;
  EXPECT_EQ(tiny.out.find("cannot be probed"), std::string::npos) << tiny.out;

  // A search outside the copy's range is told as such.
  const CliResult outside = run_program({"file", "play", "media/HDR.dat", "media/.index", "--at",
                                         "2024-05-10 11:00:00", "--for", "1"});
  EXPECT_EQ(outside.status, 1) << outside.err;
  EXPECT_NE(outside.err.find("the time lies outside the file's range (-2)"), std::string::npos)
      << outside.err;
}

}  // namespace
}  // namespace virazav::testing
