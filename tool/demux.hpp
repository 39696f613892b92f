// mp.exe's job: the video track of a source -> an AVI file and a timecode
// v2 file, in one pass over the source with one reader, libavformat.
//
// A run, in the order it goes (run.cpp, after main.cpp and cli):
//  source/   reading the source.
//    source_file opens it once; libavformat reads it through our I/O
//    context, which shows every byte it reads to matroska_scan as well
//    (ebml, matroska), so the Matroska header's exact values and the place
//    and time of every block come from the same bytes, from a file or a
//    pipe alike. source opens libavformat's demuxer, picks the video track
//    and works out what the AVI needs. frame_reader hands out the track's
//    frames with their times, keeps empty frames the demuxer drops, and
//    counts frames it could not read. stream_conversion turns H.264/HEVC
//    into start codes; ffmpeg_log catches FFmpeg's log.
//  output/   writing the two outputs and committing them.
//    output_target decides what each output's name may be (only regular
//    files are replaced, devices written in place); run_journal keeps the
//    run's hidden files and sets right what a killed run left;
//    output_file is one output being written; avi_writer has libavformat's
//    AVI muxer write frame after frame; timecodes and frame_rate do the
//    arithmetic; pending_outputs holds both, and output_commit moves them
//    into place together (all or nothing).
//  report/   reporting the run: progress on a terminal, and with --notify
//    the desktop notification and the run record (run_reporter, run_report,
//    desktop_notifier*, run_log).
//  common/   errors in words (av_error), FFmpeg's objects as owners
//    (free_with, av_ptr), stop signals (interrupt), file calls (file_io).
#pragma once

#include "output/frame_rate.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace mp {

class Progress;

struct DemuxJob {
    std::filesystem::path source;
    std::filesystem::path avi;
    std::filesystem::path timecodes;
};

struct DemuxResult {
    int64_t frames = 0;
    Rational nominal_rate;        // frames per second written in the AVI header
    double average_rate = 0;      // frames / (end of last frame - first timestamp)
    std::optional<std::string> damage;  // set when the source was cut off or damaged
    bool replaced_avi = false;          // the outputs took the place of existing files
    bool replaced_timecodes = false;
    // What the source asks of its video that the AVI cannot carry.
    std::vector<std::string> notes;
};

// Runs the whole job. Throws Error (or Interrupted) on failure, in which case
// no output file was created or changed. When the source turns out to be cut
// off or damaged part-way, the frames read before that are written and the
// result's `damage` says what happened.
DemuxResult run_demux(const DemuxJob& job, Progress& progress);

// The summary line printed at the end of a successful run.
std::string summary_line(const DemuxJob& job, const DemuxResult& result);

}  // namespace mp
