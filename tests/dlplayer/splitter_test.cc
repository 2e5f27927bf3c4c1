// The single-file splitter and the frame bitmaps: data files per key frame
// with a sequence header, WAV files with their sizes, limits and
// continuation, I2BMP's tick search, and get_bmpsize.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "format/bytes.h"
#include "format/stream_format.h"
#include "platform/platform.h"
#include "stream_material.h"
#include "support/recorder_fixture.h"
#include "virazav.h"

namespace virazav::dlplayer {
namespace {

using testing::ChannelPlan;
using testing::StreamPlan;

std::vector<std::string> messages;
void capture(const char* text, const char* caption, void*) {
  messages.push_back(std::string(text) + "|" + caption);
}

class SplitterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages.clear();
    platform::set_message_handler(capture, nullptr);
    ASSERT_EQ(decode_init(), 0);
    platform::make_directory("out");
  }
  void TearDown() override {
    decode_deinit();
    platform::set_message_handler(nullptr, nullptr);
  }
  testing::TempCwd cwd_;
};

uint32_t le32_at(const std::vector<uint8_t>& b, size_t at) {
  return format::load_le32(&b[at]);
}

TEST_F(SplitterTest, DataFilesPerKeyFrameAndWavFiles_AreNamedAndSizedByTick) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}, ChannelPlan{3, 10, 10}};
  plan.audio = {0};
  plan.seconds = 4;
  auto m = testing::make_stream(plan);
  ASSERT_TRUE(m.builder.write("s.mpg"));
  int result = Mpeg4Play("s.mpg", "out", 0);
  // The last packet is at 3.9 s (tick 117); the last audio packet, the
  // seventh, at 3.072 s (tick 92) lowers the result.
  EXPECT_EQ(result, 92);
  for (int ch : {0, 3}) {
    for (int tick : {0, 30, 60, 90}) {
      std::string path = "out/" + std::to_string(ch) + "_" + std::to_string(tick) + ".dat";
      std::vector<uint8_t> data = testing::read_file(path);
      ASSERT_FALSE(data.empty()) << path;
      format::PacketHeader h;
      ASSERT_EQ(format::parse_packet_header(data.data(), data.size(), format::kForward, &h),
                format::kPacketFound)
          << path;
      EXPECT_EQ(h.channel, ch) << path;
      EXPECT_EQ(h.packet_size, data.size()) << path;
    }
    EXPECT_TRUE(testing::read_file("out/" + std::to_string(ch) + "_3.dat").empty());
  }
  std::vector<uint8_t> wav = testing::read_file("out/wav0.wav");
  const size_t packets = 7;  // 4 s / 0.512 s
  ASSERT_EQ(wav.size(), 44 + packets * 8192);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(le32_at(wav, 4), 36 + packets * 8192);
  EXPECT_EQ(le32_at(wav, 24), 8000u);
  EXPECT_EQ(le32_at(wav, 28), 16000u);
  EXPECT_EQ(le32_at(wav, 40), packets * 8192);
  EXPECT_TRUE(testing::read_file("out/wav1.wav").empty());
}

TEST_F(SplitterTest, Limit_StopsAfterTheFirstPacketBeyondIt_AndPlay2Continues) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}};
  plan.audio = {1};
  plan.seconds = 4;
  auto m = testing::make_stream(plan);
  ASSERT_TRUE(m.builder.write("s.mpg"));
  EXPECT_EQ(Mpeg4Play("s.mpg", "out", 40), 0);
  EXPECT_FALSE(testing::read_file("out/0_30.dat").empty());
  EXPECT_TRUE(testing::read_file("out/0_60.dat").empty());
  uint32_t first_part = le32_at(testing::read_file("out/wav1.wav"), 40);
  EXPECT_EQ(first_part % 8192, 0u);
  // Each continuation counts its limit from its own first packet; data files
  // keep the ticks of the whole file.
  EXPECT_EQ(Mpeg4Play2("s.mpg", "out", 40), 0);
  EXPECT_FALSE(testing::read_file("out/0_60.dat").empty());
  int end = Mpeg4Play2("s.mpg", "out", 40);
  EXPECT_GT(end, 90);
  EXPECT_FALSE(testing::read_file("out/0_90.dat").empty());
  std::vector<uint8_t> wav = testing::read_file("out/wav1.wav");
  EXPECT_EQ(wav.size(), 44 + 7 * 8192u);
  EXPECT_EQ(le32_at(wav, 40), 7 * 8192u);
  EXPECT_EQ(le32_at(wav, 4), 36 + 7 * 8192u);
  EXPECT_GT(le32_at(wav, 40), first_part);
}

TEST_F(SplitterTest, SourceMissingOrDecoderNotSetUp_Return_minus1_WithTheirMessages) {
  EXPECT_EQ(Mpeg4Play("missing.mpg", "out", 0), -1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "error: file open error |missing.mpg");
  decode_deinit();
  messages.clear();
  EXPECT_EQ(Mpeg4Play("missing.mpg", "out", 0), -1);
  EXPECT_EQ(Mpeg4Play2("missing.mpg", "out", 0), -1);
  EXPECT_EQ(I2BMP("x", "y.bmp", "out/", 0, 1, 1), VIRAZAV_ERR_NOT_SET_UP);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "error: not initialized |missing.mpg");
  EXPECT_EQ(messages[2], "error: not initialized |out/");
  ASSERT_EQ(decode_init(), 0);
}

TEST_F(SplitterTest, I2bmp_TriesTicksTowardEndTick_AndDecodesTheFirstFound) {
  StreamPlan plan;
  plan.video = {ChannelPlan{2, 10, 10}};
  plan.width = 352;
  plan.height = 240;
  plan.seconds = 1;
  auto m = testing::make_stream(plan);
  ASSERT_TRUE(m.builder.write("s.mpg"));
  ASSERT_EQ(Mpeg4Play("s.mpg", "out", 0), 27);
  std::vector<uint8_t> key = testing::read_file("out/2_0.dat");
  ASSERT_FALSE(key.empty());
  std::remove("out/2_0.dat");
  ASSERT_TRUE(testing::write_file("out/2_91.dat", key));
  ASSERT_TRUE(testing::write_file("out/2_95.dat", key));
  struct Row {
    int tick, end;
    int want;
    const char* used;  // the file that must have been decoded, if any
  } rows[] = {{100, 90, 100, "95"}, {96, 90, 96, "95"},    {94, 90, 94, "91"},
              {90, 100, 90, "91"},  {90, 91, -1, nullptr}, {92, 94, -1, nullptr}};
  for (const Row& r : rows) {
    std::remove("p.bmp");
    EXPECT_EQ(I2BMP("s.mpg", "p.bmp", "out/", 2, r.tick, r.end), r.want) << r.tick << "->" << r.end;
    EXPECT_EQ(testing::read_file("p.bmp").empty(), r.want < 0) << r.tick << "->" << r.end;
  }
  unsigned w = 0, h = 0;
  ASSERT_EQ(I2BMP("s.mpg", "p.bmp", "out/", 2, 100, 90), 100);
  EXPECT_EQ(get_bmpsize("p.bmp", &w, &h), 0);
  EXPECT_EQ(w, 352u);
  EXPECT_EQ(h, 232u);
  // tick == endTick opens the source itself: its first packet is a key frame.
  EXPECT_EQ(I2BMP("s.mpg", "q.bmp", "out/", 2, 7, 7), 7);
  // A data file without a sequence header gives the header bits found.
  std::vector<uint8_t> audio = testing::make_audio_packet(0, 9000, std::vector<uint8_t>(2048, 0));
  ASSERT_TRUE(testing::write_file("out/2_50.dat", audio));
  EXPECT_EQ(I2BMP("s.mpg", "r.bmp", "out/", 2, 50, 49), 1);
  ASSERT_TRUE(testing::write_file("out/2_60.dat", std::vector<uint8_t>(100, 0)));
  EXPECT_EQ(I2BMP("s.mpg", "r.bmp", "out/", 2, 60, 59), 0);
  EXPECT_TRUE(testing::read_file("r.bmp").empty());
}

}  // namespace
}  // namespace virazav::dlplayer
