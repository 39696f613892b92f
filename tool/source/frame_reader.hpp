// The frames of the video track, in storage order, each with its time: as
// libavformat's demuxer hands them over, completed by what the Matroska
// scan saw of the same bytes.
//
// For a Matroska source, each packet is matched to its block by position.
// The block gives the frame's time exactly as stored (also before zero,
// where libavformat gives none, and an explicit duration of 0). A block of
// the track that the demuxer passed over is owed: an empty one becomes an
// empty frame at its place, anything else counts as a frame lost, which
// damage() reports. Without a match (other containers, or a scan that lost
// the structure) the packet's own time serves.
#pragma once

#include "common/av_ptr.hpp"
#include "output/timecodes.hpp"
#include "source/source.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace mp {

struct Frame {
    AVPacket* packet = nullptr;  // the data; empty for an empty frame
    FrameTime time;
    int64_t position = -1;       // where it lies in the source, when known
    // How long the frame before it lasts, where the container stores no
    // durations but decode times (MP4's sample durations are their
    // differences).
    std::optional<int64_t> earlier_lasts_ns;
};

class FrameReader {
public:
    explicit FrameReader(Source& source);

    // The next frame, valid until the next call; false at the end of the
    // track or at damage that stops the reading. Throws Interrupted.
    bool next(Frame& frame);

    // After next() gave false: what was wrong with the source, if anything
    // (damage that stopped the reading, a cut-off file, frames that could
    // not be read, parts the demuxer skipped), given the frames read.
    std::optional<std::string> damage(int64_t frames) const;

private:
    void fetch();
    bool owed_frame(uint64_t before, Frame& frame);
    std::optional<FrameTime> time_of(const AVPacket* pkt);
    std::optional<FrameTime> packet_time(const AVPacket* pkt) const;

    Source& source_;
    MatroskaScan& scan_;
    PacketPtr empty_;
    bool have_packet_ = false;  // source_.first holds a packet not yet given out
    int result_ = 0;            // how reading the last packet went
    std::optional<ScannedBlock> matched_;  // the block of the last packet
    int lace_ = 0;                         // which frame of a laced block
    int64_t last_dts_ = AV_NOPTS_VALUE;  // of the packet before, for earlier_lasts_ns
    int64_t lost_ = 0;
    uint64_t first_lost_ = 0;
    std::optional<std::string> stopped_;  // damage that stopped the reading
};

}  // namespace mp
