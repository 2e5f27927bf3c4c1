// Strict parsing of options and numbers for the virazav program.

#include "options.h"

#include <cctype>
#include <cstdio>

namespace virazav::cli {

namespace {

constexpr OptionDef kGlobalOptionDefs[] = {
    {"address", true, "A", "recorder address: dotted IPv4 or a host name (default 127.0.0.1)", 'a'},
    {"password", true, "P", "login password (default: $VIRAZAV_PASSWORD, else none)", 'p'},
    {"password-file", true, "FILE", "read the password from the first line of FILE (-: stdin)"},
    {"slot", true, "N", "connection slot 0..15; the login port is 5001 + 2*N (default 0)", 's'},
    {"log-drive", true, "L",
     "keep the diagnostic log on drive L (C..F); its folder is $VIRAZAV_DRIVE_<L>"},
    {"verbose", false, "",
     "show the library's trace lines (picture sizes, disk geometry, search and skip steps) "
     "on standard error",
     'v'},
    {"quiet", false, "", "no progress bars, transfer summaries or notes on standard error", 'q'},
    {"json", false, "",
     "print the result as one JSON object on standard output (the commands whose help "
     "says so)"},
};

const OptionDef* find_def(std::span<const OptionDef> defs, std::string_view name) {
  for (const OptionDef& def : defs) {
    if (def.name == name) return &def;
  }
  return nullptr;
}

// Stores one option in *out; an option given twice keeps its last value, as most programs
// do, so that a wrapper script can append overrides.
void store_option(const OptionDef& def, std::string value, Arguments* out) {
  if (def.takes_value) {
    out->values[std::string(def.name)] = std::move(value);
  } else {
    out->flags.insert(std::string(def.name));
  }
}

bool looks_like_short_option(std::string_view word) {
  return word.size() >= 2 && word[0] == '-' &&
         std::isalpha(static_cast<unsigned char>(word[1])) != 0;
}

}  // namespace

std::span<const OptionDef> global_option_defs() {
  return kGlobalOptionDefs;
}

bool Arguments::has(std::string_view name) const {
  return values.find(name) != values.end() || flags.find(name) != flags.end();
}

const std::string* Arguments::value(std::string_view name) const {
  auto it = values.find(name);
  return it == values.end() ? nullptr : &it->second;
}

bool parse_arguments(std::span<const std::string> words, std::span<const OptionDef> global,
                     std::span<const OptionDef> local, Arguments* out, std::string* error) {
  bool options_done = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (options_done) {
      out->positional.push_back(word);
      continue;
    }
    if (word == "--") {
      options_done = true;
      continue;
    }
    if (word == "-h" || word == "--help") {
      out->help = true;
      continue;
    }
    if (word.starts_with("--")) {
      std::string_view body = std::string_view(word).substr(2);
      std::string_view name = body;
      bool inline_value = false;
      std::string value;
      if (size_t eq = body.find('='); eq != std::string_view::npos) {
        name = body.substr(0, eq);
        value = std::string(body.substr(eq + 1));
        inline_value = true;
      }
      const OptionDef* def = find_def(local, name);
      if (def == nullptr) def = find_def(global, name);
      if (def == nullptr) {
        *error = "unknown option '--" + std::string(name) + "'";
        return false;
      }
      if (!def->takes_value && inline_value) {
        *error = "option '--" + std::string(name) + "' takes no value";
        return false;
      }
      if (def->takes_value && !inline_value) {
        if (i + 1 >= words.size()) {
          *error = "option '--" + std::string(name) + "' needs a value (" +
                   std::string(def->value_name) + ")";
          return false;
        }
        value = words[++i];
      }
      store_option(*def, std::move(value), out);
      continue;
    }
    if (looks_like_short_option(word)) {
      const OptionDef* def = word.size() == 2 ? find_short_option(local, word[1]) : nullptr;
      if (def == nullptr && word.size() == 2) def = find_short_option(global, word[1]);
      if (def == nullptr) {
        *error = "unknown option '" + word + "'";
        return false;
      }
      std::string value;
      if (def->takes_value) {
        if (i + 1 >= words.size()) {
          *error = "option '" + word + "' needs a value (" + std::string(def->value_name) + ")";
          return false;
        }
        value = words[++i];
      }
      store_option(*def, std::move(value), out);
      continue;
    }
    out->positional.push_back(word);
  }
  return true;
}

bool read_global_options(const Arguments& args, GlobalOptions* out, std::string* error) {
  if (const std::string* v = args.value("address")) {
    // The library reads no host names: the program resolves a name to its IPv4 address
    // itself, and a malformed address is refused rather than taken for some other one.
    if (!is_dotted_ipv4(*v) && !is_host_name(*v)) {
      *error = "--address needs a dotted IPv4 address like 192.168.0.10 or a host name, not '" +
               *v + "'";
      return false;
    }
    out->address = *v;
    out->address_given = true;
  }
  if (const std::string* v = args.value("password")) {
    out->password = *v;
    out->password_given = true;
  }
  if (const std::string* v = args.value("password-file")) {
    if (out->password_given) {
      *error = "give --password or --password-file, not both";
      return false;
    }
    if (v->empty()) {
      *error = "--password-file needs a file name";
      return false;
    }
    out->password_file = *v;
  }
  if (const std::string* v = args.value("slot")) {
    int64_t slot = 0;
    if (!parse_number(*v, 0, kSlotCount - 1, &slot)) {
      *error = "--slot needs a slot number 0..15, not '" + *v + "'";
      return false;
    }
    out->slot = static_cast<int>(slot);
  }
  if (const std::string* v = args.value("log-drive")) {
    char letter = v->size() == 1
                      ? static_cast<char>(std::toupper(static_cast<unsigned char>((*v)[0])))
                      : '\0';
    if (letter < 'C' || letter > 'F') {
      *error = "--log-drive needs a drive letter C, D, E or F, not '" + *v + "'";
      return false;
    }
    out->log_drive = letter;
  }
  out->verbose = args.has("verbose");
  out->quiet = args.has("quiet");
  out->json = args.has("json");
  return true;
}

bool parse_number(std::string_view text, int64_t min, int64_t max, int64_t* out) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (negative) return false;  // "-0x10" is more likely a slip than a meant value
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  // Twelve significant digits already exceed every range used here; the bound keeps the
  // accumulation below from overflowing.
  constexpr uint64_t kCeiling = uint64_t{1} << 40;
  uint64_t value = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > kCeiling) return false;
  }
  int64_t signed_value = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  if (signed_value < min || signed_value > max) return false;
  *out = signed_value;
  return true;
}

bool parse_u32(std::string_view text, uint32_t* out) {
  int64_t v = 0;
  if (!parse_number(text, 0, 0xFFFFFFFFll, &v)) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool parse_int(std::string_view text, int* out) {
  int64_t v = 0;
  if (!parse_number(text, -2147483648ll, 0xFFFFFFFFll, &v)) return false;
  *out = static_cast<int>(static_cast<uint32_t>(v));
  return true;
}

bool parse_u32_arg(std::string_view text, std::string_view what, uint32_t* out,
                   std::string* error) {
  if (parse_u32(text, out)) return true;
  *error = std::string(what) + " must be a number 0..0xFFFFFFFF (decimal or 0x hex), not '" +
           std::string(text) + "'";
  return false;
}

bool parse_int_arg(std::string_view text, std::string_view what, int* out, std::string* error) {
  if (parse_int(text, out)) return true;
  *error = std::string(what) + " must be a 32-bit number (decimal or 0x hex), not '" +
           std::string(text) + "'";
  return false;
}

bool parse_field_arg(std::string_view text, const FieldSpec& field, uint32_t* out,
                     std::string* error) {
  int64_t v = 0;
  if (parse_number(text, 0, field.max, &v)) {
    *out = static_cast<uint32_t>(v);
    return true;
  }
  // Hex fields show their range in hex (0..0xFF), date and time fields in decimal.
  const uint64_t next = uint64_t{field.max} + 1;
  const bool hex_field = (next & (next - 1)) == 0 && next % 15 == 1;
  char range[32];
  std::snprintf(range, sizeof range, hex_field ? "0..0x%X" : "0..%u", field.max);
  *error = std::string(field.name) + " must be a number " + range + " (decimal or 0x hex), not '" +
           std::string(text) + "'";
  return false;
}

const OptionDef* find_short_option(std::span<const OptionDef> defs, char c) {
  for (const OptionDef& def : defs) {
    if (def.short_name != 0 && def.short_name == c) return &def;
  }
  return nullptr;
}

bool is_host_name(std::string_view text) {
  if (text.empty() || text.size() > 253) return false;
  size_t label = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : '.';
    if (c == '.') {
      if (label == 0 || label > 63 || text[i - 1] == '-') return false;
      label = 0;
      continue;
    }
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && (c != '-' || label == 0)) return false;
    ++label;
  }
  // A last label of digits alone makes a malformed address ("10.0.0", "0x7f.0.0.1"), not a
  // host: resolvers would read such text as a number.
  const size_t dot = text.rfind('.');
  const std::string_view last = dot == std::string_view::npos ? text : text.substr(dot + 1);
  return last.find_first_not_of("0123456789") != std::string_view::npos;
}

bool is_dotted_ipv4(std::string_view text) {
  int parts = 0;
  while (true) {
    size_t dot = text.find('.');
    std::string_view part = text.substr(0, dot);
    // Decimal only, at most three digits: "0x7f" and "0127" name other addresses in some
    // readers and are refused rather than guessed.
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4;
}

bool parse_channel_mask(std::string_view text, uint32_t* mask) {
  if (text == "all") {
    *mask = 0xFFFF;
    return true;
  }
  uint32_t m = 0;
  for (;;) {
    const size_t comma = text.find(',');
    int64_t ch = 0;
    if (!parse_number(text.substr(0, comma), 0, 15, &ch)) return false;
    m |= 1u << ch;
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  *mask = m;
  return true;
}

}  // namespace virazav::cli
