// What a long-running command needs of the terminal: Ctrl-C (and the other
// signals that ask a program to end) as a flag it polls, and the keyboard in raw
// mode, so that single keys arrive at once and are not echoed.
#pragma once

#include <termios.h>

#include <string>

namespace virazav::cli {

// Catches SIGINT, SIGTERM and SIGHUP for its lifetime: the signal sets a flag
// instead of ending the program, so that the command can close what it opened.
// The handlers in place before are restored by the destructor. One at a time.
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // Returns true once one of the signals arrived.
  bool interrupted() const;
};

// Puts the terminal on standard input into raw mode for its lifetime: no line
// editing and no echo, every key readable at once. Ctrl-C still raises SIGINT.
// The settings found are restored by the destructor. Does nothing when standard
// input is not a terminal.
class RawKeyboard {
 public:
  RawKeyboard();
  ~RawKeyboard();
  RawKeyboard(const RawKeyboard&) = delete;
  RawKeyboard& operator=(const RawKeyboard&) = delete;

  // Returns true when the terminal is in raw mode.
  bool active() const { return active_; }
  // Returns the bytes typed since the last call, without waiting; empty when
  // there are none or the keyboard is not active.
  std::string read_available();

 private:
  bool active_ = false;
  termios saved_{};  // the terminal settings found
};

// Returns true when standard input is a terminal.
bool stdin_is_terminal();

}  // namespace virazav::cli
