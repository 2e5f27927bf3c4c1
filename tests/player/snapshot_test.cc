// Snapshots through a player that fills the composite with a known pattern: the
// cut of every layout into the channel stores and the bitmap files, byte for
// byte (headers, rows, padding), the snapshot mode, channels outside 1..4, and
// the thin calls that pass their arguments and results through unchanged.
#include "player/snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "player/play_mode.h"
#include "test_player.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::vector<uint8_t> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return v;
  int c;
  while ((c = std::fgetc(f)) != EOF) v.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  return v;
}

uint32_t u32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (static_cast<uint32_t>(v[at + 3]) << 24);
}

// Checks the headers of a 24-bit bitmap of width x height and returns its
// pixel rows (empty when a header is wrong).
std::vector<uint8_t> bitmap_rows(const std::string& path, int width, int height) {
  std::vector<uint8_t> f = file_bytes(path);
  const uint32_t row = (width * 3 + 3) / 4 * 4;
  const uint32_t image = row * height;
  EXPECT_EQ(f.size(), image + 54u) << path;
  if (f.size() != image + 54u) return {};
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(u32(f, 2), image + 54) << "file size field";
  EXPECT_EQ(u32(f, 6), 0u) << "reserved";
  EXPECT_EQ(u32(f, 10), 54u) << "pixel offset";
  EXPECT_EQ(u32(f, 14), 40u) << "information header size";
  EXPECT_EQ(u32(f, 18), static_cast<uint32_t>(width));
  EXPECT_EQ(u32(f, 22), static_cast<uint32_t>(height));
  EXPECT_EQ(f[26] | (f[27] << 8), 1) << "planes";
  EXPECT_EQ(f[28] | (f[29] << 8), 24) << "bits per pixel";
  for (size_t at = 30; at < 54; at += 4) {
    if (at == 34) {
      EXPECT_EQ(u32(f, at), image) << "image size";
    } else {
      EXPECT_EQ(u32(f, at), 0u) << "header field at " << at;
    }
  }
  return std::vector<uint8_t>(f.begin() + 54, f.end());
}

// Every byte of the composite differs from its neighbours in row and column, so
// a row or column mix-up shows; the seed tells two snapshots apart.
uint8_t pattern_byte(int seed, int row, int byte) {
  return static_cast<uint8_t>(row * 7 + byte * 13 + (byte >> 8) * 3 + seed * 101);
}

// The bytes of a picture cut from the composite: rows row0.. and bytes col0.. of
// each, `rows` rows of `row_bytes`.
std::vector<uint8_t> cut(int seed, int row0, int col0, int rows, int row_bytes) {
  std::vector<uint8_t> v;
  for (int r = 0; r < rows; ++r)
    for (int i = 0; i < row_bytes; ++i) v.push_back(pattern_byte(seed, row0 + r, col0 + i));
  return v;
}
// The composite's first n bytes in order.
std::vector<uint8_t> leading(int seed, size_t n) {
  std::vector<uint8_t> v;
  for (size_t k = 0; k < n; ++k)
    v.push_back(pattern_byte(seed, static_cast<int>(k / 2112), k % 2112));
  return v;
}

std::vector<uint8_t> store_bytes(int channel, size_t n) {
  const uint8_t* s = player::channel_store(channel);
  if (s == nullptr) return {};
  return std::vector<uint8_t>(s, s + n);
}

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-snap-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    set_seed(1);
    player::set_make_bmp_mode(0);
    player::set_disk_mode(player::kModePlay);
  }
  void TearDown() override {
    player::set_disk_mode(player::kModeStop);
    player::set_file_mode(player::kModeStop);
    player::set_make_bmp_mode(0);
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void set_seed(int seed) {
    seed_ = seed;
    player_.pattern = [seed](int r, int i) { return pattern_byte(seed, r, i); };
  }
  void remove_bitmaps() {
    for (const char* n : {"bmp1.bmp", "bmp2.bmp", "bmp3.bmp", "bmp4.bmp", "Bitmap1.bmp"})
      fs::remove(dir_ + "/" + n);
  }
  std::vector<std::string> files() const {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir_)) v.push_back(e.path().filename());
    std::sort(v.begin(), v.end());
    return v;
  }

  RecordingPlayer player_;
  std::string dir_;
  fs::path old_cwd_;
  int seed_ = 1;
};

TEST_F(SnapshotTest, QuadLayoutCutsFourQuartersIntoStoresAndFiles) {
  player_.layout = 4;
  player_.first = 9;  // the channels reported do not matter in layout 4
  player_.second = -3;
  int layout = 0, first = 0, second = 0, status = -1;
  int pass_word = 0;
  ASSERT_EQ(make_bmp(&layout, &first, &second, &pass_word, &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(layout, 4);
  EXPECT_EQ(first, 9);
  EXPECT_EQ(second, -3);
  ASSERT_EQ(player_.count(PlayerOp::kGetBmpData), 1);
  EXPECT_EQ(player_.calls()[0].pointer, &pass_word) << "the pass-through argument is handed on";

  const struct {
    int channel, row0, col0;
  } quarters[] = {{1, 240, 0}, {2, 240, 1056}, {3, 0, 0}, {4, 0, 1056}};
  for (const auto& q : quarters) {
    const std::vector<uint8_t> want = cut(seed_, q.row0, q.col0, 240, 1056);
    EXPECT_TRUE(store_bytes(q.channel, want.size()) == want) << "store of channel " << q.channel;
    EXPECT_TRUE(bitmap_rows("bmp" + std::to_string(q.channel) + ".bmp", 352, 240) == want)
        << "bmp" << q.channel << ".bmp";
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"bmp1.bmp", "bmp2.bmp", "bmp3.bmp", "bmp4.bmp"}));
}

TEST_F(SnapshotTest, TwoPictureLayoutGivesRowsAboveToFirstAndBelowToSecond) {
  player_.layout = 2;
  player_.first = 3;
  player_.second = 1;
  int layout = 0, first = 0, second = 0;
  ASSERT_EQ(make_bmp_one(&layout, &first, &second, nullptr), 0);
  EXPECT_EQ(layout, 2);
  EXPECT_EQ(first, 3);
  EXPECT_EQ(second, 1);
  const std::vector<uint8_t> upper = cut(seed_, 240, 0, 240, 2112);
  const std::vector<uint8_t> lower = cut(seed_, 0, 0, 240, 2112);
  EXPECT_TRUE(store_bytes(3, upper.size()) == upper);
  EXPECT_TRUE(store_bytes(1, lower.size()) == lower);
  EXPECT_TRUE(bitmap_rows("bmp3.bmp", 704, 240) == upper);
  EXPECT_TRUE(bitmap_rows("bmp1.bmp", 704, 240) == lower);
  EXPECT_EQ(files(), (std::vector<std::string>{"bmp1.bmp", "bmp3.bmp"}));
}

TEST_F(SnapshotTest, SingleLayoutInBothSnapshotModes) {
  player_.layout = 1;
  player_.first = 2;
  player_.second = 0;
  // Mode 0: rows 240..479, 704 x 240, from either call.
  ASSERT_EQ(make_bmp(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  const std::vector<uint8_t> wide = cut(seed_, 240, 0, 240, 2112);
  EXPECT_TRUE(store_bytes(2, wide.size()) == wide);
  EXPECT_TRUE(bitmap_rows("bmp2.bmp", 704, 240) == wide);

  // Mode 1: the first 253,440 bytes of a new composite; make_bmp writes them as
  // 352 x 240, make_bmp_one writes 704 x 240 from the same store, whose second
  // half is still the earlier picture.
  ASSERT_EQ(set_make_bmp_mode(1), 0);
  EXPECT_EQ(get_make_bmp_mode(), 1);
  set_seed(2);
  ASSERT_EQ(make_bmp(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  const std::vector<uint8_t> half = leading(seed_, 253440);
  EXPECT_TRUE(bitmap_rows("bmp2.bmp", 352, 240) == half);
  set_seed(3);
  ASSERT_EQ(make_bmp_one(nullptr, nullptr, nullptr, nullptr), 0);
  std::vector<uint8_t> mixed = leading(3, 253440);
  mixed.insert(mixed.end(), wide.begin() + 253440, wide.end());
  EXPECT_TRUE(store_bytes(2, mixed.size()) == mixed);
  EXPECT_TRUE(bitmap_rows("bmp2.bmp", 704, 240) == mixed);
  EXPECT_EQ(files(), (std::vector<std::string>{"bmp2.bmp"}));
}

TEST_F(SnapshotTest, NothingPlayingReportsStatusOneAndWritesNothing) {
  player::set_disk_mode(player::kModeStop);
  player::set_file_mode(player::kModeStop);
  int layout = 77, first = 77, second = 77, status = -1;
  EXPECT_EQ(make_bmp(&layout, &first, &second, nullptr, &status), 0);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(layout, 77);
  EXPECT_EQ(first, 77);
  EXPECT_EQ(second, 77);
  EXPECT_EQ(player_.count(PlayerOp::kGetBmpData), 0);
  EXPECT_TRUE(files().empty());
  // The file mode alone counts as playing; make_bmp_one does not look at all.
  player::set_file_mode(player::kModeBack);
  EXPECT_EQ(make_bmp(&layout, &first, &second, nullptr, &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(layout, 4);
  player::set_file_mode(player::kModeStop);
  remove_bitmaps();
  EXPECT_EQ(make_bmp_one(&layout, &first, &second, nullptr), 0);
  EXPECT_EQ(files().size(), 4u);
}

TEST_F(SnapshotTest, ChannelsOutsideTheStoresAreNeitherCopiedNorWritten) {
  // Fill every store with a known picture first.
  player_.layout = 4;
  ASSERT_EQ(make_bmp_one(nullptr, nullptr, nullptr, nullptr), 0);
  std::vector<std::vector<uint8_t>> before;
  for (int c = 1; c <= 4; ++c) before.push_back(store_bytes(c, player::kChannelStoreBytes));
  remove_bitmaps();
  set_seed(5);

  struct Row {
    const char* name;
    int layout, first, second;
    std::vector<std::string> files;
  } rows[] = {
      {"two pictures, second 0: nothing copied, first written from its store",
       2,
       4,
       0,
       {"bmp4.bmp"}},
      {"two pictures, second 5", 2, 1, 5, {"bmp1.bmp"}},
      {"two pictures, first -1, second 9", 2, -1, 9, {}},
      {"single, first 0", 1, 0, 2, {}},
      {"single, first 5", 1, 5, 1, {}},
      {"layout 3 is none", 3, 1, 2, {}},
      {"layout 0 is none", 0, 1, 2, {}},
  };
  for (const Row& r : rows) {
    player_.layout = r.layout;
    player_.first = r.first;
    player_.second = r.second;
    int layout = 0, first = 0, second = 0;
    ASSERT_EQ(make_bmp_one(&layout, &first, &second, nullptr), 0) << r.name;
    EXPECT_EQ(layout, r.layout) << r.name;
    EXPECT_EQ(first, r.first) << r.name;
    EXPECT_EQ(second, r.second) << r.name;
    for (int c = 1; c <= 4; ++c)
      EXPECT_TRUE(store_bytes(c, player::kChannelStoreBytes) == before[c - 1])
          << r.name << ": store " << c << " changed";
    EXPECT_EQ(files(), r.files) << r.name;
    if (!r.files.empty()) {
      EXPECT_TRUE(
          bitmap_rows(r.files[0], 704, 240) ==
          std::vector<uint8_t>(before[r.first - 1].begin(), before[r.first - 1].begin() + 506880))
          << r.name;
    }
    remove_bitmaps();
  }
  // A layout-2 snapshot with one good channel fills only that store.
  player_.layout = 2;
  player_.first = 9;
  player_.second = 4;
  ASSERT_EQ(make_bmp_one(nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(store_bytes(4, 506880) == cut(5, 0, 0, 240, 2112));
  for (int c = 1; c <= 3; ++c)
    EXPECT_TRUE(store_bytes(c, player::kChannelStoreBytes) == before[c - 1]);
  EXPECT_EQ(files(), (std::vector<std::string>{"bmp4.bmp"}));
  EXPECT_EQ(player::channel_store(0), nullptr);
  EXPECT_EQ(player::channel_store(5), nullptr);
}

TEST_F(SnapshotTest, MarlotestWritesTheWholeComposite) {
  player_.layout = 2;
  ASSERT_EQ(marlotest(), 0);
  ASSERT_EQ(player_.count(PlayerOp::kGetBmpData), 1);
  EXPECT_NE(player_.calls()[0].pointer, nullptr) << "marlotest hands over a word of its own";
  EXPECT_TRUE(bitmap_rows("Bitmap1.bmp", 704, 480) == leading(seed_, 1013760));
  EXPECT_EQ(files(), (std::vector<std::string>{"Bitmap1.bmp"}));
}

TEST_F(SnapshotTest, BitmapRowsArePaddedToFourBytes) {
  // 350 pixels: rows of 1050 bytes rounded up to 1052, taken one after the
  // other from the source.
  std::vector<uint8_t> source(1052 * 3);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 5 + 1);
  ASSERT_EQ(player::write_snapshot_bmp(source.data(), source.size(), "w350.bmp", 350, 3), 0);
  EXPECT_TRUE(bitmap_rows("w350.bmp", 350, 3) == source);
  // A source shorter than the image: the rest is zeros, nothing read past it.
  std::vector<uint8_t> shorter(source.begin(), source.begin() + 1000);
  ASSERT_EQ(player::write_snapshot_bmp(shorter.data(), shorter.size(), "short.bmp", 350, 3), 0);
  std::vector<uint8_t> want = shorter;
  want.resize(1052 * 3, 0);
  EXPECT_TRUE(bitmap_rows("short.bmp", 350, 3) == want);
  // 1 pixel: 3 bytes padded to 4.
  ASSERT_EQ(player::write_snapshot_bmp(source.data(), 8, "w1.bmp", 1, 2), 0);
  EXPECT_TRUE(bitmap_rows("w1.bmp", 1, 2) ==
              std::vector<uint8_t>(source.begin(), source.begin() + 8));
  EXPECT_EQ(player::write_snapshot_bmp(source.data(), 8, "x.bmp", 0, 2), -1);
  EXPECT_EQ(player::write_snapshot_bmp(source.data(), 8, dir_ + "/missing/x.bmp", 1, 2), -1);
}

TEST_F(SnapshotTest, ABitmapThatCannotBeCreatedIsSkipped) {
  fs::create_directory(dir_ + "/bmp2.bmp");  // a folder where a file should go
  player_.layout = 4;
  int layout = 0;
  EXPECT_EQ(make_bmp_one(&layout, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(layout, 4);
  EXPECT_TRUE(bitmap_rows("bmp3.bmp", 352, 240) == cut(seed_, 0, 0, 240, 1056));
}

TEST(PlayerWrappers, PassArgumentsAndResultsThroughUnchanged) {
  RecordingPlayer player;
  player.ch_bmp_result = -1;
  player.ch_width = 704;
  player.ch_height = 576;
  player.ch_fill = 0xAB;
  std::vector<uint8_t> buffer(704 * 576 * 3);
  int width = 0, height = 0;
  EXPECT_EQ(get_bmp(3, buffer.data(), &width, &height), 0) << "the player's -1 is not returned";
  EXPECT_EQ(width, 704);
  EXPECT_EQ(height, 576);
  EXPECT_EQ(buffer[0], 0xAB);
  EXPECT_EQ(get_bmp(-7, nullptr, nullptr, nullptr), 0);
  std::vector<PlayerCall> calls = player.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].a, 3);
  EXPECT_EQ(calls[0].pointer, buffer.data());
  EXPECT_EQ(calls[0].pointer2, &width);
  EXPECT_EQ(calls[1].a, -7) << "the channel reaches the player as given";
  player.clear();

  for (int status : {0, 1, 7, -5}) {
    player.err_status = status;
    EXPECT_EQ(get_dec_sts(), status);
  }
  EXPECT_EQ(player.count(PlayerOp::kErrFlagStatus), 4);
  EXPECT_EQ(set_init_dec(), 0);
  EXPECT_EQ(player.count(PlayerOp::kSetInitAgain), 1);
  EXPECT_EQ(clear_dec_err(), 0);
  EXPECT_EQ(player.count(PlayerOp::kErrFlagReset), 1);

  player.clear();
  player.no_audio_result = 1;
  EXPECT_EQ(audio_set(0), 1);
  player.no_audio_result = 0;
  EXPECT_EQ(audio_set(1), 0);
  calls = player.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].a, 0);
  EXPECT_EQ(calls[1].a, 1);

  player.clear();
  player.viewer_result = -2;
  EXPECT_EQ(Zel_set_viewer_mode(8, 0), -1);
  EXPECT_EQ(Zel_set_viewer_mode(-1, 0), -1);
  EXPECT_EQ(player.count(PlayerOp::kSetViewerMode), 0) << "a outside 0..7 never reaches the player";
  EXPECT_EQ(Zel_set_viewer_mode(7, 9), -2);
  player.viewer_result = 0;
  EXPECT_EQ(Zel_set_viewer_mode(0, 3), 0);
  calls = player.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].a, 7);
  EXPECT_EQ(calls[0].b, 9);
  EXPECT_EQ(calls[1].a, 0);
  EXPECT_EQ(calls[1].b, 3);

  player.clear();
  player.open_result = 42;
  EXPECT_EQ(Zel_play_open(5, 6, 7, 8), 42);
  EXPECT_EQ(play_end(), 0);
  calls = player.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].op, PlayerOp::kOpen);
  EXPECT_EQ(calls[0].a, 0) << "the first argument is not passed on";
  EXPECT_EQ(calls[0].b, 6);
  EXPECT_EQ(calls[0].c, 7);
  EXPECT_EQ(calls[0].d, 8);
  EXPECT_EQ(calls[1].op, PlayerOp::kStopPlayThread);
}

}  // namespace
}  // namespace virazav::testing
