// The player's sound queue. The device reads each buffer in place until it
// reports it done, so a buffer is written again only after its report: with
// kSoundBuffers in turn, the slot of written_ is free while fewer than
// kSoundBuffers are outstanding.
#include "player/own/player_sound.h"

namespace virazav::player::own {

void PlayerSound::on_event(platform::AudioEvent event, void* user) {
  if (event != platform::AudioEvent::kDone) return;
  static_cast<PlayerSound*>(user)->done_.fetch_add(1);
}

bool PlayerSound::play(const uint8_t* pes, size_t length) {
  platform::MutexLock hold(mu_);
  if (device_ == nullptr) {
    // A device that cannot be opened is not tried again for every packet;
    // close() (a stop, a new open) clears the mark.
    if (open_failed_) return false;
    device_ = platform::audio_open(&PlayerSound::on_event, this);
    if (device_ == nullptr) {
      open_failed_ = true;
      return false;
    }
  }
  if (written_ - done_.load() >= kSoundBuffers) return false;
  uint8_t* pcm = pcm_[written_ % kSoundBuffers];
  const int bytes = decoder::adpcm_decode_to_pcm(pes, length, pcm);
  if (bytes <= 0) return false;
  if (platform::audio_write(device_, pcm, static_cast<size_t>(bytes)) != 0) return false;
  ++written_;
  return true;
}

void PlayerSound::drop() {
  platform::MutexLock hold(mu_);
  if (device_ != nullptr) platform::audio_reset(device_);
}

void PlayerSound::close() {
  platform::AudioDevice* device = nullptr;
  {
    platform::MutexLock hold(mu_);
    device = device_;
    device_ = nullptr;
    open_failed_ = false;
  }
  // The callback takes no lock of ours, but closing waits for its last report.
  platform::audio_close(device);
  platform::MutexLock hold(mu_);
  done_.store(written_);
}

int PlayerSound::queued() const {
  platform::MutexLock hold(mu_);
  return static_cast<int>(written_ - done_.load());
}

}  // namespace virazav::player::own
