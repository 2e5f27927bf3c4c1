// Connecting and unconnecting a slot around a command, and switching the log on.

#include "session.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

// The library writes the information text zero-terminated into a buffer of at least 128
// bytes; a larger one costs nothing and leaves room for a recorder that sends more.
constexpr size_t kInfoBufferSize = 512;

}  // namespace

Session::~Session() {
  close();
}

int Session::connect(int slot, const std::string& address, const std::string& password) {
  unsigned char info[kInfoBufferSize] = {};
  int rc = kora_connect(slot, address.c_str(), password.c_str(), info);
  if (rc != 0) return rc;
  slot_ = slot;
  connected_ = true;
  info[kInfoBufferSize - 1] = '\0';
  info_ = reinterpret_cast<const char*>(info);
  return 0;
}

int Session::close() {
  if (!connected_) return 0;
  connected_ = false;
  return kora_unconnect(slot_, 0, 0, 0);
}

std::string log_drive_folder(char drive) {
  char name[] = "VIRAZAV_DRIVE_C";
  name[sizeof name - 2] = drive;
  const char* folder = std::getenv(name);
  return folder == nullptr ? std::string() : std::string(folder);
}

void start_log(const GlobalOptions& options) {
  if (options.log_drive == 0) return;
  kora_log_sw(options.log_drive);
  std::string folder = log_drive_folder(options.log_drive);
  if (folder.empty()) {
    std::fprintf(stderr,
                 "virazav: note: VIRAZAV_DRIVE_%c is not set, so log drive %c does not exist "
                 "and nothing is logged\n",
                 options.log_drive, options.log_drive);
  } else if (std::error_code ec; !std::filesystem::is_directory(folder, ec)) {
    // The library counts a drive whose folder is missing as absent and stays silent.
    std::fprintf(stderr,
                 "virazav: note: %s (VIRAZAV_DRIVE_%c) is not a folder, so log drive %c does "
                 "not exist and nothing is logged\n",
                 folder.c_str(), options.log_drive, options.log_drive);
  } else {
    std::fprintf(stderr, "virazav: logging to %s/unit_/log/ (drive %c from VIRAZAV_DRIVE_%c)\n",
                 folder.c_str(), options.log_drive, options.log_drive);
  }
}

std::string describe_target(const GlobalOptions& options) {
  return options.address + " slot " + std::to_string(options.slot);
}

int run_connected(const GlobalOptions& options, const std::function<int(Session&)>& work) {
  start_log(options);
  Session session;
  int rc = session.connect(options.slot, options.address, options.password);
  if (rc != 0) return report_failure("connect to " + describe_target(options), rc);
  int status = work(session);
  rc = session.close();
  if (rc != 0 && status == kExitOk) return report_failure("unconnect", rc);
  return status;
}

}  // namespace virazav::cli
