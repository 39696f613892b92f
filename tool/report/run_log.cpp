#include "report/run_log.hpp"

#include "common/av_error.hpp"
#include "report/run_report.hpp"

#include <cctype>
#include <cerrno>
#include <ctime>
#include <system_error>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mp {
namespace fs = std::filesystem;

namespace {

std::string system_text(int err)
{
    std::string text = std::generic_category().message(err);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

#if !defined(_WIN32)

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Creates the folder and any missing ones above it, private to the user as
// the XDG base directory rules ask; existing folders are left as they are.
std::optional<std::string> make_folders(const fs::path& folder)
{
    std::error_code ec;
    if (folder.empty() || fs::is_directory(folder, ec))
        return std::nullopt;
    const fs::path parent = folder.parent_path();
    if (parent != folder)
        if (auto failure = make_folders(parent))
            return failure;
    if (::mkdir(folder.c_str(), 0700) != 0) {
        // Another run may have made it meanwhile; a file of that name is
        // in the way.
        const int err = errno;
        if (err != EEXIST || !fs::is_directory(folder, ec))
            return "cannot create the folder " + quote_name(folder.string()) + ": " + system_text(err);
    }
    return std::nullopt;
}

#endif

}  // namespace

std::optional<fs::path> run_log_path(const char* xdg_state_home, const char* home)
{
    if (xdg_state_home && *xdg_state_home && fs::path(xdg_state_home).is_absolute())
        return fs::path(xdg_state_home) / "tcdemux" / "runs.log";
    if (home && *home && fs::path(home).is_absolute())
        return fs::path(home) / ".local" / "state" / "tcdemux" / "runs.log";
    return std::nullopt;
}

#if !defined(_WIN32)

std::optional<std::string> append_run_log(const fs::path& file, std::string_view line, uint64_t limit)
{
    if (auto failure = make_folders(file.parent_path()))
        return failure;
    const std::string name = quote_name(file.string());
    const fs::path older = file.string() + ".1";
    // Each pass opens the file and locks it. Another run may have rotated it
    // between the open and the lock; then the descriptor holds the older
    // generation, and the next pass opens the new file.
    for (int pass = 0; pass < 16; ++pass) {
        const Descriptor fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        if (fd.get() < 0)
            return "cannot open " + name + ": " + system_text(errno);
        while (::flock(fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR)
                return "cannot lock " + name + ": " + system_text(errno);
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd.get(), &held) != 0)
            return "cannot read the size of " + name + ": " + system_text(errno);
        if (::stat(file.c_str(), &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino)
            continue;
        const auto size = static_cast<uint64_t>(held.st_size);
        if (size > 0 && size + line.size() > limit) {
            if (::rename(file.c_str(), older.c_str()) != 0)
                return "cannot move " + name + " aside: " + system_text(errno);
            continue;
        }
        const ssize_t written = ::write(fd.get(), line.data(), line.size());
        if (written == static_cast<ssize_t>(line.size()))
            return std::nullopt;
        const int err = written < 0 ? errno : ENOSPC;
        // Still under the lock: take back a part of a line, so the file
        // keeps whole lines only. If even that fails, the note says so.
        const bool part_removed = written <= 0 || ::ftruncate(fd.get(), held.st_size) == 0;
        if (!part_removed)
            return "cannot write to " + name + " (a part of a line is left): " + system_text(err);
        return "cannot write to " + name + ": " + system_text(err);
    }
    return "cannot write to " + name + ": it was replaced again and again while waiting for it";
}

std::string local_time_now()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return iso8601_local(local, local.tm_gmtoff);
}

#else

std::optional<std::string> append_run_log(const fs::path&, std::string_view, uint64_t)
{
    return std::string("the run record is kept on Linux only");
}

std::string local_time_now()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    std::tm utc{};
    localtime_s(&local, &now);
    gmtime_s(&utc, &now);
    utc.tm_isdst = local.tm_isdst;
    std::tm local_copy = local;
    const long offset = static_cast<long>(std::difftime(std::mktime(&local_copy), std::mktime(&utc)));
    return iso8601_local(local, offset);
}

#endif

}  // namespace mp
