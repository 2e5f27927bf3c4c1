// The playback engine without its thread: the data set is opened through the
// exports with a starter that starts no thread, and the test runs the
// engine's cycles itself on a clock that moves only when the engine waits (or
// the test says so). Every picture shown is recorded with its clock values.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dlplayer/engine.h"

namespace virazav::testing {

class EngineHarness {
 public:
  EngineHarness();
  ~EngineHarness();
  EngineHarness(const EngineHarness&) = delete;
  EngineHarness& operator=(const EngineHarness&) = delete;

  // Mpeg4DLdata_fileopen with the engine prepared on this clock. Returns its result.
  unsigned open(const std::string& path, const std::string& index_dir, int parts = 1);
  // Ends the engine as its thread would, then Mpeg4DLdata_fileclose.
  void close();

  // Runs one cycle, then lets the clock pass as the thread would wait.
  dlplayer::detail::CycleResult cycle();
  // Runs cycles until `done` holds after one (true) or `max_cycles` ran (false).
  bool run_until(const std::function<bool()>& done, int max_cycles = 100000);
  // Runs cycles while the clock stays below now() + ms.
  void run_for(uint32_t ms, int max_cycles = 100000);

  uint32_t now() const { return now_; }
  void advance(uint32_t ms) { now_ += ms; }
  // Milliseconds every cycle costs (the thread's own work); 1 by default.
  void set_cycle_cost(uint32_t ms) { cycle_cost_ = ms; }
  // Every pause of the engine is cut short as if a call waited for the lock.
  void set_interrupt_pauses(bool on) { interrupt_ = on; }
  int pauses() const { return pauses_; }

  std::vector<dlplayer::detail::ShownPicture> shown;
  dlplayer::detail::Engine& engine() { return engine_; }

 private:
  static uint32_t clock_now(void* user);
  static bool clock_pause(void* user, int ms);
  static bool clock_wait_slot(void* user, int w, int ms);
  static void observe(const dlplayer::detail::ShownPicture& p, void* user);

  dlplayer::detail::EngineClock clock_;
  dlplayer::detail::Engine engine_;
  uint32_t now_ = 100000;
  uint32_t cycle_cost_ = 1;
  bool interrupt_ = false;
  int pauses_ = 0;
  bool open_ = false;
};

}  // namespace virazav::testing
