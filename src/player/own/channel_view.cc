// The four channel pictures. Each is copied in whole under the views' lock,
// so a picture call never sees half of one picture and half of the next.
#include "player/own/channel_view.h"

#include <cstring>

#include "decoder/stream_decoder.h"

namespace virazav::player::own {
namespace {

constexpr size_t kViewBytes =
    static_cast<size_t>(decoder::kStreamMaxWidth) * decoder::kStreamMaxHeight * 3;

bool is_channel(int channel) {
  return channel >= 1 && channel <= kPlayerChannels;
}

}  // namespace

void ChannelViews::store(int channel, const uint8_t* picture, int width, int height) {
  if (!is_channel(channel) || picture == nullptr || width <= 0 || height <= 0 ||
      width > decoder::kStreamMaxWidth || height > decoder::kStreamMaxHeight) {
    return;
  }
  platform::MutexLock hold(mu_);
  View& v = views_[channel - 1];
  if (!v.pixels.ok()) v.pixels = platform::Buffer(kViewBytes);
  if (!v.pixels.ok()) return;
  std::memcpy(v.pixels.data(), picture, static_cast<size_t>(width) * height * 3);
  v.width = width;
  v.height = height;
}

int ChannelViews::copy_picture(int channel, uint8_t* out, int* width, int* height) const {
  if (!is_channel(channel)) return kBadChannel;
  platform::MutexLock hold(mu_);
  const View& v = views_[channel - 1];
  const bool has = v.pixels.ok() && v.width > 0;
  if (width != nullptr) *width = has ? v.width : 0;
  if (height != nullptr) *height = has ? v.height : 0;
  if (!has) return kNoPictureYet;
  if (out != nullptr)
    std::memcpy(out, v.pixels.data(), static_cast<size_t>(v.width) * v.height * 3);
  return kPictureCopied;
}

void ChannelViews::clear() {
  platform::MutexLock hold(mu_);
  for (View& v : views_) {
    v.width = 0;
    v.height = 0;
  }
}

}  // namespace virazav::player::own
