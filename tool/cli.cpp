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
    // The option comes first; the last three arguments are the names.
    if (args.size() == 4 && args[0] == "--notify") {
        cmd.notify = true;
        args = args.subspan(1);
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
    return "usage: mp.exe [--notify] SOURCE OUTPUT.avi OUTPUT_TIMECODES.txt  (or --help, --version)";
}

std::string help_text()
{
    return "usage: mp.exe [--notify] SOURCE OUTPUT_AVI OUTPUT_TIMECODES\n"
           "\n"
           "Copies the first video track of SOURCE, without re-encoding, into\n"
           "the AVI file OUTPUT_AVI (one AVI frame per stored frame, at the\n"
           "track's average frame rate), and writes each frame's real\n"
           "presentation time to OUTPUT_TIMECODES in timecode format v2\n"
           "(milliseconds, one line per frame, plus the end time). SOURCE may\n"
           "be any video file FFmpeg reads: MKV and WebM, MP4, MOV and 3GP\n"
           "(also fragmented), MPEG-TS and M2TS, FLV, AVI; a file or a pipe.\n"
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

           "  --help     show this text\n"
           "  --version  show the version\n";
}

std::string version_text()
{
    return std::string("mp.exe ") + MP_VERSION + "\n";
}

}  // namespace mp
