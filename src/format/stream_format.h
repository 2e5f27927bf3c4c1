// The stream file's byte layout: pack header, program stream map, the PES
// packets with their two private 22-bit fields, time stamps, and the 12-byte
// frame index entry. Readers and writers of stream files (the download, the
// data set, the splitters, the decoder's buffered pictures) all go through
// these helpers; docs/formats/stream-file.md and docs/formats/frame-index.md
// describe the layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace virazav::format {

// ---- Layout constants -----------------------------------------------------------
inline constexpr size_t kPackHeaderSize = 16;
inline constexpr size_t kStreamMapSize = 276;
// Offset of the first packet in a file written by a download.
inline constexpr size_t kStreamHeaderSize = kPackHeaderSize + kStreamMapSize;  // 292
inline constexpr uint32_t kPackMuxRate = 25000;

// The two private fields inside every packet's header region.
inline constexpr size_t kPrevSizeOffset = 21;
inline constexpr size_t kPacketSizeOffset = 24;
// Bytes of a packet that must exist before its header fields can be read.
inline constexpr size_t kPacketHeaderBytes = 27;
// Largest value a 22-bit field holds.
inline constexpr uint32_t kField22Max = (1u << 22) - 1;

// Stream ids: E0+n video of channel n, C0+n audio of channel n.
inline constexpr uint8_t kVideoStreamBase = 0xE0;
inline constexpr uint8_t kAudioStreamBase = 0xC0;
inline constexpr uint8_t kPackStartCode = 0xBA;
inline constexpr uint8_t kStreamMapCode = 0xBC;

// A forward search for a packet start gives up after this many bytes.
inline constexpr size_t kStartSearchLimit = 262144;

// Packet kinds, as the data set and the frame index count them.
inline constexpr int kKindVideo = 0;
inline constexpr int kKindAudio = 1;

// Search directions: 1 searches forward; any other value requires the packet
// to start exactly at the position (the player's backward direction is 2).
inline constexpr int kForward = 1;
inline constexpr int kBackward = 2;

// ---- 22-bit private fields --------------------------------------------------------
// Writes the low 22 bits of `value` in the marker-protected coding: out[0] = 1
// and bits 21..15; out[1] = bits 14..11, a set marker bit 3, bits 10..8;
// out[2] = bits 7..0.
void encode_field22(uint32_t value, uint8_t out[3]);
// Reads a 22-bit field, ignoring the two marker bits.
uint32_t decode_field22(const uint8_t in[3]);

// ---- Packet headers ----------------------------------------------------------------
struct PacketHeader {
  int channel = 0;           // low four bits of the stream id (0..15)
  int kind = kKindVideo;     // kKindVideo (E0..EF) or kKindAudio (C0..CF)
  uint32_t packet_size = 0;  // bytes 24..26: length of the packet from its start code
  uint32_t prev_size = 0;    // bytes 21..23: distance back to an earlier packet
  int64_t offset = 0;        // where the start code begins (file offset or buffer index)
};

// Results of the packet header search.
inline constexpr int kPacketFound = 1;
inline constexpr int kPacketNone = 0;      // no start within the limit, or end of data
inline constexpr int kPacketNotHere = -1;  // non-forward search: no start at the position

// True for a stream id of a video (E0..EF) or audio (C0..CF) packet.
bool is_packet_stream_id(uint8_t id);

// Searches `data[0..length)` for a packet start (00 00 01 E0..EF / C0..CF;
// pack headers and stream maps are passed over) and reads its header fields
// into *out (out->offset = index of the start code in data). In kForward
// the search runs up to kStartSearchLimit bytes; otherwise the start must be
// at index 0. A start whose 27 header bytes do not all lie inside the buffer
// counts as none. Returns kPacketFound, kPacketNone or kPacketNotHere;
// *out is written only on kPacketFound.
int parse_packet_header(const uint8_t* data, size_t length, int direction, PacketHeader* out);

// The same search on an open file from its current position. On kPacketFound
// the file is positioned at the packet's first byte and out->offset is that
// position. kPacketNotHere moves the file back to where the search began.
// kPacketNone (no start within kStartSearchLimit bytes, end of file, or a read
// failure) leaves the position unspecified.
int parse_packet_header(platform::File& file, int direction, PacketHeader* out);

// The packet's time stamp: the low 32 bits of the PTS (or of the DTS when
// PTS_DTS_flags is 3) of the first video or audio PES start code in
// data[0..length); 0 when there is none or the header is cut off.
uint32_t packet_pts(const uint8_t* data, size_t length);
// As packet_pts, telling a stamp of 0 from none: returns true and stores the
// stamp when the packet carries one.
bool packet_time_stamp(const uint8_t* data, size_t length, uint32_t* pts);

// Low 32 bits of the SCR base when the 16 bytes begin with 00 00 01 BA, else 0.
uint32_t pack_scr(const uint8_t first16[kPackHeaderSize]);

// Writes the 16-byte pack header with the given SCR base (its low 32 bits; bit
// 32 is 0), SCR extension 0, program_mux_rate kPackMuxRate, two stuffing bytes.
void write_pack_header(uint32_t scr, uint8_t out[kPackHeaderSize]);

// Writes the 276-byte program stream map; bit n of video_mask marks video
// channel n present (stream type 84), bit n of audio_mask audio channel n
// (stream type 91). A download passes 0xFFFF and 0xF.
void write_stream_map(uint32_t video_mask, uint32_t audio_mask, uint8_t out[kStreamMapSize]);

// Writes `value` into bytes 21..23 of the first video or audio packet found in
// packet[0..length) (forward search). Does nothing for a null packet, a
// negative value, a length below 1, or when the field would lie beyond length.
void patch_prev_size(uint8_t* packet, size_t length, int64_t value);

// ---- Frame index entries --------------------------------------------------------------
inline constexpr size_t kIndexEntrySize = 12;
inline constexpr int kIndexCapacity = 576000;
inline constexpr size_t kIndexFileBytes = kIndexEntrySize * kIndexCapacity;  // 6,912,000

struct FrameIndexEntry {
  uint8_t kind = 0;     // kKindVideo (key frame) or kKindAudio
  uint8_t channel = 0;  // 0..15
  uint64_t offset = 0;  // 48-bit offset of the packet's start code in the stream file
  uint32_t pts = 0;     // the packet's time stamp
};

// Writes the entry little-endian: kind, channel, offset bits 32..47, offset
// bits 0..31, time stamp. Offset bits above 47 are dropped.
void encode_index_entry(const FrameIndexEntry& entry, uint8_t out[kIndexEntrySize]);
FrameIndexEntry decode_index_entry(const uint8_t in[kIndexEntrySize]);

}  // namespace virazav::format
