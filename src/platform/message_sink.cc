// The message sink that stands for the library's message boxes, and the trace
// sink that its trace lines go to.
#include <cstdio>
#include <string>

#include "platform/mutex.h"
#include "platform/platform.h"

namespace virazav::platform {
namespace {

// An application's handler and its user pointer, replaced and read as one.
template <typename Fn>
class HandlerSlot {
 public:
  struct Handler {
    Fn fn;
    void* user;
  };
  void set(Fn fn, void* user) {
    MutexLock lock(mu_);
    fn_ = fn;
    user_ = user;
  }
  // The pair set last. The handler is called after the lock is given back, so
  // that a slow handler never holds up the one who replaces it.
  Handler get() {
    MutexLock lock(mu_);
    return {fn_, user_};
  }

 private:
  Mutex mu_;
  Fn fn_ VZ_GUARDED_BY(mu_) = nullptr;
  void* user_ VZ_GUARDED_BY(mu_) = nullptr;
};

HandlerSlot<MessageHandler> g_message;
HandlerSlot<TraceHandler> g_trace;

// The trace text of this thread since its last "\n". A line traced in pieces
// (a skip's result, then what the skip does next) reaches the sink whole, and
// the pieces of two threads never share a line.
thread_local std::string t_partial_line;

void emit_line(const std::string& line) {
  auto h = g_trace.get();
  if (h.fn) {
    h.fn(line.c_str(), h.user);
    return;
  }
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

void show_message(const char* text, const char* caption) {
  auto h = g_message.get();
  if (h.fn) {
    h.fn(text ? text : "", caption ? caption : "", h.user);
    return;
  }
  std::fprintf(stderr, "VIRAZAV: %s: %s\n", caption ? caption : "", text ? text : "");
}

void set_message_handler(MessageHandler fn, void* user) {
  g_message.set(fn, user);
}

void trace(const char* text) {
  if (text == nullptr || *text == '\0') return;
  std::string& pending = t_partial_line;
  pending += text;
  size_t begin = 0;
  for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n', begin)) {
    emit_line(pending.substr(begin, end + 1 - begin));
    begin = end + 1;
  }
  pending.erase(0, begin);
}

void set_trace_handler(TraceHandler fn, void* user) {
  g_trace.set(fn, user);
}

}  // namespace virazav::platform
