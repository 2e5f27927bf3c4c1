// The live pictures and registers as an application reads them: kora_udp_rx on
// a ready slot and on the display channel's group (due times, retries), and the
// time, status and PTZ queries. Blocks are filed by an Assembler directly; the
// pictures are real MPEG-4 pictures compared with their sources by PSNR.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "live/assembly.h"
#include "live/block_builder.h"
#include "live/live_state.h"
#include "platform/platform.h"
#include "support/mpeg4_material.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::live {
namespace {

using testing::Bytes;

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr double kGoodPsnr = 30.0;

// PSNR of a bitmap written by kora_udp_rx (the bottom 8 rows left out)
// against frame `frame` of `channel`'s synthetic pictures.
double bitmap_psnr(const std::string& path, int frame, int channel) {
  Bytes bmp = testing::read_file(path);
  const size_t rows = kHeight - 8;
  if (bmp.size() != 54 + kWidth * rows * 3) return 0;
  auto source = testing::synthetic_picture(kWidth, kHeight, frame, channel);
  Bytes top(source.begin(), source.begin() + static_cast<long>(kWidth * rows * 3));
  return testing::psnr_bottom_up(&bmp[54], top, kWidth, static_cast<int>(rows));
}

class Pictures : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir("img", 0755);
    ASSERT_EQ(detail::allocate_buffers(), 0);
    detail::state().display_channel.store(0);
    if (with_decoder_) {
      ASSERT_EQ(decode_init(), 0);
    }
  }
  void TearDown() override {
    if (with_decoder_) decode_deinit();
    detail::free_buffers();
    detail::state().display_channel.store(0);
  }

  // Files a set-0 block of `channel` carrying pictures first..first+count-1
  // of a group that starts at `first` (a key picture), 100 ms apart.
  void file_group(int channel, int count, uint8_t number, int corrupt = -1) {
    auto pictures = testing::encode_mpeg4(kWidth, kHeight, count, channel, count);
    std::vector<Bytes> packets;
    for (int k = 0; k < count; ++k) {
      Bytes bits = pictures[k].bits;
      if (k == corrupt) bits.assign(bits.size(), 0xFF);
      packets.push_back(testing::make_video_packet(channel, 90000 + 9000u * k, bits));
    }
    testing::VideoHeader h;
    h.channel = channel;
    for (const Bytes& d : testing::fragments(testing::video_block(h, packets), number, 0, 8192)) {
      assembler_.take(d.data(), d.size());
    }
  }
  std::string path(int set, int channel) {
    char p[32];
    std::snprintf(p, sizeof p, "img/serv%d%02d.jpg", set, channel);
    return p;
  }
  detail::GroupRecord* group() { return detail::state().sets[0].group; }
  void shown_ms_ago(int ms) {
    detail::state().sets[0].display_start_ms.store(platform::tick_ms() - static_cast<uint32_t>(ms));
  }

  testing::TempCwd cwd_;
  detail::Assembler assembler_{0};
  bool with_decoder_ = true;
};

TEST_F(Pictures, ReadySlot_WritesItsFirstPictureOnce) {
  file_group(3, 2, 1);
  EXPECT_EQ(kora_udp_rx(3, 0), 1);
  EXPECT_GE(bitmap_psnr(path(0, 3), 0, 3), kGoodPsnr);
  std::remove(path(0, 3).c_str());
  // Taken: the slot is empty and the channel is not the display channel.
  EXPECT_EQ(kora_udp_rx(3, 0), 0);
  EXPECT_TRUE(testing::read_file(path(0, 3)).empty());
}

TEST_F(Pictures, EmptySlotOrChannelOutOfRange_ReturnsZeroAndWritesNothing) {
  EXPECT_EQ(kora_udp_rx(4, 0), 0);
  EXPECT_EQ(kora_udp_rx(-1, 0), 0);
  EXPECT_EQ(kora_udp_rx(16, 1), 0);
  EXPECT_TRUE(testing::read_file(path(0, 4)).empty());
}

TEST_F(Pictures, AnySetOtherThanZero_IsSetOne_ButTheFileKeepsTheNumberGiven) {
  auto pictures = testing::encode_mpeg4(kWidth, kHeight, 1, 2, 1);
  testing::VideoHeader h;
  h.type = 1;
  h.channel = 2;
  Bytes block = testing::video_block(h, {testing::make_video_packet(2, 0, pictures[0].bits)});
  for (const Bytes& d : testing::fragments(block, 1, 0, 8192)) assembler_.take(d.data(), d.size());
  EXPECT_EQ(kora_udp_rx(2, 0), 0);
  EXPECT_EQ(kora_udp_rx(2, 7), 1);
  EXPECT_GE(bitmap_psnr("img/serv702.jpg", 0, 2), kGoodPsnr);
}

TEST_F(Pictures, DisplayChannel_PlaysItsGroupAtThePaceOfItsTimeStamps) {
  detail::state().display_channel.store(5 + 1);
  file_group(5, 5, 1);
  // The ready block: its first picture, and record 0 counts as shown.
  EXPECT_EQ(kora_udp_rx(5, 0), 1);
  EXPECT_GE(bitmap_psnr(path(0, 5), 0, 5), kGoodPsnr);
  EXPECT_EQ(group()[0].length, 0u);
  // Nothing is due yet: record 1 is due at 100 ms.
  shown_ms_ago(50);
  EXPECT_EQ(kora_udp_rx(5, 0), 0);
  // 250 ms after the first picture records 1 and 2 are due; the file shows 2.
  shown_ms_ago(250);
  EXPECT_EQ(kora_udp_rx(5, 0), 1);
  EXPECT_GE(bitmap_psnr(path(0, 5), 2, 5), kGoodPsnr);
  EXPECT_EQ(group()[1].length, 0u);
  EXPECT_EQ(group()[2].length, 0u);
  EXPECT_NE(group()[3].length, 0u);
  EXPECT_EQ(kora_udp_rx(5, 0), 0);
  shown_ms_ago(1000);
  EXPECT_EQ(kora_udp_rx(5, 0), 1);
  EXPECT_GE(bitmap_psnr(path(0, 5), 4, 5), kGoodPsnr);
  EXPECT_EQ(kora_udp_rx(5, 0), 0);
}

TEST_F(Pictures, GroupRecordThatFailsToDecode_KeepsItsLengthAndIsTriedAgain) {
  detail::state().display_channel.store(1);
  file_group(0, 4, 1, /*corrupt=*/2);
  ASSERT_EQ(kora_udp_rx(0, 0), 1);
  shown_ms_ago(400);
  kora_udp_rx(0, 0);
  EXPECT_EQ(group()[1].length, 0u);
  EXPECT_NE(group()[2].length, 0u);
  const uint32_t kept = group()[2].length;
  kora_udp_rx(0, 0);
  EXPECT_EQ(group()[2].length, kept);
  EXPECT_EQ(group()[1].length, 0u);
}

TEST_F(Pictures, NoGroupOrAnotherChannelsGroup_ShowsNothing) {
  detail::state().display_channel.store(1);
  file_group(0, 3, 1);
  ASSERT_EQ(kora_udp_rx(0, 0), 1);
  shown_ms_ago(1000);
  group()[0].length = detail::kNoGroup;
  EXPECT_EQ(kora_udp_rx(0, 0), 0);
  group()[0].length = 0;
  detail::state().display_channel.store(2);  // the group is channel 0's
  EXPECT_EQ(kora_udp_rx(1, 0), 0);
}

class PicturesWithoutDecoder : public Pictures {
 protected:
  PicturesWithoutDecoder() { with_decoder_ = false; }
};

TEST_F(PicturesWithoutDecoder, ReadyBlock_IsConsumedWithoutAFile) {
  decode_deinit();
  file_group(1, 1, 1);
  EXPECT_EQ(kora_udp_rx(1, 0), 1);
  EXPECT_EQ(kora_udp_rx(1, 0), 0);
  EXPECT_TRUE(testing::read_file(path(0, 1)).empty());
}

// ---- Registers ------------------------------------------------------------------------

class Registers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(detail::allocate_buffers(), 0); }
  void TearDown() override { detail::free_buffers(); }
  void file(int type, int channel, uint8_t status, uint16_t word, uint8_t p1, uint8_t p2,
            uint8_t p3, uint32_t time_value = 0, uint16_t time_word = 0) {
    testing::VideoHeader h;
    h.type = type;
    h.channel = channel;
    h.status_byte = status;
    h.status_word = word;
    h.ptz[0] = p1, h.ptz[1] = p2, h.ptz[2] = p3;
    h.time_value = time_value;
    h.time_word = time_word;
    Bytes block = testing::video_block(h, {testing::make_video_packet(channel, 0, Bytes(64, 0))});
    for (const Bytes& d : testing::fragments(block, number_++, 0, 8192)) {
      assembler_.take(d.data(), d.size());
    }
  }
  detail::Assembler assembler_{1};
  uint8_t number_ = 1;
};

TEST_F(Registers, RxStatus_ReportsTheSetsLastBlockAndTheNoAudioMarks) {
  file(0, 6, 0x05, 0x1234, 10, 20, 30);
  file(1, 2, 0x07, 0x4321, 1, 2, 3);
  detail::state().no_audio[0].store(1);
  uint8_t status = 0, channel = 0;
  uint16_t word = 0, p1 = 0, p2 = 0, p3 = 0;
  kora_udp_rxstatus(0, &status, &channel, &word, &p1, &p2, &p3);
  EXPECT_EQ(status, 0x05 | 0x10);
  EXPECT_EQ(channel, 2);  // the last video block of any set
  EXPECT_EQ(word, 0x1234);
  EXPECT_EQ(p1, 0);  // channel 2 never had a set-0 block
  uint16_t untouched = 0xAAAA;
  kora_udp_rxstatus(1, &status, &channel, &word, &untouched, &untouched, &untouched);
  EXPECT_EQ(status, 0x07 | 0x10);
  EXPECT_EQ(word, 0x4321);
  EXPECT_EQ(untouched, 0xAAAA);
  detail::state().no_audio[1].store(1);
  kora_udp_rxstatus(1, &status, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(status, 0x07 | 0x30);
}

TEST_F(Registers, RxStatusMinusOne_ClearsTheMarksAndWritesNothing) {
  detail::state().no_audio[0].store(1);
  detail::state().no_audio[1].store(1);
  uint8_t status = 0x99, channel = 0x98;
  uint16_t word = 0x9797;
  kora_udp_rxstatus(-1, &status, &channel, &word, &word, &word, &word);
  EXPECT_EQ(status, 0x99);
  EXPECT_EQ(channel, 0x98);
  EXPECT_EQ(word, 0x9797);
  file(0, 0, 0x01, 0, 0, 0, 0);
  kora_udp_rxstatus(0, &status, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(status, 0x01);
}

TEST_F(Registers, PtzStatus_ClearsTheThirdValueUntilTheNextBlock) {
  file(0, 9, 0, 0, 11, 12, 13);
  uint16_t a = 0, b = 0, c = 0;
  kora_udp_ptzstatus(9, &a, &b, &c);
  EXPECT_EQ(a, 11);
  EXPECT_EQ(b, 12);
  EXPECT_EQ(c, 13);
  kora_udp_ptzstatus(9, &a, &b, &c);
  EXPECT_EQ(a, 11);
  EXPECT_EQ(c, 0);
  file(0, 9, 0, 0, 11, 12, 14);
  kora_udp_ptzstatus(9, &a, &b, &c);
  EXPECT_EQ(c, 14);
  // Channels outside 0..15 write nothing.
  a = 0x5555;
  kora_udp_ptzstatus(16, &a, &b, &c);
  kora_udp_ptzstatus(-1, &a, nullptr, nullptr);
  EXPECT_EQ(a, 0x5555);
}

TEST_F(Registers, RxTime_GivesTheTimeValueAndWordOfTheSetsLastBlock) {
  file(0, 1, 0, 0, 0, 0, 0, 0xA1B2C3D4, 0xE5F6);
  file(1, 1, 0, 0, 0, 0, 0, 0x01020304, 0x0506);
  uint8_t t[6] = {};
  kora_udp_rxtime(0, t);
  const uint8_t want0[6] = {0xD4, 0xC3, 0xB2, 0xA1, 0xF6, 0xE5};
  EXPECT_EQ(std::memcmp(t, want0, 6), 0);
  kora_udp_rxtime(3, t);
  const uint8_t want1[6] = {0x04, 0x03, 0x02, 0x01, 0x06, 0x05};
  EXPECT_EQ(std::memcmp(t, want1, 6), 0);
  kora_udp_rxtime(0, nullptr);
}

}  // namespace
}  // namespace virazav::live
