#include "main_window/demux_command.h"

namespace tcdemux {

DemuxCommand DemuxCommand::Build(const std::u16string& programFolder, char16_t separator,
                                 const std::u16string& toolName, const std::u16string& sourceFolder,
                                 const std::u16string& sourceName, const std::u16string& videoName,
                                 const std::u16string& timecodesName) {
    return {programFolder + separator + toolName,
            {sourceFolder + sourceName, videoName, timecodesName},
            {{kNotifyVariable, u"1"}}};
}

} // namespace tcdemux
