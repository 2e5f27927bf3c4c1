// Checking that a frame index belongs to its stream file, and the per-file index folder.
#include "stream_index.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "report.h"

namespace virazav::cli {

namespace {

namespace fs = std::filesystem;

// Frame index entries (docs/formats/frame-index.md): kind, channel, the packet's offset
// in 48 bits, its time stamp.
constexpr size_t kEntrySize = 12;
constexpr size_t kMaxEntries = 576000;
constexpr uint8_t kKindVideo = 0;
constexpr uint8_t kKindAudio = 1;
constexpr uint8_t kMaxChannel = 15;
// Stream ids of the packets: video channel n is E0 + n, audio channel n C0 + n.
constexpr uint8_t kVideoStream = 0xE0;
constexpr uint8_t kAudioStream = 0xC0;
// Checking every entry of a long index would read the whole file's packet starts; a
// spread sample finds a foreign index as surely.
constexpr size_t kMaxChecked = 512;

uint64_t entry_offset(const uint8_t* e) {
  const uint64_t high = uint64_t{e[2]} | uint64_t{e[3]} << 8;
  const uint64_t low =
      uint64_t{e[4]} | uint64_t{e[5]} << 8 | uint64_t{e[6]} << 16 | uint64_t{e[7]} << 24;
  return high << 32 | low;
}

// Reads the entries before the first with offset 0.
bool read_entries(const fs::path& index, std::string* bytes, std::string* error) {
  if (!read_file(index.string(), bytes, error)) return false;
  const size_t count = std::min(bytes->size() / kEntrySize, kMaxEntries);
  size_t used = 0;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes->data());
  while (used < count && entry_offset(p + used * kEntrySize) != 0) ++used;
  bytes->resize(used * kEntrySize);
  return true;
}

// Checks one entry against the file: in range, at a packet start of its kind and channel.
bool entry_fits(std::FILE* file, uint64_t file_size, const uint8_t* e, std::string* why) {
  const uint64_t offset = entry_offset(e);
  const uint8_t kind = e[0], channel = e[1];
  char text[160];
  if ((kind != kKindVideo && kind != kKindAudio) || channel > kMaxChannel) {
    std::snprintf(text, sizeof text, "an entry of kind %u, channel %u is not a frame index's", kind,
                  channel);
    *why = text;
    return false;
  }
  uint8_t start[4] = {};
  if (offset + sizeof start > file_size ||
      std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0 ||
      std::fread(start, 1, sizeof start, file) != sizeof start) {
    std::snprintf(text, sizeof text, "an entry points at offset %llu, past the file's end",
                  static_cast<unsigned long long>(offset));
    *why = text;
    return false;
  }
  const uint8_t stream = (kind == kKindVideo ? kVideoStream : kAudioStream) + channel;
  if (start[0] != 0 || start[1] != 0 || start[2] != 1 || start[3] != stream) {
    std::snprintf(text, sizeof text,
                  "at offset %llu the file holds no %s packet of channel %u, as the index says",
                  static_cast<unsigned long long>(offset), kind == kKindVideo ? "video" : "audio",
                  channel);
    *why = text;
    return false;
  }
  return true;
}

bool remove_index(const fs::path& index, int* status) {
  std::error_code ec;
  fs::remove(index, ec);
  if (ec) {
    *status = report_problem("remove " + index.string(), ec.message());
    return false;
  }
  return true;
}

}  // namespace

std::string own_index_dir(const std::string& file) {
  return file + ".idx";
}

IndexFit check_index_fits(const std::string& file, const std::string& index_dir, std::string* why) {
  const fs::path index = fs::path(index_dir) / ".index";
  std::error_code ec;
  if (!fs::exists(index, ec)) return IndexFit::kMissing;
  std::string entries, error;
  if (!read_entries(index, &entries, &error)) {
    *why = "it cannot be read: " + error;
    return IndexFit::kForeign;
  }
  const size_t count = entries.size() / kEntrySize;
  if (count == 0) {
    *why = "it holds no entry";
    return IndexFit::kForeign;
  }
  const uint64_t file_size = fs::file_size(file, ec);
  std::FILE* f = ec ? nullptr : std::fopen(file.c_str(), "rb");
  if (f == nullptr) {
    *why = "the stream file cannot be read";
    return IndexFit::kForeign;
  }
  const auto* p = reinterpret_cast<const uint8_t*>(entries.data());
  const size_t step = count > kMaxChecked ? count / kMaxChecked : 1;
  bool fits = true;
  for (size_t i = 0; i < count && fits; i += step) {
    fits = entry_fits(f, file_size, p + i * kEntrySize, why);
  }
  // The last entry too: an index of a longer file points past this one's end there.
  if (fits) fits = entry_fits(f, file_size, p + (count - 1) * kEntrySize, why);
  std::fclose(f);
  return fits ? IndexFit::kFits : IndexFit::kForeign;
}

bool prepare_index_dir(const std::string& file, const std::string* explicit_dir, bool rebuild,
                       std::string* dir, int* status) {
  std::error_code ec;
  *dir = explicit_dir != nullptr ? *explicit_dir : own_index_dir(file);
  if (explicit_dir != nullptr) {
    if (!fs::is_directory(*dir, ec)) {
      *status = report_problem("index folder " + *dir, "no such folder");
      return false;
    }
  } else {
    fs::create_directories(*dir, ec);
    if (ec) {
      *status = report_problem("create the index folder " + *dir, ec.message());
      return false;
    }
  }
  const fs::path index = fs::path(*dir) / ".index";
  if (rebuild) return remove_index(index, status);
  std::string why;
  if (check_index_fits(file, *dir, &why) != IndexFit::kForeign) return true;
  if (explicit_dir != nullptr) {
    *status = report_problem(index.string(), "does not belong to " + file + " (" + why +
                                                 "); build it there anew with 'virazav index " +
                                                 file + " --index-dir " + *dir + " --rebuild'");
    return false;
  }
  print_note(index.string() + " does not belong to " + file + " (" + why + "); building it anew");
  return remove_index(index, status);
}

}  // namespace virazav::cli
