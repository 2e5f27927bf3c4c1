// The application's hold on playback: the play mode with the direction it
// implies, and the play position read and set as an index entry or as a
// fraction of the stream file. A change takes effect between two cycles of
// the playback thread, which it wakes.
#include <mutex>

#include "decoder/decoder.h"
#include "dlplayer/dataset.h"
#include "dlplayer/dlplayer.h"
#include "dlplayer/engine.h"
#include "dlplayer/frame_index.h"

namespace virazav::dlplayer {

using detail::DataSetState;
using detail::state;

namespace {

// The size of one of `parts` slices of the file. Parts beyond the file size
// would make slices of no bytes; a slice is then one byte, so that positions
// count bytes from the first packet.
int64_t slice_of(int64_t file_size, int parts) {
  const int64_t slice = file_size / parts;
  return slice < 1 ? 1 : slice;
}

}  // namespace

int set_play_mode(int mode) {
  DataSetState& s = state();
  if (!s.initialised.load() || mode < detail::kModePlay || mode > detail::kModeEnd) return -1;
  int current = s.play_mode.load();
  if (current == mode) return 0;
  if (current == detail::kModeNoThread || current == detail::kModeEnd) return -1;
  detail::PlayerRequest lock(s);
  if (mode == detail::kModeBack || mode == detail::kModeFastBack || mode == detail::kModeStepBack) {
    s.requested_direction.store(format::kBackward);
  } else if (mode == detail::kModePlay || mode == detail::kModeStep || mode == detail::kModeFast) {
    s.requested_direction.store(format::kForward);
  }
  // The thread may have been asked to end (without the lock) meanwhile; that
  // request stands.
  current = s.play_mode.load();
  while (current != detail::kModeNoThread && current != detail::kModeEnd &&
         !s.play_mode.compare_exchange_weak(current, mode)) {
  }
  return current == detail::kModeNoThread || current == detail::kModeEnd ? -1 : 0;
}

int get_play_pos(int parts) {
  DataSetState& s = state();
  if (!s.initialised.load()) return -1;
  if (parts == 0) return s.cursor.load();
  const int64_t offset = s.current_offset.load();
  if (parts < 0 || s.file_size <= 0 || offset < s.first_offset) return -1;
  if (offset >= s.file_size || s.cursor.load() == s.last_valid.load()) return parts;
  const int64_t p = (offset - s.first_offset) / slice_of(s.file_size, parts);
  if (p > parts) return parts;
  if (p > 0) return static_cast<int>(p);
  return offset > s.first_offset ? 1 : 0;
}

int set_play_pos(int parts, int position) {
  DataSetState& s = state();
  if (!s.initialised.load()) return -1;
  decoder::clear_synced_all();
  if (parts < 0) return -1;
  if (parts != 0 &&
      (s.file_size <= 0 || !s.file.is_open() || s.current_offset.load() < s.first_offset)) {
    return -1;
  }
  detail::PlayerRequest lock(s);
  int64_t offset;
  if (parts == 0) {
    s.cursor.store(position);
    offset = position >= 0 && position <= format::kIndexCapacity
                 ? static_cast<int64_t>(index_entry(position).offset)
                 : 0;
  } else if (position >= parts) {
    offset = s.file_size;
  } else if (position > 0) {
    offset = slice_of(s.file_size, parts) * position;
    if (offset > s.file_size) offset = s.file_size;
    if (offset < s.first_offset) offset = s.first_offset;
  } else {
    offset = s.first_offset;
  }
  s.current_offset = offset;
  s.file.seek(offset, platform::SeekFrom::kBegin);
  const int channel = detail::seek_key_frame(format::kForward);
  {
    const int master = s.master_channel.load();
    std::unique_lock<std::mutex> hold;
    if (master >= 0 && master < detail::kChannels) {
      hold = std::unique_lock<std::mutex>(s.channel_locks[master]);
    }
    s.displayed_pts.exchange(0);
  }
  detail::note_reposition(s);
  return channel;
}

}  // namespace virazav::dlplayer
