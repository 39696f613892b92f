#include "direct_copy.hpp"

#include "av_error.hpp"
#include "block_scan.hpp"
#include "interrupt.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>
#include <random>

namespace mp {
namespace {

// Fresh random markers for the stand-in bodies of one run. The key is
// unknown to whoever made the file, so no frame can contain a marker.
class MarkerSource {
public:
    MarkerSource()
    {
        uint64_t entropy = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        try {
            std::random_device random;
            entropy ^= (uint64_t{random()} << 32) ^ random();
        } catch (const std::exception&) {
            // No system entropy: the clock alone still gives a key that no
            // file made earlier can contain except by pure chance.
        }
        std::mt19937_64 mix(entropy);
        for (size_t i = 0; i < key_.size(); i += sizeof(uint64_t)) {
            const uint64_t word = mix();
            std::memcpy(key_.data() + i, &word, std::min(sizeof word, key_.size() - i));
        }
    }
    std::array<uint8_t, kMarkerSize> next()
    {
        std::array<uint8_t, kMarkerSize> marker{};
        std::memcpy(marker.data(), key_.data(), key_.size());
        const uint64_t n = count_++;
        std::memcpy(marker.data() + key_.size(), &n, sizeof n);
        return marker;
    }

private:
    std::array<uint8_t, kMarkerSize - sizeof(uint64_t)> key_{};
    uint64_t count_ = 0;
};

void put_length(std::vector<uint8_t>& out, size_t length, int field_size)
{
    for (int i = field_size - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(length >> (8 * i)));
}

// Reads a length-prefixed frame's NAL units, keeping small bodies whole and
// cutting large ones to stand-ins. False when the lengths do not add up.
bool make_stand_in(SourceReader& reader, const BlockInfo& block, int length_size, size_t threshold,
                   MarkerSource& markers, std::vector<uint8_t>& frame, std::vector<StandIn>& stand_ins)
{
    frame.clear();
    stand_ins.clear();
    const auto field = static_cast<size_t>(length_size);
    for (uint64_t at = 0; at < block.size;) {
        if (block.size - at < field)
            return false;
        const uint8_t* p = reader.at(block.data_offset + at, field);
        if (!p)
            return false;
        uint64_t length = 0;
        for (size_t i = 0; i < field; ++i)
            length = (length << 8) | p[i];
        at += field;
        if (length > block.size - at)
            return false;
        const uint64_t body = block.data_offset + at;
        if (length <= threshold) {
            const uint8_t* bytes = reader.at(body, static_cast<size_t>(length));
            if (!bytes)
                return false;
            put_length(frame, static_cast<size_t>(length), length_size);
            frame.insert(frame.end(), bytes, bytes + length);
        } else {
            const uint8_t* head = reader.at(body, kStandInHead);
            if (!head)
                return false;
            StandIn s;
            s.source_offset = static_cast<int64_t>(body);
            s.length = static_cast<size_t>(length);
            std::copy(head, head + kStandInHead, s.head.begin());
            s.marker = markers.next();
            put_length(frame, kStandInHead + kMarkerSize, length_size);
            frame.insert(frame.end(), s.head.begin(), s.head.end());
            frame.insert(frame.end(), s.marker.begin(), s.marker.end());
            stand_ins.push_back(s);
        }
        at += length;
    }
    return true;
}

// Runs one stand-in frame through the conversion; false unless it gives
// exactly one frame.
bool convert(AVBSFContext* conversion, const std::vector<uint8_t>& stand_in, AVPacket* in, AVPacket* out)
{
    if (stand_in.size() > INT_MAX || av_new_packet(in, static_cast<int>(stand_in.size())) < 0)
        throw std::bad_alloc();
    std::memcpy(in->data, stand_in.data(), stand_in.size());
    if (av_bsf_send_packet(conversion, in) < 0) {
        av_packet_unref(in);
        return false;
    }
    if (av_bsf_receive_packet(conversion, out) < 0)
        return false;
    // `in` is blank again after sending; a second frame would land in it.
    const int more = av_bsf_receive_packet(conversion, in);
    av_packet_unref(in);
    return more == AVERROR(EAGAIN);
}

}  // namespace

bool stored_as_written(AVCodecID codec)
{
    // Codecs whose frames the Matroska demuxer passes on untouched (it
    // rewrites a few others, ProRes for one) and that AVI can hold.
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

bool copy_direct(const DirectSource& source, AviWriter& avi, TimecodeList& times, Progress& progress)
{
    const MatroskaHeader& header = *source.header;
    const MatroskaTrack& track = *source.track;
    if (source.fd < 0 || track.content_encoded || track.adjusted_timing || track.number == 0)
        return false;
    if (source.conversion && (source.nal_length_size < 1 || source.nal_length_size > 4))
        return false;
    std::vector<uint64_t> known_tracks;
    for (const MatroskaTrack& t : header.tracks)
        known_tracks.push_back(t.number);

    SourceReader reader(source.fd, source.file_size);
    BlockScanner scanner(reader, header.segment_start, header.segment_end, track.number, known_tracks);
    const size_t threshold = std::clamp<size_t>(source.copy_threshold, kStandInHead, SourceReader::kMaxRead);
    const auto tick = static_cast<int64_t>(header.timestamp_scale_ns);
    const int64_t default_ns = default_duration_or_none(&track);

    PacketPtr frame_packet(av_packet_alloc());
    PacketPtr stand_in_packet(av_packet_alloc());
    PacketPtr converted(av_packet_alloc());
    if (!frame_packet || !stand_in_packet || !converted)
        throw std::bad_alloc();
    FrameBuffer frame;
    MarkerSource markers;
    std::vector<uint8_t> stand_in;
    std::vector<StandIn> stand_ins;
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
        if (source.conversion) {
            if (!make_stand_in(reader, block, source.nal_length_size, threshold, markers, stand_in, stand_ins) ||
                !convert(source.conversion, stand_in, stand_in_packet.get(), converted.get())) {
                av_packet_unref(converted.get());
                return false;
            }
            std::optional<std::vector<Piece>> expanded = expand_stand_ins(
                converted->data, static_cast<size_t>(converted->size), stand_ins, frame, size);
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
        progress.update(static_cast<int64_t>(scanner.position()), static_cast<int64_t>(source.file_size), frames);
    }
    return true;
}

}  // namespace mp
