// Scanning the first bytes of a video packet for its time stamp and the
// MPEG-4 Visual headers the player steers by.
#include "dlplayer/video_headers.h"

#include "decoder/decore.h"
#include "dlplayer/stream_format.h"

namespace virazav::dlplayer {
namespace {

constexpr uint8_t kVideoObjectCode = 0x00;
constexpr uint8_t kGroupCode = 0xB3;
constexpr uint8_t kVopCode = 0xB6;

}  // namespace

int scan_video_headers(const uint8_t* data, size_t length, VideoHeaders* out) {
  if (out == nullptr) return 0;
  *out = VideoHeaders{};
  if (data == nullptr) return 0;
  int found = 0;
  if (packet_time_stamp(data, length, &out->pts)) found |= kFoundTimeStamp;
  for (size_t i = 0; i + 3 < length; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    uint8_t code = data[i + 3];
    if (code == kVideoObjectCode) {
      uint32_t packed = 0;
      if (decoder::probe_video_object(data + i, length - i, &packed) != decoder::kDecoreOk) {
        return found;
      }
      out->width = static_cast<int>(packed >> 12);
      out->height = static_cast<int>(packed & 0xFFF);
      found |= kFoundVideoObject;
    } else if (code == kGroupCode) {
      if (i + 6 >= length) continue;
      // 18 bits: hours 5, minutes 6, marker 1, seconds 6.
      uint32_t v = (static_cast<uint32_t>(data[i + 4]) << 16) |
                   (static_cast<uint32_t>(data[i + 5]) << 8) | data[i + 6];
      uint32_t code18 = v >> 6;
      out->group_hours = static_cast<int>((code18 >> 13) & 0x1F);
      out->group_minutes = static_cast<int>((code18 >> 7) & 0x3F);
      out->group_seconds = static_cast<int>(code18 & 0x3F);
      found |= kFoundGroup;
    } else if (code == kVopCode) {
      if (i + 4 >= length) return found;
      out->vop_kind = (data[i + 4] >> 6) + 1;
      return found | kFoundVop;
    }
  }
  return found;
}

}  // namespace virazav::dlplayer
