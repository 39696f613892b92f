// Command-line parsing for mp.exe.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace mp {

struct Command {
    enum class Kind { Run, Help, Version, Usage };
    Kind kind = Kind::Usage;
    std::string source;
    std::string avi;
    std::string timecodes;
    bool notify = false;  // --notify: report the run to the desktop
};

// Parses the arguments after the program name. Exactly three arguments are
// always the three file names, even when one starts with a dash; so are the
// three after a leading --notify. A single --help or --version asks for
// that text; anything else is a usage error.
Command parse_command_line(std::span<const std::string_view> args);

std::string usage_line();
std::string help_text();
std::string version_text();

}  // namespace mp
