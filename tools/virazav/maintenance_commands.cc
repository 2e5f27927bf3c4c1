// The mem, i2c, nvc and update commands: the recorder's memory, I2C and Nvc values, and
// the upload of update data.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "json_writer.h"
#include "progress.h"
#include "report.h"
#include "session.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

// The most update data the library sends: the first 8 MiB of the file.
constexpr uintmax_t kUpdateLimit = 8u << 20;

// One family of value commands: a getter and a setter with their argument names. The
// calls take the slot and the numbers in order.
struct StoreFamily {
  const char* label;
  const char* name;                   // the command's name, for --json
  std::vector<FieldSpec> get_fields;  // with the largest value each field of the line holds
  std::vector<FieldSpec> set_fields;
  int (*get)(int slot, const std::vector<uint32_t>& v);
  int (*set)(int slot, const std::vector<uint32_t>& v);
};

const StoreFamily& memory_family() {
  static const StoreFamily f = {
      "memory",
      "mem",
      {{"A", 0xFFFFFF}, {"B", 0xFFFFFF}},
      {{"A", 0xFF}, {"B", 0xFFFF}, {"C", 0xFFFF}},
      [](int slot, const std::vector<uint32_t>& v) { return kora_mem_get(slot, v[0], v[1]); },
      [](int slot, const std::vector<uint32_t>& v) { return kora_mem_set(slot, v[0], v[1], v[2]); },
  };
  return f;
}

const StoreFamily& i2c_family() {
  static const StoreFamily f = {
      "I2C register",
      "i2c",
      {{"A", 0xFFFFFF}, {"B", 0xFFFF}},
      {{"A", 0xFFFF}, {"B", 0xFFFF}, {"C", 0xFFFF}},
      [](int slot, const std::vector<uint32_t>& v) { return kora_i2c_get(slot, v[0], v[1]); },
      [](int slot, const std::vector<uint32_t>& v) { return kora_i2c_set(slot, v[0], v[1], v[2]); },
  };
  return f;
}

const StoreFamily& nvc_family() {
  static const StoreFamily f = {
      "Nvc value",
      "nvc",
      {{"A", 0xFFFF}, {"B", 0xFFFF}, {"C", 0xFFFF}},
      {{"A", 0xFFFF}, {"B", 0xFFFF}, {"C", 0xFFFF}, {"D", 0xFFFF}},
      [](int slot, const std::vector<uint32_t>& v) { return kora_nvc_get(slot, v[0], v[1], v[2]); },
      [](int slot, const std::vector<uint32_t>& v) {
        return kora_nvc_set(slot, v[0], v[1], v[2], v[3]);
      },
  };
  return f;
}

std::string join_hex(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s0x%X", out.empty() ? "" : " ", v);
    out += buf;
  }
  return out;
}

int run_store(const Invocation& inv, const StoreFamily& family) {
  const auto& pos = inv.args.positional;
  int status = kExitOk;
  if (pos.empty() || (pos[0] != "get" && pos[0] != "set")) {
    return usage(inv, pos.empty() ? "say 'get' or 'set' and the numbers"
                                  : "unknown action '" + pos[0] + "' (get or set)");
  }
  bool is_set = pos[0] == "set";
  const std::vector<FieldSpec>& fields = is_set ? family.set_fields : family.get_fields;
  if (!expect_positional(inv, 1, fields.size(), &status)) return status;
  std::vector<uint32_t> values;
  std::string error;
  for (size_t i = 0; i < fields.size(); ++i) {
    uint32_t v = 0;
    if (!parse_field_arg(pos[i + 1], fields[i], &v, &error)) return usage(inv, error);
    values.push_back(v);
  }
  // The last number of a set is the value; the ones before it say where it goes.
  std::vector<uint32_t> where = values;
  if (is_set) where.pop_back();
  std::string target = std::string(family.label) + " " + join_hex(where);
  return run_connected(inv.global, [&](Session& s) {
    int rc = is_set ? family.set(s.slot(), values) : family.get(s.slot(), values);
    if (rc >= 0 && inv.global.json) {
      JsonWriter json;
      json.begin_object()
          .member("store", family.name)
          .member("action", pos[0])
          .key("where")
          .begin_array();
      for (uint32_t v : where) json.value(v);
      json.end_array();
      if (is_set) json.member("value", values.back());
      json.member("reply", rc).end_object().print();
      return kExitOk;
    }
    std::string reply = dec_hex(static_cast<uint32_t>(rc), 4);
    if (is_set) {
      std::string what = target + " set to " + join_hex({values.back()});
      if (rc < 0) return report_failure(what, rc);
      std::printf("%s; recorder reports %s\n", what.c_str(), reply.c_str());
    } else {
      if (rc < 0) return report_failure("read " + target, rc);
      std::printf("%s: %s\n", target.c_str(), reply.c_str());
    }
    return kExitOk;
  });
}

}  // namespace

int run_mem(const Invocation& inv) {
  return run_store(inv, memory_family());
}
int run_i2c(const Invocation& inv) {
  return run_store(inv, i2c_family());
}
int run_nvc(const Invocation& inv) {
  return run_store(inv, nvc_family());
}

int run_update(const Invocation& inv) {
  int status = kExitOk;
  if (!expect_positional(inv, 0, 1, &status)) return status;
  const std::string& file = inv.args.positional[0];
  int kind = 0;
  if (const std::string* k = inv.args.value("kind")) {
    int64_t v = 0;
    if (!parse_number(*k, 0, 0xFF, &v)) return usage(inv, "--kind needs a number 0..0xFF");
    kind = static_cast<int>(v);
  }
  // The library reports an unreadable file only as a generic failure, after the login;
  // checking first names the real cause and spares the recorder a pointless session.
  if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
    std::fclose(f);
  } else {
    return report_problem("open " + file, std::strerror(errno));
  }
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) return report_problem("open " + file, ec.message());
  // The library sends at most the first 8 MiB and drops the rest without a word; a cut
  // update image is worse than none, so it goes out only when asked for.
  const bool cut = size > kUpdateLimit;
  if (cut && !inv.args.has("truncate")) {
    return report_problem("upload " + file, std::to_string(size) +
                                                " bytes, but the recorder takes the first " +
                                                std::to_string(kUpdateLimit) +
                                                " (8 MiB) only; give --truncate to upload those");
  }
  if (cut) {
    std::fprintf(stderr,
                 "virazav: warning: uploading only the first %llu of the %llu bytes of %s\n",
                 static_cast<unsigned long long>(kUpdateLimit),
                 static_cast<unsigned long long>(size), file.c_str());
  }
  const uintmax_t expected = cut ? kUpdateLimit : size;
  bool draw = want_progress(inv.args.has("progress"));
  return run_connected(inv.global, [&](Session& s) {
    ProgressBar bar("upload", draw);
    int rc = 0;
    {
      ProgressHandlerScope scope(&bar);
      rc = kora_update(s.slot(), file.c_str(), kind);
    }
    bar.finish();
    if (rc < 0) return report_failure("upload " + file, rc);
    std::printf("uploaded %d bytes of %s as update kind %s%s\n", rc, file.c_str(),
                dec_hex(static_cast<uint32_t>(kind)).c_str(),
                cut ? (" (cut from " + std::to_string(size) + " bytes)").c_str() : "");
    if (static_cast<uintmax_t>(rc) < expected) {
      std::fprintf(stderr, "virazav: upload %s: sent %d of %llu bytes\n", file.c_str(), rc,
                   static_cast<unsigned long long>(expected));
      return kExitShort;
    }
    return kExitOk;
  });
}

}  // namespace virazav::cli
