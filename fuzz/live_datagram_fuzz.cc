// Live datagrams as a recorder (or anyone on the network) may send them, fed to a
// receive thread's assembly step and block completion without sockets, then
// the pictures taken as an application takes them.
//
// Input: byte 0 the display channel number (mod 17); byte 1 flags: bit 0 the
// audio switch, bits 1..2 the wave mode, bit 3 the output device open, bits 4..5
// the selected audio channel, bit 6 the receive thread (0 or 1), bit 7 take the
// pictures with kora_udp_rx afterwards; then datagrams, each a 16-bit
// little-endian length and that many bytes (cut at the end of the input). Each
// datagram lies in a buffer of exactly its size, so a read past it is caught.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/decore.h"
#include "live/assembly.h"
#include "live/live.h"
#include "live/live_state.h"
#include "virazav.h"

using namespace virazav;
using namespace virazav::live;

namespace {

void drop_trace(const char*, void*) {}

bool set_up() {
  // The bitmap writer's lines would only slow the fuzzer down.
  virazav_set_trace_handler(drop_trace, nullptr);
  detail::allocate_buffers();
  decode_init();
  decoder::set_core_pixel_limit(352 * 288);
  return true;
}

// Every input starts from empty slots, rings and groups.
void reset() {
  detail::LiveState& s = detail::state();
  for (detail::VideoSet& set : s.sets) {
    for (detail::VideoSlot& slot : set.slots) slot.state.store(detail::kSlotEmpty);
    platform::MutexLock lock(set.group_lock);
    for (detail::GroupRecord& r : set.group) r = detail::GroupRecord{};
  }
  for (detail::AudioRing& ring : s.rings) {
    for (detail::AudioSlot& slot : ring.slots) slot.state.store(detail::kSlotEmpty);
    ring.write_index.store(0);
    ring.read_index.store(0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = set_up();
  (void)ready;
  if (size < 2) return 0;
  reset();
  detail::LiveState& s = detail::state();
  const uint8_t flags = data[1];
  s.display_channel.store(data[0] % 17);
  s.audio_switch.store(flags & 1);
  s.audio.wave_mode.store((flags >> 1) & 3);
  s.audio.device_state.store((flags & 8) ? kDeviceOpen : kDeviceNone);
  s.audio.selected_channel[0].store((flags >> 4) & 3);
  s.audio.selected_channel[1].store((flags >> 4) & 3);

  detail::Assembler assembler((flags >> 6) & 1);
  size_t at = 2;
  while (at + 2 <= size) {
    size_t n = data[at] | (data[at + 1] << 8);
    at += 2;
    if (n > size - at) n = size - at;
    std::vector<uint8_t> datagram(data + at, data + at + n);
    assembler.take(datagram.empty() ? nullptr : datagram.data(), datagram.size());
    at += n;
  }
  if (flags & 0x80) {
    for (int set = 0; set < 2; ++set) {
      for (int ch = 0; ch < 16; ++ch) udp_rx(ch, set);
    }
  }
  return 0;
}
