// The options every command takes, run as processes: short forms, the password kept off
// the command line (a file, the environment), host names resolved to IPv4, --quiet, and
// help and version in words.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

// Returns the arguments joined by blanks, to name a failing row.
std::string joined(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) line += (line.empty() ? "" : " ") + a;
  return line;
}

// Runs the program with `input` on its standard input; returns its exit status.
int run_with_input(const std::string& input, const std::vector<std::string>& args) {
  std::string command = "printf '%s\\n' '" + input + "' | VIRAZAV_AUDIO=none timeout 60 " +
                        std::string(VIRAZAV_CLI_PATH);
  for (const std::string& a : args) command += " '" + a + "'";
  command += " >/dev/null 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr char kPassword[] = "s3cret pass";

class GlobalOptionsTest : public RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    o.password = kPassword;
    o.recording.video_channels = 0x0001;
    o.recording.audio_channels = 0x0000;
    o.recording.seconds = 4;
    o.recording.video.width = 176;
    o.recording.video.height = 144;
    o.recording.video.fps = 2;
  }
  TempCwd cwd_;
};

TEST_F(GlobalOptionsTest, ThePassword_ComesFromTheOptionAFileOrTheEnvironment) {
  std::ofstream("pw.txt") << kPassword << "\r\nsecond line\n";
  std::ofstream("wrong.txt") << "nope\n";
  struct Row {
    std::vector<std::string> args;
    std::string env;
    int status;
  } rows[] = {
      {{"-a", address_, "-p", kPassword, "connect"}, "", 0},
      {{"--address", address_, "--password-file", "pw.txt", "connect"}, "", 0},
      {{"-a", address_, "connect"}, std::string("VIRAZAV_PASSWORD='") + kPassword + "'", 0},
      // The option and the file come before the environment.
      {{"-a", address_, "--password-file", "pw.txt", "connect"}, "VIRAZAV_PASSWORD=nope", 0},
      {{"-a", address_, "-p", "nope", "connect"},
       std::string("VIRAZAV_PASSWORD='") + kPassword + "'",
       1},
      {{"-a", address_, "--password-file", "wrong.txt", "connect"}, "", 1},
      {{"-a", address_, "connect"}, "", 1},
  };
  for (const Row& r : rows) {
    const CliResult run = run_program(r.args, r.env, 60);
    EXPECT_EQ(run.status, r.status) << r.env << " " << joined(r.args) << "\n" << run.err;
    if (r.status == 0) {
      EXPECT_NE(run.out.find("connected to " + address_), std::string::npos);
    }
  }
  // "-" reads the first line of standard input.
  EXPECT_EQ(run_with_input(kPassword, {"-a", address_, "--password-file", "-", "connect"}), 0);
  EXPECT_EQ(run_with_input("nope", {"-a", address_, "--password-file", "-", "connect"}), 1);

  const CliResult missing = run_program({"-a", address_, "--password-file", "gone.txt", "connect"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("password file gone.txt"), std::string::npos) << missing.err;
  const CliResult both = run_program({"-p", "x", "--password-file", "pw.txt", "connect"});
  EXPECT_EQ(both.status, 2);
  EXPECT_NE(both.err.find("not both"), std::string::npos) << both.err;
}

TEST_F(GlobalOptionsTest, ShortOptions_StandForTheLongOnesBeforeAndAfterTheCommand) {
  const CliResult before = run_program({"-a", address_, "-p", kPassword, "-s", "7", "status", "1"});
  ASSERT_EQ(before.status, 0) << before.err;
  EXPECT_NE(last_line(7).find("SendStatus 01"), std::string::npos);
  const CliResult after = run_program({"status", "2", "-s", "9", "-p", kPassword, "-a", address_});
  ASSERT_EQ(after.status, 0) << after.err;
  EXPECT_NE(last_line(9).find("SendStatus 02"), std::string::npos);
  const CliResult unknown = run_program({"-x", "status", "1"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown option '-x'"), std::string::npos) << unknown.err;
  EXPECT_EQ(run_program({"status", "1", "-s"}).status, 2);
}

TEST_F(GlobalOptionsTest, HostNames_AreResolvedToIpv4AndNamedThatWay) {
  // Whatever listens on 127.0.0.1, the messages name the address the name resolved to.
  const CliResult local = run_program({"-a", "localhost", "-s", "15", "connect"}, "", 60);
  EXPECT_NE((local.out + local.err).find("127.0.0.1 slot 15"), std::string::npos)
      << local.out << local.err;
  const CliResult unknown = run_program({"-a", "no-such-host.invalid", "connect"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("cannot resolve no-such-host.invalid to an IPv4 address"),
            std::string::npos)
      << unknown.err;
}

TEST_F(GlobalOptionsTest, Quiet_LeavesTheResultsAndDropsTheSummaryAndNotes) {
  const std::vector<std::string> download = {
      "-a",        address_,  "-p",     kPassword,
      "download",  "rec.mpg", "--from", "2024-05-01T10:00:00",
      "--seconds", "4"};
  ASSERT_EQ(run_program(download).status, 0);
  // An index of another length makes a note; the build makes a summary line.
  std::ofstream("rec.mpg.idx/.index", std::ios::binary) << std::string(12, '\x01');
  const CliResult loud = run_program({"index", "rec.mpg"});
  ASSERT_EQ(loud.status, 0) << loud.err;
  EXPECT_NE(loud.err.find("note: rec.mpg.idx/.index does not belong to rec.mpg"), std::string::npos)
      << loud.err;
  std::ofstream("rec.mpg.idx/.index", std::ios::binary) << std::string(12, '\x01');
  const CliResult quiet = run_program({"-q", "index", "rec.mpg"});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, loud.out);
}

TEST(HelpAndVersionTest, HelpInWordsAndVersionsOfBothPrograms) {
  const CliResult help = run_program({"help", "download"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, run_program({"download", "--help"}).out);
  EXPECT_NE(help.out.find("Usage: virazav [OPTIONS] download FILE"), std::string::npos);
  EXPECT_EQ(run_program({"help"}).out, run_program({"--help"}).out);
  EXPECT_EQ(run_program({"help", "nope"}).status, 2);

  const CliResult version = run_program({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex(R"(virazav \d+\.\d+\.\d+\n)")))
      << version.out;
  std::FILE* pipe = popen(VIRAZAV_RECORDER_PATH " --version", "r");
  ASSERT_NE(pipe, nullptr);
  char line[128] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  EXPECT_EQ(pclose(pipe), 0);
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(line), "virazav-recorder " + version.out.substr(8));
}

}  // namespace
}  // namespace virazav::testing
