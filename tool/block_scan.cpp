#include "block_scan.hpp"

#include "ebml.hpp"
#include "frame_copy.hpp"

#include <algorithm>
#include <limits>

namespace mp {
namespace {

// Element IDs the scanner knows. Anything else where these are expected is
// taken as damage rather than stepped over, so that a cluster whose ID was
// destroyed is never skipped silently.
namespace id {
// Children of the segment.
constexpr uint32_t kSeekHead = 0x114D9B74;
constexpr uint32_t kInfo = 0x1549A966;
constexpr uint32_t kTracks = 0x1654AE6B;
constexpr uint32_t kChapters = 0x1043A770;
constexpr uint32_t kCues = 0x1C53BB6B;
constexpr uint32_t kAttachments = 0x1941A469;
constexpr uint32_t kTags = 0x1254C367;
constexpr uint32_t kCluster = 0x1F43B675;
// Anywhere.
constexpr uint32_t kVoid = 0xEC;
constexpr uint32_t kCrc32 = 0xBF;
// Children of a cluster.
constexpr uint32_t kTimestamp = 0xE7;
constexpr uint32_t kSilentTracks = 0x5854;
constexpr uint32_t kPosition = 0xA7;
constexpr uint32_t kPrevSize = 0xAB;
constexpr uint32_t kSimpleBlock = 0xA3;
constexpr uint32_t kBlockGroup = 0xA0;
// Children of a block group.
constexpr uint32_t kBlock = 0xA1;
constexpr uint32_t kBlockAdditions = 0x75A1;
constexpr uint32_t kBlockDuration = 0x9B;
constexpr uint32_t kReferencePriority = 0xFA;
constexpr uint32_t kReferenceBlock = 0xFB;
constexpr uint32_t kCodecState = 0xA4;
constexpr uint32_t kDiscardPadding = 0x75A2;
constexpr uint32_t kSlices = 0x8E;
}  // namespace id

bool is_segment_child(uint32_t e)
{
    switch (e) {
    case id::kSeekHead:
    case id::kInfo:
    case id::kTracks:
    case id::kChapters:
    case id::kCues:
    case id::kAttachments:
    case id::kTags:
    case id::kCluster:
    case id::kVoid:
    case id::kCrc32:
        return true;
    default:
        return false;
    }
}

// Cluster children other than blocks and the timestamp, skipped unread.
bool is_skipped_cluster_child(uint32_t e)
{
    return e == id::kSilentTracks || e == id::kPosition || e == id::kPrevSize || e == id::kVoid || e == id::kCrc32;
}

bool is_skipped_group_child(uint32_t e)
{
    return e == id::kBlockAdditions || e == id::kReferencePriority || e == id::kCodecState ||
           e == id::kDiscardPadding || e == id::kSlices || e == id::kVoid || e == id::kCrc32;
}

// The longest element header: a 4-byte ID and an 8-byte size.
constexpr size_t kMaxHeader = 12;
// A block header: track number (up to 8 bytes), timestamp, flags.
constexpr size_t kMaxBlockHeader = 11;

}  // namespace

SourceReader::SourceReader(int fd, uint64_t file_size) : fd_(fd), file_size_(file_size)
{
    for (Window& w : windows_)
        w.bytes.resize(kMaxRead);
}

const uint8_t* SourceReader::at(uint64_t offset, size_t size)
{
    if (size > kMaxRead || offset > file_size_ || size > file_size_ - offset)
        return nullptr;
    for (int i = 0; i < 2; ++i) {
        Window& w = windows_[i];
        if (offset >= w.start && offset - w.start + size <= w.size) {
            last_used_ = i;
            return w.bytes.data() + (offset - w.start);
        }
    }
    // Replace the window used less recently. Read a little ahead, since the
    // next element header usually follows closely; not more, so that the
    // bytes of large frames stay unread.
    constexpr size_t kReadAhead = 1024;
    last_used_ = 1 - last_used_;
    Window& w = windows_[last_used_];
    const size_t want = static_cast<size_t>(std::min<uint64_t>(std::max(size, kReadAhead), file_size_ - offset));
    w.size = 0;
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
        !read_exact_at(fd_, w.bytes.data(), want, static_cast<int64_t>(offset)))
        return nullptr;
    w.start = offset;
    w.size = want;
    return w.bytes.data();
}

BlockScanner::BlockScanner(SourceReader& reader, uint64_t segment_start, std::optional<uint64_t> segment_end,
                           uint64_t track_number, std::vector<uint64_t> known_tracks)
    : reader_(reader), pos_(segment_start), end_(segment_end.value_or(reader.file_size())), track_(track_number),
      known_tracks_(std::move(known_tracks))
{
    // A file shorter than its segment was cut off; one longer than it holds
    // something after the segment that only the full demuxer can judge.
    if (end_ != reader.file_size())
        irregular_ = true;
}

bool BlockScanner::element_at(uint64_t offset, uint64_t limit, Element& e)
{
    const size_t avail = static_cast<size_t>(std::min<uint64_t>(kMaxHeader, limit - offset));
    const uint8_t* p = reader_.at(offset, avail);
    if (!p)
        return false;
    ebml::Span s{p, p + avail};
    uint64_t size = 0;
    if (!ebml::read_id(s, e.id) || !ebml::read_size(s, size) || size == ebml::kUnknownSize)
        return false;
    e.data = offset + static_cast<uint64_t>(s.p - p);
    if (size > limit - e.data)
        return false;
    e.end = e.data + size;
    return true;
}

bool BlockScanner::uint_at(const Element& e, uint64_t& value)
{
    const uint64_t size = e.end - e.data;
    if (size > 8)
        return false;
    const uint8_t* p = reader_.at(e.data, static_cast<size_t>(size));
    return p && ebml::read_uint({p, p + size}, value);
}

BlockScanner::Parsed BlockScanner::block_at(const Element& e, BlockInfo& block)
{
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
    block.data_offset = e.data + static_cast<uint64_t>(s.p - p);
    if (block.data_offset >= e.end)
        return Parsed::Bad;
    block.size = e.end - block.data_offset;
    block.ticks = ticks;
    block.key = (flags & 0x80) != 0;
    block.duration_ticks.reset();
    return Parsed::Ours;
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
        if (e.id == id::kBlock) {
            if (parsed)
                return Parsed::Bad;
            // Parsed here, while its header is still in the read window; the
            // frame bytes that follow are large.
            parsed = block_at(e, block);
            if (*parsed == Parsed::Bad)
                return Parsed::Bad;
        } else if (e.id == id::kBlockDuration) {
            uint64_t value = 0;
            if (!uint_at(e, value))
                return Parsed::Bad;
            if (value > 0)
                duration = value;
        } else if (e.id == id::kReferenceBlock) {
            referenced = true;
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
            if (e.id == id::kTimestamp) {
                uint64_t value = 0;
                if (!uint_at(e, value) || value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / 2))
                    break;
                cluster_ticks_ = value;
                continue;
            }
            if (e.id == id::kSimpleBlock)
                parsed = block_at(e, block);
            else if (e.id == id::kBlockGroup)
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
        if (e.id == id::kCluster) {
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
