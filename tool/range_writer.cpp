#include "range_writer.hpp"

#include "file_io.hpp"

#include <algorithm>
#include <cerrno>

#if defined(__linux__)
#include <unistd.h>
#endif

namespace mp {
namespace {

constexpr size_t kBufferLimit = 256 * 1024;
// Writes this large skip the buffer.
constexpr size_t kUnbufferedWrite = 64 * 1024;
// The buffer for copies the kernel cannot do.
constexpr size_t kCopyChunk = 1 << 20;

}  // namespace

RangeWriter::RangeWriter(std::FILE* out, int source_fd) : fd_(descriptor_of(out)), source_fd_(source_fd)
{
    buffer_.reserve(kBufferLimit);
}

void RangeWriter::moved(size_t size)
{
    position_ += static_cast<int64_t>(size);
    end_ = std::max(end_, position_);
}

int RangeWriter::kept(int rc)
{
    if (rc < 0 && error_ == 0)
        error_ = rc;
    return rc;
}

int RangeWriter::flush()
{
    if (error_)
        return error_;
    if (buffer_.empty())
        return 0;
    const int rc = write_all_at(fd_, buffer_.data(), buffer_.size(), buffer_start_);
    buffer_.clear();
    return kept(rc);
}

int RangeWriter::write(const uint8_t* data, size_t size)
{
    if (error_)
        return error_;
    if (size >= kUnbufferedWrite) {
        if (const int rc = flush())
            return rc;
        if (const int rc = write_all_at(fd_, data, size, position_))
            return kept(rc);
    } else {
        if (buffer_.empty())
            buffer_start_ = position_;
        buffer_.insert(buffer_.end(), data, data + size);
        if (buffer_.size() >= kBufferLimit) {
            if (const int rc = flush())
                return rc;
        }
    }
    moved(size);
    return 0;
}

int RangeWriter::copy_range(int64_t source_offset, size_t size)
{
    // Refused before anything is written: not a fault of the file.
    if (source_fd_ < 0)
        return -EBADF;
    if (const int rc = flush())
        return rc;
#if defined(__linux__)
    while (kernel_copies_work_ && size > 0) {
        loff_t from = source_offset;
        loff_t to = position_;
        const ssize_t n = copy_file_range(source_fd_, &from, fd_, &to, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == ENOSPC || errno == EIO || errno == EFBIG || errno == EDQUOT))
            return kept(-errno);
        if (n <= 0) {
            // Not supported between these files (another file system,
            // say), or the source ended early: read and write this and
            // all further ranges instead.
            kernel_copies_work_ = false;
            break;
        }
        size -= static_cast<size_t>(n);
        source_offset += n;
        bytes_copied_ += static_cast<uint64_t>(n);
        moved(static_cast<size_t>(n));
    }
#endif
    return size > 0 ? kept(read_and_write(source_offset, size)) : 0;
}

int RangeWriter::read_and_write(int64_t source_offset, size_t size)
{
    if (!copy_buffer_)
        copy_buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kCopyChunk);
    while (size > 0) {
        const size_t n = std::min(kCopyChunk, size);
        if (!read_exact_at(source_fd_, copy_buffer_.get(), n, source_offset))
            return -EIO;
        if (const int rc = write_all_at(fd_, copy_buffer_.get(), n, position_))
            return rc;
        moved(n);
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
    if (error_)
        return error_;
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
