// The record index of a recorder disk as the disk commands see it: which drive a DRIVE
// word names, which of the three index copies is the newest, and the index loaded and
// checked before anything is listed, copied or played from it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"

namespace virazav::cli {

inline constexpr int kIndexCopies = 3;

// One recording of the recording list: its slot in the list, times and kind.
struct RecordingSpan {
  int index = 0;
  uint32_t start = 0;
  uint32_t end = 0;
  uint32_t kind = 0;
};

// The header of each index copy and the copy the library reads first.
struct IndexCopies {
  std::array<int, kIndexCopies> generation{};  // 0..5, or -1: unreadable or failed its checks
  std::array<bool, kIndexCopies> bad_checksum{};
  int newest = -1;  // the copy read first, or -1 when no copy has a valid header
  int generation_used = 0;
};

// One alarm of the alarm list.
struct AlarmSpan {
  int index = 0;
  uint32_t start = 0;
  uint32_t end = 0;
};

// The loaded record index.
struct DiskIndex {
  IndexCopies copies;
  uint32_t start = 0;  // the recorded range, as time numbers
  uint32_t end = 0;
  std::vector<RecordingSpan> recordings;
  std::vector<AlarmSpan> alarms;
  int recording_list_copy = -1;  // the copy whose recording list passed its checks first
};

// Resolves DRIVE (positional argument 1): a number 0..9, or the path of a disk image read
// as drive 9. Stores in *name how messages call it ("drive 3", "image disk.img"). On a
// missing argument reports it, stores the exit status in *status and returns false.
bool resolve_drive(const Invocation& inv, int* drive, std::string* name, int* status);

// Opens the drive. Returns kExitOk, or reports why it cannot be opened (naming the path of
// an image that does not exist) and returns kExitFailure.
int open_drive(int drive, const std::string& name);

// Reads the three copy headers of the open drive and works out the newest copy as the
// library does: the highest valid generation, where 0 and then 1 follow 5.
IndexCopies read_index_copies();

// Opens the drive and loads its record index, then checks that the index loaded and
// that its times make sense: a disk that is not a recorder's, or whose index is
// damaged in every copy, would otherwise yield a list of made-up recordings. On success
// leaves the drive open, fills *out and returns kExitOk; otherwise reports why (naming
// `name`), closes the drive and returns kExitFailure.
int open_disk_index(int drive, const std::string& name, DiskIndex* out);

// As open_disk_index for a drive already open.
int check_disk_index(const std::string& name, DiskIndex* out);

// Returns "copy N (generation G)" for the copy the index was read from first, and names
// the copy the recording list came from when that copy's was damaged.
std::string describe_copy_used(const DiskIndex& index);

}  // namespace virazav::cli
