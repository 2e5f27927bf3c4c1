// The command exchange: one ID-tagged line out, one reply in, split and checked.
#include <cstdio>
#include <cstring>

#include "command/connection.h"
#include "command/tcpetc.h"
#include "virazav.h"

namespace virazav::command {
namespace {

constexpr char kSource[] = "tcpctrl";

void make_command_id(Slot& st) {
  std::snprintf(st.command_id, sizeof st.command_id, "ID%08X", platform::tick_ms());
}

}  // namespace

int exchange(int slot, const CommandForm& form, const char* fmt, ...) {
  if (!slot_in_range(slot)) {
    return form.report_slot_errors ? VZ_REPORT(kSource, VIRAZAV_ERR_SLOT_RANGE)
                                   : VIRAZAV_ERR_SLOT_RANGE;
  }
  Slot& st = slot_state(slot);
  if (st.connected.load() == 0) {
    return form.report_slot_errors ? VZ_REPORT(kSource, VIRAZAV_ERR_NOT_CONNECTED)
                                   : VIRAZAV_ERR_NOT_CONNECTED;
  }
  make_command_id(st);

  char line[kMaxLine];
  int head = std::snprintf(line, sizeof line, "%s ", st.command_id);
  va_list args;
  va_start(args, fmt);
  int body = std::vsnprintf(line + head, sizeof line - static_cast<size_t>(head), fmt, args);
  va_end(args);
  // A line that does not fit would go out cut; it is refused instead.
  if (body < 0 || head + body >= kMaxLine) return VZ_REPORT(kSource, VIRAZAV_ERR_LINE_TOO_LONG);
  platform::send_bytes(st.command_socket, line, static_cast<size_t>(head + body));
  if (form.tries == 0) return 0;

  char reply[kReplyBufferSize + 1];
  int r = -1;
  for (int attempt = 0; attempt < form.tries; ++attempt) {
    r = receive_reply(st.command_socket, reply);
    if (r > 0) break;
  }
  if (r <= 0) {
    on_receive_failure(slot);
    return form.return_receive_code ? r : map_receive_error(r);
  }
  reply[r] = '\0';
  st.reply.count = 0;
  split_tokens(reply, form.delims, &st.reply);
  if (st.reply.count >= 1 && std::strcmp(st.reply.token[0], st.command_id) != 0) {
    return VZ_REPORT(kSource, VIRAZAV_ERR_FOREIGN_ID);
  }
  if (st.reply.count >= 2 && std::strcmp(st.reply.token[1], "OK") != 0) {
    return VZ_REPORT(kSource, VIRAZAV_ERR_NOT_OK);
  }
  return 0;
}

void send_plain_line(int slot, const char* line) {
  if (!slot_in_range(slot) || line == nullptr) return;
  platform::send_bytes(slot_state(slot).command_socket, line, std::strlen(line));
}

uint32_t reply_value(int slot, int pos) {
  return hex_to_value(reply_token(slot, pos));
}

const char* reply_token(int slot, int pos) {
  if (!slot_in_range(slot) || pos < 0 || pos >= kMaxTokens) return "";
  return slot_state(slot).reply.token[pos];
}

const char* command_id(int slot) {
  return slot_in_range(slot) ? slot_state(slot).command_id : "";
}

}  // namespace virazav::command
