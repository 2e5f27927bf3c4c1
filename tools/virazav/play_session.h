// A downloaded stream file played through the library's data set, as the play command
// and the tour use it: the decoder, the sound and the data set set up and always taken
// down again, the pictures written as the playback thread makes them ready, the play
// position and the recording's time in words, and the steps of a play script carried
// out one after the other.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "play_script.h"

namespace virazav::cli {

struct PlayerSetup {
  std::string file;            // the stream file
  std::string index_dir;       // the folder of its frame index .index
  std::string picture_dir;     // where the pictures <ch>.bmp (and mosaic.bmp) are written
  int audio_channel = -1;      // 0..3: that channel's sound to the device VIRAZAV_AUDIO names
  bool draw_progress = false;  // draw the index build's bar on standard error
};

// Called about every 5 ms while the player runs under the program's control; returns
// false to end the run at once (Ctrl-C, a time limit, a key).
using Chore = std::function<bool()>;

// How a run of the player ended.
enum class RunEnd {
  kDone,     // the condition it waited for holds
  kLimit,    // the time given has passed
  kStopped,  // the chore ended the run
};

class DataSetPlayer {
 public:
  DataSetPlayer() = default;
  ~DataSetPlayer() { close(); }
  DataSetPlayer(const DataSetPlayer&) = delete;
  DataSetPlayer& operator=(const DataSetPlayer&) = delete;

  // Sets up the decoder and, with an audio channel, the sound output in playback mode
  // (before the index is read, so that the index counts the channel's sound), opens the
  // stream file with its frame index and completes the index, calling the chore (may be
  // empty) between the index slices. Returns true on success; on failure, or when the
  // chore ends the index build, takes down what it set up, stores the reason in *error
  // and returns false.
  bool open(const PlayerSetup& setup, const Chore& chore, std::string* error);
  // Writes the last pictures (and the mosaic), closes the data set, stops the sound output
  // and takes the decoder down. Does nothing when nothing is open.
  void close();

  unsigned file_size() const { return file_size_; }
  unsigned video_mask() const { return video_mask_; }
  // Audio channels whose sound plays (only while the output device is open).
  unsigned audio_mask() const { return audio_mask_; }

  // Chooses the display channel (0..15) or the all-channels view (kAllChannels). Ready
  // flags left from before are cleared, so that no stale picture is taken for new.
  void set_view(int channel);
  int view() const { return view_; }
  void set_mode(int mode);
  int mode() const;
  // Moves the play position to the key frame at or after a fraction of the file (in
  // kPositionParts) or an index entry. Returns that key frame's channel, or -1 when the
  // library refuses the position.
  int set_position(bool entry, int position);

  // Writes the pictures that became ready since the last call: the display channel's as
  // <dir>/<ch>.bmp; in the all-channels view every channel's and, at most five times a
  // second, the mosaic <dir>/mosaic.bmp. Returns how many pictures were written.
  int take_pictures();
  int pictures() const { return pictures_; }
  unsigned channels_shown() const { return channels_shown_; }
  std::chrono::steady_clock::time_point last_picture() const { return last_picture_; }
  bool mosaic_written() const { return mosaic_written_; }

  // The play position as a fraction of the file in kPositionParts (-1 when unknown) and
  // as the index cursor.
  int position() const;
  int entry() const;
  // "position  12.5% entry 40      time 2024-05-01T10:00:05" (the recording's own time).
  std::string where() const;
  // The recording's own time at the play position, or "" when the index gives none.
  std::string recording_time() const;

  // Takes pictures and calls the chore about every 5 ms until `done` (may be empty) holds
  // or `limit_ms` have passed (-1: no limit).
  RunEnd run(int64_t limit_ms, const std::function<bool()>& done, const Chore& chore);

 private:
  void write_mosaic();

  bool decoder_ = false;
  bool sound_ = false;
  bool open_ = false;
  std::string picture_dir_;
  unsigned file_size_ = 0;
  unsigned video_mask_ = 0;
  unsigned audio_mask_ = 0;
  int view_ = kAllChannels;
  int pictures_ = 0;
  unsigned channels_shown_ = 0;
  bool mosaic_due_ = false;
  bool mosaic_written_ = false;
  std::chrono::steady_clock::time_point last_picture_{};
  std::chrono::steady_clock::time_point last_mosaic_{};
};

// The name of a play mode ("play", "stop", "fast", ...).
const char* mode_name(int mode);
// The lowest channel of a mask (0 for an empty one).
int lowest_channel(unsigned mask);
// "0", "12" or "all" for a display channel.
std::string view_name(int channel);

// How a script step ended.
enum class StepEnd { kDone, kFailed, kStopped };

// Carries out one script step: sets its mode, position or channel and runs for its
// duration. A moving mode without a duration runs until the player stops by itself or
// has stood at the end of the recording for a second; a single key-frame step waits for
// the player to come back to stop (at most 10 s, else the step fails). A refused position
// fails the step. On kFailed stores the reason in *failure.
StepEnd run_script_step(DataSetPlayer& player, const ScriptStep& step, const Chore& chore,
                        std::string* failure);

// The report line of a step: number, step, mode, position, time and pictures shown.
std::string step_line(int number, const ScriptStep& step, const DataSetPlayer& player,
                      int pictures);

}  // namespace virazav::cli
