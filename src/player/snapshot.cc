// Snapshots: the composite the player hands back is cut into the channel picture
// stores by its layout, and the stores are written as bitmap files. The stores
// live as long as the process and keep each channel's last picture.
#include "player/snapshot.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "decoder/decoder.h"
#include "platform/platform.h"
#include "player/play_mode.h"
#include "player/player_library.h"

namespace virazav::player {
namespace {

constexpr int kChannels = 4;
constexpr int kLayoutSingle = 1;
constexpr int kLayoutTwo = 2;
constexpr int kLayoutQuad = 4;
constexpr int kSnapshotModeHalf = 1;  // single pictures at 352 x 240
constexpr size_t kHalfRowBytes = 1056;
constexpr const char* kTestBitmapName = "Bitmap1.bmp";

// The stores are shared by every snapshot; `lock` keeps two snapshots from
// cutting into them at the same time.
struct SnapshotState {
  std::mutex lock;
  std::atomic<int32_t> mode{0};
  platform::Buffer stores[kChannels];
};

SnapshotState g_snap;

bool is_channel(int channel) {
  return channel >= 1 && channel <= kChannels;
}

// The stores are allocated by the first snapshot. False when that fails.
bool stores_ready() {
  for (platform::Buffer& store : g_snap.stores) {
    if (!store.ok()) store = platform::Buffer(kChannelStoreBytes);
    if (!store.ok()) return false;
  }
  return true;
}

uint8_t* store_of(int channel) {
  return g_snap.stores[channel - 1].data();
}

// Copies a quarter of a quad composite: 240 rows of 352 pixels from composite
// row `row0` and byte `column` on, in row order.
void copy_quarter(const uint8_t* composite, int row0, size_t column, int channel) {
  uint8_t* out = store_of(channel);
  for (int r = 0; r < kHalfHeight; ++r) {
    std::memcpy(out + kHalfRowBytes * r,
                composite + kCompositeRowBytes * static_cast<size_t>(row0 + r) + column,
                kHalfRowBytes);
  }
}

// Cuts the composite into the stores of the channels it shows. Channels outside
// 1..4 are not copied.
void split_composite(const uint8_t* composite, int layout, int first, int second, bool half) {
  switch (layout) {
    case kLayoutQuad:
      copy_quarter(composite, kHalfHeight, 0, 1);
      copy_quarter(composite, kHalfHeight, kHalfRowBytes, 2);
      copy_quarter(composite, 0, 0, 3);
      copy_quarter(composite, 0, kHalfRowBytes, 4);
      break;
    case kLayoutTwo:
      if (!is_channel(second)) break;
      std::memcpy(store_of(second), composite, kWidePictureBytes);
      if (is_channel(first))
        std::memcpy(store_of(first), composite + kWidePictureBytes, kWidePictureBytes);
      break;
    case kLayoutSingle:
      if (!is_channel(first)) break;
      if (half) {
        std::memcpy(store_of(first), composite, kHalfPictureBytes);
      } else {
        std::memcpy(store_of(first), composite + kWidePictureBytes, kWidePictureBytes);
      }
      break;
    default:
      break;
  }
}

// Writes "bmp<channel>.bmp" from the channel's store; none for a channel
// outside 1..4. A file that cannot be created is skipped.
void write_store(int channel, int width) {
  if (!is_channel(channel)) return;
  char name[32];
  std::snprintf(name, sizeof name, "bmp%d.bmp", channel);
  write_snapshot_bmp(store_of(channel), kChannelStoreBytes, name, width, kHalfHeight);
}

// The snapshot of make_bmp (single_half: a single picture is written at
// 352 x 240 in snapshot mode 1) and make_bmp_one.
int take_snapshot(int* layout_out, int* first_out, int* second_out, void* pass,
                  bool single_half_file) {
  std::lock_guard<std::mutex> hold(g_snap.lock);
  platform::Buffer composite(kCompositeAlloc);
  if (!composite.ok() || !stores_ready()) return kSnapshotNoMemory;
  int layout = 0, first = 0, second = 0;
  player_library().get_bmpdata(&layout, &first, &second, composite.data(), pass);
  const bool half = g_snap.mode.load() == kSnapshotModeHalf;
  split_composite(composite.data(), layout, first, second, half);
  switch (layout) {
    case kLayoutQuad:
      for (int c = 1; c <= kChannels; ++c) write_store(c, kHalfWidth);
      break;
    case kLayoutTwo:
      write_store(first, kCompositeWidth);
      write_store(second, kCompositeWidth);
      break;
    case kLayoutSingle:
      write_store(first, half && single_half_file ? kHalfWidth : kCompositeWidth);
      break;
    default:
      break;
  }
  if (layout_out != nullptr) *layout_out = layout;
  if (first_out != nullptr) *first_out = first;
  if (second_out != nullptr) *second_out = second;
  return 0;
}

}  // namespace

int write_snapshot_bmp(const uint8_t* pixels, size_t size, const std::string& path, int width,
                       int height) {
  if (pixels == nullptr || width <= 0 || height <= 0) return -1;
  const uint64_t row = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
  const uint64_t image = row * static_cast<uint64_t>(height);
  if (image > UINT32_MAX - decoder::kBitmapHeaderBytes) return -1;
  platform::Buffer rows(static_cast<size_t>(image));
  if (!rows.ok()) return -1;
  std::memcpy(rows.data(), pixels, std::min<size_t>(size, rows.size()));
  uint8_t headers[decoder::kBitmapHeaderBytes];
  decoder::fill_bitmap_headers(headers, width, height, static_cast<uint32_t>(image));
  platform::File f = platform::File::open(path, platform::OpenMode::kWriteTruncate);
  if (!f.is_open()) return -1;
  int rc = f.write(headers, sizeof headers);
  if (rc == 0) rc = f.write(rows.data(), rows.size());
  return rc;
}

int make_bmp(int* layout, int* first, int* second, void* pass, int* status) {
  if (status != nullptr) *status = 0;
  if (disk_mode() == kModeStop && file_mode() == kModeStop) {
    if (status != nullptr) *status = kSnapshotNothingPlays;
    return 0;
  }
  return take_snapshot(layout, first, second, pass, true);
}

int make_bmp_one(int* layout, int* first, int* second, void* pass) {
  return take_snapshot(layout, first, second, pass, false);
}

int marlotest() {
  platform::Buffer composite(kCompositeAlloc);
  if (!composite.ok()) return kSnapshotNoMemory;
  int layout = 0, first = 0, second = 0;
  int32_t word = 0;  // the pass-through word of this call
  player_library().get_bmpdata(&layout, &first, &second, composite.data(), &word);
  write_snapshot_bmp(composite.data(), kCompositeBytes, kTestBitmapName, kCompositeWidth,
                     kCompositeHeight);
  return 0;
}

int set_make_bmp_mode(int mode) {
  g_snap.mode.store(mode);
  return 0;
}

int get_make_bmp_mode() {
  return g_snap.mode.load();
}

const uint8_t* channel_store(int channel) {
  if (!is_channel(channel)) return nullptr;
  std::lock_guard<std::mutex> hold(g_snap.lock);
  return g_snap.stores[channel - 1].ok() ? store_of(channel) : nullptr;
}

int get_bmp(int channel, uint8_t* buffer, int* width, int* height) {
  player_library().get_ch_bmp(channel, buffer, width, height);
  return 0;
}

int get_dec_sts() {
  return player_library().err_flag_status();
}

int set_init_dec() {
  player_library().set_init_again();
  return 0;
}

int clear_dec_err() {
  player_library().err_flag_reset();
  return 0;
}

int audio_set(int value) {
  return player_library().no_audio_mode_set(value);
}

int zel_set_viewer_mode(int a, int b) {
  if (a < 0 || a > 7) return -1;
  return player_library().set_viewer_mode(a, b);
}

}  // namespace virazav::player
