// Number fields and hexadecimal texts as they appear on the command connection. The
// recorder checks a field by printing the value back in the field's own format and
// comparing: that accepts exactly what the client's "%0NX" or "%0Nd" can produce.

#include <charconv>
#include <cstdio>

#include "internal.h"

namespace virazav::sim::detail {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
constexpr size_t kPasswordDigits = 32;

bool is_upper_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
}  // namespace

std::string hex_text(uint32_t value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*X", width, static_cast<unsigned>(value));
  return buf;
}

std::string dec_text(int32_t value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*d", width, static_cast<int>(value));
  return buf;
}

bool parse_hex_field(std::string_view text, int width, uint32_t* out) {
  // A 32-bit value never needs more than 8 digits.
  if (text.empty() || text.size() > 8) return false;
  for (char c : text) {
    if (!is_upper_hex(c)) return false;
  }
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (hex_text(value, width) != text) return false;
  *out = value;
  return true;
}

bool parse_dec_field(std::string_view text, int width, int32_t* out) {
  // Sign and ten digits at most for a 32-bit value.
  if (text.empty() || text.size() > 11) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (!(c >= '0' && c <= '9') && !(c == '-' && i == 0)) return false;
  }
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  if (dec_text(static_cast<int32_t>(value), width) != text) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

std::string encode_hex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

std::string password_digits(std::string_view password) {
  // A short password is padded with '0' digits to 32; an empty one is 32 '0' digits.
  std::string digits = encode_hex(password);
  if (digits.size() < kPasswordDigits) digits.append(kPasswordDigits - digits.size(), '0');
  return digits;
}

bool is_command_id(std::string_view text) {
  if (text.size() != 10 || text.substr(0, 2) != "ID") return false;
  for (char c : text.substr(2)) {
    if (!is_upper_hex(c)) return false;
  }
  return true;
}

}  // namespace virazav::sim::detail
