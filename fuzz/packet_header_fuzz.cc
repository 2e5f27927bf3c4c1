// Fuzzes the packet header search (in memory and in a file), the time stamp
// reader, the prev_size patch and the video header scan with its header probe.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "format/stream_format.h"
#include "format/video_headers.h"
#include "platform/platform.h"

namespace format = virazav::format;
namespace pf = virazav::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy into an exactly sized buffer so that any read past the end is seen.
  std::vector<uint8_t> buf(data, data + size);
  for (int direction : {format::kForward, format::kBackward}) {
    format::PacketHeader h;
    if (format::parse_packet_header(buf.data(), buf.size(), direction, &h) ==
        format::kPacketFound) {
      if (h.offset < 0 || static_cast<size_t>(h.offset) + format::kPacketHeaderBytes > buf.size())
        __builtin_trap();
    }
  }
  uint32_t pts = 0;
  format::packet_time_stamp(buf.data(), buf.size(), &pts);
  format::VideoHeaders v;
  int found = format::scan_video_headers(buf.data(), buf.size(), &v);
  if ((found & format::kFoundVideoObject) &&
      (v.width <= 0 || v.width > 4095 || v.height <= 0 || v.height > 4095)) {
    __builtin_trap();
  }
  if (size >= format::kPackHeaderSize) format::pack_scr(buf.data());
  std::vector<uint8_t> copy = buf;
  format::patch_prev_size(copy.data(), copy.size(), 12345);

  // The file search on the same bytes (small inputs only, to keep it fast).
  if (size <= 4096) {
    static const std::string path = "/tmp/packet_header_fuzz." + std::to_string(getpid()) + ".bin";
    pf::File f = pf::File::open(path, pf::OpenMode::kWriteTruncate);
    if (!f.is_open()) return 0;
    f.write(buf.data(), buf.size());
    f.close();
    f = pf::File::open(path, pf::OpenMode::kRead);
    format::PacketHeader h;
    int guard = 0;
    while (format::parse_packet_header(f, format::kForward, &h) == format::kPacketFound &&
           guard++ < 64) {
      if (h.offset < 0 || h.offset >= static_cast<int64_t>(size)) __builtin_trap();
      f.seek(h.offset + 4, pf::SeekFrom::kBegin);
    }
  }
  return 0;
}
