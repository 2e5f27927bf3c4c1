// What the player shows: the latest decoded picture of each of its four
// channels, kept for the picture calls (get_ch_bmp) and drawn into the
// composite (get_bmpdata) in the viewer's layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/picture_scaler.h"
#include "decoder/stream_decoder.h"
#include "platform/mutex.h"
#include "platform/platform.h"

namespace virazav::player::own {

inline constexpr int kPlayerChannels = 4;

// Results of ChannelViews::copy_picture.
inline constexpr int kPictureCopied = 0;
inline constexpr int kNoPictureYet = 1;
inline constexpr int kBadChannel = -1;

class ChannelViews {
 public:
  // Takes `decoder`'s latest picture as player channel `channel`'s latest by
  // exchanging buffers with it (no copy); the decoder keeps the channel's
  // previous buffer to decode into. Channels outside 1..4 are ignored.
  void take(int channel, decoder::StreamDecoder* decoder);
  // Copies channel `channel`'s latest picture into `out` (at least 704 x 576 x 3
  // bytes) and stores its size. Returns kPictureCopied; kNoPictureYet (sizes 0,
  // out untouched); kBadChannel for a channel outside 1..4 (nothing stored).
  int copy_picture(int channel, uint8_t* out, int* width, int* height) const;
  // Forgets every picture: each channel is black until its next one.
  void clear();
  // Draws the composite (704 x 480, bottom-up, 2112 bytes a row) of `layout`
  // 1, 2 or 4 with channels `first` and `second` into pixels (composite.cc).
  void compose(int layout, int first, int second, uint8_t* pixels);

 private:
  struct View {
    platform::Buffer pixels;
    int width = 0;
    int height = 0;
  };
  // Draws channel's picture scaled to width x height at dst (rows of stride bytes).
  void draw(int channel, uint8_t* dst, int width, int height, size_t stride) VZ_REQUIRES(mu_);

  mutable platform::Mutex mu_;
  View views_[kPlayerChannels] VZ_GUARDED_BY(mu_);
  decoder::PictureScaler scaler_ VZ_GUARDED_BY(mu_);
};

}  // namespace virazav::player::own
