// The audio output device on Linux: the choice of device from VIRAZAV_AUDIO, the
// queue of buffers written to it, and the device thread that plays them in order
// and reports each one done.
#include "platform/posix/audio_posix.h"

#include <thread>

#include "platform/platform.h"
#include "platform/posix/wav_file_posix.h"

namespace virazav::platform {

struct AudioDevice {
  AudioCallback callback = nullptr;
  void* user = nullptr;
  std::unique_ptr<posix::AudioOutput> output;
  std::thread thread;

  std::mutex mutex;
  // Every buffer written and not reported yet, oldest first.
  std::deque<posix::QueuedBuffer> queue;  // GUARDED_BY(mutex)
  // The first `finished` buffers of the queue are consumed or dropped and wait for
  // their report; the output plays the ones after them.
  size_t finished = 0;   // GUARDED_BY(mutex)
  bool failed = false;   // GUARDED_BY(mutex)
  bool closing = false;  // GUARDED_BY(mutex)
};

namespace {

constexpr const char* kAudioVariable = "VIRAZAV_AUDIO";
constexpr const char* kAlsaDefault = "default";

enum class DeviceKind {
  kNone,
  kNull,
  kWav,
  kAlsa,
  kAlsaIfOpens,  // the unset setting: ALSA's default PCM when it opens
};

struct DeviceChoice {
  DeviceKind kind = DeviceKind::kNone;
  std::string target;  // the WAV path or the ALSA PCM name
};

DeviceChoice read_choice() {
  std::string value;
  get_env(kAudioVariable, &value);
  if (value.empty()) return {DeviceKind::kAlsaIfOpens, kAlsaDefault};
  if (value == "none") return {DeviceKind::kNone, ""};
  if (value == "null") return {DeviceKind::kNull, ""};
  if (value == "alsa") return {DeviceKind::kAlsa, kAlsaDefault};
  const std::string wav = "wav:", alsa = "alsa:";
  if (value.size() > wav.size() && value.compare(0, wav.size(), wav) == 0)
    return {DeviceKind::kWav, value.substr(wav.size())};
  if (value.size() > alsa.size() && value.compare(0, alsa.size(), alsa) == 0)
    return {DeviceKind::kAlsa, value.substr(alsa.size())};
  return {DeviceKind::kNone, ""};
}

// Marks every buffer not finished yet as finished; the caller holds the lock.
void finish_all(AudioDevice* d) {
  if (d->finished < d->queue.size()) d->output->drop(d->queue, d->finished);
  d->finished = d->queue.size();
}

// The device thread: lets the output consume the queue, and makes the reports one
// at a time without the lock, so that a callback may wait for a lock whose holder
// is inside audio_write meanwhile.
void run_device(AudioDevice* d) {
  std::unique_lock<std::mutex> lock(d->mutex);
  for (;;) {
    posix::OutputWait wait;
    if (!d->failed && d->finished < d->queue.size()) {
      long done = d->output->advance(d->queue, d->finished, &wait);
      if (done < 0) {
        d->failed = true;
        finish_all(d);
      } else {
        d->finished += static_cast<size_t>(done);
      }
    }
    if (d->finished > 0) {
      d->queue.pop_front();
      --d->finished;
      lock.unlock();
      if (d->callback) d->callback(AudioEvent::kDone, d->user);
      lock.lock();
      continue;
    }
    if (d->closing && d->queue.empty()) return;
    d->output->wait(lock, wait);
  }
}

}  // namespace

namespace posix {

AudioDevice* real_audio_open(AudioCallback callback, void* user) {
  DeviceChoice choice = read_choice();
  std::unique_ptr<AudioOutput> output;
  switch (choice.kind) {
    case DeviceKind::kNone:
      return nullptr;
    case DeviceKind::kNull:
      output = make_clock_output(nullptr);
      break;
    case DeviceKind::kWav: {
      std::unique_ptr<WavFile> wav = WavFile::open(choice.target);
      if (wav == nullptr) return nullptr;
      output = make_clock_output(std::move(wav));
      break;
    }
    case DeviceKind::kAlsa:
      output = open_alsa_output(choice.target, false);
      break;
    case DeviceKind::kAlsaIfOpens:
      output = open_alsa_output(choice.target, true);
      break;
  }
  if (output == nullptr) return nullptr;

  auto* d = new AudioDevice;
  d->callback = callback;
  d->user = user;
  d->output = std::move(output);
  // std::thread reports a failed start by exception; it stops here.
  try {
    d->thread = std::thread(run_device, d);
  } catch (...) {
    delete d;
    return nullptr;
  }
  return d;
}

int real_audio_write(AudioDevice* d, const void* pcm, size_t bytes) {
  if (d == nullptr) return -1;
  bytes &= ~size_t{1};
  if (pcm == nullptr && bytes > 0) return -1;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->failed || d->closing) return -1;
    posix::QueuedBuffer b;
    b.pcm = static_cast<const uint8_t*>(pcm);
    b.bytes = bytes;
    b.queued = AudioClock::now();
    d->queue.push_back(b);
  }
  d->output->wake();
  return 0;
}

}  // namespace posix

int audio_device_count() {
  DeviceChoice choice = read_choice();
  switch (choice.kind) {
    case DeviceKind::kNone:
      return 0;
    case DeviceKind::kAlsaIfOpens:
      return posix::alsa_output_opens(choice.target) ? 1 : 0;
    default:
      return 1;
  }
}

std::string audio_device_name() {
  DeviceChoice choice = read_choice();
  switch (choice.kind) {
    case DeviceKind::kNone:
      return "none";
    case DeviceKind::kNull:
      return "null";
    case DeviceKind::kWav:
      return "wav:" + choice.target;
    case DeviceKind::kAlsa:
      return "alsa:" + choice.target;
    case DeviceKind::kAlsaIfOpens:
      return posix::alsa_output_opens(choice.target) ? "alsa:" + choice.target : "none";
  }
  return "none";
}

void audio_reset(AudioDevice* d) {
  if (d == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    finish_all(d);
  }
  d->output->wake();
}

void audio_close(AudioDevice* d) {
  if (d == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    finish_all(d);
    d->closing = true;
  }
  d->output->wake();
  // The thread makes the outstanding reports and ends once the queue is empty.
  d->thread.join();
  if (d->callback) d->callback(AudioEvent::kClose, d->user);
  delete d;
}

}  // namespace virazav::platform
