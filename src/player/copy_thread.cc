// The disk-to-media copy: the starter, the stop request, the status poll and the
// copy thread itself, which moves the disk's one play position and read cursor
// from the chunk found for the start time onward.
#include "player/copy_thread.h"

#include <atomic>
#include <mutex>

#include "platform/platform.h"
#include "player/disk_index.h"
#include "player/play_mode.h"
#include "recdisk/copy_media.h"
#include "recdisk/record_index.h"

namespace virazav::player {
namespace {

using recdisk::ChunkInfo;

constexpr int kModeSettleMs = 5;  // after stopping disk playback at a copy's start
constexpr int kStopSleepMs = 10;  // after a stop request

// The one copy of the process. running and progress change together under
// `mutex` so that a poll never sees a finished copy as running with its final
// value, nor a new copy's start overwritten by the end of the previous one.
struct CopyState {
  std::mutex mutex;
  std::atomic<int32_t> running{0};
  std::atomic<int32_t> stop{0};
  std::atomic<int32_t> progress{0};
  int32_t start = 0;  // time numbers, written before the thread starts
  int32_t end = 0;
  platform::Buffer buffer;  // handed to the thread at its start
};

CopyState g_copy;

// Time number of the chunk named by an information record.
int64_t chunk_time(const ChunkInfo& info) {
  return recdisk::time_number(recdisk::load_rec_time(info.bytes + recdisk::kChunkInfoTime));
}

// A write of the chunk's packets succeeded when it wrote all of them; an empty
// chunk writes nothing and is no failure.
bool data_written(int result, uint32_t length) {
  return result >= 0 && static_cast<uint32_t>(result) == length;
}

void copy_thread(int) {
  platform::Buffer buffer = std::move(g_copy.buffer);
  const int32_t start = g_copy.start;
  const int32_t end = g_copy.end;
  uint8_t* data = buffer.data();
  ChunkInfo current, first;
  int32_t end_code = 0;

  // Where the search places the copy is where it starts; its result does not
  // matter, since a failed search still leaves a position to read from.
  search_play(start);
  uint32_t length = 0;
  if (recdisk::read_for_copy(data, &length, current.bytes) != recdisk::kReadDelivered) {
    end_code = kCopyEndReadFailed;
  } else {
    first = current;
    // The first chunk's writes are not checked: a failure shows again at the
    // next chunk, which then ends the copy with its code.
    recdisk::write_copy_data(data, length);
    recdisk::write_copy_index(current);
    for (;;) {
      const int64_t t = chunk_time(current);
      if (g_copy.stop.load() == 1) {
        end_code = kCopyEndStopped;
        break;
      }
      // The chunk at or after the end time has been copied already.
      if (t >= end) break;
      g_copy.progress.store(copy_progress(t, start, end));
      int r = recdisk::read_for_copy(data, &length, current.bytes);
      if (r == recdisk::kReadNoSegment) break;
      if (r != recdisk::kReadDelivered) {
        end_code = kCopyEndReadFailed;
        break;
      }
      if (!data_written(recdisk::write_copy_data(data, length), length)) {
        end_code = kCopyEndDataWrite;
        break;
      }
      if (recdisk::write_copy_index(current) == recdisk::kCopyShortWrite) {
        end_code = kCopyEndIndexWrite;
        break;
      }
    }
  }
  // The range is written after an error too, ending with the last chunk read.
  recdisk::write_copy_range(first, current);
  recdisk::close_copy_files();
  {
    std::lock_guard<std::mutex> lock(g_copy.mutex);
    g_copy.running.store(0);
    g_copy.progress.store(end_code != 0 ? end_code : kCopyDone);
  }
}

}  // namespace

int start_copy(const char* directory, int32_t start, int32_t end) {
  std::lock_guard<std::mutex> lock(g_copy.mutex);
  if (g_copy.running.load() != 0) return kCopyRefused;
  // The copy moves the one play position, so disk playback stops first. The
  // disk feeder thread itself keeps running; the caller leaves its mode at 0.
  if (disk_mode() != kModeStop) {
    set_disk_mode(kModeStop);
    platform::sleep_ms(kModeSettleMs);
  }
  // A set that is open already (2) belongs to another copy: refused as well.
  if (recdisk::open_copy_files(directory) != recdisk::kCopyOpened) return kCopyRefused;
  platform::Buffer buffer(kCopyBufferSize);
  if (!buffer.ok()) {
    recdisk::close_copy_files();
    return kCopyNoMemory;
  }
  g_copy.buffer = std::move(buffer);
  g_copy.start = start;
  g_copy.end = end;
  g_copy.stop.store(0);
  g_copy.progress.store(0);
  // Running from here on, so that a poll right after this call sees the copy.
  g_copy.running.store(1);
  if (!platform::start_detached_thread(copy_thread, 0)) {
    g_copy.running.store(0);
    g_copy.buffer = platform::Buffer();
    recdisk::close_copy_files();
    return kCopyRefused;
  }
  return 0;
}

int request_copy_stop() {
  if (g_copy.running.load() != 0) {
    g_copy.stop.store(1);
    platform::sleep_ms(kStopSleepMs);
  }
  return 0;
}

int32_t copy_status() {
  std::lock_guard<std::mutex> lock(g_copy.mutex);
  const int32_t progress = g_copy.progress.load();
  if (g_copy.running.load() != 0) return progress < 0 ? 0 : progress;
  return progress > kCopyDone ? progress : kCopyStatusIdle;
}

bool copy_running() {
  return g_copy.running.load() != 0;
}

// In 64 bits, so that a range of more than 248 days does not overflow. A range of
// no length has no share: it reports 0 until a chunk at or after its end stops
// the copy (only a search that placed the copy before start gets here at all).
int32_t copy_progress(int64_t t, int32_t start, int32_t end) {
  if (end == start) return 0;
  return static_cast<int32_t>((t - start) * 100 / (static_cast<int64_t>(end) - start));
}

}  // namespace virazav::player
