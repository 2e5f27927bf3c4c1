// Test builder of live blocks and their datagrams, written from the layouts of
// docs/formats/live-stream.md with plain byte arithmetic (not with the
// receiver's own constants), so that the tests check the receiver against the
// layout and not against itself.
#pragma once

#include <cstdint>
#include <vector>

namespace virazav::testing {

using Bytes = std::vector<uint8_t>;

struct VideoHeader {
  int type = 0;  // 0 set 0, 1 set 1 (or anything else)
  int channel = 0;
  uint32_t time_value = 0;
  uint16_t time_word = 0;
  uint16_t status_word = 0;
  uint8_t status_byte = 0;
  uint8_t ptz[3] = {0, 0, 0};
};

// A video block: 28-byte header, 100 further bytes, then one record per packet
// (6-byte header with the packet's length in 32-byte units, the packet padded
// with zeros to a multiple of 32). The length field is the block's length
// (where the records end) unless `length_field` is given.
Bytes video_block(const VideoHeader& h, const std::vector<Bytes>& packets,
                  int64_t length_field = -1);

struct SubBlock {
  int channel = 0;  // word 0
  Bytes packet;     // the audio data (an audio packet)
  uint8_t flags = 0;
  uint8_t sequence = 0;
  uint32_t time_value = 0;
  uint16_t time_word = 0;
};
// An audio block of `type` (2 or 3): the sub-blocks back to back, each a
// 28-byte header, 44 zero bytes and its data, the next one 4-byte aligned.
// `count_byte` is byte 24 of the first sub-block (default: the number given).
Bytes audio_block(int type, const std::vector<SubBlock>& subs, int count_byte = -1);

// Cuts a block into datagrams of `stride` payload bytes.
std::vector<Bytes> fragments(const Bytes& block, uint8_t number, uint8_t stream, uint32_t stride);
// One datagram with the given header fields and payload.
Bytes datagram(uint8_t number, uint8_t index, uint8_t count, uint8_t stream, uint32_t stride,
               const Bytes& payload);

// 2048 bytes of ADPCM codes of a constant step pattern (decodes to a ramp).
Bytes adpcm_codes(uint8_t value);

}  // namespace virazav::testing
