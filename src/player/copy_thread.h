// The copy of a stretch of recording from the recorder disk to removable media:
// a worker thread that reads chunk after chunk from the start time on and hands
// them to the copy file set, publishing a progress value that callers poll.
#pragma once

#include <cstdint>

namespace virazav::player {

// Progress values: 0..99 while copying, then 100 or an end code.
inline constexpr int32_t kCopyDone = 100;
inline constexpr int32_t kCopyEndReadFailed = 101;  // a chunk read failed
inline constexpr int32_t kCopyEndStopped = 102;     // stopped by request_copy_stop
inline constexpr int32_t kCopyEndDataWrite = 103;   // data write short, or size/space limit
inline constexpr int32_t kCopyEndIndexWrite = 104;  // index record write short
// Status while no copy runs and the last one ended normally (or none ran).
inline constexpr int32_t kCopyStatusIdle = 200;

// Results of start_copy besides 0.
inline constexpr int kCopyRefused = -1;    // a copy is running, or the file set cannot be opened
inline constexpr int kCopyNoMemory = -13;  // the 2 MiB chunk buffer could not be allocated

// The copy thread's chunk buffer.
inline constexpr uint32_t kCopyBufferSize = 0x200000;

// Starts a copy of the recording from time number start to time number end into
// the folder `directory`: stops disk playback (the disk mode goes to 0 under the
// "PLAYMODE" lock), opens the copy file set and starts the copy thread. Returns
// 0 when the thread runs, kCopyRefused or kCopyNoMemory (nothing started, the
// files closed again).
int start_copy(const char* directory, int32_t start, int32_t end);

// Asks a running copy to stop at its next chunk and sleeps 10 ms; does not wait
// for the thread to end. Returns 0.
int request_copy_stop();

// While a copy runs: its progress (a negative value as 0). Otherwise the end code
// of the last copy when it ended with one, else kCopyStatusIdle.
int32_t copy_status();

// True from start_copy until the copy thread has closed the files.
bool copy_running();

// The progress the copy reports at a chunk of time number t: the share of the
// range from start to end done, (t - start) * 100 / (end - start) in 64-bit
// signed arithmetic; 0 for a range of no length (start == end), which has no share.
int32_t copy_progress(int64_t t, int32_t start, int32_t end);

}  // namespace virazav::player
