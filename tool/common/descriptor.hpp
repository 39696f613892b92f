// POSIX descriptors as owners, and the locks taken through them: a lock
// lives as long as the descriptor it was taken through, so a process that
// dies (also by SIGKILL) leaves no lock behind. POSIX only.
#pragma once

#if !defined(_WIN32)

#include <cerrno>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace mp {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        Descriptor old(std::exchange(fd_, other.release()));
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Takes the flock `operation` (LOCK_SH, LOCK_EX, maybe with LOCK_NB) on
// `fd`, waiting through signals; false when it cannot.
inline bool lock_file(int fd, int operation)
{
    while (::flock(fd, operation) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

// A lock on the folder itself, held while the descriptor lives; an empty
// descriptor when the folder cannot be opened or locked.
inline Descriptor lock_folder(const std::filesystem::path& folder, int operation)
{
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || !lock_file(fd.get(), operation))
        return Descriptor();
    return fd;
}

}  // namespace mp

#endif
