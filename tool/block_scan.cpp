#include "block_scan.hpp"

#include "ebml.hpp"
#include "matroska.hpp"

#include <algorithm>

namespace mp {
namespace {

// Only the element IDs the scanner knows are stepped over. Anything else
// where these are expected is taken as damage, so that a cluster whose ID
// was destroyed is never skipped silently.

bool is_segment_child(uint32_t e)
{
    switch (e) {
    case mkv::kSeekHead:
    case mkv::kInfo:
    case mkv::kTracks:
    case mkv::kChapters:
    case mkv::kCues:
    case mkv::kAttachments:
    case mkv::kTags:
    case mkv::kCluster:
    case mkv::kVoid:
    case mkv::kCrc32:
        return true;
    default:
        return false;
    }
}

// Cluster children other than blocks and the timestamp, which the demuxer
// skips unread as well.
bool is_skipped_cluster_child(uint32_t e)
{
    return e == mkv::kSilentTracks || e == mkv::kPosition || e == mkv::kPrevSize || e == mkv::kVoid || e == mkv::kCrc32;
}

// Block group children the demuxer skips unread.
bool is_skipped_group_child(uint32_t e)
{
    return e == mkv::kReferencePriority || e == mkv::kCodecState || e == mkv::kSlices || e == mkv::kVoid ||
           e == mkv::kCrc32;
}

// Signed and unsigned integers: the demuxer refuses more than 8 bytes.
constexpr uint64_t kMaxIntegerSize = 8;

// The demuxer converts a cluster timestamp to double on its way to the
// packet; beyond 2^53 that rounds, so such clusters are left to it.
constexpr uint64_t kMaxExactClusterTicks = uint64_t{1} << 53;

// A block header: track number (up to 8 bytes), timestamp, flags.
constexpr size_t kMaxBlockHeader = 11;

}  // namespace

BlockScanner::BlockScanner(SourceReader& reader, uint64_t segment_start, std::optional<uint64_t> segment_end,
                           uint64_t track_number, std::vector<uint64_t> known_tracks)
    : reader_(reader), pos_(segment_start), end_(segment_end.value_or(reader.file_size())), track_(track_number),
      known_tracks_(std::move(known_tracks))
{
    // A file shorter than its segment was cut off; one longer than it holds
    // something after the segment that only the demuxer way can judge.
    if (end_ != reader.file_size())
        irregular_ = true;
}

bool BlockScanner::element_at(uint64_t offset, uint64_t limit, Element& e)
{
    ebml::ElementHeader h;
    if (!ebml::read_element_header(reader_, offset, limit, h) || h.size == ebml::kUnknownSize ||
        h.size > limit - h.data)
        return false;
    e = Element{h.id, h.data, h.data + h.size};
    return true;
}

bool BlockScanner::uint_at(const Element& e, uint64_t& value)
{
    return ebml::read_uint_at(reader_, e.data, e.end - e.data, value);
}

BlockScanner::Parsed BlockScanner::block_at(const Element& e, BlockInfo& block)
{
    if (e.end - e.data > mkv::kMaxBinarySize)
        return Parsed::Bad;
    const size_t avail = static_cast<size_t>(std::min<uint64_t>(kMaxBlockHeader, e.end - e.data));
    const uint8_t* p = reader_.at(e.data, avail);
    if (!p)
        return Parsed::Bad;
    ebml::Span s{p, p + avail};
    uint64_t track = 0;
    if (!ebml::read_size(s, track) || s.left() < 3)
        return Parsed::Bad;
    if (std::find(known_tracks_.begin(), known_tracks_.end(), track) == known_tracks_.end())
        return Parsed::Bad;
    if (track != track_)
        return Parsed::Other;
    const auto relative = static_cast<int16_t>(static_cast<uint16_t>((s.p[0] << 8) | s.p[1]));
    const uint8_t flags = s.p[2];
    s.p += 3;
    // Laced blocks hold several frames; a cluster without a timestamp gives
    // none to its blocks.
    if ((flags & 0x06) != 0 || !cluster_ticks_)
        return Parsed::Bad;
    const int64_t ticks = static_cast<int64_t>(*cluster_ticks_) + relative;
    if (ticks < 0)
        return Parsed::Bad;
    block.block_offset = e.data;
    block.data_offset = e.data + static_cast<uint64_t>(s.p - p);
    if (block.data_offset >= e.end)
        return Parsed::Bad;
    block.size = e.end - block.data_offset;
    block.ticks = ticks;
    block.key = (flags & 0x80) != 0;
    block.duration_ticks.reset();
    return Parsed::Ours;
}

// BlockAdditions hold BlockMore elements, which hold an ID and binary data;
// the demuxer reads them all, so they must be just as sound here.
bool BlockScanner::block_additions_fit(const Element& additions)
{
    for (uint64_t at = additions.data; at < additions.end;) {
        Element more;
        if (!element_at(at, additions.end, more))
            return false;
        at = more.end;
        if (more.id == mkv::kVoid || more.id == mkv::kCrc32)
            continue;
        if (more.id != mkv::kBlockMore)
            return false;
        for (uint64_t in = more.data; in < more.end;) {
            Element e;
            if (!element_at(in, more.end, e))
                return false;
            in = e.end;
            const uint64_t size = e.end - e.data;
            const bool sound = (e.id == mkv::kBlockAddId && size <= kMaxIntegerSize) ||
                               (e.id == mkv::kBlockAdditional && size <= mkv::kMaxBinarySize) ||
                               e.id == mkv::kVoid || e.id == mkv::kCrc32;
            if (!sound)
                return false;
        }
    }
    return true;
}

BlockScanner::Parsed BlockScanner::block_group(const Element& group, BlockInfo& block)
{
    std::optional<Parsed> parsed;
    bool referenced = false;
    std::optional<uint64_t> duration;
    for (uint64_t at = group.data; at < group.end;) {
        Element e;
        if (!element_at(at, group.end, e))
            return Parsed::Bad;
        at = e.end;
        if (e.id == mkv::kBlock) {
            if (parsed)
                return Parsed::Bad;
            // Parsed here, while its header is still in the read window; the
            // frame bytes that follow are large.
            parsed = block_at(e, block);
            if (*parsed == Parsed::Bad)
                return Parsed::Bad;
        } else if (e.id == mkv::kBlockDuration) {
            uint64_t value = 0;
            if (!uint_at(e, value))
                return Parsed::Bad;
            if (value > 0)
                duration = value;
        } else if (e.id == mkv::kReferenceBlock || e.id == mkv::kDiscardPadding) {
            // Signed integers, read by the demuxer (and refused when longer
            // than 8 bytes) though only their presence matters here.
            if (e.end - e.data > kMaxIntegerSize)
                return Parsed::Bad;
            referenced = referenced || e.id == mkv::kReferenceBlock;
        } else if (e.id == mkv::kBlockAdditions) {
            if (!block_additions_fit(e))
                return Parsed::Bad;
        } else if (!is_skipped_group_child(e.id)) {
            return Parsed::Bad;
        }
    }
    if (!parsed)
        return Parsed::Bad;
    if (*parsed == Parsed::Ours) {
        // In a block group a key frame is one that refers to no other.
        block.key = !referenced;
        block.duration_ticks = duration;
    }
    return *parsed;
}

BlockScanner::Step BlockScanner::next(BlockInfo& block)
{
    while (!irregular_) {
        if (in_cluster_) {
            if (cluster_pos_ >= cluster_end_) {
                in_cluster_ = false;
                pos_ = cluster_end_;
                continue;
            }
            Element e;
            if (!element_at(cluster_pos_, cluster_end_, e))
                break;
            cluster_pos_ = e.end;
            Parsed parsed = Parsed::Other;
            if (e.id == mkv::kTimestamp) {
                uint64_t value = 0;
                if (!uint_at(e, value) || value > kMaxExactClusterTicks)
                    break;
                cluster_ticks_ = value;
                continue;
            }
            if (e.id == mkv::kSimpleBlock)
                parsed = block_at(e, block);
            else if (e.id == mkv::kBlockGroup)
                parsed = block_group(e, block);
            else if (!is_skipped_cluster_child(e.id))
                break;
            if (parsed == Parsed::Bad)
                break;
            if (parsed == Parsed::Ours)
                return Step::Block;
            continue;
        }
        if (pos_ >= end_)
            return Step::End;
        Element e;
        if (!element_at(pos_, end_, e) || !is_segment_child(e.id))
            break;
        if (e.id == mkv::kCluster) {
            in_cluster_ = true;
            cluster_pos_ = e.data;
            cluster_end_ = e.end;
            cluster_ticks_.reset();
        } else {
            pos_ = e.end;
        }
    }
    irregular_ = true;
    return Step::Irregular;
}

}  // namespace mp
