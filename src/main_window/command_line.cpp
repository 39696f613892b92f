#include "main_window/command_line.h"

namespace tcdemux {

CommandLine ParseCommandLine(const std::vector<std::u16string>& arguments) {
    CommandLine line;
    bool optionsEnded = false;
    for (const std::u16string& argument : arguments) {
        const bool looksLikeOption = !optionsEnded && argument.size() > 1 && argument.front() == u'-';
        if (!looksLikeOption) {
            line.files.push_back(argument);
        } else if (argument == u"--") {
            optionsEnded = true;
        } else if (argument == u"--help" || argument == u"-h") {
            return {CommandLine::Action::ShowHelp, {}, {}};
        } else if (argument == u"--version" || argument == u"-v") {
            return {CommandLine::Action::ShowVersion, {}, {}};
        } else {
            return {CommandLine::Action::Fail, {}, u"unknown option '" + argument + u"'"};
        }
    }
    return line;
}

std::u16string HelpText() {
    return u"Usage: tcdemux [FILE]\n"
           u"Matroska timecodes demuxer: takes the video of a video file (MKV, WebM,\n"
           u"MP4, MOV, MPEG-TS and the like) into an AVI file and writes the frame\n"
           u"times beside it in a timecodes text file, through the demux tool mp.exe.\n"
           u"\n"
           u"  FILE           open this file as if it had been chosen with \"VFR mkv\"\n"
           u"                 (one video file at a time)\n"
           u"  -h, --help     show this help and exit\n"
           u"  -v, --version  show the version and exit\n";
}

std::u16string VersionText() { return std::u16string(kProgramName) + u" " + kProgramVersion + u"\n"; }

std::u16string UsageErrorText(const CommandLine& line) {
    return std::u16string(kProgramName) + u": " + line.error + u"\nTry 'tcdemux --help' for more information.\n";
}

} // namespace tcdemux
