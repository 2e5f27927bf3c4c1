// Fuzzes the own player's packet walk and decoding: the input's first byte
// chooses the way in (bit 1: a file shown with one_farme_view, else a block
// offered with play_add_ring1; bit 0: fast play; bits 2..4: the speed code;
// bits 5..7: the viewer mode the pictures are read back in), the rest is the
// block or the file. The thread runs unpaced and each input is walked to its
// end before the next; the composite and every channel picture are then read
// back into buffers of exactly their documented sizes.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "player/own/player_state.h"
#include "player/player_library.h"
#include "virazav.h"

namespace {

using virazav::player::own_player;
namespace own = virazav::player::own;

constexpr size_t kCompositeAlloc = 1013761;
constexpr size_t kChannelBuffer = 704 * 576 * 3;

void wait_walked(uint64_t before) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (own::player_state().counters.blocks.load() <= before) {
    // A block the thread never finishes is a hang of the walk or the decoder.
    if (std::chrono::steady_clock::now() > until) std::abort();
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool opened = [] {
    own::set_unpaced(true);
    return Zel_play_open(0, 0, 0, 0) == 0;
  }();
  if (!opened) std::abort();
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const uint8_t* block = data + 1;
  const size_t length = size - 1;
  const uint64_t before = own::player_state().counters.blocks.load();
  if (control & 2) {
    static const std::string path = "/tmp/virazav-player-fuzz-" + std::to_string(::getpid());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(block, 1, length, f);
    std::fclose(f);
    if (one_farme_view(path.c_str(), 0) != 0) std::abort();
    wait_walked(before);  // the file's bytes and 48 zeros: never empty
  } else if (length > 0) {
    // Exactly sized copy, so that the sanitizers see any read past the block.
    std::vector<uint8_t> copy(block, block + length);
    const int rc = own_player().add_ring(0, copy.data(), static_cast<int>(copy.size()), control & 1,
                                         (control >> 2) & 7);
    if (rc != 0) std::abort();  // the ring is empty between inputs
    wait_walked(before);
  }
  const int status = get_dec_sts();
  if (status != 0 && status != 1) std::abort();
  clear_dec_err();

  const int mode = control >> 5;  // 0..7
  if (Zel_set_viewer_mode(mode, mode == 5 ? control & 15 : mode == 6 ? 0 : 1) != 0) std::abort();
  std::vector<uint8_t> composite(kCompositeAlloc);
  int layout = 0, first = 0, second = 0;
  own_player().get_bmpdata(&layout, &first, &second, composite.data(), nullptr);
  if (layout != 1 && layout != 2 && layout != 4) std::abort();
  std::vector<uint8_t> picture(kChannelBuffer);
  for (int c = 1; c <= 4; ++c) {
    int w = -1, h = -1;
    const int rc = own_player().get_ch_bmp(c, picture.data(), &w, &h);
    if (rc == 0 ? (w <= 0 || h <= 0 || w > 704 || h > 576) : (rc != 1 || w != 0 || h != 0))
      std::abort();
  }
  return 0;
}
