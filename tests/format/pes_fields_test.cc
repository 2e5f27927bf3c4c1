// Reading both time stamps and the payload start of the recorder's PES packets, on
// packets made by the test builders, and the headers it refuses.
#include "format/pes_fields.h"

#include <gtest/gtest.h>

#include <vector>

#include "format/stream_format.h"
#include "support/stream_builder.h"

namespace virazav::format {
namespace {

std::vector<uint8_t> bytes_from(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i * 7);
  return v;
}

TEST(PesFields, VideoWithDts_GivesBothStampsAndThePayloadAsBuilt) {
  const std::vector<uint8_t> payload = bytes_from(300, 0x11);
  // The builder's DTS lies 3000 ticks after the PTS; the stamps keep 32 bits.
  const std::vector<uint8_t> packet =
      testing::make_video_packet(3, 0xFFFFF000u, payload, 0, /*with_dts=*/true);
  PesFields f;
  ASSERT_TRUE(read_pes_fields(packet.data(), packet.size(), &f));
  EXPECT_EQ(f.kind, kKindVideo);
  EXPECT_EQ(f.channel, 3);
  EXPECT_TRUE(f.has_pts);
  EXPECT_TRUE(f.has_dts);
  EXPECT_EQ(f.pts, 0xFFFFF000u);
  EXPECT_EQ(f.dts, static_cast<uint32_t>(0xFFFFF000u + 3000));
  EXPECT_EQ(f.dts, packet_pts(packet.data(), packet.size()));
  ASSERT_LE(f.payload_offset + payload.size(), packet.size());
  EXPECT_EQ(std::vector<uint8_t>(packet.begin() + f.payload_offset,
                                 packet.begin() + f.payload_offset + payload.size()),
            payload);
}

TEST(PesFields, AudioWithPtsAlone_HasItsAdpcmAfterThe64ByteHeader) {
  const std::vector<uint8_t> adpcm = bytes_from(2048, 0x20);
  const std::vector<uint8_t> packet = testing::make_audio_packet(2, 184320, adpcm, -5, 40);
  PesFields f;
  ASSERT_TRUE(read_pes_fields(packet.data(), packet.size(), &f));
  EXPECT_EQ(f.kind, kKindAudio);
  EXPECT_EQ(f.channel, 2);
  EXPECT_FALSE(f.has_dts);
  EXPECT_EQ(f.pts, 184320u);
  EXPECT_EQ(f.dts, f.pts);
  EXPECT_EQ(f.payload_offset, 64u);
  EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 64, packet.begin() + 64 + 2048), adpcm);
}

TEST(PesFields, RefusesOtherStartCodesAndHeadersThatDoNotFit) {
  const std::vector<uint8_t> good =
      testing::make_video_packet(0, 90000, bytes_from(64, 1), 0, /*with_dts=*/true);
  PesFields f;
  f.channel = 9;
  // Cut before the end of the header.
  ASSERT_TRUE(read_pes_fields(good.data(), good.size(), &f));
  const size_t payload = f.payload_offset;
  f.channel = 9;
  EXPECT_FALSE(read_pes_fields(good.data(), payload - 1, &f));
  EXPECT_FALSE(read_pes_fields(good.data(), 8, &f));
  EXPECT_EQ(f.channel, 9) << "a refused header leaves *out alone";
  // A header_data_length too short for the PTS and DTS it announces.
  std::vector<uint8_t> short_header = good;
  short_header[8] = 9;
  EXPECT_FALSE(read_pes_fields(short_header.data(), short_header.size(), &f));
  // Not a video or audio packet: a pack header, a stream map, no start code at all.
  uint8_t pack[kPackHeaderSize];
  write_pack_header(1234, pack);
  EXPECT_FALSE(read_pes_fields(pack, sizeof pack, &f));
  std::vector<uint8_t> map(kStreamMapSize);
  write_stream_map(0xFFFF, 0xF, map.data());
  EXPECT_FALSE(read_pes_fields(map.data(), map.size(), &f));
  std::vector<uint8_t> shifted(good.begin() + 1, good.end());
  EXPECT_FALSE(read_pes_fields(shifted.data(), shifted.size(), &f));
  EXPECT_FALSE(read_pes_fields(nullptr, 100, &f));
}

}  // namespace
}  // namespace virazav::format
