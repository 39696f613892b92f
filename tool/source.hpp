// Opening and checking the source: the file opened once, libavformat's
// demuxer on it, the video track chosen, its Matroska header entry found,
// and what the AVI needs (FourCC, frame rate) worked out. Anything that
// makes the job impossible is refused here, before an output is created.
//
// libavformat skips track entries it cannot use and does not say which
// Matroska track a stream comes from. The header entry is therefore the one
// whose number the block of the stream's first packet carries: the packet
// position points at that block in the file.
#pragma once

#include "av_ptr.hpp"
#include "demuxer_packets.hpp"
#include "frame_rate.hpp"
#include "matroska_header.hpp"
#include "source_file.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace mp {

class LogCapture;

struct Source {
    // Opens and checks `path`; throws Error (or Interrupted). Errors the
    // demuxer logs from here on count in `log`.
    Source(const std::filesystem::path& path, LogCapture& log);
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    std::string name;  // quoted, for messages
    SourceFile file;
    InputFormatPtr input;  // reads through `file`, so declared after it
    DemuxerPackets packets;      // the demuxer's packets, the first few read ahead
    AVStream* stream = nullptr;  // the video track
    int index = -1;              // its stream index
    // The header as our own reader sees it; only read from regular files.
    std::optional<MatroskaHeader> header;
    // The video track's entry in *header, when the stream's first packet
    // shows which it is.
    const MatroskaTrack* track = nullptr;
    bool vfw = false;                      // stored in VfW compatibility mode
    uint32_t fourcc = 0;
    Rational rate;            // for the AVI header
    int nal_length_size = 0;  // H.264/HEVC in length-prefixed form: 1..4
};

}  // namespace mp
