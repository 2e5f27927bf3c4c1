// Decoded pictures compared with what was encoded: libavcodec's MPEG-4
// encoder makes the material from synthetic pictures, the decoder instances
// decode it, and PSNR tells a right picture from a wrong one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/decore.h"
#include "dlplayer/dataset.h"
#include "format/stream_format.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "support/mpeg4_material.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"

namespace virazav::decoder {
namespace {

using testing::encode_mpeg4;
using testing::psnr_bottom_up;
using testing::synthetic_picture;

constexpr double kGoodPsnr = 30.0;

struct Messages {
  std::vector<std::string> texts;
  static void sink(const char* text, const char* caption, void* user) {
    (void)caption;
    static_cast<Messages*>(user)->texts.push_back(text);
  }
};

class DecodePictures : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_message_handler(Messages::sink, &messages_);
    ASSERT_EQ(set_up(), 0);
  }
  void TearDown() override {
    tear_down();
    platform::set_message_handler(nullptr, nullptr);
  }
  // Decodes the first (key) picture through decode_frame_buffer as a packet,
  // so the instances take the stream's size.
  void start_channel(int channel, const testing::EncodedPicture& key) {
    std::vector<uint8_t> packet = testing::make_video_packet(channel, 0, key.bits);
    ASSERT_EQ(decode_frame_buffer(packet.data(), packet.size(), format::kForward), 1);
  }
  Messages messages_;
};

TEST_F(DecodePictures, EveryPictureOfAStream_MatchesItsSourceAbove30dB) {
  const int w = 352, h = 240;
  auto pictures = encode_mpeg4(w, h, 25, 0, 10);
  ASSERT_EQ(pictures.size(), 25u);
  start_channel(0, pictures[0]);
  for (size_t i = 0; i < pictures.size(); ++i) {
    if (i > 0) {
      ASSERT_EQ(decode_with_channel(0, pictures[i].bits.data(), pictures[i].bits.size()), kDecoreOk)
          << i;
    }
    int pw = 0, ph = 0;
    const uint8_t* pic = channel_picture(0, &pw, &ph);
    ASSERT_EQ(pw, w);
    ASSERT_EQ(ph, h);
    auto source = synthetic_picture(w, h, static_cast<int>(i), 0);
    EXPECT_GE(psnr_bottom_up(pic, source, w, h), kGoodPsnr) << "picture " << i;
    // The same picture compared with another channel's content, with rows
    // shifted, or with the previous frame falls far below the threshold.
    EXPECT_LT(psnr_bottom_up(pic, synthetic_picture(w, h, static_cast<int>(i), 1), w, h), kGoodPsnr)
        << i;
    EXPECT_LT(psnr_bottom_up(pic, testing::shift_rows(source, w, h, 8), w, h), kGoodPsnr) << i;
  }
  EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(DecodePictures, TwoChannelsInterleaved_EachPredictsFromItsOwnPicture) {
  const int w = 176, h = 144;
  auto a = encode_mpeg4(w, h, 8, 2, 30);
  auto b = encode_mpeg4(w, h, 8, 5, 30);
  start_channel(2, a[0]);
  start_channel(5, b[0]);
  for (int i = 1; i < 8; ++i) {
    ASSERT_EQ(decode_with_channel(2, a[i].bits.data(), a[i].bits.size()), kDecoreOk);
    ASSERT_EQ(decode_with_channel(5, b[i].bits.data(), b[i].bits.size()), kDecoreOk);
    EXPECT_GE(
        psnr_bottom_up(channel_picture(2, nullptr, nullptr), synthetic_picture(w, h, i, 2), w, h),
        kGoodPsnr)
        << i;
    EXPECT_GE(
        psnr_bottom_up(channel_picture(5, nullptr, nullptr), synthetic_picture(w, h, i, 5), w, h),
        kGoodPsnr)
        << i;
  }
}

TEST_F(DecodePictures, FirstSequenceHeader_RecreatesAllInstancesAtItsSize) {
  for (int ch = 0; ch < kChannels; ++ch) {
    EXPECT_EQ(channel_size(ch).created_width, 344);
    EXPECT_EQ(channel_size(ch).created_height, 344);
  }
  auto pictures = encode_mpeg4(640, 480, 1, 3, 10);
  start_channel(3, pictures[0]);
  for (int ch = 0; ch < kChannels; ++ch) {
    EXPECT_EQ(channel_size(ch).created_width, 640) << ch;
    EXPECT_EQ(channel_size(ch).created_height, 480) << ch;
    int w = 0, h = 0;
    EXPECT_NE(channel_picture(ch, &w, &h), nullptr) << ch;
    EXPECT_EQ(w, 640) << ch;
  }
  EXPECT_TRUE(synced(3));
  EXPECT_FALSE(synced(4));
  EXPECT_GE(psnr_bottom_up(channel_picture(3, nullptr, nullptr), synthetic_picture(640, 480, 0, 3),
                           640, 480),
            kGoodPsnr);
}

TEST_F(DecodePictures, DamagedBitStreams_FailWithoutTouchingThePicture) {
  const int w = 176, h = 144;
  auto pictures = encode_mpeg4(w, h, 3, 0, 10);
  start_channel(0, pictures[0]);
  std::vector<uint8_t> before(channel_picture(0, nullptr, nullptr),
                              channel_picture(0, nullptr, nullptr) + w * h * 3);
  std::vector<uint8_t> no_start(500, 0x47);
  std::vector<uint8_t> only_start = {0, 0, 1, 0xB6};
  std::vector<uint8_t> vop_cut(pictures[1].bits.begin(), pictures[1].bits.begin() + 5);
  struct Row {
    const char* name;
    std::vector<uint8_t> bits;
  } rows[] = {{"no start code", no_start},
              {"start code only", only_start},
              {"picture cut after 5 bytes", vop_cut}};
  for (const Row& r : rows) {
    EXPECT_EQ(decode_with_channel(0, r.bits.data(), r.bits.size()), kDecoreBadPicture) << r.name;
    EXPECT_EQ(0, std::memcmp(before.data(), channel_picture(0, nullptr, nullptr), before.size()))
        << r.name;
  }
  // Flipped bytes anywhere decode or fail, never more (the sanitizer build
  // checks every access).
  for (size_t at = 0; at < pictures[1].bits.size(); at += 7) {
    std::vector<uint8_t> bits = pictures[1].bits;
    bits[at] ^= 0xFF;
    int rc = decode_with_channel(0, bits.data(), bits.size());
    EXPECT_TRUE(rc == kDecoreOk || rc == kDecoreBadPicture) << "flip at " << at << " gave " << rc;
  }
}

TEST_F(DecodePictures, PictureBeforeAnySequenceHeader_IsRefusedWithItsMessage) {
  auto pictures = encode_mpeg4(176, 144, 2, 0, 10);
  // The predicted picture alone: no video object layer header has been seen.
  std::vector<uint8_t> packet = testing::make_video_packet(0, 0, pictures[1].bits);
  auto p = dlplayer::CurrentPacket{};
  std::memcpy(frame_buffer(), packet.data(), packet.size());
  p.channel = 0;
  p.packet_size = static_cast<uint32_t>(packet.size());
  p.loaded = p.packet_size;
  dlplayer::set_current_packet(p);
  EXPECT_EQ(dlplayer::decode_loaded_frame(), 0);
  ASSERT_EQ(messages_.texts.size(), 1u);
  EXPECT_EQ(
      messages_.texts[0],
      "To Developer:\nNo sequence header. You should put a picture\nwith sequence header at first");
  // decode_frame_buffer takes only packets with a sequence header.
  EXPECT_EQ(decode_frame_buffer(packet.data(), packet.size(), format::kForward), 0);
}

TEST_F(DecodePictures, LiveFrameToFile_WritesTheBitmapOfASequenceHeaderPacket) {
  testing::TempCwd cwd;
  auto pictures = encode_mpeg4(352, 240, 2, 1, 10);
  std::vector<uint8_t> key = testing::make_video_packet(1, 0, pictures[0].bits);
  std::vector<uint8_t> predicted = testing::make_video_packet(1, 3000, pictures[1].bits);
  EXPECT_EQ(decode_live_frame_to_file("key.bmp", key.data(), key.size()), 0);
  EXPECT_EQ(decode_live_frame_to_file("p.bmp", predicted.data(), predicted.size()), 0);
  std::vector<uint8_t> bmp = testing::read_file("key.bmp");
  ASSERT_EQ(bmp.size(), 54u + 352u * 232u * 3u);
  EXPECT_TRUE(testing::read_file("p.bmp").empty());
  // The bitmap holds the picture without its bottom 8 rows.
  auto source = synthetic_picture(352, 240, 0, 1);
  std::vector<uint8_t> top(source.begin(), source.begin() + 352 * 232 * 3);
  EXPECT_GE(psnr_bottom_up(&bmp[54], top, 352, 232), kGoodPsnr);
}

TEST_F(DecodePictures, LiveQueue_DecodesDuePicturesAndStopsAtTheFirstNotDue) {
  testing::TempCwd cwd;
  const int w = 176, h = 144;
  auto pictures = encode_mpeg4(w, h, 4, 6, 10);
  std::vector<uint8_t> key = testing::make_video_packet(6, 0, pictures[0].bits);
  QueuedPicture q[kQueuedPictures];
  q[0] = QueuedPicture{6, key.data(), key.size(), 1, 0};
  q[1] = QueuedPicture{6, pictures[1].bits.data(), pictures[1].bits.size(), 2, 33};
  q[2] = QueuedPicture{6, pictures[2].bits.data(), pictures[2].bits.size(), 2, 66};
  q[3] = QueuedPicture{6, pictures[3].bits.data(), pictures[3].bits.size(), 2, 100};
  EXPECT_EQ(decode_live_queue_to_file("q.bmp", q, kQueuedPictures, 70), 1);
  EXPECT_EQ(q[0].length, 0u);
  EXPECT_EQ(q[1].length, 0u);
  EXPECT_EQ(q[2].length, 0u);
  EXPECT_NE(q[3].length, 0u);  // not yet due
  EXPECT_EQ(testing::read_file("q.bmp").size(), 54u + w * (h - 8) * 3u);
  EXPECT_GE(
      psnr_bottom_up(channel_picture(6, nullptr, nullptr), synthetic_picture(w, h, 2, 6), w, h),
      kGoodPsnr);
  // The rest once it is due; then nothing is left to decode.
  EXPECT_EQ(decode_live_queue_to_file("q.bmp", q, kQueuedPictures, 100), 1);
  EXPECT_GE(
      psnr_bottom_up(channel_picture(6, nullptr, nullptr), synthetic_picture(w, h, 3, 6), w, h),
      kGoodPsnr);
  EXPECT_EQ(decode_live_queue_to_file("q.bmp", q, kQueuedPictures, 200), 0);
  // A packet without a sequence header that is not a predicted record ends the walk.
  std::vector<uint8_t> bad = testing::make_video_packet(6, 0, pictures[1].bits);
  QueuedPicture r[2] = {{6, bad.data(), bad.size(), 1, 0},
                        {6, pictures[1].bits.data(), pictures[1].bits.size(), 2, 0}};
  EXPECT_EQ(decode_live_queue_to_file("r.bmp", r, 2, 1000), 0);
  EXPECT_NE(r[1].length, 0u);
}

int backward() {
  return format::kBackward;
}

TEST_F(DecodePictures, PacketBehindOtherBytes_IsFoundForwardOnly_AndLiveDecodesFollowTheReader) {
  testing::TempCwd cwd;
  auto pictures = encode_mpeg4(176, 144, 1, 2, 10);
  std::vector<uint8_t> packet = {0x00, 0x11, 0x22};
  std::vector<uint8_t> key = testing::make_video_packet(2, 0, pictures[0].bits);
  packet.insert(packet.end(), key.begin(), key.end());
  int channel = -1;
  EXPECT_EQ(decode_frame_buffer(packet.data(), packet.size(), format::kBackward, &channel), 0);
  EXPECT_EQ(channel, -1);
  EXPECT_EQ(decode_frame_buffer(packet.data(), packet.size(), format::kForward, &channel), 1);
  EXPECT_EQ(channel, 2);
  // Without a reader the live decodes search forward; a reader that gives the
  // backward direction makes them require the packet at the first byte.
  set_direction_reader(backward);
  EXPECT_EQ(decode_live_frame_to_file("back.bmp", packet.data(), packet.size()), 0);
  QueuedPicture q[1] = {{2, packet.data(), packet.size(), 1, 0}};
  EXPECT_EQ(decode_live_queue_to_file("queue.bmp", q, 1, 0), 0);
  EXPECT_NE(q[0].length, 0u);
  set_direction_reader(nullptr);
  EXPECT_EQ(decode_live_frame_to_file("forward.bmp", packet.data(), packet.size()), 0);
  EXPECT_TRUE(testing::read_file("back.bmp").empty());
  EXPECT_TRUE(testing::read_file("queue.bmp").empty());
  EXPECT_EQ(testing::read_file("forward.bmp").size(), 54u + 176u * 136u * 3u);
}

TEST_F(DecodePictures, PostProcessingLevel_ChangesTheFilteredPicture) {
  const int w = 176, h = 144;
  auto pictures = encode_mpeg4(w, h, 1, 0, 10);
  std::vector<uint8_t> key = testing::make_video_packet(0, 0, pictures[0].bits);
  ASSERT_EQ(decode_frame_buffer(key.data(), key.size(), format::kForward), 1);
  std::vector<uint8_t> plain(channel_picture(0, nullptr, nullptr),
                             channel_picture(0, nullptr, nullptr) + w * h * 3);
  decore(kDecoreHandle, kDecorePostProcessing, reinterpret_cast<void*>(intptr_t{100}), nullptr);
  ASSERT_EQ(decode_frame_buffer(key.data(), key.size(), format::kForward), 1);
  std::vector<uint8_t> filtered(channel_picture(0, nullptr, nullptr),
                                channel_picture(0, nullptr, nullptr) + w * h * 3);
  decore(kDecoreHandle, kDecorePostProcessing, nullptr, nullptr);
  EXPECT_NE(plain, filtered);
  EXPECT_GE(psnr_bottom_up(filtered.data(), synthetic_picture(w, h, 0, 0), w, h), 25.0);
}

TEST(DecodeSetup, NotSetUp_LiveOperationRefuses) {
  std::vector<uint8_t> packet(64, 0);
  EXPECT_EQ(decode_live_frame_to_file("x.bmp", packet.data(), packet.size()), -1);
  QueuedPicture q[1];
  EXPECT_EQ(decode_live_queue_to_file("x.bmp", q, 1, 0), -1);
  EXPECT_EQ(frame_buffer(), nullptr);
}

TEST(DecodeSetup, FrameBufferAllocationFails_ShowsTheMessageAndSetsUpNothing) {
  Messages m;
  platform::set_message_handler(Messages::sink, &m);
  {
    platform::FaultScope faults;
    platform::fault_arm(platform::FaultKind::kAlloc, 1);
    EXPECT_NE(set_up(), 0);
  }
  platform::set_message_handler(nullptr, nullptr);
  ASSERT_EQ(m.texts.size(), 1u);
  EXPECT_EQ(m.texts[0], "error: GlobalAlloc");
  EXPECT_FALSE(setup_done());
  EXPECT_FALSE(adpcm_ready());
  // A later set-up works.
  EXPECT_EQ(set_up(), 0);
  EXPECT_TRUE(setup_done());
  tear_down();
}

}  // namespace
}  // namespace virazav::decoder
