// The exports of the recorded-data download: they only forward to the command client.
#include "command/download.h"
#include "virazav.h"

using namespace virazav;

extern "C" {

int kora_copy_fast(int slot, const char* path, int /*reserved*/, int value1, int value2, int value3,
                   int value4, int value5, int value6, int value7, int value8, int value9,
                   int value10, int value11, int value12) noexcept {
  command::DownloadRequestValues values{{value1, value2, value3, value4, value5, value6, value7,
                                         value8, value9, value10, value11, value12}};
  return command::copy_fast(slot, path, values);
}

int kora_copy_next(int slot, const char* path, unsigned char* count4,
                   const char* index_dir) noexcept {
  return command::copy_next(slot, path, count4, index_dir);
}

}  // extern "C"
