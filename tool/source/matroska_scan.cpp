#include "source/matroska_scan.hpp"

#include "source/ebml.hpp"
#include "source/matroska.hpp"

#include <algorithm>
#include <limits>

namespace mp {

namespace {

using ebml::kUnknownSize;
using ebml::Span;

// Header elements are read whole up to these sizes; anything larger is
// no header a real file has.
constexpr uint64_t kMaxEbmlHeader = 4096;
constexpr uint64_t kMaxHeadElement = 16 << 20;
// Blocks kept for the reader at most; a reader that never takes them has
// lost its use for them.
constexpr size_t kMaxQueuedBlocks = 1 << 20;

// The length of a variable-length number from its first byte: 1..8, or
// 0 for a zero byte.
size_t vint_length(uint8_t first)
{
    if (first == 0)
        return 0;
    size_t length = 1;
    for (unsigned mask = 0x80; !(first & mask); mask >>= 1)
        ++length;
    return length;
}

// The children of a segment, which end a cluster of unknown size.
bool segment_child(uint32_t id)
{
    switch (id) {
    case mkv::kCluster:
    case mkv::kCues:
    case mkv::kTags:
    case mkv::kInfo:
    case mkv::kTracks:
    case mkv::kSeekHead:
    case mkv::kChapters:
    case mkv::kAttachments:
        return true;
    default:
        return false;
    }
}

}  // namespace

void MatroskaScan::feed(uint64_t offset, const uint8_t* data, size_t size)
{
    while (!stopped_ && at_ >= offset && at_ < offset + size) {
        const size_t wanted = bytes_wanted();
        if (wanted == 0) {
            stop();
            return;
        }
        if (held_.size() < wanted) {
            const auto from = static_cast<size_t>(at_ - offset);
            const size_t n = std::min(wanted - held_.size(), size - from);
            held_.insert(held_.end(), data + from, data + from + n);
            at_ += n;
            continue;  // what is wanted may grow with what was taken
        }
        finish_item();
    }
    // A step whose bytes are all in hand but that waits for none.
    if (!stopped_ && !held_.empty() && held_.size() == bytes_wanted())
        finish_item();
}

size_t MatroskaScan::bytes_wanted() const
{
    switch (step_) {
    case Step::Header: {
        if (held_.empty())
            return 1;
        const size_t id_length = vint_length(held_[0]);
        if (id_length == 0 || id_length > 4)
            return 0;
        if (held_.size() <= id_length)
            return id_length + 1;
        const size_t size_length = vint_length(held_[id_length]);
        return size_length == 0 ? 0 : id_length + size_length;
    }
    case Step::Collect:
    case Step::Value:
        return static_cast<size_t>(item_size_);
    case Step::BlockHead: {
        // Track number, timestamp, flags, and the lace count when laced.
        size_t wanted = 1;
        if (!held_.empty()) {
            const size_t track_length = vint_length(held_[0]);
            if (track_length == 0)
                return 0;
            wanted = track_length + 3;
            if (held_.size() >= wanted && (held_[wanted - 1] & 0x06))
                ++wanted;
        }
        return static_cast<size_t>(std::min<uint64_t>(wanted, item_size_));
    }
    }
    return 0;
}

void MatroskaScan::finish_item()
{
    const Step step = step_;
    step_ = Step::Header;
    Span s{held_.data(), held_.data() + held_.size()};
    uint64_t value = 0;
    switch (step) {
    case Step::Header: {
        const uint64_t start = at_ - held_.size();
        uint32_t id = 0;
        uint64_t size = 0;
        ebml::read_id(s, id);
        ebml::read_size(s, size);
        held_.clear();
        if (start == 0 && id != mkv::kEbml) {
            stop();
            return;
        }
        matroska_ = true;
        enter(id, at_, size);
        break;
    }
    case Step::Collect:
        if (item_id_ == mkv::kEbml)
            read_ebml_header(held_, head_);
        else if (item_id_ == mkv::kInfo)
            read_info(held_, head_);
        else if (!in_clusters_)  // libavformat reads the header only up to the first cluster
            read_tracks(held_, head_);
        break;
    case Step::Value:
        if (ebml::read_uint(s, value)) {
            if (item_id_ == mkv::kBlockDuration)
                group_duration_ = value;
            else if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / 2))
                cluster_ticks_ = static_cast<int64_t>(value);
            else
                cluster_ticks_.reset();
        }
        break;
    case Step::BlockHead:
        read_block_head();
        at_ = item_data_ + item_size_;
        break;
    }
    if (step_ == Step::Header)
        held_.clear();
    close_elements();
}

void MatroskaScan::enter(uint32_t id, uint64_t data, uint64_t size)
{
    // A cluster of unknown size ends where the next child of the segment
    // begins.
    if (!open_.empty() && open_.back().id == mkv::kCluster && open_.back().end == kUnknownSize && segment_child(id))
        open_.pop_back();
    const Open* parent = open_.empty() ? nullptr : &open_.back();
    const bool known = size != kUnknownSize;
    if (known && (size > kUnknownSize - data || (parent && parent->end != kUnknownSize && data + size > parent->end))) {
        stop();  // it overruns its parent
        return;
    }
    const uint32_t parent_id = parent ? parent->id : 0;
    const auto push = [&] { open_.push_back({id, known ? data + size : kUnknownSize}); };
    const auto take = [&](Step step, uint64_t limit) {
        if (!known || size > limit) {
            if (known)
                at_ = data + size;
            else
                stop();
            return;
        }
        step_ = step;
        item_id_ = id;
        item_data_ = data;
        item_size_ = size;
        if (size == 0)
            finish_item();
    };

    if (parent_id == 0 && id == mkv::kEbml)
        return take(Step::Collect, kMaxEbmlHeader);
    if (parent_id == 0 && id == mkv::kSegment) {
        if (known)
            head_.segment_end = data + size;
        return push();
    }
    if (parent_id == mkv::kSegment && (id == mkv::kInfo || id == mkv::kTracks))
        return take(Step::Collect, kMaxHeadElement);
    if (parent_id == mkv::kSegment && id == mkv::kCluster) {
        in_clusters_ = true;
        cluster_ticks_.reset();
        return push();
    }
    if (parent_id == mkv::kCluster && id == mkv::kTimestamp)
        return take(Step::Value, 8);
    if ((parent_id == mkv::kCluster && id == mkv::kSimpleBlock) || (parent_id == mkv::kBlockGroup && id == mkv::kBlock))
        return take(Step::BlockHead, kUnknownSize - 1);
    if (parent_id == mkv::kCluster && id == mkv::kBlockGroup && known) {
        group_block_.reset();
        group_duration_.reset();
        return push();
    }
    if (parent_id == mkv::kBlockGroup && id == mkv::kBlockDuration)
        return take(Step::Value, 8);
    // Anything else is passed over whole.
    if (!known)
        return stop();
    at_ = data + size;
}

void MatroskaScan::close_elements()
{
    while (!stopped_ && !open_.empty() && open_.back().end != kUnknownSize && at_ >= open_.back().end) {
        if (open_.back().id == mkv::kBlockGroup && group_block_) {
            group_block_->duration_ticks = group_duration_;
            blocks_.push_back(*group_block_);
            group_block_.reset();
        }
        open_.pop_back();
    }
    if (blocks_.size() > kMaxQueuedBlocks)
        stop();
}

void MatroskaScan::read_block_head()
{
    ScannedBlock b;
    b.pos = item_data_;
    b.end = item_data_ + item_size_;
    Span s{held_.data(), held_.data() + held_.size()};
    uint64_t track = 0;
    b.readable = ebml::read_size(s, track) && s.left() >= 3;
    b.track = track;
    if (b.readable) {
        const auto relative = static_cast<int16_t>(static_cast<uint16_t>((s.p[0] << 8) | s.p[1]));
        const uint8_t flags = s.p[2];
        size_t head = static_cast<size_t>(s.p - held_.data()) + 3;
        if (flags & 0x06) {
            b.readable = s.left() >= 4;
            b.frames = b.readable ? s.p[3] + 1 : 1;
            ++head;
        }
        b.frame_bytes = item_size_ - std::min<uint64_t>(head, item_size_);
        if (cluster_ticks_)
            b.ticks = *cluster_ticks_ + relative;
    }
    if (open_.back().id == mkv::kBlockGroup)
        group_block_ = b;
    else
        blocks_.push_back(b);
}

}  // namespace mp
