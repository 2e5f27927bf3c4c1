// The disk image file: written at sector offsets only where there is data, so that the
// holes in between stay sparse and an image of many gigabytes takes megabytes on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace virazav::sim::diskimg {

class ImageFile {
 public:
  ImageFile() = default;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile();

  // Creates or truncates the file. Returns false with a message on failure.
  bool open(const std::string& path, std::string* error);
  // Writes `size` bytes at byte `offset`. Returns false with a message on failure.
  bool write(uint64_t offset, const uint8_t* data, size_t size, std::string* error);
  bool write_sectors(uint64_t sector, const std::vector<uint8_t>& bytes, std::string* error) {
    return write(sector * 512, bytes.data(), bytes.size(), error);
  }
  // Sets the file's size to `size` bytes and closes it. Returns false on failure.
  bool finish(uint64_t size, std::string* error);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace virazav::sim::diskimg
