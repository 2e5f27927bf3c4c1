// Connecting and unconnecting a slot around a command, and switching the log on.

#include "session.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "progress.h"
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
  const std::string drive(1, options.log_drive);
  if (folder.empty()) {
    print_note("VIRAZAV_DRIVE_" + drive + " is not set, so log drive " + drive +
               " does not exist and nothing is logged");
  } else if (std::error_code ec; !std::filesystem::is_directory(folder, ec)) {
    // The library counts a drive whose folder is missing as absent and stays silent.
    print_note(folder + " (VIRAZAV_DRIVE_" + drive + ") is not a folder, so log drive " + drive +
               " does not exist and nothing is logged");
  } else if (!quiet()) {
    std::fprintf(stderr, "virazav: logging to %s/unit_/log/ (drive %c from VIRAZAV_DRIVE_%c)\n",
                 folder.c_str(), options.log_drive, options.log_drive);
  }
}

namespace {

// Returns the first IPv4 address of a host, dotted; false when it has none.
bool resolve_ipv4(const std::string& host, std::string* out, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    *error = "cannot resolve " + host + " to an IPv4 address: " + ::gai_strerror(rc);
    return false;
  }
  char text[INET_ADDRSTRLEN] = {};
  const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool ok = ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr;
  ::freeaddrinfo(found);
  if (!ok) {
    *error = "cannot resolve " + host + " to an IPv4 address";
    return false;
  }
  *out = text;
  return true;
}

}  // namespace

bool complete_global_options(GlobalOptions* options, std::string* error) {
  if (!options->password_file.empty()) {
    std::string text;
    std::string reason;
    const bool from_stdin = options->password_file == "-";
    if (from_stdin) {
      std::getline(std::cin, text);
    } else if (!read_file(options->password_file, &text, &reason)) {
      *error = "password file " + options->password_file + ": " + reason;
      return false;
    }
    // The first line is the password; its line end is not part of it.
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    options->password = text;
  } else if (!options->password_given) {
    if (const char* env = std::getenv("VIRAZAV_PASSWORD")) options->password = env;
  }
  if (options->address_given && !is_dotted_ipv4(options->address)) {
    std::string dotted;
    if (!resolve_ipv4(options->address, &dotted, error)) return false;
    options->address = dotted;
  }
  return true;
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
