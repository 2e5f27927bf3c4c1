// The connection table and the login: the login connection with its greeting
// and password, the command connection opened with the link ID, and the close.
#include <cstdio>
#include <cstring>

#include "command/connection.h"
#include "command/tcpetc.h"
#include "diag/log.h"
#include "virazav.h"

namespace virazav::command {
namespace {

constexpr char kSource[] = "tcpctrl";
constexpr int kLoginPolls = 200;  // 1 ms each
constexpr int kLinkPolls = 1000;  // 10 ms each
constexpr int kLinkPollMs = 10;
constexpr uint32_t kNotAnAddress = 0xFFFFFFFFu;

Slot g_slots[kSlotCount];

// LoginConnectThread: one blocking connect of the login socket.
void login_connect_thread(int slot) {
  Slot& st = g_slots[slot];
  st.login_state.store(1);
  uint32_t address = parse_address(st.address);
  int r = platform::connect_ipv4(st.login_socket, address, static_cast<uint16_t>(st.login_port));
  st.login_result.store(r == 0 ? 0 : -1);
  int expected = 1;
  if (!st.login_state.compare_exchange_strong(expected, 0)) {
    // The caller stopped waiting: the socket is this thread's to close.
    platform::close_socket(st.login_socket);
    st.login_socket = platform::kInvalidSocket;
    st.login_state.store(0);
  }
}

// Ends a link attempt: publishes the outcome unless the caller has given up,
// in which case the thread releases what it holds.
void finish_link(Slot& st, int code, platform::Socket sock, bool net_ref,
                 const TokenTable* answer = nullptr) {
  int expected = kPhaseRunning;
  if (!st.link_phase.compare_exchange_strong(expected, kPhasePublishing)) {
    platform::close_socket(sock);
    if (net_ref) platform::net_cleanup();
    st.link_phase.store(kPhaseIdle);
    return;
  }
  // Every result is in place before the caller, waiting for Done, reads it.
  if (answer != nullptr) st.reply = *answer;
  if (code == 0) {
    st.command_socket = sock;
    st.link_result.store(0);
    st.link_established.store(1);
  } else {
    platform::close_socket(sock);
    if (net_ref) platform::net_cleanup();
    st.link_result.store(code);
  }
  st.link_phase.store(kPhaseDone);
}

// LinkConnectThread: opens the command connection and presents the link ID.
void link_connect_thread(int slot) {
  Slot& st = g_slots[slot];
  // Everything the thread needs is copied before the hand-over: once the start
  // flag drops, the caller may give up and a new login may rewrite the slot.
  char address[kMaxAddressLength + 1];
  std::memcpy(address, st.address, sizeof address);
  const uint16_t port = static_cast<uint16_t>(st.command_port);
  char line[kTokenSize + 8];
  const int n = std::snprintf(line, sizeof line, "ID = %s\n", st.login_tokens.token[10]);
  st.link_start.store(0);

  if (st.link_established.load() == 1)
    return finish_link(st, VIRAZAV_ERR_LINK_ESTABLISHED, -1, false);
  if (platform::net_startup() != 0) return finish_link(st, VIRAZAV_ERR_NET_STARTUP, -1, false);
  uint32_t ip = parse_address(address);
  if (ip == kNotAnAddress) return finish_link(st, VIRAZAV_ERR_BAD_ADDRESS, -1, true);
  platform::Socket s = platform::tcp_socket();
  if (s == platform::kInvalidSocket) return finish_link(st, VIRAZAV_ERR_CONNECT, s, true);
  if (platform::bind_any(s) != 0 || platform::connect_ipv4(s, ip, port) != 0) {
    return finish_link(st, VIRAZAV_ERR_CONNECT, s, true);
  }
  if (platform::set_nonblocking(s, true) != 0)
    return finish_link(st, VIRAZAV_ERR_NONBLOCKING, s, true);

  platform::send_bytes(s, line, static_cast<size_t>(n));
  char reply[kReplyBufferSize + 1];
  int r = receive_reply(s, reply);
  if (r <= 0) return finish_link(st, VIRAZAV_ERR_LINK_NO_ANSWER, s, true);
  reply[r] = '\0';
  TokenTable answer = st.reply;
  answer.count = 0;
  split_tokens(reply, kDelimLogin, &answer);
  int code = std::strcmp(answer.token[0], "OK") == 0 ? 0 : VIRAZAV_ERR_LINK_NOT_OK;
  finish_link(st, code, s, true, &answer);
}

// Closes the login socket, gives back the call's socket reference, and returns
// `code`, reported unless it is one of the receive time-outs.
int fail_login(Slot& st, int code, bool report) {
  platform::close_socket(st.login_socket);
  st.login_socket = platform::kInvalidSocket;
  platform::net_cleanup();
  return report ? VZ_REPORT(kSource, code) : code;
}

// Runs the link step of kora_connect. Returns 0 when the command connection is
// established, the link thread's code, or -7 when it did not finish in time.
int establish_link(Slot& st, int slot) {
  if (st.link_established.load() == 1) return 0;
  // A link thread of an earlier call that is still connecting owns its socket.
  if (st.link_phase.load() != kPhaseIdle && st.link_phase.load() != kPhaseDone) {
    return VIRAZAV_ERR_CONNECT;
  }
  st.link_result.store(0);
  st.link_phase.store(kPhaseRunning);
  st.link_start.store(1);
  if (!platform::start_detached_thread(link_connect_thread, slot)) {
    st.link_start.store(0);
    st.link_phase.store(kPhaseIdle);
    return VIRAZAV_ERR_CONNECT;
  }
  for (int i = 0; i < kLinkPolls && st.link_start.load() != 0; ++i) platform::sleep_ms(kLinkPollMs);
  // Counted polls, as the recorder software always waited: their overhead
  // keeps the wait a little longer than the link thread's own 10 s reply
  // limit, so a recorder that never answers the link ID gives -235.
  for (int i = 0; i < kLinkPolls && st.link_phase.load() == kPhaseRunning; ++i) {
    platform::sleep_ms(kLinkPollMs);
  }
  int expected = kPhaseRunning;
  if (st.link_phase.compare_exchange_strong(expected, kPhaseAbandoned)) return VIRAZAV_ERR_CONNECT;
  // The thread won the race and is writing its results: a matter of moments.
  while (st.link_phase.load() == kPhasePublishing) platform::sleep_ms(1);
  return st.link_established.load() == 1 ? 0 : st.link_result.load();
}

}  // namespace

Slot& slot_state(int slot) {
  return g_slots[slot];
}

uint32_t parse_dotted_address(const char* text) {
  if (text == nullptr || *text == '\0') return kNotAnAddress;
  uint32_t parts[4] = {0, 0, 0, 0};
  int part = 0;
  int digits = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') {
      parts[part] = parts[part] * 10 + static_cast<uint32_t>(*p - '0');
      if (++digits > 3 || parts[part] > 255) return kNotAnAddress;
    } else if (*p == '.') {
      if (part == 3) break;  // a fourth dot ends the walk
      ++part;
      digits = 0;
    } else {
      return kNotAnAddress;
    }
  }
  return parts[0] | parts[1] << 8 | parts[2] << 16 | parts[3] << 24;
}

uint32_t parse_address(const char* text) {
  uint32_t a = parse_dotted_address(text);
  if (a != kNotAnAddress) return a;
  return platform::system_inet_addr(text);
}

int read_greeting(const char* text, TokenTable* tokens) {
  tokens->count = 0;
  split_tokens(text, kDelimLogin, tokens);
  return std::strcmp(tokens->token[0], "Busy") == 0 ? VIRAZAV_ERR_FAIL : 0;
}

int read_login_reply(const char* text, TokenTable* tokens, uint8_t* info, int* port) {
  split_tokens(text, kDelimLogin, tokens);  // appended behind the greeting's tokens
  if (std::strcmp(tokens->token[8], "OK") != 0) return VIRAZAV_ERR_PASSWORD_REFUSED;
  if (info != nullptr) {
    // The information text is at most 127 bytes from a 255-digit token.
    info[0] = '\0';
    decode_hex_text(tokens->token[4], info, kInfoSize);
  }
  if (tokens->count < 10) return VIRAZAV_ERR_FAIL;
  *port = static_cast<int>(hex_to_value(tokens->token[9]));
  return 0;
}

int connect_slot(int slot, const char* address, const char* password, uint8_t* info) {
  diag::log_value("kora_connect", static_cast<uint32_t>(slot));
  if (!slot_in_range(slot)) return VZ_REPORT(kSource, VIRAZAV_ERR_SLOT_RANGE);
  Slot& st = g_slots[slot];
  st.login_port = kLoginPortBase + 2 * slot;
  if (st.connected.load() == 1) return VZ_REPORT(kSource, VIRAZAV_ERR_ALREADY_CONNECTED);
  if (address == nullptr || *address == '\0') return VZ_REPORT(kSource, VIRAZAV_ERR_NO_ADDRESS);
  if (std::strlen(address) > kMaxAddressLength) return VZ_REPORT(kSource, VIRAZAV_ERR_BAD_ADDRESS);
  if (password != nullptr && std::strlen(password) > kMaxPasswordLength) {
    return VZ_REPORT(kSource, VIRAZAV_ERR_PASSWORD_TOO_LONG);
  }

  if (platform::net_startup() != 0) return VZ_REPORT(kSource, VIRAZAV_ERR_NET_STARTUP);
  uint32_t ip = parse_address(address);
  diag::log_value("kora_connect_ip", ip);
  if (ip == kNotAnAddress) {
    platform::net_cleanup();
    return VZ_REPORT(kSource, VIRAZAV_ERR_BAD_ADDRESS);
  }
  // A login connect of an earlier call that is still pending reads the slot's
  // address and owns its login socket.
  if (st.login_state.load() != 0) {
    platform::net_cleanup();
    return VZ_REPORT(kSource, VIRAZAV_ERR_CONNECT);
  }
  std::snprintf(st.address, sizeof st.address, "%s", address);

  st.login_socket = platform::tcp_socket();
  if (st.login_socket == platform::kInvalidSocket) {
    platform::net_cleanup();
    return VZ_REPORT(kSource, VIRAZAV_ERR_CONNECT);
  }
  if (platform::bind_any(st.login_socket) != 0) return fail_login(st, VIRAZAV_ERR_CONNECT, true);
  st.login_result.store(-1);
  st.login_state.store(2);
  if (!platform::start_detached_thread(login_connect_thread, slot)) {
    st.login_state.store(0);
    return fail_login(st, VIRAZAV_ERR_CONNECT, true);
  }
  while (st.login_state.load() == 2) platform::sleep_ms(1);
  for (int i = 0; i < kLoginPolls && st.login_state.load() != 0; ++i) platform::sleep_ms(1);
  int expected = 1;
  if (st.login_state.compare_exchange_strong(expected, 3)) {
    // The connect is still under way; the login thread closes the socket when
    // it returns, and the slot refuses new logins until then.
    platform::net_cleanup();
    return VZ_REPORT(kSource, VIRAZAV_ERR_CONNECT);
  }
  if (st.login_result.load() != 0) return fail_login(st, VIRAZAV_ERR_CONNECT, true);
  if (platform::set_nonblocking(st.login_socket, true) != 0) {
    return fail_login(st, VIRAZAV_ERR_NONBLOCKING, true);
  }

  char text[kReplyBufferSize + 1];
  int r = receive_reply(st.login_socket, text);
  if (r <= 0) return fail_login(st, VIRAZAV_ERR_NO_GREETING, false);
  text[r] = '\0';
  if (read_greeting(text, &st.login_tokens) != 0) return fail_login(st, VIRAZAV_ERR_FAIL, true);

  // An empty password goes out as 32 '0' digits, the form a padded short one has.
  char hex[2 * kMaxPasswordLength + 1 + 32];
  if (password == nullptr || *password == '\0') {
    std::memset(hex, '0', 32);
    hex[32] = '\0';
  } else {
    encode_hex_text(password, hex);
  }
  char line[sizeof hex + 16];
  int n = std::snprintf(line, sizeof line, "PASSWORD %s\n", hex);
  platform::send_bytes(st.login_socket, line, static_cast<size_t>(n));

  r = receive_reply(st.login_socket, text);
  if (r <= 0) return fail_login(st, VIRAZAV_ERR_NO_LOGIN_REPLY, false);
  text[r] = '\0';
  int port = 0;
  int verdict = read_login_reply(text, &st.login_tokens, info, &port);
  if (verdict == VIRAZAV_ERR_PASSWORD_REFUSED) {
    VZ_REPORT(kSource, VIRAZAV_ERR_FAIL);
    return fail_login(st, verdict, false);
  }
  if (verdict != 0) return fail_login(st, verdict, true);
  st.command_port = port;

  int link = establish_link(st, slot);
  platform::close_socket(st.login_socket);
  st.login_socket = platform::kInvalidSocket;
  platform::net_cleanup();
  if (link != 0) return VZ_REPORT(kSource, link);
  st.connected.store(1);
  diag::log_value("kora_connect_success", static_cast<uint32_t>(slot));
  return 0;
}

int unconnect_slot(int slot) {
  diag::log_value("kora_unconnect", static_cast<uint32_t>(slot));
  if (!slot_in_range(slot)) return VZ_REPORT(kSource, VIRAZAV_ERR_SLOT_RANGE);
  Slot& st = g_slots[slot];
  if (st.connected.load() == 0) return VZ_REPORT(kSource, VIRAZAV_ERR_NOT_CONNECTED);
  platform::close_socket(st.command_socket);
  st.command_socket = platform::kInvalidSocket;
  platform::sleep_ms(50);
  platform::net_cleanup();
  st.link_established.store(0);
  st.link_phase.store(kPhaseIdle);
  st.connected.store(0);
  return 0;
}

}  // namespace virazav::command
