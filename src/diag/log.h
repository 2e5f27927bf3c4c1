// The daily diagnostic log: one line per TCP event in a file per weekday on the
// log drive chosen with kora_log_sw, off until then.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/mutex.h"
#include "platform/platform.h"

namespace virazav::diag {

// Makes 'C'..'F' (67..70) the log drive; any other value is ignored. Returns
// its argument.
int set_log_drive(int drive);
// The current log drive letter, or 0 while logging is off.
int log_drive();

// One log entry: LogBegin on construction, LogEnd on destruction. Entries are
// serialised so that two threads never share the open file. Every call does
// nothing while logging is off.
class LogEntry {
 public:
  explicit LogEntry(const char* name);  // LogBegin
  ~LogEntry();                          // LogEnd
  LogEntry(const LogEntry&) = delete;
  LogEntry& operator=(const LogEntry&) = delete;

  LogEntry& value(uint32_t v);                            // LogValue: "0x%x,"
  LogEntry& values3(uint32_t a, uint32_t b, uint32_t c);  // LogValues3
  LogEntry& text(const char* t);                          // LogText: "\"%.30s\","

 private:
  void put(const char* s, size_t n);
  std::unique_lock<platform::Mutex> lock_;
  platform::File file_;  // closed before lock_ is released
};

// Convenience: an entry with one value.
void log_value(const char* name, uint32_t v);

// Forgets the day of the last entry, as a new process starts (for tests).
void forget_day_of_last_entry();

// The path of the weekday file on a drive root: <root>/unit_/log/vexul_<d>.log.
std::string log_file_path(const std::string& root, int weekday);

}  // namespace virazav::diag
