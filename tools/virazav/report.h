// How the virazav program speaks to its user: exit statuses, the failure and usage lines
// on standard error, numbers in decimal and hexadecimal, hex/ASCII dumps, and small file
// helpers the commands share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace virazav::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the library or the system reported a failure
inline constexpr int kExitUsage = 2;    // the command line was wrong
inline constexpr int kExitShort = 3;    // the job was done in part: less came than asked for
inline constexpr int kExitNothing = 4;  // there was nothing to do it with: nothing was written

// Prints "virazav: <what>: <library text> (<code>)" on standard error; returns kExitFailure.
int report_failure(std::string_view what, int code);
// As report_failure for a result of the disk side, whose texts depend on the family of the
// function (VIRAZAV_DISK_*) that returned it.
int report_disk_failure(std::string_view what, int family, int code);
// Checks that the file can be opened for reading. On failure prints "virazav: open
// <path>: <the system's reason>" on standard error, stores kExitFailure in *status and
// returns false.
bool check_readable(const std::string& path, int* status);
// Prints "virazav: <what>: <detail>" on standard error for failures that are not library
// codes (a file that cannot be written); returns kExitFailure.
int report_problem(std::string_view what, std::string_view detail);
// Prints "virazav: note: <text>" on standard error unless the run is quiet.
void print_note(std::string_view text);
// Prints "virazav: <message>" and a hint to the command's help on standard error; returns
// kExitUsage. `command` may be empty for the program as a whole.
int report_usage(std::string_view command, std::string_view message);

// Returns "<decimal> (0x<HEX>)" for a register-like value, hexadecimal zero-filled to
// `width` digits ("52 (0x0034)").
std::string dec_hex(uint32_t value, int width = 2);
// As dec_hex for a signed result; negative values show their 32-bit pattern in hex.
std::string dec_hex_signed(int32_t value, int width = 2);

// Writes a hex/ASCII dump, 16 bytes a line: offset, bytes, printable characters.
void hex_dump(std::FILE* out, const uint8_t* data, size_t size);

// Returns "3.0 MiB", "512 KiB" or "17 B".
std::string human_bytes(double bytes);

// Writes size bytes to the file, replacing it. On failure stores the system's reason in
// *error and returns false.
bool write_file(const std::string& path, const void* data, size_t size, std::string* error);
// Routes the library's trace lines: to standard error when verbose, else nowhere. They
// never reach standard output, which carries the program's results.
void route_trace_lines(bool verbose);

// Reads a whole file. On failure stores the reason in *error and returns false.
bool read_file(const std::string& path, std::string* out, std::string* error);

}  // namespace virazav::cli
