// The stream file's layout helpers: 22-bit fields, pack header and stream map
// byte for byte, the packet header search in memory and in files, time stamps
// and index entries.
#include "format/stream_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"

namespace virazav::format {
namespace {

TEST(Field22, ValuesRoundTripAndMarkersAreSet) {
  for (uint32_t v :
       {0u, 1u, 0xFFu, 0x100u, 0x7FFu, 0x800u, 0x7FFFu, 0x8000u, 0x2ABCDEu, kField22Max}) {
    uint8_t b[3];
    encode_field22(v, b);
    EXPECT_EQ(b[0] & 0x80, 0x80) << v;
    EXPECT_EQ(b[1] & 0x08, 0x08) << v;
    EXPECT_EQ(decode_field22(b), v) << v;
  }
  // Hand-computed: 0x2ABCDE = bits 21..15 0x55, 14..11 0x7, 10..8 0x4, 7..0 0xDE.
  uint8_t b[3];
  encode_field22(0x2ABCDE, b);
  EXPECT_EQ(b[0], 0xD5);
  EXPECT_EQ(b[1], 0x7C);
  EXPECT_EQ(b[2], 0xDE);
  // A reader ignores the marker bits.
  const uint8_t no_markers[3] = {0x55, 0x74, 0xDE};
  EXPECT_EQ(decode_field22(no_markers), 0x2ABCDEu);
}

TEST(PackHeader, BytesMatchTheHandComputedLayout) {
  uint8_t h[kPackHeaderSize];
  write_pack_header(0x12345678, h);
  // SCR 0x12345678: bits 32..30 = 0, 29..28 = 1, 27..20 = 0x23, 19..15 = 0x08,
  // 14..13 = 2, 12..5 = 0xB3, 4..0 = 0x18. Mux rate 25000 = 0x61A8.
  const uint8_t want[kPackHeaderSize] = {0x00, 0x00, 0x01, 0xBA, 0x45, 0x23, 0x46, 0xB3,
                                         0xC4, 0x01, 0x01, 0x86, 0xA3, 0xFA, 0xFF, 0xFF};
  EXPECT_EQ(std::vector<uint8_t>(h, h + 16), std::vector<uint8_t>(want, want + 16));
  EXPECT_EQ(pack_scr(h), 0x12345678u);
  for (uint32_t scr : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x0ABCDEF0u}) {
    write_pack_header(scr, h);
    EXPECT_EQ(pack_scr(h), scr) << scr;
  }
  h[3] = 0xBB;
  EXPECT_EQ(pack_scr(h), 0u);
}

TEST(StreamMap, BytesMatchTheHandComputedLayout) {
  uint8_t m[kStreamMapSize];
  write_stream_map(0xFFFF, 0xF, m);
  const uint8_t head[20] = {0x00, 0x00, 0x01, 0xBC, 0x01, 0x0E, 0xE2, 0xFF, 0x00, 0x08,
                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(m, m + 20), std::vector<uint8_t>(head, head + 20));
  struct Row {
    int entry;
    std::vector<uint8_t> bytes;
  } rows[] = {{0, {0x84, 0xE0, 0x00, 0x04, 0x2D, 0x1E, 0xFF, 0xFF}},
              {15, {0x84, 0xEF, 0x00, 0x04, 0x2D, 0x1E, 0xFF, 0xFF}},
              {16, {0x91, 0xC0, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}},
              {19, {0x91, 0xC3, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}},
              {20, {0xFF, 0xC4, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}},
              {31, {0xFF, 0xCF, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}}};
  for (const Row& r : rows) {
    EXPECT_EQ(std::vector<uint8_t>(m + 20 + 8 * r.entry, m + 28 + 8 * r.entry), r.bytes)
        << "entry " << r.entry;
  }
  write_stream_map(0x0002, 0, m);
  EXPECT_EQ(m[20], 0xFF);
  EXPECT_EQ(m[28], 0x84);
  EXPECT_EQ(m[28 + 4], 0x2D);
  EXPECT_EQ(m[20 + 8 * 16], 0xFF);
}

TEST(PacketHeader, MemorySearch_FindsReadsOrRefuses) {
  std::vector<uint8_t> video =
      testing::make_video_packet(5, 1000, std::vector<uint8_t>(40, 0x11), 1234);
  std::vector<uint8_t> audio =
      testing::make_audio_packet(3, 2000, std::vector<uint8_t>(2048, 0x22), 0, 0, 99);
  testing::StreamBuilder file(77);
  file.add(video);
  std::vector<uint8_t> junk_then_audio(10, 0x00);
  junk_then_audio.insert(junk_then_audio.end(), audio.begin(), audio.end());
  std::vector<uint8_t> far(kStartSearchLimit, 0x00);
  far.insert(far.end(), video.begin(), video.end());
  struct Row {
    const char* name;
    std::vector<uint8_t> data;
    int direction;
    int want;
    int channel, kind;
    uint32_t size, prev;
    int64_t offset;
  } rows[] = {
      {"video at 0", video, kForward, kPacketFound, 5, kKindVideo,
       static_cast<uint32_t>(video.size()), 1234, 0},
      {"after pack header and map", file.bytes(), kForward, kPacketFound, 5, kKindVideo,
       static_cast<uint32_t>(video.size()), 1234, 292},
      {"after junk", junk_then_audio, kForward, kPacketFound, 3, kKindAudio, 2112, 99, 10},
      {"backward at 0", audio, kBackward, kPacketFound, 3, kKindAudio, 2112, 99, 0},
      {"backward after junk", junk_then_audio, kBackward, kPacketNotHere, 0, 0, 0, 0, 0},
      {"header cut off", std::vector<uint8_t>(video.begin(), video.begin() + 26), kForward,
       kPacketNone, 0, 0, 0, 0, 0},
      {"beyond the search limit", far, kForward, kPacketNone, 0, 0, 0, 0, 0},
      {"pack header only", std::vector<uint8_t>(file.bytes().begin(), file.bytes().begin() + 292),
       kForward, kPacketNone, 0, 0, 0, 0, 0},
      {"three bytes", std::vector<uint8_t>{0, 0, 1}, kBackward, kPacketNone, 0, 0, 0, 0, 0},
  };
  for (const Row& r : rows) {
    PacketHeader h;
    ASSERT_EQ(parse_packet_header(r.data.data(), r.data.size(), r.direction, &h), r.want) << r.name;
    if (r.want != kPacketFound) continue;
    EXPECT_EQ(h.channel, r.channel) << r.name;
    EXPECT_EQ(h.kind, r.kind) << r.name;
    EXPECT_EQ(h.packet_size, r.size) << r.name;
    EXPECT_EQ(h.prev_size, r.prev) << r.name;
    EXPECT_EQ(h.offset, r.offset) << r.name;
  }
}

TEST(PacketHeader, FileSearch_PositionsAtThePacketOrMovesBack) {
  testing::TempCwd cwd;
  std::vector<uint8_t> video =
      testing::make_video_packet(2, 1000, std::vector<uint8_t>(5000, 0x11));
  std::vector<uint8_t> audio =
      testing::make_audio_packet(1, 2000, std::vector<uint8_t>(2048, 0x22));
  testing::StreamBuilder b(0);
  b.add(video);
  int64_t audio_at = b.add(audio);
  ASSERT_TRUE(b.write("s.mpg"));
  platform::File f = platform::File::open("s.mpg", platform::OpenMode::kRead);
  ASSERT_TRUE(f.is_open());
  PacketHeader h;
  ASSERT_EQ(parse_packet_header(f, kForward, &h), kPacketFound);
  EXPECT_EQ(h.offset, 292);
  EXPECT_EQ(f.tell(), 292);
  // Not at a packet start: a non-forward search moves back to where it began.
  ASSERT_EQ(f.seek(300, platform::SeekFrom::kBegin), 0);
  EXPECT_EQ(parse_packet_header(f, kBackward, &h), kPacketNotHere);
  EXPECT_EQ(f.tell(), 300);
  // Forward from inside the video packet finds the audio packet (the search
  // crosses chunk borders).
  ASSERT_EQ(parse_packet_header(f, kForward, &h), kPacketFound);
  EXPECT_EQ(h.offset, audio_at);
  EXPECT_EQ(h.kind, kKindAudio);
  EXPECT_EQ(f.tell(), audio_at);
  ASSERT_EQ(parse_packet_header(f, kBackward, &h), kPacketFound);
  // Past the last packet: none.
  ASSERT_EQ(f.seek(audio_at + 4, platform::SeekFrom::kBegin), 0);
  EXPECT_EQ(parse_packet_header(f, kForward, &h), kPacketNone);
  // A File that holds none finds nothing.
  platform::File none;
  EXPECT_EQ(parse_packet_header(none, kForward, &h), kPacketNone);
}

TEST(TimeStamps, PtsOrDtsOrNone) {
  std::vector<uint8_t> pts_only = testing::make_video_packet(0, 0x89ABCDEF, {1, 2, 3});
  std::vector<uint8_t> with_dts = testing::make_video_packet(0, 450000, {1, 2, 3}, 0, true);
  std::vector<uint8_t> no_stamp = pts_only;
  no_stamp[7] = 0x00;
  struct Row {
    const char* name;
    std::vector<uint8_t> data;
    size_t length;
    bool found;
    uint32_t pts;
  } rows[] = {{"PTS only", pts_only, pts_only.size(), true, 0x89ABCDEF},
              {"PTS and DTS: the DTS", with_dts, with_dts.size(), true, 453000},
              {"no stamp", no_stamp, no_stamp.size(), false, 0},
              {"cut inside the stamp", pts_only, 12, false, 0}};
  for (const Row& r : rows) {
    uint32_t pts = 1;
    EXPECT_EQ(packet_time_stamp(r.data.data(), r.length, &pts), r.found) << r.name;
    if (r.found) {
      EXPECT_EQ(pts, r.pts) << r.name;
    }
    EXPECT_EQ(packet_pts(r.data.data(), r.length), r.pts) << r.name;
  }
}

TEST(PrevSize, PatchWritesTheFieldOfTheFirstPacketOnly) {
  std::vector<uint8_t> p = testing::make_video_packet(0, 0, std::vector<uint8_t>(50, 0));
  std::vector<uint8_t> lead(5, 0xAA);
  lead.insert(lead.end(), p.begin(), p.end());
  patch_prev_size(lead.data(), lead.size(), 4321);
  PacketHeader h;
  ASSERT_EQ(parse_packet_header(lead.data(), lead.size(), kForward, &h), kPacketFound);
  EXPECT_EQ(h.prev_size, 4321u);
  std::vector<uint8_t> before = lead;
  patch_prev_size(lead.data(), lead.size(), -1);
  patch_prev_size(lead.data(), 0, 5);
  patch_prev_size(nullptr, 10, 5);
  patch_prev_size(lead.data(), 5 + 22, 5);  // the field would run past the length
  EXPECT_EQ(lead, before);
}

TEST(IndexEntry, TwelveLittleEndianBytesWith48BitOffsets) {
  FrameIndexEntry e;
  e.kind = 1;
  e.channel = 3;
  e.offset = 0x123456789ABCULL;
  e.pts = 0xCAFEBABE;
  uint8_t b[kIndexEntrySize];
  encode_index_entry(e, b);
  const uint8_t want[12] = {1, 3, 0x34, 0x12, 0xBC, 0x9A, 0x78, 0x56, 0xBE, 0xBA, 0xFE, 0xCA};
  EXPECT_EQ(std::vector<uint8_t>(b, b + 12), std::vector<uint8_t>(want, want + 12));
  FrameIndexEntry d = decode_index_entry(b);
  EXPECT_EQ(d.kind, 1);
  EXPECT_EQ(d.channel, 3);
  EXPECT_EQ(d.offset, 0x123456789ABCULL);
  EXPECT_EQ(d.pts, 0xCAFEBABEu);
}

}  // namespace
}  // namespace virazav::format
