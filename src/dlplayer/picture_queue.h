// The picture queue of the playback engine (private to src/dlplayer/): in
// normal play the pictures of the display channel between two key frames wait
// here, each with the time after its key frame at which it is due, their data
// packed one after the other in a 1 MiB store.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace virazav::dlplayer::detail {

inline constexpr int kQueueRecords = 20;
inline constexpr int kQueueLimit = 19;  // records in use at the most
inline constexpr size_t kQueueStoreBytes = 1u << 20;

// One queued picture (the fields of the live receiver's group record).
struct QueueRecord {
  int channel = 0;
  uint32_t pts = 0;
  uint8_t* data = nullptr;  // inside the store
  uint32_t length = 0;      // 0: empty, or shown
  int vop_kind = 0;
  uint32_t data_offset = 0;  // always 0 here
  int64_t due_ms = 0;        // after the key frame was shown
};

class PictureQueue {
 public:
  // Allocates the zero-filled store. Returns false when it cannot be had; the
  // queue then stays disabled.
  bool allocate();
  void release();

  // Sets every record's fields to 0 and its data address to the start of the
  // store, and enables queuing (when the store exists).
  void reset();
  // Disables queuing until the next reset (record 0's channel becomes -1).
  void disable();
  bool enabled() const;
  int count() const { return count_; }

  // True while the last record queued has not been shown.
  bool last_pending() const;
  // True while any record waits.
  bool any_pending() const;

  // Appends a picture of `length` bytes: `head_bytes` of it from `head`, the
  // rest read from `file` (positioned after the head). Returns false, and
  // queues nothing, when queuing is disabled, 19 records are in use, the
  // store has no room for the picture, or the file gives fewer bytes.
  bool append(int channel, uint32_t pts, int vop_kind, int64_t due_ms, const uint8_t* head,
              size_t head_bytes, size_t length, platform::File& file);

  // Lowers every due time above `step` ms by `step` ms.
  void advance_due(int64_t step);
  // The due time of the first record still waiting; false when none waits.
  bool next_due(int64_t* due_ms) const;

  // The first record still waiting whose due time is at most `elapsed_ms`,
  // in order (the first one not yet due ends the walk); nullptr when none.
  // The caller shows it and then calls done().
  QueueRecord* take_due(int64_t elapsed_ms);
  void done(QueueRecord* record);

 private:
  platform::Buffer store_;
  QueueRecord records_[kQueueRecords];
  int count_ = 0;      // records used since the last reset
  size_t filled_ = 0;  // bytes of the store used since the last reset
};

}  // namespace virazav::dlplayer::detail
