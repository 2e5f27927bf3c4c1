// A 4 x 4 mosaic of the newest pictures of sixteen channels, made from the bitmaps
// the library writes (the live pictures img/serv<set><ch>.jpg, or the pictures of a
// playing data set <folder>/<ch>.bmp) and written as one bitmap.
#pragma once

#include <array>
#include <string>

namespace virazav::cli {

class Mosaic {
 public:
  // The newest live pictures of a video set: img/serv<set><ch>.jpg below the current
  // folder (24-bit bitmaps despite the name).
  static Mosaic live(int set);
  // The pictures a playing data set writes: <folder>/<ch>.bmp of the channels in `mask`
  // (bit n: channel n); the others stay black, whatever files the folder holds.
  static Mosaic channels(const std::string& folder, unsigned mask);

  // Reads the newest picture of every channel and writes the mosaic to `path`: channel 0
  // top left, channel 3 top right, channel 15 bottom right; a channel without a picture
  // stays black. The tiles have the size of the first picture found. Returns false when
  // no picture exists yet or the file cannot be written.
  bool write(const std::string& path) const;

 private:
  std::array<std::string, 16> tiles_;  // the picture file of each channel
};

}  // namespace virazav::cli
