// The core entry's options, records and result codes, the header probe and
// the bitmap writer's layout.
#include "decoder/decore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decoder/decoder.h"
#include "format/stream_format.h"
#include "support/mpeg4_material.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::decoder {
namespace {

// The video object start code within an encoded key frame.
size_t video_object_start(const std::vector<uint8_t>& bits) {
  for (size_t i = 0; i + 3 < bits.size(); ++i) {
    if (bits[i] == 0 && bits[i + 1] == 0 && bits[i + 2] == 1 && bits[i + 3] == 0) return i;
  }
  return bits.size();
}

TEST(Decore, HandleZeroAndUnknownOption_AreRefusedWith2) {
  int level = 0;
  EXPECT_EQ(decore(0, kDecorePostProcessing, nullptr, nullptr), kDecoreBadArgument);
  EXPECT_EQ(decore(kDecoreHandle, 0x1234, &level, nullptr), kDecoreBadArgument);
  EXPECT_EQ(decore(kDecoreHandle, kDecoreMemoryRequirements, nullptr, nullptr), kDecoreBadArgument);
  DecoderFrame frame;
  DecoderParam param;  // no instance in it
  EXPECT_EQ(decore(kDecoreHandle, kDecoreDecode, &frame, &param), kDecoreInvalidState);
}

TEST(Decore, PostProcessingLevels_SelectTheirFilterSets) {
  struct Row {
    int level, result, set;
  } rows[] = {{-1, 2, 0},  {0, 0, 0},   {1, 0, 1},   {9, 0, 1},    {10, 0, 3},
              {19, 0, 3},  {20, 0, 19}, {29, 0, 19}, {30, 0, 23},  {39, 0, 23},
              {40, 0, 31}, {49, 0, 31}, {50, 0, 63}, {100, 0, 63}, {101, 2, 0}};
  for (const Row& r : rows) {
    EXPECT_EQ(decore(kDecoreHandle, kDecorePostProcessing,
                     reinterpret_cast<void*>(intptr_t{r.level}), nullptr),
              r.result)
        << "level " << r.level;
    if (r.result == 0) {
      EXPECT_EQ(post_processing_level(), r.level);
      EXPECT_EQ(post_processing_filter_set(r.level), r.set) << "level " << r.level;
    }
  }
  decore(kDecoreHandle, kDecorePostProcessing, nullptr, nullptr);
}

TEST(Decore, PostProcessedPictures_StayCloseToTheSource) {
  ASSERT_EQ(set_up(), 0);
  const int w = 176, h = 144;
  auto pictures = testing::encode_mpeg4(w, h, 3, 4, 10);
  std::vector<uint8_t> key = testing::make_video_packet(4, 0, pictures[0].bits);
  for (int level : {5, 60}) {
    decore(kDecoreHandle, kDecorePostProcessing, reinterpret_cast<void*>(intptr_t{level}), nullptr);
    ASSERT_EQ(decode_frame_buffer(key.data(), key.size(), format::kForward), 1) << level;
    EXPECT_GE(testing::psnr_bottom_up(channel_picture(4, nullptr, nullptr),
                                      testing::synthetic_picture(w, h, 0, 4), w, h),
              28.0)
        << "level " << level;
  }
  decore(kDecoreHandle, kDecorePostProcessing, nullptr, nullptr);
  tear_down();
}

TEST(Decore, OutputFormat_OnlyTheRgb24LayoutIsAccepted) {
  DecoderParam p;
  p.output_format = kOutputRgb24;
  EXPECT_EQ(decore(kDecoreHandle, kDecoreOutputFormat, &p, nullptr), kDecoreOk);
  p.output_format = 3;
  EXPECT_EQ(decore(kDecoreHandle, kDecoreOutputFormat, &p, nullptr), kDecoreBadArgument);
}

TEST(HeaderProbe, EncodedLayerHeaders_GiveWidthTimes4096PlusHeight) {
  for (auto [w, h] : {std::pair{640, 480}, {352, 240}, {176, 144}, {704, 576}}) {
    auto pictures = testing::encode_mpeg4(w, h, 1, 0, 10);
    ASSERT_FALSE(pictures.empty());
    std::vector<uint8_t> bits = pictures[0].bits;
    size_t at = video_object_start(bits);
    ASSERT_LT(at, bits.size());
    bits.resize(at + kProbeBytes + 16);  // room for the probe's 256 bytes
    uint32_t packed = 0;
    EXPECT_EQ(decore(kDecoreHandle, kDecoreHeaderProbe, bits.data() + at, &packed), kDecoreOk)
        << w << "x" << h;
    EXPECT_EQ(packed, static_cast<uint32_t>(w * 4096 + h)) << w << "x" << h;
  }
}

TEST(HeaderProbe, DamagedOrMissingHeaders_Give3) {
  auto pictures = testing::encode_mpeg4(352, 240, 1, 0, 10);
  std::vector<uint8_t> bits = pictures[0].bits;
  size_t at = video_object_start(bits);
  size_t vol = at + 4;  // the layer start code follows the video object start
  ASSERT_EQ(bits[vol + 3] & 0xF0, 0x20);
  struct Row {
    const char* name;
    std::vector<uint8_t> data;
  } rows[] = {
      {"no layer start", std::vector<uint8_t>{0, 0, 1, 0, 0x12, 0x34, 0x56}},
      {"cut inside the layer header",
       std::vector<uint8_t>(bits.begin() + at, bits.begin() + vol + 7)},
      {"zeros", std::vector<uint8_t>(300, 0)},
  };
  for (const Row& r : rows) {
    uint32_t packed = 77;
    EXPECT_EQ(probe_video_object(r.data.data(), r.data.size(), &packed), kDecoreBadPicture)
        << r.name;
    EXPECT_EQ(packed, 77u) << r.name;
  }
  // A broken marker bit after the time increment resolution: clear every
  // bit of the header after the layer start in turn and require that the
  // probe either still finds a size or refuses, never reads beyond 256 bytes.
  for (size_t byte = vol + 4; byte < vol + 14 && byte < bits.size(); ++byte) {
    std::vector<uint8_t> d(bits.begin() + at, bits.end());
    d[byte - at] = 0;
    d.resize(std::min<size_t>(d.size(), 64));
    uint32_t packed = 0;
    int rc = probe_video_object(d.data(), d.size(), &packed);
    EXPECT_TRUE(rc == kDecoreOk || rc == kDecoreBadPicture);
  }
}

TEST(BitmapWriter, HeadersAndRows_AreLaidOutAsDocumented) {
  testing::TempCwd cwd;
  const int w = 4, h = 11;
  std::vector<uint8_t> picture(w * h * 3);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(write_frame_bmp("a.bmp", picture.data(), w, h), 0);
  std::vector<uint8_t> f = testing::read_file("a.bmp");
  const uint32_t image = w * 3 * 3;  // 3 rows left after dropping 8
  ASSERT_EQ(f.size(), 54 + image);
  const uint8_t want_head[54] = {'B',
                                 'M',
                                 static_cast<uint8_t>(54 + image),
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 54,
                                 0,
                                 0,
                                 0,  // file header
                                 40,
                                 0,
                                 0,
                                 0,
                                 4,
                                 0,
                                 0,
                                 0,
                                 3,
                                 0,
                                 0,
                                 0,
                                 1,
                                 0,
                                 24,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,  // info header
                                 static_cast<uint8_t>(image),
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0};
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 54),
            std::vector<uint8_t>(want_head, want_head + 54));
  // Pixels begin 8 rows (8 × width × 3 bytes) into the picture.
  EXPECT_EQ(f[54], static_cast<uint8_t>(w * 3 * 8));
  EXPECT_EQ(f.back(), static_cast<uint8_t>(w * h * 3 - 1));
  unsigned bw = 0, bh = 0;
  EXPECT_EQ(get_bmpsize("a.bmp", &bw, &bh), 0);
  EXPECT_EQ(bw, 4u);
  EXPECT_EQ(bh, 3u);
}

TEST(BitmapWriter, PicturesOf8RowsOrFewer_AreSkipped) {
  testing::TempCwd cwd;
  std::vector<uint8_t> picture(16 * 9 * 3, 1);
  struct Row {
    int w, h;
  } rows[] = {{16, 8}, {16, 0}, {0, 9}, {-1, 9}};
  for (const Row& r : rows) {
    EXPECT_EQ(write_frame_bmp("s.bmp", picture.data(), r.w, r.h), -1) << r.w << "x" << r.h;
    EXPECT_TRUE(testing::read_file("s.bmp").empty()) << r.w << "x" << r.h;
  }
  unsigned bw = 0, bh = 0;
  EXPECT_EQ(get_bmpsize("s.bmp", &bw, &bh), -1);
  EXPECT_EQ(get_bmpsize(nullptr, &bw, &bh), -1);
}

}  // namespace
}  // namespace virazav::decoder
