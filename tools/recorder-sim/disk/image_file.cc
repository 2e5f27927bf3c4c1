// Positional writes into the image file; the simulated recorder calls the operating system
// directly, as the rest of it does.

#include "disk/image_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace virazav::sim::diskimg {

namespace {

bool fail(std::string* error, const std::string& what, const std::string& path) {
  if (error != nullptr) *error = what + " " + path + ": " + std::strerror(errno);
  return false;
}

}  // namespace

ImageFile::~ImageFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ImageFile::open(const std::string& path, std::string* error) {
  if (fd_ >= 0) ::close(fd_);
  path_ = path;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return fail(error, "cannot create", path);
  return true;
}

bool ImageFile::write(uint64_t offset, const uint8_t* data, size_t size, std::string* error) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(error, "cannot write", path_);
    data += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool ImageFile::finish(uint64_t size, std::string* error) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return fail(error, "cannot size", path_);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return fail(error, "cannot close", path_);
  return true;
}

}  // namespace virazav::sim::diskimg
