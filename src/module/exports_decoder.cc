// Exports of the decoder family: set-up and release of the decoder instances,
// the frame buffer, the ADPCM decoder and the data-set layer.
#include "decoder/decoder.h"
#include "virazav.h"

extern "C" {

int decode_init(void) noexcept {
  return virazav::decoder::decode_init();
}

int decode_deinit(void) noexcept {
  virazav::decoder::decode_deinit();
  return 0;
}

}  // extern "C"
