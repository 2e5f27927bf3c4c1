// The command table with every command's help text, and the help and usage printers that
// read it.

#include <cstdio>

#include "commands.h"
#include "export/export_command.h"
#include "report.h"

namespace virazav::cli {

namespace {

constexpr OptionDef kMenuOptions[] = {
    {"out", true, "FILE", "write the block to FILE instead of dumping it"},
};
constexpr OptionDef kUpdateOptions[] = {
    {"kind", true, "K", "update kind passed to the recorder, 0..0xFF (default 0)"},
    {"truncate", false, "", "upload the first 8 MiB of a longer FILE (refused without it)"},
    {"progress", false, "", "draw the progress bar even when standard error is not a terminal"},
};
constexpr OptionDef kDemoOptions[] = {
    {"out", true, "DIR", "folder for everything the tour writes (default demo-out)"},
    {"progress", false, "", "draw the progress bar even when standard error is not a terminal"},
};

constexpr OptionDef kDownloadOptions[] = {
    {"from", true, "TIME", "start of the stretch, YYYY-MM-DDThh:mm:ss (recorder's local time)"},
    {"seconds", true, "N", "length of the stretch in seconds (default 60)"},
    {"channels", true, "LIST", "video channels, e.g. 0,1,5, or all (default all)"},
    {"no-audio", false, "", "leave the audio out"},
    {"raw", true, "V1,...,V12", "send these twelve SendDataF values instead of the above"},
    {"index-dir", true, "DIR", "folder of the frame index .index (default: FILE.idx)"},
    {"progress", false, "", "draw the progress bar even when standard error is not a terminal"},
};

constexpr OptionDef kLiveOptions[] = {
    {"for", true, "SECONDS", "stop after SECONDS (default: on Ctrl-C)"},
    {"channels", true, "LIST", "channels whose pictures are written, e.g. 0,1,5, or all (default)"},
    {"set", true, "S", "video set 0 or 1 (default 0)"},
    {"display", true, "CH", "show channel CH at its full rate (the recorder's display channel)"},
    {"audio", true, "A", "play audio channel A (0..3) on the audio device"},
    {"ring", true, "R", "the live sound ring 0 or 1 (default 0)"},
    {"wav", true, "FILE", "write the sound to the WAV file FILE (audio channel 0 unless --audio)"},
    {"mosaic", false, "", "also write mosaic.bmp, a 4 x 4 picture of all channels, every second"},
    {"port", true, "P", "port base: set 0 arrives on P, set 1 on P + 1 (default 50000)"},
    {"group", true, "ADDR", "multicast group to join (default: none, unicast)"},
    {"out", true, "DIR", "folder for the pictures (DIR/img) and the mosaic (default live-out)"},
};

constexpr OptionDef kPlayOptions[] = {
    {"index-dir", true, "DIR", "folder of the frame index .index (default: FILE.idx)"},
    {"channel", true, "N|all", "display channel 0..15, or all with a mosaic (default: lowest)"},
    {"out", true, "DIR", "folder for the pictures <ch>.bmp and mosaic.bmp (default play-out)"},
    {"audio", true, "A", "play audio channel A (0..3) on the audio device"},
    {"wav", true, "FILE", "write the sound to the WAV file FILE (audio channel 0 unless --audio)"},
    {"script", true, "STEPS", "play these steps instead of taking keys (see above)"},
    {"for", true, "SECONDS", "end after SECONDS (default: q, Ctrl-C, or the end)"},
    {"progress", false, "", "draw the index bar even when standard error is not a terminal"},
};

constexpr OptionDef kIndexOptions[] = {
    {"index-dir", true, "DIR", "folder of the frame index .index (default: FILE.idx)"},
    {"rebuild", false, "", "build the index from the stream file even when .index exists"},
    {"progress", false, "", "draw the progress bar even when standard error is not a terminal"},
};
constexpr OptionDef kSplitOptions[] = {
    {"progress", false, "",
     "show the seconds split so far even when standard error is not a terminal"},
};

constexpr OptionDef kDiskOptions[] = {
    {"at", true, "TIME", "read: the time to search, YYYY-MM-DDThh:mm:ss (or a time number)"},
    {"chunks", true, "N", "read: chunks to read after the search (default 10)"},
    {"out", true, "FILE", "read: write the packets to FILE; timeline: write an SVG to FILE"},
    {"png", true, "FILE", "timeline: draw the timeline into the PNG image FILE"},
    {"json", false, "", "timeline: print the timeline's lanes, bars and kinds as JSON"},
    {"from", true, "TIME", "copy: start of the stretch, YYYY-MM-DDThh:mm:ss (or a time number)"},
    {"to", true, "TIME", "copy: end of the stretch (the chunk at or after it is copied too)"},
    {"progress", false, "", "copy: draw the bar even when standard error is not a terminal"},
    {"replace", false, "", "copy: remove an earlier copy's files from DIR first"},
    {"area", true, "FIRST:SECTORS", "stills: the still area (default: from the disk label)"},
    {"speed", true, "N", "play: forward at speed N (1..99)"},
    {"back", true, "N", "play: back at speed N (1..99)"},
    {"step", false, "", "play: one frame forward every second"},
    {"view", true, "quad|1..4", "play: the player's view (default quad)"},
    {"snapshot", true, "DIR", "play: write bmp<n>.bmp into the existing folder DIR every second"},
    {"for", true, "SECONDS", "play: play for SECONDS (default 10)"},
};

constexpr OptionDef kFileOptions[] = {
    {"at", true, "TIME", "play: start at the chunk of TIME (YYYY-MM-DDThh:mm:ss)"},
    {"speed", true, "N", "forward at speed N (1..99)"},
    {"back", true, "N", "back at speed N (1..99)"},
    {"step", false, "", "one frame forward every second"},
    {"view", true, "quad|1..4", "the player's view (default quad)"},
    {"snapshot", true, "DIR", "write bmp<n>.bmp into the existing folder DIR every second"},
    {"for", true, "SECONDS", "play for SECONDS (default 10)"},
};

constexpr Command kCommands[] = {
    {"connect",
     "connect",
     "log in, print the recorder's information text, log out",
     "Logs in to the recorder on the slot (login port 5001 + 2 * slot), prints the\n"
     "information text of its greeting and closes the connection again. Use it to check\n"
     "the address and the password.",
     {},
     run_connect,
     true},
    {"time",
     "time get\ntime set TIME\ntime set DATE TIME\ntime set now",
     "read or set the recorder clock",
     "get prints the recorder clock as YYYY-MM-DDThh:mm:ss. A two-digit year gets its\n"
     "century: 00..79 are read as 2000..2079 and 80..99 as 1980..1999.\n"
     "set TIME sends YYYY-MM-DDThh:mm:ss (2000..2079) as YY/MM/DD hh:mm:ss.\n"
     "set sends DATE (YY/MM/DD or YYYY/MM/DD) and TIME (HH:MM:SS) exactly as given; the\n"
     "recorder checks them and answers NG to a date it does not take.\n"
     "set now sends this computer's local time as YY/MM/DD HH:MM:SS.",
     {},
     run_time,
     true},
    {"switch",
     "switch {cam|hd|jpeg} get ITEM\nswitch {cam|hd|jpeg} set A B",
     "read or set a camera, disk or JPEG switch",
     "get prints the value of switch ITEM of the camera (cam), disk (hd) or JPEG (jpeg)\n"
     "table. set sends A (the item) and B (its new value) and prints the value the\n"
     "recorder reports back.\n"
     "cam set and hd set wait up to 50 s for a reply, cam get up to 30 s. jpeg set with\n"
     "A = 99 resets the JPEG switches: no reply is read and the command takes 4 s.\n"
     "Numbers are decimal or 0x hexadecimal.",
     {},
     run_switch,
     true},
    {"combi",
     "combi set W1 W2 W3 W4 W5\ncombi get P1 P2 P3 P4 W5",
     "set or read the combined switch words",
     "set sends the five combined words W1..W5 (W1 names the group on the usual\n"
     "recorders) and prints the recorder's answer.\n"
     "get sends P1 (the group) with the current words P2..P4 and W5 and prints the four\n"
     "words the recorder returns in P1..P4.\n"
     "Numbers are decimal or 0x hexadecimal.",
     {},
     run_combi,
     true},
    {"status",
     "status ITEM",
     "read a status word",
     "Prints status word ITEM (0..0xFF) of the recorder.",
     {},
     run_status,
     true},
    {"menu", "menu N [--out FILE]", "read a menu block",
     "Reads menu block N (0..0xFF) and prints its size and a hex/ASCII dump, or writes\n"
     "the block to FILE with --out. Takes at least 1 s: the recorder sends the block\n"
     "after a pause.",
     kMenuOptions, run_menu, true},
    {"playlist",
     "playlist N",
     "fetch a play list into img/list<n>.txt and print it",
     "Fetches play list N (0..0xFF). The library stores it in img/list<n>.txt under the\n"
     "current folder, n in lower-case hexadecimal; the img folder is created when\n"
     "missing. The file is then printed. An empty list writes no file.",
     {},
     run_playlist,
     true},
    {"hddlist",
     "hddlist A B",
     "read the recorder's disk list",
     "Sends A and B (on the usual recorders the first entry and the number of entries\n"
     "wanted) and prints the recorder's answer.",
     {},
     run_hddlist,
     true},
    {"play",
     "play FILE [--channel N|all] [--out DIR] [--audio A | --wav FILE] [--script STEPS]\n"
     "play control N\nplay search TIME\nplay search YYYY MM DD hh mm ss\nplay pointer A B",
     "play a downloaded stream file, or drive the recorder's own playback",
     "FILE: plays a stream file that download wrote, with its frame index .index (in its\n"
     "own folder FILE.idx or --index-dir; built, with a progress bar, when missing). The\n"
     "display channel's pictures are written to DIR/<ch>.bmp (--out DIR) as they are\n"
     "shown; with --channel all every channel's are, and a 4 x 4 mosaic of them to\n"
     "DIR/mosaic.bmp. --audio plays a sound channel on the device VIRAZAV_AUDIO names,\n"
     "--wav writes it to a WAV file instead. A status line on standard error shows the\n"
     "mode, the position (percent of the file and index entry) and the recording's own\n"
     "time.\n"
     "In a terminal keys steer the play: space play/stop, left and right arrows one key\n"
     "frame back and forward, b back, r fast back, f fast forward, 0..9 display channel,\n"
     "a all channels, q quit. Without a terminal the file plays to its end.\n"
     "--script STEPS plays a script instead and prints one line per step (mode,\n"
     "position, time, pictures shown). Steps are separated by ';'; each is a command,\n"
     "its argument and an optional duration D (2s, 1.5s, 500ms):\n"
     "  play, stop, back, fastback, fast [D]  set the mode; a moving mode without D\n"
     "                                        runs until the player stops at an end\n"
     "  step, stepback [D]                    one key frame forward or back\n"
     "  pos P% [D], pos #N [D]                move to P percent of the file (one\n"
     "                                        decimal) or to index entry N\n"
     "  channel N [D], channel all [D]        choose the display channel\n"
     "  wait D                                let the player run as it is\n"
     "e.g. --script \"play 5s; step; back 2s; pos 50%; stop; channel 3; fast 1s\".\n"
     "Exit status: 0 when pictures were shown and every step was done; 1 when the file\n"
     "cannot be played, the sound asked for cannot play, a step failed, the script was\n"
     "cut short (Ctrl-C, --for) or no picture was shown; 2 for a wrong command line or\n"
     "script.\n"
     "\n"
     "control sends playback control N to the recorder (0 stops on the usual recorders).\n"
     "search looks for a recording at the given local time (YYYY-MM-DDThh:mm:ss, or the\n"
     "six decimal fields) and says whether the recorder found one (exit 4 when not).\n"
     "pointer sets the play pointer to A B.\n"
     "Each prints the recorder's answer. A stream file named like one of them is given\n"
     "as ./control.\n"
     "With --json, play FILE reports each script step and the summary in one object.",
     kPlayOptions, run_play, true},
    {"reboot",
     "reboot",
     "reboot the recorder",
     "Asks the recorder to reboot. It drops every connection and takes a moment before\n"
     "it accepts logins again.",
     {},
     run_reboot,
     true},
    {"mem",
     "mem get A B\nmem set A B C",
     "read or write recorder memory",
     "get reads memory at address A (24 bits); B is passed along.\n"
     "set writes C at offset B of bank A (the address is A * 0x10000 + B on the usual\n"
     "recorders). Both print the value the recorder answers with.",
     {},
     run_mem,
     true},
    {"i2c",
     "i2c get A B\ni2c set A B C",
     "read or write an I2C register",
     "get reads register B of device A; set writes C there. Both print the value the\n"
     "recorder answers with.",
     {},
     run_i2c,
     true},
    {"nvc",
     "nvc get A B C\nnvc set A B C D",
     "read or write an Nvc value",
     "get reads the Nvc value at A B C; set writes D there. Both print the value the\n"
     "recorder answers with.",
     {},
     run_nvc,
     true},
    {"update", "update FILE [--kind K] [--truncate] [--progress]", "upload update data",
     "Uploads FILE as update data of kind K, followed by one zero byte. The recorder\n"
     "takes at most 8 MiB (8388608 bytes): a longer FILE is refused, or with --truncate\n"
     "its first 8 MiB are sent after a warning. A progress bar is drawn on standard error\n"
     "when it is a terminal (or with --progress); otherwise one line sums the transfer up.\n"
     "Exit status: 0 when all of FILE (or its first 8 MiB with --truncate) was sent; 1\n"
     "when FILE cannot be read, is too long, or the upload failed; 2 for a wrong command\n"
     "line; 3 when less was sent.",
     kUpdateOptions, run_update},
    {"demo", "demo [--out DIR] [--progress]", "tour the library against a built-in recorder",
     "Starts a simulated recorder inside this program (on 127.0.0.1, or 127.0.0.2 and on\n"
     "when its ports are taken; --address picks one) and runs every command family of\n"
     "the library against it, one line per step. Files go to DIR: the menu block, the\n"
     "play list (DIR/img/), the update image and the diagnostic log (DIR/drive-c, set as\n"
     "VIRAZAV_DRIVE_C). The recorder is rebooted at the end. --password and --slot are\n"
     "used by both sides.",
     kDemoOptions, run_demo},
    {"download",
     "download FILE --from TIME [--seconds N] [--channels LIST] [--no-audio] [--index-dir DIR]\n"
     "download FILE --raw V1,...,V12 [--index-dir DIR]",
     "download recorded data into a stream file and its frame index",
     "Copies a stretch of recorded video and audio into FILE (an MPEG program stream) and\n"
     "writes the frame index DIR/.index at the end (DIR: FILE.idx, made when missing,\n"
     "unless --index-dir names another). The recorder takes twelve numbers:\n"
     "the channel mask (0: all), the start year (two digits), month, day, hour, minute,\n"
     "second, the length in seconds, 1 with audio or 0 without, and three unused zeros;\n"
     "--from, --seconds, --channels and --no-audio fill them in, --raw gives them as they\n"
     "are. A bar of the seconds downloaded is drawn on standard error when it is a\n"
     "terminal (or with --progress). The folders of FILE and DIR must exist.\n"
     "The stretch received is counted from the frame index: from the first key frame to\n"
     "one second after the last. When the recorder has less of the stretch than asked\n"
     "for, the program says so (\"received 60 of 3600 s\").\n"
     "Exit status: 0 when the whole stretch was downloaded and indexed; 1 when the\n"
     "download failed or the index could not be written; 2 for a wrong command line;\n"
     "3 when less than the stretch came (FILE and its index hold what did); 4 when\n"
     "nothing is recorded in the stretch (no file written).",
     kDownloadOptions, run_download, true},
    {"live",
     "live [--for SECONDS] [--channels LIST] [--display CH] [--audio A | --wav FILE] [--mosaic]",
     "receive the live stream: pictures, sound and a status line",
     "Asks the recorder for its live stream (UDPup), receives it on the port base and the\n"
     "next port, and writes the newest picture of every chosen channel as it arrives to\n"
     "DIR/img/serv<set><ch>.jpg (24-bit bitmaps despite the name). --display plays one\n"
     "channel at its full rate; --audio plays a sound channel on the device that\n"
     "VIRAZAV_AUDIO names, --wav writes it to a WAV file instead. A status line on standard\n"
     "error shows datagrams, blocks and pictures received and what was lost. Ends on Ctrl-C\n"
     "or after --for seconds, always stopping the stream (UDPdown) and closing the session.\n"
     "Fails when no picture arrived.",
     kLiveOptions, run_live, true},
    {"index", "index FILE [--index-dir DIR] [--rebuild]",
     "build or load a stream file's frame index and tell what the file holds",
     "Opens the stream file FILE, loads its frame index DIR/.index or builds it (with a\n"
     "progress bar), and prints the channels, the duration from the first to the last key\n"
     "frame, and the key frames and audio packets of each channel.\n"
     "Each stream file keeps its index in a folder of its own, FILE.idx, unless\n"
     "--index-dir names another. An index whose entries do not point at the file's\n"
     "packets belongs to another file (or is no frame index, like a disk copy's .index):\n"
     "in FILE.idx it is built anew, with a note; in a folder given with --index-dir it is\n"
     "refused (exit 1) unless --rebuild.",
     kIndexOptions, run_index, true},
    {"split", "split FILE DIR", "cut a stream file into picture data files and WAV files",
     "Writes DIR/<channel>_<tick>.dat for every video packet that starts a picture\n"
     "sequence (tick: 1/30 s from the first packet) and DIR/wav<channel>.wav with the\n"
     "audio of channels 0..3 (8000 Hz mono 16-bit). Files that cannot be created are\n"
     "skipped.",
     kSplitOptions, run_split},
    {"frame",
     "frame DATFILE OUT.bmp",
     "decode one picture data file into a bitmap",
     "Decodes DATFILE (a <channel>_<tick>.dat file that split wrote) and writes the\n"
     "picture as a 24-bit bitmap OUT.bmp (8 rows fewer than the picture).",
     {},
     run_frame},
    {"disk",
     "disk info DRIVE\ndisk list DRIVE\n"
     "disk timeline DRIVE [--out FILE.svg] [--png FILE.png] [--json]\n"
     "disk read DRIVE --at TIME [--chunks N] [--out FILE]\n"
     "disk play DRIVE --at TIME [--speed N | --back N | --step] [--view quad|1..4]\n"
     "    [--snapshot DIR] [--for SECONDS]\n"
     "disk copy DRIVE DIR --from TIME --to TIME [--replace] [--progress]\n"
     "disk stills DRIVE DIR [--area FIRST:SECTORS]",
     "read a recorder disk attached here, or an image of one",
     "DRIVE is a drive number 0..9 (VIRAZAV_PHYSICALDRIVE<N>, else /dev/sd<a+N>) or the\n"
     "path of a disk image, read as drive 9. The drive is opened read-only and exclusively.\n"
     "Every action but stills first loads the record index and checks that its times make\n"
     "sense, naming the index copy it was read from; a disk whose index does not load from\n"
     "any copy, or holds impossible times, is refused (exit 1).\n"
     "info prints the drive's size, the generation of each of the three index copies, the\n"
     "recorded range and the numbers of recordings and alarms.\n"
     "list prints every recording (start, end, kind) and every alarm with its times.\n"
     "timeline draws each recording and alarm on a time axis as text, or as a picture:\n"
     "an SVG with --out, a PNG with --png (the same drawing: a lane per recording kind and\n"
     "one for the alarms, labelled time ticks, a legend of the kinds' colours), its model\n"
     "as JSON with --json. An index without recordings has nothing to draw (exit 4).\n"
     "read searches TIME the way the disk player does and reads N chunks from there,\n"
     "writing their packets to FILE with --out. The library's search traces appear on\n"
     "standard output.\n"
     "play searches TIME and plays from there through the library's player (normal play,\n"
     "forward or back at a speed, or one frame a second), printing the decoder status\n"
     "every second and, with --snapshot, whether the disk still plays and the snapshot\n"
     "it wrote to DIR.\n"
     "copy copies the recording from --from through the chunk at or after --to into the\n"
     "existing folder DIR as HDR.dat, .index and List.HDR (the pair that file playback\n"
     "plays), drawing the progress on standard error. It stops before HDR.dat reaches\n"
     "2 GiB and before less than 1 MiB of DIR's file system stays free. A DIR that holds\n"
     "an earlier copy is refused unless --replace removes its files first. A --from after\n"
     "--to is a wrong command line (exit 2); a stretch with nothing recorded copies\n"
     "nothing and exits 4.\n"
     "stills writes every JPEG still of the still area into the existing folder DIR under\n"
     "the recorder's names (<n>_<yymmdd>_<hhmmss><v>_<tag>.jpg). The area is FIRST:SECTORS\n"
     "with --area, else the one the disk label of the simulated recorder names.\n"
     "--json is offered by every action.",
     kDiskOptions, run_disk, true},
    {"file",
     "file play HDR.dat INDEX [--at TIME] [--speed N | --back N | --step] [--view quad|1..4]\n"
     "    [--snapshot DIR] [--for SECONDS]\n"
     "file search HDR.dat INDEX TIME",
     "play a copy (HDR.dat and .index), or find a time in it",
     "play plays the data file along its index through the library's player, from the\n"
     "start or from the chunk of --at, as disk play does, and prints the copy's range.\n"
     "search prints the copy's range and whether TIME lies in it; the search takes the\n"
     "chunk in proportion to TIME between the first and the last chunk's time.",
     kFileOptions, run_file, true},
    {"export", kExportSynopsis, kExportSummary, kExportDetails, kExportOptions, run_export},
    {"verify", kVerifySynopsis, kVerifySummary, kVerifyDetails, {}, run_verify},
};

void print_options(std::span<const OptionDef> options) {
  for (const OptionDef& o : options) {
    std::string left = o.short_name ? std::string("-") + o.short_name + ", " : std::string();
    left += "--" + std::string(o.name);
    if (o.takes_value) left += " " + std::string(o.value_name);
    std::printf("  %-24s %.*s\n", left.c_str(), static_cast<int>(o.description.size()),
                o.description.data());
  }
}

}  // namespace

std::span<const Command> command_table() {
  return kCommands;
}

const Command* find_command(std::string_view name) {
  for (const Command& c : kCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

void print_command_help(const Command& command) {
  std::string_view synopsis = command.synopsis;
  const char* lead = "Usage: ";
  while (!synopsis.empty()) {
    size_t nl = synopsis.find('\n');
    std::string_view line = synopsis.substr(0, nl);
    std::printf("%svirazav [OPTIONS] %.*s\n", lead, static_cast<int>(line.size()), line.data());
    lead = "       ";
    synopsis = nl == std::string_view::npos ? std::string_view() : synopsis.substr(nl + 1);
  }
  std::printf("\n%.*s\n", static_cast<int>(command.details.size()), command.details.data());
  if (command.json) {
    std::printf(
        "\nWith --json the result is one JSON object on standard output, times as\n"
        "YYYY-MM-DDThh:mm:ss; failures still go to standard error with the exit status.\n");
  }
  if (!command.options.empty()) {
    std::printf("\nOptions:\n");
    print_options(command.options);
  }
  std::printf("\nGlobal options:\n");
  print_options(global_option_defs());
  std::printf("  %-24s %s\n", "-h, --help", "show this help");
}

int usage(const Invocation& inv, std::string_view message) {
  return report_usage(inv.command.name, message);
}

bool expect_positional(const Invocation& inv, size_t skip, size_t count, int* status) {
  size_t total = inv.args.positional.size();
  size_t given = total > skip ? total - skip : 0;
  if (given == count) return true;
  std::string message = given < count ? "too few arguments" : "too many arguments";
  message += " (expected " + std::to_string(count) + ", got " + std::to_string(given) + ")";
  *status = usage(inv, message);
  return false;
}

}  // namespace virazav::cli
