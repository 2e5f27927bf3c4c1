// A 4 x 4 mosaic of the newest live pictures of the sixteen channels of a video set, made
// from the bitmaps the library writes (img/serv<set><ch>.jpg) and written as one bitmap.
#pragma once

#include <string>

namespace virazav::cli {

class Mosaic {
 public:
  explicit Mosaic(int set) : set_(set) {}
  // Reads the newest picture of every channel and writes the mosaic to `path`: channel 0
  // top left, channel 3 top right, channel 15 bottom right; a channel without a picture
  // stays black. The tiles have the size of the first picture found. Returns false when
  // no picture exists yet or the file cannot be written.
  bool write(const std::string& path) const;

 private:
  int set_;
};

}  // namespace virazav::cli
