// Fuzzes the frame index loader: the input is a ".index" file beside a small
// stream file made with the stream-format helpers; the data set is opened
// with it, and the index walks, search and slices run over what was loaded.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/dlplayer.h"
#include "dlplayer/frame_index.h"
#include "format/stream_format.h"
#include "platform/platform.h"

namespace dl = virazav::dlplayer;
namespace format = virazav::format;
namespace pf = virazav::platform;

namespace {

void quiet(const char*, const char*, void*) {}

// A packet of `id` with a time stamp and the private fields, then `payload`.
std::vector<uint8_t> packet(uint8_t id, uint32_t pts, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> p(format::kPacketHeaderBytes + payload.size(), 0xFF);
  p[0] = 0, p[1] = 0, p[2] = 1, p[3] = id;
  p[4] = 0, p[5] = 0, p[6] = 0x80, p[7] = 0x80, p[8] = 18;
  p[9] = static_cast<uint8_t>(0x21 | ((pts >> 29) & 6));
  p[10] = static_cast<uint8_t>(pts >> 22);
  p[11] = static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1);
  p[12] = static_cast<uint8_t>(pts >> 7);
  p[13] = static_cast<uint8_t>((pts << 1) | 1);
  std::copy(payload.begin(), payload.end(), p.begin() + format::kPacketHeaderBytes);
  format::encode_field22(0, &p[format::kPrevSizeOffset]);
  format::encode_field22(static_cast<uint32_t>(p.size()), &p[format::kPacketSizeOffset]);
  return p;
}

struct Fixture {
  std::string dir;
  std::string stream;
  Fixture() {
    pf::set_message_handler(quiet, nullptr);
    dir = "/tmp/frame_index_fuzz." + std::to_string(getpid());
    pf::make_directory(dir);
    stream = dir + "/s.mpg";
    std::vector<uint8_t> bytes(format::kStreamHeaderSize);
    format::write_pack_header(0x5A000000, bytes.data());
    format::write_stream_map(0xFFFF, 0xF, bytes.data() + format::kPackHeaderSize);
    // Key frames (a VOP start with kind bits 00) and audio packets.
    for (int i = 0; i < 12; ++i) {
      std::vector<uint8_t> vop = {0, 0, 1, 0xB6, static_cast<uint8_t>(i % 3 == 0 ? 0x00 : 0x40),
                                  1, 2, 3};
      auto v = packet(static_cast<uint8_t>(0xE0 + i % 3), 90000 + i * 9000, vop);
      bytes.insert(bytes.end(), v.begin(), v.end());
      if (i % 4 == 0) {
        auto a = packet(static_cast<uint8_t>(0xC0 + i % 2), 90000 + i * 9000,
                        std::vector<uint8_t>(2085, 0x33));
        bytes.insert(bytes.end(), a.begin(), a.end());
      }
    }
    FILE* f = std::fopen(stream.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    virazav::dlplayer::decode_init();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fx;
  std::string index = dl::index_file_path(fx.dir);
  FILE* f = std::fopen(index.c_str(), "wb");
  if (!f) return 0;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
  if (dl::file_open(fx.stream.c_str(), fx.dir.c_str(), fx.dir.c_str(), 1) == 0) return 0;
  int last = dl::index_last_valid();
  if (last >= format::kIndexCapacity) __builtin_trap();
  uint32_t video = 0, audio = 0;
  dl::get_enable_ch(&video, &audio, fx.dir.c_str(), 1);
  for (int n = 0; n <= last && n < 64; ++n) {
    format::FrameIndexEntry e = dl::index_entry(n);
    if (e.offset == 0 || e.channel > 15 || e.kind > 1) __builtin_trap();
  }
  int choose = size > 0 ? data[0] : 0;
  dl::set_disp_type(choose % 17 - 1);
  for (int i = 0; i < 4; ++i) {
    dl::set_index_cursor((choose * 7 + i * 13) % (last + 2));
    dl::detail::index_step(1 + i % 3, choose % 18 - 1, choose % 5 - 1, 1 + i % 2);
    dl::detail::index_locate(static_cast<int64_t>(choose) * 97, 1 + i % 2);
  }
  dl::search(24 * 32140800 + choose, 10);
  dl::file_close();
  std::remove(index.c_str());
  return 0;
}
