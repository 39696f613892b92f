#include "demuxer_way.hpp"

#include "av_error.hpp"
#include "interrupt.hpp"
#include "stream_conversion.hpp"

#include <new>

namespace mp {

std::optional<FrameTime> packet_frame_time(const AVPacket* pkt, const Source& source)
{
    int64_t ts = source.vfw ? pkt->dts : pkt->pts;
    if (ts == AV_NOPTS_VALUE)
        ts = source.vfw ? pkt->pts : pkt->dts;
    if (ts == AV_NOPTS_VALUE)
        return std::nullopt;
    const TimeBase base{source.stream->time_base.num, source.stream->time_base.den};
    return frame_time(ts, pkt->duration, base, default_duration_or_none(source.track));
}

std::optional<std::string> copy_through_demuxer(Source& source, AVBSFContext* conversion, AviWriter& avi,
                                                TimecodeList& times, Progress& progress)
{
    AVFormatContext* input = source.input.get();
    const std::string& name = source.name;
    PacketPtr pkt(av_packet_alloc());
    PacketPtr converted(av_packet_alloc());
    if (!pkt || !converted)
        throw std::bad_alloc();
    const int64_t source_size = avio_size(input->pb);

    while (true) {
        stop_if_interrupted();
        int64_t position = 0;
        const int rc = source.packets.next(pkt.get(), position);
        const auto damaged_frame = [&] { return name + " has a damaged frame near byte " + std::to_string(position); };
        if (rc == AVERROR_EOF)
            break;
        if (rc == AVERROR_EXIT)
            throw Interrupted();
        if (rc < 0)
            return name + " cannot be read past byte " + std::to_string(position) + " (" + av_error_text(rc) + ")";
        if (pkt->stream_index != source.index) {
            av_packet_unref(pkt.get());
            continue;
        }
        const bool has_timestamp = pkt->pts != AV_NOPTS_VALUE || pkt->dts != AV_NOPTS_VALUE;
        const std::optional<FrameTime> time = packet_frame_time(pkt.get(), source);
        if (!time) {
            av_packet_unref(pkt.get());
            if (!has_timestamp)
                return name + " has a frame without a timestamp near byte " + std::to_string(position);
            return name + " has a frame whose timestamp or duration is over 36 years near byte " +
                   std::to_string(position);
        }
        const auto index = static_cast<int64_t>(times.size());
        if (!conversion) {
            avi.write(pkt.get(), index);
        } else {
            const Converted result = convert_frame(conversion, pkt.get(), converted.get());
            if (result == Converted::Several)
                throw Error("the stream conversion split a frame of " + name);
            if (result == Converted::None)
                return damaged_frame();
            avi.write(converted.get(), index);
            if (result == Converted::OneThenError) {
                // Written already; count it so both outputs agree.
                times.add(*time);
                return damaged_frame();
            }
        }
        times.add(*time);
        progress.update(avio_tell(input->pb), source_size, static_cast<int64_t>(times.size()));
    }

    const std::optional<uint64_t> segment_end = source.header ? source.header->segment_end : std::nullopt;
    if (segment_end && source_size > 0 && static_cast<uint64_t>(source_size) < *segment_end)
        return name + " is cut off (" + std::to_string(source_size) + " of " + std::to_string(*segment_end) +
               " bytes present)";
    return std::nullopt;
}

}  // namespace mp
