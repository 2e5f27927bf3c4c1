// The playback fuzz target's seeds: a recording downloaded from the simulated
// recorder, whole and damaged, with scripts of modes, laid out as the target
// reads its input (display byte, flags, eight script bytes, index length,
// index, stream file). Each seed, played as the target plays it, shows
// pictures. With VIRAZAV_FUZZ_SEED_DIR set (the corpus folder), the seeds are
// also written there for playback_cycle_fuzz.
#include <gtest/gtest.h>

#include <cstdlib>
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

using Bytes = std::vector<uint8_t>;

struct Seed {
  std::string name;
  uint8_t display;
  uint8_t flags;
  Bytes script;  // eight steps: mode in bits 0..2, bit 3 a move first, bits 4..7 where
  Bytes index;
  Bytes stream;
  Bytes input() const {
    Bytes out = {display, flags};
    out.insert(out.end(), script.begin(), script.end());
    out.push_back(static_cast<uint8_t>(index.size()));
    out.push_back(static_cast<uint8_t>(index.size() >> 8));
    out.insert(out.end(), index.begin(), index.end());
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
  }
};

std::vector<Seed> seeds(const RecordedStream& r) {
  const Bytes stream = read_file(r.path);
  const Bytes index = read_file(r.dir + "/.index");
  const Bytes play = {0x08, 0x07, 0x03, 0x06, 0x05, 0x04, 0x58, 0x00};
  Bytes cut(stream.begin(), stream.begin() + static_cast<long>(stream.size() * 6 / 10));
  Bytes sizes = stream;
  for (size_t i = 2; i < r.packets.size(); i += 5) {
    format::encode_field22(
        i % 2 ? 0 : format::kField22Max,
        &sizes[static_cast<size_t>(r.packets[i].offset) + format::kPacketSizeOffset]);
  }
  return {
      {"two_channels", 2, 0, play, index, stream},
      {"all_channels_built_index", 0, 0x31, play, {}, stream},
      {"cut_short", 1, 0, {0x08, 0x04, 0x00, 0x03, 0x07, 0x05, 0x06, 0x00}, index, cut},
      {"damaged_sizes", 2, 0, play, index, sizes},
  };
}

TEST(PlaybackFuzzSeeds, EachSeedShowsPicturesWhenPlayedAsTheTargetPlaysIt) {
  TempCwd cwd;
  RecordedStream r;
  std::string error;
  ASSERT_TRUE(download_recording(small_recording(0x0003, 0x0001, 5), 2, cwd.path(), &r, &error))
      << error;
  ASSERT_EQ(decode_init(), 0);
  const char* out = std::getenv("VIRAZAV_FUZZ_SEED_DIR");
  for (const Seed& seed : seeds(r)) {
    const Bytes input = seed.input();
    ASSERT_LT(seed.index.size(), 65536u) << seed.name;
    const std::string dir = cwd.path() + "/" + seed.name;
    platform::make_directory(dir);
    ASSERT_TRUE(write_file(dir + "/s.mpg", seed.stream));
    const bool build = (seed.flags & 1) != 0;
    if (!build) {
      ASSERT_TRUE(write_file(dir + "/.index", seed.index));
    }
    EngineHarness h;
    ASSERT_GT(h.open(dir + "/s.mpg", build ? dir + "/none" : dir, 1 + (seed.flags >> 4)), 0u)
        << seed.name;
    Mpeg4DLdata_set_disptype(seed.display % 18 - 1);
    for (size_t step = 0; step < seed.script.size(); ++step) {
      const uint8_t st = seed.script[step];
      if (st & 8) Mpeg4DLdata_set_PlayPos(step % 2 == 0 ? 10 : 0, st >> 4);
      Mpeg4DLdata_set_m_nPlayMode(st & 7);
      for (int c = 0; c < 400 && Mpeg4DLdata_get_m_nPlayMode() != 1; ++c) h.cycle();
    }
    EXPECT_GT(h.shown.size(), 3u) << seed.name;
    h.close();
    if (out != nullptr) {
      EXPECT_TRUE(write_file(std::string(out) + "/" + seed.name, input)) << seed.name;
    }
  }
  decode_deinit();
}

}  // namespace
}  // namespace virazav::testing
