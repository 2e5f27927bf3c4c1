// A small JSON writer for the program's --json output: one value a run, objects and
// arrays nested, strings escaped, on one line to standard output. Strings are written as
// valid UTF-8 whatever the bytes given: text from a recorder or a disk may hold bytes of
// a one-byte character set, and those are taken as Latin-1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace virazav::cli {

class JsonWriter {
 public:
  // Containers; every begin has its end.
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  // The key of the next member of the current object.
  JsonWriter& key(std::string_view name);
  // Values. A string's control characters, quote and backslash are escaped; a byte that
  // does not belong to a valid UTF-8 sequence is written as the Latin-1 character
  // \u00XX. A double that is not finite is written as null.
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(int64_t number);
  JsonWriter& value(uint32_t number) { return value(static_cast<int64_t>(number)); }
  JsonWriter& value(int number) { return value(static_cast<int64_t>(number)); }
  JsonWriter& value(uint64_t number) { return value(static_cast<int64_t>(number)); }
  JsonWriter& value(double number);
  JsonWriter& value(bool flag);
  JsonWriter& null();
  // key(name).value(v) in one call.
  template <typename T>
  JsonWriter& member(std::string_view name, T v) {
    return key(name).value(v);
  }

  const std::string& text() const { return out_; }
  // Writes the text and a newline to standard output.
  void print() const;

 private:
  void separate();
  std::string out_;
  std::vector<bool> first_;  // per open container: no member written yet
  bool after_key_ = false;
};

}  // namespace virazav::cli
