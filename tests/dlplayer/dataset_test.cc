// The data set through its exports: opening and closing with the playback
// thread's life cycle, both index file forms, masks, frame interval and
// master channel, slices, search, channel pictures, and damaged files.
#include "dlplayer/dataset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "dlplayer/dataset_state.h"
#include "dlplayer/dlplayer.h"
#include "dlplayer/frame_index.h"
#include "live/live.h"
#include "live/live_state.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "stream_material.h"
#include "support/recorder_fixture.h"
#include "virazav.h"

namespace virazav::dlplayer {
namespace {

using testing::ChannelPlan;
using testing::StreamPlan;

struct Message {
  std::string text, caption;
};
void capture(const char* text, const char* caption, void* user) {
  static_cast<std::vector<Message>*>(user)->push_back({text, caption});
}

// The live audio output's device state, as the index builder reads it.
void set_device_open(bool open) {
  live::detail::state().audio.device_state.store(open ? live::kDeviceOpen : live::kDeviceClosed);
}

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_message_handler(capture, &messages_);
    ASSERT_EQ(decode_init(), 0);
  }
  void TearDown() override {
    decode_deinit();
    set_device_open(false);
    platform::set_message_handler(nullptr, nullptr);
  }
  // Writes the stream as "s.mpg" and opens it with the index in "idx".
  unsigned open(const testing::MadeStream& m, int parts = 1) {
    platform::make_directory("idx");
    EXPECT_TRUE(m.builder.write("s.mpg"));
    return Mpeg4DLdata_fileopen("s.mpg", ".", "idx", parts);
  }
  std::vector<format::FrameIndexEntry> entries() {
    std::vector<format::FrameIndexEntry> out;
    for (int n = 0; n <= index_last_valid(); ++n) out.push_back(index_entry(n));
    return out;
  }
  testing::TempCwd cwd_;
  std::vector<Message> messages_;
};

void expect_index_matches(const std::vector<format::FrameIndexEntry>& got,
                          const testing::MadeStream& m) {
  auto want = m.indexed();
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].kind, want[i].audio ? 1 : 0) << "entry " << i;
    EXPECT_EQ(got[i].channel, want[i].channel) << "entry " << i;
    EXPECT_EQ(got[i].offset, static_cast<uint64_t>(want[i].offset)) << "entry " << i;
    EXPECT_EQ(got[i].pts, want[i].pts) << "entry " << i;
  }
}

TEST_F(DataSetTest, OpenStartsTheThread_SecondOpenIsRefused_CloseEndsIt) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}};
  auto m = testing::make_stream(plan);
  EXPECT_EQ(Mpeg4DLdata_fileopen("s.mpg", ".", "idx", 1), 0u);  // no such file yet
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "error: file open error ");
  EXPECT_EQ(messages_[0].caption, "s.mpg");
  unsigned size = open(m);
  EXPECT_EQ(size, m.builder.bytes().size());
  EXPECT_EQ(play_mode(), 2);
  EXPECT_EQ(Mpeg4DLdata_fileopen("s.mpg", ".", "idx", 1), 0u);
  EXPECT_EQ(play_mode(), 2);
  EXPECT_TRUE(file_is_open());
  EXPECT_EQ(Mpeg4DLdata_fileclose(), 0);
  EXPECT_EQ(play_mode(), 9);
  EXPECT_FALSE(file_is_open());
  // The index survives the close.
  EXPECT_EQ(Mpeg4DLdata_frame_index("idx", 0), 1);
  EXPECT_GE(index_last_valid(), 0);
}

TEST_F(DataSetTest, BuiltAndDownloadIndexFiles_LoadTheSameEntries) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}, ChannelPlan{4, 10, 5}};
  plan.audio = {1};
  auto m = testing::make_stream(plan);
  ASSERT_GT(open(m), 0u);
  ASSERT_EQ(Mpeg4DLdata_frame_index("idx", 0), 1);
  auto built = entries();
  expect_index_matches(built, m);
  Mpeg4DLdata_fileclose();
  std::vector<uint8_t> full = testing::read_file("idx/.index");
  ASSERT_EQ(full.size(), format::kIndexFileBytes);
  // A download writes count x 12 bytes.
  platform::make_directory("dl");
  ASSERT_EQ(write_index_file("dl", static_cast<int>(built.size())), 0);
  EXPECT_EQ(testing::read_file("dl/.index").size(), built.size() * format::kIndexEntrySize);
  ASSERT_GT(Mpeg4DLdata_fileopen("s.mpg", ".", "dl", 1), 0u);
  EXPECT_EQ(Mpeg4DLdata_frame_index("dl", 0), 1);
  expect_index_matches(entries(), m);
  Mpeg4DLdata_fileclose();
}

TEST_F(DataSetTest, MasksAndFrameInterval_FollowTheIndexedChannels) {
  struct Row {
    const char* name;
    std::vector<ChannelPlan> video;
    std::vector<int> audio;
    bool device;
    uint32_t video_mask, audio_mask;
    int interval, master;
  } rows[] = {
      {"key frames 1 s apart", {{0, 10, 10}, {2, 10, 10}}, {}, false, 0x5, 0, 1000, 0},
      {"channel 3 key frames 0.5 s apart", {{0, 10, 10}, {3, 10, 5}}, {}, false, 0x9, 0, 500, 3},
      {"audio with the device open", {{1, 10, 10}}, {0, 2}, true, 0x2, 0x5, 500, 1},
      {"audio with the device closed", {{1, 10, 10}}, {0}, false, 0x2, 0, 1000, 1},
  };
  for (const Row& r : rows) {
    set_device_open(r.device);
    StreamPlan plan;
    plan.video = r.video;
    plan.audio = r.audio;
    auto m = testing::make_stream(plan);
    std::remove("idx/.index");
    ASSERT_GT(open(m), 0u) << r.name;
    unsigned v = 0, a = 0;
    Mpeg4DLdata_get_enable_ch(&v, &a, "idx", 1);
    EXPECT_EQ(v, r.video_mask) << r.name;
    EXPECT_EQ(a, r.audio_mask) << r.name;
    EXPECT_EQ(detail::state().frame_interval_ms.load(), r.interval) << r.name;
    EXPECT_EQ(detail::state().master_channel.load(), r.master) << r.name;
    // Audio packets are indexed whether or not the device is open; predicted
    // pictures never are.
    expect_index_matches(entries(), m);
    Mpeg4DLdata_fileclose();
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DataSetTest, IndexSlices_ReportRisingProgressThenParts) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}};
  plan.seconds = 6;
  auto m = testing::make_stream(plan);
  ASSERT_GT(open(m, 10), 0u);
  EXPECT_EQ(Mpeg4DLdata_frame_index("idx", 0), 0);
  int last = 0, calls = 0, got = 0;
  while ((got = Mpeg4DLdata_frame_index("idx", 10)) != 10 && calls < 100) {
    EXPECT_GT(got, last) << "call " << calls;
    EXPECT_LT(got, 10);
    last = got;
    ++calls;
  }
  EXPECT_EQ(got, 10);
  EXPECT_GE(calls, 3);
  EXPECT_EQ(Mpeg4DLdata_frame_index("idx", 10), 10);
  EXPECT_EQ(Mpeg4DLdata_frame_index("idx", 0), 1);
  expect_index_matches(entries(), m);
  Mpeg4DLdata_fileclose();
}

TEST_F(DataSetTest, MasksAskedBeforeTheIndexIsReady_ShowTheMessageAndBuildIt) {
  StreamPlan plan;
  plan.video = {ChannelPlan{6, 10, 10}};
  plan.seconds = 6;
  auto m = testing::make_stream(plan);
  ASSERT_GT(open(m, 10), 0u);
  ASSERT_EQ(Mpeg4DLdata_frame_index("idx", 0), 0);
  unsigned v = 0, a = 7;
  Mpeg4DLdata_get_enable_ch(&v, &a, "idx", 10);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "frame index is none.");
  EXPECT_EQ(messages_[0].caption, std::string(50, ' '));
  EXPECT_EQ(v, 1u << 6);
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(Mpeg4DLdata_frame_index("idx", 0), 1);
  expect_index_matches(entries(), m);
  Mpeg4DLdata_fileclose();
}

TEST_F(DataSetTest, DamagedStreamFiles_GiveTheirDocumentedResults) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}};
  plan.seconds = 2;
  auto good = testing::make_stream(plan);
  const auto& packets = good.packets;
  auto with_size = [&](size_t packet, uint32_t size) {
    std::vector<uint8_t> b = good.builder.bytes();
    format::encode_field22(
        size, &b[static_cast<size_t>(packets[packet].offset) + format::kPacketSizeOffset]);
    return b;
  };
  std::vector<uint8_t> no_header(good.builder.bytes().begin() + 292, good.builder.bytes().end());
  std::vector<uint8_t> cut(
      good.builder.bytes().begin(),
      good.builder.bytes().begin() + static_cast<long>(packets[5].offset + 40));
  struct Row {
    const char* name;
    std::vector<uint8_t> bytes;
    bool opens;
    size_t entries;
  } rows[] = {
      {"empty file", {}, false, 0},
      {"header only",
       std::vector<uint8_t>(good.builder.bytes().begin(), good.builder.bytes().begin() + 292),
       false, 0},
      {"first packet size 0", with_size(0, 0), false, 0},
      {"first packet size below its header", with_size(0, 26), false, 0},
      {"first packet above 1 MiB", with_size(0, (1u << 20) + 1), false, 0},
      {"later key frame size 0", with_size(10, 0), true, 1},
      {"packet size beyond the end", with_size(12, format::kField22Max), true, 2},
      {"no pack header", no_header, true, 2},
      {"ends inside a packet", cut, true, 1},
  };
  for (const Row& r : rows) {
    messages_.clear();
    std::remove("idx/.index");
    platform::make_directory("idx");
    ASSERT_TRUE(testing::write_file("s.mpg", r.bytes));
    unsigned size = Mpeg4DLdata_fileopen("s.mpg", ".", "idx", 1);
    if (!r.opens) {
      EXPECT_EQ(size, 0u) << r.name;
      ASSERT_EQ(messages_.size(), 1u) << r.name;
      EXPECT_EQ(messages_[0].text, "error: file open error ") << r.name;
      EXPECT_FALSE(file_is_open()) << r.name;
      continue;
    }
    EXPECT_EQ(size, r.bytes.size()) << r.name;
    EXPECT_EQ(Mpeg4DLdata_frame_index("idx", 0), 1) << r.name;
    EXPECT_EQ(static_cast<size_t>(index_last_valid() + 1), r.entries) << r.name;
    Mpeg4DLdata_fileclose();
  }
  // Without a pack header the base time is 0.
  ASSERT_TRUE(testing::write_file("s.mpg", no_header));
  ASSERT_GT(Mpeg4DLdata_fileopen("s.mpg", ".", "idx", 1), 0u);
  EXPECT_EQ(detail::state().base_time.load(), 0);
  Mpeg4DLdata_fileclose();
}

TEST_F(DataSetTest, IndexFileOffsetsBeyondTheStream_EndTheLoadedIndex) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}};
  auto m = testing::make_stream(plan);
  auto want = m.indexed();
  ASSERT_EQ(want.size(), 3u);
  platform::make_directory("idx");
  ASSERT_EQ(index_reset(), 0);
  for (size_t i = 0; i < want.size(); ++i) {
    format::FrameIndexEntry e;
    e.channel = 0;
    e.offset = i == 1 ? m.builder.bytes().size() + 100 : static_cast<uint64_t>(want[i].offset);
    e.pts = want[i].pts;
    ASSERT_EQ(index_append(e), 0);
  }
  ASSERT_EQ(write_index_file("idx", 3), 0);
  ASSERT_TRUE(m.builder.write("s.mpg"));
  ASSERT_GT(Mpeg4DLdata_fileopen("s.mpg", ".", "idx", 1), 0u);
  EXPECT_EQ(index_last_valid(), 0);
  EXPECT_EQ(index_entry(1).offset, 0u);
  Mpeg4DLdata_fileclose();
}

TEST_F(DataSetTest, IndexWalks_StepLocateAndSeekKeyFrames) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}, ChannelPlan{1, 10, 10}};
  plan.audio = {0};
  plan.seconds = 3;
  auto m = testing::make_stream(plan);
  ASSERT_GT(open(m), 0u);
  auto idx = entries();
  ASSERT_GE(idx.size(), 8u);
  auto find = [&](int from, int step, auto pred) {
    for (int n = from + step; n >= 0 && n < static_cast<int>(idx.size()); n += step) {
      if (pred(idx[n])) return n;
    }
    return -1;
  };
  int last = static_cast<int>(idx.size()) - 1;
  struct Row {
    const char* name;
    int cursor, filter, video, audio, direction;
    int want;
  } rows[] = {
      {"next key frame of channel 1", 0, 1, 1, -1, 1,
       find(0, 1, [](const format::FrameIndexEntry& e) { return e.kind == 0 && e.channel == 1; })},
      {"next audio entry", 0, 2, -1, 0, 1,
       find(0, 1, [](const format::FrameIndexEntry& e) { return e.kind == 1; })},
      {"next entry of any kind", 2, 3, -1, -1, 1, 3},
      {"backward key frame of channel 0", last, 1, 0, -1, 2,
       find(last, -1,
            [](const format::FrameIndexEntry& e) { return e.kind == 0 && e.channel == 0; })},
      {"beyond the last entry stops there", last, 3, -1, -1, 1, last},
      {"below entry 0 is not found", 0, 3, -1, -1, 2, 0},
      {"no match forward ends at the last entry", 0, 1, 9, -1, 1, last},
  };
  for (const Row& r : rows) {
    set_index_cursor(r.cursor);
    int64_t off = detail::index_step(r.filter, r.video, r.audio, r.direction);
    EXPECT_EQ(index_cursor(), r.want) << r.name;
    EXPECT_EQ(off, static_cast<int64_t>(idx[r.want].offset)) << r.name;
  }
  // A time stamp limit: the first key frame at or after it.
  set_index_cursor(0);
  detail::index_step(1, -1, -1, 1, true, idx[5].pts);
  EXPECT_GE(idx[index_cursor()].pts, idx[5].pts);
  EXPECT_EQ(idx[index_cursor()].kind, 0);
  // index_locate: one before the entry at the offset going forward, one after
  // going backward.
  set_index_cursor(0);
  EXPECT_EQ(detail::index_locate(static_cast<int64_t>(idx[4].offset), 1), 3);
  set_index_cursor(last);
  EXPECT_EQ(detail::index_locate(static_cast<int64_t>(idx[4].offset), 2), 5);
  // seek_key_frame from just after a key frame of channel 1 lands on the next
  // key frame of channel 1 when it is the display channel.
  Mpeg4DLdata_set_disptype(1);
  int k1 =
      find(0, 1, [](const format::FrameIndexEntry& e) { return e.kind == 0 && e.channel == 1; });
  int k2 =
      find(k1, 1, [](const format::FrameIndexEntry& e) { return e.kind == 0 && e.channel == 1; });
  ASSERT_GT(k2, k1);
  detail::state().current_offset = static_cast<int64_t>(idx[k1].offset) + 1;
  set_index_cursor(0);
  EXPECT_EQ(detail::seek_key_frame(1), 1);
  EXPECT_EQ(detail::state().current_offset, static_cast<int64_t>(idx[k2].offset));
  EXPECT_EQ(detail::state().current_pts.load(), idx[k2].pts);
  // Standing on a key frame of the display channel stays there.
  EXPECT_EQ(detail::seek_key_frame(1), 1);
  EXPECT_EQ(detail::state().current_offset, static_cast<int64_t>(idx[k2].offset));
  Mpeg4DLdata_fileclose();
}

TEST_F(DataSetTest, SearchAndTimes_FollowTheBaseTimeAndTheEndStamp) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}};
  plan.seconds = 6;
  // Packed recorder time of 2024-03-05 06:07:08 (every month 31 days).
  const int packed = 24 * 32140800 + 2 * 2678400 + 4 * 86400 + 6 * 3600 + 7 * 60 + 8;
  platform::LocalTime lt{2024, 3, 5, 0, 6, 7, 8};
  int64_t base = platform::make_local_seconds(lt);
  EXPECT_EQ(::make_base_tm(packed), base);
  plan.scr = static_cast<uint32_t>(base);
  auto m = testing::make_stream(plan);
  ASSERT_GT(open(m), 0u);
  uint8_t record[14];
  std::fill(record, record + 14, 0xEE);
  ::calc_time(0, record);
  EXPECT_EQ(std::vector<uint8_t>(record + 8, record + 14),
            (std::vector<uint8_t>{24, 3, 5, 6, 7, 8}));
  EXPECT_EQ(record[0], 0xEE);
  EXPECT_EQ(Mpeg4DLdata_search(packed - 1, 100), 0);
  EXPECT_EQ(Mpeg4DLdata_search(packed - 1, 0), 292);
  EXPECT_EQ(Mpeg4DLdata_search(packed + 60, 100), 100);
  int mid = Mpeg4DLdata_search(packed + 3, 100);
  EXPECT_GT(mid, 0);
  EXPECT_LT(mid, 100);
  int at = Mpeg4DLdata_search(packed + 3, 0);
  bool on_key_frame = false;
  for (const auto& p : m.packets) on_key_frame = on_key_frame || (p.key && p.offset == at);
  EXPECT_TRUE(on_key_frame) << at;
  Mpeg4DLdata_fileclose();
  EXPECT_EQ(Mpeg4DLdata_search(packed + 3, 100), 0);  // no file open
}

TEST_F(DataSetTest, ChannelPictures_AreWrittenOnlyWhenReady) {
  StreamPlan plan;
  plan.video = {ChannelPlan{2, 10, 10}};
  auto m = testing::make_stream(plan);
  ASSERT_GT(open(m), 0u);
  EXPECT_EQ(Mpeg4DLdata_filelock(2), 0);
  EXPECT_EQ(Mpeg4DLdata_filelock(16), 0);
  EXPECT_EQ(Mpeg4DLdata_fileunlock(-1), 0);
  EXPECT_TRUE(testing::read_file("2.bmp").empty());
  detail::state().picture_ready[2].store(1);
  EXPECT_EQ(Mpeg4DLdata_filelock(2), 1);
  EXPECT_EQ(testing::read_file("2.bmp").size(), 54u + 344u * 336u * 3u);
  EXPECT_EQ(Mpeg4DLdata_filelock(2), 1);  // the flag stays set
  EXPECT_EQ(Mpeg4DLdata_fileunlock(2), 1);
  EXPECT_EQ(Mpeg4DLdata_fileunlock(2), 0);
  EXPECT_EQ(Mpeg4DLdata_filelock(2), 0);
  Mpeg4DLdata_fileclose();
}

TEST_F(DataSetTest, FailedFileCalls_EndInADocumentedResultAndLeaveTheLayerUsable) {
  StreamPlan plan;
  plan.video = {ChannelPlan{0, 10, 10}};
  plan.audio = {0};
  auto m = testing::make_stream(plan);
  ASSERT_TRUE(m.builder.write("s.mpg"));
  platform::make_directory("idx");
  const unsigned size = static_cast<unsigned>(m.builder.bytes().size());
  for (auto kind : {platform::FaultKind::kFileOpen, platform::FaultKind::kFileRead,
                    platform::FaultKind::kFileSeek, platform::FaultKind::kAlloc}) {
    for (int nth = 1; nth < 200; ++nth) {
      std::remove("idx/.index");
      unsigned got;
      {
        platform::FaultScope faults;
        platform::fault_arm(kind, nth);
        got = Mpeg4DLdata_fileopen("s.mpg", ".", "idx", 1);
        Mpeg4DLdata_fileclose();
        if (platform::fault_calls(kind) < nth) {
          EXPECT_EQ(got, size) << "no fault left to inject, round " << nth;
          break;
        }
      }
      EXPECT_TRUE(got == 0 || got == size) << static_cast<int>(kind) << " round " << nth;
      EXPECT_FALSE(file_is_open()) << static_cast<int>(kind) << " round " << nth;
      EXPECT_EQ(play_mode(), 9) << static_cast<int>(kind) << " round " << nth;
    }
  }
  // Afterwards the layer opens the file and builds the whole index.
  std::remove("idx/.index");
  ASSERT_EQ(Mpeg4DLdata_fileopen("s.mpg", ".", "idx", 1), size);
  expect_index_matches(entries(), m);
  Mpeg4DLdata_fileclose();
}

TEST(DecodeInit, SetsUpTheDecoderThenTheLayer_AndReturnsTheLayersResult) {
  std::vector<Message> messages;
  platform::set_message_handler(capture, &messages);
  // The frame buffer fails: -1, and the layer is not initialised.
  {
    platform::FaultScope faults;
    platform::fault_arm(platform::FaultKind::kAlloc, 1);
    EXPECT_EQ(decode_init(), -1);
  }
  EXPECT_FALSE(initialised());
  EXPECT_EQ(decoder::frame_buffer(), nullptr);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "error: GlobalAlloc");
  // With the decoder set up already, the next allocation is the layer's own:
  // its failure is decode_init's result, 1.
  ASSERT_EQ(decoder::set_up(), 0);
  {
    platform::FaultScope faults;
    platform::fault_arm(platform::FaultKind::kAlloc, 1);
    EXPECT_EQ(decode_init(), 1);
  }
  EXPECT_FALSE(initialised());
  EXPECT_TRUE(decoder::setup_done());
  EXPECT_EQ(decode_init(), 0);
  EXPECT_TRUE(initialised());
  decode_deinit();
  EXPECT_FALSE(initialised());
  EXPECT_FALSE(decoder::setup_done());
  EXPECT_EQ(decoder::frame_buffer(), nullptr);
  platform::set_message_handler(nullptr, nullptr);
}

TEST(DecodeInit, LiveDecodesSearchInThePlayersCurrentDirection) {
  testing::TempCwd cwd;
  ASSERT_EQ(decode_init(), 0);
  auto pictures = testing::encode_mpeg4(176, 144, 1, 0, 10);
  std::vector<uint8_t> packet = {0x00, 0x11, 0x22};
  std::vector<uint8_t> key = testing::make_video_packet(0, 0, pictures[0].bits);
  packet.insert(packet.end(), key.begin(), key.end());
  // Backward, the packet must begin at the first byte; forward it is searched for.
  detail::state().direction.store(format::kBackward);
  EXPECT_EQ(decoder::decode_live_frame_to_file("back.bmp", packet.data(), packet.size()), 0);
  detail::state().direction.store(format::kForward);
  EXPECT_EQ(decoder::decode_live_frame_to_file("forward.bmp", packet.data(), packet.size()), 0);
  EXPECT_TRUE(testing::read_file("back.bmp").empty());
  EXPECT_FALSE(testing::read_file("forward.bmp").empty());
  decode_deinit();
}

TEST(DataSetLayer, NotInitialised_RefusesAndInitTwiceIsHarmless) {
  EXPECT_EQ(Mpeg4DLdata_fileopen("nothing.mpg", ".", ".", 1), 0u);
  EXPECT_EQ(Mpeg4DLdata_search(0, 10), 0);
  EXPECT_EQ(Mpeg4DLdata_init(), 0);
  EXPECT_EQ(Mpeg4DLdata_init(), 0);
  EXPECT_EQ(play_mode(), 9);
  EXPECT_EQ(Mpeg4DLdata_deinit(), 0);
  EXPECT_FALSE(initialised());
}

}  // namespace
}  // namespace virazav::dlplayer
