// Fuzzes the chunk packet parser: the input is a chunk as read from the disk
// (its first two bytes choose the caller's buffer size). Every packet must stay
// inside the chunk and the buffer, and the delivered length must add up.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "recdisk/record_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace virazav::recdisk;
  if (size < 2) return 0;
  const size_t cap = (static_cast<size_t>(data[0]) << 8 | data[1]) * 37 % (kMaxChunkSize + 1);
  const uint8_t* chunk = data + 2;
  const size_t chunk_size = size - 2 > kMaxChunkSize ? kMaxChunkSize : size - 2;
  // Exactly sized copies so that the sanitizers see any step outside them.
  std::vector<uint8_t> in(chunk, chunk + chunk_size);
  std::vector<uint8_t> out(cap);
  uint32_t length = 0;
  int r = parse_chunk_packets(in.data(), in.size(), out.data(), out.size(), &length);
  if (r != kReadDelivered && r != kReadEndOfData && r != kReadNotDelivered) std::abort();
  if (length > cap || length > chunk_size) std::abort();
  // What was delivered is a prefix of the packets, copied unchanged.
  if (length > 0 &&
      (chunk_size < 100 + length || std::memcmp(out.data(), in.data() + 100, length) != 0))
    std::abort();
  return 0;
}
