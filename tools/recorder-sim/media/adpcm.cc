// The recorder's IMA ADPCM audio coding: four bits a sample, the earlier sample of a byte in
// its low nibble, and the recorder's reconstruction rule, difference = (2 × magnitude + 1) ×
// step / 8 in integer arithmetic (not the shift-and-add approximation).

#include <algorithm>
#include <cstdlib>

#include "media/media.h"

namespace virazav::sim {

namespace {

constexpr int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kMaxIndex = 88;

// Applies one code to the state and returns the new sample.
int16_t step_state(int code, AdpcmState* s) {
  const int step = kStepTable[std::min<int>(s->index, kMaxIndex)];
  const int diff = ((code & 7) * 2 + 1) * step / 8;
  int pred = s->predictor + ((code & 8) != 0 ? -diff : diff);
  pred = std::clamp(pred, -32768, 32767);
  s->predictor = static_cast<int16_t>(pred);
  s->index = static_cast<uint8_t>(std::clamp(s->index + kIndexTable[code], 0, kMaxIndex));
  return s->predictor;
}

// Picks the code whose reconstruction lies nearest the sample.
int choose_code(int sample, const AdpcmState& s) {
  const int step = kStepTable[std::min<int>(s.index, kMaxIndex)];
  const int delta = sample - s.predictor;
  const int sign = delta < 0 ? 8 : 0;
  // Reconstructed magnitudes are (2m + 1) × step / 8, about (m + 0.5) × step / 4.
  int m = static_cast<int>(std::min<int64_t>(7, std::abs(static_cast<int64_t>(delta)) * 4 / step));
  return sign | m;
}

}  // namespace

void encode_adpcm(const int16_t* pcm, size_t count, AdpcmState* state, uint8_t* out) {
  for (size_t i = 0; i < count; i += 2) {
    int lo = choose_code(pcm[i], *state);
    step_state(lo, state);
    int hi = 0;
    if (i + 1 < count) {
      hi = choose_code(pcm[i + 1], *state);
      step_state(hi, state);
    }
    out[i / 2] = static_cast<uint8_t>(lo | (hi << 4));
  }
}

void decode_adpcm(const uint8_t* in, size_t bytes, AdpcmState* state, int16_t* out) {
  for (size_t i = 0; i < bytes; ++i) {
    out[2 * i] = step_state(in[i] & 0x0F, state);
    out[2 * i + 1] = step_state(in[i] >> 4, state);
  }
}

}  // namespace virazav::sim
