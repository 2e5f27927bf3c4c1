// The export and verify commands: their help texts and options for the command table,
// and the functions that carry them out (export_command.cc).
#pragma once

#include <string_view>

#include "commands.h"

namespace virazav::cli {

inline constexpr OptionDef kExportOptions[] = {
    {"to", true, "OUT|TIME", "the file to write (.mkv or .mp4), or the end of the stretch"},
    {"disk", true, "N|IMAGE", "export a stretch of a recorder disk (drive 0..9 or an image)"},
    {"split", true, "DIR", "write one MPEG-4 elementary stream <DIR>/ch<N>.m4v per channel"},
    {"channels", true, "LIST", "video channels, e.g. 0,1,5, or all (default all)"},
    {"from", true, "TIME", "first second, YYYY-MM-DDThh:mm:ss or YYYY-MM-DD hh:mm:ss"},
    {"until", true, "TIME", "last second (the same as --to TIME)"},
    {"manifest", true, "FILE", "write SHA-256 sums of the output and its source bytes to FILE"},
    {"progress", false, "", "draw the progress bar even when standard error is not a terminal"},
};

inline constexpr std::string_view kExportSynopsis =
    "export SOURCE --to OUT.mkv|OUT.mp4 [--channels LIST] [--from TIME] [--until TIME]\n"
    "export SOURCE OUT.mkv|OUT.mp4 [--from TIME] [--to TIME] [--manifest FILE]\n"
    "export SOURCE --split DIR [--channels LIST] [--from TIME] [--to TIME]\n"
    "export --disk N|IMAGE OUT.mkv|OUT.mp4 --from TIME --to TIME [--channels LIST]";
inline constexpr std::string_view kExportSummary =
    "export a stream file or a copy (HDR.dat) to .mkv, .mp4 or .m4v files";
inline constexpr std::string_view kExportDetails =
    "Writes the recording in SOURCE, a downloaded stream file or the HDR.dat of a copy,\n"
    "to a file that any player opens: one video track per channel with the MPEG-4\n"
    "pictures copied as recorded (from each channel's first key picture on, stamped with\n"
    "their own time stamps) and the channel's sound, decoded to PCM in a Matroska file\n"
    "(.mkv) or encoded to AAC in an MP4 file (.mp4). --split writes each channel's\n"
    "pictures as an MPEG-4 elementary stream DIR/ch<N>.m4v instead, without sound.\n"
    "--to names the output when its value ends in .mkv or .mp4 and the last second\n"
    "otherwise; with both, give the output as the second word. Times are the recorder's.\n"
    "--disk copies the stretch from --from to --to of a recorder disk (a drive number\n"
    "or a disk image) with the library's copy into the folder OUT.copy (HDR.dat, .index,\n"
    "List.HDR), kept as the export's source, and exports that.\n"
    "--manifest writes a SHA-256 of every file written and of the source bytes, with the\n"
    "first and last recorder time; 'virazav verify FILE' checks it.\n"
    "Exit status: 0 written, 1 failure, 2 wrong command line, 3 written in part (the\n"
    "source ends inside a packet or is damaged, or a channel asked for is missing),\n"
    "4 nothing of the channels in the stretch (nothing written).";

inline constexpr std::string_view kVerifySynopsis = "verify MANIFEST";
inline constexpr std::string_view kVerifySummary = "check the files an export manifest lists";
inline constexpr std::string_view kVerifyDetails =
    "Hashes every file that MANIFEST (written by export --manifest) lists, the outputs\n"
    "whole and the source over the bytes the export read, and compares the SHA-256 sums.\n"
    "Prints one line per file. Exit status: 0 when all match, 1 when a file is missing or\n"
    "differs (each is named on standard error) or MANIFEST cannot be read, 2 wrong\n"
    "command line.";

int run_export(const Invocation& inv);
int run_verify(const Invocation& inv);

}  // namespace virazav::cli
