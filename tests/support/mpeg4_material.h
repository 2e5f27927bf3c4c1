// MPEG-4 test material made with libavcodec's MPEG-4 encoder from synthetic
// pictures whose content is known, so decoded pictures can be compared with
// what was encoded.
#pragma once

#include <cstdint>
#include <vector>

namespace virazav::testing {

// A synthetic picture, 24-bit B, G, R, rows top-down: the upper half colour
// bars (their order rotated by the channel), the lower half horizontal stripes
// 16 rows high (rotated by the channel), and a 32 × 32 white block that moves
// 8 pixels a frame.
std::vector<uint8_t> synthetic_picture(int width, int height, int frame, int channel);

struct EncodedPicture {
  std::vector<uint8_t> bits;  // the elementary stream of one picture
  bool key = false;
};

// Encodes `frames` synthetic pictures of `channel` (no B-frames, a key frame
// every `gop` pictures, each key frame with its sequence header).
std::vector<EncodedPicture> encode_mpeg4(int width, int height, int frames, int channel, int gop);

// PSNR in dB of a decoded bottom-up picture (height rows of `width` pixels)
// against a top-down reference of the same size. Identical pictures give 99.
double psnr_bottom_up(const uint8_t* decoded, const std::vector<uint8_t>& reference, int width,
                      int height);
// The same reference shifted down by `shift` rows (rows above repeat row 0).
std::vector<uint8_t> shift_rows(const std::vector<uint8_t>& picture, int width, int height,
                                int shift);

}  // namespace virazav::testing
