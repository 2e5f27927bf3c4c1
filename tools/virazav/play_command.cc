// The play command's file form: plays a downloaded stream file with its frame index,
// writes the pictures as they are shown, sends the sound to the audio device or a WAV
// file, and shows the mode, position and recording time on a status line. Keys steer it
// in a terminal; a script steers it for tests and demos. The data set, the sound and the
// decoder are always closed, however the play ends.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "json_writer.h"
#include "play_script.h"
#include "play_session.h"
#include "progress.h"
#include "report.h"
#include "stream_index.h"
#include "terminal.h"
#include "virazav.h"

namespace virazav::cli {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFirstVideoChannel = -2;  // --channel not given
constexpr auto kStatusGap = std::chrono::milliseconds(200);
constexpr double kWavBytesPerSecond = 16000.0;
constexpr uintmax_t kWavHeaderBytes = 44;

struct PlaySettings {
  PlayerSetup setup;
  int channel = kFirstVideoChannel;
  std::string wav;  // absolute; empty: the sound (if any) goes to the device
  bool scripted = false;
  std::vector<ScriptStep> script;
  int64_t limit_ms = -1;  // --for; -1: none
  bool json = false;      // the steps and the summary as one JSON object
};

// Adds one script step to the JSON summary: what it did and where the play stands.
void add_step_json(JsonWriter& json, int number, const ScriptStep& step,
                   const DataSetPlayer& player, int pictures) {
  json.begin_object()
      .member("step", number)
      .member("do", step.text)
      .member("mode", mode_name(player.mode()))
      .key("position_percent");
  if (const int at = player.position(); at >= 0) {
    json.value(at * 100.0 / kPositionParts);
  } else {
    json.null();
  }
  json.member("entry", player.entry()).key("time");
  if (const std::string time = player.recording_time(); !time.empty()) {
    json.value(time);
  } else {
    json.null();
  }
  json.member("view", view_name(player.view())).member("pictures", pictures).end_object();
}

// The mode, position, time and pictures on one line of standard error, redrawn five
// times a second while it is a terminal.
class StatusLine {
 public:
  explicit StatusLine(bool draw) : draw_(draw) {}
  void tick(const DataSetPlayer& player) {
    if (!draw_) return;
    const auto now = Clock::now();
    if (drawn_ && now - last_ < kStatusGap) return;
    std::fprintf(stderr, "\r%-8s %s  view %-3s %d pictures\x1b[K", mode_name(player.mode()),
                 player.where().c_str(), view_name(player.view()).c_str(), player.pictures());
    std::fflush(stderr);
    drawn_ = true;
    last_ = now;
  }
  // Takes the line away, so that a report line can take its place.
  void clear() {
    if (!drawn_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
  }

 private:
  bool draw_;
  bool drawn_ = false;
  Clock::time_point last_{};
};

bool parse_settings(const Invocation& inv, PlaySettings* st, int* status) {
  const Arguments& a = inv.args;
  if (!expect_positional(inv, 0, 1, status)) return false;
  st->setup.file = a.positional[0];
  int64_t n = 0;
  if (const std::string* v = a.value("channel")) {
    if (*v == "all") {
      st->channel = kAllChannels;
    } else if (parse_number(*v, 0, 15, &n)) {
      st->channel = static_cast<int>(n);
    } else {
      *status = usage(inv, "--channel needs a channel 0..15 or all");
      return false;
    }
  }
  if (const std::string* v = a.value("audio")) {
    if (!parse_number(*v, 0, 3, &n)) {
      *status = usage(inv, "--audio needs an audio channel 0..3");
      return false;
    }
    st->setup.audio_channel = static_cast<int>(n);
  }
  std::error_code ec;
  if (const std::string* v = a.value("wav")) {
    if (v->empty()) {
      *status = usage(inv, "--wav needs a file name");
      return false;
    }
    st->wav = fs::absolute(*v, ec).string();
    if (st->setup.audio_channel < 0) st->setup.audio_channel = 0;
  }
  if (const std::string* v = a.value("for")) {
    if (!parse_number(*v, 1, 86400, &n)) {
      *status = usage(inv, "--for needs seconds 1..86400");
      return false;
    }
    st->limit_ms = n * 1000;
  }
  if (const std::string* v = a.value("script")) {
    std::string error;
    if (!parse_script(*v, &st->script, &error)) {
      *status = usage(inv, "--script: " + error);
      return false;
    }
    st->scripted = true;
  }
  st->setup.picture_dir = a.value("out") ? *a.value("out") : std::string("play-out");
  if (st->setup.picture_dir.empty()) {
    *status = usage(inv, "--out needs a folder name");
    return false;
  }
  st->setup.draw_progress = want_progress(a.has("progress"));
  return true;
}

// Applies the keys typed since the last call. Returns false once q was pressed.
bool apply_keys(DataSetPlayer& player, RawKeyboard& keyboard, std::string* pending) {
  for (const Key& key : decode_keys(keyboard.read_available(), pending)) {
    switch (key.action) {
      case KeyAction::kToggle:
        player.set_mode(player.mode() == kModePlay ? kModeStop : kModePlay);
        break;
      case KeyAction::kMode:
        player.set_mode(key.value);
        break;
      case KeyAction::kChannel:
        // A channel without video would show nothing; the key is passed over.
        if (key.value == kAllChannels || (player.video_mask() & (1u << key.value)) != 0) {
          player.set_view(key.value);
        }
        break;
      case KeyAction::kQuit:
        return false;
    }
  }
  return true;
}

// Plays the file as the settings ask once it is open. Returns the exit status.
// With --json the script's steps go into `steps` (an open array) instead of standard output.
int play(DataSetPlayer& player, const PlaySettings& st, const InterruptCatcher& interrupt,
         JsonWriter& steps) {
  StatusLine status(want_progress(false));
  const auto start = Clock::now();
  const char* cut_by = nullptr;
  auto chore = [&] {
    status.tick(player);
    if (interrupt.interrupted()) {
      cut_by = "Ctrl-C";
    } else if (st.limit_ms >= 0 && Clock::now() - start >= std::chrono::milliseconds(st.limit_ms)) {
      cut_by = "--for";
    }
    return cut_by == nullptr;
  };

  int exit_status = kExitOk;
  if (st.scripted) {
    for (size_t i = 0; i < st.script.size(); ++i) {
      const int before = player.pictures();
      std::string failure;
      const StepEnd end = run_script_step(player, st.script[i], chore, &failure);
      status.clear();
      if (st.json) {
        add_step_json(steps, static_cast<int>(i) + 1, st.script[i], player,
                      player.pictures() - before);
      } else {
        std::printf("%s\n", step_line(static_cast<int>(i) + 1, st.script[i], player,
                                      player.pictures() - before)
                                .c_str());
        std::fflush(stdout);
      }
      if (end == StepEnd::kFailed) {
        exit_status = report_problem(
            "play: step " + std::to_string(i + 1) + " '" + st.script[i].text + "'", failure);
        break;
      }
      if (end == StepEnd::kStopped) {
        exit_status = report_problem(
            "play", "the script was cut short at step " + std::to_string(i + 1) + " by " + cut_by);
        break;
      }
    }
  } else {
    RawKeyboard keyboard;
    if (keyboard.active() && !st.json) {
      std::printf(
          "keys: space play/stop, left/right one key frame, b back, r fast back, f fast, "
          "0-9 channel, a all, q quit\n");
      std::fflush(stdout);
      std::string pending;
      player.set_mode(kModePlay);
      player.run(-1, nullptr, [&] { return apply_keys(player, keyboard, &pending) && chore(); });
    } else {
      // Without a terminal the file plays to its end, as a script "play" would.
      ScriptStep whole;
      whole.kind = StepKind::kPlay;
      std::string failure;
      run_script_step(player, whole, chore, &failure);
    }
  }
  status.clear();
  return exit_status;
}

}  // namespace

int run_file_play(const Invocation& inv) {
  PlaySettings st;
  int status = kExitOk;
  if (!parse_settings(inv, &st, &status)) return status;
  std::error_code ec;
  fs::create_directories(st.setup.picture_dir, ec);
  if (ec) return report_problem("create " + st.setup.picture_dir, ec.message());
  if (!st.wav.empty()) {
    // The WAV output appends to a file it finds; a play starts a file of its own.
    fs::remove(st.wav, ec);
    setenv("VIRAZAV_AUDIO", ("wav:" + st.wav).c_str(), 1);
  }
  // Ctrl-C ends the play (or the index build) in order; the player closes the data set,
  // the sound and the decoder on every return.
  if (!check_readable(st.setup.file, &status) ||
      !prepare_index_dir(st.setup.file, inv.args.value("index-dir"), false, &st.setup.index_dir,
                         &status)) {
    return status;
  }
  InterruptCatcher interrupt;
  DataSetPlayer player;
  std::string error;
  if (!player.open(
          st.setup, [&] { return !interrupt.interrupted(); }, &error)) {
    return report_problem("play " + st.setup.file, error);
  }
  const int audio = st.setup.audio_channel;
  if (audio >= 0 && (player.audio_mask() & (1u << audio)) == 0) {
    return report_problem("play " + st.setup.file,
                          "audio channel " + std::to_string(audio) +
                              " cannot play: the recording has no sound on it, or no output "
                              "device is open (VIRAZAV_AUDIO)");
  }
  int view = st.channel == kFirstVideoChannel ? lowest_channel(player.video_mask()) : st.channel;
  if (view != kAllChannels && (player.video_mask() & (1u << view)) == 0) {
    return report_problem("play " + st.setup.file, "channel " + std::to_string(view) +
                                                       " has no video (channels " +
                                                       channel_list(player.video_mask()) + ")");
  }
  player.set_view(view);
  st.json = inv.global.json;
  JsonWriter json;
  if (st.json) {
    json.begin_object()
        .member("file", st.setup.file)
        .member("bytes", player.file_size())
        .member("video_channels", channel_list(player.video_mask()))
        .key("sound");
    if (audio >= 0) {
      json.value(audio);
    } else {
      json.null();
    }
    json.member("view", view_name(view))
        .member("picture_dir", st.setup.picture_dir)
        .key("steps")
        .begin_array();
    status = play(player, st, interrupt, json);
    player.close();
    json.end_array()
        .member("pictures", player.pictures())
        .member("channels_shown", channel_list(player.channels_shown()))
        .member("mosaic", player.mosaic_written())
        .key("wav");
    if (!st.wav.empty()) {
      const auto size = fs::file_size(st.wav, ec);
      const double seconds = !ec && size > kWavHeaderBytes
                                 ? static_cast<double>(size - kWavHeaderBytes) / kWavBytesPerSecond
                                 : 0.0;
      json.begin_object().member("file", st.wav).member("seconds", seconds).end_object();
    } else {
      json.null();
    }
    json.end_object().print();
    if (status == kExitOk && player.pictures() == 0) {
      return report_problem("play " + st.setup.file, "no picture was shown");
    }
    return status;
  }
  std::printf("%s: %u bytes, video channels %s, sound %s; view %s, pictures in %s\n",
              st.setup.file.c_str(), player.file_size(), channel_list(player.video_mask()).c_str(),
              audio >= 0 ? ("channel " + std::to_string(audio)).c_str() : "off",
              view_name(view).c_str(), st.setup.picture_dir.c_str());
  std::fflush(stdout);

  status = play(player, st, interrupt, json);
  player.close();

  std::printf("%d pictures of channels %s shown, the last in %s/<ch>.bmp%s\n", player.pictures(),
              channel_list(player.channels_shown()).c_str(), st.setup.picture_dir.c_str(),
              player.mosaic_written() ? " and mosaic.bmp" : "");
  if (!st.wav.empty()) {
    const auto size = fs::file_size(st.wav, ec);
    const double seconds = !ec && size > kWavHeaderBytes
                               ? static_cast<double>(size - kWavHeaderBytes) / kWavBytesPerSecond
                               : 0.0;
    std::printf("sound of audio channel %d: %.1f s in %s\n", audio, seconds, st.wav.c_str());
  }
  if (status == kExitOk && player.pictures() == 0) {
    return report_problem("play " + st.setup.file, "no picture was shown");
  }
  return status;
}

}  // namespace virazav::cli
