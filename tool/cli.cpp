#include "cli.hpp"

namespace mp {

Command parse_command_line(std::span<const std::string_view> args)
{
    Command cmd;
    if (args.size() == 1 && args[0] == "--help") {
        cmd.kind = Command::Kind::Help;
        return cmd;
    }
    if (args.size() == 1 && args[0] == "--version") {
        cmd.kind = Command::Kind::Version;
        return cmd;
    }
    // Options come first; the last three arguments are the names.
    bool way_given = false;
    for (; args.size() > 3; args = args.subspan(1)) {
        const std::string_view option = args[0];
        constexpr std::string_view kWay = "--way=";
        if (option == "--notify" && !cmd.notify) {
            cmd.notify = true;
        } else if (option.starts_with(kWay) && !way_given && parse_way(option.substr(kWay.size()))) {
            cmd.way = *parse_way(option.substr(kWay.size()));
            way_given = true;
        } else {
            return Command{};
        }
    }
    // An empty name cannot be a file; treat it as a usage error rather
    // than letting it resolve to the current folder.
    if (args.size() != 3 || args[0].empty() || args[1].empty() || args[2].empty())
        return Command{};
    cmd.kind = Command::Kind::Run;
    cmd.source = std::string(args[0]);
    cmd.avi = std::string(args[1]);
    cmd.timecodes = std::string(args[2]);
    return cmd;
}

std::string usage_line()
{
    return "usage: mp.exe [--notify] [--way=auto|direct|demuxer] SOURCE.mkv OUTPUT.avi OUTPUT_TIMECODES.txt"
           "  (or --help, --version)";
}

std::string help_text()
{
    return "usage: mp.exe [--notify] [--way=WAY] SOURCE OUTPUT_AVI OUTPUT_TIMECODES\n"
           "\n"
           "Copies the first video track of the Matroska or WebM file SOURCE,\n"
           "without re-encoding, into the AVI file OUTPUT_AVI (one AVI frame per\n"
           "stored frame, at the track's average frame rate), and writes each\n"
           "frame's real presentation time to OUTPUT_TIMECODES in timecode\n"
           "format v2 (milliseconds, one line per frame, plus the end time).\n"
           "\n"
           "Both outputs are written completely or not at all; existing files\n"
           "are only replaced when the whole job succeeded.\n"
           "\n"
           "Exit status: 0 success, 1 finished with warnings (e.g. the source\n"
           "was cut off; the frames before the damage are kept), 2 error.\n"
           "\n"
           "  --notify   report the run to the desktop: one notification shows\n"
           "             its progress and then its outcome, and a line with the\n"
           "             outcome is added to $XDG_STATE_HOME/tcdemux/runs.log\n"
           "             (~/.local/state/tcdemux/runs.log); the same when\n"
           "             TCDEMUX_NOTIFY is set to anything but 0 (Linux only)\n"
           "  --way=WAY  how the frames are read, for comparing the two ways;\n"
           "             both write the same files:\n"
           "               auto     the direct way when the source allows it\n"
           "                        (the default), else the demuxer way\n"
           "               direct   our own scan of the file, frames copied by\n"
           "                        the kernel; an error when the source cannot\n"
           "                        take it (damage, compression, a pipe, ...)\n"
           "               demuxer  libavformat's demuxer reads every frame\n"
           "  --help     show this text\n"
           "  --version  show the version\n";
}

std::string version_text()
{
    return std::string("mp.exe ") + MP_VERSION + "\n";
}

}  // namespace mp
