// The fast way through a well-formed source: frames located by our own
// scan of the Matroska structure and copied from the source file by the
// kernel, so their bytes never pass through memory. Only frames that the
// Matroska demuxer would hand over unchanged qualify; anything unusual is
// left to the demuxer way, which then does the whole job afresh.
//
// Codec, codec data and time base come from libavformat's stream. Before
// the direct way starts, direct_check confirms that the scan finds the
// track's first frames just where, as large and as timed as the demuxer
// hands them over.
#pragma once

#include "avi_writer.hpp"
#include "block_scan.hpp"
#include "progress.hpp"
#include "source.hpp"
#include "timecodes.hpp"

#include <cstddef>
#include <optional>
#include <string>

namespace mp {

// Why the source cannot take the direct way at all, or nullopt when it may:
// it must be a regular file whose header our reader understood, with a
// track stored plainly in a codec whose frames reach the AVI as stored.
std::optional<std::string> direct_way_refusal(const Source& source);

// A block's time as the demuxer would give it for its packet: the block's
// timestamp and stored duration in ticks of the stream's time base (a
// duration beyond 64 bits held at the largest, as the demuxer does).
std::optional<FrameTime> scanned_frame_time(const BlockInfo& block, const Source& source);

// Copies every frame of the source's video track into `avi` and its time
// into `times`, through `conversion` when it is not null. Frames and NAL
// bodies up to `copy_threshold` bytes are read and written from memory,
// larger ones copied from the source. Returns false, having written frames
// perhaps, when the source needs the demuxer way after all (damage, lacing,
// an unusual layout), with the reason in `why_stopped`; the caller then
// discards what was written. Throws Error/Interrupted like the rest of the
// job.
bool copy_direct(Source& source, AVBSFContext* conversion, size_t copy_threshold, AviWriter& avi,
                 TimecodeList& times, Progress& progress, std::string& why_stopped);

}  // namespace mp
