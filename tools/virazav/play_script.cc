// The play command's script parser and terminal key decoder.

#include "play_script.h"

#include <cctype>
#include <cstddef>

#include "options.h"

namespace virazav::cli {

namespace {

constexpr int64_t kMaxDurationMs = 86400 * 1000;
constexpr int kMaxFractionDigits = 3;
constexpr size_t kMaxIntegerDigits = 9;  // keeps the scaled value far from overflow
constexpr char kEscape = '\x1b';

struct LetterKey {
  char letter;  // lower case; the upper-case letter means the same
  KeyAction action;
  int value;
};

constexpr LetterKey kLetterKeys[] = {
    {' ', KeyAction::kToggle, 0},       {'a', KeyAction::kChannel, kAllChannels},
    {'b', KeyAction::kMode, kModeBack}, {'r', KeyAction::kMode, kModeFastBack},
    {'f', KeyAction::kMode, kModeFast}, {'q', KeyAction::kQuit, 0},
};

// Parses a decimal number with at most `decimals` digits after a point into
// units of 10^-decimals ("12.5" with 1 decimal gives 125). No sign, no
// exponent, no point without digits on both sides.
bool parse_fixed(std::string_view text, int decimals, int64_t* out) {
  const size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() || whole.size() > kMaxIntegerDigits) return false;
  if (point != std::string_view::npos &&
      (fraction.empty() || fraction.size() > static_cast<size_t>(decimals))) {
    return false;
  }
  int64_t value = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  for (int i = 0; i < decimals; ++i) {
    int digit = 0;
    if (static_cast<size_t>(i) < fraction.size()) {
      const char c = fraction[static_cast<size_t>(i)];
      if (c < '0' || c > '9') return false;
      digit = c - '0';
    }
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

struct Command {
  std::string_view word;
  StepKind kind;
};

constexpr Command kCommands[] = {
    {"play", StepKind::kPlay},         {"stop", StepKind::kStop},
    {"back", StepKind::kBack},         {"fastback", StepKind::kFastBack},
    {"fast", StepKind::kFast},         {"step", StepKind::kStep},
    {"stepback", StepKind::kStepBack}, {"pos", StepKind::kPosition},
    {"channel", StepKind::kChannel},   {"wait", StepKind::kWait},
};

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::vector<std::string_view> split_words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && is_blank(text[at])) ++at;
    size_t end = at;
    while (end < text.size() && !is_blank(text[end])) ++end;
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

bool parse_position(std::string_view word, ScriptStep* step, std::string* error) {
  int64_t v = 0;
  if (word.starts_with("#")) {
    if (!parse_number(word.substr(1), 0, kHighestIndexEntry, &v)) {
      *error = "an index entry is #0..#" + std::to_string(kHighestIndexEntry);
      return false;
    }
    step->position_is_entry = true;
  } else {
    if (!word.ends_with("%") || !parse_fixed(word.substr(0, word.size() - 1), 1, &v) ||
        v > kPositionParts) {
      *error = "a position is a percentage 0%..100% (one decimal at most) or an entry #N";
      return false;
    }
  }
  step->position = static_cast<int>(v);
  return true;
}

bool parse_channel(std::string_view word, ScriptStep* step, std::string* error) {
  int64_t v = 0;
  if (word == "all") {
    step->channel = kAllChannels;
  } else if (parse_number(word, 0, 15, &v)) {
    step->channel = static_cast<int>(v);
  } else {
    *error = "a channel is 0..15 or all";
    return false;
  }
  return true;
}

// Parses the words of one step (at least one) into *step.
bool parse_step(const std::vector<std::string_view>& words, ScriptStep* step, std::string* error) {
  const Command* command = nullptr;
  for (const Command& c : kCommands) {
    if (c.word == words[0]) command = &c;
  }
  if (command == nullptr) {
    *error = "unknown command '" + std::string(words[0]) + "'";
    return false;
  }
  step->kind = command->kind;
  size_t next = 1;
  if (command->kind == StepKind::kPosition || command->kind == StepKind::kChannel) {
    if (words.size() < 2) {
      *error = std::string(words[0]) + " needs " +
               (command->kind == StepKind::kPosition ? "a position" : "a channel");
      return false;
    }
    const bool ok = command->kind == StepKind::kPosition ? parse_position(words[1], step, error)
                                                         : parse_channel(words[1], step, error);
    if (!ok) return false;
    next = 2;
  }
  if (next < words.size()) {
    if (!parse_duration(words[next], &step->duration_ms)) {
      *error = "'" + std::string(words[next]) + "' is not a duration like 2s, 1.5s or 500ms";
      return false;
    }
    ++next;
  }
  if (next < words.size()) {
    *error = "unexpected '" + std::string(words[next]) + "'";
    return false;
  }
  if (command->kind == StepKind::kWait && step->duration_ms == kNoDuration) {
    *error = "wait needs a duration";
    return false;
  }
  return true;
}

}  // namespace

bool parse_duration(std::string_view text, int64_t* milliseconds) {
  int64_t v = 0;
  bool ok = false;
  if (text.ends_with("ms")) {
    ok = parse_fixed(text.substr(0, text.size() - 2), 0, &v);
  } else if (text.ends_with("s")) {
    ok = parse_fixed(text.substr(0, text.size() - 1), kMaxFractionDigits, &v);
  }
  if (!ok || v <= 0 || v > kMaxDurationMs) return false;
  *milliseconds = v;
  return true;
}

bool parse_script(std::string_view text, std::vector<ScriptStep>* out, std::string* error) {
  std::vector<ScriptStep> steps;
  size_t at = 0;
  for (int number = 1;; ++number) {
    const size_t semicolon = text.find(';', at);
    const bool last = semicolon == std::string_view::npos;
    std::string_view piece = text.substr(at, last ? std::string_view::npos : semicolon - at);
    const std::vector<std::string_view> words = split_words(piece);
    if (words.empty()) {
      // Only the place after a final ';' may stay empty.
      if (last && !steps.empty()) break;
      *error = steps.empty() && last ? "the script is empty"
                                     : "step " + std::to_string(number) + " is empty";
      return false;
    }
    ScriptStep step;
    for (std::string_view w : words) step.text += (step.text.empty() ? "" : " ") + std::string(w);
    std::string why;
    if (!parse_step(words, &step, &why)) {
      *error = "step " + std::to_string(number) + " '" + step.text + "': " + why;
      return false;
    }
    steps.push_back(std::move(step));
    if (last) break;
    at = semicolon + 1;
  }
  *out = std::move(steps);
  return true;
}

int step_play_mode(StepKind kind) {
  switch (kind) {
    case StepKind::kPlay:
      return kModePlay;
    case StepKind::kStop:
      return kModeStop;
    case StepKind::kBack:
      return kModeBack;
    case StepKind::kFastBack:
      return kModeFastBack;
    case StepKind::kStepBack:
      return kModeStepBack;
    case StepKind::kStep:
      return kModeStep;
    case StepKind::kFast:
      return kModeFast;
    default:
      return -1;
  }
}

std::vector<Key> decode_keys(std::string_view bytes, std::string* pending) {
  std::string input = *pending;
  input.append(bytes);
  pending->clear();
  std::vector<Key> keys;
  for (size_t i = 0; i < input.size(); ++i) {
    const char c = input[i];
    if (c == kEscape) {
      // Cursor keys arrive as ESC [ C or, in application mode, ESC O C; other
      // sequences run to their final byte (0x40..0x7E) and are passed over.
      if (i + 1 >= input.size()) {
        *pending = input.substr(i);
        break;
      }
      const char intro = input[i + 1];
      if (intro != '[' && intro != 'O') {
        continue;  // a lone Escape
      }
      size_t end = i + 2;
      while (end < input.size() && (input[end] < 0x40 || input[end] > 0x7E)) ++end;
      if (end >= input.size()) {
        *pending = input.substr(i);
        break;
      }
      if (end == i + 2 && input[end] == 'C') keys.push_back({KeyAction::kMode, kModeStep});
      if (end == i + 2 && input[end] == 'D') keys.push_back({KeyAction::kMode, kModeStepBack});
      i = end;
      continue;
    }
    if (c >= '0' && c <= '9') {
      keys.push_back({KeyAction::kChannel, c - '0'});
      continue;
    }
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const LetterKey& k : kLetterKeys) {
      if (k.letter == letter) keys.push_back({k.action, k.value});
    }
  }
  return keys;
}

}  // namespace virazav::cli
