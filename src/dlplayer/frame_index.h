// The frame index walks and the incremental index builder of the data set
// (private to src/dlplayer/).
#pragma once

#include <cstdint>
#include <string>

namespace virazav::dlplayer::detail {

// Builder modes.
inline constexpr int kBuildFresh = 0;
inline constexpr int kBuildContinue = 1;
inline constexpr int kBuildToEnd = -1;

// Kind filters of index_step.
inline constexpr int kStepKeyFrames = 1;
inline constexpr int kStepAudio = 2;
inline constexpr int kStepAll = 3;

// Builds (or loads) the frame index, one slice a call. Returns 1 when the
// index is complete, 0 when a slice is done and more remains.
int build_frame_index(const std::string& index_dir, int mode, int parts);

// Moves the cursor to the next matching entry and returns its offset (see
// docs/formats/frame-index.md for the walk rules). `has_limit` selects the
// time stamp limit.
int64_t index_step(int kind_filter, int video_channel, int audio_channel, int direction,
                   bool has_limit = false, uint32_t pts_limit = 0);
// index_step walking from entry `start` instead of the cursor (start may lie
// one outside the index, so that the walk examines the end entry first).
int64_t index_step_from(int start, int kind_filter, int video_channel, int audio_channel,
                        int direction, bool has_limit = false, uint32_t pts_limit = 0);
// The entry number a following index_step in `direction` starts from so that
// it examines the entry at or next to `offset` first.
int index_locate(int64_t offset, int direction);
// Moves the data set to a key frame of the display channel near the current
// offset. Returns the key frame's channel, or -1 when the layer is not
// initialised or no packet could be read there.
int seek_key_frame(int direction);
// Recomputes the frame interval and master channel from the index.
void derive_frame_interval();

}  // namespace virazav::dlplayer::detail
