// Replies from a recorder through the tokenizer of each delimiter set and the
// hexadecimal readers, as the commands read them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "command/tcpetc.h"

using namespace virazav::command;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A reply is at most one 2200-byte receive, terminated by the exchange.
  size_t n = size < kReplyBufferSize ? size : kReplyBufferSize;
  std::vector<char> text(data, data + n);
  text.push_back('\0');
  for (const char* delims : {kDelimCommand, kDelimTime, kDelimLogin}) {
    TokenTable t;
    split_tokens(text.data(), delims, &t);
    split_tokens(text.data(), delims, &t);  // appending runs on
    if (t.count > kMaxTokens) __builtin_trap();
    for (int i = 0; i < kMaxTokens; ++i) {
      if (std::strlen(t.token[i]) >= kTokenSize) __builtin_trap();
      const char* end = nullptr;
      hex_to_value(t.token[i], &end);
      if (end < t.token[i] || end > t.token[i] + std::strlen(t.token[i])) __builtin_trap();
      uint8_t out[128];
      int r = decode_hex_text(t.token[i], out, sizeof out);
      if (r > 127) __builtin_trap();
      char hex[2 * kTokenSize + 33];
      encode_hex_text(t.token[i], hex);
    }
  }
  uint8_t whole[64];
  decode_hex_text(text.data(), whole, sizeof whole);
  return 0;
}
