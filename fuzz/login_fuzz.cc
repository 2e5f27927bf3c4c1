// A login greeting and the reply to the password, as a recorder (or anything
// listening on its port) may send them.  The input is split at the first 0xFF
// byte into the two texts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "command/connection.h"
#include "command/tcpetc.h"

using namespace virazav::command;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* cut = static_cast<const uint8_t*>(std::memchr(data, 0xFF, size));
  size_t first = cut ? static_cast<size_t>(cut - data) : size;
  std::string greeting(reinterpret_cast<const char*>(data),
                       first < kReplyBufferSize ? first : kReplyBufferSize);
  std::string reply;
  if (cut) {
    size_t rest = size - first - 1;
    reply.assign(reinterpret_cast<const char*>(cut + 1),
                 rest < kReplyBufferSize ? rest : kReplyBufferSize);
  }
  TokenTable tokens;
  if (read_greeting(greeting.c_str(), &tokens) != 0) return 0;
  uint8_t info[kInfoSize + 16];
  std::memset(info, 0xAA, sizeof info);
  int port = -1;
  read_login_reply(reply.c_str(), &tokens, info, &port);
  // The information text stays inside its 128 bytes.
  for (size_t i = kInfoSize; i < sizeof info; ++i) {
    if (info[i] != 0xAA) __builtin_trap();
  }
  if (tokens.count > kMaxTokens) __builtin_trap();
  return 0;
}
