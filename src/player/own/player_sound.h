// The player's sound: decoded packets of the sound channel queued on the
// player's own open of the audio device (VIRAZAV_AUDIO), at most kSoundBuffers
// of them at a time; a packet that finds them all queued is dropped.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "decoder/decoder.h"
#include "platform/audio.h"
#include "platform/mutex.h"

namespace virazav::player::own {

inline constexpr int kSoundBuffers = 8;

class PlayerSound {
 public:
  PlayerSound() = default;
  ~PlayerSound() { close(); }
  PlayerSound(const PlayerSound&) = delete;
  PlayerSound& operator=(const PlayerSound&) = delete;

  // Decodes one sound packet (its PES packet) and queues it; opens the device on
  // first use. Returns true when queued; false when there is no device, the
  // packet does not decode, or every buffer is queued.
  bool play(const uint8_t* pes, size_t length);
  // Drops every queued buffer (silence at once); the device stays open.
  void drop();
  // Drops the sound and closes the device; the next play opens it again.
  void close();
  // Buffers written and not yet reported done.
  int queued() const;

 private:
  static void on_event(platform::AudioEvent event, void* user);

  mutable platform::Mutex mu_;
  platform::AudioDevice* device_ VZ_GUARDED_BY(mu_) = nullptr;
  bool open_failed_ VZ_GUARDED_BY(mu_) = false;
  uint64_t written_ VZ_GUARDED_BY(mu_) = 0;
  uint8_t pcm_[kSoundBuffers][decoder::kPcmPacketBytes] VZ_GUARDED_BY(mu_) = {};
  std::atomic<uint64_t> done_{0};  // reports from the device's thread
};

}  // namespace virazav::player::own
