// Exports of the decoder family: set-up and release of the decoder instances,
// the frame buffer, the ADPCM decoder and the data-set layer, which the
// data-set layer runs in that order (dlplayer::decode_init).
#include "dlplayer/dlplayer.h"
#include "virazav.h"

extern "C" {

int decode_init(void) noexcept {
  return virazav::dlplayer::decode_init();
}

int decode_deinit(void) noexcept {
  virazav::dlplayer::decode_deinit();
  return 0;
}

}  // extern "C"
