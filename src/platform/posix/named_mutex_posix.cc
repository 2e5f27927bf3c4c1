// Named locks shared across processes: an flock on a file named after the lock
// in the runtime folder, behind an in-process mutex (flock alone would not order
// the threads of one process that share a descriptor).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace virazav::platform {
namespace {

struct NamedMutexImpl {
  std::mutex in_process;
  int fd = -1;
};

std::string lock_path(const std::string& name) {
  std::string dir;
  if (!get_env("XDG_RUNTIME_DIR", &dir) || dir.empty()) dir = "/tmp";
  return join_path(dir, "virazav-" + name + ".lock");
}

}  // namespace

NamedMutex::NamedMutex(const char* name) : name_(name ? name : ""), impl_(new NamedMutexImpl) {
  auto* impl = static_cast<NamedMutexImpl*>(impl_);
  impl->fd = ::open(lock_path(name_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

NamedMutex::~NamedMutex() {
  auto* impl = static_cast<NamedMutexImpl*>(impl_);
  if (impl->fd >= 0) ::close(impl->fd);
  delete impl;
}

void NamedMutex::lock() {
  auto* impl = static_cast<NamedMutexImpl*>(impl_);
  impl->in_process.lock();
  // Without a lock file (read-only /tmp) the lock still orders this process.
  if (impl->fd >= 0) {
    while (::flock(impl->fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

void NamedMutex::unlock() {
  auto* impl = static_cast<NamedMutexImpl*>(impl_);
  if (impl->fd >= 0) ::flock(impl->fd, LOCK_UN);
  impl->in_process.unlock();
}

}  // namespace virazav::platform

namespace virazav::platform {

bool start_detached_thread(void (*fn)(int), int arg) {
  // std::thread reports a failed start by exception; it stops here.
  try {
    std::thread(fn, arg).detach();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace virazav::platform
