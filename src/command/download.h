// The recorded-data download: SendDataF and SendDataN on a connected slot, the video and
// audio blocks after "JpegSendStart", and the stream file and frame index they become.
// Each function returns what its export returns (see include/virazav.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace virazav::command {

// The twelve numbers of SendDataF, passed to the recorder unchanged.
struct DownloadRequestValues {
  int value[12] = {};
};

// kora_copy_fast: starts a download into the stream file `path` and stores its first
// blocks. Returns 1, 0 when the recorder has nothing to send, or a failure code.
int copy_fast(int slot, const char* path, const DownloadRequestValues& values);

// kora_copy_next: stores the next blocks of the download in `path`; when the recorder has
// no more, writes "<index_dir>/.index" and returns 0. Stores the step's byte total in
// count4 (most significant byte first) when count4 is not null. Returns the whole seconds
// since the download's first time stamp (at least 1), 0 at the end, or a failure code.
int copy_next(int slot, const char* path, uint8_t* count4, const char* index_dir);

// Checks the records of a received video block (a 100-byte header, then records of a
// 6-byte header and 32 x their length unit bytes): returns true and stores the record
// count in *records when every record lies inside the `received` bytes (more than 100).
bool video_block_fits(const uint8_t* block, size_t received, int* records);

}  // namespace virazav::command
