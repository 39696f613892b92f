// libavformat's packets of the source, in order, each handed out once.
//
// Before a way is chosen, the source's first packets are read ahead: they
// tell which Matroska track libavformat made the video stream of, and the
// direct way is only taken when its own scan finds the same first frames.
// Those packets are kept, and the demuxer way gets them first, so it reads
// the track from its start without seeking back (a seek would change the
// demuxer's state, and a pipe cannot seek at all).
#pragma once

#include "av_ptr.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace mp {

class DemuxerPackets {
public:
    explicit DemuxerPackets(AVFormatContext* input) : input_(input) {}

    // The next packet into `pkt`, with av_read_frame's result; `position`
    // is the byte the demuxer had reached before reading it.
    int next(AVPacket* pkt, int64_t& position);

    // Reads ahead until `count` packets of stream `index` are held, or the
    // demuxer ends or fails; returns the held packets of that stream, which
    // stay valid until next() hands them out. Throws Interrupted when a stop
    // was requested.
    std::vector<const AVPacket*> first_of(int index, size_t count);

    // Whether the packets held so far end in an error other than the end
    // of the source.
    bool read_ahead_failed() const;

private:
    struct Held {
        int rc = 0;
        int64_t position = 0;
        PacketPtr pkt;
    };
    AVFormatContext* input_;
    std::deque<Held> held_;
};

}  // namespace mp
