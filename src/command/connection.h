// The connection table: the 16 recorder slots with their login and command
// connections, and the per-slot state of the command exchange.
#pragma once

#include <atomic>
#include <cstdint>

#include "command/tcpetc.h"
#include "platform/platform.h"

namespace virazav::command {

inline constexpr int kSlotCount = 16;
inline constexpr int kLoginPortBase = 5001;
inline constexpr int kMaxAddressLength = 19;
inline constexpr int kMaxPasswordLength = 63;
inline constexpr int kInfoSize = 128;

// Worker hand-over states of a login or link connect.
// Running → Publishing → Done when the worker finishes first (it writes its
// results while Publishing); Running → Abandoned when the caller stops waiting
// first (the worker then releases what it holds and returns to Idle).
enum WorkerPhase : int {
  kPhaseIdle = 0,
  kPhaseRunning = 1,
  kPhaseDone = 2,
  kPhaseAbandoned = 3,
  kPhasePublishing = 4
};

struct Slot {
  char address[kMaxAddressLength + 1] = {};
  int login_port = 0;
  platform::Socket login_socket = platform::kInvalidSocket;
  // 2: login thread started, not yet running; 1: connecting; 0: idle or
  // finished; 3: the caller gave up waiting and the thread closes the socket.
  std::atomic<int> login_state{0};
  std::atomic<int> login_result{0};
  TokenTable login_tokens;
  int command_port = 0;

  std::atomic<int> link_start{0};
  std::atomic<int> link_established{0};
  std::atomic<int> link_result{0};
  std::atomic<int> link_phase{kPhaseIdle};

  platform::Socket command_socket = platform::kInvalidSocket;
  std::atomic<int> connected{0};

  char command_id[128] = {};
  TokenTable reply;
  uint8_t* carry = nullptr;  // 2 MiB, allocated on first use, kept
  size_t carry_offset = 0;
  size_t carry_left = 0;
};

inline bool slot_in_range(int slot) {
  return slot >= 0 && slot < kSlotCount;
}
// The table entry of a slot in 0..15.
Slot& slot_state(int slot);

// Parses a dotted-decimal IPv4 address: up to 4 parts of at most 3 digits and
// 255, missing parts 0, part 1 in the lowest byte. Returns the address or
// 0xFFFFFFFF (-1) when the text is not one.
uint32_t parse_dotted_address(const char* text);
// parse_dotted_address, then the system's parser; 0xFFFFFFFF when neither
// takes the text.
uint32_t parse_address(const char* text);

// Splits the login greeting into `tokens` (count reset). Returns 0, or -1 when
// the recorder says it is busy.
int read_greeting(const char* text, TokenTable* tokens);
// Appends the tokens of the reply to the password behind the greeting's and
// reads it: returns 0 and stores the command port (token 9) in *port and the
// decoded information text (token 4, at most 128 bytes with the zero) in info
// when given; VIRAZAV_ERR_PASSWORD_REFUSED when token 8 is not "OK"; -1 when
// there are fewer than 10 tokens in all.
int read_login_reply(const char* text, TokenTable* tokens, uint8_t* info, int* port);

// kora_connect and kora_unconnect.
int connect_slot(int slot, const char* address, const char* password, uint8_t* info);
int unconnect_slot(int slot);

}  // namespace virazav::command
