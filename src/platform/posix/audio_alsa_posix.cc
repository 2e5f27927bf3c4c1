// The ALSA audio output: a PCM opened non-blocking for 8000 Hz mono S16_LE that the
// device thread fills with snd_pcm_writei and watches through its poll descriptors,
// reporting a buffer once ALSA has played its last frame.
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <iterator>

// libasound 1.2.8 declares snd_lib_error_set_local outside its extern "C" block;
// the wrapper gives it C linkage (the system headers it pulls in are included above).
extern "C" {
#include <alsa/asoundlib.h>
}

#include "platform/posix/audio_posix.h"

namespace virazav::platform::posix {
namespace {

// A period of 40 ms and four of them in the buffer: short enough that a reset is
// heard at once, long enough that a busy machine does not underrun between turns.
constexpr unsigned kPeriodMicroseconds = 40000;
constexpr unsigned kBufferMicroseconds = 160000;
constexpr int kBytesPerFrame = kAudioChannels * kAudioBitsPerSample / 8;
// Recoveries within one turn before the device counts as failed (a device that
// underruns again at once is not coming back).
constexpr int kMaxRecoveriesPerTurn = 4;

void quiet_error(const char*, int, const char*, int, const char*, va_list) {}

// Keeps ALSA's own error lines off standard error on this thread while it lives.
class QuietErrors {
 public:
  explicit QuietErrors(bool on) : on_(on) {
    if (on_) previous_ = snd_lib_error_set_local(quiet_error);
  }
  ~QuietErrors() {
    if (on_) snd_lib_error_set_local(previous_);
  }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  bool on_;
  snd_local_error_handler_t previous_ = nullptr;
};

int open_pcm(const std::string& name, bool quiet, snd_pcm_t** pcm) {
  QuietErrors silence(quiet);
  return snd_pcm_open(pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
}

// Sets the format, the rate (exactly 8000 Hz: a device that cannot play it is
// named through a plug PCM, "plughw:..."), the period and the buffer. Stores the
// sizes ALSA chose. Returns 0 or a negative ALSA error.
int set_up(snd_pcm_t* pcm, snd_pcm_uframes_t* buffer_frames, snd_pcm_uframes_t* period_frames) {
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  int r = snd_pcm_hw_params_any(pcm, hw);
  if (r >= 0) r = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (r >= 0) r = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE);
  if (r >= 0) r = snd_pcm_hw_params_set_channels(pcm, hw, kAudioChannels);
  if (r >= 0) r = snd_pcm_hw_params_set_rate(pcm, hw, kAudioSampleRate, 0);
  unsigned buffer_us = kBufferMicroseconds, period_us = kPeriodMicroseconds;
  int dir = 0;
  if (r >= 0) r = snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_us, &dir);
  if (r >= 0) r = snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_us, &dir);
  if (r >= 0) r = snd_pcm_hw_params(pcm, hw);
  if (r >= 0) r = snd_pcm_get_params(pcm, buffer_frames, period_frames);
  if (r < 0) return r;

  // The device thread starts the PCM itself once it has handed over what it has,
  // so a short last buffer plays too; the threshold only saves it the call.
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  r = snd_pcm_sw_params_current(pcm, sw);
  if (r >= 0) r = snd_pcm_sw_params_set_start_threshold(pcm, sw, *period_frames);
  if (r >= 0) r = snd_pcm_sw_params_set_avail_min(pcm, sw, *period_frames);
  if (r >= 0) r = snd_pcm_sw_params(pcm, sw);
  return r;
}

class AlsaOutput final : public AudioOutput {
 public:
  AlsaOutput(snd_pcm_t* pcm, int wake_fd, snd_pcm_uframes_t buffer_frames)
      : pcm_(pcm), wake_fd_(wake_fd), buffer_frames_(buffer_frames) {}

  ~AlsaOutput() override {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    ::close(wake_fd_);
  }

  long advance(std::deque<QueuedBuffer>& queue, size_t first, OutputWait* wait) override {
    *wait = OutputWait{};
    if (failed_ || !sync_position()) return -1;

    // Hand over as many frames as ALSA takes, buffer after buffer.
    bool full = false;
    int recoveries = 0;
    for (size_t i = first; i < queue.size() && !full; ++i) {
      QueuedBuffer& b = queue[i];
      while (b.sent < b.bytes) {
        snd_pcm_sframes_t n =
            snd_pcm_writei(pcm_, b.pcm + b.sent, (b.bytes - b.sent) / kBytesPerFrame);
        if (n == -EAGAIN) {
          full = true;
          break;
        }
        if (n < 0) {
          if (++recoveries > kMaxRecoveriesPerTurn || !recover(static_cast<int>(n))) return -1;
          continue;
        }
        b.sent += static_cast<size_t>(n) * kBytesPerFrame;
        written_ += static_cast<uint64_t>(n);
      }
      if (b.sent == b.bytes && !b.all_sent) {
        b.all_sent = true;
        b.end_frame = written_;
      }
    }
    // Below the start threshold ALSA would wait for more; there is no more now.
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && written_ > played_) {
      int r = snd_pcm_start(pcm_);
      if (r < 0 && !recover(r)) return -1;
    }
    if (!sync_position()) return -1;

    long done = 0;
    size_t i = first;
    for (; i < queue.size() && queue[i].all_sent && queue[i].end_frame <= played_; ++i) ++done;
    if (full) {
      // Woken by ALSA when a period is free; the time-out only guards against a
      // device that stops signalling.
      wait->device_ready = true;
      wait->timed = true;
      wait->until = AudioClock::now() + 2 * frames_time(buffer_frames_);
    } else if (i < queue.size()) {
      // Everything is handed over: wake up when the oldest buffer's last frame is
      // due to be played.
      wait->timed = true;
      wait->until = AudioClock::now() + frames_time(queue[i].end_frame - played_);
    }
    return done;
  }

  void drop(std::deque<QueuedBuffer>&, size_t) override {
    // What ALSA holds is thrown away; the device thread reads the queued buffers only
    // under the device's lock, so none is read after this.
    int r = snd_pcm_drop(pcm_);
    if (r >= 0) r = snd_pcm_prepare(pcm_);
    if (r < 0) failed_ = true;
    played_ = written_;
    ++drops_;
  }

  void wait(std::unique_lock<std::mutex>& lock, const OutputWait& wait) override {
    pollfd fds[8];
    fds[0] = pollfd{wake_fd_, POLLIN, 0};
    int device_fds = 0;
    if (wait.device_ready) {
      int n = snd_pcm_poll_descriptors_count(pcm_);
      if (n > 0 && n < static_cast<int>(std::size(fds)))
        device_fds = snd_pcm_poll_descriptors(pcm_, fds + 1, static_cast<unsigned>(n));
      if (device_fds < 0) device_fds = 0;
    }
    int timeout_ms = -1;
    if (wait.timed) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(wait.until - AudioClock::now());
      timeout_ms = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    unsigned drops = drops_;
    lock.unlock();
    int r = ::poll(fds, static_cast<nfds_t>(1 + device_fds), timeout_ms);
    if (r > 0 && (fds[0].revents & POLLIN)) {
      uint64_t count;
      ssize_t got = ::read(wake_fd_, &count, sizeof count);
      (void)got;
    }
    lock.lock();
    // Some PCMs clear their own poll state only when asked what the events mean;
    // after a reset the events are stale and the next turn looks afresh anyway.
    if (r > 0 && device_fds > 0 && drops == drops_) {
      unsigned short revents = 0;
      snd_pcm_poll_descriptors_revents(pcm_, fds + 1, static_cast<unsigned>(device_fds), &revents);
    }
  }

  void wake() override {
    uint64_t one = 1;
    ssize_t put;
    do put = ::write(wake_fd_, &one, sizeof one);
    while (put < 0 && errno == EINTR);
  }

 private:
  static AudioClock::duration frames_time(uint64_t frames) {
    return std::chrono::microseconds(frames * 1000000 / kAudioSampleRate + 1000);
  }

  // Brings played_ up to where ALSA stands. An underrun or a suspend means that
  // everything handed over has been played (or is lost): the PCM is prepared again.
  // Returns false when the device has failed.
  bool sync_position() {
    snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
    if (avail < 0) {
      if (avail != -EPIPE && avail != -ESTRPIPE) return false;
      return recover(static_cast<int>(avail));
    }
    uint64_t held = static_cast<uint64_t>(avail) >= buffer_frames_
                        ? 0
                        : buffer_frames_ - static_cast<uint64_t>(avail);
    if (held > written_ - played_) held = written_ - played_;
    if (written_ - held > played_) played_ = written_ - held;
    return true;
  }

  bool recover(int error) {
    played_ = written_;
    // A suspended device is prepared afresh rather than resumed: what it held is
    // counted as played already, and resuming may take seconds of retrying.
    int r = error == -ESTRPIPE ? snd_pcm_prepare(pcm_) : snd_pcm_recover(pcm_, error, 1);
    return r >= 0;
  }

  snd_pcm_t* pcm_;
  int wake_fd_;
  uint64_t buffer_frames_;
  uint64_t written_ = 0;  // frames handed to ALSA since the open
  uint64_t played_ = 0;   // of those, the frames played or thrown away
  unsigned drops_ = 0;    // resets so far
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<AudioOutput> open_alsa_output(const std::string& name, bool quiet) {
  snd_pcm_t* pcm = nullptr;
  if (open_pcm(name, quiet, &pcm) < 0) return nullptr;
  snd_pcm_uframes_t buffer_frames = 0, period_frames = 0;
  int wake_fd = -1;
  if (set_up(pcm, &buffer_frames, &period_frames) < 0 ||
      (wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) {
    snd_pcm_close(pcm);
    return nullptr;
  }
  return std::make_unique<AlsaOutput>(pcm, wake_fd, buffer_frames);
}

bool alsa_output_opens(const std::string& name) {
  snd_pcm_t* pcm = nullptr;
  if (open_pcm(name, true, &pcm) < 0) return false;
  snd_pcm_close(pcm);
  return true;
}

}  // namespace virazav::platform::posix
