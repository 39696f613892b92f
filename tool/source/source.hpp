// Opening and checking the source: libavformat's demuxer on the source
// file, the video track chosen, its Matroska track entry found, and what
// the AVI needs (FourCC, frame rate) worked out. Anything that makes the
// job impossible is refused here, before an output is created, in words
// that name the actual problem.
//
// libavformat does not say which Matroska track a stream comes from. The
// stream's first packet does: its position is that of a block the scan
// found, whose head carries the track number. That packet is kept for the
// frame reader, so nothing is read twice.
#pragma once

#include "common/av_ptr.hpp"
#include "output/frame_rate.hpp"
#include "output/timecodes.hpp"
#include "source/matroska_scan.hpp"
#include "source/source_file.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mp {

struct Source {
    // Opens and checks the source `path`, opened as `file`. Throws Error
    // (or Interrupted). Errors the demuxer logs from here on are counted
    // (LogCapture).
    Source(SourceFile& file, const std::filesystem::path& path);
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    std::string name;
    SourceFile& file;
    InputFormatPtr input;
    AVStream* stream = nullptr;  // the video track
    int index = -1;              // its stream index
    // The stream's first packet, read ahead (empty at the end), and the
    // result of reading it (0, AVERROR_EOF or an error).
    PacketPtr first;
    int first_result = 0;
    // The track's Matroska entry, when the first packet shows which it is.
    const MatroskaTrack* track = nullptr;
    bool vfw = false;  // stored in VfW compatibility mode
    uint32_t fourcc = 0;
    Rational rate;  // for the AVI header
    // How the frame times are written (see timeline_of in source.cpp).
    Timeline timeline;
    // What the source asks of its video that an AVI file cannot carry (a
    // rotation, more video tracks), in a sentence each.
    std::vector<std::string> notes;

    // The track's exact default frame duration in ns, or -1 without one.
    int64_t default_duration_ns() const;
};

}  // namespace mp
