#include "source/source_file.hpp"

#include "common/av_error.hpp"
#include "common/interrupt.hpp"

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <new>

namespace mp {
namespace {

// libavformat's own file reading uses buffers of this size; reads larger
// than it (most frames) go straight into the frame's own memory.
constexpr int kIoBufferSize = 32768;

}  // namespace

SourceFile::SourceFile(const std::filesystem::path& path)
{
    const std::string name = quote_name(path.string());
    fd_ = open_for_reading(path);
    if (fd_ < 0)
        throw av_error(av_code_of_errno(errno), "cannot open source " + name);
    FileStatus status;
    if (!file_status(fd_, status)) {
        const int err = errno;
        close_file(fd_);
        throw av_error(av_code_of_errno(err), "cannot open source " + name);
    }
    if (status.folder) {
        close_file(fd_);
        throw Error("source " + name + " is a folder, not a file");
    }
    regular_ = status.regular;
    id_ = status.id;
    if (regular_)
        advise_sequential(fd_);

    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kIoBufferSize, 0, this, &SourceFile::read, nullptr,
                                                  &SourceFile::seek)
                             : nullptr;
    if (!io) {
        av_free(buffer);
        close_file(fd_);
        throw std::bad_alloc();
    }
    io_.reset(io);
    io_->seekable = regular_ ? AVIO_SEEKABLE_NORMAL : 0;
}

SourceFile::~SourceFile()
{
    io_.reset();
    close_file(fd_);
}

uint64_t SourceFile::bytes_present() const
{
    FileStatus status;
    if (!regular_ || !file_status(fd_, status))
        return furthest_;
    return status.size;
}

int SourceFile::read(void* opaque, uint8_t* into, int size)
{
    auto* self = static_cast<SourceFile*>(opaque);
    while (true) {
        // As libavformat's own file reading does, ask before every read.
        if (interrupted())
            return AVERROR_EXIT;
        const auto wanted = static_cast<size_t>(size);
        const int64_t n = self->regular_ ? read_once_at(self->fd_, into, wanted, self->position_)
                                         : read_once(self->fd_, into, wanted);
        if (n == -EINTR)
            continue;
        if (n < 0)
            return av_code_of_errno(static_cast<int>(-n));
        if (n == 0)
            return AVERROR_EOF;
        self->scan_.feed(static_cast<uint64_t>(self->position_), into, static_cast<size_t>(n));
        self->position_ += n;
        self->furthest_ = std::max(self->furthest_, static_cast<uint64_t>(self->position_));
        return static_cast<int>(n);
    }
}

int64_t SourceFile::seek(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<SourceFile*>(opaque);
    if (whence & AVSEEK_SIZE)
        return self->regular_ ? static_cast<int64_t>(self->bytes_present()) : av_code_of_errno(ENOSYS);
    if (!self->regular_)
        return av_code_of_errno(ESPIPE);
    int64_t target = offset;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        target += self->position_;
        break;
    case SEEK_END:
        target += static_cast<int64_t>(self->bytes_present());
        break;
    default:
        return av_code_of_errno(EINVAL);
    }
    if (target < 0)
        return av_code_of_errno(EINVAL);
    self->position_ = target;
    return target;
}

}  // namespace mp
