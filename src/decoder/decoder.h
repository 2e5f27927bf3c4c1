// The decoder wrapper as the players and the live receiver use it: the sixteen
// per-channel instances with their pictures and channel records, the frame
// buffer, the frame-decoding operations, the bitmap writer and the ADPCM audio
// decoder. set_up and tear_down make and release all of it; the exported
// decode_init and decode_deinit run them with the data-set layer (dlplayer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace virazav::decoder {

inline constexpr int kChannels = 16;
inline constexpr size_t kFrameBufferSize = 1u << 20;
inline constexpr int kInitialSize = 344;  // width and height before any sequence header
// Rows the bitmap writer leaves out (the first 8 rows of the bottom-up picture).
inline constexpr int kBitmapDroppedRows = 8;
inline constexpr size_t kBitmapHeaderBytes = 54;

// ---- Set-up ------------------------------------------------------------------------
// The decoder's part of decode_init: clears the synced flags, allocates the
// frame buffer, sets up the ADPCM decoder and, once until tear_down, the
// instances (decoder_setup). Returns 0, or -1 when the frame buffer could not
// be allocated (message "error: GlobalAlloc", caption "decode_init error";
// nothing else set up).
int set_up();
// The decoder's part of decode_deinit: releases the frame buffer, the ADPCM
// buffers, the pictures and the instances.
void tear_down();
// True once decoder_setup has run (and tear_down has not since).
bool setup_done();

// The 1 MiB frame buffer every packet of the data set is read into, or
// nullptr before set_up.
uint8_t* frame_buffer();

// ---- Channel records and instances ---------------------------------------------------
struct ChannelSize {
  int width = kInitialSize;
  int height = kInitialSize;
  int created_width = kInitialSize;
  int created_height = kInitialSize;
};
ChannelSize channel_size(int channel);
// Stores the width and height a sequence header announced for the channel.
void set_channel_size(int channel, int width, int height);
// Re-creates every instance and picture at `channel`'s size when it differs
// from the size the instances were created for (every picture is lost).
// Returns false when the new pictures or instances could not be allocated
// (the instances are then unusable until the next successful resize).
bool resize_decoders(int channel);

bool synced(int channel);
void set_synced(int channel, bool on);
void clear_synced_all();

// The channel's output picture: width × height pixels of 24-bit bottom-up
// rows (stride = width), or nullptr. *width and *height may be null.
const uint8_t* channel_picture(int channel, int* width, int* height);

// ---- Decoding --------------------------------------------------------------------------
// Decodes `length` bytes with the channel's instance into its picture and
// returns the decore result (0 success; the picture is unchanged otherwise).
int decode_with_channel(int channel, const uint8_t* data, size_t length);
// Evaluates a decode result as the players do: 0 and 10 succeed; 11, 12 and
// 13 show their message; anything else fails silently. Returns 1 or 0.
int evaluate_result(int result);
// Decodes a video packet held in memory that carries a sequence header:
// parses its header (format::parse_packet_header in `direction`:
// format::kForward searches for the packet start, any other direction
// requires it at the first byte), scans its video headers, stores the size in
// the channel record, marks the channel synced, resizes and decodes. Returns 1
// on success; 0 when the packet is not a video packet with a sequence header,
// or the decode fails. *channel (may be null) receives the packet's channel.
int decode_frame_buffer(const uint8_t* packet, size_t length, int direction,
                        int* channel = nullptr);

// The live decodes below parse their packets in the player's current
// direction, which the data-set layer owns: it installs its reader when
// decode_init runs. Without a reader (nullptr restores that) they search
// forward, the player's direction before any play mode. Thread-safe.
using DirectionReader = int (*)();
void set_direction_reader(DirectionReader reader);

// decode_frame_buffer, then the channel's picture written to `path` as a
// bitmap. Returns -1 before set-up, otherwise 0 (written or not).
int decode_live_frame_to_file(const std::string& path, const uint8_t* packet, size_t length);

// One picture waiting in the live receiver's group of a channel: the record
// fields the queue walk reads and updates.
struct QueuedPicture {
  int channel = 0;
  const uint8_t* data = nullptr;  // the packet (kind other than 2) or the bit-stream
  size_t length = 0;              // 0: an empty record
  int vop_kind = 0;               // 2: a predicted picture, decoded directly
  int64_t due_ms = 0;             // when it is to be shown
};
inline constexpr int kQueuedPictures = 20;
// Walks the records in order (channel: record 0's): an empty record is passed
// over; a predicted picture (kind 2) due later than `elapsed_ms` ends the walk,
// otherwise it is decoded with the channel's instance; any other record goes
// through decode_frame_buffer, and a failure there ends the walk. A decoded
// record's length becomes 0. When the last record handled was decoded, the
// channel's picture is written to `path` and the result is 1; otherwise 0.
// Returns -1 before set-up. `count` is limited to kQueuedPictures.
int decode_live_queue_to_file(const std::string& path, QueuedPicture* records, int count,
                              int64_t elapsed_ms);

// ---- Bitmaps -----------------------------------------------------------------------------
// Fills the 14-byte file header and the 40-byte information header of a 24-bit
// bitmap of width x height pixels whose pixel rows take image_size bytes.
void fill_bitmap_headers(uint8_t out[kBitmapHeaderBytes], int width, int height,
                         uint32_t image_size);
// Writes a 24-bit bitmap of width × (height − 8) pixels taken from `picture`
// beginning 8 rows in (rows unpadded). Only for width > 0 and height > 8;
// `picture` must hold width × height × 3 bytes. Returns 0 when written, -1 when
// skipped or the file could not be created or written.
int write_frame_bmp(const std::string& path, const uint8_t* picture, int width, int height);
// Writes the channel's current picture with write_frame_bmp.
int write_channel_bmp(const std::string& path, int channel);

// ---- ADPCM audio -------------------------------------------------------------------------
inline constexpr size_t kAdpcmDataBytes = 2048;  // ADPCM bytes of one audio packet
inline constexpr size_t kAudioHeaderBytes = 64;  // packet bytes before them
inline constexpr size_t kPcmPacketBytes = 8192;  // 4096 16-bit samples
inline constexpr int kAdpcmMono = 1;

struct AdpcmState {
  int index = 0;      // 0..88
  int predictor = 0;  // -32768..32767
};
// Decodes one 4-bit code and returns the sample.
int16_t adpcm_decode_nibble(int code, AdpcmState* state);
// 1 ready (also when already set up), 0 allocation failure (after freeing),
// -1 buffers left from an earlier set-up that was not released.
int adpcm_init(int mode, size_t length);
void adpcm_release();
bool adpcm_ready();
// Decodes the audio packet at `packet` (room bytes readable and writable) into
// 4096 samples written over the packet from its first byte. Returns 8192, or 0
// when room < 8192, buffer_index is not 0 or 1, the work buffer is missing, or
// no audio packet header is found within room.
int adpcm_decode_packet(uint8_t* packet, size_t room, int buffer_index);

// Decodes the audio packet whose start code is at packet[0] (length bytes)
// into 4096 samples, 8192 bytes of 16-bit little-endian PCM at `pcm`, without
// the work buffers of set_up (any thread, any time). Codes missing from a
// packet cut short decode as zeros. Returns 8192, or 0 when the bytes do not
// begin with an audio packet header or hold less than its 64-byte header.
int adpcm_decode_to_pcm(const uint8_t* packet, size_t length, uint8_t* pcm);

}  // namespace virazav::decoder
