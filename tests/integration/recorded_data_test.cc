// A recording's way through the library end to end: downloaded from the simulated
// recorder, opened and indexed, searched by time, split into picture data and sound,
// and a picture decoded into a bitmap that shows what the recorder encoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/media.h"
#include "media/recording.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

// Seconds since 2000-01-01 counting every month as 31 days.
int packed_time(int year, int month, int day, int hour, int minute, int second) {
  return second +
         60 * (minute + 60 * (hour + 24 * (day - 1 + 31 * (month - 1 + 12 * (year - 2000)))));
}

struct Bitmap {
  int width = 0, height = 0;
  std::vector<uint8_t> bgr;  // rows top first
};

bool read_bitmap(const std::string& path, Bitmap* out) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return false;
  auto le32 = [&](size_t o) { return d[o] | d[o + 1] << 8 | d[o + 2] << 16 | d[o + 3] << 24; };
  const int offset = le32(10), width = le32(18), height = le32(22), bits = d[28] | d[29] << 8;
  if (bits != 24 || width <= 0 || height <= 0) return false;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  if (d.size() < offset + stride * height) return false;
  out->width = width;
  out->height = height;
  out->bgr.resize(static_cast<size_t>(width) * height * 3);
  for (int row = 0; row < height; ++row) {  // the file holds the bottom row first
    const uint8_t* src = d.data() + offset + stride * (height - 1 - row);
    std::copy(src, src + width * 3, out->bgr.begin() + static_cast<size_t>(row) * width * 3);
  }
  return true;
}

// The luma of a bitmap as a picture of the source's size, its rows placed from
// `first_row` on (the bitmap writer leaves 8 rows out), in the limited range the
// encoder's pictures use when `limited`.
sim::Picture luma_picture(const Bitmap& b, int height, int first_row, bool limited) {
  sim::Picture p;
  p.width = b.width;
  p.height = height;
  p.y.assign(static_cast<size_t>(b.width) * height, 0);
  p.u.assign(static_cast<size_t>(b.width / 2) * (height / 2), 128);
  p.v = p.u;
  for (int row = 0; row < b.height && row + first_row < height; ++row) {
    for (int x = 0; x < b.width; ++x) {
      const uint8_t* px = &b.bgr[(static_cast<size_t>(row) * b.width + x) * 3];
      double r = px[2], g = px[1], bl = px[0];
      double y = limited ? 16 + (65.481 * r + 128.553 * g + 24.966 * bl) / 255
                         : 0.299 * r + 0.587 * g + 0.114 * bl;
      p.y[static_cast<size_t>(row + first_row) * b.width + x] =
          static_cast<uint8_t>(std::lround(std::clamp(y, 0.0, 255.0)));
    }
  }
  return p;
}

// PSNR of the luma rows that the bitmap holds.
double rows_psnr(const sim::Picture& source, const sim::Picture& decoded, int first_row, int rows) {
  double sum = 0;
  size_t n = 0;
  for (int row = first_row; row < first_row + rows; ++row) {
    for (int x = 0; x < source.width; ++x) {
      double e = source.luma(x, row) - decoded.luma(x, row);
      sum += e * e;
      ++n;
    }
  }
  if (n == 0) return 0;
  double mse = sum / n;
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

class RecordedDataTest : public RecorderTest {
 protected:
  void SetUp() override {
    RecorderTest::SetUp();
    if (HasFatalFailure()) return;
    connect(0);
  }
  void TearDown() override {
    decode_deinit();
    RecorderTest::TearDown();
  }
};

TEST_F(RecordedDataTest, Download_ThenOpenIndexSearchSplitAndBitmap_ShowTheRecordedPictures) {
  TempCwd cwd;
  const sim::RecordingOptions& recorded = rec().recording().options();
  const int fps = recorded.video.fps;
  // Ten seconds from the start of the recording, all channels, with audio.
  ASSERT_EQ(kora_copy_fast(0, "rec.mpg", 0, 0, recorded.start.year % 100, recorded.start.month,
                           recorded.start.day, recorded.start.hour, recorded.start.minute,
                           recorded.start.second, 10, 1, 0, 0, 0),
            1);
  unsigned char count4[4];
  int rc = 1;
  for (int step = 0; step < 1000 && rc > 0; ++step) rc = kora_copy_next(0, "rec.mpg", count4, ".");
  ASSERT_EQ(rc, 0);
  ASSERT_TRUE(fs::exists(".index"));

  ASSERT_EQ(decode_init(), 0);
  const unsigned size = Mpeg4DLdata_fileopen("rec.mpg", ".", ".", 10);
  ASSERT_EQ(size, fs::file_size("rec.mpg"));
  unsigned video = 0, audio = 0;
  Mpeg4DLdata_get_enable_ch(&video, &audio, ".", 10);
  EXPECT_EQ(video, recorded.video_channels);

  // Before the recording: the first packet; inside: a later key frame; after: the last.
  const auto& s = recorded.start;
  const int before =
      Mpeg4DLdata_search(packed_time(s.year, s.month, s.day, s.hour, s.minute, 0) - 60, 0);
  const int inside =
      Mpeg4DLdata_search(packed_time(s.year, s.month, s.day, s.hour, s.minute, s.second + 5), 0);
  const int after =
      Mpeg4DLdata_search(packed_time(s.year, s.month, s.day, s.hour + 1, s.minute, 0), 0);
  EXPECT_EQ(before, 292);  // right behind the pack header and the stream map
  EXPECT_GT(inside, before);
  EXPECT_GT(after, inside);
  EXPECT_LT(static_cast<unsigned>(after), size);
  EXPECT_EQ(
      Mpeg4DLdata_search(packed_time(s.year, s.month, s.day, s.hour, s.minute, s.second + 5), 10),
      5);  // half way through ten seconds
  Mpeg4DLdata_fileclose();

  ASSERT_TRUE(fs::create_directory("parts"));
  EXPECT_GT(Mpeg4Play("rec.mpg", "parts", 0), 0);
  std::vector<int> ticks;
  for (const auto& e : fs::directory_iterator("parts")) {
    int ch = -1, tick = -1;
    if (std::sscanf(e.path().filename().string().c_str(), "%d_%d.dat", &ch, &tick) == 2 &&
        ch == 1) {
      ticks.push_back(tick);
    }
  }
  std::sort(ticks.begin(), ticks.end());
  ASSERT_EQ(ticks.size(), 10u);  // one key picture a second
  EXPECT_GT(fs::file_size("parts/wav0.wav"), 44u);

  // Channel 1's picture of second 3.
  const int tick = ticks[3];
  ASSERT_EQ(I2BMP("rec.mpg", "pic.bmp", "parts", 1, tick, tick + 1), tick);
  Bitmap bmp;
  ASSERT_TRUE(read_bitmap("pic.bmp", &bmp));
  const sim::Picture source = rec().recording().source_picture(1, 3 * fps);
  ASSERT_EQ(bmp.width, source.width);
  ASSERT_EQ(bmp.height, source.height - 8);

  double best = 0;
  sim::Picture best_picture;
  for (int first_row : {0, 8}) {
    for (bool limited : {false, true}) {
      sim::Picture p = luma_picture(bmp, source.height, first_row, limited);
      double psnr = rows_psnr(source, p, first_row, bmp.height);
      if (psnr > best) best = psnr, best_picture = p;
    }
  }
  EXPECT_GE(best, 30.0);
  EXPECT_EQ(sim::read_channel_number(best_picture), 1);
  EXPECT_EQ(sim::read_frame_counter(best_picture), 3 * fps);
  // Another channel's picture of the same moment does not pass for it.
  EXPECT_LT(rows_psnr(rec().recording().source_picture(0, 3 * fps), best_picture, 0, bmp.height),
            30.0);
}

}  // namespace
}  // namespace virazav::testing
