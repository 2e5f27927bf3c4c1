// The virazav program's entry: finds the command word, parses the options strictly and
// hands over to the command. Every recorder operation goes through the library's public
// C interface.

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "progress.h"
#include "report.h"
#include "session.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

void print_program_help() {
  std::printf(
      "Usage: virazav [OPTIONS] COMMAND [ARGS]\n"
      "\n"
      "Controls a networked video recorder through the virazav library %s.\n"
      "\n"
      "Commands:\n",
      virazav_version());
  for (const Command& c : command_table()) {
    std::printf("  %-10.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                static_cast<int>(c.summary.size()), c.summary.data());
  }
  std::printf("\nGlobal options (before or after the command):\n");
  for (const OptionDef& o : global_option_defs()) {
    std::string left = o.short_name ? std::string("-") + o.short_name + ", " : std::string();
    left += "--" + std::string(o.name) + " " + std::string(o.value_name);
    std::printf("  %-24s %.*s\n", left.c_str(), static_cast<int>(o.description.size()),
                o.description.data());
  }
  std::printf(
      "  %-24s show help (of a command when given after it)\n"
      "  %-24s print the library version\n"
      "\n"
      "Numbers are decimal or 0x hexadecimal.\n"
      "Exit status: 0 the job was done as asked, 1 failure, 2 wrong command line,\n"
      "3 done in part (less came than asked for), 4 nothing to do it with (nothing\n"
      "written). A command's help says which of them it uses.\n"
      "Run 'virazav help COMMAND' or 'virazav COMMAND --help' for the details of a command.\n",
      "-h, --help", "--version");
}

bool takes_value(std::string_view word) {
  if (word.size() == 2 && word[0] == '-') {
    const OptionDef* def = find_short_option(global_option_defs(), word[1]);
    return def != nullptr && def->takes_value;
  }
  if (!word.starts_with("--") || word.find('=') != std::string_view::npos) return false;
  for (const OptionDef& o : global_option_defs()) {
    if (o.takes_value && word.substr(2) == o.name) return true;
  }
  return false;
}

// Finds the command word: the first word that is neither an option nor an option's value.
// Returns its index, or words.size() when there is none. Sets *help and *version for those
// options met before the command word.
size_t find_command_word(const std::vector<std::string>& words, bool* help, bool* version) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "--") return i + 1 < words.size() ? i + 1 : words.size();
    if (w == "-h" || w == "--help") {
      *help = true;
    } else if (w == "--version") {
      *version = true;
    } else if (takes_value(w)) {
      ++i;
    } else if (!w.starts_with("-")) {
      return i;
    }
  }
  return words.size();
}

int run_program(const std::vector<std::string>& words) {
  bool help = false;
  bool version = false;
  size_t at = find_command_word(words, &help, &version);
  if (at == words.size()) {
    if (version) {
      std::printf("virazav %s\n", virazav_version());
      return kExitOk;
    }
    if (help) {
      print_program_help();
      return kExitOk;
    }
    // Check the options anyway, so that a mistyped option is named rather than reported
    // as a missing command.
    Arguments ignored;
    std::string error;
    if (!parse_arguments(words, global_option_defs(), {}, &ignored, &error)) {
      return report_usage("", error);
    }
    return report_usage("", "no command given");
  }
  // "virazav help" and "virazav help COMMAND" are the help options in words.
  if (words[at] == "help") {
    if (at + 1 >= words.size()) {
      print_program_help();
      return kExitOk;
    }
    if (at + 2 < words.size()) return report_usage("", "help takes one command");
    const Command* asked = find_command(words[at + 1]);
    if (asked == nullptr) return report_usage("", "unknown command '" + words[at + 1] + "'");
    print_command_help(*asked);
    return kExitOk;
  }
  const Command* command = find_command(words[at]);
  if (command == nullptr) return report_usage("", "unknown command '" + words[at] + "'");

  std::vector<std::string> rest;
  for (size_t i = 0; i < words.size(); ++i) {
    // "--version" and a "--" just before the command word belong to the program, not to
    // the command.
    if (i < at && (words[i] == "--version" || (i + 1 == at && words[i] == "--"))) continue;
    if (i != at) rest.push_back(words[i]);
  }
  Arguments args;
  std::string error;
  if (!parse_arguments(rest, global_option_defs(), command->options, &args, &error)) {
    return report_usage(command->name, error);
  }
  if (args.help || help) {
    print_command_help(*command);
    return kExitOk;
  }
  if (version) return report_usage(command->name, "--version takes no command");
  GlobalOptions global;
  if (!read_global_options(args, &global, &error)) return report_usage(command->name, error);
  route_trace_lines(global.verbose);
  set_quiet(global.quiet);
  // A command that cannot report in JSON refuses the option rather than print text that a
  // script would then misread.
  if (global.json && !command->json) {
    return report_usage(command->name, "--json is not offered by " + std::string(command->name));
  }
  if (!complete_global_options(&global, &error)) return report_problem(command->name, error);
  Invocation inv{global, args, *command};
  return command->run(inv);
}

}  // namespace

}  // namespace virazav::cli

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  int status = virazav::cli::run_program(words);
  std::fflush(stdout);
  return status;
}
