// Test builder of stream files and their packets, made with the library's own
// stream-format helpers (docs/formats/stream-file.md): video packets carrying
// an MPEG-4 bit-stream, audio packets carrying 2048 bytes of ADPCM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace virazav::testing {

// A video packet of `channel`: PES header with the time stamp (and a DTS when
// `with_dts`; the DTS is then pts + 3000 and is the packet's stamp), the two
// private fields, then `payload`.
std::vector<uint8_t> make_video_packet(int channel, uint32_t pts,
                                       const std::vector<uint8_t>& payload, uint32_t prev_size = 0,
                                       bool with_dts = false);
// An audio packet of `channel`: 64-byte header with state B (predictor,
// index) at bytes 60..62, then `adpcm` (normally 2048 bytes).
std::vector<uint8_t> make_audio_packet(int channel, uint32_t pts, const std::vector<uint8_t>& adpcm,
                                       int16_t predictor = 0, uint8_t step_index = 0,
                                       uint32_t prev_size = 0);

// Collects packets behind a pack header (SCR = `scr`) and stream map.
class StreamBuilder {
 public:
  explicit StreamBuilder(uint32_t scr = 0, bool with_header = true);
  // Appends a packet; returns its offset.
  int64_t add(const std::vector<uint8_t>& packet);
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& mutable_bytes() { return bytes_; }
  // Writes the file; returns false on failure.
  bool write(const std::string& path) const;

 private:
  std::vector<uint8_t> bytes_;
};

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_file(const std::string& path);

}  // namespace virazav::testing
