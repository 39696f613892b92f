// The fast way through a well-formed source: frames located by our own
// scan of the Matroska structure and copied from the source file by the
// kernel, so their bytes never pass through memory. Only frames that the
// Matroska demuxer would hand over unchanged qualify; anything unusual is
// left to the demuxer way, which then does the whole job afresh.
#pragma once

#include "avi_writer.hpp"
#include "progress.hpp"
#include "source.hpp"
#include "timecodes.hpp"

#include <cstddef>

namespace mp {

// Whether the source may take the direct way at all: a regular file whose
// header our reader understood, with a track stored plainly in a codec
// whose frames reach the AVI as stored.
bool direct_way_fits(const Source& source);

// Copies every frame of the source's video track into `avi` and its time
// into `times`, through `conversion` when it is not null. Frames and NAL
// bodies up to `copy_threshold` bytes are read and written from memory,
// larger ones copied from the source. Returns false, having written frames
// perhaps, when the source needs the demuxer way after all (damage, lacing,
// an unusual layout); the caller then discards what was written. Throws
// Error/Interrupted like the rest of the job.
bool copy_direct(Source& source, AVBSFContext* conversion, size_t copy_threshold, AviWriter& avi,
                 TimecodeList& times, Progress& progress);

}  // namespace mp
