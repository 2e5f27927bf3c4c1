// The message sink that stands for the library's message boxes, and the trace
// sink that its trace lines go to.
#include <cstdio>
#include <string>

#include "platform/mutex.h"
#include "platform/platform.h"

namespace virazav::platform {
namespace {

struct Sink {
  Mutex mu;
  MessageHandler fn VZ_GUARDED_BY(mu) = nullptr;
  void* user VZ_GUARDED_BY(mu) = nullptr;
};
Sink g_sink;

struct TraceSink {
  Mutex mu;
  TraceHandler fn VZ_GUARDED_BY(mu) = nullptr;
  void* user VZ_GUARDED_BY(mu) = nullptr;
};
TraceSink g_trace;

// The trace text of this thread since its last "\n". A line traced in pieces
// (a skip's result, then what the skip does next) reaches the sink whole, and
// the pieces of two threads never share a line.
thread_local std::string t_partial_line;

void emit_line(const std::string& line) {
  TraceHandler fn;
  void* user;
  {
    MutexLock lock(g_trace.mu);
    fn = g_trace.fn;
    user = g_trace.user;
  }
  if (fn) {
    fn(line.c_str(), user);
    return;
  }
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

void show_message(const char* text, const char* caption) {
  MessageHandler fn;
  void* user;
  {
    MutexLock lock(g_sink.mu);
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
  MutexLock lock(g_sink.mu);
  g_sink.fn = fn;
  g_sink.user = user;
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
  MutexLock lock(g_trace.mu);
  g_trace.fn = fn;
  g_trace.user = user;
}

}  // namespace virazav::platform
