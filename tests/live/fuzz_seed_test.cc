// The live datagram fuzz target's input format holds everything a receive
// thread needs: seeds made from real blocks file their blocks when read back the
// way the target reads them. With VIRAZAV_FUZZ_SEED_DIR set (the corpus folder),
// the seeds are also written there for live_datagram_fuzz.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "live/assembly.h"
#include "live/block_builder.h"
#include "live/live_state.h"
#include "support/mpeg4_material.h"
#include "support/stream_builder.h"

namespace virazav::live {
namespace {

using testing::Bytes;

// The target's input: display channel, flags, then length-prefixed datagrams.
Bytes seed(uint8_t display, uint8_t flags, const std::vector<Bytes>& datagrams) {
  Bytes out = {display, flags};
  for (const Bytes& d : datagrams) {
    out.push_back(static_cast<uint8_t>(d.size()));
    out.push_back(static_cast<uint8_t>(d.size() >> 8));
    out.insert(out.end(), d.begin(), d.end());
  }
  return out;
}

// Reads a seed back as the target does and feeds the datagrams.
void feed_seed(const Bytes& input, detail::Assembler& assembler) {
  size_t at = 2;
  while (at + 2 <= input.size()) {
    size_t n = input[at] | (input[at + 1] << 8);
    at += 2;
    n = std::min(n, input.size() - at);
    assembler.take(input.data() + at, n);
    at += n;
  }
}

struct Seed {
  std::string name;
  Bytes input;
};

std::vector<Seed> seeds() {
  auto pictures = testing::encode_mpeg4(176, 144, 4, 1, 4);
  std::vector<Bytes> packets;
  for (int k = 0; k < 4; ++k) {
    packets.push_back(testing::make_video_packet(1, 9000u * k, pictures[k].bits));
  }
  testing::VideoHeader h;
  h.channel = 1;
  Bytes group = testing::video_block(h, packets);
  auto in_order = testing::fragments(group, 1, 0, 1400);
  std::vector<Bytes> reversed(in_order.rbegin(), in_order.rend());

  std::vector<testing::SubBlock> subs;
  for (int c = 0; c < 4; ++c) {
    subs.push_back({c, testing::make_audio_packet(c, 0, testing::adpcm_codes(0x35)), 0, 7});
  }
  Bytes audio = testing::audio_block(2, subs);
  // Flags: audio switch on, wave mode 1, device open, channel 2, pictures taken.
  const uint8_t audio_flags = 1 | (1 << 1) | 8 | (2 << 4) | 0x80;
  return {
      {"group_in_order", seed(2, 0x80, in_order)},
      {"group_reversed", seed(2, 0x80, reversed)},
      {"audio_four_channels", seed(0, audio_flags, testing::fragments(audio, 1, 1, 1000))},
  };
}

TEST(LiveFuzzSeeds, EachSeedFilesItsBlocksWhenReadAsTheTargetReadsIt) {
  ASSERT_EQ(detail::allocate_buffers(), 0);
  ASSERT_EQ(decoder::adpcm_init(decoder::kAdpcmMono, decoder::kAdpcmDataBytes), 1);
  detail::LiveState& s = detail::state();
  const char* dir = std::getenv("VIRAZAV_FUZZ_SEED_DIR");
  for (const Seed& sd : seeds()) {
    SCOPED_TRACE(sd.name);
    const uint8_t flags = sd.input[1];
    s.display_channel.store(sd.input[0]);
    s.audio_switch.store(flags & 1);
    s.audio.wave_mode.store((flags >> 1) & 3);
    s.audio.device_state.store((flags & 8) ? kDeviceOpen : kDeviceNone);
    s.audio.selected_channel[0].store((flags >> 4) & 3);
    detail::Assembler assembler(0);
    feed_seed(sd.input, assembler);
    if (sd.name.rfind("group", 0) == 0) {
      EXPECT_EQ(s.sets[0].slots[1].state.exchange(detail::kSlotEmpty), detail::kSlotReady);
      platform::MutexLock lock(s.sets[0].group_lock);
      EXPECT_EQ(s.sets[0].group[3].due_ms, 300u);
    } else {
      EXPECT_EQ(s.rings[0].slots[0].state.exchange(detail::kSlotEmpty), detail::kSlotQueued);
      s.rings[0].write_index.store(0);
    }
    if (dir != nullptr) {
      std::ofstream out(std::string(dir) + "/" + sd.name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(sd.input.data()),
                static_cast<std::streamsize>(sd.input.size()));
    }
  }
  decoder::adpcm_release();
  detail::free_buffers();
  s.display_channel.store(0);
  s.audio_switch.store(0);
  s.audio.wave_mode.store(0);
  s.audio.device_state.store(kDeviceClosed);
}

}  // namespace
}  // namespace virazav::live
