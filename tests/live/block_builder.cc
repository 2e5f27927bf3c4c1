// Builder of live blocks and datagrams for the tests.
#include "live/block_builder.h"

#include <algorithm>

namespace virazav::testing {
namespace {

void put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

Bytes video_block(const VideoHeader& h, const std::vector<Bytes>& packets, int64_t length_field) {
  Bytes b(128, 0);
  put16(b, 0, static_cast<uint32_t>(h.channel) << 12);
  put32(b, 8, h.time_value);
  put16(b, 12, h.time_word);
  b[15] = static_cast<uint8_t>(h.type);
  put16(b, 16, h.status_word);
  b[22] = h.status_byte;
  b[23] = h.ptz[0];
  b[24] = h.ptz[1];
  b[25] = h.ptz[2];
  for (const Bytes& p : packets) {
    size_t units = (p.size() + 31) / 32;
    size_t at = b.size();
    b.resize(at + 6 + units * 32, 0);
    put16(b, at + 2, static_cast<uint32_t>(units));
    std::copy(p.begin(), p.end(), b.begin() + static_cast<long>(at + 6));
  }
  put32(b, 4,
        length_field >= 0 ? static_cast<uint32_t>(length_field) : static_cast<uint32_t>(b.size()));
  return b;
}

Bytes audio_block(int type, const std::vector<SubBlock>& subs, int count_byte) {
  Bytes b;
  for (size_t k = 0; k < subs.size(); ++k) {
    const SubBlock& s = subs[k];
    size_t at = b.size();
    size_t length = s.packet.size();
    b.resize(at + 72 + length + length % 4, 0);
    put16(b, at, static_cast<uint32_t>(s.channel));
    put32(b, at + 4, static_cast<uint32_t>(length));
    put32(b, at + 8, s.time_value);
    put16(b, at + 12, s.time_word);
    b[at + 15] = static_cast<uint8_t>(type);
    b[at + 22] = s.flags;
    b[at + 23] = s.sequence;
    if (k == 0) b[at + 24] = static_cast<uint8_t>(count_byte >= 0 ? count_byte : subs.size());
    std::copy(s.packet.begin(), s.packet.end(), b.begin() + static_cast<long>(at + 72));
  }
  return b;
}

Bytes datagram(uint8_t number, uint8_t index, uint8_t count, uint8_t stream, uint32_t stride,
               const Bytes& payload) {
  Bytes d(8 + payload.size(), 0);
  d[0] = number;
  d[1] = index;
  d[2] = count;
  d[3] = stream;
  put32(d, 4, stride);
  std::copy(payload.begin(), payload.end(), d.begin() + 8);
  return d;
}

std::vector<Bytes> fragments(const Bytes& block, uint8_t number, uint8_t stream, uint32_t stride) {
  std::vector<Bytes> out;
  size_t count = (block.size() + stride - 1) / stride;
  for (size_t i = 0; i < count; ++i) {
    size_t from = i * stride;
    size_t to = std::min(block.size(), from + stride);
    out.push_back(datagram(
        number, static_cast<uint8_t>(i), static_cast<uint8_t>(count), stream, stride,
        Bytes(block.begin() + static_cast<long>(from), block.begin() + static_cast<long>(to))));
  }
  return out;
}

Bytes adpcm_codes(uint8_t value) {
  return Bytes(2048, value);
}

}  // namespace virazav::testing
