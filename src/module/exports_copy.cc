// The exports of the disk-to-media copy: they only forward to the copy thread's
// starter, stop request and status.
#include "player/copy_thread.h"
#include "virazav.h"

using namespace virazav;

extern "C" {

int hdd_copy_usb(const char* directory, int start, int end) noexcept {
  return player::start_copy(directory, start, end);
}

int hdd_copy_usb_stop(void) noexcept {
  return player::request_copy_stop();
}

int hdd_copy_usb_get_sts(int* status) noexcept {
  if (status == nullptr) return VIRAZAV_ERR_FAIL;
  *status = player::copy_status();
  return 0;
}

}  // extern "C"
