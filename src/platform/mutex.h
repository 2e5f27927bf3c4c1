// The library's lock for state that names its guard: a mutex that clang's
// thread-safety analysis (-Wthread-safety) knows as a capability, the scoped
// lock that holds it, and the annotations that tie members to it. Other
// compilers see plain std::mutex code.
#pragma once

#include <mutex>

#if defined(__clang__)
#define VZ_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VZ_THREAD_ANNOTATION(x)
#endif

// A member read or written only while the named mutex is held.
#define VZ_GUARDED_BY(mu) VZ_THREAD_ANNOTATION(guarded_by(mu))
#define VZ_CAPABILITY(name) VZ_THREAD_ANNOTATION(capability(name))
#define VZ_SCOPED_CAPABILITY VZ_THREAD_ANNOTATION(scoped_lockable)
#define VZ_ACQUIRE(...) VZ_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define VZ_RELEASE(...) VZ_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define VZ_ASSERT_CAPABILITY(x) VZ_THREAD_ANNOTATION(assert_capability(x))
// A function that its caller must call while holding the named mutex.
#define VZ_REQUIRES(...) VZ_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))

namespace virazav::platform {

// std::mutex as a capability. lock and unlock make it usable with the
// standard lock types too (which the analysis does not follow; see assert_held).
class VZ_CAPABILITY("mutex") Mutex {
 public:
  void lock() VZ_ACQUIRE() { mu_.lock(); }
  void unlock() VZ_RELEASE() { mu_.unlock(); }
  // Tells the analysis that the calling thread holds the mutex, for code that
  // holds it through a lock it cannot follow (a lock kept in a member).
  void assert_held() const VZ_ASSERT_CAPABILITY(this) {}

 private:
  std::mutex mu_;
};

// Holds a Mutex from its construction to the end of its scope.
class VZ_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mu) VZ_ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~MutexLock() VZ_RELEASE() { mu_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mu_;
};

}  // namespace virazav::platform
