#include "direct_check.hpp"

#include "block_scan.hpp"
#include "demuxer_way.hpp"
#include "direct_way.hpp"

#include <vector>

namespace mp {
namespace {

// What differs between the demuxer's packet and the scanned block, if
// anything.
std::optional<std::string> difference(const AVPacket* pkt, const BlockInfo& block, const Source& source)
{
    if (pkt->pos < 0 || static_cast<uint64_t>(pkt->pos) != block.block_offset)
        return "lies elsewhere";
    if (pkt->size < 0 || static_cast<uint64_t>(pkt->size) != block.size)
        return "has another size";
    if (((pkt->flags & AV_PKT_FLAG_KEY) != 0) != block.key)
        return "is marked as a key frame differently";
    const std::optional<FrameTime> demuxed = packet_frame_time(pkt, source);
    const std::optional<FrameTime> scanned = scanned_frame_time(block, source);
    if (!demuxed || !scanned || *demuxed != *scanned)
        return "is timed differently";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> direct_way_disagreement(Source& source, const LogCapture& log)
{
    const std::vector<const AVPacket*> packets = source.packets.first_of(source.index, kCheckedFrames);
    if (source.packets.read_ahead_failed() || log.errors() > 0)
        return "libavformat reports damage at its start";

    const MatroskaHeader& header = *source.header;
    std::vector<uint64_t> known_tracks;
    for (const MatroskaTrack& t : header.tracks)
        known_tracks.push_back(t.number);
    SourceReader reader(source.file.fd(), source.file.size());
    BlockScanner scanner(reader, header.segment_start, header.segment_end, source.track->number, known_tracks);
    for (size_t i = 0; i < kCheckedFrames; ++i) {
        const std::string frame = "frame " + std::to_string(i + 1) + " of its video track";
        BlockInfo block;
        const BlockScanner::Step step = scanner.next(block);
        if (step == BlockScanner::Step::Irregular)
            return "its structure is irregular near byte " + std::to_string(scanner.position());
        if (step == BlockScanner::Step::End)
            return i == packets.size() ? std::nullopt : std::optional<std::string>("mp.exe's scan misses " + frame);
        if (i >= packets.size())
            return "libavformat's demuxer misses " + frame;
        if (const auto d = difference(packets[i], block, source))
            return frame + " " + *d + " for libavformat's demuxer than for mp.exe's scan";
    }
    return std::nullopt;
}

}  // namespace mp
