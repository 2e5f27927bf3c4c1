// The trace lines of the index walks, searches and skips: printf-formatted and
// written to standard output through the platform's trace sink.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace virazav::recdisk::detail {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline void
tracef(const char* format, ...) {
  char line[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  platform::trace(line);
}

}  // namespace virazav::recdisk::detail
