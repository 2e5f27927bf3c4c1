// The play command's script grammar and terminal keys: what each step means, the
// durations, positions and channels it takes, the errors that name the step, and the
// keys decoded from what a terminal sends, escape sequences split over reads included.
#include "play_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace virazav::cli {
namespace {

std::vector<ScriptStep> parse_ok(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_TRUE(parse_script(text, &steps, &error)) << text << ": " << error;
  return steps;
}

std::string parse_error(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(parse_script(text, &steps, &error)) << text;
  return error;
}

TEST(PlayScript, EveryCommand_GivesItsKindDurationAndArgument) {
  const std::vector<ScriptStep> steps = parse_ok(
      "play 5s; step; back 2s; pos 50%; stop; channel 3; fast 1s; stepback; wait 1s; "
      "fastback 250ms; pos #120 2s; channel all");
  struct Row {
    StepKind kind;
    int64_t duration_ms;
    int mode;
    std::string text;
  } rows[] = {
      {StepKind::kPlay, 5000, 0, "play 5s"},
      {StepKind::kStep, kNoDuration, 6, "step"},
      {StepKind::kBack, 2000, 3, "back 2s"},
      {StepKind::kPosition, kNoDuration, -1, "pos 50%"},
      {StepKind::kStop, kNoDuration, 1, "stop"},
      {StepKind::kChannel, kNoDuration, -1, "channel 3"},
      {StepKind::kFast, 1000, 7, "fast 1s"},
      {StepKind::kStepBack, kNoDuration, 5, "stepback"},
      {StepKind::kWait, 1000, -1, "wait 1s"},
      {StepKind::kFastBack, 250, 4, "fastback 250ms"},
      {StepKind::kPosition, 2000, -1, "pos #120 2s"},
      {StepKind::kChannel, kNoDuration, -1, "channel all"},
  };
  ASSERT_EQ(steps.size(), std::size(rows));
  for (size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].kind, rows[i].kind) << i;
    EXPECT_EQ(steps[i].duration_ms, rows[i].duration_ms) << i;
    EXPECT_EQ(step_play_mode(steps[i].kind), rows[i].mode) << i;
    EXPECT_EQ(steps[i].text, rows[i].text) << i;
  }
  EXPECT_FALSE(steps[3].position_is_entry);
  EXPECT_EQ(steps[3].position, 500);
  EXPECT_TRUE(steps[10].position_is_entry);
  EXPECT_EQ(steps[10].position, 120);
  EXPECT_EQ(steps[5].channel, 3);
  EXPECT_EQ(steps[11].channel, kAllChannels);
}

TEST(PlayScript, BlanksAndAFinalSemicolon_AreFree) {
  const std::vector<ScriptStep> steps = parse_ok("  play\t 2s ;stop;\n  ");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].text, "play 2s");
  EXPECT_EQ(steps[0].duration_ms, 2000);
  EXPECT_EQ(steps[1].text, "stop");
}

TEST(PlayScript, Durations_InSecondsWithDecimalsOrWholeMilliseconds) {
  struct Row {
    const char* text;
    int64_t ms;  // -1: refused
  } rows[] = {
      {"2s", 2000},         {"1.5s", 1500}, {"0.001s", 1},  {"0.25s", 250},      {"500ms", 500},
      {"86400s", 86400000}, {"007s", 7000}, {"0s", -1},     {"0ms", -1},         {"0.0004s", -1},
      {"86401s", -1},       {"5", -1},      {"s", -1},      {"ms", -1},          {"1.s", -1},
      {".5s", -1},          {"1.5ms", -1},  {"-1s", -1},    {"+1s", -1},         {"1e3ms", -1},
      {"2S", -1},           {"2 s", -1},    {"1.5.5s", -1}, {"9999999999s", -1},
  };
  for (const Row& r : rows) {
    int64_t ms = -1;
    EXPECT_EQ(parse_duration(r.text, &ms), r.ms >= 0) << r.text;
    if (r.ms >= 0) {
      EXPECT_EQ(ms, r.ms) << r.text;
    }
  }
}

TEST(PlayScript, Positions_PercentWithOneDecimalOrAnIndexEntry) {
  struct Row {
    const char* text;
    bool ok;
    bool entry;
    int position;
  } rows[] = {
      {"pos 0%", true, false, 0},       {"pos 100%", true, false, 1000},
      {"pos 12.5%", true, false, 125},  {"pos 7%", true, false, 70},
      {"pos #0", true, true, 0},        {"pos #575999", true, true, 575999},
      {"pos 100.1%", false, false, 0},  {"pos 101%", false, false, 0},
      {"pos 12.55%", false, false, 0},  {"pos 50", false, false, 0},
      {"pos %", false, false, 0},       {"pos -5%", false, false, 0},
      {"pos #576000", false, false, 0}, {"pos #-1", false, false, 0},
      {"pos #", false, false, 0},       {"pos", false, false, 0},
  };
  for (const Row& r : rows) {
    std::vector<ScriptStep> steps;
    std::string error;
    ASSERT_EQ(parse_script(r.text, &steps, &error), r.ok) << r.text << ": " << error;
    if (!r.ok) continue;
    EXPECT_EQ(steps[0].position_is_entry, r.entry) << r.text;
    EXPECT_EQ(steps[0].position, r.position) << r.text;
  }
}

TEST(PlayScript, Channels_ZeroToFifteenOrAll) {
  struct Row {
    const char* text;
    int channel;  // -2: refused
  } rows[] = {
      {"channel 0", 0},   {"channel 15", 15},  {"channel all", kAllChannels},
      {"channel 16", -2}, {"channel -1", -2},  {"channel ALL", -2},
      {"channel", -2},    {"channel 1,2", -2},
  };
  for (const Row& r : rows) {
    std::vector<ScriptStep> steps;
    std::string error;
    ASSERT_EQ(parse_script(r.text, &steps, &error), r.channel != -2) << r.text << ": " << error;
    if (r.channel != -2) {
      EXPECT_EQ(steps[0].channel, r.channel) << r.text;
    }
  }
}

TEST(PlayScript, Errors_NameTheStepAndWhatIsWrong) {
  struct Row {
    const char* text;
    const char* message;
  } rows[] = {
      {"", "the script is empty"},
      {"  ", "the script is empty"},
      {";", "step 1 is empty"},
      {"play;;stop", "step 2 is empty"},
      {"play; ; stop", "step 2 is empty"},
      {"play 2s; bak 2s", "step 2 'bak 2s': unknown command 'bak'"},
      {"Play", "step 1 'Play': unknown command 'Play'"},
      {"play 2s 3s", "step 1 'play 2s 3s': unexpected '3s'"},
      {"stop now", "step 1 'stop now': 'now' is not a duration like 2s, 1.5s or 500ms"},
      {"step; wait", "step 2 'wait': wait needs a duration"},
      {"pos", "step 1 'pos': pos needs a position"},
      {"channel", "step 1 'channel': channel needs a channel"},
      {"pos 50% now", "step 1 'pos 50% now': 'now' is not a duration"},
      {"channel 99", "step 1 'channel 99': a channel is 0..15 or all"},
  };
  for (const Row& r : rows) {
    const std::string error = parse_error(r.text);
    EXPECT_EQ(error.rfind(r.message, 0), 0u) << "'" << r.text << "' gave: " << error;
  }
}

TEST(PlayKeys, SingleKeys_MapToTheirActions) {
  std::string pending;
  const std::vector<Key> keys = decode_keys(" bBrRfFqQaA07x\n", &pending);
  const Key want[] = {{KeyAction::kToggle, 0},
                      {KeyAction::kMode, kModeBack},
                      {KeyAction::kMode, kModeBack},
                      {KeyAction::kMode, kModeFastBack},
                      {KeyAction::kMode, kModeFastBack},
                      {KeyAction::kMode, kModeFast},
                      {KeyAction::kMode, kModeFast},
                      {KeyAction::kQuit, 0},
                      {KeyAction::kQuit, 0},
                      {KeyAction::kChannel, kAllChannels},
                      {KeyAction::kChannel, kAllChannels},
                      {KeyAction::kChannel, 0},
                      {KeyAction::kChannel, 7}};
  ASSERT_EQ(keys.size(), std::size(want));
  for (size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].action, want[i].action) << i;
    EXPECT_EQ(keys[i].value, want[i].value) << i;
  }
  EXPECT_TRUE(pending.empty());
}

TEST(PlayKeys, Arrows_InBothCursorModes_OtherSequencesPassedOver) {
  std::string pending;
  // Right, left, right and left in application mode, Ctrl-right (with parameters), F5,
  // a lone Escape before q.
  const std::vector<Key> keys =
      decode_keys("\x1b[C\x1b[D\x1bOC\x1bOD\x1b[1;5C\x1b[15~\x1bq", &pending);
  ASSERT_EQ(keys.size(), 5u);
  const int modes[] = {kModeStep, kModeStepBack, kModeStep, kModeStepBack};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(keys[i].action, KeyAction::kMode) << i;
    EXPECT_EQ(keys[i].value, modes[i]) << i;
  }
  EXPECT_EQ(keys[4].action, KeyAction::kQuit);
  EXPECT_TRUE(pending.empty());
}

TEST(PlayKeys, AnEscapeSequenceSplitOverReads_IsKeptUntilItIsWhole) {
  std::string pending;
  EXPECT_TRUE(decode_keys(" \x1b", &pending).size() == 1);
  EXPECT_EQ(pending, "\x1b");
  EXPECT_TRUE(decode_keys("[", &pending).empty());
  EXPECT_EQ(pending, "\x1b[");
  const std::vector<Key> keys = decode_keys("Df", &pending);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].value, kModeStepBack);
  EXPECT_EQ(keys[1].value, kModeFast);
  EXPECT_TRUE(pending.empty());
}

}  // namespace
}  // namespace virazav::cli
