// Runs the virazav program for the tests through the shell, standard error into a file.
#include "cli_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace virazav::testing {

namespace {

std::string quoted(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

CliResult run_program(const std::vector<std::string>& args, const std::string& env,
                      int timeout_seconds) {
  // Standard error goes to a file named after this process, so that tests running in
  // one folder do not read each other's.
  const std::string err_path = "cli-stderr-" + std::to_string(::getpid()) + ".txt";
  std::string command = "VIRAZAV_AUDIO=none " + env + " timeout " +
                        std::to_string(timeout_seconds) + " " + quoted(VIRAZAV_CLI_PATH);
  for (const std::string& a : args) command += " " + quoted(a);
  command += " </dev/null 2>" + err_path;
  CliResult run;
  const auto start = std::chrono::steady_clock::now();
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int wait_status = pclose(pipe);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (wait_status != -1 && WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
  std::ifstream err(err_path);
  std::stringstream text;
  text << err.rdbuf();
  run.err = text.str();
  std::remove(err_path.c_str());
  return run;
}

std::string line_with(const std::string& text, const std::string& needle) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find(needle) != std::string::npos) return line;
  }
  return "";
}

}  // namespace virazav::testing
