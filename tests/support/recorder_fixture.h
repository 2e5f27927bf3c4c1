// A simulated recorder per test on a loopback address of its own, and a slot
// connected to it through the library's C interface.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "recorder.h"
#include "virazav.h"

namespace virazav::testing {

// Starts a recorder on the first free loopback address at or after one derived
// from the test's name, so that parallel test processes do not meet.
std::unique_ptr<sim::Recorder> start_recorder(sim::RecorderOptions options, std::string* address);

// A fault script entry: `kind` for the next `count` events of `command`.
inline sim::Fault make_fault(sim::FaultKind kind, std::string command = "", int count = 1,
                             int param = 0) {
  sim::Fault f;
  f.kind = kind;
  f.command = std::move(command);
  f.count = count;
  f.param = param;
  return f;
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Connects `slot` to the recorder; fails the test when that does not work.
  void connect(int slot = 0);

  sim::RecorderOptions options_;
  std::unique_ptr<sim::Recorder> recorder_;
  std::string address_;
  bool started_ = false;
  int connected_mask_ = 0;

  // Options to change before the recorder starts (called from SetUp).
  virtual void configure(sim::RecorderOptions&) {}
  sim::Recorder& rec() { return *recorder_; }
  // The last line the client sent on a slot ("" if none).
  std::string last_line(int slot = 0);
};

// Creates a fresh folder under the test temp dir and makes it current for the
// scope's lifetime.
class TempCwd {
 public:
  TempCwd();
  ~TempCwd();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

}  // namespace virazav::testing
