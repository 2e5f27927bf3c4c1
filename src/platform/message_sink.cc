// The message sink that stands for the library's message boxes.
#include <cstdio>
#include <mutex>

#include "platform/platform.h"

namespace virazav::platform {
namespace {

struct Sink {
  std::mutex mu;
  MessageHandler fn = nullptr;  // guarded by mu
  void* user = nullptr;         // guarded by mu
};
Sink g_sink;

}  // namespace

void show_message(const char* text, const char* caption) {
  MessageHandler fn;
  void* user;
  {
    std::lock_guard<std::mutex> lock(g_sink.mu);
    fn = g_sink.fn;
    user = g_sink.user;
  }
  if (fn) {
    fn(text ? text : "", caption ? caption : "", user);
    return;
  }
  std::fprintf(stderr, "VIRAZAV: %s: %s\n", caption ? caption : "", text ? text : "");
}

void set_message_handler(MessageHandler fn, void* user) {
  std::lock_guard<std::mutex> lock(g_sink.mu);
  g_sink.fn = fn;
  g_sink.user = user;
}

}  // namespace virazav::platform
