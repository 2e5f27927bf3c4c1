// The words of the play command that need no library: the script grammar of
// "virazav play --script" and the keys a terminal sends while a recording plays.
//
// A script is a list of steps separated by ';'. A step is a command and its
// words, separated by blanks:
//
//   script   = step { ";" step } [ ";" ]
//   step     = mode [ duration ]
//            | "pos" position [ duration ]
//            | "channel" channel [ duration ]
//            | "wait" duration
//   mode     = "play" | "stop" | "back" | "fastback" | "fast" | "step" | "stepback"
//   duration = number ( "s" | "ms" )        1.5s, 500ms (above 0, at most 86400 s)
//   position = percent "%" | "#" entry      50%, 12.5% (0..100, one decimal); #120
//   channel  = 0..15 | "all"
//
// Words are lower case; blanks around words and ';' are free; an empty step
// (";;") is an error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace virazav::cli {

enum class StepKind {
  kPlay,      // normal play forward
  kStop,      // stop
  kBack,      // play backward on key frames
  kFastBack,  // fast backward
  kFast,      // fast forward
  kStep,      // one key frame forward
  kStepBack,  // one key frame backward
  kPosition,  // move the play position
  kChannel,   // choose the display channel
  kWait,      // let the player run as it is
};

// The play modes of the data set's playback thread that the program sets and reads.
inline constexpr int kModePlay = 0;
inline constexpr int kModeStop = 1;
inline constexpr int kModeBack = 3;
inline constexpr int kModeFastBack = 4;
inline constexpr int kModeStepBack = 5;
inline constexpr int kModeStep = 6;
inline constexpr int kModeFast = 7;

inline constexpr int kAllChannels = -1;
inline constexpr int kPositionParts = 1000;  // positions are counted in tenths of a percent
inline constexpr int kHighestIndexEntry = 575999;
inline constexpr int64_t kNoDuration = -1;

struct ScriptStep {
  StepKind kind = StepKind::kWait;
  int64_t duration_ms = kNoDuration;
  // kPosition: either a fraction of the file in kPositionParts, or an index entry.
  bool position_is_entry = false;
  int position = 0;
  int channel = 0;   // kChannel: 0..15 or kAllChannels
  std::string text;  // the step as written, blanks folded, for the report lines
};

// Parses a script. On success stores its steps in *out (at least one) and
// returns true; on failure stores a message that names the step ("step 2
// 'bak 2s': unknown command 'bak'") in *error and returns false.
bool parse_script(std::string_view text, std::vector<ScriptStep>* out, std::string* error);

// Parses a duration ("2s", "1.5s", "500ms"). Returns false for anything else,
// for 0 and for more than a day.
bool parse_duration(std::string_view text, int64_t* milliseconds);

// The play mode a mode step asks for; -1 for the other steps.
int step_play_mode(StepKind kind);

// What a key pressed in the terminal asks for.
enum class KeyAction {
  kToggle,   // space: play, or stop when playing
  kMode,     // a play mode: left arrow 5, right arrow 6, b 3, r 4, f 7
  kChannel,  // 0..9: that display channel; a: all channels
  kQuit,     // q
};

struct Key {
  KeyAction action;
  int value = 0;  // kMode: the play mode; kChannel: 0..9 or kAllChannels
};

// Decodes what the terminal sent: `pending` holds bytes of an escape sequence
// left from the last call and receives those of this call's incomplete one.
// Returns the keys in the order pressed; other bytes and escape sequences are
// passed over.
std::vector<Key> decode_keys(std::string_view bytes, std::string* pending);

}  // namespace virazav::cli
