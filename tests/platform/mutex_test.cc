// The annotated mutex: a MutexLock, or a standard unique_lock as the log entry
// keeps one, excludes every other holder for as long as it holds the mutex.
#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace virazav::platform {
namespace {

struct Counter {
  Mutex mu;
  long value VZ_GUARDED_BY(mu) = 0;
  // Read and write apart, so that a lock that did not exclude would lose counts.
  void add_one_scoped() {
    MutexLock lock(mu);
    long v = value;
    std::this_thread::yield();
    value = v + 1;
  }
  void add_one_unique() {
    std::unique_lock<Mutex> lock(mu);
    mu.assert_held();
    long v = value;
    std::this_thread::yield();
    value = v + 1;
  }
  long read() {
    MutexLock lock(mu);
    return value;
  }
};

TEST(Mutex, ScopedAndUniqueLocksOfFourThreads_LoseNoIncrement) {
  Counter c;
  constexpr int kThreads = 4, kAdds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&c, t] {
      for (int i = 0; i < kAdds; ++i) {
        if (t % 2 == 0) {
          c.add_one_scoped();
        } else {
          c.add_one_unique();
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(c.read(), long{kThreads} * kAdds);
}

}  // namespace
}  // namespace virazav::platform
