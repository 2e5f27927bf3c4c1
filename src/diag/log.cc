// The diagnostic log: file choice per weekday, the truncate-or-append rule of a
// new day, folder creation, and the entry format
// "/* <day>/<hh:mm:ss> */  <name>(<values>);".
#include "diag/log.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace virazav::diag {
namespace {

struct LogState {
  platform::Mutex entry_mu;   // serialises whole entries
  std::atomic<int> drive{0};  // 'C'..'F' or 0
  int day_of_last_entry VZ_GUARDED_BY(entry_mu) = -1;
};
LogState g_log;

bool is_log_drive(int d) {
  return d >= 'C' && d <= 'F';
}

}  // namespace

int set_log_drive(int drive) {
  if (is_log_drive(drive)) g_log.drive.store(drive);
  return drive;
}

int log_drive() {
  return g_log.drive.load();
}

std::string log_file_path(const std::string& root, int weekday) {
  std::string name = "vexul_0.log";
  name[6] = static_cast<char>('0' + weekday);
  return platform::join_path(platform::join_path(platform::join_path(root, "unit_"), "log"), name);
}

LogEntry::LogEntry(const char* name) {
  int drive = g_log.drive.load();
  if (!is_log_drive(drive)) return;
  lock_ = std::unique_lock<platform::Mutex>(g_log.entry_mu);
  g_log.entry_mu.assert_held();

  platform::LocalTime now = platform::local_time_now();
  std::string root;
  // A drive that does not exist (its variable unset, or no such folder) switches
  // logging off until the next kora_log_sw.
  if (!platform::drive_root(static_cast<char>(drive), &root) || !platform::is_directory(root)) {
    g_log.drive.store(0);
    lock_.unlock();
    return;
  }
  std::string path = log_file_path(root, now.weekday);

  // The weekday file is reused every week: the first entry of a new day empties
  // it, unless the file was already touched on this day of month.
  platform::OpenMode mode = platform::OpenMode::kWriteTruncate;
  if (now.day == g_log.day_of_last_entry) {
    mode = platform::OpenMode::kAppend;
  } else if (platform::file_exists(path)) {
    mode = platform::last_access_day(path) == now.day ? platform::OpenMode::kAppend
                                                      : platform::OpenMode::kWriteTruncate;
  }
  file_ = platform::File::open(path, mode);
  if (!file_.is_open()) {
    std::string unit = platform::join_path(root, "unit_");
    platform::make_directory(unit);
    file_ = platform::File::open(path, platform::OpenMode::kAppend);
    if (!file_.is_open()) {
      platform::make_directory(platform::join_path(unit, "log"));
      file_ = platform::File::open(path, platform::OpenMode::kAppend);
    }
  }
  if (!file_.is_open()) {  // the entry is skipped
    lock_.unlock();
    return;
  }
  g_log.day_of_last_entry = now.day;
  char head[320];
  int n = std::snprintf(head, sizeof head, "/* %d/%02d:%02d:%02d */  %s(", now.day, now.hour,
                        now.minute, now.second, name ? name : "");
  put(head, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof head - 1));
}

LogEntry::~LogEntry() {
  if (!file_.is_open()) return;
  put(");\n", 3);
  file_.close();
}

void LogEntry::put(const char* s, size_t n) {
  file_.write(s, n);
}

LogEntry& LogEntry::value(uint32_t v) {
  if (!file_.is_open()) return *this;
  char b[16];
  int n = std::snprintf(b, sizeof b, "0x%x,", v);
  put(b, static_cast<size_t>(n));
  return *this;
}

LogEntry& LogEntry::values3(uint32_t a, uint32_t b, uint32_t c) {
  if (!file_.is_open()) return *this;
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "0x%x,0x%x,0x%x,", a, b, c);
  put(buf, static_cast<size_t>(n));
  return *this;
}

LogEntry& LogEntry::text(const char* t) {
  if (!file_.is_open()) return *this;
  char buf[40];
  int n = std::snprintf(buf, sizeof buf, "\"%.30s\",", t ? t : "");
  put(buf, static_cast<size_t>(n));
  return *this;
}

void forget_day_of_last_entry() {
  platform::MutexLock lock(g_log.entry_mu);
  g_log.day_of_last_entry = -1;
}

void log_value(const char* name, uint32_t v) {
  LogEntry(name).value(v);
}

}  // namespace virazav::diag
