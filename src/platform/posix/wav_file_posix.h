// The PCM WAV file that the wav audio device appends what it plays to: a 44-byte
// header (RIFF/WAVE, a 16-byte fmt chunk of PCM, 1 channel, 8000 Hz, 16 bits, then
// the data chunk) followed by the samples, with both sizes kept valid after every
// append (docs/formats/wav-output.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace virazav::platform::posix {

inline constexpr size_t kWavHeaderBytes = 44;
// The most sample bytes (even) that the header's 32-bit sizes can state, the RIFF
// size being 36 + the data size.
inline constexpr uint32_t kWavMaxDataBytes = 0xFFFFFFFFu - 36u - 1u;

class WavFile {
 public:
  // Opens `path` for appending. A file that is a WAV file of this format keeps its
  // samples (as many whole samples as its data chunk states and the file holds;
  // anything after them is cut off); a missing file is created and anything else
  // is replaced. Returns nullptr when the file cannot be opened or written.
  static std::unique_ptr<WavFile> open(const std::string& path);
  ~WavFile();
  WavFile(const WavFile&) = delete;
  WavFile& operator=(const WavFile&) = delete;

  // Appends `bytes` (even) bytes of samples and then updates the header, so that a
  // reader sees a valid file before and after. Bytes beyond kWavMaxDataBytes are not
  // kept. Returns 0, or -1 when the file could not be written.
  int append(const uint8_t* pcm, size_t bytes);
  // Sample bytes in the file.
  uint32_t data_bytes() const { return data_bytes_; }

 private:
  explicit WavFile(FileHandle file) : file_(file) {}
  int write_header();

  FileHandle file_;
  uint32_t data_bytes_ = 0;
};

}  // namespace virazav::platform::posix
