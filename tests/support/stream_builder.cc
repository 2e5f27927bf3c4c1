// Test builder of stream files: pack header, stream map and packets written
// with the library's stream-format helpers.
#include "support/stream_builder.h"

#include <cstdio>

#include "format/bytes.h"
#include "format/stream_format.h"

namespace virazav::testing {
namespace {

namespace fmt = virazav::format;

// Time stamp coding: 4-bit prefix, bits 32..30, marker, 15 bits, marker, 15
// bits, marker.
void put_time_stamp(uint8_t* p, uint8_t prefix, uint64_t v) {
  p[0] = static_cast<uint8_t>((prefix << 4) | (((v >> 30) & 7) << 1) | 1);
  p[1] = static_cast<uint8_t>(v >> 22);
  p[2] = static_cast<uint8_t>((((v >> 15) & 0x7F) << 1) | 1);
  p[3] = static_cast<uint8_t>(v >> 7);
  p[4] = static_cast<uint8_t>(((v & 0x7F) << 1) | 1);
}

// A PES packet of stream `id` whose header data runs to byte header_end.
std::vector<uint8_t> make_packet(uint8_t id, uint32_t pts, bool with_dts, size_t header_end,
                                 const std::vector<uint8_t>& payload, uint32_t prev_size) {
  std::vector<uint8_t> p(header_end + payload.size(), 0xFF);
  p[0] = 0, p[1] = 0, p[2] = 1, p[3] = id;
  size_t pes_length = p.size() - 6;
  if (pes_length > 0xFFFF) pes_length = 0;
  p[4] = static_cast<uint8_t>(pes_length >> 8);
  p[5] = static_cast<uint8_t>(pes_length);
  p[6] = 0x80;
  p[7] = with_dts ? 0xC0 : 0x80;
  p[8] = static_cast<uint8_t>(header_end - 9);
  if (with_dts) {
    put_time_stamp(&p[9], 3, pts);
    put_time_stamp(&p[14], 1, pts + 3000u);
  } else {
    put_time_stamp(&p[9], 2, pts);
  }
  fmt::encode_field22(prev_size, &p[fmt::kPrevSizeOffset]);
  fmt::encode_field22(static_cast<uint32_t>(p.size()), &p[fmt::kPacketSizeOffset]);
  std::copy(payload.begin(), payload.end(), p.begin() + static_cast<long>(header_end));
  return p;
}

}  // namespace

std::vector<uint8_t> make_video_packet(int channel, uint32_t pts,
                                       const std::vector<uint8_t>& payload, uint32_t prev_size,
                                       bool with_dts) {
  return make_packet(static_cast<uint8_t>(fmt::kVideoStreamBase + channel), pts, with_dts,
                     fmt::kPacketHeaderBytes, payload, prev_size);
}

std::vector<uint8_t> make_audio_packet(int channel, uint32_t pts, const std::vector<uint8_t>& adpcm,
                                       int16_t predictor, uint8_t step_index, uint32_t prev_size) {
  std::vector<uint8_t> p = make_packet(static_cast<uint8_t>(fmt::kAudioStreamBase + channel), pts,
                                       false, 64, adpcm, prev_size);
  fmt::store_le16(&p[56], static_cast<uint16_t>(predictor));  // state A (not used in mono)
  p[58] = step_index;
  fmt::store_le16(&p[60], static_cast<uint16_t>(predictor));
  p[62] = step_index;
  return p;
}

StreamBuilder::StreamBuilder(uint32_t scr, bool with_header) {
  if (!with_header) return;
  bytes_.resize(fmt::kStreamHeaderSize);
  fmt::write_pack_header(scr, bytes_.data());
  fmt::write_stream_map(0xFFFF, 0xF, bytes_.data() + fmt::kPackHeaderSize);
}

int64_t StreamBuilder::add(const std::vector<uint8_t>& packet) {
  int64_t at = static_cast<int64_t>(bytes_.size());
  bytes_.insert(bytes_.end(), packet.begin(), packet.end());
  return at;
}

bool StreamBuilder::write(const std::string& path) const {
  return write_file(path, bytes_);
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

}  // namespace virazav::testing
