// "virazav export" and "virazav verify" run as processes on a stretch downloaded from the
// simulated recorder and on a copy (HDR.dat) of its disk: the files read back by ffprobe
// and decoded by ffmpeg (tracks, codecs, picture counts, durations, no warnings), the
// pictures compared with the recorder's own by PSNR, the manifest checked and a changed
// byte found, and the exit statuses and messages of bad sources and empty stretches.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "disk/disk_image.h"
#include "media/media.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFps = 5;
constexpr int kFirstSecond = 2;  // the download starts at 10:00:02
constexpr int kSeconds = 6;

// A tool of FFmpeg's run through the shell: its standard output and standard error.
struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

ToolRun run_tool(const std::string& command) {
  ToolRun run;
  std::FILE* pipe = popen((command + " </dev/null 2>tool-stderr.txt").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int wait_status = pclose(pipe);
  if (wait_status != -1 && WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
  std::ifstream err("tool-stderr.txt");
  std::stringstream text;
  text << err.rdbuf();
  run.err = text.str();
  return run;
}

// One stream of ffprobe's JSON report.
struct ProbedStream {
  std::string codec;
  int frames = -1;       // nb_read_frames
  double duration = -1;  // the stream's own duration, when the container gives one
  std::string title;     // tag "title"
};

struct Probe {
  std::vector<ProbedStream> streams;
  double duration = -1;  // of the file
  std::string warnings;  // ffprobe's standard error
};

std::string json_value(const std::string& block, const std::string& key) {
  const std::regex re("\"" + key + "\": \"?([^\",\n]*)\"?");
  std::smatch m;
  return std::regex_search(block, m, re) ? m[1].str() : "";
}

// Reads the file back with ffprobe, counting the frames of every stream.
Probe probe(const std::string& file) {
  const ToolRun run = run_tool(
      "ffprobe -v warning -show_streams -show_format -count_frames "
      "-of json '" +
      file + "'");
  Probe p;
  p.warnings = run.err;
  const size_t format_at = run.out.find("\"format\":");
  const std::string streams = run.out.substr(0, format_at);
  size_t at = streams.find("\"index\":");
  while (at != std::string::npos) {
    const size_t next = streams.find("\"index\":", at + 1);
    const std::string block = streams.substr(at, next == std::string::npos ? next : next - at);
    ProbedStream s;
    s.codec = json_value(block, "codec_name");
    const std::string frames = json_value(block, "nb_read_frames");
    if (!frames.empty()) s.frames = std::stoi(frames);
    const std::string duration = json_value(block, "duration");
    if (!duration.empty()) s.duration = std::stod(duration);
    s.title = json_value(block, "title");
    p.streams.push_back(s);
    at = next;
  }
  if (format_at != std::string::npos) {
    const std::string d = json_value(run.out.substr(format_at), "duration");
    if (!d.empty()) p.duration = std::stod(d);
  }
  return p;
}

// Decodes video track `track` of a file with ffmpeg into pictures of the given size.
std::vector<sim::Picture> decode_track(const std::string& file, int track, int width, int height) {
  const ToolRun run =
      run_tool("ffmpeg -nostdin -v error -i '" + file + "' -map 0:v:" + std::to_string(track) +
               " -f rawvideo -pix_fmt yuv420p -");
  std::vector<sim::Picture> pictures;
  const size_t luma = static_cast<size_t>(width) * height;
  const size_t frame = luma * 3 / 2;
  for (size_t at = 0; at + frame <= run.out.size(); at += frame) {
    sim::Picture p;
    p.width = width;
    p.height = height;
    const auto* bytes = reinterpret_cast<const uint8_t*>(run.out.data()) + at;
    p.y.assign(bytes, bytes + luma);
    p.u.assign(bytes + luma, bytes + luma + luma / 4);
    p.v.assign(bytes + luma + luma / 4, bytes + frame);
    pictures.push_back(std::move(p));
  }
  return pictures;
}

// Decodes every stream of the file and returns what ffmpeg says on standard error at the
// warning level. Matroska stores a sound track's channel count but no channel layout, so
// ffmpeg is told not to guess one (it warns about every guess).
std::string decode_warnings(const std::string& file) {
  const ToolRun run =
      run_tool("ffmpeg -nostdin -v warning -guess_layout_max 0 -i '" + file + "' -map 0 -f null -");
  return run.status == 0 ? run.err : "ffmpeg exit " + std::to_string(run.status) + ": " + run.err;
}

void flip_byte(const std::string& path, std::streamoff at) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(at);
  char c = 0;
  f.read(&c, 1);
  c = static_cast<char>(c ^ 0x40);
  f.seekp(at);
  f.write(&c, 1);
}

class ExportStreamFileTest : public RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    o.recording.video_channels = 0x0003;
    o.recording.audio_channels = 0x0003;
    o.recording.seconds = 10;
    o.recording.video.width = kWidth;
    o.recording.video.height = kHeight;
    o.recording.video.fps = kFps;
  }

  // Downloads six seconds of channels 0 and 1 with their sound from 10:00:02 into rec.mpg.
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
  }

  // Compares every decoded picture of a track with the recorder's picture of that channel
  // from `first_frame` on, and checks that it is unlike the other channel's picture.
  void expect_pictures(const std::string& file, int track, int channel, int64_t first_frame,
                       size_t count) {
    const std::vector<sim::Picture> decoded = decode_track(file, track, kWidth, kHeight);
    ASSERT_EQ(decoded.size(), count) << file << " track " << track;
    for (size_t i = 0; i < decoded.size(); ++i) {
      const int64_t frame = first_frame + static_cast<int64_t>(i);
      const double own =
          sim::luma_psnr(decoded[i], rec().recording().source_picture(channel, frame));
      const double other =
          sim::luma_psnr(decoded[i], rec().recording().source_picture(1 - channel, frame));
      EXPECT_GT(own, 30.0) << file << " track " << track << " picture " << i;
      EXPECT_LT(other, own - 10.0) << file << " track " << track << " picture " << i;
    }
  }

  TempCwd cwd_;
};

TEST_F(ExportStreamFileTest, MkvAndMp4_OneTrackPerChannelWithEveryPictureAndTheSound) {
  const struct {
    const char* file;
    const char* sound_codec;
  } kCases[] = {{"out.mkv", "pcm_s16le"}, {"out.mp4", "aac"}};
  for (const auto& c : kCases) {
    const CliResult run = run_program({"export", "rec.mpg", "--to", c.file});
    ASSERT_EQ(run.status, 0) << c.file << ": " << run.err;
    EXPECT_NE(run.out.find("2024-05-01T10:00:02 .. 2024-05-01T10:00:07"), std::string::npos)
        << run.out;
    const Probe p = probe(c.file);
    EXPECT_EQ(p.warnings, "") << c.file;
    ASSERT_EQ(p.streams.size(), 4u) << c.file;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(p.streams[i].codec, "mpeg4") << c.file << " stream " << i;
      EXPECT_EQ(p.streams[i].frames, kSeconds * kFps) << c.file << " stream " << i;
      EXPECT_EQ(p.streams[2 + i].codec, c.sound_codec) << c.file << " stream " << 2 + i;
      EXPECT_GT(p.streams[2 + i].frames, 0) << c.file << " stream " << 2 + i;
    }
    // Six seconds of pictures; the sound packets (0.512 s each) end up to half a second
    // later.
    EXPECT_GE(p.duration, kSeconds - 0.01) << c.file;
    EXPECT_LE(p.duration, kSeconds + 0.6) << c.file;
    EXPECT_EQ(decode_warnings(c.file), "") << c.file;
  }
  // MP4 tracks carry their own durations: the pictures' is exactly six seconds.
  const Probe mp4 = probe("out.mp4");
  ASSERT_EQ(mp4.streams.size(), 4u);
  EXPECT_NEAR(mp4.streams[0].duration, kSeconds, 0.001);
  EXPECT_NEAR(mp4.streams[1].duration, kSeconds, 0.001);
}

TEST_F(ExportStreamFileTest, Pictures_AreTheRecordersOwnOnTheirChannelsTrack) {
  ASSERT_EQ(run_program({"export", "rec.mpg", "--to", "out.mkv"}).status, 0);
  ASSERT_EQ(run_program({"export", "rec.mpg", "--to", "out.mp4"}).status, 0);
  for (const char* file : {"out.mkv", "out.mp4"}) {
    expect_pictures(file, 0, 0, kFirstSecond * kFps, kSeconds * kFps);
    expect_pictures(file, 1, 1, kFirstSecond * kFps, kSeconds * kFps);
  }
}

// Signal-to-noise ratio in dB of decoded samples against a channel's known tone.
double tone_snr(const std::vector<int16_t>& samples, int audio_channel) {
  const std::vector<int16_t> tone =
      sim::tone_samples(audio_channel, 0, static_cast<int>(samples.size()));
  double signal = 0, noise = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    signal += static_cast<double>(tone[i]) * tone[i];
    const double d = static_cast<double>(samples[i]) - tone[i];
    noise += d * d;
  }
  return noise == 0 ? 99 : 10 * std::log10(signal / noise);
}

TEST_F(ExportStreamFileTest, SoundTracks_HoldTheTonesOfTheirOwnChannels) {
  ASSERT_EQ(run_program({"export", "rec.mpg", "--to", "out.mkv"}).status, 0);
  ASSERT_EQ(run_program({"export", "rec.mpg", "--to", "out.mp4"}).status, 0);
  // Both tones complete whole periods in every 4096-sample packet, so the comparison from
  // sample 0 holds for any packet the stretch starts with. ADPCM keeps the tones at 26 to
  // 34 dB, the AAC encoder at about 20 dB; the other channel's tone gives about -3 dB.
  const struct {
    const char* file;
    double least;
  } kCases[] = {{"out.mkv", 22.0}, {"out.mp4", 14.0}};
  for (const auto& c : kCases) {
    for (int track = 0; track < 2; ++track) {
      const ToolRun run =
          run_tool("ffmpeg -nostdin -v error -guess_layout_max 0 -i " + std::string(c.file) +
                   " -map 0:a:" + std::to_string(track) + " -f s16le -");
      ASSERT_EQ(run.status, 0) << run.err;
      std::vector<int16_t> samples(run.out.size() / 2);
      for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(run.out[2 * i]) |
                                          static_cast<uint8_t>(run.out[2 * i + 1]) << 8);
      }
      // Six seconds of sound, give or take a packet and the encoder's own delay.
      EXPECT_NEAR(static_cast<double>(samples.size()), kSeconds * 8000.0, 4096 + 1024)
          << c.file << " track " << track;
      EXPECT_GT(tone_snr(samples, track), c.least) << c.file << " track " << track;
      EXPECT_LT(tone_snr(samples, 1 - track), 0.0) << c.file << " track " << track;
    }
  }
}

TEST_F(ExportStreamFileTest, Stretch_StartsEachTrackOnTheKeyPictureOfItsFirstSecond) {
  // Both time forms; the stretch is seconds 4 and 5, channel 1 alone.
  const CliResult run = run_program({"export", "rec.mpg", "part.mkv", "--channels", "1", "--from",
                                     "2024-05-01T10:00:04", "--to", "2024-05-01 10:00:05"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Probe p = probe("part.mkv");
  EXPECT_EQ(p.warnings, "");
  ASSERT_EQ(p.streams.size(), 2u);
  EXPECT_EQ(p.streams[0].codec, "mpeg4");
  EXPECT_EQ(p.streams[0].frames, 2 * kFps);
  EXPECT_EQ(p.streams[0].title, "channel 1");
  EXPECT_EQ(p.streams[1].title, "sound 1");
  EXPECT_NEAR(p.duration, 2.0, 0.6);
  expect_pictures("part.mkv", 0, 1, 4 * kFps, 2 * kFps);
}

TEST_F(ExportStreamFileTest, Split_WritesElementaryStreamsThatBeginWithTheirHeaders) {
  const CliResult run = run_program({"export", "rec.mpg", "--split", "m4v"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (int ch = 0; ch < 2; ++ch) {
    const std::string file = "m4v/ch" + std::to_string(ch) + ".m4v";
    std::ifstream in(file, std::ios::binary);
    char head[4] = {};
    in.read(head, 4);
    // A visual object sequence header comes first, so a decoder can start there.
    EXPECT_EQ(std::string(head, 4), std::string("\x00\x00\x01\xB0", 4)) << file;
    const Probe p = probe(file);
    EXPECT_EQ(p.warnings, "") << file;
    ASSERT_EQ(p.streams.size(), 1u) << file;
    EXPECT_EQ(p.streams[0].codec, "mpeg4") << file;
    EXPECT_EQ(p.streams[0].frames, kSeconds * kFps) << file;
    expect_pictures(file, 0, ch, kFirstSecond * kFps, kSeconds * kFps);
  }
}

TEST_F(ExportStreamFileTest, Manifest_VerifiesAndNamesEachChangedFile) {
  const CliResult run =
      run_program({"export", "rec.mpg", "--to", "out.mp4", "--manifest", "out.sha"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::ifstream in("out.sha");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("first 2024-05-01T10:00:02\nlast 2024-05-01T10:00:07\n"),
            std::string::npos)
      << text.str();

  CliResult verify = run_program({"verify", "out.sha"});
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  EXPECT_EQ(verify.out.find("MISMATCH"), std::string::npos) << verify.out;

  // A moved folder still verifies: the paths count from the manifest's folder.
  fs::create_directory("moved");
  for (const char* f : {"rec.mpg", "out.mp4", "out.sha"}) fs::copy_file(f, fs::path("moved") / f);
  EXPECT_EQ(run_program({"verify", "moved/out.sha"}).status, 0);

  flip_byte("out.mp4", static_cast<std::streamoff>(fs::file_size("out.mp4") / 2));
  verify = run_program({"verify", "out.sha"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.err.find("out.mp4"), std::string::npos) << verify.err;
  EXPECT_EQ(verify.err.find("rec.mpg"), std::string::npos) << verify.err;

  flip_byte("rec.mpg", 1000);
  verify = run_program({"verify", "out.sha"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.err.find("rec.mpg"), std::string::npos) << verify.err;
  EXPECT_NE(verify.err.find("out.mp4"), std::string::npos) << verify.err;

  fs::remove("out.mp4");
  verify = run_program({"verify", "out.sha"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.err.find("out.mp4: cannot open"), std::string::npos) << verify.err;
}

TEST_F(ExportStreamFileTest, TruncatedSource_ExportsThePacketsBeforeTheCutAndExits3) {
  const auto size = fs::file_size("rec.mpg");
  fs::copy_file("rec.mpg", "cut.mpg");
  fs::resize_file("cut.mpg", size * 2 / 3 + 7);
  const CliResult run = run_program({"export", "cut.mpg", "--to", "cut.mkv"});
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(run.err.find("cut.mpg ends inside a packet at byte"), std::string::npos) << run.err;
  const Probe p = probe("cut.mkv");
  EXPECT_EQ(p.warnings, "");
  ASSERT_EQ(p.streams.size(), 4u);
  EXPECT_GT(p.streams[0].frames, 0);
  EXPECT_LT(p.streams[0].frames, kSeconds * kFps);
}

TEST_F(ExportStreamFileTest, NothingToExport_Exits4AndWritesNothing) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } kCases[] = {
      {{"export", "rec.mpg", "--to", "none.mkv", "--from", "2024-05-01T11:00:00"},
       "in the stretch"},
      {{"export", "rec.mpg", "--to", "none.mkv", "--channels", "7"}, "channels 7"},
  };
  for (const auto& c : kCases) {
    const CliResult run = run_program(c.args);
    EXPECT_EQ(run.status, 4) << c.message << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nothing written"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists("none.mkv")) << c.message;
  }
  // A channel asked for beside one that is there: done in part.
  const CliResult part =
      run_program({"export", "rec.mpg", "--to", "some.mkv", "--channels", "1,7"});
  EXPECT_EQ(part.status, 3) << part.err;
  EXPECT_NE(part.err.find("no pictures of channels 7"), std::string::npos) << part.err;
}

TEST_F(ExportStreamFileTest, BadCommandLinesAndSources_GetTheirExitStatus) {
  ASSERT_TRUE(fs::exists("rec.mpg"));
  {
    std::ofstream junk("junk.bin", std::ios::binary);
    junk << std::string(4096, 'x');
  }
  const struct {
    std::vector<std::string> args;
    int status;
  } kCases[] = {
      {{"export", "rec.mpg"}, 2},
      {{"export", "rec.mpg", "--to", "out.avi"}, 2},
      {{"export", "rec.mpg", "--to", "out.mkv", "--from", "2024-05-01 10:00"}, 2},
      {{"export", "rec.mpg", "--to", "out.mkv", "--from", "2024-13-01T10:00:00"}, 2},
      {{"export", "rec.mpg", "out.mkv", "--from", "2024-05-01T10:00:05", "--to",
        "2024-05-01T10:00:04"},
       2},
      {{"export", "rec.mpg", "--to", "out.mkv", "--channels", "16"}, 2},
      {{"export", "rec.mpg", "--to", "out.mkv", "--split", "dir"}, 2},
      {{"export", "missing.mpg", "--to", "out.mkv"}, 1},
      {{"export", "junk.bin", "--to", "out.mkv"}, 1},
      {{"verify"}, 2},
      {{"verify", "junk.bin"}, 1},
  };
  for (const auto& c : kCases) {
    const CliResult run = run_program(c.args);
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    EXPECT_EQ(run.status, c.status) << line << "\n" << run.err;
    EXPECT_FALSE(fs::exists("out.mkv")) << line;
  }
}

// A copy of the simulated recorder's disk: twenty-one seconds of two channels.
class ExportDiskCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::DiskImageDesc desc;
    desc.recordings = {sim::RecordingPlan{40, 0, 0, false}};
    desc.channels = 2;
    desc.audio_channels = 2;
    desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
    desc.video.width = kWidth;
    desc.video.height = kHeight;
    desc.video.fps = kFps;
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(desc, "disk.img", &error)) << error;
    fs::create_directory("media");
    const CliResult copy = run_program({"disk", "copy", "disk.img", "media", "--from",
                                        "2024-05-10 10:00:05", "--to", "2024-05-10 10:00:25"});
    ASSERT_EQ(copy.status, 0) << copy.out << copy.err;
  }

  TempCwd cwd_;
};

TEST_F(ExportDiskCopyTest, HdrDat_ExportsTheCopiedStretchWithTheRecordersPictures) {
  const CliResult run = run_program({"export", "media/HDR.dat", "--to", "copy.mp4", "--from",
                                     "2024-05-10T10:00:10", "--to", "2024-05-10T10:00:14"});
  // --to given twice: the time wins and the output is missing.
  EXPECT_EQ(run.status, 2) << run.err;
  const CliResult ok = run_program({"export", "media/HDR.dat", "copy.mp4", "--from",
                                    "2024-05-10T10:00:10", "--to", "2024-05-10T10:00:14"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find("2024-05-10T10:00:10 .. 2024-05-10T10:00:14"), std::string::npos) << ok.out;
  const Probe p = probe("copy.mp4");
  EXPECT_EQ(p.warnings, "");
  ASSERT_EQ(p.streams.size(), 4u);
  EXPECT_EQ(p.streams[0].frames, 5 * kFps);
  EXPECT_EQ(p.streams[1].frames, 5 * kFps);
  EXPECT_EQ(p.streams[2].codec, "aac");
  EXPECT_NEAR(p.streams[0].duration, 5.0, 0.001);
  EXPECT_EQ(decode_warnings("copy.mp4"), "");
  for (int ch = 0; ch < 2; ++ch) {
    const sim::SyntheticChannel camera(ch, kWidth, kHeight);
    const sim::SyntheticChannel other(1 - ch, kWidth, kHeight);
    const std::vector<sim::Picture> decoded = decode_track("copy.mp4", ch, kWidth, kHeight);
    ASSERT_EQ(decoded.size(), static_cast<size_t>(5 * kFps));
    for (size_t i = 0; i < decoded.size(); ++i) {
      const int64_t frame = 10 * kFps + static_cast<int64_t>(i);
      const double own = sim::luma_psnr(decoded[i], camera.source_picture(frame));
      EXPECT_GT(own, 30.0) << "channel " << ch << " picture " << i;
      EXPECT_LT(sim::luma_psnr(decoded[i], other.source_picture(frame)), own - 10.0)
          << "channel " << ch << " picture " << i;
    }
  }
}

TEST_F(ExportDiskCopyTest, HdrDat_CutInsideAPacket_Exits3WithTheStretchBefore) {
  fs::copy_file("media/HDR.dat", "cut.dat");
  fs::resize_file("cut.dat", fs::file_size("cut.dat") / 2 + 5);
  const CliResult run = run_program({"export", "cut.dat", "--to", "cut.mkv"});
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(run.err.find("cut.dat ends inside a packet"), std::string::npos) << run.err;
  const Probe p = probe("cut.mkv");
  EXPECT_EQ(p.warnings, "");
  ASSERT_EQ(p.streams.size(), 4u);
  EXPECT_GT(p.streams[0].frames, 5 * kFps);
  EXPECT_LT(p.streams[0].frames, 21 * kFps);
}

TEST_F(ExportDiskCopyTest, Disk_ExportsAStretchThroughACopyKeptBesideTheOutput) {
  const CliResult run =
      run_program({"export", "--disk", "disk.img", "disk.mkv", "--from", "2024-05-10T10:00:30",
                   "--to", "2024-05-10 10:00:33", "--manifest", "disk.sha"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists("disk.mkv.copy/HDR.dat"));
  const Probe p = probe("disk.mkv");
  EXPECT_EQ(p.warnings, "");
  ASSERT_EQ(p.streams.size(), 4u);
  EXPECT_EQ(p.streams[0].frames, 4 * kFps);
  EXPECT_EQ(p.streams[1].frames, 4 * kFps);
  EXPECT_EQ(p.streams[2].codec, "pcm_s16le");
  const sim::SyntheticChannel camera(1, kWidth, kHeight);
  const std::vector<sim::Picture> decoded = decode_track("disk.mkv", 1, kWidth, kHeight);
  ASSERT_EQ(decoded.size(), static_cast<size_t>(4 * kFps));
  EXPECT_GT(sim::luma_psnr(decoded.front(), camera.source_picture(30 * kFps)), 30.0);
  EXPECT_GT(sim::luma_psnr(decoded.back(), camera.source_picture(34 * kFps - 1)), 30.0);
  EXPECT_EQ(run_program({"verify", "disk.sha"}).status, 0);

  // Nothing recorded a day later; the stretch is required.
  const CliResult none = run_program({"export", "--disk", "disk.img", "none.mkv", "--from",
                                      "2024-05-11T10:00:30", "--to", "2024-05-11T10:00:33"});
  EXPECT_EQ(none.status, 4) << none.err;
  EXPECT_NE(none.err.find("nothing is recorded"), std::string::npos) << none.err;
  EXPECT_FALSE(fs::exists("none.mkv"));
  EXPECT_FALSE(fs::exists("none.mkv.copy"));
  EXPECT_EQ(run_program({"export", "--disk", "disk.img", "x.mkv", "--from", "2024-05-10T10:00:30"})
                .status,
            2);
}

// The recorder repeats earlier chunks after `repeat_after_s`; a repeated chunk carries the
// packet headers of the chunk it repeats, so only the copy's .index knows its time.
TEST(ExportRepeatedChunksTest, HdrDat_StretchIsChosenByTheChunkTimesOfTheCopysIndex) {
  TempCwd cwd;
  sim::DiskImageDesc desc;
  desc.recordings = {sim::RecordingPlan{30, 0, 0, false}};
  desc.channels = 1;
  desc.audio_channels = 0;
  desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
  desc.video.width = kWidth;
  desc.video.height = kHeight;
  desc.video.fps = kFps;
  desc.repeat_after_s = 10;
  std::string error;
  ASSERT_TRUE(sim::write_disk_image(desc, "disk.img", &error)) << error;
  fs::create_directory("media");
  ASSERT_EQ(run_program({"disk", "copy", "disk.img", "media", "--from", "2024-05-10 10:00:00",
                         "--to", "2024-05-10 10:00:29"})
                .status,
            0);
  const CliResult run = run_program({"export", "media/HDR.dat", "late.mkv", "--from",
                                     "2024-05-10T10:00:20", "--to", "2024-05-10T10:00:21"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("2024-05-10T10:00:20 .. 2024-05-10T10:00:21"), std::string::npos)
      << run.out;
  const Probe p = probe("late.mkv");
  EXPECT_EQ(p.warnings, "");
  ASSERT_EQ(p.streams.size(), 1u);
  EXPECT_EQ(p.streams[0].frames, 2 * kFps);
  EXPECT_NEAR(p.duration, 2.0, 0.01);
}

}  // namespace
}  // namespace virazav::testing
