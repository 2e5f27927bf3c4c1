// The process-wide packet and index state of a downloaded data set, shared by
// the download (which writes a stream file and its index), the data-set player
// and the splitters. Only one of them runs at a time; the player's playback
// thread reads the index while the caller's thread extends it (entries are
// only appended, and the last valid entry number is published when a slice
// ends).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "format/stream_format.h"

namespace virazav::dlplayer {

// ---- The in-memory frame index ----------------------------------------------------
// 576,000 zero-filled entries of 12 bytes (the ".index" file layout), allocated
// on first use and kept for the life of the process.

// Zeroes every entry and sets the cursor to 0. Returns 0, or -1 when the index
// memory cannot be allocated.
int index_reset();
// Stores `entry` at the cursor and advances it. Returns 0, or -1 when the
// index is full (576,000 entries) or cannot be allocated (nothing stored).
int index_append(const format::FrameIndexEntry& entry);
// The cursor: during a download the number of entries made so far; during
// playback the current entry number.
int index_cursor();
void set_index_cursor(int entry);
// Reads entry `n`; entries outside 0..575,999 read as all zero.
format::FrameIndexEntry index_entry(int n);
// Number of the last valid entry (-1 when none).
int index_last_valid();
// The path of the index file of a directory: "<dir>/.index".
std::string index_file_path(const std::string& dir);
// Creates "<dir>/.index" and writes entries 0..count-1 (count × 12 bytes;
// count is limited to 0..576,000). Returns 0, or -1 when the file cannot be
// created or written.
int write_index_file(const std::string& dir, int count);

// ---- The current packet ------------------------------------------------------------
// The packet last read into the decoder's frame buffer: channel, sizes, kind
// and time stamp; decode_loaded_frame decodes it.
struct CurrentPacket {
  int channel = 0;
  int kind = format::kKindVideo;
  uint32_t packet_size = 0;
  uint32_t prev_size = 0;
  uint32_t pts = 0;
  uint32_t loaded = 0;  // bytes of it held in the frame buffer (a packet cut
                        // off by the end of the file holds fewer than packet_size)
};
CurrentPacket current_packet();
void set_current_packet(const CurrentPacket& packet);
// Decodes the current packet in the frame buffer (packet_size bytes, or the
// bytes loaded when fewer) with its channel's decoder instance, evaluated as
// decoder::evaluate_result does. Returns 1 on success, 0 on failure (also
// before decode_init).
int decode_loaded_frame();

// The player's current direction (kForward, or kBackward while playing back).
int play_direction();

}  // namespace virazav::dlplayer
