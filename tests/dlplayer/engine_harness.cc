#include "engine_harness.h"

#include "dlplayer/dataset_state.h"
#include "dlplayer/playback_thread.h"
#include "live/live.h"
#include "virazav.h"

namespace virazav::testing {
namespace {

namespace dd = dlplayer::detail;

// Opening the data set: no thread, but the mode the thread would announce.
bool start_without_thread() {
  dd::state().play_mode.store(dd::kModeIdle);
  return true;
}

}  // namespace

EngineHarness::EngineHarness() {
  clock_ = {clock_now, clock_pause, clock_wait_slot, this};
  dd::set_playback_starter(start_without_thread);
  dd::set_show_observer(observe, this);
}

EngineHarness::~EngineHarness() {
  close();
  dd::set_show_observer(nullptr, nullptr);
  dd::set_playback_starter(nullptr);
}

unsigned EngineHarness::open(const std::string& path, const std::string& index_dir, int parts) {
  const unsigned size = Mpeg4DLdata_fileopen(path.c_str(), ".", index_dir.c_str(), parts);
  if (size != 0) {
    dd::engine_start(engine_, clock_);
    open_ = true;
  }
  return size;
}

void EngineHarness::close() {
  if (!open_) return;
  open_ = false;
  dd::engine_finish(engine_);
  dd::state().play_mode.store(dd::kModeNoThread);
  Mpeg4DLdata_fileclose();
}

dd::CycleResult EngineHarness::cycle() {
  const dd::CycleResult r = dd::run_cycle(engine_);
  now_ += cycle_cost_;
  if (r.after == dd::After::kWaitUntil && static_cast<int32_t>(r.until_ms - now_) > 0) {
    now_ = r.until_ms;
  }
  return r;
}

bool EngineHarness::run_until(const std::function<bool()>& done, int max_cycles) {
  for (int i = 0; i < max_cycles; ++i) {
    cycle();
    if (done()) return true;
  }
  return false;
}

void EngineHarness::run_for(uint32_t ms, int max_cycles) {
  const uint32_t end = now_ + ms;
  for (int i = 0; i<max_cycles&& static_cast<int32_t>(end - now_)> 0; ++i) cycle();
}

uint32_t EngineHarness::clock_now(void* user) {
  return static_cast<EngineHarness*>(user)->now_;
}

bool EngineHarness::clock_pause(void* user, int ms) {
  auto* h = static_cast<EngineHarness*>(user);
  ++h->pauses_;
  if (h->interrupt_) return true;
  h->now_ += static_cast<uint32_t>(ms);
  return false;
}

bool EngineHarness::clock_wait_slot(void* user, int w, int ms) {
  auto* h = static_cast<EngineHarness*>(user);
  h->now_ += static_cast<uint32_t>(ms);
  return live::playback_slot_state(w) == live::kSlotFree;
}

void EngineHarness::observe(const dd::ShownPicture& p, void* user) {
  static_cast<EngineHarness*>(user)->shown.push_back(p);
}

}  // namespace virazav::testing
