// The POSIX operations behind the free-space query and the update-mode open, shared
// with the system operations table of platform_posix.cc.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace virazav::platform::posix {

// statvfs of the folder: available blocks times the fragment size, in KiB.
int real_free_space_kib(const std::string& dir, uint64_t* kib);
// Opens for reading and writing, creating a missing file (mode 0666 before the
// umask) without truncating an existing one. Returns nullptr on failure.
FileHandle open_update_stream(const std::string& path);

}  // namespace virazav::platform::posix
