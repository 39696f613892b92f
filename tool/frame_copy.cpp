#include "frame_copy.hpp"

#include "positioned_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace mp {
namespace {

constexpr size_t kBufferLimit = 256 * 1024;
constexpr size_t kDirectWrite = 64 * 1024;
}  // namespace

int nal_length_size_h264(const uint8_t* extradata, size_t size)
{
    // avcC: configurationVersion 1, ..., lengthSizeMinusOne in byte 4.
    if (!extradata || size < 7 || extradata[0] != 1)
        return 0;
    return (extradata[4] & 3) + 1;
}

int nal_length_size_hevc(const uint8_t* extradata, size_t size)
{
    // hvcC: configurationVersion 1, lengthSizeMinusOne in byte 21. Annex B
    // codec data starts with a start code (0 0 0 1 or 0 0 1) instead.
    if (!extradata || size < 23 || extradata[0] != 1)
        return 0;
    return (extradata[21] & 3) + 1;
}

uint8_t* FrameBuffer::reserve(size_t size)
{
    if (size > capacity_) {
        // Deliberately not value-initialised: untouched pages cost nothing.
        bytes_.reset(new uint8_t[size]);
        capacity_ = size;
    }
    return bytes_.get();
}

std::optional<std::vector<Piece>> expand_stand_ins(const uint8_t* converted, size_t converted_size,
                                                   const std::vector<StandIn>& stand_ins, FrameBuffer& frame,
                                                   size_t& frame_size)
{
    // Where each marker lies in the converted stand-in, in order.
    std::vector<size_t> marks;
    marks.reserve(stand_ins.size());
    size_t cursor = 0;
    size_t real_size = converted_size;
    for (const StandIn& s : stand_ins) {
        if (s.length <= kStandInHead)
            return std::nullopt;
        const auto* end = converted + converted_size;
        const auto* found = std::search(converted + cursor, end, s.marker.begin(), s.marker.end());
        const size_t at = static_cast<size_t>(found - converted);
        if (found == end || at < cursor + kStandInHead ||
            !std::equal(s.head.begin(), s.head.end(), converted + at - kStandInHead))
            return std::nullopt;
        marks.push_back(at);
        cursor = at + kMarkerSize;
        real_size += s.length - kStandInHead - kMarkerSize;
    }
    uint8_t* out = frame.reserve(real_size);
    std::vector<Piece> pieces;
    size_t from = 0;  // in the converted stand-in
    size_t to = 0;    // in the real frame
    auto literal = [&](size_t until) {
        if (until > from) {
            std::memcpy(out + to, converted + from, until - from);
            pieces.push_back({to, until - from, -1});
            to += until - from;
        }
    };
    for (size_t i = 0; i < stand_ins.size(); ++i) {
        literal(marks[i] - kStandInHead);
        pieces.push_back({to, stand_ins[i].length, stand_ins[i].source_offset});
        to += stand_ins[i].length;
        from = marks[i] + kMarkerSize;
    }
    literal(converted_size);
    frame_size = real_size;
    return pieces;
}

RangeWriter::RangeWriter(std::FILE* out, int source_fd)
#if defined(_WIN32)
    : fd_(_fileno(out)), source_fd_(-1)
#else
    : fd_(fileno(out)), source_fd_(source_fd)
#endif
{
    (void)source_fd;
    buffer_.reserve(kBufferLimit);
}

RangeWriter::~RangeWriter() = default;

int RangeWriter::flush()
{
    if (buffer_.empty())
        return 0;
    const int rc = write_all_at(fd_, buffer_.data(), buffer_.size(), buffer_start_);
    buffer_.clear();
    return rc;
}

int RangeWriter::write(const uint8_t* data, size_t size)
{
    if (size >= kDirectWrite) {
        if (const int rc = flush())
            return rc;
        if (const int rc = write_all_at(fd_, data, size, position_))
            return rc;
    } else {
        if (buffer_.empty())
            buffer_start_ = position_;
        buffer_.insert(buffer_.end(), data, data + size);
        if (buffer_.size() >= kBufferLimit) {
            if (const int rc = flush())
                return rc;
        }
    }
    position_ += static_cast<int64_t>(size);
    end_ = std::max(end_, position_);
    return 0;
}

int RangeWriter::copy_range(int64_t source_offset, size_t size)
{
    if (source_fd_ < 0)
        return -EBADF;
    if (const int rc = flush())
        return rc;
#if defined(__linux__)
    if (copy_works_) {
        loff_t from = source_offset;
        loff_t to = position_;
        while (size > 0) {
            const ssize_t n = copy_file_range(source_fd_, &from, fd_, &to, size, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == ENOSPC || errno == EIO || errno == EFBIG || errno == EDQUOT))
                return -errno;
            if (n <= 0) {
                // Not supported between these files (another file system,
                // say), or the source ended early: read and write this and
                // all further ranges instead.
                copy_works_ = false;
                break;
            }
            size -= static_cast<size_t>(n);
            source_offset += n;
            position_ += n;
            bytes_copied_ += static_cast<uint64_t>(n);
        }
        end_ = std::max(end_, position_);
    }
#endif
    return size > 0 ? read_and_write(source_offset, size) : 0;
}

int RangeWriter::read_and_write(int64_t source_offset, size_t size)
{
    constexpr size_t kChunk = 1 << 20;
    copy_buffer_.resize(std::min(kChunk, size));
    while (size > 0) {
        const size_t n = std::min(copy_buffer_.size(), size);
        if (!read_exact_at(source_fd_, copy_buffer_.data(), n, source_offset))
            return -EIO;
        if (const int rc = write_all_at(fd_, copy_buffer_.data(), n, position_))
            return rc;
        position_ += static_cast<int64_t>(n);
        end_ = std::max(end_, position_);
        source_offset += static_cast<int64_t>(n);
        size -= n;
    }
    return 0;
}

int RangeWriter::write_pieces(const uint8_t* data, const std::vector<Piece>& pieces)
{
    for (const Piece& p : pieces) {
        const int rc = p.source_offset >= 0 ? copy_range(p.source_offset, p.length) : write(data + p.out_offset, p.length);
        if (rc)
            return rc;
    }
    return 0;
}

int64_t RangeWriter::seek(int64_t offset, int whence)
{
    int64_t target = offset;
    if (whence == SEEK_CUR)
        target = position_ + offset;
    else if (whence == SEEK_END)
        target = size() + offset;
    if (target < 0)
        return -EINVAL;
    if (target != position_) {
        if (const int rc = flush())
            return rc;
        position_ = target;
    }
    return position_;
}

int64_t RangeWriter::size() const
{
    return std::max(end_, buffer_start_ + static_cast<int64_t>(buffer_.size()));
}

}  // namespace mp
