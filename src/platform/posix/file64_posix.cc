// 64-bit positions and sizes of open files, and the local calendar
// conversions (mktime and localtime_r) that the data-set times are built on.
#include "platform/posix/file64_posix.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdio>

namespace virazav::platform {

namespace posix {

int real_file_seek(FileHandle f, int64_t offset, SeekFrom from) {
  FILE* fp = static_cast<FILE*>(f);
  int whence = from == SeekFrom::kBegin     ? SEEK_SET
               : from == SeekFrom::kCurrent ? SEEK_CUR
                                            : SEEK_END;
  // fseeko would accept a negative target with SEEK_CUR on some systems and
  // report it only later; check it here so the position never goes below 0.
  if (from == SeekFrom::kBegin && offset < 0) return -1;
  if (from == SeekFrom::kCurrent) {
    off_t now = ::ftello(fp);
    if (now < 0 || now + offset < 0) return -1;
  }
  return ::fseeko(fp, static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
}

}  // namespace posix

int64_t file_tell(FileHandle f) {
  if (f == nullptr) return -1;
  return static_cast<int64_t>(::ftello(static_cast<FILE*>(f)));
}

int64_t file_size(FileHandle f) {
  if (f == nullptr) return -1;
  FILE* fp = static_cast<FILE*>(f);
  // Buffered writes must reach the file before its size is asked.
  std::fflush(fp);
  struct stat st {};
  if (::fstat(::fileno(fp), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t make_local_seconds(const LocalTime& t) {
  tm fields{};
  fields.tm_year = t.year - 1900;
  fields.tm_mon = t.month - 1;
  fields.tm_mday = t.day;
  fields.tm_hour = t.hour;
  fields.tm_min = t.minute;
  fields.tm_sec = t.second;
  fields.tm_isdst = 0;
  time_t v = ::mktime(&fields);
  return static_cast<int64_t>(v);
}

bool local_time_of(int64_t seconds, LocalTime* out) {
  if (out == nullptr) return false;
  time_t v = static_cast<time_t>(seconds);
  tm fields{};
  if (::localtime_r(&v, &fields) == nullptr) return false;
  *out = LocalTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_wday,
                   fields.tm_hour,        fields.tm_min,     fields.tm_sec};
  return true;
}

}  // namespace virazav::platform
