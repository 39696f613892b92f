#include "common/file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace mp {
namespace {

#if defined(_WIN32)
// Windows has no positioned reads on a plain descriptor: seek, then read.
// Its calls take at most an unsigned int of bytes.
unsigned chunk(size_t size)
{
    return static_cast<unsigned>(std::min<size_t>(size, 1u << 30));
}
#endif

int64_t result_of(int64_t n)
{
    return n < 0 ? -errno : n;
}

}  // namespace

int open_for_reading(const std::filesystem::path& path)
{
#if defined(_WIN32)
    return _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
#else
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
}

void close_file(int fd)
{
#if defined(_WIN32)
    _close(fd);
#else
    ::close(fd);
#endif
}

std::FILE* create_new_file(const std::filesystem::path& path)
{
#if defined(_WIN32)
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
#endif
    if (fd >= 0 && !file) {
        const int err = errno;
        close_file(fd);
        remove_file(path);
        errno = err;
    }
    return file;
}

std::FILE* open_for_writing(const std::filesystem::path& path)
{
#if defined(_WIN32)
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_BINARY);
    std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
#endif
    if (fd >= 0 && !file) {
        const int err = errno;
        close_file(fd);
        errno = err;
    }
    return file;
}

int remove_file(const std::filesystem::path& path)
{
#if defined(_WIN32)
    return _wunlink(path.c_str()) == 0 ? 0 : errno;
#else
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
#endif
}

int descriptor_of(std::FILE* file)
{
#if defined(_WIN32)
    return _fileno(file);
#else
    return fileno(file);
#endif
}

bool seekable(int fd)
{
#if defined(_WIN32)
    return _lseeki64(fd, 0, SEEK_CUR) >= 0;
#else
    return ::lseek(fd, 0, SEEK_CUR) >= 0;
#endif
}

bool file_status(int fd, FileStatus& status)
{
#if defined(_WIN32)
    struct _stat64 st {};
    if (_fstat64(fd, &st) != 0)
        return false;
    status.folder = (st.st_mode & _S_IFMT) == _S_IFDIR;
    status.regular = (st.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    status.folder = S_ISDIR(st.st_mode);
    status.regular = S_ISREG(st.st_mode);
#endif
    status.size = status.regular && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    status.id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

std::optional<FileId> file_id_at(const std::filesystem::path& path)
{
#if defined(_WIN32)
    // No inode numbers: paths have to tell.
    (void)path;
    return std::nullopt;
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
#endif
}

int64_t read_once(int fd, uint8_t* into, size_t size)
{
#if defined(_WIN32)
    return result_of(_read(fd, into, chunk(size)));
#else
    return result_of(read(fd, into, size));
#endif
}

int64_t read_once_at(int fd, uint8_t* into, size_t size, int64_t offset)
{
#if defined(_WIN32)
    if (_lseeki64(fd, offset, SEEK_SET) < 0)
        return -errno;
    return read_once(fd, into, size);
#else
    return result_of(pread(fd, into, size, static_cast<off_t>(offset)));
#endif
}

void advise_sequential(int fd)
{
#if defined(POSIX_FADV_SEQUENTIAL)
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#else
    (void)fd;
#endif
}

#if defined(_WIN32)
int write_two_at(int fd, const uint8_t* first, size_t first_size, const uint8_t* second, size_t second_size,
                 int64_t offset)
{
    if (_lseeki64(fd, offset, SEEK_SET) < 0)
        return -errno;
    for (auto [data, size] : {std::pair{first, first_size}, std::pair{second, second_size}}) {
        while (size > 0) {
            const int n = _write(fd, data, chunk(size));
            if (n <= 0)
                return n < 0 ? -errno : -EIO;
            data += n;
            size -= static_cast<size_t>(n);
        }
    }
    return 0;
}
#else
int write_two_at(int fd, const uint8_t* first, size_t first_size, const uint8_t* second, size_t second_size,
                 int64_t offset)
{
    iovec parts[2] = {{const_cast<uint8_t*>(first), first_size}, {const_cast<uint8_t*>(second), second_size}};
    iovec* left = parts;
    int count = 2;
    while (count > 0) {
        if (left->iov_len == 0) {
            ++left;
            --count;
            continue;
        }
        const ssize_t n = pwritev(fd, left, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? -errno : -EIO;
        offset += n;
        for (auto done = static_cast<size_t>(n); done > 0;) {
            const size_t step = std::min(done, left->iov_len);
            left->iov_base = static_cast<uint8_t*>(left->iov_base) + step;
            left->iov_len -= step;
            done -= step;
            if (left->iov_len == 0 && done > 0) {
                ++left;
                --count;
            }
        }
    }
    return 0;
}
#endif

}  // namespace mp
