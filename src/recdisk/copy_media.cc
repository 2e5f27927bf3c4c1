// The copy file set: opening the three files of a copy, appending packets and
// index records within the size and free-space limits, writing the time range and
// closing the set again.
#include "recdisk/copy_media.h"

#include <cstdio>
#include <limits>

#include "format/bytes.h"
#include "platform/mutex.h"
#include "platform/platform.h"

namespace virazav::recdisk {
namespace {

// The one copy file set of the process. The copy thread is its only user while a
// copy runs; the mutex only keeps a status query from another thread clean.
struct CopyFileSet {
  platform::Mutex mutex;
  platform::File data VZ_GUARDED_BY(mutex);
  platform::File index VZ_GUARDED_BY(mutex);
  platform::File list VZ_GUARDED_BY(mutex);
  uint64_t total VZ_GUARDED_BY(mutex) = 0;
  uint64_t mark VZ_GUARDED_BY(mutex) = 0;
  uint32_t written VZ_GUARDED_BY(mutex) = 0;
  uint32_t free_kib VZ_GUARDED_BY(mutex) = 0;
  bool active VZ_GUARDED_BY(mutex) = false;
};

CopyFileSet g_set;

// The free space of the medium holding the folder, in KiB. The recorder's own
// tool read a disk-usage listing of its card slot; the library asks the file
// system that holds the target folder. Unknown space counts as none.
uint32_t read_free_kbytes(const std::string& directory) {
  uint64_t kib = 0;
  if (directory.empty() || platform::free_space_kib(directory, &kib) != 0) return 0;
  if (kib > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(kib);
}

}  // namespace

int open_copy_files(const char* directory) {
  std::string dir = directory ? directory : "";
  uint32_t free_kib = read_free_kbytes(dir);
  platform::MutexLock lock(g_set.mutex);
  g_set.free_kib = free_kib;
  g_set.written = 0;
  if (g_set.data.is_open() && g_set.index.is_open() && g_set.list.is_open()) {
    return kCopyAlreadyOpen;
  }
  if (dir.empty()) return kCopyNotOpen;

  // join_path puts a '/' between the parts unless the folder text ends in one,
  // so "/media/cf" and "/media/cf/" name the same three files.
  if (!g_set.data.is_open()) {
    g_set.data = platform::File::open(platform::join_path(dir, kCopyDataFileName),
                                      platform::OpenMode::kUpdate);
    if (!g_set.data.is_open()) return kCopyNotOpen;
    g_set.total = 0;
    g_set.mark = 0;
  }
  if (!g_set.index.is_open()) {
    g_set.index = platform::File::open(platform::join_path(dir, kCopyIndexFileName),
                                       platform::OpenMode::kUpdate);
    if (!g_set.index.is_open()) {
      g_set.data.close();
      return kCopyNotOpen;
    }
  }
  if (!g_set.list.is_open()) {
    g_set.list = platform::File::open(platform::join_path(dir, kCopyListFileName),
                                      platform::OpenMode::kUpdate);
    if (!g_set.list.is_open()) {
      g_set.data.close();
      g_set.index.close();
      return kCopyNotOpen;
    }
    // Until the copy ends the list file names no range; the range is written
    // over the placeholder, from the start of the file.
    g_set.list.write(kCopyListPlaceholder, kCopyListLineSize);
    g_set.list.rewind();
  }
  g_set.active = true;
  return kCopyOpened;
}

int write_copy_data(const uint8_t* data, uint32_t length) {
  platform::MutexLock lock(g_set.mutex);
  if (!g_set.data.is_open()) return kCopyNotOpen;
  if (g_set.total + length >= kCopyDataLimit) return kCopyLimit;
  // At least 1 MiB of the medium must stay free. The difference is unsigned on
  // purpose, as the recorder computed it: with no free-space figure at all (0)
  // only the first KiB of a copy is refused, and then the difference wraps.
  uint32_t needed = static_cast<uint32_t>((static_cast<uint64_t>(g_set.written) + length) / 1024);
  if (static_cast<uint32_t>(g_set.free_kib - needed) < kCopyMinFreeKib) {
    char line[64];
    std::snprintf(line, sizeof line, "usb_rest_kbyte %d %d\n", static_cast<int>(g_set.free_kib),
                  static_cast<int>(needed));
    platform::trace(line);
    return kCopyLimit;
  }
  if (length > 0 && (data == nullptr || g_set.data.write(data, length) != 0))
    return kCopyShortWrite;
  g_set.written += length;
  g_set.total += length;
  return static_cast<int>(length);
}

int write_copy_index(const ChunkInfo& info) {
  platform::MutexLock lock(g_set.mutex);
  if (!g_set.index.is_open()) return kCopyNotOpen;
  uint8_t record[kFileIndexEntrySize];
  encode_file_index_entry(g_set.mark, info, record);
  // The next record names the offset at which the next chunk's packets begin.
  g_set.mark = g_set.total;
  if (g_set.index.write(record, sizeof record) != 0) return kCopyShortWrite;
  g_set.written += kFileIndexEntrySize;
  return static_cast<int>(kFileIndexEntrySize);
}

int write_copy_range(const ChunkInfo& first, const ChunkInfo& last) {
  platform::MutexLock lock(g_set.mutex);
  if (!g_set.list.is_open()) return kCopyNotOpen;
  char line[96];
  int n = format_copy_range(first.bytes + kChunkInfoTime, last.bytes + kChunkInfoTime, line,
                            sizeof line);
  // The line goes out without its terminating zero; a failed write leaves the
  // placeholder, which names no range, and is not reported.
  if (n > 0) g_set.list.write(line, static_cast<size_t>(n));
  return 1;
}

int close_copy_files() {
  platform::MutexLock lock(g_set.mutex);
  if (g_set.data.is_open()) {
    g_set.data.close();
    g_set.total = 0;
    g_set.mark = 0;
  }
  g_set.index.close();
  g_set.list.close();
  g_set.active = false;
  return 1;
}

int format_copy_range(const uint8_t* a, const uint8_t* b, char* out, size_t cap) {
  int n = std::snprintf(out, cap, "%04d/%02d/%02d %02d:%02d:%02d - %04d/%02d/%02d %02d:%02d:%02d",
                        a[0] + 2000, a[1], a[2], a[3], a[4], a[5], b[0] + 2000, b[1], b[2], b[3],
                        b[4], b[5]);
  if (n < 0) return 0;
  return static_cast<size_t>(n) < cap ? n : static_cast<int>(cap ? cap - 1 : 0);
}

void encode_file_index_entry(uint64_t offset, const ChunkInfo& info, uint8_t* out) {
  format::store_le64(out + kFileIndexOffset, offset);
  for (size_t i = 0; i < kChunkInfoUsedBytes; ++i)
    out[kFileIndexInfo + i] = info.bytes[kChunkInfoTime + i];
  for (size_t i = kFileIndexZero; i < kFileIndexEntrySize; ++i) out[i] = 0;
}

CopyFilesStatus copy_files_status() {
  platform::MutexLock lock(g_set.mutex);
  CopyFilesStatus s;
  s.active = g_set.active;
  s.data_open = g_set.data.is_open();
  s.index_open = g_set.index.is_open();
  s.list_open = g_set.list.is_open();
  s.total = g_set.total;
  s.mark = g_set.mark;
  s.written = g_set.written;
  s.free_kib = g_set.free_kib;
  return s;
}

}  // namespace virazav::recdisk
