// The pictures the library's bitmap writer leaves in files, read back as the recorder's
// pictures so that tests can compare them with what the simulated recorder drew.
#pragma once

#include <string>

#include "media/media.h"

namespace virazav::testing {

// Reads a bitmap the library wrote from a width x height picture (24-bit, bottom-up, the
// bottom 8 rows left out) into a top-down picture of that size, luma in the encoder's
// limited range, the rows left out black. Returns false when the file is missing or is not
// such a bitmap of that size.
bool bitmap_luma(const std::string& path, int width, int height, sim::Picture* out);

}  // namespace virazav::testing
