// Command-line parsing of the virazav program: the options every command takes (recorder
// address, password, slot, log drive), the options of single commands, and numbers given
// in decimal or 0x hexadecimal. Parsing is strict: an unknown option, a missing value or a
// malformed number is a usage error, never a guess.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace virazav::cli {

// One option a command accepts, written "--name" on the command line. An option that takes
// a value accepts it as the next argument or after '=' ("--out FILE", "--out=FILE").
struct OptionDef {
  std::string_view name;  // without the leading "--"
  bool takes_value;
  std::string_view value_name;  // shown in help texts ("FILE"); empty for flags
  std::string_view description;
  char short_name = 0;  // 'a' for "-a", or 0 when the option has no short form
};

// The options every command accepts, before or after the command word.
std::span<const OptionDef> global_option_defs();

// The arguments of one command after parsing: positional words in order, option values and
// flags by name (without "--"), and whether help was asked for.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> values;
  std::set<std::string, std::less<>> flags;
  bool help = false;

  // Returns true when the flag or the option with a value was given.
  bool has(std::string_view name) const;
  // Returns the value of an option, or nullptr when it was not given.
  const std::string* value(std::string_view name) const;
};

// Parses the words of a command line (the command word already taken out). Words that
// start with "--" are options and must be in one of the two definition lists, and so must
// the short forms "-a" (a value in the next word); "-h" and "--help" ask for help; "--"
// makes every later word positional; any other word that starts with '-' followed by a
// letter is refused. On success fills *out and returns true; on failure
// stores a message for the user in *error and returns false.
bool parse_arguments(std::span<const std::string> words, std::span<const OptionDef> global,
                     std::span<const OptionDef> local, Arguments* out, std::string* error);

// The settings that the global options give, with their defaults.
struct GlobalOptions {
  std::string address = "127.0.0.1";
  std::string password;
  int slot = 0;
  bool address_given = false;
  char log_drive = 0;         // 'C'..'F', or 0 when no log was asked for
  bool verbose = false;       // the library's trace lines to standard error
  bool quiet = false;         // no progress bars, summaries or notes
  bool json = false;          // the result as one JSON object on standard output
  std::string password_file;  // read for the password when given ("-": standard input)
  bool password_given = false;
};

// The connection slots the library has: 0 .. kSlotCount - 1.
inline constexpr int kSlotCount = 16;

// Reads the global options out of parsed arguments. On success fills *out and returns
// true; on a slot outside 0..15, an address that is neither dotted IPv4 nor a host name,
// a bad log drive letter, or --password given with --password-file stores a message and
// returns false.
bool read_global_options(const Arguments& args, GlobalOptions* out, std::string* error);

// Parses a whole number written in decimal ("42", leading zeros allowed) or in hexadecimal
// with a "0x" or "0X" prefix ("0x2A"), optionally preceded by '-' for decimal numbers. On
// success stores it in *out and returns true when it lies in [min, max]; returns false for
// empty text, other characters, or a value out of range.
bool parse_number(std::string_view text, int64_t min, int64_t max, int64_t* out);

// Parses "all" (0xFFFF) or a comma-separated list of recorder channels 0..15 into a
// channel mask. False for anything else, an empty part included.
bool parse_channel_mask(std::string_view text, uint32_t* mask);

// Parses an unsigned 32-bit value (0 .. 0xFFFFFFFF).
bool parse_u32(std::string_view text, uint32_t* out);

// Parses a value for a 32-bit int argument: -2147483648 .. 0xFFFFFFFF, where values above
// 0x7FFFFFFF keep their bit pattern (0xFFFFFFFF becomes -1).
bool parse_int(std::string_view text, int* out);

// Parses one positional number named `what` for messages; a usage message goes to *error.
bool parse_u32_arg(std::string_view text, std::string_view what, uint32_t* out, std::string* error);
bool parse_int_arg(std::string_view text, std::string_view what, int* out, std::string* error);

// A positional number bound for a fixed-width field of a command line to the recorder:
// its name for messages and the largest value the field holds (0xFF for two hex digits).
struct FieldSpec {
  const char* name;
  uint32_t max;
};

// Parses one number for `field`: 0 .. field.max. A larger value would be written wider
// than the field and shift the recorder's reading of the line, so it is refused with a
// usage message in *error naming the field and its range.
bool parse_field_arg(std::string_view text, const FieldSpec& field, uint32_t* out,
                     std::string* error);

// Returns true for a dotted IPv4 address of four decimal parts 0..255 ("192.168.0.10").
bool is_dotted_ipv4(std::string_view text);
// Returns true when `text` may be a host name: labels of letters, digits and hyphens,
// each 1..63 characters and not starting or ending with a hyphen, joined by dots, the
// last not of digits alone.
bool is_host_name(std::string_view text);
// Returns the option whose short form is `-c`, or nullptr.
const OptionDef* find_short_option(std::span<const OptionDef> defs, char c);

}  // namespace virazav::cli
