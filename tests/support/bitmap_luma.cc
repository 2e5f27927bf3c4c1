#include "support/bitmap_luma.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/stream_builder.h"

namespace virazav::testing {

namespace {

constexpr size_t kHeaderBytes = 54;
constexpr int kRowsLeftOut = 8;

}  // namespace

bool bitmap_luma(const std::string& path, int width, int height, sim::Picture* out) {
  const std::vector<uint8_t> f = read_file(path);
  const int rows = height - kRowsLeftOut;
  if (rows <= 0 || f.size() != kHeaderBytes + static_cast<size_t>(width) * rows * 3) return false;
  out->width = width;
  out->height = height;
  out->y.assign(static_cast<size_t>(width) * height, 16);
  out->u.assign(static_cast<size_t>(width / 2) * (height / 2), 128);
  out->v = out->u;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* row = &f[kHeaderBytes + static_cast<size_t>(rows - 1 - r) * width * 3];
    for (int x = 0; x < width; ++x) {
      const double b = row[3 * x], g = row[3 * x + 1], rd = row[3 * x + 2];
      const double y = 16 + (65.481 * rd + 128.553 * g + 24.966 * b) / 255.0;
      out->y[static_cast<size_t>(r) * width + x] = static_cast<uint8_t>(std::lround(y));
    }
  }
  return true;
}

}  // namespace virazav::testing
