#pragma once
// The tool's start: its path and its three arguments (source, AVI name,
// timecodes name), each exactly as the window's boxes hold it, plus the
// environment that asks the tool to report its run to the desktop.

#include "platform/platform.h"

#include <string>
#include <vector>

namespace tcdemux {

// Set for every run the window starts: the run outlives the window, so the
// tool itself reports its progress and outcome (desktop notification and
// run record). The argument list stays the three names.
inline constexpr char16_t kNotifyVariable[] = u"TCDEMUX_NOTIFY";

struct DemuxCommand {
    std::u16string program;
    std::vector<std::u16string> arguments;
    Environment environment;

    // programFolder + separator + toolName, with no test for a separator
    // already at the end of the folder; the source is sourceFolder + sourceName.
    static DemuxCommand Build(const std::u16string& programFolder, char16_t separator,
                              const std::u16string& toolName, const std::u16string& sourceFolder,
                              const std::u16string& sourceName, const std::u16string& videoName,
                              const std::u16string& timecodesName);
};

} // namespace tcdemux
