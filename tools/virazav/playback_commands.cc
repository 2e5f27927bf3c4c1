// The status, menu, playlist, hddlist, play and reboot commands: what the recorder shows
// and plays, and the reboot.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "json_writer.h"
#include "report.h"
#include "session.h"
#include "time_text.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

// One receive of a menu block brings at most 1 MiB, so a buffer of that size always holds
// what the library copies, whatever size the recorder announces.
constexpr size_t kMenuBufferSize = 1u << 20;

// Prints a text the recorder sent: line ends become plain newlines and bytes that are not
// printable become '.', so a binary list cannot upset the terminal.
void print_recorder_text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\r') continue;
    out.push_back(c == '\n' || c == '\t' || (u >= 0x20 && u < 0x7F) ? c : '.');
  }
  if (!out.empty() && out.back() != '\n') out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
}

// Runs one command whose only output is the recorder's answer value. With --json prints
// {"command": <name>, "values": [...], "reply": <value>}.
int run_value_command(const Invocation& inv, const std::string& what, const char* name,
                      int (*call)(int slot, const std::vector<uint32_t>& v),
                      const std::vector<uint32_t>& values) {
  return run_connected(inv.global, [&](Session& s) {
    int rc = call(s.slot(), values);
    if (rc < 0) return report_failure(what, rc);
    if (inv.global.json) {
      JsonWriter json;
      json.begin_object().member("command", name).key("values").begin_array();
      for (uint32_t v : values) json.value(v);
      json.end_array().member("reply", rc).end_object().print();
      return kExitOk;
    }
    std::printf("%s: recorder reports %s\n", what.c_str(),
                dec_hex(static_cast<uint32_t>(rc)).c_str());
    return kExitOk;
  });
}

// The largest values of the command lines' number fields: two and eight hexadecimal
// digits, and the decimal date and time fields of a search.
constexpr uint32_t kByte = 0xFF;
constexpr uint32_t kWord32 = 0xFFFFFFFF;

// Parses the positional arguments from `first` on as the numbers of `fields`.
bool parse_fields(const Invocation& inv, size_t first, std::initializer_list<FieldSpec> fields,
                  std::vector<uint32_t>* out, int* status) {
  if (!expect_positional(inv, first, fields.size(), status)) return false;
  std::string error;
  size_t i = first;
  for (const FieldSpec& field : fields) {
    uint32_t v = 0;
    if (!parse_field_arg(inv.args.positional[i++], field, &v, &error)) {
      *status = usage(inv, error);
      return false;
    }
    out->push_back(v);
  }
  return true;
}

int as_int(uint32_t v) {
  return static_cast<int>(v);
}

}  // namespace

int run_status(const Invocation& inv) {
  std::vector<uint32_t> v;
  int status = kExitOk;
  if (!parse_fields(inv, 0, {{"ITEM", kByte}}, &v, &status)) return status;
  return run_connected(inv.global, [&](Session& s) {
    int rc = kora_rx_status(s.slot(), as_int(v[0]));
    std::string what = "status word " + dec_hex(v[0]);
    if (rc < 0) return report_failure("read " + what, rc);
    if (inv.global.json) {
      JsonWriter().begin_object().member("item", v[0]).member("value", rc).end_object().print();
    } else {
      std::printf("%s: %s\n", what.c_str(), dec_hex(static_cast<uint32_t>(rc), 4).c_str());
    }
    return kExitOk;
  });
}

int run_menu(const Invocation& inv) {
  std::vector<uint32_t> v;
  int status = kExitOk;
  if (!parse_fields(inv, 0, {{"N", kByte}}, &v, &status)) return status;
  const std::string* out_path = inv.args.value("out");
  if (out_path != nullptr && out_path->empty()) return usage(inv, "--out needs a file name");
  std::vector<uint8_t> data(kMenuBufferSize);
  return run_connected(inv.global, [&](Session& s) {
    int rc = kora_rx_menu_data(s.slot(), as_int(v[0]), data.data());
    std::string what = "menu " + dec_hex(v[0]);
    if (rc < 0) return report_failure("read " + what, rc);
    size_t size = std::min(static_cast<size_t>(rc), kMenuBufferSize);
    if (out_path != nullptr) {
      std::string error;
      if (!write_file(*out_path, data.data(), size, &error)) {
        return report_problem("write " + *out_path, error);
      }
      if (inv.global.json) {
        JsonWriter()
            .begin_object()
            .member("menu", v[0])
            .member("bytes", rc)
            .member("file", *out_path)
            .end_object()
            .print();
      } else {
        std::printf("%s: %d bytes written to %s\n", what.c_str(), rc, out_path->c_str());
      }
      return kExitOk;
    }
    if (inv.global.json) {
      // The block's bytes as hexadecimal text, two digits a byte.
      std::string hex;
      hex.reserve(size * 2);
      for (size_t i = 0; i < size; ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0xF];
      }
      JsonWriter()
          .begin_object()
          .member("menu", v[0])
          .member("bytes", rc)
          .member("hex", hex)
          .end_object()
          .print();
      return kExitOk;
    }
    std::printf("%s: %d bytes\n", what.c_str(), rc);
    hex_dump(stdout, data.data(), size);
    return kExitOk;
  });
}

int run_playlist(const Invocation& inv) {
  std::vector<uint32_t> v;
  int status = kExitOk;
  if (!parse_fields(inv, 0, {{"N", kByte}}, &v, &status)) return status;
  // The library writes the list under img/ of the current folder but does not make the
  // folder itself.
  std::error_code ec;
  std::filesystem::create_directories("img", ec);
  if (ec) return report_problem("create the img folder", ec.message());
  char name[32];
  std::snprintf(name, sizeof name, "img/list%x.txt", v[0]);
  return run_connected(inv.global, [&](Session& s) {
    int rc = kora_rx_playlist(s.slot(), as_int(v[0]));
    std::string what = "play list " + dec_hex(v[0]);
    if (rc < 0) return report_failure("fetch " + what, rc);
    if (rc == 0) {
      if (inv.global.json) {
        JsonWriter()
            .begin_object()
            .member("list", v[0])
            .member("bytes", 0)
            .key("file")
            .null()
            .key("lines")
            .begin_array()
            .end_array()
            .end_object()
            .print();
      } else {
        std::printf("%s is empty; no file written\n", what.c_str());
      }
      return kExitOk;
    }
    std::string text, error;
    if (!read_file(name, &text, &error)) return report_problem(std::string("read ") + name, error);
    if (inv.global.json) {
      // The list's lines without their line ends; zeros where less came than announced
      // end the text.
      JsonWriter json;
      json.begin_object().member("list", v[0]).member("bytes", rc).member("file", name);
      json.key("lines").begin_array();
      const std::string body = text.substr(0, text.find('\0'));
      size_t at = 0;
      while (at < body.size()) {
        size_t end = body.find('\n', at);
        if (end == std::string::npos) end = body.size();
        std::string line = body.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        json.value(line);
        at = end + 1;
      }
      json.end_array().end_object().print();
      return kExitOk;
    }
    std::printf("%s: %d bytes in %s\n", what.c_str(), rc, name);
    print_recorder_text(text);
    return kExitOk;
  });
}

int run_hddlist(const Invocation& inv) {
  std::vector<uint32_t> v;
  int status = kExitOk;
  if (!parse_fields(inv, 0, {{"A", kWord32}, {"B", kWord32}}, &v, &status)) return status;
  return run_value_command(
      inv, "disk list " + dec_hex(v[0], 8) + " " + dec_hex(v[1], 8), "hddlist",
      [](int slot, const std::vector<uint32_t>& x) { return kora_rx_hddlist(slot, x[0], x[1]); },
      v);
}

int run_play(const Invocation& inv) {
  const auto& pos = inv.args.positional;
  int status = kExitOk;
  if (pos.empty()) {
    return usage(inv, "say 'play FILE', 'play control N', 'play search ...' or 'play pointer A B'");
  }
  if (pos[0] != "control" && pos[0] != "search" && pos[0] != "pointer") return run_file_play(inv);
  for (const OptionDef& o : inv.command.options) {
    if (inv.args.has(o.name)) {
      return usage(
          inv, "--" + std::string(o.name) + " belongs to 'play FILE', not 'play " + pos[0] + "'");
    }
  }
  std::vector<uint32_t> v;
  if (pos[0] == "control") {
    if (!parse_fields(inv, 1, {{"N", kByte}}, &v, &status)) return status;
    return run_value_command(
        inv, "playback control " + dec_hex(v[0]), "play control",
        [](int slot, const std::vector<uint32_t>& x) { return kora_ctrl_play(slot, as_int(x[0])); },
        v);
  }
  if (pos[0] == "search") {
    // One ISO time, or the six decimal fields as the recorder takes them.
    CivilTime t;
    if (pos.size() == 2) {
      if (!parse_time_text(pos[1], &t, 0, 9999)) {
        return usage(inv, std::string("search needs a time ") + kTimeFormatHelp);
      }
    } else {
      if (!parse_fields(
              inv, 1, {{"YYYY", 9999}, {"MM", 12}, {"DD", 31}, {"hh", 23}, {"mm", 59}, {"ss", 59}},
              &v, &status)) {
        return status;
      }
      t = CivilTime{as_int(v[0]), as_int(v[1]), as_int(v[2]),
                    as_int(v[3]), as_int(v[4]), as_int(v[5])};
    }
    const std::string when = "search " + format_time_text(t);
    return run_connected(inv.global, [&](Session& s) {
      int rc = kora_play_search(s.slot(), t.year, t.month, t.day, t.hour, t.minute, t.second);
      if (rc < 0) return report_failure(when, rc);
      if (inv.global.json) {
        JsonWriter()
            .begin_object()
            .member("command", "play search")
            .member("time", format_time_text(t))
            .member("found", rc == 0)
            .member("reply", rc)
            .end_object()
            .print();
        return rc == 0 ? kExitOk : kExitNothing;
      }
      // The recorder answers 0 when it holds a recording at that time.
      if (rc == 0) {
        std::printf("%s: found; the recorder's playback is there\n", when.c_str());
        return kExitOk;
      }
      std::printf("%s: not found (recorder reports %s)\n", when.c_str(),
                  dec_hex(static_cast<uint32_t>(rc)).c_str());
      return kExitNothing;
    });
  }
  if (pos[0] == "pointer") {
    if (!parse_fields(inv, 1, {{"A", kWord32}, {"B", kWord32}}, &v, &status)) return status;
    return run_value_command(
        inv, "play pointer " + dec_hex(v[0], 8) + " " + dec_hex(v[1], 8), "play pointer",
        [](int slot, const std::vector<uint32_t>& x) {
          return kora_set_playpointer(slot, x[0], x[1]);
        },
        v);
  }
  return usage(inv, "unknown action '" + pos[0] + "' (control, search or pointer)");
}

int run_reboot(const Invocation& inv) {
  int status = kExitOk;
  if (!expect_positional(inv, 0, 0, &status)) return status;
  return run_value_command(
      inv, "reboot", "reboot",
      [](int slot, const std::vector<uint32_t>&) { return kora_re_boot(slot); }, {});
}

}  // namespace virazav::cli
