// Reply tokenizing and the hexadecimal conversions of the command protocol.
#include <cstring>

#include "command/tcpetc.h"

namespace virazav::command {
namespace {

constexpr char kSource[] = "Tcpetc";

bool is_alnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int alnum_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return c - 'a' + 10;
}

// '0'..'9' and 'A'..'Z' (code − 55); -1 for anything else. Lower case is not a
// digit here: the recorder writes upper case.
int pair_digit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 55;
  return -1;
}

}  // namespace

int error_report(const char* /*file*/, int /*line*/, int code) {
  return code;
}

void on_receive_failure(int /*slot*/) {}

void split_tokens(const char* text, const char* delims, TokenTable* table) {
  if (text == nullptr || table == nullptr) return;
  const char* p = text;
  for (;;) {
    p += std::strspn(p, delims);
    if (*p == '\0') return;
    size_t len = std::strcspn(p, delims);
    if (table->count < kMaxTokens) {
      size_t keep = len < kTokenSize - 1 ? len : kTokenSize - 1;
      char* dst = table->token[table->count];
      std::memcpy(dst, p, keep);
      dst[keep] = '\0';
      ++table->count;
    }
    p += len;
  }
}

uint32_t hex_to_value(const char* text, const char** end) {
  if (text == nullptr) {
    VZ_REPORT(kSource, 0);
    return 0;
  }
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0' && !is_alnum(*p)) ++p;
  uint32_t v = 0;
  while (is_alnum(*p)) v = v * 16u + static_cast<uint32_t>(alnum_value(*p++));
  if (end) *end = reinterpret_cast<const char*>(p);
  return v;
}

int encode_hex_text(const char* text, char* out) {
  if (text == nullptr || *text == '\0' || out == nullptr) return VZ_REPORT(kSource, -1);
  static const char kDigits[] = "0123456789ABCDEF";
  int n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    out[n++] = kDigits[*p >> 4];
    out[n++] = kDigits[*p & 15];
  }
  int digits = n;
  while (n < 32) out[n++] = '0';
  out[n] = '\0';
  return digits;
}

int decode_hex_text(const char* text, uint8_t* out, size_t out_size) {
  if (out == nullptr || out_size == 0 || text == nullptr || *text == '\0') {
    return VZ_REPORT(kSource, -1);
  }
  size_t n = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  // One byte of the output stays for the terminator.
  while (n + 1 < out_size) {
    int hi = pair_digit(p[0]);
    if (hi < 0) return VZ_REPORT(kSource, -2);
    // An odd text ends on a lone high digit: its low half reads the terminator,
    // which is not a digit.
    int lo = pair_digit(p[1]);
    if (lo < 0) return VZ_REPORT(kSource, -2);
    out[n++] = static_cast<uint8_t>(hi * 16 + lo);
    p += 2;
    if (*p == '\0') break;
  }
  out[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace virazav::command
