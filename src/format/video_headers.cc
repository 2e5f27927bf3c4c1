// Scanning the first bytes of a video packet for its time stamp and the
// MPEG-4 Visual headers the players steer by, and reading a video object
// layer header as far as the picture size.
#include "format/video_headers.h"

#include "format/bytes.h"
#include "format/stream_format.h"

namespace virazav::format {
namespace {

constexpr uint8_t kVideoObjectCode = 0x00;
constexpr uint8_t kGroupCode = 0xB3;
constexpr uint8_t kVopCode = 0xB6;

constexpr uint32_t kMaxDimension = 4095;  // the probe packs 12 bits each
constexpr uint32_t kShapeRectangular = 0;
constexpr uint32_t kShapeGrayscale = 3;
constexpr uint32_t kAspectExtended = 15;
constexpr int kVbvParameterBits = 79;  // the VBV fields with their markers

// Bounds-checked big-endian bit reader over a byte range.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t length) : data_(data), bits_(length * 8) {}
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= bits_) {
        overrun_ = true;
        return 0;
      }
      v = (v << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u);
      ++pos_;
    }
    return v;
  }
  void skip(int n) {
    pos_ += static_cast<size_t>(n);
    if (pos_ > bits_) overrun_ = true;
  }
  bool overrun() const { return overrun_; }

 private:
  const uint8_t* data_;
  size_t bits_;
  size_t pos_ = 0;
  bool overrun_ = false;
};

}  // namespace

bool probe_video_object_layer(const uint8_t* data, size_t length, uint32_t* packed_size) {
  if (data == nullptr || packed_size == nullptr) return false;
  size_t limit = length < kVideoObjectProbeBytes ? length : kVideoObjectProbeBytes;
  size_t at = limit;
  for (size_t i = 0; i + 3 < limit; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0xF0) == 0x20) {
      at = i + 4;
      break;
    }
  }
  if (at >= limit) return false;
  BitReader r(data + at, limit - at);
  r.skip(1);  // random_accessible_vol
  r.skip(8);  // video_object_type_indication
  uint32_t verid = 1;
  if (r.get(1)) {  // is_object_layer_identifier
    verid = r.get(4);
    r.skip(3);  // priority
  }
  if (r.get(4) == kAspectExtended) r.skip(16);  // par_width, par_height
  if (r.get(1)) {                               // vol_control_parameters
    r.skip(2);                                  // chroma_format
    r.skip(1);                                  // low_delay
    if (r.get(1)) r.skip(kVbvParameterBits);
  }
  uint32_t shape = r.get(2);
  if (shape == kShapeGrayscale && verid != 1) r.skip(4);
  if (r.get(1) != 1) return false;  // marker
  uint32_t resolution = r.get(16);
  if (r.get(1) != 1 || resolution == 0) return false;
  if (r.get(1)) {  // fixed_vop_rate
    int bits = 1;
    while ((1u << bits) < resolution) ++bits;
    r.skip(bits);
  }
  if (shape != kShapeRectangular) return false;
  if (r.get(1) != 1) return false;
  uint32_t width = r.get(13);
  if (r.get(1) != 1) return false;
  uint32_t height = r.get(13);
  if (r.get(1) != 1) return false;
  if (r.overrun()) return false;
  if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) return false;
  *packed_size = width * 4096 + height;
  return true;
}

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
      if (!probe_video_object_layer(data + i, length - i, &packed)) return found;
      out->width = static_cast<int>(packed >> 12);
      out->height = static_cast<int>(packed & 0xFFF);
      found |= kFoundVideoObject;
    } else if (code == kGroupCode) {
      if (i + 6 >= length) continue;
      // 18 bits: hours 5, minutes 6, marker 1, seconds 6.
      uint32_t code18 = load_be24(data + i + 4) >> 6;
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

}  // namespace virazav::format
