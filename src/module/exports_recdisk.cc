// The exports of the disk reader: drive access and the two exported index
// walks. Arguments are checked in the disk subsystem; these only forward.
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "virazav.h"

using namespace virazav;

extern "C" {

int hdd_get(int drive) noexcept {
  return recdisk::probe_drive(drive);
}
int hdd_open(int drive) noexcept {
  return recdisk::open_drive(drive);
}
int hdd_close(void) noexcept {
  recdisk::close_drive();
  return 0;
}
int hdd_read(int sector, uint32_t count, void* buffer) noexcept {
  return recdisk::read_sectors(sector, count, buffer);
}
int hdd_read_hdsw(uint32_t* values) noexcept {
  if (values == nullptr) return recdisk::kDiskReadFailed;
  return recdisk::read_sector0_words(values);
}
int get_start_time(uint32_t* words) noexcept {
  if (words == nullptr) return 0;
  // Delivered unconverted: the sector's bytes as they lie.
  return recdisk::read_sector0_raw(reinterpret_cast<uint8_t*>(words));
}
int first_section_play(void) noexcept {
  return recdisk::first_section_play();
}
int read_data(uint8_t* buffer, uint32_t* length) noexcept {
  return recdisk::read_data(buffer, length);
}

}  // extern "C"
