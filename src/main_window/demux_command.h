#pragma once
// The tool's start: its path and its three arguments (source, AVI name,
// timecodes name), each exactly as the window's boxes hold it.

#include <string>
#include <vector>

namespace tcdemux {

struct DemuxCommand {
    std::u16string program;
    std::vector<std::u16string> arguments;

    // programFolder + separator + toolName, with no test for a separator
    // already at the end of the folder; the source is sourceFolder + sourceName.
    static DemuxCommand Build(const std::u16string& programFolder, char16_t separator,
                              const std::u16string& toolName, const std::u16string& sourceFolder,
                              const std::u16string& sourceName, const std::u16string& videoName,
                              const std::u16string& timecodesName);
};

} // namespace tcdemux
