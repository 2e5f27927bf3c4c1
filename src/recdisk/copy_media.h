// The file set of a copy to removable media: the packets of every copied chunk
// ("HDR.dat"), one index record per chunk (".index") and a one-line list file with
// the time range of the copy ("List.HDR"), written within a size and a free-space
// limit. One set per process; the copy thread is its only user while a copy runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace virazav::recdisk {

inline constexpr const char* kCopyDataFileName = "HDR.dat";
inline constexpr const char* kCopyIndexFileName = ".index";
inline constexpr const char* kCopyListFileName = "List.HDR";

// The chunk information record in which the copy thread hands a chunk's details
// over: the chunk reader fills bytes 8..16, the rest is not used.
inline constexpr size_t kChunkInfoSize = 24;
inline constexpr size_t kChunkInfoTime = 8;          // RecTime: year since 2000 .. second
inline constexpr size_t kChunkInfoEntryByte2 = 14;   // byte 2 of the chunk's index entry
inline constexpr size_t kChunkInfoEntryByte0 = 15;   // byte 0 of that entry
inline constexpr size_t kChunkInfoEntryByte27 = 16;  // byte 27 of that entry
inline constexpr size_t kChunkInfoUsedBytes = 9;     // bytes 8..16
struct ChunkInfo {
  uint8_t bytes[kChunkInfoSize] = {};
};

// One record of the index file (docs/formats/copy-media.md).
inline constexpr size_t kFileIndexEntrySize = 24;
inline constexpr size_t kFileIndexOffset = 0;  // u64 LE: offset of the chunk in the data file
inline constexpr size_t kFileIndexInfo = 8;    // the nine bytes 8..16 of the chunk information
inline constexpr size_t kFileIndexZero = 17;   // seven zero bytes

// The list line: 41 characters, no line end.
inline constexpr size_t kCopyListLineSize = 41;
inline constexpr const char* kCopyListPlaceholder = "0000/00/00 00:00:00 - 0000/00/00 00:00:00";

// Limits of write_copy_data.
inline constexpr uint64_t kCopyDataLimit = uint64_t{1} << 31;  // the data file stays below 2 GiB
inline constexpr uint32_t kCopyMinFreeKib = 1024;              // 1 MiB must stay free

// Results.
inline constexpr int kCopyOpened = 1;       // open_copy_files: the set is open
inline constexpr int kCopyAlreadyOpen = 2;  // open_copy_files: all three were open already
inline constexpr int kCopyNotOpen = -1;     // the file is not open, or the open failed
inline constexpr int kCopyLimit = -10;      // write_copy_data: size or free-space limit
inline constexpr int kCopyShortWrite = 0;   // a write did not complete

// Reads the free space of the medium holding `directory` (0 when it cannot be
// read, at most 0xFFFFFFFF KiB), resets the bytes written in this copy, and opens
// the three files in the folder (created when missing, never truncated; writing
// begins at their start). The list file gets the placeholder line. Returns
// kCopyOpened, kCopyAlreadyOpen or kCopyNotOpen (an absent or empty folder text,
// or a file that cannot be opened: the files opened before it are closed again).
int open_copy_files(const char* directory);

// Appends a chunk's packets to the data file. Returns length, kCopyNotOpen,
// kCopyLimit (the data file would reach 2 GiB, or less than 1 MiB of the medium
// would stay free; the latter writes the trace line "usb_rest_kbyte <free>
// <needed>") or kCopyShortWrite (the counts stay unchanged).
int write_copy_data(const uint8_t* data, uint32_t length);

// Appends the index record of the chunk whose packets were written last: the data
// file offset at which they begin and bytes 8..16 of info. Returns 24,
// kCopyNotOpen or kCopyShortWrite.
int write_copy_index(const ChunkInfo& info);

// Writes the list line from the first and the last chunk's time at the list
// file's start. Returns 1, or kCopyNotOpen.
int write_copy_range(const ChunkInfo& first, const ChunkInfo& last);

// Closes whatever is open and clears the set. Returns 1.
int close_copy_files();

// Formats the list line for two RecTimes (6 bytes each) into out (cap bytes).
// Returns the length of the line.
int format_copy_range(const uint8_t* first_time, const uint8_t* last_time, char* out, size_t cap);

// Builds the 24-byte index record for a chunk at `offset` in the data file.
void encode_file_index_entry(uint64_t offset, const ChunkInfo& info, uint8_t* out);

// The state of the set, for the copy thread and for tests.
struct CopyFilesStatus {
  bool active = false;
  bool data_open = false, index_open = false, list_open = false;
  uint64_t total = 0;     // bytes in the data file since it was opened
  uint64_t mark = 0;      // offset the next index record names
  uint32_t written = 0;   // data and index bytes written in this copy
  uint32_t free_kib = 0;  // free space read at the last open
};
CopyFilesStatus copy_files_status();

}  // namespace virazav::recdisk
