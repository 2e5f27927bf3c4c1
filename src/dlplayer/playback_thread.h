// The data set's playback thread (private to src/dlplayer/).
#pragma once

namespace virazav::dlplayer::detail {

// Starts the playback thread; it sets mode 2 when it runs. Returns false when
// no thread could be started.
bool start_playback_thread();
// Sets the play mode word, and the requested direction for the modes that
// imply one (backward for 3, 4, 5; forward for 0, 6, 7).
void set_play_mode(int mode);

}  // namespace virazav::dlplayer::detail
