// The player's decoding thread: it takes the blocks of the ring in order and
// walks their packets. In normal play (special 0) every picture of the shown
// channels is decoded and every sound packet of the sound channel played at
// the time its stamp says, against a clock that restarts when the stamps jump;
// in fast play (special 1) each block's pictures that need no reference are
// shown at once, and the thread pauses kFastPauseMs / speed code before the
// next block.
#include <mutex>
#include <thread>

#include "decoder/stream_decoder.h"
#include "format/video_headers.h"
#include "platform/platform.h"
#include "player/own/block_walk.h"
#include "player/own/player_state.h"

namespace virazav::player::own {
namespace {

constexpr int kTakeWaitMs = 20;
constexpr int32_t kStampsPerMs = 90;
// The clock restarts at a stamp this far ahead of it or behind it: a jump in
// the recording (a gap, a clock set back, a seek) rather than a late thread.
constexpr int32_t kAheadLimitMs = 2000;
constexpr int32_t kLateLimitMs = 250;

// Maps the time stamps of normal play onto the tick clock.
class Pacer {
 public:
  // Returns how many ms the packet stamped `stamp` is still to wait at `now`
  // (0 when due). A stamp before the last one, more than kAheadLimitMs ahead
  // or more than kLateLimitMs late restarts the clock at it.
  int32_t delay(uint32_t stamp, uint32_t now) {
    if (!started_ || static_cast<int32_t>(stamp - last_stamp_) < 0) restart_at(stamp, now);
    int32_t due = static_cast<int32_t>(stamp - base_stamp_) / kStampsPerMs;
    int32_t wait = due - static_cast<int32_t>(now - base_tick_);
    if (wait > kAheadLimitMs || wait < -kLateLimitMs) {
      restart_at(stamp, now);
      wait = 0;
    }
    last_stamp_ = stamp;
    return wait > 0 ? wait : 0;
  }
  void restart() { started_ = false; }

 private:
  void restart_at(uint32_t stamp, uint32_t now) {
    started_ = true;
    base_stamp_ = stamp;
    base_tick_ = now;
    last_stamp_ = stamp;
  }
  bool started_ = false;
  uint32_t base_tick_ = 0;
  uint32_t base_stamp_ = 0;
  uint32_t last_stamp_ = 0;
};

struct ChannelDecode {
  decoder::StreamDecoder decoder;
  bool wait_key = true;  // pictures before the next key picture are passed over
};

// One run of the thread: its decoders, clock and the state of the block it plays.
class Worker {
 public:
  explicit Worker(const std::atomic<bool>& stop) : stop_(stop), s_(player_state()) {}
  void run();

 private:
  void play_block(const Block& b);
  void normal(const BlockPacket& p, uint64_t generation);
  void fast(const BlockPacket& p);
  void show(int channel, const BlockPacket& p);
  bool wait_for(const BlockPacket& p, uint64_t generation);
  int player_channel(int recorder_channel) const;
  void sync_key_requests();

  const std::atomic<bool>& stop_;
  PlayerState& s_;
  ChannelDecode channels_[kPlayerChannels];
  Pacer pacer_;
  uint32_t key_requests_ = 0;
  int last_special_ = -1;
};

void Worker::run() {
  key_requests_ = s_.counters.key_requests.load();
  while (!stop_.load()) {
    Block b;
    if (!s_.ring.take(&b, kTakeWaitMs)) continue;
    play_block(b);
  }
}

int Worker::player_channel(int recorder_channel) const {
  const int pc = recorder_channel - 4 * s_.viewer.group.load() + 1;
  return pc >= 1 && pc <= kPlayerChannels ? pc : 0;
}

void Worker::sync_key_requests() {
  const uint32_t now = s_.counters.key_requests.load();
  if (now == key_requests_) return;
  key_requests_ = now;
  for (ChannelDecode& c : channels_) c.wait_key = true;
}

void Worker::play_block(const Block& b) {
  const uint64_t generation = s_.ring.generation();
  if (b.special != last_special_) {
    // Between normal and fast play the references differ: start at key pictures.
    last_special_ = b.special;
    pacer_.restart();
    for (ChannelDecode& c : channels_) c.wait_key = true;
  }
  BlockWalk walk(b.bytes.data(), b.length);
  BlockPacket p;
  for (;;) {
    if (stop_.load() || s_.ring.generation() != generation) {
      s_.counters.blocks.fetch_add(1);
      return;
    }
    const WalkStep step = walk.next(&p);
    if (step == WalkStep::kEnd) break;
    if (step == WalkStep::kDamaged) {
      s_.counters.error_flag.store(1);
      break;
    }
    sync_key_requests();
    if (b.special == 0) {
      normal(p, generation);
    } else {
      fast(p);
    }
  }
  s_.counters.blocks.fetch_add(1);
  if (b.special != 0 && !s_.counters.unpaced.load()) {
    s_.ring.wait_unless_dropped(generation, fast_pause_ms(b.speed));
  }
}

bool Worker::wait_for(const BlockPacket& p, uint64_t generation) {
  if (!p.has_stamp || s_.counters.unpaced.load()) return true;
  const int32_t wait = pacer_.delay(p.stamp, platform::tick_ms());
  if (wait <= 0) return true;
  return s_.ring.wait_unless_dropped(generation, wait) && !stop_.load();
}

void Worker::normal(const BlockPacket& p, uint64_t generation) {
  const int pc = player_channel(p.channel);
  if (pc == 0) return;
  if (p.audio) {
    if (pc != s_.viewer.sound_channel.load() || s_.viewer.muted.load() != 0) return;
    if (!wait_for(p, generation)) return;
    if (s_.sound.play(p.pes, p.length)) s_.counters.sound_packets.fetch_add(1);
    return;
  }
  ChannelDecode& c = channels_[pc - 1];
  if (c.wait_key && !p.key) return;
  if (!wait_for(p, generation)) return;
  show(pc, p);
}

void Worker::fast(const BlockPacket& p) {
  const int pc = player_channel(p.channel);
  if (pc == 0 || p.audio) return;
  bool intra = p.key;
  if (!intra) {
    format::VideoHeaders v;
    format::scan_video_headers(p.pes, p.length, &v);
    intra = v.vop_kind == format::kVopIntra;
  }
  if (intra) show(pc, p);
}

void Worker::show(int channel, const BlockPacket& p) {
  ChannelDecode& c = channels_[channel - 1];
  const int rc = c.decoder.decode(p.pes, p.length);
  if (rc != decoder::kDecoreOk) {
    // What the damaged picture left in the decoder is not carried over: the
    // channel starts afresh at its next key picture.
    s_.counters.error_flag.store(1);
    c.decoder.reset();
    c.wait_key = true;
    return;
  }
  c.wait_key = false;
  s_.views.take(channel, &c.decoder);
  s_.counters.pictures.fetch_add(1);
}

}  // namespace

int fast_pause_ms(int speed) {
  return kFastPauseMs / (speed < 1 ? 1 : speed);
}

void start_thread() {
  ThreadControl& c = player_state().thread;
  std::lock_guard<std::mutex> hold(c.lock);
  if (c.thread.joinable()) return;
  c.stop.store(false);
  c.thread = std::thread([&c] {
    Worker worker(c.stop);
    worker.run();
  });
}

void stop_thread() {
  ThreadControl& c = player_state().thread;
  std::lock_guard<std::mutex> hold(c.lock);
  if (!c.thread.joinable()) return;
  c.stop.store(true);
  player_state().ring.drop();  // cuts a wait for a stamp or a fast pause short
  c.thread.join();
}

void set_unpaced(bool on) {
  player_state().counters.unpaced.store(on);
}

uint64_t pictures_shown() {
  return player_state().counters.pictures.load();
}

}  // namespace virazav::player::own
