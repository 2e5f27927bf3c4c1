// Tests of the recorder's live stream end to end: UDPup, UDPdown and UDPdispmode over a
// command connection, the datagrams caught by plain UDP sockets on loopback and read back
// with the test's own parser, compared with the stream's record of what it sent. Each test
// runs its recorder on a loopback address of its own in 127.1.0.x and receives on ports it
// found free, so that test processes can run in parallel.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <thread>

#include "disk/rec_time.h"
#include "live/live_media.h"
#include "live/live_test_util.h"
#include "recorder.h"
#include "test_client.h"

namespace virazav::sim {
namespace {

using namespace testing;

constexpr char kClient[] = "127.1.100.7";  // the command connection's and receiver's address
constexpr int kWaitMs = 8000;              // bound of every wait for blocks

// Small pictures and few channels keep the tests quick; the layouts do not depend on them.
LiveOptions small_stream() {
  LiveOptions o;
  o.channel_mask = 0x0003;
  o.audio_mask = 0x3;
  o.video.width = 176;
  o.video.height = 144;
  o.video.fps = 5;
  return o;
}

// The video elementary stream inside a PES packet.
std::vector<uint8_t> payload_of(const std::vector<uint8_t>& packet) {
  size_t header = 9 + packet.at(8);
  return {packet.begin() + static_cast<ptrdiff_t>(header), packet.end()};
}

uint32_t pts_of(const std::vector<uint8_t>& packet) {
  const uint8_t* p = packet.data() + 9;
  return static_cast<uint32_t>((static_cast<uint64_t>((p[0] >> 1) & 7) << 30) | (p[1] << 22) |
                               ((p[2] >> 1) << 15) | (p[3] << 7) | (p[4] >> 1));
}

class LiveStreamTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (rec_) rec_->stop();
  }

  // Starts the receiver on kClient, a recorder with these live options on a free address,
  // and (when asked) a command connection to it from kClient.
  void start(LiveOptions live, bool connect = true) {
    ASSERT_TRUE(rx_.open(kClient)) << "no free UDP port pair on " << kClient;
    live.port_base = rx_.port_base();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    size_t h = std::hash<std::string>{}(std::string(info->test_suite_name()) + info->name());
    for (int attempt = 0; attempt < 64 && !rec_; ++attempt) {
      RecorderOptions o;
      o.address = "127.1.0." + std::to_string(2 + (h + static_cast<size_t>(attempt)) % 250);
      o.live = live;
      auto r = std::make_unique<Recorder>(o);
      if (r->start(nullptr)) {
        rec_ = std::move(r);
        address_ = o.address;
      }
    }
    ASSERT_TRUE(rec_) << "no free loopback address for the recorder";
    if (connect) {
      cmd_ = open_command_connection(address_, 0, "", kClient);
      ASSERT_TRUE(cmd_.ok());
    }
  }

  Recorder& rec() { return *rec_; }
  LiveStream& live() { return rec_->live(); }

  // Waits until the receiver holds every datagram the stream counted.
  std::vector<Received> all_received() {
    uint64_t sent = live().counters().datagrams;
    rx_.wait([&](const std::vector<Received>& g) { return g.size() >= sent; }, 3000);
    return rx_.snapshot();
  }

  // Returns the datagrams of a record's block (its port, stream and block number; the
  // datagrams faults add are left out), in arrival order.
  std::vector<const Received*> datagrams_of(const std::vector<Received>& got,
                                            const LiveBlockRecord& r, uint8_t stream) {
    std::vector<const Received*> out;
    const int index = r.port - rx_.port_base();
    for (const auto& d : got) {
      if (d.port_index == index && d.bytes.size() > 8 && d.bytes[0] == r.block_number &&
          d.bytes[3] == stream && d.bytes[1] != 254) {
        out.push_back(&d);
      }
    }
    return out;
  }

  std::optional<std::vector<uint8_t>> block_of(const std::vector<Received>& got,
                                               const LiveBlockRecord& r) {
    std::vector<const std::vector<uint8_t>*> bytes;
    for (const auto* d : datagrams_of(got, r, r.stream)) bytes.push_back(&d->bytes);
    return reassemble(bytes);
  }

  std::vector<LiveBlockRecord> records(int type) {
    std::vector<LiveBlockRecord> out;
    for (auto& r : live().history()) {
      if (type < 0 || r.type == type) out.push_back(r);
    }
    std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.serial < b.serial; });
    return out;
  }

  UdpReceiver rx_;
  std::unique_ptr<Recorder> rec_;
  std::string address_;
  Sock cmd_;
};

// ---- UDPup and UDPdown ----

TEST_F(LiveStreamTest, UdpUp_BothSetsAndRingsGoToThePeerFromTheRecordersAddress) {
  ASSERT_NO_FATAL_FAILURE(start(small_stream()));
  ASSERT_TRUE(rec().set_clock("24/05/01", "10:00:00"));
  EXPECT_EQ(ask(cmd_, "ID00000001", "UDPup 00 01"), "ID00000001 OK 00\r\n");
  LiveStatus st = live().status();
  EXPECT_TRUE(st.running);
  EXPECT_EQ(st.destination, kClient);
  EXPECT_TRUE(st.set0 && st.set1 && st.audio);
  ASSERT_TRUE(live().wait_for_blocks(kLiveVideoSet1, 4, kWaitMs));
  ASSERT_TRUE(live().wait_for_blocks(kLiveAudioRing1, 3, kWaitMs));
  EXPECT_EQ(ask(cmd_, "ID00000002", "UDPdown 00 00"), "ID00000002 OK 00\r\n");
  EXPECT_FALSE(live().running());

  auto got = all_received();
  LiveCounters c = live().counters();
  EXPECT_EQ(got.size(), c.datagrams);
  EXPECT_EQ(c.send_errors, 0u);
  for (const auto& d : got) {
    EXPECT_EQ(d.source, address_);
    ASSERT_GT(d.bytes.size(), 8u);
    // Port P: set-0 video (stream 0, type 0) and ring-0 audio (stream 1, type 2).
    if (d.bytes[1] == 0) {
      EXPECT_EQ(d.bytes[8 + 15], d.port_index + 2 * d.bytes[3]) << "type by port and stream";
    }
  }

  const uint32_t t0 = packed_time(RecTime{24, 5, 1, 10, 0, 0});
  std::map<std::pair<int, int>, int> next_number;
  std::array<uint64_t, 2> per_set{};
  uint64_t checked = 0;
  for (const auto& r : records(-1)) {
    SCOPED_TRACE("block " + std::to_string(r.serial) + " type " + std::to_string(r.type));
    EXPECT_EQ(r.port, rx_.port_base() + (r.type & 1));
    EXPECT_EQ(r.stream, r.type >= 2 ? 1 : 0);
    const int number = next_number[std::make_pair(r.port, static_cast<int>(r.stream))]++;
    EXPECT_EQ(r.block_number, number) << "numbers count up per port and stream";
    EXPECT_TRUE(r.faults.empty());
    EXPECT_EQ(r.time_word, r.due_ms % 1000);
    // The clock may have ticked once between SetTime and UDPup.
    uint32_t base = r.time_value - static_cast<uint32_t>(r.due_ms / 1000);
    EXPECT_TRUE(base == t0 || base == t0 + 1) << r.time_value;
    auto block = block_of(got, r);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(block->size(), r.size);
    EXPECT_EQ(rd32(*block, 4), r.length_field);
    EXPECT_EQ(r.fragment_count, static_cast<int>((r.size + r.stride - 1) / r.stride));
    if (r.type <= 1) {
      auto v = parse_video_block(*block);
      ASSERT_TRUE(v.has_value());
      EXPECT_EQ(v->length, r.size);
      EXPECT_EQ(v->channel, r.channel);
      EXPECT_EQ(v->type, r.type);
      EXPECT_EQ(v->time_value, r.time_value);
      EXPECT_EQ(v->time_word, r.time_word);
      const uint64_t n = per_set[static_cast<size_t>(r.type)]++;
      EXPECT_EQ(v->status_byte, LiveStream::status_byte_formula(r.type, n));
      EXPECT_EQ(v->status_word, LiveStream::status_word_formula(r.channel, n));
      const std::array<uint8_t, 3> no_ptz{};
      EXPECT_EQ(v->ptz, r.type == 0 ? LiveStream::ptz_formula(r.channel, n) : no_ptz);
      EXPECT_EQ(r.status_byte, v->status_byte);
      EXPECT_EQ(r.ptz, v->ptz);
      // No display channel: one key picture per channel and second.
      EXPECT_EQ(v->records.size(), 1u);
      EXPECT_EQ(r.record_count, 1);
      EXPECT_EQ(r.first_frame, r.due_ms / 1000 * 5);
      EXPECT_EQ(v->first_frame, r.first_frame);
    } else {
      auto subs = parse_audio_block(*block);
      ASSERT_TRUE(subs.has_value());
      ASSERT_EQ(subs->size(), 2u);
      EXPECT_EQ(r.audio_channels, (std::vector<int>{0, 1}));
      EXPECT_EQ(r.due_ms, r.audio_packet * 512);
      for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ((*subs)[i].channel, static_cast<int>(i));
        EXPECT_EQ((*subs)[i].type, r.type);
        EXPECT_EQ((*subs)[i].sequence, r.audio_packet & 0xFF);
        EXPECT_EQ((*subs)[i].flags, 0);
        EXPECT_EQ((*subs)[i].data, live_audio_packet(static_cast<int>(i), r.audio_packet));
      }
    }
    ++checked;
  }
  EXPECT_EQ(checked, c.blocks);
  EXPECT_GE(checked, 14u);
}

TEST_F(LiveStreamTest, UdpUp_FieldsChooseTheSetsAndTheAudio) {
  LiveOptions o = small_stream();
  o.channel_mask = 0x0001;
  o.burst = true;  // paced bursts: a few media seconds go by in a moment
  o.pace = 2000;
  ASSERT_NO_FATAL_FAILURE(start(o));
  struct Row {
    const char* fields;
    std::set<int> types;
  } rows[] = {
      {"01 00", {0}},          {"02 01", {1, 2, 3}}, {"03 00", {0, 1}},
      {"00 07", {0, 1, 2, 3}}, {"05 00", {0}},  // bits beyond 0 and 1 are not looked at
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ask(cmd_, "ID00000010", std::string("UDPup ") + row.fields), "ID00000010 OK 00\r\n")
        << row.fields;
    // Every type that is sent shows within the first few media seconds.
    for (int type : row.types) {
      EXPECT_TRUE(live().wait_for_blocks(type, 4, kWaitMs)) << row.fields << " type " << type;
    }
    std::set<int> seen;
    for (const auto& r : live().history()) seen.insert(r.type);
    EXPECT_EQ(seen, row.types) << row.fields;
  }
  EXPECT_EQ(ask(cmd_, "ID00000011", "UDPdown 01 00"), "ID00000011 OK 00\r\n");
  EXPECT_FALSE(live().running()) << "UDPdown stops everything whatever its fields";
}

// ---- UDPdispmode and the pictures ----

TEST_F(LiveStreamTest, DispMode_DisplayChannelGetsItsWholeGroupFirstInItsSecond) {
  LiveOptions o = small_stream();
  o.channel_mask = 0x000F;
  ASSERT_NO_FATAL_FAILURE(start(o));
  EXPECT_EQ(ask(cmd_, "ID00000020", "UDPdispmode 03 02 00"), "ID00000020 OK 00\r\n");
  EXPECT_EQ(live().status().display, 3);
  EXPECT_EQ(live().status().mode, 2);
  EXPECT_EQ(ask(cmd_, "ID00000021", "UDPup 01 00"), "ID00000021 OK 00\r\n");
  ASSERT_TRUE(live().wait_for_blocks(kLiveVideoSet0, 8, kWaitMs));  // two seconds
  EXPECT_EQ(ask(cmd_, "ID00000022", "UDPdown 00 00"), "ID00000022 OK 00\r\n");
  auto got = all_received();

  const SyntheticChannel ch2(2, 176, 144);
  int groups = 0;
  std::set<int64_t> seconds;
  for (const auto& r : records(kLiveVideoSet0)) {
    SCOPED_TRACE("block " + std::to_string(r.serial) + " channel " + std::to_string(r.channel));
    const int64_t second = r.due_ms / 1000;
    seconds.insert(second);
    auto block = block_of(got, r);
    ASSERT_TRUE(block.has_value());
    auto v = parse_video_block(*block);
    ASSERT_TRUE(v.has_value());
    ASSERT_EQ(v->records.size(), static_cast<size_t>(r.record_count));
    std::vector<std::vector<uint8_t>> es;
    for (const auto& rec : v->records) es.push_back(payload_of(rec.packet));
    std::vector<Picture> pictures;
    ASSERT_TRUE(decode_video_packets(es, &pictures, nullptr));
    ASSERT_EQ(pictures.size(), es.size());
    for (size_t k = 0; k < pictures.size(); ++k) {
      const int64_t frame = second * 5 + static_cast<int64_t>(k);
      EXPECT_EQ(read_channel_number(pictures[k]), r.channel) << k;
      EXPECT_EQ(read_frame_counter(pictures[k]), frame) << k;
      if (r.channel == 2) {
        EXPECT_GT(luma_psnr(pictures[k], ch2.source_picture(frame)), 30.0) << k;
      }
      EXPECT_EQ(v->records[k].key, k == 0);
    }
    if (r.channel == 2) {
      // The group: the whole second, the first block of its second, due times 200 ms apart.
      ++groups;
      EXPECT_TRUE(r.group);
      EXPECT_TRUE(v->group);
      EXPECT_EQ(r.record_count, 5);
      EXPECT_EQ(r.due_ms, second * 1000);
      EXPECT_EQ(r.time_word, 0);
      for (size_t k = 0; k < v->records.size(); ++k) {
        EXPECT_EQ((pts_of(v->records[k].packet) - pts_of(v->records[0].packet)) / 90, 200 * k);
      }
    } else {
      EXPECT_FALSE(r.group);
      EXPECT_EQ(r.record_count, 1);
      // Three other channels at a quarter, a half and three quarters of the second.
      int slot = r.channel < 2 ? r.channel + 1 : r.channel;
      EXPECT_EQ(r.due_ms, second * 1000 + slot * 250);
      EXPECT_GE(r.sent_ms, r.due_ms);
    }
  }
  EXPECT_EQ(groups, static_cast<int>(seconds.size())) << "one group a second";
  EXPECT_GE(groups, 2);

  // NG leaves the display channel; 0 turns the group off from the next second on.
  EXPECT_EQ(ask(cmd_, "ID00000023", "UDPdispmode 11 00 00"), "ID00000023 NG\r\n");
  EXPECT_EQ(live().status().display, 3);
  EXPECT_EQ(ask(cmd_, "ID00000024", "UDPdispmode 00 00 00"), "ID00000024 OK 00\r\n");
  EXPECT_EQ(ask(cmd_, "ID00000025", "UDPup 01 00"), "ID00000025 OK 00\r\n");
  ASSERT_TRUE(live().wait_for_blocks(kLiveVideoSet0, 4, kWaitMs));
  for (const auto& r : records(kLiveVideoSet0)) EXPECT_EQ(r.record_count, 1) << r.serial;
}

TEST_F(LiveStreamTest, Commands_MalformedOrOutOfRangeFieldsAreRefused) {
  ASSERT_NO_FATAL_FAILURE(start(small_stream()));
  struct Row {
    const char* rest;
    bool ok;
  } rows[] = {
      {"UDPdown 00 00", true},  // nothing running: still OK
      {"UDPup 1 00", false},
      {"UDPup -1 00", false},
      {"UDPup 00", false},
      {"UDPup 00 01 00", false},
      {"UDPdispmode 10 00 00", true},
      {"UDPdispmode 11 00 00", false},
      {"UDPdispmode 01 00 01", false},
      {"UDPdispmode 1 00 00", false},
      {"UDPdispmode 0a 00 00", false},
      {"UDPdown 00", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ask(cmd_, "ID0000003A", row.rest),
              std::string("ID0000003A ") + (row.ok ? "OK 00" : "NG") + "\r\n")
        << row.rest;
  }
  EXPECT_FALSE(live().running());
  EXPECT_EQ(live().status().display, 16);
  EXPECT_FALSE(live().set_display(17));
  EXPECT_EQ(live().status().display, 16);
}

TEST_F(LiveStreamTest, Commands_FaultScriptAppliesToTheLiveWords) {
  LiveOptions o = small_stream();
  o.channel_mask = 0x0001;
  ASSERT_NO_FATAL_FAILURE(start(o));
  Fault ng;
  ng.kind = FaultKind::kNg;
  ng.command = "UDPup";
  rec().inject(ng);
  EXPECT_EQ(ask(cmd_, "ID00000040", "UDPup 00 00"), "ID00000040 NG\r\n");
  EXPECT_FALSE(live().running()) << "an NG command is not carried out";

  Fault foreign;
  foreign.kind = FaultKind::kForeignId;
  foreign.command = "UDPup";
  rec().inject(foreign);
  auto t = tokens(ask(cmd_, "ID00000041", "UDPup 00 00"));
  ASSERT_EQ(t.size(), 3u);
  EXPECT_NE(t[0], "ID00000041");
  EXPECT_EQ(t[2], "00");
  EXPECT_TRUE(live().running());

  Fault silent;
  silent.kind = FaultKind::kNoReply;
  silent.command = "UDPdown";
  rec().inject(silent);
  cmd_.send_all("ID00000042 UDPdown 00 00\n");
  EXPECT_EQ(cmd_.recv_once(300), "");
  EXPECT_FALSE(live().running());

  Fault late;
  late.kind = FaultKind::kDelay;
  late.command = "UDPdispmode";
  late.delay_ms = 200;
  rec().inject(late);
  auto t0 = Clock::now();
  EXPECT_EQ(ask(cmd_, "ID00000043", "UDPdispmode 01 00 00"), "ID00000043 OK 00\r\n");
  EXPECT_GE(ms_since(t0), 180);
  EXPECT_EQ(rec().pending_faults(), 0);
}

// ---- Audio and status ----

TEST_F(LiveStreamTest, Audio_SubBlocksCarryEachChannelsToneWithoutAGap) {
  LiveOptions o = small_stream();
  o.channel_mask = 0;  // audio alone
  o.audio_mask = 0x5;  // channels 0 and 2
  ASSERT_NO_FATAL_FAILURE(start(o, false));
  ASSERT_TRUE(live().start(kClient, 0, true, nullptr));
  ASSERT_TRUE(live().wait_for_blocks(kLiveAudioRing1, 2, kWaitMs));
  live().set_no_audio(1, true);
  ASSERT_TRUE(live().wait_for_blocks(kLiveAudioRing1, 4, kWaitMs));
  live().stop();
  auto got = all_received();

  std::array<AdpcmState, 4> end_state{};
  std::array<int64_t, 2> next{};
  for (const auto& r : records(-1)) {
    SCOPED_TRACE("block " + std::to_string(r.serial));
    ASSERT_GE(r.type, 2);
    const int ring = r.type - 2;
    EXPECT_EQ(r.audio_packet, next[static_cast<size_t>(ring)]++) << "one packet per block";
    auto block = block_of(got, r);
    ASSERT_TRUE(block.has_value());
    auto subs = parse_audio_block(*block);
    ASSERT_TRUE(subs.has_value());
    ASSERT_EQ(subs->size(), 2u);
    EXPECT_EQ(r.audio_channels, (std::vector<int>{0, 2}));
    for (const auto& s : *subs) {
      EXPECT_EQ(s.flags, ring == 1 && (r.status_byte & 0x20) ? 0x20 : 0);
      EXPECT_EQ(s.length, 2112u);
      if (ring == 1) continue;
      // Ring 0: decode and compare with the tone; each packet starts where the last ended.
      AdpcmState st{static_cast<int16_t>(s.data[56] | (s.data[57] << 8)), s.data[58]};
      auto& prev = end_state[static_cast<size_t>(s.channel)];
      if (r.audio_packet > 0) {
        EXPECT_EQ(st.predictor, prev.predictor);
        EXPECT_EQ(st.index, prev.index);
      }
      std::vector<int16_t> pcm(4096);
      decode_adpcm(s.data.data() + 64, 2048, &st, pcm.data());
      prev = st;
      auto tone = tone_samples(s.channel, r.audio_packet * 4096, 4096);
      double signal = 0, noise = 0;
      for (size_t i = 64; i < pcm.size(); ++i) {
        signal += static_cast<double>(tone[i]) * tone[i];
        noise += (static_cast<double>(pcm[i]) - tone[i]) * (static_cast<double>(pcm[i]) - tone[i]);
      }
      EXPECT_GT(10 * std::log10(signal / std::max(noise, 1.0)), 20.0) << "channel " << s.channel;
    }
  }
  // The mark shows from some block on in ring 1, never in ring 0.
  auto ring1 = records(kLiveAudioRing1);
  EXPECT_EQ(ring1.front().status_byte, 0);
  EXPECT_EQ(ring1.back().status_byte, 0x20);
  for (const auto& r : records(kLiveAudioRing0)) EXPECT_EQ(r.status_byte, 0);
}

TEST_F(LiveStreamTest, Status_FollowsTheFormulaUntilPinned) {
  LiveOptions o = small_stream();
  o.channel_mask = 0x0006;
  ASSERT_NO_FATAL_FAILURE(start(o, false));
  ASSERT_TRUE(live().start(kClient, 0, false, nullptr));
  ASSERT_TRUE(live().wait_for_blocks(kLiveVideoSet0, 2, kWaitMs));
  live().pin_status(0, 0x35, 0xBEEF);
  live().pin_ptz(2, 7, 8, 9);
  const uint64_t pinned_from = live().counters().blocks_by_type[0];
  ASSERT_TRUE(live().wait_for_blocks(kLiveVideoSet0, pinned_from + 4, kWaitMs));
  live().unpin_status(0);
  live().unpin_ptz(2);
  const uint64_t unpinned_from = live().counters().blocks_by_type[0];
  ASSERT_TRUE(live().wait_for_blocks(kLiveVideoSet0, unpinned_from + 4, kWaitMs));
  live().stop();
  auto got = all_received();

  std::array<uint64_t, 2> n{};
  int pinned = 0;
  for (const auto& r : records(-1)) {
    auto block = block_of(got, r);
    ASSERT_TRUE(block.has_value());
    auto v = parse_video_block(*block);
    ASSERT_TRUE(v.has_value());
    const uint64_t k = n[static_cast<size_t>(r.type)]++;
    bool formula_status = v->status_byte == LiveStream::status_byte_formula(r.type, k) &&
                          v->status_word == LiveStream::status_word_formula(r.channel, k);
    bool pinned_status = v->status_byte == 0x35 && v->status_word == 0xBEEF;
    if (r.type == 1) {
      EXPECT_TRUE(formula_status) << "set 1 is not pinned";
      continue;
    }
    // Block k = pinned_from may have been built just before the pin or after it, and
    // likewise at the unpinning; the others are certain.
    if (k < pinned_from || k > unpinned_from) {
      EXPECT_TRUE(formula_status) << k;
    } else if (k > pinned_from && k < unpinned_from) {
      EXPECT_TRUE(pinned_status) << k;
      if (r.channel == 2) {
        EXPECT_EQ(v->ptz, (std::array<uint8_t, 3>{7, 8, 9}));
      } else {
        EXPECT_EQ(v->ptz, LiveStream::ptz_formula(r.channel, k));
      }
      ++pinned;
    }
    EXPECT_NE(v->ptz[2], 0) << "the third PTZ value is never 0 by the formula or the pin";
  }
  EXPECT_GE(pinned, 2);
}

// ---- Faults ----

// The sequence of datagrams that went out for one block on its port, in arrival order:
// "S" a short datagram, "X" the oversized-stride one, "<index>." a fragment.
struct Sequence {
  std::string text;
  std::vector<const Received*> datagrams;
};

// Collects the datagrams of a block: those on its port with its block number and stream
// number, and datagrams too short to carry a stream number with its block number (the
// tests that make those send one stream on that port only).
Sequence sequence_of(const std::vector<Received>& got, int port_index, uint8_t block,
                     uint8_t stream) {
  Sequence out;
  for (const auto& d : got) {
    if (d.port_index != port_index || d.bytes.empty() || d.bytes[0] != block) continue;
    if (d.bytes.size() >= 4 && d.bytes[3] != stream) continue;
    out.datagrams.push_back(&d);
    if (d.bytes.size() <= 8) {
      out.text += 'S';
    } else if (d.bytes[1] == 254 && rd32(d.bytes, 4) == 0xFFFF) {
      out.text += 'X';
    } else {
      out.text += std::to_string(d.bytes[1]) + ".";
    }
  }
  return out;
}

// Each row: a fault on every second block of a type; the datagrams of every block of the
// run are compared with what its record says. Paced bursts keep each run short and let
// audio blocks go out in the middle of video blocks.
TEST_F(LiveStreamTest, Faults_EachDoesExactlyWhatItsRecordSays) {
  LiveOptions o = small_stream();
  o.stride = 512;  // several fragments per block
  o.burst = true;
  o.pace = 3000;
  ASSERT_NO_FATAL_FAILURE(start(o, false));
  const std::string foreign_source = [&] {
    int last = std::stoi(address_.substr(address_.rfind('.') + 1));
    return address_.substr(0, address_.rfind('.') + 1) + std::to_string(last + 1);
  }();

  struct Row {
    LiveFault fault;
    int sets = 0;  // the UDPup video field
  };
  auto row = [](LiveFaultKind kind, int type, int fragment = -1, uint32_t value = 0, int sets = 0) {
    Row r;
    r.fault.kind = kind;
    r.fault.block_type = type;
    r.fault.every = 2;
    r.fault.fragment = fragment;
    r.fault.value = value;
    r.sets = sets;
    return r;
  };
  const Row rows[] = {
      row(LiveFaultKind::kReorder, 0),
      row(LiveFaultKind::kReorder, 2, -1, 1),
      row(LiveFaultKind::kDuplicate, 1, 1),
      row(LiveFaultKind::kDrop, 0),
      row(LiveFaultKind::kDrop, 3, 0),
      row(LiveFaultKind::kLateFragment, 0, 0),
      row(LiveFaultKind::kLateFragment, 2),
      row(LiveFaultKind::kForeignSender, 3),
      row(LiveFaultKind::kOversizedStride, 0),
      row(LiveFaultKind::kOversizedLength, 1),
      row(LiveFaultKind::kOversizedLength, 2, -1, 0x100000),
      row(LiveFaultKind::kShortDatagram, 0),
      // Three bytes carry no stream number: port P + 1 carries ring 1 alone in this run.
      row(LiveFaultKind::kShortDatagram, 3, -1, 3, 1),
      row(LiveFaultKind::kStreamTwo, 2),
      row(LiveFaultKind::kBlockType7, 1),
      row(LiveFaultKind::kBlockType7, 3),
  };
  for (const Row& rw : rows) {
    const LiveFault& f = rw.fault;
    SCOPED_TRACE(std::string(live_fault_name(f.kind)) + " on type " + std::to_string(f.block_type));
    rx_.clear();
    live().set_faults({f});
    ASSERT_TRUE(live().start(kClient, rw.sets, true, nullptr));
    ASSERT_TRUE(live().wait_for_blocks(f.block_type, 6, kWaitMs));
    live().stop();
    auto got = all_received();
    auto all = records(-1);
    int hits = 0, of_type = 0;
    for (const LiveBlockRecord& r : all) {
      SCOPED_TRACE("block " + std::to_string(r.serial) + " type " + std::to_string(r.type));
      // The fault plan counts the blocks of its type in the order they were built.
      const bool faulted = r.type == f.block_type && ++of_type % 2 == 0;
      ASSERT_EQ(r.faults.size(), faulted ? 1u : 0u);
      const int port_index = r.port - rx_.port_base();
      const bool stream_two = faulted && f.kind == LiveFaultKind::kStreamTwo;
      Sequence seq = sequence_of(got, port_index, r.block_number, stream_two ? 2 : r.stream);
      const bool foreign = faulted && f.kind == LiveFaultKind::kForeignSender;
      for (const auto* d : seq.datagrams) {
        EXPECT_EQ(d->source, foreign ? foreign_source : address_);
      }
      std::vector<int> all_fragments(static_cast<size_t>(r.fragment_count));
      std::iota(all_fragments.begin(), all_fragments.end(), 0);
      std::string want;
      for (int i : r.fragments_sent) want += std::to_string(i) + ".";
      if (!faulted) {
        EXPECT_EQ(r.fragments_sent, all_fragments);
        EXPECT_EQ(seq.text, want);
        EXPECT_TRUE(block_of(got, r).has_value()) << "an untouched block arrives whole";
        continue;
      }
      ++hits;
      const LiveAppliedFault& a = r.faults[0];
      EXPECT_EQ(a.kind, f.kind);
      std::vector<int> sent = all_fragments;
      switch (f.kind) {
        case LiveFaultKind::kReorder:
          if (f.value == 1) {
            std::reverse(sent.begin(), sent.end());
          } else {
            std::swap(sent[0], sent[1]);
          }
          EXPECT_EQ(r.fragments_sent, sent);
          EXPECT_EQ(seq.text, want);
          break;
        case LiveFaultKind::kDuplicate:
          sent.insert(sent.begin() + 1, 1);
          EXPECT_EQ(r.fragments_sent, sent);
          EXPECT_EQ(a.fragment, 1);
          EXPECT_EQ(seq.text, want);
          break;
        case LiveFaultKind::kDrop:
        case LiveFaultKind::kLateFragment: {
          const int gone = f.fragment < 0 ? r.fragment_count - 1 : f.fragment;
          EXPECT_EQ(a.fragment, gone);
          sent.erase(sent.begin() + gone);
          EXPECT_EQ(r.fragments_sent, sent);
          if (f.kind == LiveFaultKind::kDrop) {
            EXPECT_EQ(seq.text, want);
            EXPECT_FALSE(block_of(got, r).has_value());
            break;
          }
          // The held fragment goes out right after the first fragment of the next block on
          // the same port and stream, before that block's second datagram. The last
          // faulted block's carrier may not have finished before the stop.
          const LiveBlockRecord* carrier = nullptr;
          for (const auto& other : all) {
            if (other.late_from == r.serial) carrier = &other;
          }
          if (carrier == nullptr) {
            EXPECT_TRUE(seq.text == want || seq.text == want + std::to_string(gone) + ".");
            break;
          }
          EXPECT_EQ(seq.text, want + std::to_string(gone) + ".");
          EXPECT_EQ(carrier->port, r.port);
          EXPECT_EQ(carrier->stream, r.stream);
          EXPECT_EQ(carrier->datagrams, carrier->fragment_count + 1);
          Sequence theirs = sequence_of(got, port_index, carrier->block_number, carrier->stream);
          ASSERT_GE(theirs.datagrams.size(), 2u);
          EXPECT_LT(theirs.datagrams[0]->order, seq.datagrams.back()->order);
          EXPECT_GT(theirs.datagrams[1]->order, seq.datagrams.back()->order);
          EXPECT_TRUE(block_of(got, r).has_value()) << "late, yet all there";
          break;
        }
        case LiveFaultKind::kOversizedStride: {
          std::string with = want;
          with.insert(with.rfind('.', with.size() - 2) + 1, "X");
          EXPECT_EQ(seq.text, with);
          EXPECT_EQ(a.value, 0xFFFFu);
          break;
        }
        case LiveFaultKind::kShortDatagram: {
          const size_t size = f.value == 0 ? 8 : f.value;
          EXPECT_EQ(seq.text, "S" + want);
          EXPECT_EQ(seq.datagrams.front()->bytes.size(), size);
          EXPECT_EQ(a.value, size);
          break;
        }
        case LiveFaultKind::kOversizedLength:
        case LiveFaultKind::kBlockType7:
        case LiveFaultKind::kStreamTwo:
        case LiveFaultKind::kForeignSender: {
          EXPECT_EQ(seq.text, want);
          std::vector<const std::vector<uint8_t>*> bytes;
          for (const auto* d : seq.datagrams) bytes.push_back(&d->bytes);
          auto block = reassemble(bytes);
          ASSERT_TRUE(block.has_value());
          if (f.kind == LiveFaultKind::kOversizedLength) {
            const uint32_t l = f.value == 0 ? 0xFFFFFFF0u : f.value;
            EXPECT_EQ(rd32(*block, 4), l);
            EXPECT_EQ(r.length_field, l);
            EXPECT_EQ(a.value, l);
          } else {
            EXPECT_EQ((*block)[15], f.kind == LiveFaultKind::kBlockType7 ? 7 : r.type);
          }
          EXPECT_EQ(r.foreign, f.kind == LiveFaultKind::kForeignSender);
          break;
        }
      }
    }
    EXPECT_GE(hits, 3);
  }
}

// ---- Stopping, bursts and multicast ----

TEST_F(LiveStreamTest, Stop_WithinAHundredMillisecondsAndRestartsFromZero) {
  LiveOptions o = small_stream();
  o.channel_mask = 0xFFFF;
  o.audio_mask = 0xF;
  o.video.fps = 10;
  ASSERT_NO_FATAL_FAILURE(start(o));
  EXPECT_EQ(ask(cmd_, "ID00000050", "UDPup 00 01"), "ID00000050 OK 00\r\n");
  ASSERT_TRUE(live().wait_for_blocks(-1, 20, kWaitMs));
  auto t0 = Clock::now();
  EXPECT_EQ(ask(cmd_, "ID00000051", "UDPdown 00 00"), "ID00000051 OK 00\r\n");
  EXPECT_LT(ms_since(t0), 100);
  // Nothing goes out once the reply is there.
  all_received();
  const size_t after_stop = rx_.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(rx_.size(), after_stop);

  // Again: the frame numbers, block numbers and records start from 0.
  EXPECT_EQ(ask(cmd_, "ID00000052", "UDPup 00 00"), "ID00000052 OK 00\r\n");
  ASSERT_TRUE(live().wait_for_blocks(kLiveVideoSet0, 2, kWaitMs));
  auto first = records(-1).front();
  EXPECT_EQ(first.serial, 1u);
  EXPECT_EQ(first.block_number, 0);
  EXPECT_EQ(first.first_frame, 0);
  t0 = Clock::now();
  live().stop();
  EXPECT_LT(ms_since(t0), 100);
  live().stop();  // idempotent

  // The recorder's stop and its destruction end a running stream too.
  ASSERT_TRUE(live().start(kClient, 0, true, nullptr));
  rec().stop();
  EXPECT_FALSE(live().running());
  ASSERT_TRUE(live().start(kClient, 0, true, nullptr));
  t0 = Clock::now();
  rec_.reset();
  EXPECT_LT(ms_since(t0), 200);
}

TEST_F(LiveStreamTest, Burst_RunsAheadOfRealTimeAndTheHistoryStaysBounded) {
  LiveOptions o = small_stream();
  o.channel_mask = 0xFFFF;
  o.video.width = 64;
  o.video.height = 48;
  o.burst = true;
  ASSERT_NO_FATAL_FAILURE(start(o, false));
  auto t0 = Clock::now();
  ASSERT_TRUE(live().start(kClient, 0, true, nullptr));
  ASSERT_TRUE(live().wait_for_blocks(-1, kLiveHistory + 100, 60000));
  live().stop();
  const int64_t elapsed = ms_since(t0);
  auto h = live().history();
  ASSERT_EQ(h.size(), kLiveHistory);
  // Unpaced, blocks finish in the order they were built: the newest 4,096 of them.
  for (size_t i = 1; i < h.size(); ++i) ASSERT_EQ(h[i].serial, h[i - 1].serial + 1) << i;
  EXPECT_EQ(h.back().serial, live().counters().blocks);
  EXPECT_GT(live().counters().blocks, kLiveHistory);
  // 16 channels in two sets: 32 video blocks and about 4 audio blocks a media second.
  EXPECT_GT(h.back().due_ms, elapsed * 2) << "the media clock runs ahead of real time";
  // Burst pictures are those of second 0, whatever the second.
  for (const auto& r : h) {
    if (r.type <= 1) {
      EXPECT_EQ(r.first_frame, 0);
    }
  }
}

TEST_F(LiveStreamTest, Paced_SendsAboutTheAskedDatagramsASecond) {
  LiveOptions o = small_stream();
  o.burst = true;
  o.pace = 400;
  ASSERT_NO_FATAL_FAILURE(start(o, false));
  ASSERT_TRUE(live().start(kClient, 0, true, nullptr));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  live().stop();
  const uint64_t n = live().counters().datagrams;
  EXPECT_GE(n, 300u);
  EXPECT_LE(n, 440u);
}

TEST_F(LiveStreamTest, Multicast_TheGroupHearsTheStream) {
  LiveOptions o = small_stream();
  o.group = "239.255.77.77";
  o.channel_mask = 0x0001;
  // The receiver binds any address and joins the group on the loopback interface.
  UdpReceiver group;
  if (!group.open("127.0.0.1", o.group)) GTEST_SKIP() << "no multicast on loopback here";
  o.port_base = group.port_base();
  RecorderOptions ro;
  ro.address = "127.1.0.251";
  ro.live = o;
  ro.live.port_base = group.port_base();
  rec_ = std::make_unique<Recorder>(ro);
  address_ = ro.address;
  ASSERT_TRUE(live().start("127.0.0.1", 1, true, nullptr));
  EXPECT_EQ(live().status().destination, o.group);
  ASSERT_TRUE(live().wait_for_blocks(kLiveVideoSet0, 1, kWaitMs));
  ASSERT_TRUE(live().wait_for_blocks(kLiveAudioRing1, 1, kWaitMs));
  live().stop();
  const uint64_t sent = live().counters().datagrams;
  ASSERT_TRUE(group.wait([&](const auto& g) { return g.size() >= sent; }, 3000));
  for (const auto& d : group.snapshot()) EXPECT_EQ(d.source, address_);
}

}  // namespace
}  // namespace virazav::sim
