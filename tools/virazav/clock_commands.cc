// The connect, time, switch and combi commands: logging in, the recorder clock and the
// switch tables.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "commands.h"
#include "json_writer.h"
#include "report.h"
#include "session.h"
#include "time_text.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

// The library fills the date with up to 256 bytes; the time likewise.
constexpr size_t kClockTextSize = 256;

struct SwitchFamily {
  std::string_view name;  // as typed on the command line
  const char* label;      // as printed
  int (*get)(int slot, int item) noexcept;
  int (*set)(int slot, int a, int b) noexcept;
  int value_width;  // hex digits of the value field on the wire
};

constexpr SwitchFamily kSwitchFamilies[] = {
    {"cam", "camera switch", kora_cam_swget, kora_cam_swset, 2},
    {"hd", "disk switch", kora_hd_swget, kora_hd_swset, 2},
    {"jpeg", "JPEG switch", kora_jpeg_swget, kora_jpeg_swset, 4},
};

// The JPEG switch item that resets the JPEG settings; the library answers it with
// VIRAZAV_ERR_JPEG_RESET by design, after sending it without awaiting a reply.
constexpr int kJpegResetItem = 99;

// The largest values of the lines' fields: a switch item has six hex digits, a set's
// item two, a combined word four.
constexpr uint32_t kItemMax = 0xFFFFFF;
constexpr uint32_t kByteMax = 0xFF;
constexpr uint32_t kWordMax = 0xFFFF;

// Returns true for a date or time word that fits the command line as one field: the
// recorder splits its lines at blanks, so a blank or a control character would shift
// every field after it.
bool is_one_field(const std::string& word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
  }
  return true;
}

const SwitchFamily* find_family(std::string_view name) {
  for (const SwitchFamily& f : kSwitchFamilies) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

// Formats this computer's local time as the recorder's short date and time texts.
bool local_clock_texts(std::string* date, std::string* time) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return false;
  char d[16];
  char t[16];
  if (std::strftime(d, sizeof d, "%y/%m/%d", &local) == 0 ||
      std::strftime(t, sizeof t, "%H:%M:%S", &local) == 0) {
    return false;
  }
  *date = d;
  *time = t;
  return true;
}

int time_get(const Invocation& inv) {
  return run_connected(inv.global, [&](Session& s) {
    char date[kClockTextSize] = {};
    char time[kClockTextSize] = {};
    int rc = kora_get_time(s.slot(), date, time);
    if (rc != 0) return report_failure("read the recorder clock", rc);
    // The library gives "YYYY/MM/DD" and "hh:mm:ss"; shown in the program's one format
    // when they are that, as received otherwise.
    std::string iso = std::string(date) + "T" + time;
    if (iso.size() > 7) {
      iso[4] = iso[4] == '/' ? '-' : iso[4];
      iso[7] = iso[7] == '/' ? '-' : iso[7];
    }
    CivilTime t;
    const bool iso_ok = parse_time_text(iso, &t, 0, 9999);
    if (inv.global.json) {
      // The recorder's texts as received, and the clock in the program's form when they
      // make one (null otherwise).
      JsonWriter json;
      json.begin_object().member("date", date).member("time", time).key("clock");
      if (iso_ok) {
        json.value(format_time_text(t));
      } else {
        json.null();
      }
      json.end_object().print();
    } else if (iso_ok) {
      std::printf("recorder clock: %s\n", format_time_text(t).c_str());
    } else {
      std::printf("recorder clock: %s %s\n", date, time);
    }
    return kExitOk;
  });
}

int time_set(const Invocation& inv, const std::string& date, const std::string& time) {
  return run_connected(inv.global, [&](Session& s) {
    int rc = kora_set_time(s.slot(), date.c_str(), time.c_str());
    if (rc != 0) return report_failure("set the recorder clock to " + date + " " + time, rc);
    if (inv.global.json) {
      JsonWriter().begin_object().member("date", date).member("time", time).end_object().print();
    } else {
      std::printf("recorder clock set to %s %s\n", date.c_str(), time.c_str());
    }
    return kExitOk;
  });
}

}  // namespace

int run_connect(const Invocation& inv) {
  int status = kExitOk;
  if (!expect_positional(inv, 0, 0, &status)) return status;
  return run_connected(inv.global, [&](Session& s) {
    if (inv.global.json) {
      JsonWriter()
          .begin_object()
          .member("address", inv.global.address)
          .member("slot", s.slot())
          .member("login_port", 5001 + 2 * s.slot())
          .member("info", s.info())
          .end_object()
          .print();
      return kExitOk;
    }
    std::printf("connected to %s (login port %d)\n", describe_target(inv.global).c_str(),
                5001 + 2 * s.slot());
    std::printf("recorder: %s\n", s.info().c_str());
    return kExitOk;
  });
}

int run_time(const Invocation& inv) {
  const auto& pos = inv.args.positional;
  int status = kExitOk;
  if (pos.empty()) return usage(inv, "say 'time get' or 'time set DATE TIME'");
  if (pos[0] == "get") {
    if (!expect_positional(inv, 1, 0, &status)) return status;
    return time_get(inv);
  }
  if (pos[0] != "set") return usage(inv, "unknown action '" + pos[0] + "' (get or set)");
  if (pos.size() == 2 && pos[1] == "now") {
    std::string date, time;
    if (!local_clock_texts(&date, &time)) {
      return report_problem("time set now", "cannot read this computer's local time");
    }
    return time_set(inv, date, time);
  }
  if (pos.size() == 2) {
    // One ISO time goes out in the recorder's short form, as "set now" sends it.
    CivilTime t;
    if (!parse_time_text(pos[1], &t, 2000, 2079)) {
      return usage(inv, std::string("time set needs DATE TIME, now, or ") + kTimeFormatHelp +
                            " in 2000..2079");
    }
    char date[16], time[16];
    std::snprintf(date, sizeof date, "%02d/%02d/%02d", t.year % 100, t.month, t.day);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return time_set(inv, date, time);
  }
  if (!expect_positional(inv, 1, 2, &status)) return status;
  if (!is_one_field(pos[1]) || !is_one_field(pos[2])) {
    return usage(inv, "DATE and TIME must be single words without blanks, like 24/05/01 10:00:00");
  }
  return time_set(inv, pos[1], pos[2]);
}

int run_switch(const Invocation& inv) {
  const auto& pos = inv.args.positional;
  int status = kExitOk;
  if (pos.size() < 2) return usage(inv, "say 'switch {cam|hd|jpeg} get ITEM' or '... set A B'");
  const SwitchFamily* family = find_family(pos[0]);
  if (family == nullptr)
    return usage(inv, "unknown switch family '" + pos[0] + "' (cam, hd, jpeg)");
  std::string error;
  if (pos[1] == "get") {
    uint32_t field = 0;
    if (!expect_positional(inv, 2, 1, &status)) return status;
    if (!parse_field_arg(pos[2], {"ITEM", kItemMax}, &field, &error)) return usage(inv, error);
    const int item = static_cast<int>(field);
    return run_connected(inv.global, [&](Session& s) {
      int rc = family->get(s.slot(), item);
      std::string what = std::string(family->label) + " " + dec_hex(static_cast<uint32_t>(item));
      if (rc < 0) return report_failure("read " + what, rc);
      if (inv.global.json) {
        JsonWriter()
            .begin_object()
            .member("switch", family->name)
            .member("item", item)
            .member("value", rc)
            .end_object()
            .print();
        return kExitOk;
      }
      std::printf("%s: %s\n", what.c_str(),
                  dec_hex(static_cast<uint32_t>(rc), family->value_width).c_str());
      return kExitOk;
    });
  }
  if (pos[1] != "set") return usage(inv, "unknown action '" + pos[1] + "' (get or set)");
  uint32_t fa = 0, fb = 0;
  if (!expect_positional(inv, 2, 2, &status)) return status;
  const uint32_t value_max = (uint32_t{1} << (4 * family->value_width)) - 1;
  if (!parse_field_arg(pos[2], {"A", kByteMax}, &fa, &error) ||
      !parse_field_arg(pos[3], {"B", value_max}, &fb, &error)) {
    return usage(inv, error);
  }
  const int a = static_cast<int>(fa), b = static_cast<int>(fb);
  return run_connected(inv.global, [&](Session& s) {
    int rc = family->set(s.slot(), a, b);
    std::string what = std::string(family->label) + " " + dec_hex(static_cast<uint32_t>(a)) +
                       " to " + dec_hex(static_cast<uint32_t>(b), family->value_width);
    const bool reset =
        family->name == "jpeg" && a == kJpegResetItem && rc == VIRAZAV_ERR_JPEG_RESET;
    if (!reset && rc < 0) return report_failure("set " + what, rc);
    if (inv.global.json) {
      // The reset reads no reply: "reply" is null then.
      JsonWriter json;
      json.begin_object().member("switch", family->name).member("item", a).member("value", b);
      json.key("reply");
      if (reset) {
        json.null();
      } else {
        json.value(rc);
      }
      json.end_object().print();
      return kExitOk;
    }
    if (reset) {
      std::printf("JPEG switches reset (item 99 sent; by design no reply is read)\n");
      return kExitOk;
    }
    std::printf("set %s; recorder reports %s\n", what.c_str(),
                dec_hex(static_cast<uint32_t>(rc), family->value_width).c_str());
    return kExitOk;
  });
}

int run_combi(const Invocation& inv) {
  const auto& pos = inv.args.positional;
  int status = kExitOk;
  if (pos.empty())
    return usage(inv, "say 'combi set W1 W2 W3 W4 W5' or 'combi get P1 P2 P3 P4 W5'");
  if (pos[0] != "set" && pos[0] != "get") {
    return usage(inv, "unknown action '" + pos[0] + "' (get or set)");
  }
  if (!expect_positional(inv, 1, 5, &status)) return status;
  int w[5] = {};
  std::string error;
  for (int i = 0; i < 5; ++i) {
    std::string name = (pos[0] == "set" || i == 4 ? "W" : "P") + std::to_string(i + 1);
    // Every word is four hex digits on the line, but for a get P1 is two.
    const uint32_t max = pos[0] == "get" && i == 0 ? kByteMax : kWordMax;
    uint32_t v = 0;
    if (!parse_field_arg(pos[static_cast<size_t>(i) + 1], {name.c_str(), max}, &v, &error)) {
      return usage(inv, error);
    }
    w[i] = static_cast<int>(v);
  }
  if (pos[0] == "set") {
    return run_connected(inv.global, [&](Session& s) {
      int rc = kora_combi_set(s.slot(), w[0], w[1], w[2], w[3], w[4]);
      if (rc < 0) return report_failure("set the combined words", rc);
      if (inv.global.json) {
        JsonWriter json;
        json.begin_object().key("words").begin_array();
        for (int word : w) json.value(word);
        json.end_array().member("reply", rc).end_object().print();
        return kExitOk;
      }
      std::printf("combined words set: %04X %04X %04X %04X %04X; recorder reports %s\n",
                  static_cast<uint32_t>(w[0]), static_cast<uint32_t>(w[1]),
                  static_cast<uint32_t>(w[2]), static_cast<uint32_t>(w[3]),
                  static_cast<uint32_t>(w[4]), dec_hex(static_cast<uint32_t>(rc), 4).c_str());
      return kExitOk;
    });
  }
  return run_connected(inv.global, [&](Session& s) {
    uint32_t p[4] = {static_cast<uint32_t>(w[0]), static_cast<uint32_t>(w[1]),
                     static_cast<uint32_t>(w[2]), static_cast<uint32_t>(w[3])};
    int rc = kora_combi_get(s.slot(), &p[0], &p[1], &p[2], &p[3], w[4]);
    if (rc != 0) return report_failure("read the combined words", rc);
    if (inv.global.json) {
      // P1..P4 as the library fills them, in the order of the command line.
      JsonWriter json;
      json.begin_object().member("w5", w[4]).key("p").begin_array();
      for (uint32_t word : p) json.value(word);
      json.end_array().end_object().print();
      return kExitOk;
    }
    for (int i = 0; i < 4; ++i) std::printf("P%d = %s\n", i + 1, dec_hex(p[i], 4).c_str());
    return kExitOk;
  });
}

}  // namespace virazav::cli
