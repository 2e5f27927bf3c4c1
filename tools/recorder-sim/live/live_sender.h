// Internals of the live stream shared by its two files: the state the sender thread shares
// with the caller's threads (live_stream.cc), and the sender itself (live_sender.cc).
// Nothing here is used outside tools/recorder-sim/live.
#pragma once

#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "live/live_media.h"
#include "live/live_stream.h"

namespace virazav::sim {

namespace detail {

inline constexpr int kLiveSets = 2;     // video sets, and ports: P and P + 1
inline constexpr int kLiveRings = 2;    // audio rings
inline constexpr int kLiveStreams = 2;  // stream numbers: video, audio

// An owned socket descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

class LiveSender;

}  // namespace detail

// The state a stream shares between its sender thread and the caller's threads.
struct LiveStream::Impl {
  Impl(LiveOptions o, std::string local, std::function<int64_t()> c,
       std::function<void(const std::string&)> e)
      : local_address(std::move(local)), clock(std::move(c)), on_event(std::move(e)) {
    options = std::move(o);
  }

  void event(const std::string& text) const {
    if (on_event) on_event(text);
  }
  // Stops the running sender; the caller holds control_mu.
  void stop_locked();
  // Adds a finished block to the history and the counters.
  void finish(LiveBlockRecord record);
  void count_datagram(size_t bytes, bool ok);

  const std::string local_address;
  const std::function<int64_t()> clock;
  const std::function<void(const std::string&)> on_event;

  std::mutex control_mu;                       // one start() or stop() at a time
  std::thread thread;                          // guarded by control_mu
  std::unique_ptr<detail::LiveSender> sender;  // guarded by control_mu
  std::atomic<bool> stop_flag{false};

  mutable std::mutex mu;                     // guards everything below
  std::condition_variable wake;              // the sender's waits end early on stop
  mutable std::condition_variable progress;  // a block finished
  LiveOptions options;
  LiveStatus status;
  std::array<std::optional<std::pair<uint8_t, uint16_t>>, detail::kLiveSets> status_pins;
  std::array<std::optional<std::array<uint8_t, 3>>, kChannelCount> ptz_pins;
  std::array<bool, detail::kLiveRings> no_audio{};
  LiveFaultPlan faults;
  std::deque<LiveBlockRecord> history;
  LiveCounters counters;
};

namespace detail {

// Everything one run of the stream needs; created by start(), run on the sender thread,
// destroyed by stop() after the thread has ended.
class LiveSender {
 public:
  struct Setup {
    LiveOptions options;
    Fd main;
    Fd foreign;  // -1: no foreign sender
    std::array<sockaddr_in, kLiveSets> destinations{};
    bool sets[kLiveSets] = {false, false};
    bool audio = false;
    int64_t start_clock = 0;  // recorder clock at the start, seconds since 2000
  };

  LiveSender(LiveStream::Impl* impl, Setup setup);

  void run();

 private:
  // One datagram waiting to go out.
  struct Outgoing {
    std::vector<uint8_t> bytes;
    int port_index = 0;
    bool foreign = false;
    uint64_t serial = 0;  // the block whose sending it is part of
  };
  struct Pending {
    LiveBlockRecord record;
    int left = 0;
    bool started = false;
  };
  // A video channel's turn within a second.
  struct Turn {
    int channel = 0;
    bool group = false;
    int64_t due_ms = 0;
  };

  bool stopping() const { return impl_->stop_flag.load(std::memory_order_relaxed); }
  int64_t video_due() const;
  int64_t audio_due() const;
  void begin_second();
  // Builds the next turn's blocks when it is due by `media_now`; at the end of a second it
  // first lays out the turns of the next one.
  void produce_video(int64_t media_now);
  void produce_audio();
  // Looks up or encodes the pictures of a turn: the whole group, or the key picture alone.
  bool pictures_for(const Turn& turn, std::vector<EncodedPicture>* out);
  // Cuts a built block, applies the faults and queues its datagrams.
  void queue_block(LiveBlockRecord record, std::vector<uint8_t> block, int port_index,
                   uint8_t stream, std::deque<Outgoing>* queue);
  bool send(const Outgoing& o);
  // Sends the first datagram of the queue and accounts for it.
  void send_next(std::deque<Outgoing>* queue);
  // Sends the whole queue, in order, unless the stream stops.
  void flush(std::deque<Outgoing>* queue);
  void sent(const Outgoing& o);
  uint32_t time_value(int64_t due_ms) const;

  LiveStream::Impl* impl_;
  Setup s_;
  std::chrono::steady_clock::time_point t0_;
  uint64_t serial_ = 0;
  std::array<std::array<uint8_t, kLiveStreams>, kLiveSets> block_numbers_{};
  std::array<std::array<std::optional<Outgoing>, kLiveStreams>, kLiveSets> held_;
  std::array<uint64_t, kLiveSets> video_blocks_{};
  std::deque<Outgoing> video_queue_;
  std::deque<Outgoing> audio_queue_;
  std::map<uint64_t, Pending> pending_;
  std::chrono::steady_clock::time_point next_send_{};

  // Video: the second in progress and its turns.
  int64_t second_ = -1;
  std::vector<Turn> turns_;
  size_t turn_ = 0;
  int64_t picture_second_ = -1;  // the second the cached pictures belong to
  std::map<int, EncodedPicture> keys_;
  int group_channel_ = -1;
  std::vector<EncodedPicture> group_;

  // Audio.
  std::vector<LiveAudioSource> audio_sources_;
  int64_t audio_packet_ = 0;
};

}  // namespace detail

}  // namespace virazav::sim
