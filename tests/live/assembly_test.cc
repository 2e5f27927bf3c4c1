// The assembly step and block completion, fed datagrams directly: orders,
// staging, abandoned and late blocks, duplicates, block types, registers, the
// display channel's group, the audio walk with its marks, sequence numbers and
// queuing rule, and every bound on a copy.
#include "live/assembly.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "decoder/decoder.h"
#include "live/block_builder.h"
#include "live/live_state.h"
#include "support/stream_builder.h"

namespace virazav::live {
namespace {

using detail::Assembler;
using detail::Outcome;
using testing::audio_block;
using testing::Bytes;
using testing::datagram;
using testing::fragments;
using testing::SubBlock;
using testing::video_block;
using testing::VideoHeader;

// A video PES packet of `size` bytes in all with time stamp `pts`.
Bytes packet(int channel, uint32_t pts, size_t size = 200) {
  Bytes payload(size > 27 ? size - 27 : 1, 0x5A);
  return testing::make_video_packet(channel, pts, payload);
}

Bytes audio_packet(int channel, uint8_t codes = 0x11) {
  return testing::make_audio_packet(channel, 0, testing::adpcm_codes(codes));
}

class Assembly : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(detail::allocate_buffers(), 0);
    detail::LiveState& s = detail::state();
    s.display_channel.store(0);
    s.audio_switch.store(1);
    s.audio.device_state.store(kDeviceOpen);
    s.audio.wave_mode.store(1);
    s.audio.selected_channel[0].store(0);
    s.audio.selected_channel[1].store(0);
    for (auto& ring : s.rings) ring.write_index.store(0);
    ASSERT_EQ(decoder::adpcm_init(decoder::kAdpcmMono, decoder::kAdpcmDataBytes), 1);
    before_ = statistics();
  }
  void TearDown() override {
    detail::free_buffers();
    decoder::adpcm_release();
    detail::state().audio.device_state.store(kDeviceClosed);
    detail::state().audio.wave_mode.store(0);
  }

  Outcome feed(const std::vector<Bytes>& datagrams, const std::vector<int>& order = {}) {
    Outcome last = Outcome::kIgnored;
    if (order.empty()) {
      for (const Bytes& d : datagrams) last = assembler_.take(d.data(), d.size());
    } else {
      for (int i : order) last = assembler_.take(datagrams[i].data(), datagrams[i].size());
    }
    return last;
  }
  Outcome feed_one(const Bytes& d) { return assembler_.take(d.data(), d.size()); }

  detail::VideoSlot& slot(int set, int channel) { return detail::state().sets[set].slots[channel]; }
  bool slot_holds(int set, int channel, const Bytes& block) {
    return std::memcmp(slot(set, channel).buffer.data(), block.data(), block.size()) == 0;
  }
  detail::AudioRing& ring(int r) { return detail::state().rings[r]; }
  uint64_t delta(uint64_t Statistics::*field) { return statistics().*field - before_.*field; }

  Assembler assembler_{0};
  Statistics before_;
};

// ---- Video blocks and their paths ----------------------------------------------

TEST_F(Assembly, SingleFragmentBlock_CompletesOnItsDatagramIntoTheEmptySlot) {
  VideoHeader h;
  h.channel = 5;
  Bytes block = video_block(h, {packet(5, 9000)});
  EXPECT_EQ(feed_one(datagram(1, 0, 1, 0, 4096, block)), Outcome::kCompleted);
  EXPECT_EQ(slot(0, 5).state.load(), detail::kSlotReady);
  EXPECT_TRUE(slot_holds(0, 5, block));
  EXPECT_EQ(delta(&Statistics::video_blocks), 1u);
}

TEST_F(Assembly, FragmentsInOrder_AssembleDirectlyAndCompleteOnTheLast) {
  VideoHeader h;
  h.type = 1;
  h.channel = 15;
  Bytes block = video_block(h, {packet(15, 0, 3000), packet(15, 3600, 2000)});
  auto d = fragments(block, 9, 0, 1400);
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(feed(d, {0, 1, 2}), Outcome::kStored);
  EXPECT_EQ(slot(1, 15).state.load(), detail::kSlotEmpty);
  EXPECT_EQ(feed(d, {3}), Outcome::kCompleted);
  EXPECT_EQ(slot(1, 15).state.load(), detail::kSlotReady);
  EXPECT_TRUE(slot_holds(1, 15, block));
}

TEST_F(Assembly, Order102_IsStagedAndCopiedWholeOnTheThird) {
  VideoHeader h;
  h.channel = 2;
  Bytes block = video_block(h, {packet(2, 0, 2500)});
  auto d = fragments(block, 3, 0, 1024);
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(feed(d, {1, 0}), Outcome::kStored);
  // Staged: nothing of it is in the slot yet.
  EXPECT_NE(std::memcmp(slot(0, 2).buffer.data(), block.data(), 128), 0);
  EXPECT_EQ(feed(d, {2}), Outcome::kCompleted);
  EXPECT_EQ(slot(0, 2).state.load(), detail::kSlotReady);
  EXPECT_TRUE(slot_holds(0, 2, block));
}

TEST_F(Assembly, SecondBlockWhileSlotIsReady_IsStagedThenCopiedOver) {
  VideoHeader h;
  h.channel = 7;
  h.status_byte = 1;
  Bytes first = video_block(h, {packet(7, 0)});
  h.status_byte = 2;
  Bytes second = video_block(h, {packet(7, 3600, 900)});
  ASSERT_EQ(feed(fragments(first, 1, 0, 512)), Outcome::kCompleted);
  auto d = fragments(second, 2, 0, 512);
  feed(d, {0});
  // The ready block is untouched while the new one is staged.
  EXPECT_EQ(slot(0, 7).state.load(), detail::kSlotReady);
  EXPECT_TRUE(slot_holds(0, 7, first));
  for (size_t i = 1; i < d.size(); ++i) feed_one(d[i]);
  EXPECT_EQ(slot(0, 7).state.load(), detail::kSlotReady);
  EXPECT_TRUE(slot_holds(0, 7, second));
}

TEST_F(Assembly, LateFragmentOfAnAbandonedBlock_IsDroppedWhileTheNextGoesOn) {
  VideoHeader h;
  h.channel = 1;
  Bytes block5 = video_block(h, {packet(1, 0, 3000)});
  Bytes block6 = video_block(h, {packet(1, 3600, 3000)});
  auto d5 = fragments(block5, 5, 0, 1400);
  auto d6 = fragments(block6, 6, 0, 1400);
  feed(d5, {0});
  feed(d6, {0});  // abandons 5
  EXPECT_EQ(delta(&Statistics::blocks_abandoned), 1u);
  EXPECT_EQ(delta(&Statistics::fragments_missing), d5.size() - 1);
  EXPECT_EQ(feed(d5, {1}), Outcome::kLate);
  for (size_t i = 1; i < d6.size(); ++i) feed_one(d6[i]);
  EXPECT_EQ(slot(0, 1).state.load(), detail::kSlotReady);
  EXPECT_TRUE(slot_holds(0, 1, block6));
  EXPECT_EQ(delta(&Statistics::late_fragments), 1u);
}

TEST_F(Assembly, DuplicateFragment_CountsTowardsCompletion) {
  VideoHeader h;
  h.channel = 3;
  Bytes block = video_block(h, {packet(3, 0, 2500)});
  auto d = fragments(block, 4, 0, 1024);
  ASSERT_EQ(d.size(), 3u);
  // 0, 1, 1: the count reaches 3 and the block is filed without fragment 2.
  EXPECT_EQ(feed(d, {0, 1, 1}), Outcome::kCompleted);
  EXPECT_EQ(slot(0, 3).state.load(), detail::kSlotReady);
}

TEST_F(Assembly, BlockOfTypeSeven_IsReassembledThenDropped) {
  VideoHeader h;
  h.type = 7;
  Bytes block = video_block(h, {packet(0, 0, 2000)});
  EXPECT_EQ(feed(fragments(block, 1, 0, 1000)), Outcome::kBlockDropped);
  EXPECT_EQ(delta(&Statistics::blocks_dropped), 1u);
  EXPECT_EQ(delta(&Statistics::blocks_completed), 0u);
  for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(slot(0, ch).state.load(), detail::kSlotEmpty);
}

TEST_F(Assembly, ShortAndForeignStreamDatagrams_AreIgnored) {
  EXPECT_EQ(feed_one(Bytes(8, 0)), Outcome::kIgnored);
  Bytes d = datagram(1, 0, 1, 2, 100, Bytes(100, 0));
  EXPECT_EQ(feed_one(d), Outcome::kIgnored);
  EXPECT_EQ(assembler_.take(nullptr, 100), Outcome::kIgnored);
}

TEST_F(Assembly, StreamNumbersAssembleSeparately) {
  VideoHeader h;
  h.channel = 4;
  Bytes video = video_block(h, {packet(4, 0, 2000)});
  Bytes audio = audio_block(2, {{0, audio_packet(0)}});
  auto dv = fragments(video, 1, 0, 1000);
  auto da = fragments(audio, 1, 1, 1000);
  // An audio block in the middle of a video block does not abandon it.
  feed_one(dv[0]);
  feed(da);
  for (size_t i = 1; i < dv.size(); ++i) feed_one(dv[i]);
  EXPECT_EQ(slot(0, 4).state.load(), detail::kSlotReady);
  EXPECT_EQ(delta(&Statistics::blocks_abandoned), 0u);
  EXPECT_EQ(delta(&Statistics::audio_blocks), 1u);
}

// ---- Registers ---------------------------------------------------------------------

TEST_F(Assembly, CompletedBlocks_SetTheirSetsRegisters) {
  VideoHeader h;
  h.channel = 9;
  h.time_value = 0x11223344;
  h.time_word = 0x5566;
  h.status_word = 0xBEEF;
  h.status_byte = 0x42;
  h.ptz[0] = 7, h.ptz[1] = 8, h.ptz[2] = 9;
  feed(fragments(video_block(h, {packet(9, 0)}), 1, 0, 4096));
  detail::LiveState& s = detail::state();
  EXPECT_EQ(s.sets[0].time_value.load(), 0x11223344u);
  EXPECT_EQ(s.sets[0].time_word.load(), 0x5566u);
  EXPECT_EQ(s.sets[0].status_word.load(), 0xBEEFu);
  EXPECT_EQ(s.sets[0].status_byte.load(), 0x42u);
  EXPECT_EQ(s.last_video_channel.load(), 9);
  EXPECT_EQ(s.ptz[9][0].load(), 7u);
  EXPECT_EQ(s.ptz[9][2].load(), 9u);

  // Set 1 keeps its own time and status; the channel register and PTZ stay.
  h.type = 1;
  h.channel = 11;
  h.status_byte = 0x33;
  h.ptz[0] = 1;
  feed(fragments(video_block(h, {packet(11, 0)}), 2, 0, 4096));
  EXPECT_EQ(s.sets[1].status_byte.load(), 0x33u);
  EXPECT_EQ(s.sets[0].status_byte.load(), 0x42u);
  EXPECT_EQ(s.last_video_channel.load(), 11);  // set by fragment 0 of any video block
  EXPECT_EQ(s.ptz[11][0].load(), 0u);
}

// ---- The display channel's group ---------------------------------------------------

class Group : public Assembly {
 protected:
  detail::GroupRecord* group(int set) { return detail::state().sets[set].group; }
  const uint8_t* display(int set) {
    detail::VideoSet& vs = detail::state().sets[set];
    platform::MutexLock lock(vs.group_lock);
    return vs.display.data();
  }
};

TEST_F(Group, DisplayChannelBlock_DescribesEachRecordWithItsDueTime) {
  detail::state().display_channel.store(6 + 1);
  VideoHeader h;
  h.channel = 6;
  std::vector<Bytes> packets;
  for (int k = 0; k < 5; ++k) packets.push_back(packet(6, 90000 + 9000 * k, 300 + 64 * k));
  feed(fragments(video_block(h, packets), 1, 0, 1400));
  detail::GroupRecord* g = group(0);
  uint32_t offset = 6;
  for (int k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(g[k].channel, 6u);
    EXPECT_EQ(g[k].offset, offset);
    EXPECT_EQ(g[k].data, display(0) + offset);
    EXPECT_EQ(g[k].length, (packets[k].size() + 31) / 32 * 32);
    EXPECT_EQ(g[k].kind, k == 0 ? 1u : 2u);
    EXPECT_EQ(g[k].pts, 90000u + 9000u * k);
    EXPECT_EQ(g[k].due_ms, 100u * k);
    offset += g[k].length + 6;
  }
  // The records end after record 4: the rest are empty at the buffer's start.
  for (int k = 5; k < 20; ++k) {
    EXPECT_EQ(g[k].length, 0u);
    EXPECT_EQ(g[k].data, display(0));
    EXPECT_EQ(g[k].kind, 0u);
  }
}

TEST_F(Group, TwentyFiveRecords_OnlyTwentyAreDescribed) {
  detail::state().display_channel.store(1);
  VideoHeader h;
  std::vector<Bytes> packets;
  for (int k = 0; k < 25; ++k) packets.push_back(packet(0, 9000 * k, 100));
  feed(fragments(video_block(h, packets), 1, 0, 1400));
  for (int k = 0; k < 20; ++k) EXPECT_EQ(group(0)[k].length, 128u) << k;
  EXPECT_EQ(group(0)[19].due_ms, 1900u);
}

TEST_F(Group, DisplayChannelNone_MarksNoGroupOnEveryBlockOfTheSet) {
  VideoHeader h;
  h.channel = 3;
  group(0)[0].length = 1234;
  feed(fragments(video_block(h, {packet(3, 0)}), 1, 0, 4096));
  EXPECT_EQ(group(0)[0].length, detail::kNoGroup);
  // Another channel than the display channel leaves the table alone.
  detail::state().display_channel.store(9);
  group(0)[0].length = 1234;
  feed(fragments(video_block(h, {packet(3, 0)}), 2, 0, 4096));
  EXPECT_EQ(group(0)[0].length, 1234u);
}

TEST_F(Group, RecordRunningOutOfTheBlock_EndsTheWalkBeforeIt) {
  detail::state().display_channel.store(1);
  VideoHeader h;
  Bytes block = video_block(h, {packet(0, 0, 200), packet(0, 9000, 200)});
  // The second record claims 4000 units: far past the block and its copy.
  const size_t second = 128 + 6 + 224;
  block[second + 2] = 0xA0;
  block[second + 3] = 0x0F;
  feed(fragments(block, 1, 0, 4096));
  EXPECT_EQ(group(0)[0].length, 224u);
  EXPECT_EQ(group(0)[1].length, 0u);
  EXPECT_EQ(slot(0, 0).state.load(), detail::kSlotReady);
}

TEST_F(Group, LengthFieldBeyondTheDisplayBuffer_FilesTheBlockWithoutAGroup) {
  detail::state().display_channel.store(1);
  VideoHeader h;
  Bytes block = video_block(h, {packet(0, 0)}, /*length_field=*/(1 << 19) - 100);
  feed(fragments(block, 1, 0, 4096));
  EXPECT_EQ(group(0)[0].length, detail::kNoGroup);
  EXPECT_EQ(slot(0, 0).state.load(), detail::kSlotReady);
}

// ---- Bounds ------------------------------------------------------------------------------

TEST_F(Assembly, FragmentBeyondTheStagingBuffer_IsDroppedAndNotCounted) {
  // 255 × 65535 lies far beyond 1 MiB of staging.
  Bytes payload(100, 1);
  EXPECT_EQ(feed_one(datagram(1, 255, 2, 0, 0xFFFF, payload)), Outcome::kDropped);
  // Only the low 16 bits of the stride count: 0x10010 is a stride of 16.
  EXPECT_EQ(feed_one(datagram(2, 1, 2, 0, 0x10010, payload)), Outcome::kStored);
  EXPECT_EQ(delta(&Statistics::dropped_fragments), 1u);
}

TEST_F(Assembly, DirectFragmentBeyondTheVideoSlot_IsDroppedAndTheBlockNeverCompletes) {
  VideoHeader h;
  Bytes head = video_block(h, {packet(0, 0)});
  head.resize(1000);
  ASSERT_EQ(feed_one(datagram(1, 0, 2, 0, 60000, head)), Outcome::kStored);
  // Fragment 9 at 9 × 60000 = 540,000: inside staging, outside the 512 KiB slot.
  EXPECT_EQ(feed_one(datagram(1, 9, 2, 0, 60000, Bytes(1000, 2))), Outcome::kDropped);
  EXPECT_EQ(slot(0, 0).state.load(), detail::kSlotEmpty);
}

TEST_F(Assembly, StagedVideoBlockLongerThanItsSlot_IsDroppedWhole) {
  VideoHeader h;
  h.channel = 2;
  Bytes block = video_block(h, {packet(2, 0)}, /*length_field=*/(1 << 19));
  auto d = fragments(block, 1, 0, 128);
  std::vector<int> order;
  for (int i = static_cast<int>(d.size()) - 1; i >= 0; --i) order.push_back(i);
  EXPECT_EQ(feed(d, order), Outcome::kBlockDropped);
  EXPECT_EQ(slot(0, 2).state.load(), detail::kSlotEmpty);
}

TEST_F(Assembly, FragmentZeroTooShortForTheBlockType_IsDropped) {
  EXPECT_EQ(feed_one(datagram(1, 0, 1, 0, 16, Bytes(15, 0))), Outcome::kDropped);
}

TEST_F(Assembly, AbsentSlotBuffer_DropsTheBlock) {
  {
    std::lock_guard<std::mutex> lock(slot(0, 12).lock);
    slot(0, 12).buffer = platform::Buffer();
  }
  VideoHeader h;
  h.channel = 12;
  EXPECT_EQ(feed(fragments(video_block(h, {packet(12, 0)}), 1, 0, 4096)), Outcome::kBlockDropped);
}

// ---- Audio blocks -------------------------------------------------------------------------

class Audio : public Assembly {
 protected:
  uint32_t decoded_length(int r, int w, size_t sub_offset = 0) {
    const uint8_t* b = ring(r).slots[w].buffer.data() + sub_offset;
    return b[68] | (b[69] << 8) | (b[70] << 16) | (uint32_t{b[71]} << 24);
  }
};

TEST_F(Audio, MatchingSubBlock_IsDecodedInPlaceAndQueued) {
  Bytes block = audio_block(2, {{1, audio_packet(1)}, {0, audio_packet(0)}});
  EXPECT_EQ(feed(fragments(block, 1, 1, 1400)), Outcome::kCompleted);
  detail::AudioSlot& s0 = ring(0).slots[0];
  EXPECT_EQ(s0.state.load(), detail::kSlotQueued);
  EXPECT_EQ(ring(0).write_index.load(), 1);
  const size_t second = 72 + 2112;
  EXPECT_EQ(decoded_length(0, 0, second), 8192u);
  EXPECT_EQ(s0.header.data, s0.buffer.data() + second + 72);
  EXPECT_EQ(s0.header.length, 8192u);
  EXPECT_EQ(s0.header.user, 0u);
  EXPECT_EQ(s0.header.flags, 12u);
  EXPECT_EQ(s0.header.loops, 1u);
}

TEST_F(Audio, RingOneBlock_UsesItsModeAndIds) {
  detail::state().audio.wave_mode.store(2);
  detail::state().audio.selected_channel[1].store(3);
  ring(1).write_index.store(4);
  feed(fragments(audio_block(3, {{3, audio_packet(3)}}), 1, 1, 4096));
  EXPECT_EQ(ring(1).slots[4].state.load(), detail::kSlotQueued);
  EXPECT_EQ(ring(1).slots[4].header.user, 14u);
  EXPECT_EQ(ring(1).write_index.load(), 5);
}

TEST_F(Audio, CountByteZeroIsOneSubBlock_AndNineIsFour) {
  // Channel 0 is in the second sub-block: a count of 0 never gets there.
  std::vector<SubBlock> subs = {{1, audio_packet(1)}, {0, audio_packet(0)}};
  feed(fragments(audio_block(2, subs, 0), 1, 1, 4096));
  EXPECT_EQ(ring(0).slots[0].state.load(), detail::kSlotEmpty);
  EXPECT_EQ(ring(0).write_index.load(), 0);
  // With 9 the walk goes on to four sub-blocks; channel 0 is the fourth.
  subs = {{1, audio_packet(1)}, {2, audio_packet(2)}, {3, audio_packet(3)}, {0, audio_packet(0)}};
  subs[0].sequence = 1;
  feed(fragments(audio_block(2, subs, 9), 2, 1, 4096));
  EXPECT_EQ(ring(0).slots[0].state.load(), detail::kSlotQueued);
}

TEST_F(Audio, SameSequenceNumberTwice_SecondIsNotDecodedOrQueued) {
  SubBlock sub{0, audio_packet(0)};
  sub.sequence = 17;
  feed(fragments(audio_block(2, {sub}), 1, 1, 4096));
  feed(fragments(audio_block(2, {sub}), 2, 1, 4096));
  EXPECT_EQ(ring(0).write_index.load(), 1);
  EXPECT_EQ(ring(0).slots[1].state.load(), detail::kSlotEmpty);
  sub.sequence = 18;
  feed(fragments(audio_block(2, {sub}), 3, 1, 4096));
  EXPECT_EQ(ring(0).write_index.load(), 2);
}

TEST_F(Audio, NextSlotStillQueued_BlockIsPreparedButNotQueued) {
  ring(0).slots[1].state.store(detail::kSlotQueued);
  feed(fragments(audio_block(2, {{0, audio_packet(0)}}), 1, 1, 4096));
  EXPECT_EQ(ring(0).write_index.load(), 0);
  EXPECT_EQ(ring(0).slots[0].state.load(), detail::kSlotEmpty);
  EXPECT_TRUE(ring(0).slots[0].header.prepared);
  EXPECT_EQ(decoded_length(0, 0), 8192u);
}

TEST_F(Audio, DeviceNotOpen_FreesTheSlotAndRewindsTheRing) {
  detail::state().audio.device_state.store(kDeviceNone);
  ring(0).write_index.store(3);
  feed(fragments(audio_block(2, {{0, audio_packet(0)}}), 1, 1, 4096));
  EXPECT_EQ(ring(0).slots[3].state.load(), detail::kSlotEmpty);
  EXPECT_EQ(ring(0).write_index.load(), 0);
}

TEST_F(Audio, NoAudioMark_SetsTheRegisterAndStopsTheWalk) {
  SubBlock marked{0, audio_packet(0)};
  marked.flags = 0x10;
  feed(fragments(audio_block(2, {marked}), 1, 1, 4096));
  EXPECT_EQ(detail::state().no_audio[0].load(), 1);
  EXPECT_EQ(ring(0).write_index.load(), 0);
  // Ring 1's mark bit is 0x20, and its own next block clears it again.
  detail::state().audio.wave_mode.store(2);
  marked.flags = 0x20;
  feed(fragments(audio_block(3, {marked}), 2, 1, 4096));
  EXPECT_EQ(detail::state().no_audio[1].load(), 1);
  feed(fragments(audio_block(3, {{0, audio_packet(0)}}), 3, 1, 4096));
  EXPECT_EQ(detail::state().no_audio[1].load(), 0);
  EXPECT_EQ(detail::state().no_audio[0].load(), 1);
}

TEST_F(Audio, AudioSwitchOffOrOtherWaveMode_NothingIsQueued) {
  detail::state().audio_switch.store(0);
  feed(fragments(audio_block(2, {{0, audio_packet(0)}}), 1, 1, 4096));
  EXPECT_EQ(ring(0).write_index.load(), 0);
  detail::state().audio_switch.store(1);
  detail::state().audio.wave_mode.store(2);
  feed(fragments(audio_block(2, {{0, audio_packet(0)}}), 2, 1, 4096));
  EXPECT_EQ(ring(0).write_index.load(), 0);
  EXPECT_EQ(delta(&Statistics::audio_blocks), 2u);
}

TEST_F(Audio, StagedAudioBlock_IsCopiedAsFarAsItsFragmentsReached) {
  Bytes block = audio_block(2, {{2, audio_packet(2)}, {0, audio_packet(0)}});
  auto d = fragments(block, 1, 1, 1000);
  std::vector<int> order;
  for (int i = static_cast<int>(d.size()) - 1; i >= 0; --i) order.push_back(i);
  EXPECT_EQ(feed(d, order), Outcome::kCompleted);
  // The second sub-block lies beyond length field + 28, yet it was found.
  EXPECT_EQ(ring(0).slots[0].state.load(), detail::kSlotQueued);
  EXPECT_EQ(decoded_length(0, 0, 72 + 2112), 8192u);
}

TEST_F(Audio, SubBlockLengthsRunningOutOfTheSlot_EndTheWalk) {
  SubBlock first{1, audio_packet(1)};
  Bytes block = audio_block(2, {first, {0, audio_packet(0)}}, 4);
  // The first sub-block claims a length that puts the next one past 256 KiB.
  block[4] = 0xF0, block[5] = 0xFF, block[6] = 0x03;
  EXPECT_EQ(feed(fragments(block, 1, 1, 4096)), Outcome::kCompleted);
  EXPECT_EQ(ring(0).write_index.load(), 0);
}

}  // namespace
}  // namespace virazav::live
