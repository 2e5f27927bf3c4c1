// The manifest of an export: a SHA-256 of every file written and of the source bytes the
// pictures and sound came from, with the recorder's first and last time, in a text file
// that "virazav verify" checks later. Lines, one item each, paths relative to the
// manifest's folder:
//
//   virazav-export-manifest 1
//   first 2024-05-01T10:00:02
//   last 2024-05-01T10:00:07
//   source <sha256> <offset> <length> <path>
//   output <sha256> <size> <path>
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace virazav::cli::exporting {

struct ManifestItem {
  bool source = false;  // a span of the source, else a whole output file
  std::string path;     // as written in the manifest (relative to its folder, or absolute)
  int64_t offset = 0;   // source spans only
  int64_t length = 0;   // bytes hashed
  std::string sha256;   // 64 lower-case hex digits
};

struct Manifest {
  std::string first, last;  // "YYYY-MM-DDThh:mm:ss"
  std::vector<ManifestItem> items;
};

// Hashes bytes [offset, offset + length) of a file (length -1: to its end) with SHA-256.
// On success stores the hex digest in *hex (and the bytes hashed in *hashed when not null)
// and returns true; on failure (no such file, cut short, read error) stores the reason.
bool sha256_of_file(const std::string& path, int64_t offset, int64_t length, std::string* hex,
                    int64_t* hashed, std::string* error);

// Writes the manifest to `path`, hashing the files of `items` (their path given as the
// program opened them; the manifest stores them relative to its own folder). On failure
// stores the reason in *error and returns false.
bool write_manifest(const std::string& path, const std::string& first, const std::string& last,
                    std::vector<ManifestItem> items, std::string* error);

// Reads a manifest. On a file that is not one stores the reason and returns false.
bool read_manifest(const std::string& path, Manifest* out, std::string* error);

// Returns the path of an item as the program opens it: relative paths count from the
// manifest's folder.
std::string resolve_item_path(const std::string& manifest_path, const std::string& item_path);

}  // namespace virazav::cli::exporting
