// Messages, number formats, dumps and file helpers of the virazav program.

#include "report.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "progress.h"
#include "virazav.h"

namespace virazav::cli {

int report_failure(std::string_view what, int code) {
  std::fprintf(stderr, "virazav: %.*s: %s (%d)\n", static_cast<int>(what.size()), what.data(),
               virazav_strerror(code), code);
  return kExitFailure;
}

int report_disk_failure(std::string_view what, int family, int code) {
  std::fprintf(stderr, "virazav: %.*s: %s (%d)\n", static_cast<int>(what.size()), what.data(),
               virazav_disk_strerror(family, code), code);
  return kExitFailure;
}

bool check_readable(const std::string& path, int* status) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  int saved = errno;
  if (f != nullptr) {
    // A folder opens for reading on some systems but reads nothing.
    const bool folder = std::fgetc(f) == EOF && std::ferror(f) != 0;
    saved = errno;
    std::fclose(f);
    if (!folder) return true;
  }
  *status = report_problem("open " + path, std::strerror(saved));
  return false;
}

int report_problem(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "virazav: %.*s: %.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  return kExitFailure;
}

void print_note(std::string_view text) {
  if (quiet()) return;
  std::fprintf(stderr, "virazav: note: %.*s\n", static_cast<int>(text.size()), text.data());
}

int report_usage(std::string_view command, std::string_view message) {
  std::fprintf(stderr, "virazav: %.*s\n", static_cast<int>(message.size()), message.data());
  if (command.empty()) {
    std::fprintf(stderr, "Try 'virazav --help'.\n");
  } else {
    std::fprintf(stderr, "Try 'virazav %.*s --help'.\n", static_cast<int>(command.size()),
                 command.data());
  }
  return kExitUsage;
}

std::string dec_hex(uint32_t value, int width) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%u (0x%0*X)", value, width, value);
  return buf;
}

std::string dec_hex_signed(int32_t value, int width) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d (0x%0*X)", value, width, static_cast<uint32_t>(value));
  return buf;
}

void hex_dump(std::FILE* out, const uint8_t* data, size_t size) {
  constexpr size_t kPerLine = 16;
  for (size_t offset = 0; offset < size; offset += kPerLine) {
    char line[100];
    int n = std::snprintf(line, sizeof line, "%08zx ", offset);
    for (size_t i = 0; i < kPerLine; ++i) {
      if (i == kPerLine / 2) line[n++] = ' ';
      if (offset + i < size) {
        n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " %02x",
                           data[offset + i]);
      } else {
        n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "   ");
      }
    }
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  |");
    for (size_t i = 0; i < kPerLine && offset + i < size; ++i) {
      uint8_t c = data[offset + i];
      line[n++] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
    line[n++] = '|';
    line[n] = '\0';
    std::fprintf(out, "%s\n", line);
  }
}

std::string human_bytes(double bytes) {
  char buf[32];
  if (bytes >= 1024.0 * 1024.0) {
    std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / (1024.0 * 1024.0));
  } else if (bytes >= 1024.0) {
    std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.0f B", bytes);
  }
  return buf;
}

bool write_file(const std::string& path, const void* data, size_t size, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  int saved = errno;
  if (std::fclose(f) != 0 && ok) {
    saved = errno;
    ok = false;
  }
  if (!ok) *error = std::strerror(saved);
  return ok;
}

bool read_file(const std::string& path, std::string* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::strerror(errno);
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "read error";
    return false;
  }
  return true;
}

namespace {

void discard_trace_line(const char*, void*) {}

void trace_line_to_stderr(const char* line, void*) {
  std::fputs(line, stderr);
}

}  // namespace

void route_trace_lines(bool verbose) {
  virazav_set_trace_handler(verbose ? trace_line_to_stderr : discard_trace_line, nullptr);
}

}  // namespace virazav::cli
