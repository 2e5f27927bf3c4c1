// The POSIX operation behind 64-bit file seeking, shared with the system
// operations table of platform_posix.cc.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace virazav::platform::posix {

// fseeko on the stream; refuses a negative target.
int real_file_seek(FileHandle f, int64_t offset, SeekFrom from);

}  // namespace virazav::platform::posix
