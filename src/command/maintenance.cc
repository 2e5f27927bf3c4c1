// The memory, I2C and Nvc value commands and the update upload.
#include <atomic>
#include <cstring>

#include "command/commands.h"
#include "command/connection.h"
#include "command/tcpetc.h"
#include "platform/platform.h"
#include "virazav.h"

namespace virazav::command {
namespace {

constexpr CommandForm kPlain{};
constexpr size_t kUpdateMax = 8388608;  // 8 MiB of file content
constexpr size_t kUpdateChunk = 65536;

struct Progress {
  std::atomic<ProgressFn> fn{nullptr};
  std::atomic<void*> user{nullptr};
};
Progress g_progress;

int token3_or(int slot, int rc) {
  return rc != 0 ? rc : static_cast<int>(reply_value(slot, 3));
}

// Sends all n bytes on the non-blocking socket, waiting up to the reply limit
// whenever the socket takes nothing. Returns 0, or the negative socket code
// (-10035 when a stall outlasts the limit).
int send_all(platform::Socket s, const uint8_t* data, size_t n) {
  size_t sent = 0;
  report_progress(0, static_cast<int64_t>(n));
  while (sent < n) {
    size_t want = n - sent < kUpdateChunk ? n - sent : kUpdateChunk;
    long r = platform::send_bytes(s, data + sent, want);
    if (r > 0) {
      sent += static_cast<size_t>(r);
      report_progress(static_cast<int64_t>(sent), static_cast<int64_t>(n));
      continue;
    }
    int e = r == 0 ? platform::kWsaDisconnected : platform::last_socket_error();
    if (e != platform::kWsaWouldBlock) return -e;
    int w = platform::wait_writable(s, kReplyTimeoutMs);
    if (w == 0) return -platform::kWsaWouldBlock;
    if (w < 0) platform::sleep_ms(1);
  }
  return 0;
}

}  // namespace

void set_progress_handler(ProgressFn fn, void* user) {
  g_progress.user.store(user);
  g_progress.fn.store(fn);
}

void report_progress(int64_t done, int64_t total) {
  ProgressFn fn = g_progress.fn.load();
  if (fn) fn(done, total, g_progress.user.load());
}

int mem_get(int slot, uint32_t a, uint32_t b) {
  return token3_or(slot, exchange(slot, kPlain, "MemGet %06X %06X\n", a, b));
}
int mem_set(int slot, uint32_t a, uint32_t b, uint32_t c) {
  return token3_or(slot, exchange(slot, kPlain, "MemSet %02X %04X %04X\n", a, b, c));
}
int i2c_get(int slot, uint32_t a, uint32_t b) {
  return token3_or(slot, exchange(slot, kPlain, "I2cGet %06X %04X\n", a, b));
}
int i2c_set(int slot, uint32_t a, uint32_t b, uint32_t c) {
  return token3_or(slot, exchange(slot, kPlain, "I2cSet %04X %04X %04X\n", a, b, c));
}
int nvc_get(int slot, uint32_t a, uint32_t b, uint32_t c) {
  return token3_or(slot, exchange(slot, kPlain, "NvcGet %04X %04X %04X\n", a, b, c));
}
int nvc_set(int slot, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return token3_or(slot, exchange(slot, kPlain, "NvcSet %04X %04X %04X %04X\n", a, b, c, d));
}

int update(int slot, const char* file_name, int kind) {
  if (!slot_in_range(slot)) return VIRAZAV_ERR_SLOT_RANGE;
  if (slot_state(slot).connected.load() == 0) return VIRAZAV_ERR_NOT_CONNECTED;
  // The content and the zero byte announced behind it.
  platform::Buffer data(kUpdateMax + 1);
  if (!data.ok()) return VIRAZAV_ERR_NO_MEMORY;
  if (file_name == nullptr) return VIRAZAV_ERR_FAIL;
  platform::File f = platform::File::open(file_name, platform::OpenMode::kRead);
  if (!f.is_open()) return VIRAZAV_ERR_FAIL;
  size_t n = 0;
  while (n < kUpdateMax) {
    long r = f.read(data.data() + n, kUpdateMax - n);
    if (r <= 0) break;
    n += static_cast<size_t>(r);
  }
  f.close();
  if (n == 0) return VIRAZAV_ERR_EMPTY_FILE;

  CommandForm form;
  form.report_slot_errors = false;
  int rc = exchange(slot, form, "SendUpdate %02X %08X\n", static_cast<unsigned>(kind),
                    static_cast<unsigned>(n + 1));
  if (rc != 0) return rc;
  rc = send_all(slot_state(slot).command_socket, data.data(), n + 1);
  return rc != 0 ? rc : static_cast<int>(n);
}

}  // namespace virazav::command
