// The recorder disk as a source of the export: a stretch of it copied through the
// library's own copy to removable media into a folder beside the output, whose HDR.dat
// the export then reads.
#pragma once

#include <cstdint>
#include <string>

namespace virazav::cli::exporting {

// Copies the recording from time number `from` to `to` of the disk named by `disk` (a
// drive number 0..9 or the path of a disk image) into the folder `dir`, which must not
// hold a copy already (it is made when missing). Draws the copy's progress when `draw`.
// Returns 0 with HDR.dat, .index and List.HDR in `dir`; 4 when nothing is recorded in the
// stretch; 1 on a failure. Reports a failure or an empty stretch on standard error.
int copy_disk_stretch(const std::string& disk, int64_t from, int64_t to, const std::string& dir,
                      bool draw);

}  // namespace virazav::cli::exporting
