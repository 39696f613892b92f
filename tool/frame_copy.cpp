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

constexpr size_t kWindow = 64;
constexpr size_t kCompareChunk = 16 * 1024;
constexpr size_t kBufferLimit = 256 * 1024;
constexpr size_t kDirectWrite = 64 * 1024;
// How far past the previous body a converted frame may have inserted bytes
// (start codes, parameter sets) before the next body.
constexpr size_t kMaxInsert = 1 << 20;

bool windows_equal(const uint8_t* a, const uint8_t* b, size_t size)
{
    const size_t w = std::min(kWindow, size);
    const size_t mid = size / 2 - std::min(size / 2, w / 2);
    return std::memcmp(a, b, w) == 0 && std::memcmp(a + mid, b + mid, w) == 0 &&
           std::memcmp(a + size - w, b + size - w, w) == 0;
}

}  // namespace

std::optional<std::vector<NalBody>> split_length_prefixed(const uint8_t* data, size_t size, int length_size)
{
    if (length_size < 1 || length_size > 4)
        return std::nullopt;
    std::vector<NalBody> bodies;
    size_t at = 0;
    while (at < size) {
        if (size - at < static_cast<size_t>(length_size))
            return std::nullopt;
        size_t length = 0;
        for (int i = 0; i < length_size; ++i)
            length = (length << 8) | data[at + static_cast<size_t>(i)];
        at += static_cast<size_t>(length_size);
        if (length > size - at)
            return std::nullopt;
        bodies.push_back({at, length});
        at += length;
    }
    return bodies;
}

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

std::optional<std::vector<Piece>> plan_converted(const uint8_t* out, size_t out_size, const uint8_t* in,
                                                 const std::vector<NalBody>& bodies, int64_t in_source_offset)
{
    std::vector<Piece> pieces;
    size_t cursor = 0;
    for (const NalBody& body : bodies) {
        if (body.length < kMinCopyLength)
            continue;  // written from memory with the bytes around it
        const uint8_t* wanted = in + body.offset;
        if (out_size < body.length)
            return std::nullopt;
        const size_t last_start = std::min(out_size - body.length, cursor + kMaxInsert);
        std::optional<size_t> found;
        // A body follows a start code (0 0 1); look for the first place
        // after the cursor where one ends and the body's bytes begin.
        for (size_t p = std::max<size_t>(cursor, 3); p <= last_start; ++p) {
            // Cheap checks first, then the whole body: a partial match could
            // be a repetitive body found a few bytes too early.
            if (out[p - 1] == 1 && out[p - 2] == 0 && out[p - 3] == 0 && out[p] == wanted[0] &&
                windows_equal(out + p, wanted, body.length) && std::memcmp(out + p, wanted, body.length) == 0) {
                found = p;
                break;
            }
        }
        if (!found)
            return std::nullopt;
        if (*found > cursor)
            pieces.push_back({cursor, *found - cursor, -1});
        pieces.push_back({*found, body.length, in_source_offset + static_cast<int64_t>(body.offset)});
        cursor = *found + body.length;
    }
    if (cursor < out_size)
        pieces.push_back({cursor, out_size - cursor, -1});
    return pieces;
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

bool RangeWriter::source_matches(const uint8_t* data, size_t size, int64_t offset) const
{
#if defined(_WIN32)
    (void)data;
    (void)size;
    (void)offset;
    return false;
#else
    if (source_fd_ < 0 || offset < 0 || size == 0)
        return false;
    // Every byte is compared: a range copied from the wrong place would
    // corrupt the output silently, and reading from the page cache costs
    // far less than the write it replaces.
    uint8_t chunk[kCompareChunk];
    for (size_t at = 0; at < size; at += kCompareChunk) {
        const size_t n = std::min(kCompareChunk, size - at);
        if (!read_exact_at(source_fd_, chunk, n, offset + static_cast<int64_t>(at)) || std::memcmp(chunk, data + at, n) != 0)
            return false;
    }
    return true;
#endif
}

}  // namespace mp
