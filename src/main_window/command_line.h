#pragma once
// The program's command line: `tcdemux [FILE]`, plus --help and --version.
// Parsed before any window system is touched, so that --help and --version
// work without a display.

#include <string>
#include <vector>

namespace tcdemux {

inline constexpr char16_t kProgramName[] = u"tcdemux";
inline constexpr char16_t kProgramVersion[] = u"1.00";

struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Fail };
    Action action = Action::Run;
    // For Run: the files to open, in the order given.
    std::vector<std::u16string> files;
    // For Fail: what is wrong, in one line.
    std::u16string error;
};

// `arguments` without the program's own name. The first of --help (-h) and
// --version (-v) wins; an unknown option fails; after "--" every argument is
// a file, even one that starts with a dash. A lone "-" is a file name.
CommandLine ParseCommandLine(const std::vector<std::u16string>& arguments);

// What --help and --version print, each ending in a newline.
std::u16string HelpText();
std::u16string VersionText();
// What a failed parse prints on standard error: the error and a pointer to --help.
std::u16string UsageErrorText(const CommandLine& line);

} // namespace tcdemux
