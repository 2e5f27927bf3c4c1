// The command transport: command IDs, the reply receive routines, the reply
// tokenizer, hexadecimal conversions, the error-report hook and the command
// exchange that every recorder command runs.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace virazav::command {

inline constexpr int kMaxTokens = 20;
inline constexpr int kTokenSize = 256;         // 255 characters and the zero
inline constexpr int kReplyBufferSize = 2200;  // one reply, one recv
inline constexpr int kMaxLine = 2200;          // a command line, terminator included
inline constexpr int kReplyTimeoutMs = 10000;
inline constexpr size_t kBlockSize = 1048576;      // one ReceiveBlock
inline constexpr size_t kCarryOverSize = 2097152;  // per slot

// Delimiter sets of the replies.
inline constexpr const char* kDelimCommand = " \t,:/\r\n";
inline constexpr const char* kDelimTime = " \t\r\n";
inline constexpr const char* kDelimLogin = " \t,\r\n";

// A token table: up to 20 zero-terminated tokens of at most 255 characters.
// Positions beyond the last split keep what an earlier split left there.
struct TokenTable {
  int count = 0;
  char token[kMaxTokens][kTokenSize] = {};
};

// Splits `text` at the characters of `delims` (runs count as one, leading ones
// are skipped) and appends the tokens to `table` from its current count on.
// Tokens past the 20th are dropped; a token longer than 255 characters is cut.
void split_tokens(const char* text, const char* delims, TokenTable* table);

// Reads a run of letters and digits as base 16 ('A'..'Z' and 'a'..'z' count
// 10..35), after skipping any other characters. Null text: reports and gives 0.
// Stores the position after the run in *end when end is given.
uint32_t hex_to_value(const char* text, const char** end = nullptr);

// Writes two upper-case hexadecimal digits per byte of `text`, pads with '0' up
// to 32 digits and terminates. `out` holds 2 × strlen(text) + 1 bytes, at least
// 33. Returns the number of digits before the padding, or -1 (reported,
// nothing written) for a null or empty text.
int encode_hex_text(const char* text, char* out);

// Decodes pairs of hexadecimal digits ('0'..'9', 'A'..'Z' as code − 55) into
// bytes and terminates. Writes at most out_size bytes including the zero.
// Returns the number of bytes, -1 for null/empty arguments, -2 for a character
// that is not a digit (bytes written so far stay, no terminator).
int decode_hex_text(const char* text, uint8_t* out, size_t out_size);

// The hook every failure passes through. Returns `code`.
int error_report(const char* file, int line, int code);
#define VZ_REPORT(file, code) ::virazav::command::error_report(file, __LINE__, (code))

// Called when the reply of a command could not be received.
void on_receive_failure(int slot);
// Every receive failure maps to -1 for the commands that report it so.
inline int map_receive_error(int /*code*/) {
  return -1;
}

// Receives one reply of at most 2200 bytes within 10 s. Returns the count, or
// -e for socket error e (logged as "recv_err"), -10101 when the peer closed the
// connection, -10035 after 10 s without data (logged as "recv_err2").
int receive_reply(platform::Socket s, char* buffer);

// One receive of at most 1 MiB within limit_ms. Returns the count, 0 when the
// peer closed, -e on socket error e, -10035 on time-out. No log entries.
long receive_block(platform::Socket s, uint8_t* buffer, int limit_ms);

// Receives one block into a temporary 1 MiB buffer and copies at most `size`
// bytes of it to `dest` (nothing when dest is null). Returns size, 0 when the
// peer closed or nothing came, a negative receive code, or
// VIRAZAV_ERR_NO_MEMORY. Only one recv result is taken.
long receive_block_into(platform::Socket s, int slot, uint8_t* dest, size_t size, int limit_ms);

// Delivers exactly `count` bytes through the slot's carry-over buffer. Returns
// count, fewer when the peer closed the connection, or a negative code.
long receive_exact(platform::Socket s, int slot, uint8_t* dest, size_t count);

// How a command waits for and reads its reply.
struct CommandForm {
  const char* delims = kDelimCommand;
  int tries = 1;                     // receive tries; 0 sends the line and reads no reply
  bool return_receive_code = false;  // else -1 when no reply arrives
  bool report_slot_errors = true;    // pass -127 and -10200 to error_report
};

// Runs the command exchange on `slot`: slot checks, a new command ID, the line
// "<ID> " + printf(fmt, ...) sent in one call, the reply received, split into
// the slot's ReplyTokens and checked (token 0 the ID, token 1 "OK"). Returns 0
// or the failure code.
int exchange(int slot, const CommandForm& form, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Sends a line without an ID ("dummy\n", "JpegSendStart\n") on the slot's
// command socket in one call; the result is not examined.
void send_plain_line(int slot, const char* line);

// HexToValue of the slot's reply token at `pos`.
uint32_t reply_value(int slot, int pos);
// The slot's reply token at `pos` (never null).
const char* reply_token(int slot, int pos);

// The ID of the command last sent on the slot.
const char* command_id(int slot);

}  // namespace virazav::command
