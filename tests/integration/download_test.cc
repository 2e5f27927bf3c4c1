// Downloads from the simulated recorder: the stream file and frame index are compared byte
// for byte with what the recorder sent, the edge sizes of the blocks, the refusals that
// keep the connection usable, and the failures of the stream file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "diag/log.h"
#include "media/media.h"
#include "media/recording.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kFps = 5;
constexpr int kVideoHeader = 100;

Bytes read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) {
  return std::ifstream(path).good();
}

uint32_t le16(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
  return le16(p) | (le16(p + 2) << 16);
}

// The 292 bytes in front of a download's packets: the pack header with the recording's
// start time as SCR and the program stream map of 16 video and 4 audio channels, written
// here byte by byte from the stream file's description.
Bytes expected_file_header(uint32_t scr) {
  const uint64_t s = scr;
  Bytes h = {0x00, 0x00, 0x01, 0xBA,
             static_cast<uint8_t>(0x44 | ((s >> 27) & 0x38) | ((s >> 28) & 0x03)),
             static_cast<uint8_t>(s >> 20),
             static_cast<uint8_t>(((s >> 12) & 0xF8) | 0x04 | ((s >> 13) & 0x03)),
             static_cast<uint8_t>(s >> 5), static_cast<uint8_t>(((s << 3) & 0xF8) | 0x04),
             0x01,  // SCR extension 0 and marker
             // program_mux_rate 25000 = 0x61A8 in 22 bits, two markers.
             static_cast<uint8_t>(25000 >> 14), static_cast<uint8_t>(25000 >> 6),
             static_cast<uint8_t>(((25000 << 2) & 0xFC) | 0x03), 0xFA, 0xFF, 0xFF};
  Bytes map = {0x00, 0x00, 0x01, 0xBC, 0x01, 0x0E, 0xE2, 0xFF, 0x00, 0x08};
  map.insert(map.end(), 8, 0xFF);
  map.insert(map.end(), {0x01, 0x00});
  for (int i = 0; i < 32; ++i) {
    const bool video = i < 16;
    const bool present = video || i - 16 < 4;
    const uint8_t id = static_cast<uint8_t>(video ? 0xE0 + i : 0xC0 + (i - 16));
    map.insert(map.end(),
               {static_cast<uint8_t>(present ? (video ? 0x84 : 0x91) : 0xFF), id, 0x00, 0x04});
    if (video) {
      map.insert(map.end(), {0x2D, 0x1E, 0xFF, 0xFF});
    } else {
      map.insert(map.end(), 4, 0xFF);
    }
  }
  h.insert(h.end(), map.begin(), map.end());
  return h;
}

// One index entry as the test expects it.
struct Entry {
  int kind;
  int channel;
  uint64_t offset;
  uint32_t pts;
};

// What a download of the recorder's steps must leave behind: the stream file after its
// header, the index entries, and each step's byte count.
struct Expected {
  Bytes packets;
  std::vector<Entry> entries;
  std::vector<uint32_t> step_bytes;
  std::vector<bool> step_has_video;
  std::vector<uint32_t> step_video_pts;
};

// Follows the chain rule: the first packet of a block gets the carried value, which then
// becomes its length; each later packet of the block gets the sum of the block's lengths
// before it; an audio packet gets the carried value, which becomes the audio block's size.
Expected expected_download(const std::vector<sim::DownloadStep>& steps) {
  Expected e;
  uint32_t carried = 0;
  uint64_t offset = 292;
  for (const auto& step : steps) {
    uint32_t bytes = 0;
    bool video = false;
    if (step.video.size() > kVideoHeader && step.video[27] > 0) {
      const uint8_t* b = step.video.data();
      size_t at = kVideoHeader;
      for (int i = 0; i < b[27]; ++i) {
        size_t len = 32 * le16(b + at + 2);
        Bytes p(b + at + 6, b + at + 6 + len);
        if (i == 0) {
          e.entries.push_back({0, b[10] >> 4, offset, *sim::packet_time_stamp(p.data(), p.size())});
          e.step_video_pts.push_back(e.entries.back().pts);
        }
        sim::put_field22(&p[21], carried);
        carried = i == 0 ? static_cast<uint32_t>(len) : carried + static_cast<uint32_t>(len);
        e.packets.insert(e.packets.end(), p.begin(), p.end());
        offset += len;
        at += 6 + len;
      }
      bytes += static_cast<uint32_t>(step.video.size());
      video = true;
    }
    if (!video) e.step_video_pts.push_back(0);
    if (step.audio.size() > 6) {
      Bytes p(step.audio.begin() + 6, step.audio.end());
      e.entries.push_back(
          {1, step.audio[0] >> 4, offset, *sim::packet_time_stamp(p.data(), p.size())});
      sim::put_field22(&p[21], carried);
      carried = static_cast<uint32_t>(step.audio.size());
      e.packets.insert(e.packets.end(), p.begin(), p.end());
      offset += p.size();
    }
    bytes += static_cast<uint32_t>(step.audio.size());
    e.step_bytes.push_back(bytes);
    e.step_has_video.push_back(video);
  }
  return e;
}

class DownloadTest : public RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    o.recording.video_channels = 0x0003;
    o.recording.audio_channels = 0x0001;
    o.recording.seconds = 10;
    o.recording.video.width = 176;
    o.recording.video.height = 144;
    o.recording.video.fps = kFps;
  }

  void SetUp() override {
    RecorderTest::SetUp();
    connect(0);
    path_ = cwd_.path() + "/stream.dat";
  }

  // SendDataF for `seconds` seconds of channels 0 and 1 with audio from 10:00:02, or
  // from a year earlier (nothing recorded then).
  int copy_fast(int seconds, bool recorded = true, int slot = 0, const char* path = nullptr) {
    return kora_copy_fast(slot, path ? path : path_.c_str(), 0, 3, recorded ? 24 : 23, 5, 1, 10, 0,
                          2, seconds, 1, 0, 0, 0);
  }

  // Runs kora_copy_next until it returns 0 or fails; stores each result and count.
  int copy_rest(std::vector<int>* results, std::vector<uint32_t>* counts) {
    for (int i = 0; i < 200; ++i) {
      uint8_t c4[4] = {0xEE, 0xEE, 0xEE, 0xEE};
      int rc = kora_copy_next(0, path_.c_str(), c4, cwd_.path().c_str());
      if (rc <= 0) return rc;
      results->push_back(rc);
      counts->push_back(uint32_t(c4[0]) << 24 | uint32_t(c4[1]) << 16 | uint32_t(c4[2]) << 8 |
                        c4[3]);
    }
    return -999;
  }

  std::string index_path() const { return cwd_.path() + "/.index"; }

  TempCwd cwd_;
  std::string path_;
};

TEST_F(DownloadTest, WholeDownload_StreamFileAndIndexMatchWhatTheRecorderSent) {
  struct Row {
    const char* name;
    bool split_blocks;  // every block arrives in two pieces, 5 ms apart
  };
  for (const Row& row : {Row{"in one piece", false}, Row{"split blocks", true}}) {
    rec().clear_faults();
    if (row.split_blocks) {
      sim::Fault f = make_fault(sim::FaultKind::kSplit, sim::kStageBlock, 0);
      f.delay_ms = 5;
      rec().inject(f);
    }
    ASSERT_EQ(copy_fast(3), 1) << row.name;
    std::vector<int> results;
    std::vector<uint32_t> counts;
    ASSERT_EQ(copy_rest(&results, &counts), 0) << row.name;

    const auto steps = rec().download_steps(0);
    ASSERT_GE(steps.size(), 6u) << row.name;
    const Expected want = expected_download(steps);
    const uint32_t start = static_cast<uint32_t>(sim::recorder_seconds({2024, 5, 1, 10, 0, 2}));
    Bytes file = read_file(path_);
    Bytes head = expected_file_header(start);
    ASSERT_GE(file.size(), head.size()) << row.name;
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 292), head) << row.name;
    EXPECT_TRUE(Bytes(file.begin() + 292, file.end()) == want.packets)
        << row.name << ": packets differ (" << file.size() - 292 << " vs " << want.packets.size()
        << " bytes)";

    // The chain named explicitly: the download's first packet points back 0 bytes, the
    // second packet of a block to the block's first, the next block's first packet to
    // the previous audio block's size.
    const Bytes& first_video = steps[0].video;
    const size_t first_len = 32 * le16(&first_video[kVideoHeader + 2]);
    EXPECT_EQ(sim::get_field22(&file[292 + 21]), 0u) << row.name;
    EXPECT_EQ(sim::get_field22(&file[292 + first_len + 21]), first_len) << row.name;
    const auto entries = want.entries;
    for (size_t i = 1; i < entries.size(); ++i) {
      if (entries[i].kind == 0 && entries[i - 1].kind == 1) {
        EXPECT_EQ(sim::get_field22(&file[entries[i].offset + 21]), 6 + 2112u)
            << row.name << " entry " << i;
        break;
      }
    }

    // Results: 1 for the first step, then whole seconds since the first video block.
    ASSERT_EQ(results.size() + 1, steps.size()) << row.name;
    for (size_t i = 1; i < steps.size(); ++i) {
      int want_rc = 1;
      if (want.step_has_video[i]) {
        int32_t d = static_cast<int32_t>(want.step_video_pts[i] - want.step_video_pts[0]);
        want_rc = d <= 90000 ? 1 : d / 90000;
      }
      EXPECT_EQ(results[i - 1], want_rc) << row.name << " step " << i;
      EXPECT_EQ(counts[i - 1], want.step_bytes[i]) << row.name << " step " << i;
    }
    EXPECT_EQ(*std::max_element(results.begin(), results.end()), 2) << row.name << ": seconds 2..4";

    Bytes index = read_file(index_path());
    ASSERT_EQ(index.size(), 12 * entries.size()) << row.name;
    for (size_t i = 0; i < entries.size(); ++i) {
      const uint8_t* p = &index[12 * i];
      EXPECT_EQ(p[0], entries[i].kind) << row.name << " entry " << i;
      EXPECT_EQ(p[1], entries[i].channel) << row.name << " entry " << i;
      EXPECT_EQ((uint64_t(le16(p + 2)) << 32) | le32(p + 4), entries[i].offset)
          << row.name << " entry " << i;
      EXPECT_EQ(le32(p + 8), entries[i].pts) << row.name << " entry " << i;
    }
    // Two channels over three seconds, and the audio packets beginning in them.
    EXPECT_EQ(
        std::count_if(entries.begin(), entries.end(), [](const Entry& e) { return e.kind == 0; }),
        6)
        << row.name;
    EXPECT_EQ(
        std::count_if(entries.begin(), entries.end(), [](const Entry& e) { return e.kind == 1; }),
        6)
        << row.name;
    std::remove(index_path().c_str());
  }
  // The connection carries commands as before.
  char date[32], time[32];
  EXPECT_EQ(kora_get_time(0, date, time), 0);
}

TEST_F(DownloadTest, StreamFileIsAnMpegProgramStreamForFfprobe) {
  if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
  ASSERT_EQ(copy_fast(2), 1);
  std::vector<int> results;
  std::vector<uint32_t> counts;
  ASSERT_EQ(copy_rest(&results, &counts), 0);
  std::string cmd =
      "ffprobe -v error -show_format '" + path_ + "' > '" + cwd_.path() + "/probe.txt' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream f(cwd_.path() + "/probe.txt");
  std::stringstream text;
  text << f.rdbuf();
  EXPECT_NE(text.str().find("format_name=mpeg"), std::string::npos) << text.str();
  EXPECT_EQ(text.str().find("rror"), std::string::npos) << text.str();
}

TEST_F(DownloadTest, NothingRecorded_ReturnsZeroAndWritesNoFile) {
  EXPECT_EQ(copy_fast(5, false), 0);
  EXPECT_FALSE(file_exists(path_));
  EXPECT_NE(last_line(0), "JpegSendStart\n") << "no trigger for an empty video block";
}

TEST_F(DownloadTest, HeaderOnlyBlocks_StoreNothing) {
  ASSERT_EQ(copy_fast(2), 1);
  // Step 1 pairs channel 1's video block with an audio block; step 2 is an audio block
  // alone. The video block of step 1 and the audio block of step 2 come as bare headers.
  rec().inject(make_fault(sim::FaultKind::kBareVideoBlock, "SendDataN"));
  rec().inject(make_fault(sim::FaultKind::kBareAudioBlock, "SendDataN"));
  struct Row {
    const char* name;
    size_t video, audio;  // block sizes the recorder sends
    size_t grows;         // bytes the stream file grows by
    uint32_t count;       // the step's 4-byte total
  };
  const Row rows[] = {{"100-byte video block", 100, 6 + 2112, 2112, 6 + 2112},
                      {"6-byte audio block", 0, 6, 0, 6}};
  for (const Row& r : rows) {
    const size_t before = read_file(path_).size();
    uint8_t c4[4] = {};
    EXPECT_EQ(kora_copy_next(0, path_.c_str(), c4, cwd_.path().c_str()), 1) << r.name;
    const sim::DownloadStep step = rec().download_steps(0).back();
    ASSERT_EQ(step.video.size(), r.video) << r.name;
    ASSERT_EQ(step.audio.size(), r.audio) << r.name;
    EXPECT_EQ(read_file(path_).size(), before + r.grows) << r.name;
    EXPECT_EQ(uint32_t(c4[0]) << 24 | uint32_t(c4[1]) << 16 | uint32_t(c4[2]) << 8 | c4[3], r.count)
        << r.name;
  }
  std::vector<int> results;
  std::vector<uint32_t> counts;
  ASSERT_EQ(copy_rest(&results, &counts), 0);
  // No entry was made for the bare blocks: the index holds the other blocks only.
  const Expected want = expected_download(rec().download_steps(0));
  EXPECT_EQ(read_file(index_path()).size(), 12 * want.entries.size());
  const Bytes file = read_file(path_);
  ASSERT_GE(file.size(), 292u);
  EXPECT_TRUE(Bytes(file.begin() + 292, file.end()) == want.packets);
}

TEST_F(DownloadTest, MalformedBlocks_AreRefusedAfterDrainingAndTheSlotStaysUsable) {
  struct Row {
    const char* name;
    sim::FaultKind kind;
    bool on_first;  // the fault hits SendDataF's blocks (else the next step's)
  };
  const Row rows[] = {
      {"video block over 1 MiB, first step", sim::FaultKind::kBlockTooLarge, true},
      {"video block over 1 MiB, next step", sim::FaultKind::kBlockTooLarge, false},
      {"record past the block, first step", sim::FaultKind::kRecordOverrun, true},
      {"record past the block, next step", sim::FaultKind::kRecordOverrun, false},
  };
  for (const Row& r : rows) {
    std::remove(path_.c_str());
    if (r.on_first) {
      rec().inject(make_fault(r.kind, "SendDataF"));
      EXPECT_EQ(copy_fast(2), VIRAZAV_ERR_DOWNLOAD_BLOCK) << r.name;
      EXPECT_FALSE(file_exists(path_)) << r.name;
    } else {
      ASSERT_EQ(copy_fast(2), 1) << r.name;
      const Bytes before = read_file(path_);
      rec().inject(make_fault(r.kind, "SendDataN"));
      uint8_t c4[4] = {1, 2, 3, 4};
      EXPECT_EQ(kora_copy_next(0, path_.c_str(), c4, cwd_.path().c_str()),
                VIRAZAV_ERR_DOWNLOAD_BLOCK)
          << r.name;
      EXPECT_EQ(read_file(path_), before) << r.name << ": the refused block left no trace";
      EXPECT_EQ(c4[0], 1) << r.name;
      // The download goes on with the following step.
      uint8_t c4b[4];
      EXPECT_GE(kora_copy_next(0, path_.c_str(), c4b, cwd_.path().c_str()), 1) << r.name;
      EXPECT_GT(read_file(path_).size(), before.size()) << r.name;
    }
    char date[32], time[32];
    EXPECT_EQ(kora_get_time(0, date, time), 0) << r.name << ": the blocks were drained";
  }
}

TEST_F(DownloadTest, ConnectionClosedInsideABlock_GivesMinus5WithoutWaiting) {
  ASSERT_EQ(copy_fast(2), 1);
  const Bytes before = read_file(path_);
  rec().inject(make_fault(sim::FaultKind::kCloseMidBlock, "SendDataN"));
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(kora_copy_next(0, path_.c_str(), nullptr, cwd_.path().c_str()),
            VIRAZAV_ERR_DOWNLOAD_BLOCK);
  EXPECT_LT(platform::tick_ms() - t0, 5000u);
  EXPECT_EQ(read_file(path_), before);
}

TEST_F(DownloadTest, StreamFileThatCannotBeCreatedOrAppended_GivesMinus20AndTheSlotStaysUsable) {
  const std::string missing = cwd_.path() + "/no/such/folder/stream.dat";
  EXPECT_EQ(copy_fast(2, true, 0, missing.c_str()), VIRAZAV_ERR_STREAM_FILE);
  char date[32], time[32];
  EXPECT_EQ(kora_get_time(0, date, time), 0) << "the blocks were drained";

  ASSERT_EQ(copy_fast(2), 1);
  const Bytes before = read_file(path_);
  {
    platform::FaultScope scope;
    platform::fault_arm(platform::FaultKind::kFileOpen, 1, true);
    EXPECT_EQ(kora_copy_next(0, path_.c_str(), nullptr, cwd_.path().c_str()),
              VIRAZAV_ERR_STREAM_FILE);
  }
  EXPECT_EQ(read_file(path_), before);
  EXPECT_EQ(kora_get_time(0, date, time), 0);
  EXPECT_EQ(kora_copy_fast(0, nullptr, 0, 3, 24, 5, 1, 10, 0, 2, 2, 1, 0, 0, 0),
            VIRAZAV_ERR_STREAM_FILE);
  EXPECT_EQ(kora_copy_next(0, "", nullptr, nullptr), VIRAZAV_ERR_STREAM_FILE);
}

TEST_F(DownloadTest, SlotAndReplyFailures_ReturnTheirCodesAndWriteNothing) {
  EXPECT_EQ(copy_fast(2, true, 16), VIRAZAV_ERR_SLOT_RANGE);
  EXPECT_EQ(copy_fast(2, true, 3), VIRAZAV_ERR_NOT_CONNECTED);
  EXPECT_EQ(kora_copy_next(-1, path_.c_str(), nullptr, nullptr), VIRAZAV_ERR_SLOT_RANGE);
  EXPECT_EQ(kora_copy_next(5, path_.c_str(), nullptr, nullptr), VIRAZAV_ERR_NOT_CONNECTED);
  rec().inject(make_fault(sim::FaultKind::kNg, "SendDataF"));
  EXPECT_EQ(copy_fast(2), VIRAZAV_ERR_NOT_OK);
  rec().inject(make_fault(sim::FaultKind::kForeignId, "SendDataF"));
  EXPECT_EQ(copy_fast(2), VIRAZAV_ERR_FOREIGN_ID);
  EXPECT_FALSE(file_exists(path_));
}

TEST_F(DownloadTest, LogEntriesNameTheStepsAndTheirValues) {
  setenv("VIRAZAV_DRIVE_C", cwd_.path().c_str(), 1);
  kora_log_sw('C');
  ASSERT_EQ(copy_fast(1), 1);
  std::vector<int> results;
  std::vector<uint32_t> counts;
  ASSERT_EQ(copy_rest(&results, &counts), 0);
  unsetenv("VIRAZAV_DRIVE_C");
  std::ifstream f(diag::log_file_path(cwd_.path(), platform::local_time_now().weekday));
  std::stringstream text;
  text << f.rdbuf();
  const std::string log = text.str();
  for (const char* want :
       {"kora_copy_fast(0x0,0x3,0x2,\"", "kora_hd_save_1(0x5,\"OK\",);", "kora_hd_save_r(0x0,);",
        "kora_copy_next(0x0,\"", "kora_hd_save_1(0x4,\"OK\",);", "kora_copy_next_r(0x"}) {
    EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log;
  }
}

}  // namespace
}  // namespace virazav::testing
