// GetTime and SetTime, and the camera, disk, JPEG and combined switch commands.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command/commands.h"
#include "command/connection.h"
#include "command/tcpetc.h"
#include "diag/log.h"
#include "platform/platform.h"
#include "virazav.h"

namespace virazav::command {
namespace {

constexpr CommandForm kPlain{};
constexpr CommandForm kThreeTries{kDelimCommand, 3, false};
// The setters that the recorder may answer late are tried five times and
// return the receive code itself.
constexpr CommandForm kFiveTriesCode{kDelimCommand, 5, true};
constexpr int kJpegResetMarker = 99;
constexpr int kJpegResetWaitMs = 4000;

int token3_or(int slot, int rc) {
  return rc != 0 ? rc : static_cast<int>(reply_value(slot, 3));
}

}  // namespace

int get_time(int slot, char* date, char* time) {
  constexpr CommandForm kTime{kDelimTime, 1, false};
  int rc = exchange(slot, kTime, "GetTime\n");
  if (rc != 0) return rc;
  const char* d = reply_token(slot, 2);
  if (date != nullptr) {
    if (std::strlen(d) == 8) {
      // A two-digit year: 00..79 is this century, 80..99 the last.
      long year = std::strtol(d, nullptr, 10);
      std::snprintf(date, 11, "%s%s", year < 80 ? "20" : "19", d);
    } else {
      std::memcpy(date, d, std::strlen(d) + 1);
    }
  }
  if (time != nullptr) {
    const char* t = reply_token(slot, 3);
    std::memcpy(time, t, std::strlen(t) + 1);
  }
  return 0;
}

int set_time(int slot, const char* date, const char* time) {
  return exchange(slot, kPlain, "SetTime %s %s\n", date ? date : "", time ? time : "");
}

int cam_sw_get(int slot, int item) {
  return token3_or(slot, exchange(slot, kThreeTries, "CamSwGet %06X\n", item));
}

int cam_sw_set(int slot, int a, int b) {
  diag::LogEntry("kora_cam_swset").values3(slot, a, b);
  return token3_or(slot, exchange(slot, kFiveTriesCode, "CamSwSet %02X %02X\n", a, b));
}

int hd_sw_get(int slot, int item) {
  return token3_or(slot, exchange(slot, kPlain, "HDSwGet %06X\n", item));
}

int hd_sw_set(int slot, int a, int b) {
  diag::LogEntry("kora_hd_swset").values3(slot, a, b);
  return token3_or(slot, exchange(slot, kFiveTriesCode, "HDSwSet %02X %02X\n", a, b));
}

int jpeg_sw_get(int slot, int item) {
  return token3_or(slot, exchange(slot, kPlain, "JpegSwGet %06X\n", item));
}

int jpeg_sw_set(int slot, int a, int b) {
  diag::LogEntry("kora_jpeg_swset").values3(slot, a, b);
  if (a != kJpegResetMarker)
    return token3_or(slot, exchange(slot, kPlain, "JpegSwSet %02X %04X\n", a, b));
  // Item 99 makes the recorder restart its JPEG side: the line goes out, no
  // reply is awaited, and any late reply stays in the socket.
  CommandForm no_wait = kPlain;
  no_wait.tries = 0;
  int rc = exchange(slot, no_wait, "JpegSwSet %02X %04X\n", a, b);
  if (rc != 0) return rc;
  platform::sleep_ms(kJpegResetWaitMs);
  on_receive_failure(slot);
  return VIRAZAV_ERR_JPEG_RESET;
}

int combi_set(int slot, int w1, int w2, int w3, int w4, int w5) {
  return token3_or(
      slot, exchange(slot, kPlain, "CombiSwSet %04X %04X %04X %04X %04X\n", w1, w2, w3, w4, w5));
}

int combi_get(int slot, uint32_t* p1, uint32_t* p2, uint32_t* p3, uint32_t* p4, int w5) {
  // The sixth field has no source value; the recorder reads it as 0000.
  int rc = exchange(slot, kPlain, "CombiSwGet %02X %04X %04X %04X %04X %04X\n", p1 ? *p1 : 0u,
                    p2 ? *p2 : 0u, p3 ? *p3 : 0u, p4 ? *p4 : 0u, static_cast<unsigned>(w5), 0u);
  if (rc != 0) return rc;
  uint32_t v2 = reply_value(slot, 2), v3 = reply_value(slot, 3), v4 = reply_value(slot, 4),
           v5 = reply_value(slot, 5);
  if (p1) *p1 = v5;
  if (p2) *p2 = v2;
  if (p3) *p3 = v3;
  if (p4) *p4 = v4;
  return 0;
}

}  // namespace virazav::command
