// A video block as the recorder sends it after "JpegSendStart": a 100-byte header with
// the record count at byte 27, then records of a 6-byte header (length in 32-byte units
// at bytes 2..3) and one packet each. The block is checked as the download checks it;
// an accepted block is walked and patched as the download stores it, in a buffer of
// exactly the received size so that any read or write past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "command/download.h"
#include "format/bytes.h"
#include "format/stream_format.h"

using namespace virazav;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The download's block buffer holds 1 MiB.
  if (size > 1048576) return 0;
  std::vector<uint8_t> block(data, data + size);
  int records = -1;
  if (!command::video_block_fits(block.data(), block.size(), &records)) return 0;
  if (records != block[27]) __builtin_trap();
  uint32_t carried = 0;
  size_t at = 100;
  for (int i = 0; i < records; ++i) {
    if (at + 6 > block.size()) __builtin_trap();
    const size_t length = 32 * format::load_le16(&block[at + 2]);
    if (length > block.size() - at - 6) __builtin_trap();
    uint8_t* packet = block.data() + at + 6;
    if (i == 0) format::packet_pts(packet, length);
    format::patch_prev_size(packet, length, carried);
    carried = i == 0 ? static_cast<uint32_t>(length) : carried + static_cast<uint32_t>(length);
    at += 6 + length;
  }
  return 0;
}
