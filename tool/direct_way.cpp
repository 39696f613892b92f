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

std::optional<std::string> direct_way_refusal(const Source& source)
{
#if defined(_WIN32)
    // Built there, but never run or tested: the demuxer way serves.
    (void)source;
    return "the direct way is not used on Windows";
#else
    const AVCodecID codec = source.stream->codecpar->codec_id;
    const MatroskaTrack* track = source.track;
    if (!source.file.regular())
        return "it is not a regular file";
    if (!source.header)
        return "mp.exe's own reader does not understand its header";
    if (!track || track->number == 0)
        return "its video track's header entry was not found";
    if (track->content_encoded)
        return "its frames are stored compressed or encrypted";
    if (track->adjusted_timing)
        return "its video track has a timestamp scale of its own or a codec delay";
    if (track->frame_rate_given && !track->default_duration_ns)
        return "its video track states a frame rate instead of a default duration";
    if (!stored_as_written(codec))
        return "the demuxer rewrites frames of its codec";
    if (needs_conversion(codec) && (source.nal_length_size < 1 || source.nal_length_size > 4))
        return "its codec data gives no NAL unit length size";
    return std::nullopt;
#endif
}

std::optional<FrameTime> scanned_frame_time(const BlockInfo& block, const Source& source)
{
    constexpr uint64_t kLargest = static_cast<uint64_t>(INT64_MAX);
    const int64_t duration =
        block.duration_ticks ? static_cast<int64_t>(std::min(*block.duration_ticks, kLargest)) : 0;
    const TimeBase base{source.stream->time_base.num, source.stream->time_base.den};
    return frame_time(block.ticks, duration, base, default_duration_or_none(source.track));
}

bool copy_direct(Source& source, AVBSFContext* conversion, size_t copy_threshold, AviWriter& avi,
                 TimecodeList& times, Progress& progress, std::string& why_stopped)
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

    PacketPtr frame_packet(av_packet_alloc());
    PacketPtr stand_in_packet(av_packet_alloc());
    PacketPtr converted(av_packet_alloc());
    if (!frame_packet || !stand_in_packet || !converted)
        throw std::bad_alloc();
    FrameBuffer frame;
    StandInMaker stand_ins(source.nal_length_size, threshold);
    std::vector<Piece> pieces;
    auto frames = static_cast<int64_t>(times.size());
    const auto stop = [&](const char* reason) {
        why_stopped = std::string(reason) + " near byte " + std::to_string(scanner.position());
        return false;
    };

    while (true) {
        stop_if_interrupted();
        BlockInfo block;
        const BlockScanner::Step step = scanner.next(block);
        if (step == BlockScanner::Step::End)
            break;
        if (step == BlockScanner::Step::Irregular)
            return stop("its structure is irregular");
        if (block.size > INT_MAX)
            return stop("it has a frame larger than 2 GiB");
        const std::optional<FrameTime> time = scanned_frame_time(block, source);
        if (!time)
            return stop("it has a frame whose timestamp or duration is over 36 years");

        size_t size = 0;
        AviWriter::Memory memory = AviWriter::Memory::Complete;
        const std::vector<Piece>* layout = nullptr;
        if (conversion) {
            if (!stand_ins.make(reader, block.data_offset, block.size) ||
                !convert(conversion, stand_ins.frame(), stand_in_packet.get(), converted.get())) {
                av_packet_unref(converted.get());
                return stop("the stream conversion does not take a frame");
            }
            std::optional<std::vector<Piece>> expanded = expand_stand_ins(
                converted->data, static_cast<size_t>(converted->size), stand_ins.stand_ins(), frame, size);
            av_packet_unref(converted.get());
            if (!expanded || size > INT_MAX)
                return stop("a converted frame does not match its NAL units");
            pieces = std::move(*expanded);
            layout = &pieces;
            memory = AviWriter::Memory::LiteralPiecesOnly;
        } else {
            size = static_cast<size_t>(block.size);
            uint8_t* data = frame.reserve(size);
            if (size <= threshold) {
                const uint8_t* bytes = reader.at(block.data_offset, size);
                if (!bytes)
                    return stop("a frame cannot be read");
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
        times.add(*time);
        ++frames;
        progress.update(static_cast<int64_t>(scanner.position()), static_cast<int64_t>(file_size), frames);
    }
    return true;
}

}  // namespace mp
