// The way through any source: libavformat's Matroska demuxer reads every
// frame, which also finds its way through damage, and each frame is written
// as the demuxer hands it over (converted to start codes where needed). It
// is the fallback for damaged, compressed, laced or piped sources, so it
// favours plainness over speed: every byte passes through memory.
#pragma once

#include "avi_writer.hpp"
#include "progress.hpp"
#include "source.hpp"
#include "timecodes.hpp"

#include <optional>
#include <string>

namespace mp {

// Copies every frame of the source's video track into `avi` and its time
// into `times`, through `conversion` when it is not null. Returns what
// damage stopped it (or what the demuxer skipped at the end), if any;
// throws Error/Interrupted like the rest of the job.
std::optional<std::string> copy_through_demuxer(Source& source, AVBSFContext* conversion, AviWriter& avi,
                                                TimecodeList& times, Progress& progress);

}  // namespace mp
