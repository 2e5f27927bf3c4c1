// A connected slot for the length of one command, and the diagnostic log switch: what
// every recorder command of the virazav program does before and after its own call.
#pragma once

#include <functional>
#include <string>

#include "options.h"

namespace virazav::cli {

// Owns one connection slot from kora_connect to kora_unconnect. The destructor
// unconnects a slot that is still connected, so an early return cannot leak it.
class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects the slot to the recorder. Returns 0 and keeps the recorder's information text
  // on success; returns the library's code otherwise and stays unconnected.
  int connect(int slot, const std::string& address, const std::string& password);
  // Unconnects. Returns kora_unconnect's result, or 0 when not connected.
  int close();

  bool connected() const { return connected_; }
  int slot() const { return slot_; }
  const std::string& info() const { return info_; }

 private:
  int slot_ = 0;
  bool connected_ = false;
  std::string info_;
};

// Returns the folder that stands for log drive L ($VIRAZAV_DRIVE_<L>), or an empty text
// when the variable is unset (then the drive does not exist and nothing is logged).
std::string log_drive_folder(char drive);

// Switches the diagnostic log on when the options ask for it, and tells on standard error
// where the entries go (or that the drive does not exist).
void start_log(const GlobalOptions& options);

// Runs `work` on a freshly connected session and unconnects afterwards. A connect failure
// is reported and gives kExitFailure without calling `work`; otherwise returns what `work`
// returns, or kExitFailure when the final unconnect fails after a successful `work`.
int run_connected(const GlobalOptions& options, const std::function<int(Session&)>& work);

// Completes the global options from outside the command line: the password from
// --password-file, else from $VIRAZAV_PASSWORD when --password was not given; a host name
// resolved to its first IPv4 address. On failure stores the reason and returns false.
bool complete_global_options(GlobalOptions* options, std::string* error);

// Returns "<address> slot <n>" for messages.
std::string describe_target(const GlobalOptions& options);

}  // namespace virazav::cli
