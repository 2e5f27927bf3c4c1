// Fuzzes the playback engine over mutated stream files and frame indexes: the
// data set is opened with them through the library's own opening (no thread
// is started), then the engine's cycles play a script of modes, positions and
// display channels on a clock that moves only when the engine waits, so that
// nothing waits in real time. Every read of the engine goes through the 1 MiB
// frame buffer, the 1 MiB queue store and the 8192-byte ring buffers that
// the sanitizers watch; a cycle that never returns shows as a time-out.
//
// Input: byte 0 display channel (value % 18 - 1), byte 1 flags (bit 0: no
// index file, the index is built from the stream; bits 4..7: parts of the
// build), bytes 2..9 the script (per step: bits 0..2 a mode 0..7, bit 3 a
// move by fraction first, bits 4..7 the fraction or entry number), bytes
// 10..11 the index length L (little-endian), then L bytes of ".index", then
// the stream file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/dataset_state.h"
#include "dlplayer/dlplayer.h"
#include "dlplayer/engine.h"
#include "dlplayer/playback_thread.h"
#include "format/bytes.h"
#include "platform/platform.h"

namespace dl = virazav::dlplayer;
namespace dd = virazav::dlplayer::detail;
namespace pf = virazav::platform;

namespace {

constexpr size_t kHeader = 12;
constexpr int kSteps = 8;
constexpr int kCyclesPerStep = 400;

void quiet(const char*, const char*, void*) {}
void quiet_trace(const char*, void*) {}

uint32_t virtual_now = 0;
uint32_t clock_now(void*) {
  return virtual_now;
}
bool clock_pause(void*, int ms) {
  virtual_now += static_cast<uint32_t>(ms);
  return false;
}
bool clock_wait_slot(void*, int, int ms) {
  virtual_now += static_cast<uint32_t>(ms);
  return true;
}
const dd::EngineClock kClock = {clock_now, clock_pause, clock_wait_slot, nullptr};

bool start_without_thread() {
  dd::state().play_mode.store(dd::kModeIdle);
  return true;
}

bool write(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

struct Fixture {
  std::string dir;
  Fixture() {
    pf::set_message_handler(quiet, nullptr);
    pf::set_trace_handler(quiet_trace, nullptr);
    dir = "/tmp/playback_cycle_fuzz." + std::to_string(getpid());
    pf::make_directory(dir);
    dd::set_playback_starter(start_without_thread);
    dl::decode_init();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fx;
  if (size < kHeader) return 0;
  const int display = data[0] % 18 - 1;
  const bool build = (data[1] & 1) != 0;
  const int parts = 1 + (data[1] >> 4);
  size_t index_bytes = virazav::format::load_le16(data + 10);
  if (index_bytes > size - kHeader) index_bytes = size - kHeader;
  const std::string stream = fx.dir + "/s.mpg";
  const std::string index = dl::index_file_path(fx.dir);
  if (!write(stream, data + kHeader + index_bytes, size - kHeader - index_bytes)) return 0;
  if (build) {
    std::remove(index.c_str());
  } else if (!write(index, data + kHeader, index_bytes)) {
    return 0;
  }
  // A built index is kept in memory only: its folder does not exist.
  const std::string index_dir = build ? fx.dir + "/none" : fx.dir;
  if (dl::file_open(stream.c_str(), fx.dir.c_str(), index_dir.c_str(), parts) == 0) return 0;

  dd::Engine engine;
  dd::engine_start(engine, kClock);
  dl::set_disp_type(display);
  for (int step = 0; step < kSteps; ++step) {
    const uint8_t s = data[2 + step];
    if (s & 8) {
      dl::set_play_pos(step % 2 == 0 ? 10 : 0, s >> 4);
    }
    dl::set_play_mode(s & 7);
    for (int c = 0; c < kCyclesPerStep && dl::play_mode() != dd::kModeStopped; ++c) {
      const dd::CycleResult r = dd::run_cycle(engine);
      virtual_now += 1;
      if (r.after == dd::After::kWaitUntil && static_cast<int32_t>(r.until_ms - virtual_now) > 0) {
        virtual_now = r.until_ms;
      }
      const int mode = dl::play_mode();
      if (mode < 0 || mode > 7) __builtin_trap();
      const int pos = dl::get_play_pos(10);
      if (pos < -1 || pos > 10) __builtin_trap();
    }
    if (step == 3) dl::set_disp_type(-1 - display);
  }
  dd::engine_finish(engine);
  dd::state().play_mode.store(dd::kModeNoThread);
  dl::file_close();
  return 0;
}
