// The ADPCM decoder against a reference IMA ADPCM decoding written here from
// the standard step and index tables.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decoder/decoder.h"
#include "format/bytes.h"
#include "format/stream_format.h"
#include "support/stream_builder.h"

namespace virazav::decoder {
namespace {

// The standard IMA ADPCM tables, written out independently of the library.
const int kRefSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kRefIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// Reference decoding of ADPCM bytes (low nibble first), exact integer
// difference ((c & 7) * 2 + 1) * step / 8.
std::vector<int16_t> reference_decode(const std::vector<uint8_t>& codes, int predictor, int index) {
  std::vector<int16_t> out;
  for (uint8_t b : codes) {
    for (int c : {b & 0x0F, b >> 4}) {
      int step = kRefSteps[index];
      index = std::min(88, std::max(0, index + kRefIndex[c & 7]));
      int diff = ((c & 7) * 2 + 1) * step / 8;
      predictor = (c & 8) ? predictor - diff : predictor + diff;
      predictor = std::min(32767, std::max(-32768, predictor));
      out.push_back(static_cast<int16_t>(predictor));
    }
  }
  return out;
}

class AdpcmTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(adpcm_init(kAdpcmMono, kAdpcmDataBytes), 1); }
  void TearDown() override { adpcm_release(); }
};

TEST(AdpcmNibble, SingleCodes_FollowTheExactArithmetic) {
  struct Row {
    int code, predictor, index, want_sample, want_index;
  } rows[] = {
      {0, 0, 0, 0, 0},   // 7 / 8 = 0
      {7, 0, 0, 13, 8},  // 15 * 7 / 8 = 13
      {8, 0, 0, 0, 0},   // minus 0
      {15, 0, 0, -13, 8},
      {4, 100, 10, 100 + 9 * 19 / 8, 12},
      {7, 32760, 88, 32767, 88},  // clamped high, index stays at 88
      {15, -32760, 88, -32768, 88},
      {1, 0, 0, 2, 0},  // 3 * 7 / 8 = 2, index -1 clamped to 0
  };
  for (const Row& r : rows) {
    AdpcmState s{r.index, r.predictor};
    int16_t got = adpcm_decode_nibble(r.code, &s);
    EXPECT_EQ(got, r.want_sample) << "code " << r.code << " from " << r.predictor << "/" << r.index;
    EXPECT_EQ(s.index, r.want_index)
        << "code " << r.code << " from " << r.predictor << "/" << r.index;
  }
}

TEST_F(AdpcmTest, Packets_MatchReferenceSampleForSample_WhateverTheirSize) {
  std::mt19937 rng(7);
  struct Row {
    const char* name;
    size_t adpcm_bytes;
    int predictor;
    int index;
  } rows[] = {{"standard", 2048, 0, 0},
              {"start state", 2048, -1234, 40},
              {"longer packet", 3000, 500, 88},
              {"short packet", 100, 10, 5}};
  for (const Row& r : rows) {
    std::vector<uint8_t> codes(r.adpcm_bytes);
    for (uint8_t& b : codes) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> packet = testing::make_audio_packet(
        2, 9000, codes, static_cast<int16_t>(r.predictor), static_cast<uint8_t>(r.index));
    packet.resize(std::max<size_t>(packet.size(), kPcmPacketBytes));
    ASSERT_EQ(adpcm_decode_packet(packet.data(), packet.size(), 0), 8192) << r.name;
    // Codes a short packet lacks decode as zeros.
    std::vector<uint8_t> used(codes.begin(), codes.begin() + std::min<size_t>(codes.size(), 2048));
    used.resize(2048, 0);
    std::vector<int16_t> want = reference_decode(used, r.predictor, r.index);
    ASSERT_EQ(want.size(), 4096u);
    for (size_t i = 0; i < want.size(); ++i) {
      int16_t got = static_cast<int16_t>(format::load_le16(&packet[2 * i]));
      ASSERT_EQ(got, want[i]) << r.name << " sample " << i;
    }
  }
}

TEST_F(AdpcmTest, RefusedInputs_ReturnZeroAndLeaveThePacket) {
  std::vector<uint8_t> audio = testing::make_audio_packet(0, 0, std::vector<uint8_t>(2048, 0x77));
  audio.resize(kPcmPacketBytes);
  std::vector<uint8_t> video = testing::make_video_packet(0, 0, std::vector<uint8_t>(100, 1));
  video.resize(kPcmPacketBytes);
  std::vector<uint8_t> junk(kPcmPacketBytes, 0x5A);
  struct Row {
    const char* name;
    std::vector<uint8_t> packet;
    size_t room;
    int index;
  } rows[] = {{"room below 8192", audio, kPcmPacketBytes - 1, 0},
              {"buffer index 2", audio, kPcmPacketBytes, 2},
              {"buffer index -1", audio, kPcmPacketBytes, -1},
              {"video packet", video, kPcmPacketBytes, 0},
              {"no packet", junk, kPcmPacketBytes, 0}};
  for (Row& r : rows) {
    std::vector<uint8_t> before = r.packet;
    EXPECT_EQ(adpcm_decode_packet(r.packet.data(), r.room, r.index), 0) << r.name;
    EXPECT_EQ(r.packet, before) << r.name;
  }
}

TEST(AdpcmLifecycle, InitTwiceIsReady_ReleasedBuffersRefuseDecoding) {
  ASSERT_EQ(adpcm_init(kAdpcmMono, kAdpcmDataBytes), 1);
  EXPECT_EQ(adpcm_init(kAdpcmMono, kAdpcmDataBytes), 1);
  adpcm_release();
  EXPECT_FALSE(adpcm_ready());
  std::vector<uint8_t> audio = testing::make_audio_packet(0, 0, std::vector<uint8_t>(2048, 1));
  audio.resize(kPcmPacketBytes);
  EXPECT_EQ(adpcm_decode_packet(audio.data(), audio.size(), 1), 0);
}

}  // namespace
}  // namespace virazav::decoder
