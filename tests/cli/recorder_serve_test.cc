// virazav-recorder serve run as a process: the recorded ranges it prints before it listens
// are the ones its play lists name and its downloads deliver.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

// A serve process whose standard output the test reads; ended with SIGTERM.
class ServeProcess {
 public:
  ServeProcess() = default;
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;
  ~ServeProcess() { stop(); }

  // Starts serve with `args` after "serve". Returns false when it could not be started.
  bool start(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    std::vector<std::string> words = {VIRAZAV_RECORDER_PATH, "serve"};
    words.insert(words.end(), args.begin(), args.end());
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char*> argv;
      for (std::string& w : words) argv.push_back(w.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    return true;
  }

  // Reads standard output until `needle` appears in it or the process ends or
  // `timeout_ms` pass. Returns true when it appeared.
  bool wait_for(const std::string& needle, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (text_.find(needle) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      text_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }

  // Ends the process; returns its exit status (-1 when it did not exit by itself).
  int stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (out_ >= 0) ::close(out_);
    out_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& text() const { return text_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string text_;
};

class RecorderServeTest : public ::testing::Test {
 protected:
  TempCwd cwd_;
};

TEST_F(RecorderServeTest, PrintsTheRangesItServes_AndItsPlayListsAndDownloadsMatchThem) {
  // Outside the addresses the in-process recorders of the other tests take.
  const std::vector<std::string> addresses = {"127.0.251.7", "127.0.251.8", "127.0.251.9"};
  std::unique_ptr<ServeProcess> started;
  std::string address;
  for (const std::string& a : addresses) {
    auto attempt = std::make_unique<ServeProcess>();
    if (attempt->start({"--address", a, "--record-start", "2025-12-31T23:59:50", "--record-seconds",
                        "30", "--record-channels", "5"}) &&
        attempt->wait_for("listening", 5000)) {
      address = a;
      started = std::move(attempt);
      break;
    }
  }
  ASSERT_FALSE(address.empty()) << "serve listened on none of the addresses";
  ServeProcess& serve = *started;

  // Channels 0 and 2 over midnight, with audio (both lie in 0..3); nothing else.
  const std::string ranges = serve.text().substr(0, serve.text().find("recorder listening"));
  EXPECT_EQ(ranges,
            "recorded:\n"
            "  channel 0: 2025-12-31T23:59:50 .. 2026-01-01T00:00:19, video and audio\n"
            "  channel 2: 2025-12-31T23:59:50 .. 2026-01-01T00:00:19, video and audio\n");

  const CliResult list = run_program({"-a", address, "playlist", "2"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("LIST 02\n0001 CH03 2025/12/31 23:59:50 2026/01/01 00:00:19\nEND\n"),
            std::string::npos)
      << list.out;
  const CliResult empty = run_program({"-a", address, "playlist", "1"});
  ASSERT_EQ(empty.status, 0) << empty.err;
  EXPECT_NE(empty.out.find("LIST 01\nEND\n"), std::string::npos) << empty.out;

  // The whole range downloads; a second more is a short download.
  const CliResult whole = run_program(
      {"-a", address, "download", "whole.mpg", "--from", "2025-12-31T23:59:50", "--seconds", "30"});
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_NE(whole.out.find("downloaded 30 of 30 s"), std::string::npos) << whole.out;
  const CliResult longer = run_program({"-a", address, "download", "longer.mpg", "--from",
                                        "2025-12-31T23:59:50", "--seconds", "31"});
  EXPECT_EQ(longer.status, 3) << longer.err;

  EXPECT_EQ(serve.stop(), 0);
}

TEST_F(RecorderServeTest, BadRecordingOptions_AreRefused) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--record-start", "2080-01-01T00:00:00"},
           {"--record-start", "2025-02-29T00:00:00"},
           {"--record-seconds", "0"},
           {"--record-channels", "10000"},
           {"--record-channels", "0"},
           {"--record-colour", "red"},
       }) {
    ServeProcess serve;
    std::vector<std::string> line = {"--address", "127.0.251.10"};
    line.insert(line.end(), args.begin(), args.end());
    ASSERT_TRUE(serve.start(line));
    EXPECT_FALSE(serve.wait_for("listening", 2000)) << args[0] << " " << args[1];
    EXPECT_EQ(serve.stop(), 2) << args[0] << " " << args[1];
  }
}

}  // namespace
}  // namespace virazav::testing
