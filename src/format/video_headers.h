// What the library learns from the first bytes of a video packet: its time
// stamp, the picture size of a video object layer header, the group time code
// and the picture kind.
#pragma once

#include <cstddef>
#include <cstdint>

namespace virazav::format {

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

// The video object layer probe reads at most this many bytes of what it is given.
inline constexpr size_t kVideoObjectProbeBytes = 256;

struct VideoHeaders {
  uint32_t pts = 0;
  int width = 0;
  int height = 0;
  int group_hours = 0;  // the group of VOPs time code
  int group_minutes = 0;
  int group_seconds = 0;
  int vop_kind = 0;
};

// Looks for a video object layer start (00 00 01 20..2F) within the first
// min(kVideoObjectProbeBytes, length) bytes of `data` and parses its header up
// to the picture size. Returns true and stores width × 4096 + height in
// *packed_size when it is a rectangular layer header with both sizes in
// 1..4095; returns false (*packed_size unchanged) otherwise. Never reads
// outside those bytes.
bool probe_video_object_layer(const uint8_t* data, size_t length, uint32_t* packed_size);

// Scans data[0..length) and fills *out (cleared first): the packet's time
// stamp, then start codes 00 00 01 00 (probe_video_object_layer gives width
// and height), 00 00 01 B3 (time code) and 00 00 01 B6 (VOP kind). The scan
// ends at the first VOP header, and as soon as the layer probe fails. Returns
// the bits found. Never reads outside data[0..length).
int scan_video_headers(const uint8_t* data, size_t length, VideoHeaders* out);

}  // namespace virazav::format
