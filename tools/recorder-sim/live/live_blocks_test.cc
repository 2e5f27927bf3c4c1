// Tests of the live stream's wire layouts without sockets: blocks read back by the test's
// own parser, fragments that cover every byte once, the fault syntax, what each fault does
// to a block's datagrams, the microphones' packets and the benchmark datagrams.

#include "live/live_blocks.h"

#include <gtest/gtest.h>

#include <cmath>

#include "live/live_faults.h"
#include "live/live_media.h"
#include "live/live_test_util.h"

namespace virazav::sim {
namespace {

using testing::fragment_header;
using testing::parse_audio_block;
using testing::parse_video_block;
using testing::rd32;

// The packets of a channel's group of `count` pictures at 176 × 144.
std::vector<std::vector<uint8_t>> group_packets(int channel, int count, int fps) {
  VideoSettings v;
  v.width = 176;
  v.height = 144;
  v.fps = fps;
  std::vector<EncodedPicture> pictures;
  EXPECT_TRUE(
      encode_video_packets(SyntheticChannel(channel, 176, 144), 0, count, v, &pictures, nullptr));
  std::vector<std::vector<uint8_t>> packets;
  for (const auto& p : pictures) {
    packets.push_back(make_video_packet(channel, live_picture_pts(p.frame, fps),
                                        live_picture_dts(p.frame, fps), p));
  }
  return packets;
}

TEST(LiveVideoBlock, FieldsAndRecordsReadBackWithAnIndependentParser) {
  auto packets = group_packets(5, 3, 10);
  LiveVideoHeader h;
  h.type = 0;
  h.channel = 5;
  h.time_value = 0x12345678;
  h.time_word = 625;
  h.status_word = 0xBEEF;
  h.status_byte = 0x4C;
  h.ptz = {11, 22, 33};
  h.first_frame = 70;
  h.fps = 10;
  h.group = true;
  std::vector<uint8_t> block = build_live_video_block(h, packets);
  auto v = parse_video_block(block);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->channel, 5);
  EXPECT_EQ(block[0] & 0x0F, 0) << "bits 0..11 of word 0 are zero";
  EXPECT_EQ(v->length, block.size()) << "L is the whole block";
  EXPECT_EQ(v->time_value, 0x12345678u);
  EXPECT_EQ(v->time_word, 625);
  EXPECT_EQ(v->type, 0);
  EXPECT_EQ(v->status_word, 0xBEEF);
  EXPECT_EQ(v->status_byte, 0x4C);
  EXPECT_EQ(v->ptz, (std::array<uint8_t, 3>{11, 22, 33}));
  EXPECT_EQ(v->first_frame, 70u);
  EXPECT_EQ(v->record_count, 3);
  EXPECT_TRUE(v->group);
  ASSERT_EQ(v->records.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(v->records[i].key, i == 0) << i;
    EXPECT_EQ(v->records[i].channel, 5) << i;
    EXPECT_EQ(v->records[i].number, static_cast<int>(i)) << i;
    EXPECT_EQ(v->records[i].packet, packets[i]) << i;
  }
  // The first record's packet starts at block offset 134.
  EXPECT_TRUE(std::equal(packets[0].begin(), packets[0].begin() + 4, block.begin() + 134));

  // A client's group walk over the bytes behind offset 128 ends on the last record: its
  // end (offset of its data from 128 plus its length) reaches L - 128 exactly.
  size_t offset = 6;
  for (size_t k = 0; k < 3; ++k) {
    size_t length = 32u * testing::rd16(block, 128 + offset - 4);
    EXPECT_EQ(offset + length >= v->length - 128, k == 2) << "record " << k;
    offset += length + 6;
  }

  h.type = 1;
  auto v1 = parse_video_block(build_live_video_block(h, packets));
  ASSERT_TRUE(v1.has_value());
  EXPECT_EQ(v1->type, 1);
  EXPECT_EQ(v1->ptz, (std::array<uint8_t, 3>{0, 0, 0})) << "set 1 carries no PTZ values";
}

TEST(LiveVideoBlock, UnfitInputsBuildNothing) {
  auto packets = group_packets(0, 1, 10);
  LiveVideoHeader h;
  EXPECT_FALSE(build_live_video_block(h, packets).empty());
  auto odd = packets;
  odd[0].push_back(0);
  EXPECT_TRUE(build_live_video_block(h, odd).empty()) << "not a multiple of 32";
  EXPECT_TRUE(build_live_video_block(h, {{}}).empty()) << "empty packet";
  h.type = 2;
  EXPECT_TRUE(build_live_video_block(h, packets).empty());
  h.type = 0;
  h.channel = 16;
  EXPECT_TRUE(build_live_video_block(h, packets).empty());
}

TEST(LiveAudioBlock, SubBlocksWalkAt72PlusLPlusLModFour) {
  for (size_t n = 1; n <= 4; ++n) {
    std::vector<LiveAudioPart> parts;
    for (size_t i = 0; i < n; ++i) {
      int ch = static_cast<int>(3 - i);  // any order the caller gives
      parts.push_back({ch, live_audio_packet(ch, 7)});
    }
    LiveAudioHeader h{3, 0xCAFE0001, 536, 0x20, 7};
    std::vector<uint8_t> block = build_live_audio_block(h, parts);
    EXPECT_EQ(block.size(), n * (72 + 2112)) << n;
    auto subs = parse_audio_block(block);
    ASSERT_TRUE(subs.has_value()) << n;
    ASSERT_EQ(subs->size(), n);
    for (size_t i = 0; i < n; ++i) {
      const auto& s = (*subs)[i];
      EXPECT_EQ(s.channel, parts[i].channel) << n << "/" << i;
      EXPECT_EQ(s.length, 2112u);
      EXPECT_EQ(s.time_value, 0xCAFE0001u);
      EXPECT_EQ(s.time_word, 536);
      EXPECT_EQ(s.type, 3);
      EXPECT_EQ(s.flags, 0x20);
      EXPECT_EQ(s.sequence, 7);
      EXPECT_EQ(s.count, i == 0 ? n : 0u) << "the count is in the first sub-block only";
      EXPECT_EQ(s.data, parts[i].packet);
      // Bytes 25..71 of the header are zero.
      size_t at = i * (72 + 2112);
      EXPECT_TRUE(std::all_of(block.begin() + static_cast<ptrdiff_t>(at + 28),
                              block.begin() + static_cast<ptrdiff_t>(at + 72),
                              [](uint8_t b) { return b == 0; }));
    }
  }

  // A data length that is not a multiple of 4 moves the next header by L mod 4 more.
  std::vector<LiveAudioPart> odd = {{0, std::vector<uint8_t>(2114, 0xA1)},
                                    {1, std::vector<uint8_t>(2113, 0xB2)},
                                    {2, std::vector<uint8_t>(8, 0xC3)}};
  std::vector<uint8_t> block = build_live_audio_block(LiveAudioHeader{}, odd);
  EXPECT_EQ(block.size(), (72 + 2114 + 2) + (72 + 2113 + 1) + (72 + 8 + 0));
  auto subs = parse_audio_block(block);
  ASSERT_TRUE(subs.has_value());
  ASSERT_EQ(subs->size(), 3u);
  EXPECT_EQ((*subs)[1].data, odd[1].packet);
  EXPECT_EQ((*subs)[2].data, odd[2].packet);

  EXPECT_TRUE(build_live_audio_block(LiveAudioHeader{}, {}).empty());
  EXPECT_TRUE(
      build_live_audio_block(LiveAudioHeader{}, std::vector<LiveAudioPart>(5, odd[0])).empty());
  EXPECT_TRUE(build_live_audio_block(LiveAudioHeader{}, {{4, odd[0].packet}}).empty());
  EXPECT_TRUE(build_live_audio_block(LiveAudioHeader{1, 0, 0, 0, 0}, {odd[0]}).empty());
}

TEST(LiveFragments, EveryByteOnceAtIndexTimesStrideWithinTwoHundredFiftyFive) {
  struct Row {
    size_t size;
    uint32_t stride;
    uint32_t used;
  } rows[] = {
      {1, 1392, 1392},
      {1392, 1392, 1392},
      {1393, 1392, 1392},
      {100000, 1392, 1392},
      {255 * 1392, 1392, 1392},
      {255 * 1392 + 1, 1392, 1393},  // one byte more needs a wider stride
      {1 << 20, 1392, 4113},         // ceil(1,048,576 / 255)
      {1000, 0, 4},                  // stride 0: the smallest that fits
      {5000, 8192, 8192},
      {65499 * 2, 65499, 65499},
  };
  for (const auto& row : rows) {
    std::vector<uint8_t> block(row.size);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + i / 251);
    auto parts = fragment(block, 0xA7, 1, row.stride);
    const size_t count = (row.size + row.used - 1) / row.used;
    ASSERT_EQ(parts.size(), count) << "size " << row.size;
    EXPECT_LE(count, 255u);
    EXPECT_EQ(live_fragment_stride(row.size, row.stride), row.used);
    if (row.used > row.stride && row.used > 1) {
      EXPECT_GT((row.size + row.used - 2) / (row.used - 1), 255u) << "not the smallest stride";
    }
    std::vector<const std::vector<uint8_t>*> ptrs;
    for (size_t i = 0; i < parts.size(); ++i) {
      auto h = fragment_header(parts[i]);
      ASSERT_TRUE(h.has_value());
      EXPECT_EQ(h->block, 0xA7);
      EXPECT_EQ(h->index, i);
      EXPECT_EQ(h->count, count);
      EXPECT_EQ(h->stream, 1);
      EXPECT_EQ(h->stride, row.used);
      if (i + 1 < parts.size()) {
        EXPECT_EQ(parts[i].size(), 8 + row.used) << "size " << row.size << " fragment " << i;
      }
      ptrs.push_back(&parts[i]);
    }
    auto back = testing::reassemble(ptrs);
    ASSERT_TRUE(back.has_value()) << "size " << row.size;
    EXPECT_EQ(*back, block) << "size " << row.size;
  }
  EXPECT_TRUE(fragment({}, 0, 0, 1392).empty());
  EXPECT_EQ(live_fragment_stride(255u * 65499 + 1, 1392), 0u) << "no stride fits";
}

// ---- Faults ----

TEST(LiveFaultSyntax, DocumentedEntriesParseAndOthersAreRefused) {
  std::vector<LiveFault> f;
  std::string error;
  ASSERT_TRUE(
      parse_live_faults("reorder:v0:3,drop:a1:2:-1,late:any:5:0,length:v1:4:0x100000,short:a0:1:3,"
                        "reorder:v1:2:1,type7:v0:7",
                        &f, &error))
      << error;
  ASSERT_EQ(f.size(), 7u);
  EXPECT_EQ(f[0].kind, LiveFaultKind::kReorder);
  EXPECT_EQ(f[0].block_type, 0);
  EXPECT_EQ(f[0].every, 3);
  EXPECT_EQ(f[1].kind, LiveFaultKind::kDrop);
  EXPECT_EQ(f[1].block_type, 3);
  EXPECT_EQ(f[1].fragment, -1);
  EXPECT_EQ(f[2].kind, LiveFaultKind::kLateFragment);
  EXPECT_EQ(f[2].block_type, -1);
  EXPECT_EQ(f[2].fragment, 0);
  EXPECT_EQ(f[3].value, 0x100000u);
  EXPECT_EQ(f[4].kind, LiveFaultKind::kShortDatagram);
  EXPECT_EQ(f[4].value, 3u);
  EXPECT_EQ(f[5].value, 1u);
  EXPECT_EQ(f[6].kind, LiveFaultKind::kBlockType7);

  const char* bad[] = {"",
                       "drop",
                       "drop:v0",
                       "drop:v2:1",
                       "drop:v0:0",
                       "drop:v0:x",
                       "nope:v0:1",
                       "foreign:v0:1:1",
                       "short:v0:1:9",
                       "reorder:v0:1:2",
                       "drop:v0:1:255",
                       "drop:v0:1:2:3",
                       "drop:v0:1,",
                       "length:v0:1:-5"};
  for (const char* text : bad) {
    f = {LiveFault{}};
    EXPECT_FALSE(parse_live_faults(text, &f, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(f.size(), 1u) << "output untouched on failure: " << text;
  }
}

TEST(LiveFaultPlan, HitsEveryNthMatchingBlockUpToItsCount) {
  LiveFaultPlan plan;
  LiveFault a;
  a.kind = LiveFaultKind::kDrop;
  a.block_type = 0;
  a.every = 3;
  LiveFault b;
  b.kind = LiveFaultKind::kReorder;
  b.channel = 2;
  b.every = 2;
  b.count = 2;
  plan.set({a, b});
  std::vector<int> a_hits, b_hits;
  for (int i = 1; i <= 12; ++i) {
    int type = i % 2 == 0 ? 0 : 2;  // video set 0 and ring-0 audio in turn
    int channel = type == 0 ? 2 : -1;
    for (const auto& f : plan.take(type, channel)) {
      (f.kind == LiveFaultKind::kDrop ? a_hits : b_hits).push_back(i);
    }
  }
  // Set-0 blocks are i = 2, 4, ..., 12: the 3rd and 6th are i = 6 and 12.
  EXPECT_EQ(a_hits, (std::vector<int>{6, 12}));
  // Channel 2 blocks are the same ones; every 2nd, at most twice: i = 4 and 8.
  EXPECT_EQ(b_hits, (std::vector<int>{4, 8}));
  plan.set({a});
  EXPECT_TRUE(plan.take(0, 0).empty()) << "counting starts again";
}

// What each datagram fault leaves of a cut block of five fragments: the sequence of
// fragment indexes going out ('S' a short datagram, 'X' the oversized-stride one).
TEST(LiveFaultEffects, EachKindChangesTheDatagramsAsItsRecordSays) {
  std::vector<uint8_t> block(5 * 100 - 10, 0x5A);
  block[15] = 0;
  struct Row {
    LiveFault fault;
    std::string order;
    LiveAppliedFault applied;
    int held = -1;
  } rows[] = {
      {{LiveFaultKind::kReorder}, "10234", {LiveFaultKind::kReorder, -1, 0}},
      {{LiveFaultKind::kReorder, -1, 1, -1, 0, -1, 1}, "43210", {LiveFaultKind::kReorder, -1, 1}},
      {{LiveFaultKind::kDuplicate, -1, 1, -1, 0, 1}, "011234", {LiveFaultKind::kDuplicate, 1, 0}},
      {{LiveFaultKind::kDrop}, "0123", {LiveFaultKind::kDrop, 4, 0}},
      {{LiveFaultKind::kDrop, -1, 1, -1, 0, -5}, "1234", {LiveFaultKind::kDrop, 0, 0}},
      {{LiveFaultKind::kDrop, -1, 1, -1, 0, 9}, "0123", {LiveFaultKind::kDrop, 4, 0}},
      {{LiveFaultKind::kLateFragment, -1, 1, -1, 0, 2},
       "0134",
       {LiveFaultKind::kLateFragment, 2, 0},
       2},
      {{LiveFaultKind::kOversizedStride}, "0123X4", {LiveFaultKind::kOversizedStride, -1, 0xFFFF}},
      {{LiveFaultKind::kShortDatagram}, "S01234", {LiveFaultKind::kShortDatagram, -1, 8}},
      {{LiveFaultKind::kShortDatagram, -1, 1, -1, 0, -1, 3},
       "S01234",
       {LiveFaultKind::kShortDatagram, -1, 3}},
      {{LiveFaultKind::kStreamTwo}, "01234", {LiveFaultKind::kStreamTwo, -1, 2}},
      {{LiveFaultKind::kForeignSender}, "01234", {LiveFaultKind::kForeignSender, -1, 0}},
  };
  for (const auto& row : rows) {
    const std::string name = live_fault_name(row.fault.kind);
    auto parts = fragment(block, 9, 1, 100);
    ASSERT_EQ(parts.size(), 5u);
    std::vector<LiveDatagram> list;
    for (size_t i = 0; i < parts.size(); ++i) list.push_back({parts[i], static_cast<int>(i)});
    std::optional<LiveDatagram> held;
    std::vector<LiveAppliedFault> applied;
    apply_live_datagram_faults({row.fault}, &list, &held, &applied);
    std::string order;
    for (const auto& d : list) {
      if (d.bytes.size() <= 8) {
        order += 'S';
        EXPECT_EQ(d.bytes.size(), row.applied.value) << name;
        EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), parts[0].begin())) << name;
      } else if (d.bytes[1] == 254) {
        order += 'X';
        EXPECT_EQ(rd32(d.bytes, 4), 0xFFFFu);
        EXPECT_GT(254u * 0xFFFF, 1u << 20);
        EXPECT_EQ(d.bytes[0], 9);
        EXPECT_EQ(d.bytes[2], 5);
      } else {
        order += static_cast<char>('0' + d.bytes[1]);
        EXPECT_EQ(d.fragment, d.bytes[1]) << name;
        EXPECT_EQ(d.bytes[3], row.fault.kind == LiveFaultKind::kStreamTwo ? 2 : 1) << name;
      }
      EXPECT_EQ(d.foreign, row.fault.kind == LiveFaultKind::kForeignSender) << name;
    }
    EXPECT_EQ(order, row.order) << name;
    ASSERT_EQ(applied.size(), 1u) << name;
    EXPECT_EQ(applied[0], row.applied) << name;
    EXPECT_EQ(held.has_value(), row.held >= 0) << name;
    if (held) {
      EXPECT_EQ(held->bytes, parts[static_cast<size_t>(row.held)]) << name;
    }
  }

  // Content faults: L and the type byte, before cutting.
  std::vector<LiveAppliedFault> applied;
  std::vector<uint8_t> b = block;
  apply_live_block_faults({{LiveFaultKind::kOversizedLength}, {LiveFaultKind::kBlockType7}}, &b,
                          &applied);
  EXPECT_EQ(rd32(b, 4), 0xFFFFFFF0u);
  EXPECT_EQ(b[15], 7);
  EXPECT_EQ(applied,
            (std::vector<LiveAppliedFault>{{LiveFaultKind::kOversizedLength, -1, 0xFFFFFFF0},
                                           {LiveFaultKind::kBlockType7, -1, 7}}));

  // A single fragment cannot be reordered; nothing is claimed.
  std::vector<LiveDatagram> one = {{fragment(std::vector<uint8_t>(50), 0, 0, 100)[0], 0}};
  std::optional<LiveDatagram> held;
  applied.clear();
  apply_live_datagram_faults({{LiveFaultKind::kReorder}}, &one, &held, &applied);
  EXPECT_TRUE(applied.empty());
  EXPECT_EQ(one.size(), 1u);
}

// ---- Media ----

TEST(LiveAudio, PacketsCarryTheToneAndContinueFromPacketToPacket) {
  LiveAudioSource source(2);
  AdpcmState decoder{};
  double signal = 0, noise = 0;
  for (int64_t k = 0; k < 4; ++k) {
    std::vector<uint8_t> p = source.next();
    ASSERT_EQ(p.size(), 2112u);
    EXPECT_EQ(p[3], 0xC2);
    EXPECT_EQ(packet_time_stamp(p.data(), p.size()), 90000u + k * 46080u);
    AdpcmState head{static_cast<int16_t>(p[56] | (p[57] << 8)), p[58]};
    if (k > 0) {
      // The state the packet starts from is where the previous one left the decoder.
      EXPECT_EQ(head.predictor, decoder.predictor) << k;
      EXPECT_EQ(head.index, decoder.index) << k;
    }
    decoder = head;
    std::vector<int16_t> pcm(4096);
    decode_adpcm(p.data() + 64, 2048, &decoder, pcm.data());
    std::vector<int16_t> tone = tone_samples(2, k * 4096, 4096);
    // The first packet starts from rest; from the 64th sample on the coder has caught up.
    for (size_t i = k == 0 ? 64 : 0; i < pcm.size(); ++i) {
      double e = static_cast<double>(pcm[i]) - tone[i];
      signal += static_cast<double>(tone[i]) * tone[i];
      noise += e * e;
    }
    EXPECT_EQ(live_audio_packet(2, k), p) << k;
  }
  EXPECT_GT(10 * std::log10(signal / std::max(noise, 1.0)), 20.0) << "decoded tone in dB";
  EXPECT_TRUE(live_audio_packet(4, 0).empty());
  EXPECT_TRUE(live_audio_packet(0, -1).empty());
}

TEST(LiveBenchDatagrams, ExactSizesWholeBlocksAndDecodablePictures) {
  for (size_t size : {size_t{1400}, size_t{8200}}) {
    int per_block = 0;
    auto d = make_live_datagrams(40, size, &per_block);
    ASSERT_EQ(d.size(), 40u) << size;
    ASSERT_GE(per_block, 1);
    for (const auto& x : d) ASSERT_EQ(x.size(), size);
    // The first block, reassembled, is channel 0's key picture.
    std::vector<const std::vector<uint8_t>*> first;
    for (int i = 0; i < per_block; ++i) {
      first.push_back(&d[static_cast<size_t>(i)]);
      EXPECT_EQ(d[static_cast<size_t>(i)][0], 0);
    }
    if (static_cast<size_t>(per_block) < d.size()) {
      EXPECT_EQ(d[static_cast<size_t>(per_block)][0], 1) << "block numbers count up";
    }
    auto block = testing::reassemble(first);
    ASSERT_TRUE(block.has_value()) << size;
    auto v = parse_video_block(*block);
    ASSERT_TRUE(v.has_value());
    ASSERT_EQ(v->records.size(), 1u);
    EXPECT_EQ(v->channel, 0);
    const auto& packet = v->records[0].packet;
    size_t header = 9 + packet[8];
    std::vector<Picture> pictures;
    ASSERT_TRUE(decode_video_packets(
        {{packet.begin() + static_cast<ptrdiff_t>(header), packet.end()}}, &pictures, nullptr));
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(read_channel_number(pictures[0]), 0);
    EXPECT_EQ(read_frame_counter(pictures[0]), 0);
  }
  EXPECT_TRUE(make_live_datagrams(10, 63).empty());
  EXPECT_TRUE(make_live_datagrams(0, 1400).empty());
}

}  // namespace
}  // namespace virazav::sim
