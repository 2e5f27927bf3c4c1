// The four channel pictures. Each is handed over from its decoder whole under
// the views' lock, so a picture call never sees half of one picture and half
// of the next.
#include "player/own/channel_view.h"

#include <cstring>


namespace virazav::player::own {
namespace {

constexpr size_t kViewBytes =
    static_cast<size_t>(decoder::kStreamMaxWidth) * decoder::kStreamMaxHeight * 3;

bool is_channel(int channel) {
  return channel >= 1 && channel <= kPlayerChannels;
}

}  // namespace

void ChannelViews::take(int channel, decoder::StreamDecoder* decoder) {
  if (!is_channel(channel) || decoder == nullptr || decoder->picture() == nullptr) return;
  const int width = decoder->width(), height = decoder->height();
  platform::MutexLock hold(mu_);
  View& v = views_[channel - 1];
  if (!v.pixels.ok()) v.pixels = platform::Buffer(kViewBytes);
  if (!decoder->hand_over_picture(&v.pixels)) return;
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
