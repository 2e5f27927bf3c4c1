// What a long-running command needs of the terminal: Ctrl-C (and the other
// signals that ask a program to end) as a flag it polls.
#pragma once

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

}  // namespace virazav::cli
