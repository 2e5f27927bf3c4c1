// The file feeder: a worker thread that plays a data file chunk by chunk along
// its index file (the pair a copy to removable media writes), forwards, backwards
// or one chunk at a time; playfile, which starts it; the file play controls; and
// the time search in the file.
#include <atomic>
#include <mutex>

#include "format/bytes.h"
#include "platform/platform.h"
#include "player/feeders.h"
#include "player/play_mode.h"
#include "player/player_library.h"
#include "recdisk/copy_media.h"
#include "recdisk/record_layout.h"

namespace virazav::player {
namespace {

constexpr int kIdleSleepMs = 5;      // while the mode is 0, and after a refused block
constexpr int kWaitStepMs = 10;      // playfile's and file_search's waits
constexpr int kSearchSettleMs = 50;  // file_search, after the feeder went idle
constexpr int kModeSettleMs = 5;     // after stopping disk playback
constexpr int64_t kEntrySize = static_cast<int64_t>(recdisk::kFileIndexEntrySize);
constexpr size_t kEntryTime = recdisk::kFileIndexInfo;  // the chunk's RecTime

// What the feeder reads of one index record.
struct Entry {
  uint64_t offset = 0;  // where the chunk starts in the data file
  uint32_t time = 0;    // time number of the chunk
};

// A block the player refused, offered again before anything else.
struct Pending {
  bool active = false;
  uint32_t length = 0;
  bool forward = true;  // the direction it was read in, which the position moves once it is taken
  Entry earlier;        // a backward block: the entry it starts at
};

// The one file feeder. The flags are read plainly by the controls; the files,
// the entries and the position are guarded by `files`, which the feeder holds
// for each block and file_search while it places the position.
struct FileFeeder {
  std::mutex control;  // serialises playfile and file_search
  std::atomic<int32_t> running{0};
  std::atomic<int32_t> stop{0};
  std::atomic<int32_t> active{0};
  std::atomic<int32_t> blocked{0};
  platform::Buffer buffer;  // handed to the thread at its start

  std::mutex files;
  platform::File data, index;
  int64_t data_size = 0;
  int64_t current_number = 0;  // index entry number of `current`
  Entry current, next;
  bool current_is_last = false;
  Entry first, last;  // as the feeder read them at its start
};

// Never destroyed: a feeder thread the application did not stop may still be
// reading it while the process runs its exit handlers.
FileFeeder& g_file = *new FileFeeder;

Entry parse_entry(const uint8_t* p) {
  Entry e;
  e.offset = format::load_le64(p + recdisk::kFileIndexOffset);
  e.time = recdisk::time_number(recdisk::load_rec_time(p + kEntryTime));
  return e;
}

// Reads index entry k. False (entry untouched) when fewer than 24 bytes came.
bool read_entry(int64_t k, Entry* out) {
  uint8_t bytes[recdisk::kFileIndexEntrySize];
  if (k < 0 || g_file.index.seek(k * kEntrySize, platform::SeekFrom::kBegin) != 0) return false;
  if (g_file.index.read(bytes, sizeof bytes) != static_cast<long>(sizeof bytes)) return false;
  *out = parse_entry(bytes);
  return true;
}

// Makes entry k current and reads the one after it as next; a short read of
// that one marks the current entry as the last. The data file stands at the
// current chunk.
void place_at(int64_t k, const Entry& entry) {
  g_file.current_number = k;
  g_file.current = entry;
  g_file.current_is_last = !read_entry(k + 1, &g_file.next);
  if (g_file.current_is_last) g_file.next = entry;
  g_file.data.seek(static_cast<int64_t>(entry.offset), platform::SeekFrom::kBegin);
}

// Back at the first chunk: playback stops and both files start again at entry 0.
void stop_and_rewind() {
  set_file_mode(kModeStop);
  Entry first;
  read_entry(0, &first);
  place_at(0, first);
}

// Reads `length` bytes at `offset` into the buffer. Returns the bytes read: a
// data file that ends inside the chunk gives fewer.
uint32_t read_chunk(uint8_t* buffer, uint64_t offset, int64_t length) {
  if (g_file.data.seek(static_cast<int64_t>(offset), platform::SeekFrom::kBegin) != 0) return 0;
  uint32_t got = 0;
  while (got < length) {
    const long n = g_file.data.read(buffer + got, static_cast<size_t>(length - got));
    if (n <= 0) break;
    got += static_cast<uint32_t>(n);
  }
  return got;
}

// A chunk is offered whole: an empty one, one that runs backwards or one
// longer than the buffer is passed over.
bool playable(int64_t length) {
  return length > 0 && length <= static_cast<int64_t>(kFeederBufferSize);
}

void advance_forward() {
  if (g_file.current_is_last) {
    set_file_mode(kModeStop);
    g_file.data.seek(static_cast<int64_t>(g_file.current.offset), platform::SeekFrom::kBegin);
    return;
  }
  place_at(g_file.current_number + 1, g_file.next);
}

void advance_back(const Entry& earlier) {
  const int64_t k = g_file.current_number - 1;
  if (k <= 0 || earlier.offset == 0) {
    stop_and_rewind();
    return;
  }
  place_at(k, earlier);
}

// Offers `length` bytes of the buffer. A refusal leaves the block pending.
bool offer(uint8_t* buffer, uint32_t length, int special, int speed) {
  if (offer_block(0, buffer, static_cast<int>(length), special, speed) != 0) {
    g_file.blocked.store(1);
    return false;
  }
  g_file.blocked.store(0);
  return true;
}

// One chunk forwards from the current entry.
bool step_forward(uint8_t* buffer, int special, int speed, Pending* pending) {
  std::lock_guard<std::mutex> hold(g_file.files);
  const uint64_t end =
      g_file.current_is_last ? static_cast<uint64_t>(g_file.data_size) : g_file.next.offset;
  const int64_t length = static_cast<int64_t>(end - g_file.current.offset);
  const uint32_t got = playable(length) ? read_chunk(buffer, g_file.current.offset, length) : 0;
  if (got == 0) {
    advance_forward();
    return true;
  }
  if (!offer(buffer, got, special, speed)) {
    *pending = Pending{true, got, true, Entry{}};
    return false;
  }
  advance_forward();
  return true;
}

// One chunk backwards: the stretch from the entry before the current one to the
// current one.
bool step_back(uint8_t* buffer, int special, int speed, Pending* pending) {
  std::lock_guard<std::mutex> hold(g_file.files);
  Entry earlier;
  if (g_file.current_number <= 0 || g_file.current.offset == 0 ||
      !read_entry(g_file.current_number - 1, &earlier)) {
    stop_and_rewind();
    return true;
  }
  const int64_t length = static_cast<int64_t>(g_file.current.offset - earlier.offset);
  const uint32_t got = playable(length) ? read_chunk(buffer, earlier.offset, length) : 0;
  if (got == 0) {
    advance_back(earlier);
    return true;
  }
  if (!offer(buffer, got, special, speed)) {
    *pending = Pending{true, got, false, earlier};
    return false;
  }
  advance_back(earlier);
  return true;
}

// Offers the pending block again with the arguments of the last play, forward
// or back mode; once taken, the position moves in the direction it was read.
bool finish_pending(uint8_t* buffer, int32_t last_mode, Pending* pending) {
  std::lock_guard<std::mutex> hold(g_file.files);
  const int special = last_mode == kModePlay ? 0 : 1;
  const int speed = last_mode == kModeForward || last_mode == kModeBack ? play_speed() : 0;
  if (!offer(buffer, pending->length, special, speed)) return false;
  pending->active = false;
  if (pending->forward) {
    advance_forward();
  } else {
    advance_back(pending->earlier);
  }
  return true;
}

// Reads the first entries when the feeder starts. A short first entry asks the
// feeder to end at once; with a single entry the first and last entries of an earlier
// file stay.
void start_entries() {
  std::lock_guard<std::mutex> hold(g_file.files);
  Entry first;
  if (!read_entry(0, &first)) {
    store_under_playmode(&g_file.stop, 1);
    g_file.data.rewind();
    return;
  }
  place_at(0, first);
  if (g_file.current_is_last) return;
  g_file.first = first;
  const int64_t size = g_file.index.size();
  uint8_t bytes[recdisk::kFileIndexEntrySize];
  if (size >= kEntrySize && g_file.index.seek(size - kEntrySize, platform::SeekFrom::kBegin) == 0 &&
      g_file.index.read(bytes, sizeof bytes) == static_cast<long>(sizeof bytes)) {
    g_file.last = parse_entry(bytes);
  }
  g_file.index.seek(2 * kEntrySize, platform::SeekFrom::kBegin);
}

void file_feeder_thread(int) {
  platform::Buffer buffer = std::move(g_file.buffer);
  uint8_t* block = buffer.data();
  int32_t last_mode = kModeStop;
  Pending pending;
  uint32_t stop_seen = 0;
  bool stopping = false;
  for (;;) {
    if (g_file.stop.load() != 0) {
      if (!pending.active) break;
      // A pending block is finished before the feeder ends, but a player that
      // refuses it for good must not keep the feeder alive.
      if (!stopping) {
        stopping = true;
        stop_seen = platform::tick_ms();
      } else if (platform::tick_ms() - stop_seen >= static_cast<uint32_t>(kPendingOnStopMs)) {
        pending.active = false;
        g_file.blocked.store(0);
        break;
      }
    }
    if (pending.active) {
      if (!finish_pending(block, last_mode, &pending)) platform::sleep_ms(kIdleSleepMs);
      continue;
    }
    const int32_t mode = file_mode();
    if (mode < kModePlay || mode > kModeOneBack) {
      platform::sleep_ms(kIdleSleepMs);
      last_mode = kModeStop;
      g_file.active.store(0);
      continue;
    }
    g_file.active.store(1);
    if (mode != last_mode) player_library().sound_change(1);
    bool taken = true;
    switch (mode) {
      case kModePlay:
        last_mode = mode;
        taken = step_forward(block, 0, 0, &pending);
        break;
      case kModeForward:
        last_mode = mode;
        taken = step_forward(block, 1, play_speed(), &pending);
        break;
      case kModeBack:
        last_mode = mode;
        taken = step_back(block, 1, play_speed(), &pending);
        break;
      case kModeOneForward:
        taken = step_forward(block, 1, 0, &pending);
        set_file_mode(kModeStop);
        break;
      case kModeOneBack:
        last_mode = kModeBack;
        taken = step_back(block, 1, 0, &pending);
        set_file_mode(kModeStop);
        break;
      default:
        break;
    }
    if (!taken) platform::sleep_ms(kIdleSleepMs);
  }
  {
    std::lock_guard<std::mutex> hold(g_file.files);
    set_file_mode(kModeStop);
    g_file.data.close();
    g_file.index.close();
  }
  buffer = platform::Buffer();
  g_file.active.store(0);
  store_under_playmode(&g_file.stop, 0);
  // Last: once running reads 0 the thread touches nothing of the feeder's.
  g_file.running.store(0);
}

// Waits in steps of 10 ms, at most `bound_ms`, until done() holds.
template <typename Done>
bool wait_until(Done done, int bound_ms) {
  for (int waited = 0; !done(); waited += kWaitStepMs) {
    if (waited >= bound_ms) return false;
    platform::sleep_ms(kWaitStepMs);
  }
  return true;
}

}  // namespace

int playfile(const char* data_path, const char* index_path) {
  std::lock_guard<std::mutex> hold(g_file.control);
  if (g_file.running.load() != 0) {
    store_under_playmode(&g_file.stop, 1);
    if (!wait_until([] { return g_file.running.load() == 0; }, kFeederStopWaitMs)) {
      return kFeederBusy;
    }
  }
  if (data_path == nullptr || index_path == nullptr) return kFeederRefused;
  platform::File index = platform::File::open(index_path, platform::OpenMode::kRead);
  if (!index.is_open()) return kFeederRefused;
  platform::File data = platform::File::open(data_path, platform::OpenMode::kRead);
  if (!data.is_open()) return kFeederRefused;
  if (disk_mode() != kModeStop) {
    set_disk_mode(kModeStop);
    platform::sleep_ms(kModeSettleMs);
  }
  const int64_t size = data.size();
  platform::Buffer buffer(kFeederBufferSize);
  if (!buffer.ok()) return kFeederNoMemory;
  set_file_mode(kModeStop);
  {
    std::lock_guard<std::mutex> files(g_file.files);
    g_file.data = std::move(data);
    g_file.index = std::move(index);
    g_file.data_size = size > 0 ? size : 0;
  }
  g_file.buffer = std::move(buffer);
  g_file.blocked.store(0);
  g_file.running.store(1);
  // The feeder's first reads happen here, so that the range of the file is
  // known when playfile returns; a short first entry lets it end at once.
  start_entries();
  if (!platform::start_detached_thread(file_feeder_thread, 0)) {
    std::lock_guard<std::mutex> files(g_file.files);
    g_file.data.close();
    g_file.index.close();
    g_file.buffer = platform::Buffer();
    store_under_playmode(&g_file.stop, 0);
    g_file.running.store(0);
    return kFeederRefused;
  }
  return 0;
}

int file_read_stop() {
  if (g_file.running.load() == 0) return kFeederRefused;
  store_under_playmode(&g_file.stop, 1);
  return 0;
}

bool file_feeder_running() {
  return g_file.running.load() != 0;
}

int file_search(int32_t t) {
  std::lock_guard<std::mutex> hold(g_file.control);
  if (g_file.running.load() == 0) return kFileSearchNotRunning;
  int64_t start, end;
  {
    std::lock_guard<std::mutex> files(g_file.files);
    start = g_file.first.time;
    end = g_file.last.time;
  }
  if (t < start || t > end) return kFileSearchOutside;
  if (file_mode() != kModeStop) set_file_mode(kModeStop);
  const bool idle = wait_until(
      [] {
        return file_mode() == kModeStop && g_file.blocked.load() == 0 && g_file.active.load() == 0;
      },
      kFeederIdleWaitMs);
  if (!idle) return kFeederBusy;
  platform::sleep_ms(kSearchSettleMs);

  std::lock_guard<std::mutex> files(g_file.files);
  if (g_file.running.load() == 0 || g_file.stop.load() != 0) return kFileSearchNotRunning;
  int64_t n = g_file.index.size() / kEntrySize;
  if (n > 0) --n;
  // The search assumes that time grows evenly through the file. A file whose
  // first and last entries share a time has no proportion: entry 0.
  int64_t k = 0;
  if (end != start) {
    k = static_cast<int64_t>(static_cast<double>(n) * static_cast<double>(t - start) /
                             static_cast<double>(end - start));
  }
  Entry entry;
  if (!read_entry(k, &entry)) return kFileSearchOutside;
  place_at(k, entry);
  return 0;
}

int file_read_start_end_sec(uint32_t* start, uint32_t* end) {
  std::lock_guard<std::mutex> files(g_file.files);
  if (start != nullptr) *start = g_file.first.time;
  if (end != nullptr) *end = g_file.last.time;
  return 0;
}

int64_t file_current_entry() {
  std::lock_guard<std::mutex> files(g_file.files);
  return g_file.current_number;
}

}  // namespace virazav::player
