// The three command lines that start, stop and shape the live stream: UDPup, UDPdown and
// UDPdispmode. Each is answered "<ID> OK 00" when carried out and "<ID> NG" when refused.

#include <string>

#include "internal.h"

namespace virazav::sim::detail {

namespace {

constexpr char kUp[] = "UDPup";
constexpr char kDown[] = "UDPdown";
constexpr char kDisplayMode[] = "UDPdispmode";
constexpr int kMaxDisplay = 16;  // channel 15 + 1

std::string ok(const std::string& id) {
  return id + " OK 00\r\n";
}

std::string ng(const std::string& id) {
  return id + " NG\r\n";
}

}  // namespace

bool is_live_command(std::string_view word) {
  return word == kUp || word == kDown || word == kDisplayMode;
}

Outcome execute_live_command(const Command& cmd, LiveStream& live, const std::string& peer,
                             std::string* note) {
  Outcome out;
  if (cmd.word == kUp) {
    // Video field: bit 0 set 0, bit 1 set 1, neither both; audio field: 0 none, else both
    // rings. The client writes both as "%02d".
    const int64_t value = cmd.values[0];
    const int64_t audio = cmd.values[1];
    std::string error;
    if (value < 0 || audio < 0) {
      *note = "negative field";
      out.reply = ng(cmd.id);
    } else if (!live.start(peer, static_cast<int>(value & 3), audio != 0, &error)) {
      *note = error;
      out.reply = ng(cmd.id);
    } else {
      out.reply = ok(cmd.id);
    }
  } else if (cmd.word == kDown) {
    // The fields say which sets and rings the client means; the recorder stops them all.
    live.stop();
    out.reply = ok(cmd.id);
  } else if (cmd.word == kDisplayMode) {
    const auto display = static_cast<uint32_t>(cmd.values[0]);
    const auto mode = static_cast<uint32_t>(cmd.values[1]);
    if (cmd.values[2] != 0 || display > kMaxDisplay) {
      *note = "display " + std::to_string(display) + ", last field " + cmd.fields[2];
      out.reply = ng(cmd.id);
    } else {
      live.set_display(static_cast<int>(display), static_cast<int>(mode));
      *note = display == 0 ? "no display channel"
                           : "display channel " + std::to_string(display - 1) + " mode " +
                                 std::to_string(mode);
      out.reply = ok(cmd.id);
    }
  } else {
    out.reply = ng(cmd.id);
  }
  return out;
}

}  // namespace virazav::sim::detail
