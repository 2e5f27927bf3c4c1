// Where a stream file's frame index lives, and whether an index found there belongs to the
// file. Each stream file keeps its own index folder beside it ("rec.mpg.idx/.index"), so
// that two files in one folder never share an index.
#pragma once

#include <string>

namespace virazav::cli {

// Returns the folder of the file's own frame index: "<file>.idx".
std::string own_index_dir(const std::string& file);

// How an index file fits a stream file.
enum class IndexFit {
  kMissing,  // no index file
  kFits,     // every entry checked points at a packet of its kind and channel
  kForeign,  // the index is another file's, or not a frame index at all
};

// Checks <index_dir>/.index against the stream file: it must hold at least one entry, and
// the entries up to the first with offset 0 (at most 512 of them, spread over the index)
// must lie inside the file at a packet start of their kind and channel. For a foreign
// index stores the reason in *why.
IndexFit check_index_fits(const std::string& file, const std::string& index_dir, std::string* why);

// Chooses and prepares the index folder of `file` for a command that opens it. Without an
// explicit folder (`explicit_dir` null) the file's own folder is used, created when
// missing, and an index there that does not belong to the file is removed with a note on
// standard error, so that the library builds it afresh. An explicit folder must exist; a
// foreign index there is refused unless `rebuild` is set, since it may be another file's.
// `rebuild` removes the index in either place. On success stores the folder in *dir and
// returns true; otherwise reports why, stores the exit status in *status and returns false.
bool prepare_index_dir(const std::string& file, const std::string* explicit_dir, bool rebuild,
                       std::string* dir, int* status);

}  // namespace virazav::cli
