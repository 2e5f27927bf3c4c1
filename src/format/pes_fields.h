// The PES header fields that a copy of a packet's contents needs beyond its stamp: the
// presentation and decoding time stamps apart, and where the elementary stream data
// begins. docs/formats/stream-file.md describes the packets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace virazav::format {

struct PesFields {
  int channel = 0;            // low four bits of the stream id
  int kind = 0;               // kKindVideo or kKindAudio
  bool has_pts = false;       // PTS_DTS_flags 2 or 3
  bool has_dts = false;       // PTS_DTS_flags 3
  uint32_t pts = 0;           // low 32 bits of the 90 kHz PTS
  uint32_t dts = 0;           // low 32 bits of the DTS; equal to pts without one
  size_t payload_offset = 0;  // first byte after the PES header (9 + header_data_length)
};

// Reads the header of the packet whose start code is at packet[0] (a video E0..EF or audio
// C0..CF stream id), `length` bytes of it present. On success fills *out and returns true;
// returns false (out unchanged) for another start code, or when the header, its stamps or
// its header_data_length run past `length`.
bool read_pes_fields(const uint8_t* packet, size_t length, PesFields* out);

}  // namespace virazav::format
