// The audio output device behind the platform door: one PCM output of 8000 mono
// 16-bit samples a second that plays buffers in the order they are written and
// reports each one done, on a thread of its own, once it has been consumed. The
// library's audio output thread (live sound, the playback ring) and the player
// all play through it; nothing else in the library touches a sound system.
//
// Which device there is follows VIRAZAV_AUDIO, read at every audio_device_count()
// and audio_open() call (an application may change it at any time):
//   none          no output device
//   null          a device that consumes 16,000 bytes a second and keeps nothing
//   wav:<path>    as null, and every byte it consumes is appended to the PCM WAV
//                 file <path> (created when missing or not a WAV file of this
//                 format; the header is kept valid after every buffer)
//   alsa          ALSA's PCM "default"
//   alsa:<pcm>    the ALSA PCM of that name ("null", "hw:0,0", "plughw:1", ...)
//   unset/empty   ALSA's "default" when it opens, else none
// Any other value counts as none ("wav:" and "alsa:" with nothing after the colon
// included). null and wav: play on a running clock: a buffer begins when the one
// before it ends, or when it is written if the device was idle, and is done
// bytes / 16 ms later, so buffers follow one another without gaps or drift. An
// ALSA device reports a buffer done once ALSA has played its last sample.
//
// A device fails when its output does (the sound device goes away, the WAV file
// cannot be written): every buffer queued then is reported done without being
// played further, and audio_write returns -1 from then on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace virazav::platform {

inline constexpr int kAudioSampleRate = 8000;
inline constexpr int kAudioChannels = 1;
inline constexpr int kAudioBitsPerSample = 16;
inline constexpr int kAudioBytesPerSecond = 16000;

// What a device reports through its callback.
enum class AudioEvent {
  kDone,   // the oldest buffer not yet reported has been consumed (or dropped by a reset)
  kClose,  // the device is closing; sent once, as the last call, from audio_close
};
// Called on the device's own thread (kDone) or on the thread in audio_close (kClose),
// one call at a time. It may take locks of its own; it must not call audio_write,
// audio_reset or audio_close.
using AudioCallback = void (*)(AudioEvent event, void* user);

struct AudioDevice;  // opaque

// Reads VIRAZAV_AUDIO and returns the number of output devices it names: 1, or 0
// for none (for the unset form, 1 only when ALSA's "default" PCM opens now).
int audio_device_count();

// Returns the device setting in its canonical form for messages and logs ("none",
// "null", "wav:/tmp/out.wav", "alsa:default", ...), as VIRAZAV_AUDIO reads now;
// the unset form gives "alsa:default" when that PCM opens now, else "none".
std::string audio_device_name();

// Opens the device that VIRAZAV_AUDIO names now for 8000 Hz mono 16-bit PCM, with
// `callback` and `user` for its reports. Returns the device, or nullptr when there
// is none or it cannot be opened (no callback is ever made then).
AudioDevice* audio_open(AudioCallback callback, void* user);

// Queues `bytes` bytes of PCM (16-bit little-endian samples; an odd last byte is
// ignored) behind the buffers already queued. The bytes are read in place, not
// copied: they must stay valid and unchanged until the buffer is reported done.
// A buffer of 0 bytes is reported done at once, in its turn. Never calls the
// callback nor waits for it. Returns 0, or -1 (nothing queued, no report) when
// the device has failed or is null, or `pcm` is null with bytes to read.
int audio_write(AudioDevice* device, const void* pcm, size_t bytes);

// Stops playing: every buffer still queued (the one being played included) is
// dropped and reported done, in order, without further reading of its bytes.
// Returns once the device reads none of them any more; the reports may still
// be on their way (it never waits for the callback, so it may be called while
// holding a lock the callback takes). The device stays open and takes new buffers.
void audio_reset(AudioDevice* device);

// Resets the device, waits until every report is made, makes the kClose report,
// and frees the device (a WAV file gets its final header and is closed). nullptr
// is ignored. Must not be called from the callback, nor while holding a lock the
// callback takes.
void audio_close(AudioDevice* device);

}  // namespace virazav::platform
