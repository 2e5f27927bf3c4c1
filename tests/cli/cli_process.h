// The virazav program run as a child process by the tests of tests/cli: its exit status
// and what it wrote on standard output and standard error.
#pragma once

#include <string>
#include <vector>

namespace virazav::testing {

struct CliResult {
  int status = -1;  // the exit status, or -1 when the program did not exit by itself
  std::string out;
  std::string err;
  double seconds = 0;  // how long the program ran
};

// Runs the program with `args` in the current folder, standard input from /dev/null, no
// sound device and the environment assignments `env` ("NAME=value ...") in front. Ends
// it after `timeout_seconds`.
CliResult run_program(const std::vector<std::string>& args, const std::string& env = "",
                      int timeout_seconds = 60);

// Returns the first line of `text` that contains `needle`, or "" when none does.
std::string line_with(const std::string& text, const std::string& needle);

}  // namespace virazav::testing
