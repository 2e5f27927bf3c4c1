// Damaged stream files and frame indexes under the playback engine: a file
// cut short, an index that ends early or leads past the file or between
// packets, packets whose sizes or back links are wrong, and garbage in the
// middle. Every play mode ends in mode 1 within a bounded time, skipping what
// it cannot read; the sanitizer builds watch that nothing reads outside a
// buffer.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dlplayer/dataset_state.h"
#include "engine_harness.h"
#include "format/stream_format.h"
#include "platform/platform.h"
#include "recorded_stream.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

constexpr int kSeconds = 6;

struct Damage {
  std::string name;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> index;
};

class DamagedStreamTest : public RecordedSuite {
 protected:
  static void SetUpTestSuite() { download(small_recording(0x0007, 0x0001), kSeconds); }
  void SetUp() override { ASSERT_EQ(decode_init(), 0); }
  void TearDown() override { decode_deinit(); }

  static std::vector<uint8_t> bytes() { return read_file(s().path); }
  static std::vector<uint8_t> index() { return read_file(s().dir + "/.index"); }

  // Every packet of `kind` (-1: any) gets `size` as its packet_size, or the
  // result of `f` applied to its real size.
  template <typename F>
  static std::vector<uint8_t> with_sizes(int every, F f) {
    std::vector<uint8_t> b = bytes();
    for (size_t i = 3; i < s().packets.size(); i += static_cast<size_t>(every)) {
      const StreamPacket& p = s().packets[i];
      format::encode_field22(f(p.size) & format::kField22Max,
                             &b[static_cast<size_t>(p.offset) + format::kPacketSizeOffset]);
    }
    return b;
  }

  static std::vector<Damage> damages() {
    std::vector<Damage> out;
    const std::vector<uint8_t> full = bytes();
    const std::vector<uint8_t> idx = index();
    const size_t entries = idx.size() / format::kIndexEntrySize;

    // Cut inside a packet at 60 %: the index's later entries lead past the end.
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(full.size() * 6 / 10));
    out.push_back({"file cut short", cut, idx});
    out.push_back(
        {"index ends early", full,
         std::vector<uint8_t>(
             idx.begin(), idx.begin() + static_cast<long>(entries / 3 * format::kIndexEntrySize))});
    // Entries that lead between packets: a few bytes into their packet.
    std::vector<uint8_t> between = idx;
    for (size_t e = 2; e < entries; e += 3) {
      format::FrameIndexEntry entry =
          format::decode_index_entry(&between[e * format::kIndexEntrySize]);
      entry.offset += 5;
      format::encode_index_entry(entry, &between[e * format::kIndexEntrySize]);
    }
    out.push_back({"index leads between packets", full, between});
    // Entries out of order: every pair swapped.
    std::vector<uint8_t> swapped = idx;
    for (size_t e = 0; e + 1 < entries; e += 2) {
      for (size_t k = 0; k < format::kIndexEntrySize; ++k) {
        std::swap(swapped[e * format::kIndexEntrySize + k],
                  swapped[(e + 1) * format::kIndexEntrySize + k]);
      }
    }
    out.push_back({"index out of order", full, swapped});
    out.push_back({"sizes 0", with_sizes(7, [](uint32_t) { return 0u; }), idx});
    out.push_back({"sizes below the header", with_sizes(5, [](uint32_t) { return 26u; }), idx});
    out.push_back(
        {"sizes beyond the frame buffer", with_sizes(6, [](uint32_t) { return 3u << 20; }), idx});
    out.push_back(
        {"sizes into the next packet", with_sizes(4, [](uint32_t n) { return n + 999; }), idx});
    out.push_back(
        {"sizes inside the packet", with_sizes(3, [](uint32_t n) { return n / 2; }), idx});
    out.push_back({"sizes beyond the file",
                   with_sizes(11, [](uint32_t) { return format::kField22Max; }), idx});
    // Back links that cannot be followed.
    std::vector<uint8_t> links = full;
    for (size_t i = 0; i < s().packets.size(); i += 2) {
      format::encode_field22(
          i % 4 == 0 ? 0 : format::kField22Max,
          &links[static_cast<size_t>(s().packets[i].offset) + format::kPrevSizeOffset]);
    }
    out.push_back({"back links 0 or too far", links, idx});
    // Garbage over the middle of the file.
    std::vector<uint8_t> garbage = full;
    std::mt19937 rng(7);
    for (size_t i = full.size() / 3; i < full.size() / 2; ++i) {
      garbage[i] = static_cast<uint8_t>(rng());
    }
    out.push_back({"garbage in the middle", garbage, idx});
    // Start codes everywhere in the garbage: packets of nonsense.
    std::vector<uint8_t> codes = garbage;
    for (size_t i = full.size() / 3; i + 4 < full.size() / 2; i += 97) {
      codes[i] = 0, codes[i + 1] = 0, codes[i + 2] = 1;
      codes[i + 3] = static_cast<uint8_t>((i & 1 ? 0xC0 : 0xE0) | (i & 0x0F));
    }
    out.push_back({"start codes in the garbage", codes, idx});
    return out;
  }
};

TEST_F(DamagedStreamTest, EveryModeEndsStoppedWithinBoundedTime) {
  struct Play {
    const char* name;
    int display, start, mode;
    int repeat;  // single steps are taken this often
  } plays[] = {
      {"normal play, one channel", 1, 0, 0, 1},
      {"normal play, all channels", -1, 0, 0, 1},
      {"fast forward", 2, 0, 7, 1},
      {"backward", 0, 10, 3, 1},
      {"fast backward", -1, 10, 4, 1},
      {"steps forward", 1, 0, 6, 40},
      {"steps backward", 2, 10, 5, 40},
  };
  int index = 0;
  for (const Damage& d : damages()) {
    const std::string dir = folder() + "/d" + std::to_string(index++);
    platform::make_directory(dir);
    ASSERT_TRUE(write_file(dir + "/rec.mpg", d.bytes) && write_file(dir + "/.index", d.index));
    EngineHarness h;
    // A file cut or damaged may still open: its first packet is intact.
    ASSERT_EQ(h.open(dir + "/rec.mpg", dir), d.bytes.size()) << d.name;
    for (const Play& p : plays) {
      Mpeg4DLdata_set_disptype(p.display);
      Mpeg4DLdata_set_PlayPos(10, p.start);
      const uint32_t start = h.now();
      for (int r = 0; r < p.repeat; ++r) {
        ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(p.mode), 0) << d.name << ", " << p.name;
        ASSERT_TRUE(h.run_until([] { return Mpeg4DLdata_get_m_nPlayMode() == 1; }, 200000))
            << d.name << ", " << p.name << ": still in mode " << Mpeg4DLdata_get_m_nPlayMode();
      }
      // No longer than the recording plays, and a little.
      EXPECT_LT(h.now() - start, (kSeconds + 10) * 1000u) << d.name << ", " << p.name;
      const int pos = Mpeg4DLdata_get_PlayPos(10);
      EXPECT_TRUE(pos >= 0 && pos <= 10) << d.name << ", " << p.name << ": " << pos;
    }
    for (const auto& shown : h.shown) EXPECT_TRUE(shown.channel >= 0 && shown.channel < 3);
    h.close();
  }
}

TEST_F(DamagedStreamTest, AnUndamagedCopy_ShowsEveryKeyFrameBackward) {
  // The table above must fail for real faults: the same plays over the intact
  // file show what they should.
  const std::string dir = folder() + "/intact";
  platform::make_directory(dir);
  ASSERT_TRUE(write_file(dir + "/rec.mpg", bytes()) && write_file(dir + "/.index", index()));
  EngineHarness h;
  ASSERT_GT(h.open(dir + "/rec.mpg", dir), 0u);
  Mpeg4DLdata_set_disptype(2);
  Mpeg4DLdata_set_PlayPos(10, 10);
  ASSERT_EQ(Mpeg4DLdata_set_m_nPlayMode(3), 0);
  ASSERT_TRUE(h.run_until([] { return Mpeg4DLdata_get_m_nPlayMode() == 1; }));
  std::vector<int64_t> frames;
  for (const auto& p : h.shown) {
    if (p.channel == 2) frames.push_back(s().frame_of(p.pts));
  }
  ASSERT_EQ(frames.size(), static_cast<size_t>(kSeconds));
  for (int i = 0; i < kSeconds; ++i)
    EXPECT_EQ(frames[static_cast<size_t>(i)], (kSeconds - 1 - i) * 10);
}

}  // namespace
}  // namespace virazav::testing
