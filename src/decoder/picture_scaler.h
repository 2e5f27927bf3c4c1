// Scaling of 24-bit BGR pictures with the decoder's colour converter, for the
// player's composite: a picture of one size drawn into a region of another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace virazav::decoder {

class PictureScaler {
 public:
  PictureScaler();
  ~PictureScaler();
  PictureScaler(const PictureScaler&) = delete;
  PictureScaler& operator=(const PictureScaler&) = delete;

  // Scales the src_width x src_height picture at `src` (rows of src_stride
  // bytes, 3 bytes a pixel) to dst_width x dst_height at `dst` (rows of
  // dst_stride bytes). Rows keep their order, so a bottom-up picture stays
  // bottom-up. Returns false (dst untouched) for a size that is not positive,
  // strides too short for their widths, or when the scaler cannot be made.
  // Not thread-safe: one caller at a time.
  bool scale(const uint8_t* src, int src_width, int src_height, size_t src_stride, uint8_t* dst,
             int dst_width, int dst_height, size_t dst_stride);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace virazav::decoder
