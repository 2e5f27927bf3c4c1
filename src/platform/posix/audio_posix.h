// The pieces of the audio output device on Linux: the queue entry that the device
// thread plays, the output interface behind it (a running clock for null and wav,
// ALSA), and the operations of the platform's table.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio.h"

namespace virazav::platform::posix {

using AudioClock = std::chrono::steady_clock;

// One buffer that audio_write queued and the device has not reported yet.
struct QueuedBuffer {
  const uint8_t* pcm = nullptr;
  size_t bytes = 0;                 // even: an odd last byte is not played
  AudioClock::time_point queued{};  // when audio_write took it
  size_t sent = 0;                  // bytes handed to ALSA so far
  bool all_sent = false;            // every byte handed over; end_frame is set
  uint64_t end_frame = 0;           // ALSA position just past the buffer's last frame
};

// When the device thread looks at its output again; a wake-up (a write, a reset,
// the close) always ends the wait early.
struct OutputWait {
  bool timed = false;              // false: only a wake-up ends it
  AudioClock::time_point until{};  // with timed
  bool device_ready = false;       // also when the sound device takes more frames
};

// The consuming end of a device. The device thread calls advance() and the
// resetting thread drop(), both with the device's lock held; buffers are read only
// inside these calls, so once the lock is released after drop() none of the
// dropped ones is read again. wait() releases the lock while it waits.
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Consumes what it can of queue[first..] (oldest first; new buffers join at the
  // back), stores in *wait when to look again and returns how many buffers from
  // queue[first] on are consumed completely, or -1 when the output has failed.
  virtual long advance(std::deque<QueuedBuffer>& queue, size_t first, OutputWait* wait) = 0;
  // Stops reading queue[first..] at once; the oldest counts as played up to now.
  virtual void drop(std::deque<QueuedBuffer>& queue, size_t first) = 0;
  // Releases `lock` until `wait` is met or wake() is called, then takes it again.
  virtual void wait(std::unique_lock<std::mutex>& lock, const OutputWait& wait) = 0;
  // Ends the current or the next wait. Safe with or without the device's lock.
  virtual void wake() = 0;
};

class WavFile;

// The null device (`wav` nullptr) or the wav device: consumes 16,000 bytes a
// second on a running clock and appends what it consumed to `wav`.
std::unique_ptr<AudioOutput> make_clock_output(std::unique_ptr<WavFile> wav);

// Opens the ALSA PCM `name` for 8000 Hz mono S16_LE. With `quiet`, ALSA's own
// error lines are kept off standard error (the probe of the unset setting).
// Returns nullptr when it cannot be opened or set up.
std::unique_ptr<AudioOutput> open_alsa_output(const std::string& name, bool quiet);
// Tells whether the ALSA PCM `name` opens now (it is closed again at once);
// ALSA's error lines are kept off standard error.
bool alsa_output_opens(const std::string& name);

// The real operations of the platform's table.
AudioDevice* real_audio_open(AudioCallback callback, void* user);
int real_audio_write(AudioDevice* device, const void* pcm, size_t bytes);

}  // namespace virazav::platform::posix
