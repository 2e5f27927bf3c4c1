// The data set's playback thread (private to src/dlplayer/).
#pragma once

namespace virazav::dlplayer::detail {

// Starts the playback thread; it sets mode 2 when it runs. Returns false when
// no thread could be started.
bool start_playback_thread();

// What Mpeg4DLdata_fileopen calls to start playback: start_playback_thread
// unless a fuzz target or test installs a starter of its own (which then runs
// the engine's cycles itself and must leave mode 2 behind when it returns
// true). nullptr restores the thread.
using PlaybackStarter = bool (*)();
void set_playback_starter(PlaybackStarter starter);
bool start_playback();

}  // namespace virazav::dlplayer::detail
