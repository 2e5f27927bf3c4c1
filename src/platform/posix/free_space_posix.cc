// The services a copy to removable media needs beyond plain files: the free space
// of the target folder's file system, files opened for update in place, and
// moving a file's position back to its start.
#include "platform/posix/free_space_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>

namespace virazav::platform {
namespace posix {

int real_free_space_kib(const std::string& dir, uint64_t* kib) {
  struct statvfs st {};
  int r;
  do r = ::statvfs(dir.c_str(), &st);
  while (r != 0 && errno == EINTR);
  if (r != 0) return -1;
  // f_bavail is what an unprivileged writer may still use; the blocks are
  // counted in units of f_frsize (f_bsize is only the preferred I/O size).
  uint64_t unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
  *kib = static_cast<uint64_t>(st.f_bavail) * unit / 1024;
  return 0;
}

FileHandle open_update_stream(const std::string& path) {
  int fd;
  do fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  FILE* f = ::fdopen(fd, "r+b");
  if (f == nullptr) {
    ::close(fd);
    return nullptr;
  }
  return f;
}

}  // namespace posix

int file_rewind(FileHandle f) {
  if (f == nullptr) return -1;
  return std::fseek(static_cast<FILE*>(f), 0, SEEK_SET) == 0 ? 0 : -1;
}

}  // namespace virazav::platform
