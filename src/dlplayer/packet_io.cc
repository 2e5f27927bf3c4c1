// Loading a packet of the stream file into the frame buffer, with the size
// checks that keep a damaged file from reaching outside the buffer, and
// decoding the packet loaded there.
#include "dlplayer/packet_io.h"

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/dataset_state.h"

namespace virazav::dlplayer {

int decode_loaded_frame() {
  uint8_t* fb = decoder::frame_buffer();
  if (fb == nullptr) return 0;
  CurrentPacket p = current_packet();
  size_t length = p.packet_size < p.loaded ? p.packet_size : p.loaded;
  if (length > decoder::kFrameBufferSize) length = decoder::kFrameBufferSize;
  return decoder::evaluate_result(decoder::decode_with_channel(p.channel, fb, length));
}

namespace detail {

size_t read_up_to(platform::File& file, uint8_t* data, size_t n) {
  size_t got = 0;
  while (got < n) {
    const long r = file.read(data + got, n - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

long load_packet(platform::File& file, const format::PacketHeader& h) {
  uint8_t* buffer = decoder::frame_buffer();
  if (buffer == nullptr || !file.is_open()) return -1;
  if (h.packet_size < format::kPacketHeaderBytes || h.packet_size > decoder::kFrameBufferSize)
    return -1;
  const size_t got = read_up_to(file, buffer, h.packet_size);
  if (got == 0) return -1;
  DataSetState& s = state();
  s.packet.channel = h.channel;
  s.packet.kind = h.kind;
  s.packet.packet_size = h.packet_size;
  s.packet.prev_size = h.prev_size;
  s.packet.loaded = static_cast<uint32_t>(got);
  s.packet.pts = format::packet_pts(buffer, got);
  s.last_read_offset = h.offset;
  return static_cast<long>(got);
}

}  // namespace detail
}  // namespace virazav::dlplayer
