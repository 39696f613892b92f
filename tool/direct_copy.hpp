// The fast way through a well-formed source: frames located by our own
// scan of the Matroska structure and copied from the source file by the
// kernel, so their bytes never pass through memory. Only frames that the
// Matroska demuxer would hand over unchanged qualify; anything unusual is
// left to the full demuxer, which then does the whole job afresh.
#pragma once

#include "avi_writer.hpp"
#include "matroska_header.hpp"
#include "progress.hpp"
#include "timecodes.hpp"

#include <cstdint>

namespace mp {

struct DirectSource {
    int fd = -1;
    uint64_t file_size = 0;
    const MatroskaHeader* header = nullptr;
    const MatroskaTrack* track = nullptr;
    // The H.264/HEVC conversion to start codes, or null; with it, the NAL
    // length field size from the codec data (1..4).
    AVBSFContext* conversion = nullptr;
    int nal_length_size = 0;
    // Frames and NAL bodies up to this size are read and written from
    // memory; larger ones are copied from the source.
    size_t copy_threshold = kMinCopyLength;
};

// True when frames of `codec` reach the AVI exactly as stored in Matroska.
bool stored_as_written(AVCodecID codec);

// Copies every frame of the track into `avi` and its time into `times`.
// Returns false, having written frames perhaps, when the source needs the
// full demuxer (damage, lacing, an unusual layout); the caller then discards
// what was written. Throws Error/Interrupted like the rest of the job.
bool copy_direct(const DirectSource& source, AviWriter& avi, TimecodeList& times, Progress& progress);

}  // namespace mp
