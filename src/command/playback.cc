// The recorder's own playback (control, search, play pointer), its menus,
// status words, play lists and disk list, and the reboot.
#include <cstdio>
#include <cstring>

#include "command/commands.h"
#include "command/connection.h"
#include "command/tcpetc.h"
#include "platform/platform.h"
#include "virazav.h"

namespace virazav::command {
namespace {

constexpr CommandForm kPlain{};
constexpr int kMenuDelayMs = 1000;
constexpr int kMenuLimitMs = 180000;
constexpr int kListLimitMs = 30000;
constexpr size_t kListBufferSize = 131072;

int token2_or(int slot, int rc) {
  return rc != 0 ? rc : static_cast<int>(reply_value(slot, 2));
}

// Writes `n` bytes to `path`, emptying it first. Returns 0 or -1.
int write_whole_file(const std::string& path, const void* data, size_t n) {
  platform::File f = platform::File::open(path, platform::OpenMode::kWriteTruncate);
  if (!f.is_open()) return -1;
  return f.write(data, n);
}

}  // namespace

int rx_menu_data(int slot, int menu, uint8_t* data) {
  int rc = exchange(slot, kPlain, "SendMenu %02X\n", menu);
  if (rc != 0) return rc;
  const uint32_t size = reply_value(slot, 2);
  send_plain_line(slot, "dummy\n");
  platform::sleep_ms(kMenuDelayMs);
  // One receive of at most 1 MiB: the caller's buffer gets at most that much.
  receive_block_into(slot_state(slot).command_socket, slot, data, size, kMenuLimitMs);
  return static_cast<int>(size);
}

int rx_status(int slot, int item) {
  int rc = exchange(slot, kPlain, "SendStatus %02X\n", item);
  return rc != 0 ? rc : static_cast<int>(reply_value(slot, 3));
}

int ctrl_play(int slot, int control) {
  return token2_or(slot, exchange(slot, kPlain, "ControlPlay %02X\n", control));
}

int play_search(int slot, int year, int f2, int f3, int f4, int f5, int f6) {
  // The seventh field has no source value; the recorder reads it as 00.
  return token2_or(slot, exchange(slot, kPlain, "PlaySearch %04d %02d %02d %02d %02d %02d %02d\n",
                                  year, f2, f3, f4, f5, f6, 0));
}

int rx_playlist(int slot, int list) {
  int rc = exchange(slot, kPlain, "GetPlayList %02X\n", list);
  if (rc != 0) return rc;
  const uint32_t size = reply_value(slot, 2);
  if (size == 0) return 0;
  // A list that would not fit the list buffer is refused before the trigger, so
  // the recorder never starts sending it.
  if (size > kListBufferSize) return VIRAZAV_ERR_LIST_TOO_LARGE;
  platform::Buffer buffer(kListBufferSize);
  if (!buffer.ok()) return VIRAZAV_ERR_NO_MEMORY;

  send_plain_line(slot, "JpegSendStart\n");
  char name[32];
  std::snprintf(name, sizeof name, "list%x.txt", static_cast<unsigned>(list));
  const std::string path = platform::join_path("img", name);
  // The file reads "0" while the list is on its way.
  int file_rc = write_whole_file(path, "0\n", 2);
  receive_block_into(slot_state(slot).command_socket, slot, buffer.data(), size, kListLimitMs);
  if (write_whole_file(path, buffer.data(), size) != 0) file_rc = -1;
  return file_rc == 0 ? static_cast<int>(size) : VIRAZAV_ERR_LIST_FILE;
}

int set_play_pointer(int slot, uint32_t a, uint32_t b) {
  return token2_or(slot, exchange(slot, kPlain, "SetPlayPointer %08X %08X\n", a, b));
}

int rx_hdd_list(int slot, uint32_t a, uint32_t b) {
  return token2_or(slot, exchange(slot, kPlain, "ReadHddList %08X %08X\n", a, b));
}

int re_boot(int slot) {
  return token2_or(slot, exchange(slot, kPlain, "ReBoot \n"));
}

}  // namespace virazav::command
