// mp.exe's job: the video track of a Matroska/WebM file -> an AVI file and
// a timecode v2 file. The way a run takes (run.cpp, after main.cpp and cli):
//  1. output_files refuses outputs that name the source or each other.
//  2. source opens the file once (source_file) and checks it with
//     libavformat's demuxer and our header reader (matroska_header, ebml);
//     the stream's first packet (demuxer_packets, which keeps what it reads
//     ahead) tells which header entry is the video track.
//  3. direct_way, for a well-formed file whose first frames our scan finds
//     as the demuxer does (direct_check): block_scan finds the frames,
//     stand_ins converts H.264/HEVC (stream_conversion) without reading NAL
//     bodies, range_writer has the kernel copy them into avi_writer's AVI.
//  4. demuxer_way otherwise: the demuxer reads every frame, written as is.
//     Both ways time frames with the same checked arithmetic (timecodes).
//  5. damage judges the rest; pending_outputs finishes both files, and
//     output_commit moves them into place together (all or nothing).
#pragma once

#include "frame_rate.hpp"
#include "range_writer.hpp"
#include "way.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace mp {

class Progress;

struct DemuxJob {
    std::filesystem::path source;
    std::filesystem::path avi;
    std::filesystem::path timecodes;
    // Whether a well-formed source may or must take the direct way (frames
    // located by our own scan and copied by the kernel), or the demuxer way
    // reads every frame. Both give the same files.
    Way way = Way::Auto;
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
    bool replaced_avi = false;          // the outputs took the place of existing files
    bool replaced_timecodes = false;
};

// Runs the whole job. Throws Error (or Interrupted) on failure, in which case
// no output file was created or changed. When the source turns out to be cut
// off or damaged part-way, the frames read before that are written and the
// result's `damage` says what happened.
DemuxResult run_demux(const DemuxJob& job, Progress& progress);

// The summary line printed at the end of a successful run.
std::string summary_line(const DemuxJob& job, const DemuxResult& result);

}  // namespace mp
