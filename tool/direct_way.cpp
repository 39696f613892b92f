#include "direct_way.hpp"

#include "av_error.hpp"
#include "block_scan.hpp"
#include "frame_buffer.hpp"
#include "interrupt.hpp"
#include "stand_ins.hpp"
#include "stream_conversion.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace mp {
namespace {

// Codecs whose frames the Matroska demuxer passes on untouched (it rewrites
// a few others, ProRes for one) and that AVI can hold.
bool stored_as_written(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MSMPEG4V3:
    case AV_CODEC_ID_H263:
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_FFV1:
    case AV_CODEC_ID_VP8:
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_AV1:
        return true;
    default:
        return false;
    }
}

// Runs one stand-in frame through the conversion; false unless it gives
// exactly one frame.
bool convert(AVBSFContext* conversion, const std::vector<uint8_t>& stand_in, AVPacket* in, AVPacket* out)
{
    if (stand_in.size() > INT_MAX || av_new_packet(in, static_cast<int>(stand_in.size())) < 0)
        throw std::bad_alloc();
    std::memcpy(in->data, stand_in.data(), stand_in.size());
    return convert_frame(conversion, in, out) == Converted::One;
}

}  // namespace

bool direct_way_fits(const Source& source)
{
#if defined(_WIN32)
    // Built there, but never run or tested: the demuxer way serves.
    (void)source;
    return false;
#else
    const AVCodecID codec = source.stream->codecpar->codec_id;
    const MatroskaTrack* track = source.track;
    return source.file.regular() && source.header && track && !track->content_encoded &&
           !track->adjusted_timing && track->number != 0 && stored_as_written(codec) &&
           (!needs_conversion(codec) || (source.nal_length_size >= 1 && source.nal_length_size <= 4));
#endif
}

bool copy_direct(Source& source, AVBSFContext* conversion, size_t copy_threshold, AviWriter& avi,
                 TimecodeList& times, Progress& progress)
{
    const MatroskaHeader& header = *source.header;
    const MatroskaTrack& track = *source.track;
    std::vector<uint64_t> known_tracks;
    for (const MatroskaTrack& t : header.tracks)
        known_tracks.push_back(t.number);

    const uint64_t file_size = source.file.size();
    SourceReader reader(source.file.fd(), file_size);
    BlockScanner scanner(reader, header.segment_start, header.segment_end, track.number, known_tracks);
    const size_t threshold = std::clamp(copy_threshold, kStandInHead, SourceReader::kMaxRead);
    const auto tick = static_cast<int64_t>(header.timestamp_scale_ns);
    const int64_t default_ns = default_duration_or_none(&track);

    PacketPtr frame_packet(av_packet_alloc());
    PacketPtr stand_in_packet(av_packet_alloc());
    PacketPtr converted(av_packet_alloc());
    if (!frame_packet || !stand_in_packet || !converted)
        throw std::bad_alloc();
    FrameBuffer frame;
    StandInMaker stand_ins(source.nal_length_size, threshold);
    std::vector<Piece> pieces;
    auto frames = static_cast<int64_t>(times.size());

    while (true) {
        stop_if_interrupted();
        BlockInfo block;
        const BlockScanner::Step step = scanner.next(block);
        if (step == BlockScanner::Step::End)
            break;
        if (step == BlockScanner::Step::Irregular || block.size > INT_MAX)
            return false;
        // Timestamps beyond what nanoseconds in 64 bits hold are left to the
        // demuxer's arithmetic.
        const int64_t limit = INT64_MAX / std::max<int64_t>(tick, 1);
        if (block.ticks > limit || (block.duration_ticks && *block.duration_ticks > static_cast<uint64_t>(limit)))
            return false;
        const FrameTime time = block_frame_time(
            block.ticks * tick, block.duration_ticks ? static_cast<int64_t>(*block.duration_ticks) * tick : 0, tick,
            default_ns);

        size_t size = 0;
        AviWriter::Memory memory = AviWriter::Memory::Complete;
        const std::vector<Piece>* layout = nullptr;
        if (conversion) {
            if (!stand_ins.make(reader, block.data_offset, block.size) ||
                !convert(conversion, stand_ins.frame(), stand_in_packet.get(), converted.get())) {
                av_packet_unref(converted.get());
                return false;
            }
            std::optional<std::vector<Piece>> expanded = expand_stand_ins(
                converted->data, static_cast<size_t>(converted->size), stand_ins.stand_ins(), frame, size);
            av_packet_unref(converted.get());
            if (!expanded || size > INT_MAX)
                return false;
            pieces = std::move(*expanded);
            layout = &pieces;
            memory = AviWriter::Memory::LiteralPiecesOnly;
        } else {
            size = static_cast<size_t>(block.size);
            uint8_t* data = frame.reserve(size);
            if (size <= threshold) {
                const uint8_t* bytes = reader.at(block.data_offset, size);
                if (!bytes)
                    return false;
                std::memcpy(data, bytes, size);
            } else {
                pieces.assign(1, Piece{0, size, static_cast<int64_t>(block.data_offset)});
                layout = &pieces;
                memory = AviWriter::Memory::LiteralPiecesOnly;
            }
        }
        // The packet borrows the frame buffer; the muxer only passes it on.
        frame_packet->data = frame.data();
        frame_packet->size = static_cast<int>(size);
        frame_packet->flags = block.key ? AV_PKT_FLAG_KEY : 0;
        avi.write(frame_packet.get(), frames, layout, memory);
        times.add(time);
        ++frames;
        progress.update(static_cast<int64_t>(scanner.position()), static_cast<int64_t>(file_size), frames);
    }
    return true;
}

}  // namespace mp
