// "virazav play" run as a process on a stretch downloaded from the simulated recorder:
// the exit status, the line each script step prints, the pictures written (read back as
// the recorder drew them), the mosaic, the sound in a WAV file, and the command lines and
// files it refuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "media/media.h"
#include "support/bitmap_luma.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFps = 5;
constexpr int kFirstSecond = 2;  // the stretch starts at 10:00:02
constexpr int kSeconds = 6;

// Runs the program in the test's folder; at most 120 s.
CliResult run_cli(const std::vector<std::string>& args, const std::string& env = "") {
  return run_program(args, env, 120);
}

// One step line: number, step, mode, position, entry, time, view, pictures.
struct StepLine {
  int number = 0;
  std::string step, mode;
  double percent = -1;
  int entry = -1;
  std::string time;  // "2024-05-01T10:00:05"
  std::string view;
  int pictures = -1;
};

std::vector<StepLine> step_lines(const std::string& out) {
  static const std::regex kLine(
      R"(^ ?(\d+)  (.+?) +mode (\w+) +position +([0-9.]+|--)% entry (-?\d+) +time )"
      R"((\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d|--)  view (\w+) +pictures (\d+)$)");
  std::vector<StepLine> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) continue;
    StepLine s;
    s.number = std::stoi(m[1]);
    s.step = m[2];
    s.mode = m[3];
    s.percent = m[4] == "--" ? -1 : std::stod(m[4]);
    s.entry = std::stoi(m[5]);
    s.time = m[6];
    s.view = m[7];
    s.pictures = std::stoi(m[8]);
    lines.push_back(s);
  }
  return lines;
}

// The seconds of the recording's time "2024-05-01T10:00:SS" (-1 for another hour).
int second_of(const std::string& time) {
  if (time.rfind("2024-05-01T10:00:", 0) != 0) return -1;
  return std::stoi(time.substr(17));
}

class PlayCommandTest : public RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    o.recording.video_channels = 0x0003;
    o.recording.audio_channels = 0x0001;
    o.recording.seconds = 10;
    o.recording.video.width = kWidth;
    o.recording.video.height = kHeight;
    o.recording.video.fps = kFps;
  }

  // Downloads six seconds of channels 0 and 1 with audio from 10:00:02 into rec.mpg and
  // its index .index in the test's folder.
  void SetUp() override {
    RecorderTest::SetUp();
    if (HasFatalFailure()) return;
    connect(0);
    ASSERT_EQ(
        kora_copy_fast(0, "rec.mpg", 0, 3, 24, 5, 1, 10, 0, kFirstSecond, kSeconds, 1, 0, 0, 0), 1);
    unsigned char count4[4];
    int rc = 1;
    for (int i = 0; i < 1000 && rc > 0; ++i) rc = kora_copy_next(0, "rec.mpg", count4, ".");
    ASSERT_EQ(rc, 0);
    ASSERT_TRUE(fs::exists(".index"));
  }

  // The frame counter and channel number drawn into a picture the program wrote.
  void expect_picture(const std::string& path, int channel, int64_t frame) {
    sim::Picture shown;
    ASSERT_TRUE(bitmap_luma(path, kWidth, kHeight, &shown)) << path;
    EXPECT_EQ(sim::read_channel_number(shown), channel) << path;
    if (frame >= 0) {
      EXPECT_EQ(sim::read_frame_counter(shown), frame) << path;
    }
  }

  TempCwd cwd_;
};

TEST_F(PlayCommandTest, StepFromTheFirstEntry_WritesTheFirstKeyFrameOfTheChannel) {
  for (int channel : {0, 1}) {
    const CliResult run = run_cli({"play", "rec.mpg", "--channel", std::to_string(channel), "--out",
                                "out", "--script", "pos #0; step"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<StepLine> lines = step_lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[0].step, "pos #0");
    EXPECT_EQ(lines[0].pictures, 0);
    EXPECT_EQ(lines[1].step, "step");
    EXPECT_EQ(lines[1].mode, "stop");
    EXPECT_EQ(lines[1].pictures, 1);
    EXPECT_EQ(lines[1].view, std::to_string(channel));
    EXPECT_EQ(second_of(lines[1].time), kFirstSecond);
    expect_picture("out/" + std::to_string(channel) + ".bmp", channel, kFirstSecond * kFps);
    // Only the display channel's pictures are taken.
    EXPECT_FALSE(fs::exists("out/" + std::to_string(1 - channel) + ".bmp"));
    fs::remove_all("out");
  }
}

TEST_F(PlayCommandTest, TraceLines_GoToStandardErrorWithVerboseAndNowhereWithout) {
  // Writing a picture traces its size (the bitmap has 8 rows fewer than the picture);
  // the results on standard output never carry it.
  const std::string size_line =
      "width=" + std::to_string(kWidth) + " height=" + std::to_string(kHeight - 8) + "\n";
  const CliResult quiet =
      run_cli({"play", "rec.mpg", "--out", "out", "--script", "pos #0; step; step"});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out.find("width="), std::string::npos) << quiet.out;
  EXPECT_EQ(quiet.err.find("width="), std::string::npos) << quiet.err;
  ASSERT_EQ(step_lines(quiet.out).size(), 3u) << quiet.out;

  const CliResult verbose =
      run_cli({"--verbose", "play", "rec.mpg", "--out", "out", "--script", "pos #0; step; step"});
  ASSERT_EQ(verbose.status, 0) << verbose.err;
  EXPECT_EQ(verbose.out.find("width="), std::string::npos) << verbose.out;
  EXPECT_NE(verbose.err.find(size_line), std::string::npos) << verbose.err;
  EXPECT_EQ(step_lines(verbose.out).size(), 3u) << verbose.out;
}

TEST_F(PlayCommandTest, Script_PrintsEachStepWithPositionTimeAndPicturesAndPlaysTheSound) {
  const CliResult run = run_cli({"play", "rec.mpg", "--out", "out", "--wav", "play.wav", "--script",
                              "play 2s; step; stepback; pos 50%; stop; channel 1; fast 1s; "
                              "wait 500ms"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("rec.mpg: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("video channels 0,1, sound channel 0; view 0"), std::string::npos)
      << run.out;
  const std::vector<StepLine> lines = step_lines(run.out);
  ASSERT_EQ(lines.size(), 8u) << run.out;
  const char* steps[] = {"play 2s", "step",      "stepback", "pos 50%",
                         "stop",    "channel 1", "fast 1s",  "wait 500ms"};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].number, static_cast<int>(i) + 1);
    EXPECT_EQ(lines[i].step, steps[i]);
  }
  // Two seconds of play at five pictures a second; the recording's time moved on with it.
  EXPECT_EQ(lines[0].mode, "play");
  EXPECT_GE(lines[0].pictures, 5);
  EXPECT_LE(lines[0].pictures, 3 * kFps);
  EXPECT_GT(second_of(lines[0].time), kFirstSecond);
  EXPECT_GT(lines[0].percent, 0);
  // One key frame each way, then stopped.
  EXPECT_EQ(lines[1].mode, "stop");
  EXPECT_EQ(lines[1].pictures, 1);
  EXPECT_EQ(lines[2].mode, "stop");
  EXPECT_EQ(lines[2].pictures, 1);
  // The middle of the file is the middle of the stretch.
  EXPECT_NEAR(lines[3].percent, 50, 12);
  EXPECT_NEAR(second_of(lines[3].time), kFirstSecond + kSeconds / 2, 1);
  EXPECT_EQ(lines[4].mode, "stop");
  EXPECT_EQ(lines[4].pictures, 0);
  EXPECT_EQ(lines[5].view, "1");
  EXPECT_GE(lines[6].pictures, 1);
  EXPECT_EQ(lines[6].view, "1");
  EXPECT_GT(lines[6].percent, lines[3].percent);

  expect_picture("out/0.bmp", 0, -1);
  expect_picture("out/1.bmp", 1, -1);
  // Sound was played only during the two seconds of play.
  const auto wav = fs::file_size("play.wav");
  EXPECT_GE(wav, 44u + 16000u / 2);
  EXPECT_LE(wav, 44u + 16000u * 4);
  EXPECT_NE(run.out.find("sound of audio channel 0: "), std::string::npos) << run.out;
}

TEST_F(PlayCommandTest, AllChannels_WritesEveryChannelAndTheMosaic) {
  const CliResult run =
      run_cli({"play", "rec.mpg", "--channel", "all", "--out", "out", "--script", "play 2s"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<StepLine> lines = step_lines(run.out);
  ASSERT_EQ(lines.size(), 1u) << run.out;
  EXPECT_EQ(lines[0].view, "all");
  EXPECT_GE(lines[0].pictures, 2);
  expect_picture("out/0.bmp", 0, -1);
  expect_picture("out/1.bmp", 1, -1);
  unsigned width = 0, height = 0;
  ASSERT_EQ(get_bmpsize("out/mosaic.bmp", &width, &height), 0);
  EXPECT_EQ(width, 4u * kWidth);
  EXPECT_EQ(height, 4u * (kHeight - 8));
  EXPECT_NE(run.out.find("channels 0,1 shown"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("and mosaic.bmp"), std::string::npos) << run.out;
}

TEST_F(PlayCommandTest, WithoutATerminal_PlaysToTheEndAndStops) {
  const CliResult run = run_cli({"play", "rec.mpg", "--out", "out", "--for", "60"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(step_lines(run.out).empty()) << run.out;
  // Paced by the time stamps: about the stretch's length, far from the time limit.
  EXPECT_GE(run.seconds, kSeconds - 2);
  EXPECT_LT(run.seconds, kSeconds + 15);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(run.out, m, std::regex(R"((\d+) pictures of channels 0 shown)")))
      << run.out;
  EXPECT_GE(std::stoi(m[1]), (kSeconds - 2) * kFps);
  expect_picture("out/0.bmp", 0, -1);
}

TEST_F(PlayCommandTest, KeysInATerminal_StopStepAndQuit_AndTheTerminalIsRestored) {
  // script(1) gives the program a terminal of its own and passes the keys on: space after
  // two seconds of play, then the right arrow, then q; stty shows the settings after it.
  const std::string command =
      "(sleep 2; printf ' '; sleep 1; printf '\\033[C'; sleep 1; printf q; sleep 2) | "
      "VIRAZAV_AUDIO=none timeout 120 script -qec \"" +
      std::string(VIRAZAV_CLI_PATH) +
      " play rec.mpg --out out --for 30; echo exit=\\$?; stty -a\" /dev/null";
  const auto start = std::chrono::steady_clock::now();
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_NE(out.find("keys: space play/stop"), std::string::npos) << out;
  EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
  // Space stopped the play; q ended it long before the time limit.
  EXPECT_NE(out.find("\rstop "), std::string::npos) << out;
  EXPECT_LT(seconds, 20);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"((\d+) pictures of channels 0 shown)")))
      << out;
  EXPECT_GE(std::stoi(m[1]), 3);
  // Line editing and echo are back on.
  EXPECT_TRUE(std::regex_search(out, std::regex(R"(\sicanon\s)"))) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex(R"(\secho\s)"))) << out;
  EXPECT_FALSE(std::regex_search(out, std::regex(R"(\s-(icanon|echo)\s)"))) << out;
}

TEST_F(PlayCommandTest, AScriptCutShortByTheTimeLimit_ExitsOneAfterItsLine) {
  const CliResult run =
      run_cli({"play", "rec.mpg", "--out", "out", "--for", "1", "--script", "play 20s; stop"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the script was cut short at step 1 by --for"), std::string::npos)
      << run.err;
  const std::vector<StepLine> lines = step_lines(run.out);
  ASSERT_EQ(lines.size(), 1u) << run.out;
  EXPECT_GE(lines[0].pictures, 1);
  EXPECT_LT(run.seconds, 10);
}

TEST_F(PlayCommandTest, RefusedCommandLinesAndFiles_GiveTheirExitStatusAndReason) {
  std::ofstream("text.mpg") << "not a stream file\n";
  struct Row {
    std::vector<std::string> args;
    std::string env;
    int status;
    std::string message;
  } rows[] = {
      {{"play", "rec.mpg", "--script", "play 2s; bak 2s"}, "", 2, "step 2 'bak 2s'"},
      {{"play", "rec.mpg", "--script", "play;;stop"}, "", 2, "step 2 is empty"},
      {{"play", "rec.mpg", "--script", "pos 150%"}, "", 2, "a position is a percentage"},
      {{"play", "rec.mpg", "--script", ""}, "", 2, "the script is empty"},
      {{"play", "rec.mpg", "--channel", "16"}, "", 2, "--channel needs"},
      {{"play", "rec.mpg", "--audio", "4"}, "", 2, "--audio needs"},
      {{"play", "rec.mpg", "--for", "0"}, "", 2, "--for needs"},
      {{"play", "rec.mpg", "--wav", ""}, "", 2, "--wav needs a file name"},
      {{"play", "rec.mpg", "extra"}, "", 2, "too many arguments"},
      {{"play", "control", "1", "--channel", "2"}, "", 2, "--channel belongs to 'play FILE'"},
      {{"play", "text.mpg"}, "", 1, "not a stream file"},
      {{"play", "missing.mpg"}, "", 1, "open missing.mpg: No such file or directory"},
      {{"play", "rec.mpg", "--channel", "5"}, "", 1, "channel 5 has no video (channels 0,1)"},
      {{"play", "rec.mpg", "--audio", "0"}, "VIRAZAV_AUDIO=none", 1, "audio channel 0 cannot play"},
      {{"play", "rec.mpg", "--wav", "s.wav", "--audio", "2"}, "", 1, "audio channel 2 cannot play"},
  };
  for (const Row& r : rows) {
    const CliResult run = run_cli(r.args, r.env);
    std::string what;
    for (const std::string& a : r.args) what += a + " ";
    EXPECT_EQ(run.status, r.status) << what << "\n" << run.err;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << what << "\n" << run.err;
    // Nothing was played: no step line and no picture.
    EXPECT_TRUE(step_lines(run.out).empty()) << what;
    EXPECT_FALSE(fs::exists("play-out/0.bmp")) << what;
  }
}

}  // namespace
}  // namespace virazav::testing
