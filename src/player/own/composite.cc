// The composite the snapshots cut: every region holds a whole picture at the
// size the snapshot takes it at, so that each cut is a picture of its own.
//   layout 4: 352 x 240 quarters; rows 240..479 channels 1 | 2, rows 0..239 3 | 4
//   layout 2: 704 x 240 halves; rows 240..479 first, rows 0..239 second
//   layout 1: rows 240..479 first at 704 x 240, and the same picture at 352 x 240
//             packed (rows of 1056 bytes) into the composite's first 253,440 bytes
#include <cstring>

#include "player/own/channel_view.h"
#include "player/snapshot.h"

namespace virazav::player::own {
namespace {

constexpr size_t kHalfRowBytes = kHalfWidth * 3;
constexpr size_t kUpperHalf = kWidePictureBytes;  // the byte of row 240

}  // namespace

void ChannelViews::draw(int channel, uint8_t* dst, int width, int height, size_t stride) {
  if (channel < 1 || channel > kPlayerChannels) return;
  const View& v = views_[channel - 1];
  if (!v.pixels.ok() || v.width <= 0) return;  // no picture yet: black
  scaler_.scale(v.pixels.data(), v.width, v.height, static_cast<size_t>(v.width) * 3, dst, width,
                height, stride);
}

void ChannelViews::compose(int layout, int first, int second, uint8_t* pixels) {
  if (pixels == nullptr) return;
  std::memset(pixels, 0, kCompositeBytes);
  platform::MutexLock hold(mu_);
  switch (layout) {
    case 4:
      draw(1, pixels + kUpperHalf, kHalfWidth, kHalfHeight, kCompositeRowBytes);
      draw(2, pixels + kUpperHalf + kHalfRowBytes, kHalfWidth, kHalfHeight, kCompositeRowBytes);
      draw(3, pixels, kHalfWidth, kHalfHeight, kCompositeRowBytes);
      draw(4, pixels + kHalfRowBytes, kHalfWidth, kHalfHeight, kCompositeRowBytes);
      break;
    case 2:
      draw(first, pixels + kUpperHalf, kCompositeWidth, kHalfHeight, kCompositeRowBytes);
      draw(second, pixels, kCompositeWidth, kHalfHeight, kCompositeRowBytes);
      break;
    case 1:
      draw(first, pixels + kUpperHalf, kCompositeWidth, kHalfHeight, kCompositeRowBytes);
      draw(first, pixels, kHalfWidth, kHalfHeight, kHalfRowBytes);
      break;
    default:
      break;
  }
}

}  // namespace virazav::player::own
