// What the player learns from the first bytes of a video packet: its time
// stamp, the picture size of a sequence header, the group time code and the
// picture kind.
#pragma once

#include <cstddef>
#include <cstdint>

namespace virazav::dlplayer {

// Bits of scan_video_headers' result.
inline constexpr int kFoundTimeStamp = 1;
inline constexpr int kFoundVideoObject = 2;  // a video object header with its size
inline constexpr int kFoundGroup = 4;
inline constexpr int kFoundVop = 8;

// VOP kinds (the two top bits of the byte after 00 00 01 B6, plus one).
inline constexpr int kVopIntra = 1;
inline constexpr int kVopPredicted = 2;
inline constexpr int kVopBidirectional = 3;
inline constexpr int kVopSprite = 4;

struct VideoHeaders {
  uint32_t pts = 0;
  int width = 0;
  int height = 0;
  int group_hours = 0;  // the group of VOPs time code
  int group_minutes = 0;
  int group_seconds = 0;
  int vop_kind = 0;
};

// Scans data[0..length) and fills *out (cleared first): the packet's time
// stamp, then start codes 00 00 01 00 (the header probe gives width and
// height), 00 00 01 B3 (time code) and 00 00 01 B6 (VOP kind). The scan ends
// at the first VOP header, and as soon as the header probe fails. Returns the
// bits found. Never reads outside data[0..length).
int scan_video_headers(const uint8_t* data, size_t length, VideoHeaders* out);

}  // namespace virazav::dlplayer
