#include "demuxer_packets.hpp"

#include "av_error.hpp"

#include <new>

namespace mp {

int DemuxerPackets::next(AVPacket* pkt, int64_t& position)
{
    if (held_.empty()) {
        position = avio_tell(input_->pb);
        return av_read_frame(input_, pkt);
    }
    Held held = std::move(held_.front());
    held_.pop_front();
    position = held.position;
    if (held.rc >= 0)
        av_packet_move_ref(pkt, held.pkt.get());
    return held.rc;
}

std::vector<const AVPacket*> DemuxerPackets::first_of(int index, size_t count)
{
    std::vector<const AVPacket*> found;
    for (const Held& h : held_)
        if (h.rc >= 0 && h.pkt->stream_index == index)
            found.push_back(h.pkt.get());
    while (found.size() < count && (held_.empty() || held_.back().rc >= 0)) {
        Held h;
        h.pkt.reset(av_packet_alloc());
        if (!h.pkt)
            throw std::bad_alloc();
        h.position = avio_tell(input_->pb);
        h.rc = av_read_frame(input_, h.pkt.get());
        if (h.rc == AVERROR_EXIT)
            throw Interrupted();
        held_.push_back(std::move(h));
        const Held& last = held_.back();
        if (last.rc >= 0 && last.pkt->stream_index == index)
            found.push_back(last.pkt.get());
    }
    return found;
}

bool DemuxerPackets::read_ahead_failed() const
{
    return !held_.empty() && held_.back().rc < 0 && held_.back().rc != AVERROR_EOF;
}

}  // namespace mp
