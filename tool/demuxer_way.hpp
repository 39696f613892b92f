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

// The frame's time from the packet the demuxer handed over, or nullopt
// when it has no timestamp or lies beyond kMaxTimeNs. With
// AVFMT_FLAG_NOFILLIN the demuxer's own values arrive untouched: a native
// track carries the block timestamp as PTS, a VfW-mode track as DTS.
std::optional<FrameTime> packet_frame_time(const AVPacket* pkt, const Source& source);

// Copies every frame of the source's video track into `avi` and its time
// into `times`, through `conversion` when it is not null. Returns what
// damage stopped it (or what the demuxer skipped at the end), if any;
// throws Error/Interrupted like the rest of the job.
std::optional<std::string> copy_through_demuxer(Source& source, AVBSFContext* conversion, AviWriter& avi,
                                                TimecodeList& times, Progress& progress);

}  // namespace mp
