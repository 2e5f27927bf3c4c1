// The null and wav audio outputs: a running play clock that consumes 16,000 bytes a
// second, with the wav output appending every byte it consumed to its file.
#include <condition_variable>

#include "platform/posix/audio_posix.h"
#include "platform/posix/wav_file_posix.h"

namespace virazav::platform::posix {
namespace {

constexpr int64_t kNanosecondsPerByte = 1000000000 / kAudioBytesPerSecond;  // 62,500

AudioClock::duration play_time(size_t bytes) {
  return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * kNanosecondsPerByte);
}

// The bytes (even) that `elapsed` of playing covers, at most `bytes`.
size_t bytes_played(AudioClock::duration elapsed, size_t bytes) {
  int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  if (ns <= 0) return 0;
  uint64_t played = static_cast<uint64_t>(ns / kNanosecondsPerByte) & ~uint64_t{1};
  return played < bytes ? static_cast<size_t>(played) : bytes;
}

class ClockOutput final : public AudioOutput {
 public:
  explicit ClockOutput(std::unique_ptr<WavFile> wav)
      : wav_(std::move(wav)), free_at_(AudioClock::now()) {}

  long advance(std::deque<QueuedBuffer>& queue, size_t first, OutputWait* wait) override {
    if (failed_) return -1;
    AudioClock::time_point now = AudioClock::now();
    long done = 0;
    *wait = OutputWait{};
    for (size_t i = first; i < queue.size(); ++i) {
      const QueuedBuffer& b = queue[i];
      // The end is computed from the previous end, not from when this thread woke
      // up, so late wake-ups never stretch the stream.
      AudioClock::time_point end = start_of(b) + play_time(b.bytes);
      if (end > now) {
        wait->timed = true;
        wait->until = end;
        break;
      }
      if (wav_ && wav_->append(b.pcm, b.bytes) != 0) return -1;
      free_at_ = end;
      ++done;
    }
    return done;
  }

  void drop(std::deque<QueuedBuffer>& queue, size_t first) override {
    AudioClock::time_point now = AudioClock::now();
    if (first < queue.size() && wav_) {
      const QueuedBuffer& b = queue[first];
      size_t played = bytes_played(now - start_of(b), b.bytes);
      if (wav_->append(b.pcm, played) != 0) failed_ = true;
    }
    // Whatever comes next starts from now, as on an idle device.
    free_at_ = now;
  }

  void wait(std::unique_lock<std::mutex>& lock, const OutputWait& wait) override {
    if (wait.timed)
      wake_.wait_until(lock, wait.until);
    else
      wake_.wait(lock);
  }

  void wake() override { wake_.notify_one(); }

 private:
  // A buffer starts when the one before it ended, or when it was written if the
  // device was idle then.
  AudioClock::time_point start_of(const QueuedBuffer& b) const {
    return b.queued > free_at_ ? b.queued : free_at_;
  }

  std::unique_ptr<WavFile> wav_;
  AudioClock::time_point free_at_;  // when the last buffer consumed ended (or the last reset)
  bool failed_ = false;             // the file could not be written
  std::condition_variable wake_;
};

}  // namespace

std::unique_ptr<AudioOutput> make_clock_output(std::unique_ptr<WavFile> wav) {
  return std::make_unique<ClockOutput>(std::move(wav));
}

}  // namespace virazav::platform::posix
