// The recorder's synthetic cameras and microphones: pictures whose every pixel follows from
// the channel and frame number, with both numbers drawn in large digits, and pure tones.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "media/media.h"

namespace virazav::sim {

namespace {

// One colour in the encoder's YUV (video range).
struct Yuv {
  uint8_t y, u, v;
};

// 75 % colour bars: white, yellow, cyan, green, magenta, red, blue, black.
constexpr Yuv kBars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                          {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};
constexpr Yuv kWhite = {235, 128, 128};
constexpr Yuv kBlack = {16, 128, 128};
constexpr int kLumaThreshold = 126;  // halfway between the digits' black and white

// A 3 × 5 dot font for the digits 0..9, one row a value, bit 2 the left dot.
constexpr uint8_t kFont[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

constexpr int kChannelDigits = 2;
constexpr int kBoxPad = 4;       // box border around the digit cells
constexpr int kMarkerSize = 16;  // the moving square
constexpr int kMarkerStep = 8;   // pixels the square moves per frame

class Canvas {
 public:
  explicit Canvas(Picture* p) : p_(p) {}

  void fill(int x0, int y0, int x1, int y1, Yuv c) {
    x0 = std::clamp(x0, 0, p_->width);
    x1 = std::clamp(x1, 0, p_->width);
    y0 = std::clamp(y0, 0, p_->height);
    y1 = std::clamp(y1, 0, p_->height);
    for (int row = y0; row < y1; ++row) {
      std::fill_n(&p_->y[static_cast<size_t>(row) * p_->width + x0], std::max(0, x1 - x0), c.y);
    }
    // Chroma samples whose 2 × 2 luma square starts inside the rectangle.
    const int cw = p_->width / 2;
    for (int row = (y0 + 1) / 2; row < (y1 + 1) / 2; ++row) {
      for (int col = (x0 + 1) / 2; col < (x1 + 1) / 2; ++col) {
        p_->u[static_cast<size_t>(row) * cw + col] = c.u;
        p_->v[static_cast<size_t>(row) * cw + col] = c.v;
      }
    }
  }

  // Draws `count` digits of `value` (leading zeros shown) with the top left cell at (x, y).
  void digits(int x, int y, int64_t value, int count, Yuv ink) {
    for (int i = count - 1; i >= 0; --i) {
      int d = static_cast<int>(value % 10);
      value /= 10;
      int cx = x + i * (kDigitWidth + kDigitGap);
      for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 3; ++c) {
          if ((kFont[d][r] >> (2 - c)) & 1) {
            fill(cx + c * kDigitScale, y + r * kDigitScale, cx + (c + 1) * kDigitScale,
                 y + (r + 1) * kDigitScale, ink);
          }
        }
      }
    }
  }

 private:
  Picture* p_;
};

int digits_width(int count) {
  return count * kDigitWidth + (count - 1) * kDigitGap;
}

int counter_top(int height) {
  return height - kDigitMargin - kDigitHeight;
}

// Reads `count` digit cells from (x, y), the ink light (or dark) on the opposite ground;
// -1 when a cell is no digit of the font.
int64_t read_digits(const Picture& p, int x, int y, int count, bool dark_ink) {
  if (x < 0 || y < 0 || x + digits_width(count) > p.width || y + kDigitHeight > p.height) {
    return -1;
  }
  int64_t value = 0;
  for (int i = 0; i < count; ++i) {
    int cx = x + i * (kDigitWidth + kDigitGap);
    uint8_t rows[5];
    for (int r = 0; r < 5; ++r) {
      rows[r] = 0;
      for (int c = 0; c < 3; ++c) {
        int px = cx + c * kDigitScale + kDigitScale / 2;
        int py = y + r * kDigitScale + kDigitScale / 2;
        bool ink = (p.luma(px, py) > kLumaThreshold) != dark_ink;
        rows[r] = static_cast<uint8_t>((rows[r] << 1) | ink);
      }
    }
    int found = -1;
    for (int d = 0; d < 10; ++d) {
      if (std::equal(rows, rows + 5, kFont[d])) found = d;
    }
    if (found < 0) return -1;
    value = value * 10 + found;
  }
  return value;
}

}  // namespace

SyntheticChannel::SyntheticChannel(int channel, int width, int height)
    : channel_(channel), width_(width & ~1), height_(height & ~1) {}

Picture SyntheticChannel::source_picture(int64_t frame) const {
  Picture p;
  p.width = width_;
  p.height = height_;
  p.y.assign(static_cast<size_t>(width_) * height_, 0);
  p.u.assign(static_cast<size_t>(width_ / 2) * (height_ / 2), 128);
  p.v.assign(p.u.size(), 128);
  Canvas canvas(&p);

  // Channels 0..7 rotate the bar order by their number; 8..15 also run it backwards.
  const int rotation = channel_ & 7;
  const bool reversed = (channel_ & 8) != 0;
  for (int i = 0; i < 8; ++i) {
    int colour = (i + rotation) & 7;
    if (reversed) colour = 7 - colour;
    canvas.fill(i * width_ / 8, 0, (i + 1) * width_ / 8, height_, kBars[colour]);
  }

  // The channel number, dark on a white box in the top left corner.
  canvas.fill(kDigitMargin - kBoxPad, kDigitMargin - kBoxPad,
              kDigitMargin + digits_width(kChannelDigits) + kBoxPad,
              kDigitMargin + kDigitHeight + kBoxPad, kWhite);
  canvas.digits(kDigitMargin, kDigitMargin, channel_, kChannelDigits, kBlack);

  // The moving square across the middle.
  const int travel = std::max(1, width_ - kMarkerSize);
  const int mx = static_cast<int>((frame * kMarkerStep) % travel);
  const int my = height_ / 2 - kMarkerSize / 2;
  canvas.fill(mx, my, mx + kMarkerSize, my + kMarkerSize, kWhite);

  // The frame counter, white on a black box at the bottom.
  const int top = counter_top(height_);
  canvas.fill(kDigitMargin - kBoxPad, top - kBoxPad,
              kDigitMargin + digits_width(kCounterDigits) + kBoxPad, top + kDigitHeight + kBoxPad,
              kBlack);
  int64_t shown = frame % 1000000;
  canvas.digits(kDigitMargin, top, shown < 0 ? -shown : shown, kCounterDigits, kWhite);
  return p;
}

int64_t read_frame_counter(const Picture& picture) {
  return read_digits(picture, kDigitMargin, counter_top(picture.height), kCounterDigits, false);
}

int read_channel_number(const Picture& picture) {
  return static_cast<int>(read_digits(picture, kDigitMargin, kDigitMargin, kChannelDigits, true));
}

double tone_frequency(int audio_channel) {
  return 500.0 + 250.0 * audio_channel;
}

std::vector<int16_t> tone_samples(int audio_channel, int64_t first, int count) {
  std::vector<int16_t> out(static_cast<size_t>(std::max(count, 0)));
  const double w = 2.0 * std::numbers::pi * tone_frequency(audio_channel) / kAudioRate;
  for (size_t i = 0; i < out.size(); ++i) {
    // The phase is reduced per whole period of the sample clock so that long recordings
    // keep full precision.
    int64_t n = (first + static_cast<int64_t>(i)) % kAudioRate;
    out[i] =
        static_cast<int16_t>(std::lround(kToneAmplitude * std::sin(w * static_cast<double>(n))));
  }
  return out;
}

}  // namespace virazav::sim
