#include "report/run_log.hpp"

#include "common/av_error.hpp"
#include "common/descriptor.hpp"

#include <glib.h>

#include <cctype>
#include <cerrno>
#include <system_error>

#include <sys/stat.h>

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

}  // namespace

std::optional<fs::path> run_log_path()
{
    return fs::path(g_get_user_state_dir()) / "tcdemux" / "runs.log";
}

std::optional<std::string> append_run_log(const fs::path& file, std::string_view line, uint64_t limit)
{
    // Private to the user, as the XDG base directory rules ask; existing
    // folders are left as they are.
    if (g_mkdir_with_parents(file.parent_path().c_str(), 0700) != 0)
        return "cannot create the folder " + quote_name(file.parent_path().string()) + ": " + system_text(errno);
    const std::string name = quote_name(file.string());
    const fs::path older = file.string() + ".1";
    // Each pass opens the file and locks it. Another run may have rotated it
    // between the open and the lock; then the descriptor holds the older
    // generation, and the next pass opens the new file.
    for (int pass = 0; pass < 16; ++pass) {
        const Descriptor fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        if (fd.get() < 0)
            return "cannot open " + name + ": " + system_text(errno);
        if (!lock_file(fd.get(), LOCK_EX))
            return "cannot lock " + name + ": " + system_text(errno);
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
    GDateTime* now = g_date_time_new_now_local();
    gchar* text = g_date_time_format(now, "%Y-%m-%dT%H:%M:%S%:z");
    const std::string result = text ? text : "";
    g_free(text);
    g_date_time_unref(now);
    return result;
}

}  // namespace mp
