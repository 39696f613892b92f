// The demux job: Matroska/WebM video track -> AVI file + timecode v2 file.
#pragma once

#include "range_writer.hpp"
#include "frame_rate.hpp"
#include "timecodes.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace mp {

class Progress;

struct DemuxJob {
    std::filesystem::path source;
    std::filesystem::path avi;
    std::filesystem::path timecodes;
    // Whether a well-formed source may take the direct way (frames located
    // by our own scan and copied by the kernel); off, the demuxer reads every
    // frame. Both give the same files.
    bool allow_direct = true;
    // On the direct way, frames and NAL bodies up to this many bytes are
    // read and written from memory, larger ones copied from the source.
    std::size_t copy_threshold = kMinCopyLength;
};

struct DemuxResult {
    int64_t frames = 0;
    Rational nominal_rate;        // frames per second written in the AVI header
    double average_rate = 0;      // frames / (end of last frame - first timestamp)
    std::optional<std::string> damage;  // set when the source was cut off or damaged
    bool copied_directly = false;       // took the direct way
};

// Runs the whole job. Throws Error (or Interrupted) on failure, in which case
// no output file was created or changed. When the source turns out to be cut
// off or damaged part-way, the frames read before that are written and the
// result's `damage` says what happened.
DemuxResult run_demux(const DemuxJob& job, Progress& progress);

// The summary line printed at the end of a successful run.
std::string summary_line(const DemuxJob& job, const DemuxResult& result);

}  // namespace mp
