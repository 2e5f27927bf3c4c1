#include "recorder_fixture.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace virazav::testing {

std::unique_ptr<sim::Recorder> start_recorder(sim::RecorderOptions options, std::string* address) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "x";
  size_t h = std::hash<std::string>{}(name);
  for (int attempt = 0; attempt < 64; ++attempt) {
    unsigned v = static_cast<unsigned>((h + attempt * 7919u) % 60000u);
    std::string a = "127.0." + std::to_string(2 + v / 250) + "." + std::to_string(2 + v % 250);
    options.address = a;
    auto rec = std::make_unique<sim::Recorder>(options);
    std::string error;
    if (rec->start(&error)) {
      *address = a;
      return rec;
    }
  }
  return nullptr;
}

void RecorderTest::SetUp() {
  configure(options_);
  recorder_ = start_recorder(options_, &address_);
  ASSERT_NE(recorder_, nullptr) << "no free loopback address for the simulated recorder";
  started_ = true;
}

void RecorderTest::TearDown() {
  for (int slot = 0; slot < 16; ++slot) {
    if (connected_mask_ & (1 << slot)) kora_unconnect(slot, 0, 0, 0);
  }
  if (recorder_) recorder_->stop();
}

void RecorderTest::connect(int slot) {
  unsigned char info[128] = {};
  int rc = kora_connect(slot, address_.c_str(), options_.password.c_str(), info);
  ASSERT_EQ(rc, 0) << virazav_strerror(rc);
  connected_mask_ |= 1 << slot;
}

std::string RecorderTest::last_line(int slot) {
  auto lines = recorder_->received_lines(slot);
  return lines.empty() ? std::string() : lines.back();
}

TempCwd::TempCwd() {
  char buf[4096];
  previous_ = getcwd(buf, sizeof buf) ? buf : ".";
  char tmpl[] = "/tmp/virazav-test-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  path_ = dir ? dir : "/tmp";
  if (chdir(path_.c_str()) != 0) path_ = previous_;
}

TempCwd::~TempCwd() {
  if (chdir(previous_.c_str()) != 0) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace virazav::testing
