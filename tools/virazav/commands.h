// The table of virazav's commands: each command's name, synopsis, help text, its own
// options and the function that carries it out. main.cc dispatches through the table; the
// commands live in one file per family (clock and switches, playback, maintenance, demo).
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "options.h"

namespace virazav::cli {

struct Command;

// What a command gets to run: the global settings, its parsed arguments and its own entry.
struct Invocation {
  const GlobalOptions& global;
  const Arguments& args;
  const Command& command;
};

struct Command {
  std::string_view name;
  std::string_view synopsis;  // the forms of the command line after "virazav"
  std::string_view summary;   // one line for the command list
  std::string_view details;   // paragraphs for "virazav <name> --help"
  std::span<const OptionDef> options;
  int (*run)(const Invocation& inv);
  bool json = false;  // reports as one JSON object on standard output with --json
};

// Returns every command in the order the help lists them.
std::span<const Command> command_table();
// Returns the command with that name, or nullptr.
const Command* find_command(std::string_view name);

// Prints a command's help (synopsis, details, its options and the global options).
void print_command_help(const Command& command);

// Reports a usage error for the command; returns kExitUsage.
int usage(const Invocation& inv, std::string_view message);
// Checks the number of positional arguments after `skip` words (sub-actions already
// taken); on a mismatch reports it and returns false.
bool expect_positional(const Invocation& inv, size_t skip, size_t count, int* status);

// The commands, one per family file.
int run_connect(const Invocation& inv);   // clock_commands.cc
int run_time(const Invocation& inv);      // clock_commands.cc
int run_switch(const Invocation& inv);    // clock_commands.cc
int run_combi(const Invocation& inv);     // clock_commands.cc
int run_status(const Invocation& inv);    // playback_commands.cc
int run_menu(const Invocation& inv);      // playback_commands.cc
int run_playlist(const Invocation& inv);  // playback_commands.cc
int run_hddlist(const Invocation& inv);   // playback_commands.cc
int run_play(const Invocation& inv);      // playback_commands.cc
int run_reboot(const Invocation& inv);    // playback_commands.cc
int run_mem(const Invocation& inv);       // maintenance_commands.cc
int run_i2c(const Invocation& inv);       // maintenance_commands.cc
int run_nvc(const Invocation& inv);       // maintenance_commands.cc
int run_update(const Invocation& inv);    // maintenance_commands.cc
int run_demo(const Invocation& inv);      // demo.cc
int run_download(const Invocation& inv);  // download_command.cc
int run_index(const Invocation& inv);     // media_commands.cc
int run_split(const Invocation& inv);     // media_commands.cc
int run_frame(const Invocation& inv);     // media_commands.cc
int run_disk(const Invocation& inv);      // disk_commands.cc
int run_live(const Invocation& inv);      // live_command.cc
int run_file(const Invocation& inv);      // feeder_play.cc
// The disk command's play action on an already chosen drive.
int run_disk_play(const Invocation& inv, int drive,
                  const std::string& name);  // feeder_play.cc
// The file form of the play command ("play FILE"), which run_play hands over to.
int run_file_play(const Invocation& inv);  // play_command.cc
// The disk command's copy and stills actions on an already chosen drive, called `name` in
// messages.
int run_disk_media(const Invocation& inv, const std::string& action, int drive,
                   const std::string& name);  // disk_copy_commands.cc
// Completes the open data set's frame index slice by slice (`parts` slices in all),
// drawing the slices done on standard error when `draw` is true. `keep_going` (may be
// empty) is asked between slices; returns false when it ended the build.
bool complete_frame_index(const std::string& index_dir, int parts, bool draw,
                          const std::function<bool()>& keep_going = {});  // media_commands.cc
// Returns "0,1,5" for a channel mask, "none" for 0.
std::string channel_list(unsigned mask);  // media_commands.cc
// A disk time "YYYY-MM-DDThh:mm:ss" (a blank taken for the T, or a plain time number)
// as a time number.
bool parse_disk_time(const std::string& text, uint32_t* out);  // disk_commands.cc
// A time number as "YYYY-MM-DDThh:mm:ss".
std::string format_disk_time(uint32_t t);  // disk_commands.cc

}  // namespace virazav::cli
