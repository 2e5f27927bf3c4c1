// The data set played under the program's control, and the script steps carried out on it.

#include "play_session.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <thread>

#include "commands.h"
#include "mosaic.h"
#include "report.h"
#include "time_text.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kIndexParts = 100;
constexpr auto kTick = milliseconds(5);
constexpr auto kMosaicGap = milliseconds(200);
// A player that stands at the end of the recording may still show the pictures queued
// behind the last key frame; a second covers the recorder's picture groups.
constexpr auto kSettleAtEnd = milliseconds(1000);
constexpr int64_t kStepLimitMs = 10000;

// Bytes 8..13 of calc_time's record: year - 2000, month, day, hours, minutes, seconds.
constexpr size_t kTimeRecordSize = 16;
constexpr size_t kTimeFields = 8;
constexpr unsigned char kUnset = 0xFF;

const char* const kModeNames[] = {"play",     "stop", "idle", "back",   "fastback",
                                  "stepback", "step", "fast", "ending", "closed"};

bool moves_forward(int mode) {
  return mode == kModePlay || mode == kModeStep || mode == kModeFast;
}

// Tells when a moving mode has come to rest by itself: the player fell back to stop, or it
// has stood at the end of the recording in the mode's direction, with no new picture, for
// kSettleAtEnd.
class EndWatch {
 public:
  EndWatch(const DataSetPlayer& player, int mode) : player_(player), mode_(mode) {}
  bool operator()() {
    if (player_.mode() != mode_) return true;
    const int at = player_.position();
    const bool at_end = moves_forward(mode_) ? at == kPositionParts : at == 0;
    if (!at_end) {
      since_ = Clock::time_point{};
      return false;
    }
    const auto now = Clock::now();
    if (since_ == Clock::time_point{}) since_ = now;
    return now - std::max(since_, player_.last_picture()) >= kSettleAtEnd;
  }

 private:
  const DataSetPlayer& player_;
  int mode_;
  Clock::time_point since_{};
};

}  // namespace

bool DataSetPlayer::open(const PlayerSetup& setup, const Chore& chore, std::string* error) {
  close();
  if (decode_init() != 0) {
    *error = "the decoder could not be set up";
    return false;
  }
  decoder_ = true;
  if (setup.audio_channel >= 0) {
    // The channel first: the output thread plays the playback ring from its first buffer.
    wave_play_ch(0, setup.audio_channel);
    wave_play_ctrl(3);
    sound_ = true;
  }
  picture_dir_ = setup.picture_dir;
  file_size_ = Mpeg4DLdata_fileopen(setup.file.c_str(), picture_dir_.c_str(),
                                    setup.index_dir.c_str(), kIndexParts);
  if (file_size_ == 0) {
    close();
    *error = "not a stream file, or it cannot be opened";
    return false;
  }
  open_ = true;
  if (!complete_frame_index(setup.index_dir, kIndexParts, setup.draw_progress, chore)) {
    close();
    *error = "stopped while the frame index was built";
    return false;
  }
  Mpeg4DLdata_get_enable_ch(&video_mask_, &audio_mask_, setup.index_dir.c_str(), kIndexParts);
  if (video_mask_ == 0) {
    close();
    *error = "the file holds no key frame of any channel";
    return false;
  }
  return true;
}

void DataSetPlayer::close() {
  if (open_) {
    take_pictures();
    if (mosaic_due_) write_mosaic();
    Mpeg4DLdata_fileclose();
    open_ = false;
  }
  // The output thread plays the ring that the data-set layer owns: it stops before
  // decode_deinit frees the ring.
  if (sound_) wave_play_ctrl(0);
  sound_ = false;
  if (decoder_) decode_deinit();
  decoder_ = false;
}

void DataSetPlayer::set_view(int channel) {
  for (int ch = 0; ch < 16; ++ch) Mpeg4DLdata_fileunlock(ch);
  Mpeg4DLdata_set_disptype(channel);
  view_ = channel;
}

void DataSetPlayer::set_mode(int mode) {
  Mpeg4DLdata_set_m_nPlayMode(mode);
}

int DataSetPlayer::mode() const {
  return Mpeg4DLdata_get_m_nPlayMode();
}

int DataSetPlayer::set_position(bool entry, int position) {
  return Mpeg4DLdata_set_PlayPos(entry ? 0 : kPositionParts, position);
}

int DataSetPlayer::take_pictures() {
  if (!open_) return 0;
  int taken = 0;
  for (int ch = 0; ch < 16; ++ch) {
    if (view_ != kAllChannels && ch != view_) continue;
    // filelock writes <dir>/<ch>.bmp when the channel has a new picture; unlocking marks
    // the picture taken.
    if (Mpeg4DLdata_filelock(ch) != 1) continue;
    Mpeg4DLdata_fileunlock(ch);
    ++taken;
    channels_shown_ |= 1u << ch;
  }
  if (taken == 0) return 0;
  pictures_ += taken;
  last_picture_ = Clock::now();
  if (view_ == kAllChannels) {
    mosaic_due_ = true;
    if (last_picture_ - last_mosaic_ >= kMosaicGap) write_mosaic();
  }
  return taken;
}

void DataSetPlayer::write_mosaic() {
  if (Mosaic::channels(picture_dir_, video_mask_).write(picture_dir_ + "/mosaic.bmp")) {
    mosaic_written_ = true;
  }
  mosaic_due_ = false;
  last_mosaic_ = Clock::now();
}

int DataSetPlayer::position() const {
  return Mpeg4DLdata_get_PlayPos(kPositionParts);
}

int DataSetPlayer::entry() const {
  return Mpeg4DLdata_get_PlayPos(0);
}

std::string DataSetPlayer::recording_time() const {
  unsigned char record[kTimeRecordSize];
  std::fill(record, record + kTimeRecordSize, kUnset);
  calc_time(0, record);
  const unsigned char* t = record + kTimeFields;
  if (t[0] == kUnset) return "";
  return format_time_text(CivilTime{2000 + t[0], t[1], t[2], t[3], t[4], t[5]});
}

std::string DataSetPlayer::where() const {
  const std::string shown = recording_time();
  const char* time = shown.empty() ? "--" : shown.c_str();
  const int at = position();
  char percent[16] = "   --";
  if (at >= 0) std::snprintf(percent, sizeof percent, "%5.1f", at * 100.0 / kPositionParts);
  char line[96];
  std::snprintf(line, sizeof line, "position %s%% entry %-6d time %s", percent, entry(), time);
  return line;
}

RunEnd DataSetPlayer::run(int64_t limit_ms, const std::function<bool()>& done, const Chore& chore) {
  const auto start = Clock::now();
  for (;;) {
    take_pictures();
    if (chore && !chore()) return RunEnd::kStopped;
    if (done && done()) return RunEnd::kDone;
    if (limit_ms >= 0 && Clock::now() - start >= milliseconds(limit_ms)) return RunEnd::kLimit;
    std::this_thread::sleep_for(kTick);
  }
}

const char* mode_name(int mode) {
  if (mode < 0 || mode >= static_cast<int>(std::size(kModeNames))) return "?";
  return kModeNames[mode];
}

int lowest_channel(unsigned mask) {
  for (int ch = 0; ch < 16; ++ch) {
    if (mask & (1u << ch)) return ch;
  }
  return 0;
}

std::string view_name(int channel) {
  return channel == kAllChannels ? "all" : std::to_string(channel);
}

StepEnd run_script_step(DataSetPlayer& player, const ScriptStep& step, const Chore& chore,
                        std::string* failure) {
  const int mode = step_play_mode(step.kind);
  RunEnd end = RunEnd::kDone;
  switch (step.kind) {
    case StepKind::kStep:
    case StepKind::kStepBack:
      player.set_mode(mode);
      end = player.run(
          kStepLimitMs, [&] { return player.mode() == kModeStop; }, chore);
      if (end == RunEnd::kLimit) {
        *failure = "the player did not come back to stop within 10 s";
        return StepEnd::kFailed;
      }
      break;
    case StepKind::kPlay:
    case StepKind::kBack:
    case StepKind::kFastBack:
    case StepKind::kFast:
      player.set_mode(mode);
      if (step.duration_ms == kNoDuration) end = player.run(-1, EndWatch(player, mode), chore);
      break;
    case StepKind::kStop:
      player.set_mode(mode);
      break;
    case StepKind::kPosition:
      if (player.set_position(step.position_is_entry, step.position) < 0) {
        *failure = "the library refused the position";
        return StepEnd::kFailed;
      }
      break;
    case StepKind::kChannel:
      player.set_view(step.channel);
      break;
    case StepKind::kWait:
      break;
  }
  if (end == RunEnd::kStopped) return StepEnd::kStopped;
  if (step.duration_ms != kNoDuration &&
      player.run(step.duration_ms, nullptr, chore) == RunEnd::kStopped) {
    return StepEnd::kStopped;
  }
  player.take_pictures();
  return StepEnd::kDone;
}

std::string step_line(int number, const ScriptStep& step, const DataSetPlayer& player,
                      int pictures) {
  char line[224];
  std::snprintf(line, sizeof line, "%2d  %-18s mode %-8s %s  view %-3s pictures %d", number,
                step.text.c_str(), mode_name(player.mode()), player.where().c_str(),
                view_name(player.view()).c_str(), pictures);
  return line;
}

}  // namespace virazav::cli
