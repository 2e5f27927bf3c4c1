// The recorder's IMA ADPCM audio: 2048 bytes of 4-bit codes after a 64-byte
// packet header decode to 4096 16-bit samples, with the exact integer
// difference ((code & 7) × 2 + 1) × step / 8 rather than the usual
// shift-and-add approximation.
#include <cstring>

#include "decoder/decoder.h"
#include "decoder/decoder_state.h"
#include "format/bytes.h"
#include "format/stream_format.h"

namespace virazav::decoder {
namespace {

using detail::state;

constexpr int16_t kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// State B of the packet header: predictor (signed 16-bit LE) and step index.
constexpr size_t kStateBPredictor = 60;
constexpr size_t kStateBIndex = 62;
constexpr int kMaxStepIndex = 88;

// The decoder state a packet carries for its first sample (state B).
AdpcmState packet_state(const uint8_t* packet) {
  AdpcmState st;
  st.predictor = static_cast<int16_t>(format::load_le16(packet + kStateBPredictor));
  st.index = packet[kStateBIndex];
  return st;
}

// Decodes kAdpcmDataBytes bytes of codes (the earlier sample in the low
// nibble) into kPcmPacketBytes bytes of 16-bit little-endian samples.
void decode_codes(const uint8_t* codes, AdpcmState st, uint8_t* out) {
  for (size_t i = 0; i < kAdpcmDataBytes; ++i) {
    const uint8_t b = codes[i];
    const int16_t lo = adpcm_decode_nibble(b & 0x0F, &st);
    const int16_t hi = adpcm_decode_nibble(b >> 4, &st);
    format::store_le16(out + 4 * i, static_cast<uint16_t>(lo));
    format::store_le16(out + 4 * i + 2, static_cast<uint16_t>(hi));
  }
}

}  // namespace

int16_t adpcm_decode_nibble(int code, AdpcmState* s) {
  code &= 0x0F;
  int index = s->index < 0 ? 0 : s->index > kMaxStepIndex ? kMaxStepIndex : s->index;
  int step = kStepTable[index];
  index += kIndexTable[code];
  s->index = index < 0 ? 0 : index > kMaxStepIndex ? kMaxStepIndex : index;
  int difference = ((code & 7) * 2 + 1) * step / 8;
  int predictor = s->predictor + ((code & 8) ? -difference : difference);
  s->predictor = predictor < -32768 ? -32768 : predictor > 32767 ? 32767 : predictor;
  return static_cast<int16_t>(s->predictor);
}

int adpcm_init(int mode, size_t length) {
  detail::DecoderState& s = state();
  if (s.adpcm_ready) return 1;
  for (platform::Buffer& b : s.adpcm_work) {
    if (b.ok()) return -1;
  }
  for (platform::Buffer& b : s.adpcm_work) {
    b = platform::Buffer(length);
    if (!b.ok()) {
      for (platform::Buffer& f : s.adpcm_work) f = platform::Buffer();
      return 0;
    }
  }
  s.adpcm_mode = mode;
  s.adpcm_length = length;
  s.adpcm_ready = true;
  return 1;
}

void adpcm_release() {
  detail::DecoderState& s = state();
  for (platform::Buffer& b : s.adpcm_work) b = platform::Buffer();
  s.adpcm_ready = false;
}

bool adpcm_ready() {
  return state().adpcm_ready;
}

int adpcm_decode_packet(uint8_t* packet, size_t room, int buffer_index) {
  detail::DecoderState& s = state();
  if (packet == nullptr || room < kPcmPacketBytes || buffer_index < 0 ||
      buffer_index >= detail::kAdpcmBuffers) {
    return 0;
  }
  platform::Buffer& work = s.adpcm_work[buffer_index];
  if (!work.ok() || work.size() < kAdpcmDataBytes) return 0;
  format::PacketHeader h;
  if (format::parse_packet_header(packet, room, format::kForward, &h) != format::kPacketFound ||
      h.kind != format::kKindAudio) {
    return 0;
  }
  const uint8_t* start = packet + h.offset;
  size_t avail = room - static_cast<size_t>(h.offset);
  if (avail < kAudioHeaderBytes) return 0;
  // Copy the ADPCM part, bounded by the packet's size, what the caller holds
  // and the work buffer; codes missing from a short packet decode as zeros.
  size_t end = h.packet_size < avail ? h.packet_size : avail;
  size_t copy = end > kAudioHeaderBytes ? end - kAudioHeaderBytes : 0;
  if (copy > kAdpcmDataBytes) copy = kAdpcmDataBytes;
  std::memcpy(work.data(), start + kAudioHeaderBytes, copy);
  std::memset(work.data() + copy, 0, kAdpcmDataBytes - copy);
  // Samples go over the packet from the caller's first byte on; the codes
  // are already safe in the work buffer.
  decode_codes(work.data(), packet_state(start), packet);
  return static_cast<int>(kPcmPacketBytes);
}

int adpcm_decode_to_pcm(const uint8_t* packet, size_t length, uint8_t* pcm) {
  if (packet == nullptr || pcm == nullptr) return 0;
  format::PacketHeader h;
  if (format::parse_packet_header(packet, length, format::kBackward, &h) != format::kPacketFound ||
      h.kind != format::kKindAudio || length < kAudioHeaderBytes) {
    return 0;
  }
  // A packet cut short decodes its missing codes as zeros.
  uint8_t codes[kAdpcmDataBytes] = {};
  size_t copy = length - kAudioHeaderBytes;
  if (copy > kAdpcmDataBytes) copy = kAdpcmDataBytes;
  std::memcpy(codes, packet + kAudioHeaderBytes, copy);
  decode_codes(codes, packet_state(packet), pcm);
  return static_cast<int>(kPcmPacketBytes);
}

}  // namespace virazav::decoder
