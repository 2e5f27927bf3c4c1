// Frame bitmaps from single files: I2BMP decodes the first packet of a data
// file (or of a stream file) into a bitmap, and get_bmpsize reads a bitmap's
// size back.
#include <cstdio>
#include <string>

#include "decoder/decoder.h"
#include "dlplayer/dataset_state.h"
#include "dlplayer/dlplayer.h"
#include "dlplayer/packet_io.h"
#include "format/bytes.h"
#include "format/stream_format.h"
#include "format/video_headers.h"
#include "platform/platform.h"

namespace virazav::dlplayer {
namespace {

constexpr const char* kTextNotInitialized = "error: not initialized ";
constexpr int kNotSetUp = -10;
constexpr int kNoFile = -1;

// Bitmap information header fields, as file offsets.
constexpr size_t kBmpWidthOffset = 18;
constexpr size_t kBmpHeightOffset = 22;

}  // namespace

int i2bmp(const char* source, const char* bitmap_path, const char* directory, int channel, int tick,
          int end_tick) {
  if (!decoder::setup_done() || decoder::frame_buffer() == nullptr) {
    platform::show_message(kTextNotInitialized, directory ? directory : "");
    return kNotSetUp;
  }
  platform::File f;
  if (tick == end_tick) {
    if (source != nullptr) f = platform::File::open(source, platform::OpenMode::kRead);
  } else {
    // Tick after tick from `tick` toward `end_tick`, end_tick itself excluded.
    int step = tick < end_tick ? 1 : -1;
    int64_t count = tick < end_tick ? int64_t{end_tick} - tick : int64_t{tick} - end_tick;
    std::string dir = directory ? directory : "";
    int64_t t = tick;
    for (int64_t i = 0; i < count && !f.is_open(); ++i, t += step) {
      char name[48];
      std::snprintf(name, sizeof name, "%d_%lld.dat", channel, static_cast<long long>(t));
      std::string path = platform::join_path(dir, name);
      if (platform::file_exists(path)) f = platform::File::open(path, platform::OpenMode::kRead);
    }
  }
  if (!f.is_open()) return kNoFile;
  int result = 0;
  format::PacketHeader h;
  if (format::parse_packet_header(f, format::kForward, &h) == format::kPacketFound) {
    long loaded = detail::load_packet(f, h);
    if (loaded > 0) {
      uint8_t* buffer = decoder::frame_buffer();
      format::VideoHeaders v;
      result = format::scan_video_headers(buffer, static_cast<size_t>(loaded), &v);
      if (v.width != 0 && v.height != 0 && h.kind == format::kKindVideo) {
        decoder::set_channel_size(h.channel, v.width, v.height);
        decoder::set_synced(h.channel, true);
        if (decoder::resize_decoders(h.channel) &&
            decoder::evaluate_result(decoder::decode_with_channel(
                h.channel, buffer, static_cast<size_t>(loaded))) == 1 &&
            bitmap_path != nullptr) {
          decoder::write_channel_bmp(bitmap_path, h.channel);
          result = tick;
        }
      }
    }
  }
  return result;
}

int get_bmp_size(const char* path, uint32_t* width, uint32_t* height) {
  if (path == nullptr || width == nullptr || height == nullptr) return -1;
  platform::File f = platform::File::open(path, platform::OpenMode::kRead);
  if (!f.is_open()) return -1;
  uint8_t headers[decoder::kBitmapHeaderBytes];
  long got = f.read(headers, sizeof headers);
  f.close();
  if (got != static_cast<long>(sizeof headers)) return -1;
  *width = format::load_le32(headers + kBmpWidthOffset);
  *height = format::load_le32(headers + kBmpHeightOffset);
  return 0;
}

}  // namespace virazav::dlplayer
