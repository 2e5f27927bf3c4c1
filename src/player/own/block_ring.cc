// The player's ring of blocks: bounded in count and bytes, so that a feeder
// running ahead of the pictures is told to offer its block again later.
#include "player/own/block_ring.h"

#include <chrono>
#include <cstring>

namespace virazav::player::own {

int BlockRing::offer(const uint8_t* data, int length, int special, int speed) {
  if (data == nullptr || length <= 0 || static_cast<size_t>(length) > kRingBytes) {
    return kOfferBad;
  }
  const size_t n = static_cast<size_t>(length);
  platform::MutexLock hold(mu_);
  if (!open_) return kOfferFull;
  if (last_special_ >= 0 && special != last_special_) clear_locked();
  last_special_ = special;
  if (blocks_.size() >= kRingBlocks || bytes_ + n > kRingBytes) return kOfferFull;
  Block b;
  b.bytes = platform::Buffer(n);
  if (!b.bytes.ok()) return kOfferFull;
  std::memcpy(b.bytes.data(), data, n);
  b.length = n;
  b.special = special;
  b.speed = speed;
  blocks_.push_back(std::move(b));
  bytes_ += n;
  cv_.notify_all();
  return kOfferTaken;
}

bool BlockRing::take(Block* out, int wait_ms) {
  platform::MutexLock hold(mu_);
  if (blocks_.empty() && open_) {
    cv_.wait_for(mu_, std::chrono::milliseconds(wait_ms));
  }
  if (blocks_.empty() || !open_) return false;
  *out = std::move(blocks_.front());
  blocks_.pop_front();
  bytes_ -= out->length;
  return true;
}

void BlockRing::clear_locked() {
  blocks_.clear();
  bytes_ = 0;
  ++generation_;
  cv_.notify_all();
}

void BlockRing::drop() {
  platform::MutexLock hold(mu_);
  clear_locked();
}

void BlockRing::set_open(bool open) {
  platform::MutexLock hold(mu_);
  clear_locked();
  open_ = open;
  last_special_ = -1;
}

uint64_t BlockRing::generation() const {
  platform::MutexLock hold(mu_);
  return generation_;
}

bool BlockRing::wait_unless_dropped(uint64_t generation, int wait_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  platform::MutexLock hold(mu_);
  while (generation_ == generation) {
    if (cv_.wait_until(mu_, until) == std::cv_status::timeout) return generation_ == generation;
  }
  return false;
}

}  // namespace virazav::player::own
