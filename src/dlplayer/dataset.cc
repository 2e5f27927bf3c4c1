// The data set's process-wide state and the pieces of it shared with the
// download: the in-memory frame index with its cursor and file, the current
// packet, and the view of the audio output.
#include "dlplayer/dataset.h"

#include <cstring>

#include "dlplayer/dataset_state.h"

namespace virazav::dlplayer {
namespace detail {

DataSetState& state() {
  static DataSetState s;
  return s;
}

void wake_engine() {
  EngineWake& w = state().wake;
  {
    std::lock_guard<std::mutex> lock(w.lock);
    ++w.events;
  }
  w.cv.notify_all();
}

PlayerRequest::PlayerRequest(DataSetState& s) : s_(s) {
  s_.requests.fetch_add(1);
  wake_engine();
  s_.player_lock.lock();
}

PlayerRequest::~PlayerRequest() {
  s_.player_lock.unlock();
  s_.requests.fetch_sub(1);
  wake_engine();
}

void note_reposition(DataSetState& s) {
  ++s.repositions;
}

bool ensure_index() {
  DataSetState& s = state();
  if (s.index.ok()) return true;
  s.index = platform::Buffer(format::kIndexFileBytes);
  return s.index.ok();
}

}  // namespace detail

using detail::state;

int index_reset() {
  detail::DataSetState& s = state();
  if (!detail::ensure_index()) return -1;
  // Readers look only up to the last valid entry; withdraw it before zeroing.
  s.last_valid.store(-1);
  std::memset(s.index.data(), 0, s.index.size());
  s.cursor.store(0);
  return 0;
}

int index_append(const format::FrameIndexEntry& entry) {
  detail::DataSetState& s = state();
  if (!detail::ensure_index()) return -1;
  int n = s.cursor.load();
  if (n < 0 || n >= format::kIndexCapacity) return -1;
  format::encode_index_entry(entry,
                             s.index.data() + static_cast<size_t>(n) * format::kIndexEntrySize);
  s.cursor.store(n + 1);
  return 0;
}

int index_cursor() {
  return state().cursor.load();
}

void set_index_cursor(int entry) {
  state().cursor.store(entry);
}

format::FrameIndexEntry index_entry(int n) {
  detail::DataSetState& s = state();
  if (n < 0 || n >= format::kIndexCapacity || !s.index.ok()) return format::FrameIndexEntry{};
  return format::decode_index_entry(s.index.data() +
                                    static_cast<size_t>(n) * format::kIndexEntrySize);
}

int index_last_valid() {
  return state().last_valid.load();
}

std::string index_file_path(const std::string& dir) {
  return platform::join_path(dir, ".index");
}

int write_index_file(const std::string& dir, int count) {
  detail::DataSetState& s = state();
  if (count < 0) count = 0;
  if (count > format::kIndexCapacity) count = format::kIndexCapacity;
  if (count > 0 && !s.index.ok()) return -1;
  platform::File f = platform::File::open(index_file_path(dir), platform::OpenMode::kWriteTruncate);
  if (!f.is_open()) return -1;
  int rc = 0;
  if (count > 0) rc = f.write(s.index.data(), static_cast<size_t>(count) * format::kIndexEntrySize);
  return rc == 0 ? 0 : -1;
}

CurrentPacket current_packet() {
  return state().packet;
}

void set_current_packet(const CurrentPacket& packet) {
  state().packet = packet;
}

int play_direction() {
  return state().direction.load();
}

}  // namespace virazav::dlplayer
