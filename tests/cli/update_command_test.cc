// "virazav update" run as a process against the simulated recorder: a file longer than
// the 8 MiB the recorder takes is refused unless --truncate asks for its first 8 MiB,
// and a file that cannot be read is named before anything is sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

constexpr size_t kLimit = 8u << 20;

class UpdateCommandTest : public RecorderTest {
 protected:
  CliResult update(std::vector<std::string> args) {
    args.insert(args.begin(), {"--address", address_, "update"});
    return run_program(args);
  }

  static void write_bytes(const std::string& path, size_t size) {
    std::ofstream f(path, std::ios::binary);
    const std::string block(4096, '\x5A');
    for (size_t done = 0; done < size; done += block.size()) {
      f.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
    }
  }

  // The SendUpdate line the recorder received, or "" when none came.
  std::string update_line() {
    for (const std::string& line : rec().received_lines(0)) {
      if (line.find(" SendUpdate ") != std::string::npos) return line;
    }
    return "";
  }

  TempCwd cwd_;
};

TEST_F(UpdateCommandTest, FileOverEightMebibytes_IsRefusedWithoutTruncate) {
  write_bytes("big.bin", kLimit + 1);
  const CliResult refused = update({"big.bin"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("upload big.bin: 8388609 bytes, but the recorder takes the first "
                             "8388608 (8 MiB) only; give --truncate"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(update_line(), "") << "nothing may reach the recorder";

  const CliResult cut = update({"big.bin", "--truncate"});
  ASSERT_EQ(cut.status, 0) << cut.err;
  EXPECT_NE(cut.err.find("warning: uploading only the first 8388608 of the 8388609 bytes"),
            std::string::npos)
      << cut.err;
  EXPECT_NE(cut.out.find("uploaded 8388608 bytes of big.bin as update kind 0 (0x00) (cut from "
                         "8388609 bytes)"),
            std::string::npos)
      << cut.out;
  // The length announced counts the zero byte behind the data.
  EXPECT_NE(update_line().find(" SendUpdate 00 00800001"), std::string::npos) << update_line();
}

TEST_F(UpdateCommandTest, FileOfEightMebibytesOrLess_GoesOutWhole) {
  write_bytes("fits.bin", kLimit);
  const CliResult run = update({"fits.bin", "--kind", "7"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("uploaded 8388608 bytes of fits.bin as update kind 7 (0x07)\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(update_line().find(" SendUpdate 07 00800001"), std::string::npos) << update_line();
}

TEST_F(UpdateCommandTest, UnreadableFile_IsNamedAndNothingIsSent) {
  const CliResult missing = update({"none.bin"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("virazav: open none.bin: No such file or directory"),
            std::string::npos)
      << missing.err;
  fs::create_directory("folder.bin");
  const CliResult folder = update({"folder.bin"});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("folder.bin"), std::string::npos) << folder.err;
  EXPECT_EQ(update_line(), "");
}

}  // namespace
}  // namespace virazav::testing
