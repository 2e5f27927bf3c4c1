// The walk over a block the player takes: a run of disk packets, each a
// 48-byte packet header followed by one PES packet (docs/formats/recorder-disk.md),
// read one after the other with every length checked against the block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace virazav::player::own {

struct BlockPacket {
  const uint8_t* pes = nullptr;  // the PES packet, from its start code
  size_t length = 0;             // its bytes (the packet header's payload length)
  bool audio = false;            // C0+n sound; otherwise E0+n pictures
  int channel = 0;               // the recorder channel of the stream id (0..15)
  bool key = false;              // the packet header marks a key picture
  bool has_stamp = false;        // the PES header carries a time stamp
  uint32_t stamp = 0;            // its DTS (pictures) or PTS (sound), 90 kHz, low 32 bits
};

enum class WalkStep {
  kPacket,   // *out holds the next packet
  kEnd,      // the block ends here: its last byte, the end marker 0xFFFF, or zeros to its end
  kDamaged,  // a packet that does not fit, an unknown marker or a payload that is not
             // a PES packet of its kind; the rest of the block cannot be walked
};

class BlockWalk {
 public:
  BlockWalk(const uint8_t* data, size_t length) : data_(data), length_(length) {}
  // Reads the packet at the walk's position and moves past it.
  WalkStep next(BlockPacket* out);

 private:
  const uint8_t* data_;
  size_t length_;
  size_t offset_ = 0;
  bool done_ = false;
};

}  // namespace virazav::player::own
