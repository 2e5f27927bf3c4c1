// Library-wide exports: version, the text of every failure code, the message
// and trace sinks, and the named locks created at load.
#include "platform/platform.h"
#include "player/play_mode.h"
#include "virazav.h"

namespace virazav::module {
namespace {

struct CodeText {
  int code;
  const char* text;
};

// One line per code the library returns; a code never changes meaning.
constexpr CodeText kCodeTexts[] = {
    {VIRAZAV_ERR_FAIL, "failed (no reply, recorder busy, short login reply, or file not opened)"},
    {VIRAZAV_ERR_EMPTY_FILE, "file empty or unreadable"},
    {VIRAZAV_ERR_NET_STARTUP, "socket service unavailable"},
    {VIRAZAV_ERR_NO_ADDRESS, "no recorder address given (download: block not received or refused)"},
    {VIRAZAV_ERR_BAD_ADDRESS, "not a dotted IPv4 address"},
    {VIRAZAV_ERR_CONNECT, "connection to the recorder failed or timed out"},
    {VIRAZAV_ERR_PASSWORD_TOO_LONG, "password longer than 63 characters"},
    {VIRAZAV_ERR_LINE_TOO_LONG, "command line too long"},
    {VIRAZAV_ERR_LIST_TOO_LARGE, "play list larger than the list buffer"},
    {VIRAZAV_ERR_LIST_FILE, "play list file could not be written"},
    {VIRAZAV_ERR_NO_MEMORY, "out of memory"},
    {VIRAZAV_ERR_JPEG_RESET, "JPEG switch reset sent, no reply read"},
    {VIRAZAV_ERR_LINK_NOT_OK, "recorder refused the link ID"},
    {VIRAZAV_ERR_SLOT_RANGE, "slot outside 0..15"},
    {VIRAZAV_ERR_LINK_ESTABLISHED, "command connection already established"},
    {VIRAZAV_ERR_NONBLOCKING, "non-blocking mode could not be set"},
    {VIRAZAV_ERR_LINK_NO_ANSWER, "no answer to the link ID"},
    {VIRAZAV_ERR_NO_GREETING, "no greeting from the recorder"},
    {VIRAZAV_ERR_NO_LOGIN_REPLY, "no reply to the password"},
    {VIRAZAV_ERR_PASSWORD_REFUSED, "password refused"},
    {VIRAZAV_ERR_NOT_CONNECTED, "slot not connected"},
    {VIRAZAV_ERR_ALREADY_CONNECTED, "slot already connected"},
    {VIRAZAV_ERR_FOREIGN_ID, "reply carries another command's ID"},
    {VIRAZAV_ERR_NOT_OK, "recorder answered NG"},
    {VIRAZAV_WSA_TIMEOUT, "no reply within the time limit"},
    {VIRAZAV_WSA_ABORTED, "connection aborted"},
    {VIRAZAV_WSA_RESET, "connection reset by the recorder"},
    {VIRAZAV_WSA_NOT_CONNECTED, "socket not connected"},
    {VIRAZAV_WSA_TIMED_OUT, "connection timed out"},
    {VIRAZAV_WSA_REFUSED, "connection refused"},
    {VIRAZAV_WSA_UNREACHABLE, "host unreachable"},
    {VIRAZAV_WSA_CLOSED, "recorder closed the connection"},
    {VIRAZAV_WSA_OTHER, "socket failure"},
    {VIRAZAV_ERR_NOT_SET_UP, "decoder not set up (decode_init not run)"},
    {VIRAZAV_ERR_STREAM_FILE, "download stream file could not be created or written"},
};

// The disk side's results per family; a family's code never changes meaning.
struct DiskCodeText {
  int family;
  int code;
  const char* text;
};

constexpr DiskCodeText kDiskCodeTexts[] = {
    {VIRAZAV_DISK_DRIVE, -1,
     "the drive cannot be opened (absent, or held by another open), "
     "or no drive is open"},
    {VIRAZAV_DISK_DRIVE, -2,
     "the drive cannot be read there (its geometry, or a sector "
     "past its end)"},
    {VIRAZAV_DISK_DRIVE, -3, "removable media, not a fixed disk"},
    {VIRAZAV_DISK_DRIVE, -4,
     "not the recorder's geometry (512-byte sectors, 255 heads, "
     "63 sectors a track)"},
    {VIRAZAV_DISK_FEEDER, -1, "the feeder is running already (start) or not running (stop)"},
    {VIRAZAV_DISK_FILE_OPEN, -1, "the data file or the index file cannot be opened"},
    {VIRAZAV_DISK_FILE_OPEN, -3, "the running file feeder did not end within 5 s"},
    {VIRAZAV_DISK_FILE_SEARCH, -1, "no file is playing"},
    {VIRAZAV_DISK_FILE_SEARCH, -2, "the time lies outside the file's range"},
    {VIRAZAV_DISK_FILE_SEARCH, -3, "the file feeder did not become idle within 5 s"},
    {VIRAZAV_DISK_STILL, -1, "no cursor, work buffer or name buffer given"},
    {VIRAZAV_DISK_STILL, -2, "16 MiB scanned without a still's start marker"},
    {VIRAZAV_DISK_STILL, -3, "the sector at the cursor cannot be read (or no drive is open)"},
    {VIRAZAV_DISK_STILL, -5, "the still's header is valid but the rest cannot be read"},
    {VIRAZAV_DISK_STILL, -6, "no still at the cursor; a start marker further on"},
    {VIRAZAV_DISK_STILL, -7, "the end of the still area"},
    {VIRAZAV_DISK_STILL_FILE, -1, "the still's file cannot be created"},
    {VIRAZAV_DISK_STILL_FILE, -2, "the still's file was not written whole"},
    {VIRAZAV_DISK_COPY, -1,
     "a copy is running, or the copy's files cannot be opened in the "
     "folder"},
};

constexpr int kFirstDiskFamily = VIRAZAV_DISK_DRIVE;
constexpr int kLastDiskFamily = VIRAZAV_DISK_COPY;

// The named locks every process of the library shares, made at load.
struct NamedLocks {
  // "PLAYMODE" is owned by the player, whose mode writes hold it.
  platform::NamedMutex& playmode = player::playmode_mutex();
  platform::NamedMutex hdd_usb{"HDD_USB"};
  platform::NamedMutex fileread{"FILEREAD"};
};

}  // namespace

NamedLocks& named_locks() {
  static NamedLocks locks;
  return locks;
}

const char* code_text(int code) {
  if (code == 0) return "success";
  if (code > 0) return "value";
  for (const CodeText& c : kCodeTexts) {
    if (c.code == code) return c.text;
  }
  return "unknown code";
}

const char* disk_code_text(int family, int code) {
  if (family < kFirstDiskFamily || family > kLastDiskFamily) return "unknown disk family";
  if (code >= 0 || code == VIRAZAV_ERR_NO_MEMORY) return code_text(code);
  for (const DiskCodeText& c : kDiskCodeTexts) {
    if (c.family == family && c.code == code) return c.text;
  }
  return "unknown code";
}

}  // namespace virazav::module

extern "C" {

const char* virazav_strerror(int code) noexcept {
  return virazav::module::code_text(code);
}

const char* virazav_disk_strerror(int family, int code) noexcept {
  return virazav::module::disk_code_text(family, code);
}

const char* virazav_version(void) noexcept {
  return "0.1.0";
}

int virazav_set_message_handler(virazav_message_fn fn, void* user) noexcept {
  virazav::platform::set_message_handler(fn, user);
  return 0;
}

int virazav_set_trace_handler(virazav_trace_fn fn, void* user) noexcept {
  virazav::platform::set_trace_handler(fn, user);
  return 0;
}

}  // extern "C"

namespace {
// The named locks exist from the moment the library is loaded.
[[maybe_unused]] const auto& g_load_time_locks = virazav::module::named_locks();
}  // namespace
