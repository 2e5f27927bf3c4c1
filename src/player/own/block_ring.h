// Ring 0 of the player: the blocks the feeders hand over, copied and queued in
// order for the decoding thread, at most kRingBlocks of them or kRingBytes in
// all. Dropping the ring (a stop, a change between normal and fast play)
// raises its generation, which tells the thread to give up the block it holds.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "platform/mutex.h"
#include "platform/platform.h"

namespace virazav::player::own {

inline constexpr size_t kRingBlocks = 8;
inline constexpr size_t kRingBytes = 16u << 20;

// Results of BlockRing::offer.
inline constexpr int kOfferTaken = 0;
inline constexpr int kOfferFull = 1;  // not taken: the ring is full, closed or out of memory
inline constexpr int kOfferBad = -1;  // never taken: no data, a length below 1 or above kRingBytes

struct Block {
  platform::Buffer bytes;
  size_t length = 0;
  int special = 0;
  int speed = 0;
};

class BlockRing {
 public:
  // Copies the block in behind the others. A block whose `special` differs from
  // the previous block's drops what is queued first. Returns kOfferTaken,
  // kOfferFull or kOfferBad.
  int offer(const uint8_t* data, int length, int special, int speed);
  // Takes the oldest block into *out; waits up to wait_ms for one. Returns false
  // when none came or the ring is closed.
  bool take(Block* out, int wait_ms);
  // Drops every queued block and raises the generation.
  void drop();
  // Opens the ring for offers, or closes it (dropping its blocks); a closed
  // ring refuses every offer with kOfferFull.
  void set_open(bool open);
  uint64_t generation() const;
  // Waits up to wait_ms, returning early (false) when the generation moves
  // away from `generation`; true when the time ran out.
  bool wait_unless_dropped(uint64_t generation, int wait_ms);

 private:
  void clear_locked() VZ_REQUIRES(mu_);

  mutable platform::Mutex mu_;
  std::condition_variable_any cv_;
  std::deque<Block> blocks_ VZ_GUARDED_BY(mu_);
  size_t bytes_ VZ_GUARDED_BY(mu_) = 0;
  int last_special_ VZ_GUARDED_BY(mu_) = -1;
  bool open_ VZ_GUARDED_BY(mu_) = false;
  uint64_t generation_ VZ_GUARDED_BY(mu_) = 0;
};

}  // namespace virazav::player::own
