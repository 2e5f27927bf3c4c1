// Tests of the recorder's side of a download: the replies to SendDataF and SendDataN, the
// blocks behind them, the end of a download, and the download faults.

#include <gtest/gtest.h>

#include "internal.h"

namespace virazav::sim::detail {
namespace {

RecordingOptions options() {
  RecordingOptions o;
  o.video_channels = 0x0001;
  o.audio_channels = 0x0001;
  o.seconds = 4;
  o.video.width = 176;
  o.video.height = 144;
  o.video.fps = 4;
  return o;
}

Command command(const std::string& word, std::vector<int64_t> values = {}) {
  Command c;
  c.id = "ID0000ABCD";
  c.word = word;
  c.values = std::move(values);
  for (int64_t v : c.values) c.fields.push_back(std::to_string(v));
  return c;
}

// SendDataF for `seconds` seconds from the recording's start, channel 0 with audio.
Command first(int seconds, int year = 24) {
  return command("SendDataF", {1, year, 5, 1, 10, 0, 0, seconds, 1, 0, 0, 0});
}

std::vector<std::string> tokens(const std::string& reply) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < reply.size()) {
    size_t end = reply.find_first_of(" \r\n", pos);
    if (end == std::string::npos) end = reply.size();
    if (end > pos) out.push_back(reply.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

uint32_t hex(const std::string& t) {
  return static_cast<uint32_t>(std::stoul(t, nullptr, 16));
}

TEST(DownloadServer, RepliesAnnounceEachStepUntilBothSizesAreZero) {
  DownloadServer server(options());
  Outcome out = server.execute(first(2), 0, std::nullopt);
  auto t = tokens(out.reply);
  ASSERT_EQ(t.size(), 5u) << out.reply;
  EXPECT_EQ(t[0], "ID0000ABCD");
  EXPECT_EQ(t[1], "OK");
  EXPECT_EQ(hex(t[4]), static_cast<uint32_t>(recorder_seconds(options().start)));
  EXPECT_EQ(out.trigger, "JpegSendStart\n");
  EXPECT_EQ(out.block.size(), hex(t[2]) + hex(t[3]));

  size_t steps = 1;
  for (; steps < 50; ++steps) {
    out = server.execute(command("SendDataN"), 0, std::nullopt);
    t = tokens(out.reply);
    ASSERT_EQ(t.size(), 4u) << out.reply;
    if (hex(t[2]) == 0 && hex(t[3]) == 0) break;
    EXPECT_EQ(out.block.size(), hex(t[2]) + hex(t[3])) << "step " << steps;
  }
  EXPECT_TRUE(out.trigger.empty()) << "nothing follows the end";
  // Two seconds of one channel and the four audio packets that begin in them.
  EXPECT_EQ(steps, server.steps_sent(0).size());
  size_t video = 0, audio = 0;
  for (const auto& s : server.steps_sent(0)) {
    video += !s.video.empty();
    audio += !s.audio.empty();
  }
  EXPECT_EQ(video, 2u);
  EXPECT_EQ(audio, 4u);
  // Further SendDataN keep saying the download is over.
  EXPECT_EQ(tokens(server.execute(command("SendDataN"), 0, std::nullopt).reply)[2], "00000000");
  EXPECT_TRUE(server.steps_sent(1).empty()) << "other slots have their own downloads";
}

TEST(DownloadServer, RefusalsAndEmptyStretches) {
  DownloadServer server(options());
  EXPECT_EQ(tokens(server.execute(command("SendDataN"), 3, std::nullopt).reply)[1], "NG")
      << "no download started on the slot";
  EXPECT_EQ(tokens(server.execute(first(0), 3, std::nullopt).reply)[1], "NG") << "length 0";
  Outcome out = server.execute(first(5, 23), 3, std::nullopt);
  auto t = tokens(out.reply);
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[1], "OK");
  EXPECT_EQ(hex(t[2]), 0u) << "nothing recorded a year earlier";
  EXPECT_TRUE(out.trigger.empty());
}

TEST(DownloadServer, FaultsReshapeTheStepsBlocks) {
  struct Row {
    FaultKind kind;
    int param;
  };
  const Row rows[] = {{FaultKind::kBlockTooLarge, 0},  {FaultKind::kRecordOverrun, 3},
                      {FaultKind::kCloseMidBlock, 0},  {FaultKind::kCloseMidBlock, 123},
                      {FaultKind::kBareVideoBlock, 0}, {FaultKind::kBareAudioBlock, 0}};
  DownloadServer plain_server(options());
  Outcome plain = plain_server.execute(first(2), 0, std::nullopt);
  const DownloadStep normal = plain_server.steps_sent(0)[0];
  ASSERT_FALSE(normal.video.empty());
  ASSERT_FALSE(normal.audio.empty());

  for (const Row& r : rows) {
    const std::string name =
        "kind " + std::to_string(static_cast<int>(r.kind)) + " param " + std::to_string(r.param);
    DownloadServer server(options());
    Fault f;
    f.kind = r.kind;
    f.param = r.param;
    Outcome out = server.execute(first(2), 0, f);
    const DownloadStep s = server.steps_sent(0).at(0);
    auto t = tokens(out.reply);
    EXPECT_EQ(hex(t[2]), s.video.size()) << name;
    EXPECT_EQ(hex(t[3]), s.audio.size()) << name;
    switch (r.kind) {
      case FaultKind::kBlockTooLarge:
        EXPECT_EQ(s.video.size(), 1048576u + 4096u) << name;
        EXPECT_TRUE(std::equal(normal.video.begin(), normal.video.end(), s.video.begin())) << name;
        break;
      case FaultKind::kRecordOverrun: {
        // Walk the records: the last one now claims 3 units past the block's end.
        size_t at = kVideoBlockHeader;
        for (int i = 0; i < s.video[kVideoBlockCountOffset]; ++i) {
          at += kRecordHeader + kPacketUnit * (s.video[at + kRecordUnitsOffset] |
                                               s.video[at + kRecordUnitsOffset + 1] << 8);
        }
        EXPECT_EQ(at, s.video.size() + 3 * kPacketUnit) << name;
        break;
      }
      case FaultKind::kCloseMidBlock:
        EXPECT_EQ(out.block_cut, r.param ? r.param : static_cast<int64_t>(s.video.size() / 2))
            << name;
        EXPECT_EQ(s.video, normal.video) << name;
        break;
      case FaultKind::kBareVideoBlock:
        EXPECT_EQ(s.video.size(), kVideoBlockHeader) << name;
        EXPECT_EQ(s.video[kVideoBlockCountOffset], 0) << name;
        EXPECT_EQ(s.audio, normal.audio) << name;
        break;
      case FaultKind::kBareAudioBlock:
        EXPECT_EQ(s.audio.size(), kAudioBlockHeader) << name;
        EXPECT_EQ(s.video, normal.video) << name;
        break;
      default:
        FAIL() << name;
    }
    if (r.kind != FaultKind::kCloseMidBlock) {
      EXPECT_EQ(out.block_cut, -1) << name;
    }
  }
  EXPECT_EQ(plain.block_cut, -1);
}

}  // namespace
}  // namespace virazav::sim::detail
