// The POSIX operations behind raw drive access, shared with the system
// operations table of platform_posix.cc.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace virazav::platform::posix {

// Opens drive `number` read-only and exclusively. Returns nullptr on failure.
DriveHandle real_drive_open(int number);
// Geometry of an image file (the recorder's own) or of a block device (its own).
int real_drive_geometry(DriveHandle d, DriveGeometry* out);
// Reads until n bytes are in or the drive ends; -1 when a request fails.
long real_drive_read(DriveHandle d, void* data, size_t n);

}  // namespace virazav::platform::posix
