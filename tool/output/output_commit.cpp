#include "output/output_commit.hpp"

#include "common/av_error.hpp"
#include "common/file_io.hpp"
#include "common/interrupt.hpp"
#include "output/output_file.hpp"

#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace mp {
namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
int errno_of_windows_error(DWORD error)
{
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}
#else
bool exists_unfollowed(const fs::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}
#endif

}  // namespace

int move_file(const fs::path& from, const fs::path& to, Move how)
{
#if defined(_WIN32)
    // No exchange on Windows; without MOVEFILE_REPLACE_EXISTING the move
    // fails when `to` exists.
    if (how == Move::Exchange)
        return ENOSYS;
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        return 0;
    return errno_of_windows_error(GetLastError());
#else
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                    how == Move::Exchange ? RENAME_EXCHANGE : RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (how == Move::Exchange || (err != EINVAL && err != ENOSYS))
        return err;
    // A file system without RENAME_NOREPLACE: look, then rename.
#else
    if (how == Move::Exchange)
        return ENOSYS;
#endif
    if (exists_unfollowed(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
#endif
}

namespace {

enum class Found { Nothing, Regular, Folder, Other };

// What is at `path`, not following a link there: only a regular file is
// ever replaced, and a node of any other kind keeps its name.
Found found_at(const fs::path& path)
{
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (status.type() == fs::file_type::not_found)
        return Found::Nothing;
    if (ec || status.type() == fs::file_type::none)
        throw av_error(av_code_of(ec ? ec : std::make_error_code(std::errc::io_error)),
                       "cannot examine " + quote_name(path.string()));
    switch (status.type()) {
    case fs::file_type::regular:
        return Found::Regular;
    case fs::file_type::directory:
        return Found::Folder;
    default:
        return Found::Other;
    }
}

bool cannot_exchange(int err)
{
    return err == ENOSYS || err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP;
}

// A target that is no regular file when its new file is to take its name
// (it became one during the run): left as it is.
Error not_replaced_error(const OutputFile& out, Found found)
{
    const std::string name = quote_name(out.target().name.string());
    if (found == Found::Folder)
        return Error("output " + name + " is a folder, not a file name");
    return Error("output " + name + " is no longer a regular file (something else took its name during the run); "
                 "it was left as it is");
}

Error move_error(const fs::path& target, int err)
{
    return av_error(av_code_of_errno(err), "cannot move the finished output into place as " + quote_name(target.string()));
}

// One output moved into place, and where the target's old file is now:
// nowhere (there was none), at the temporary's name (exchanged), or under
// a name of its own (moved aside first).
struct Placed {
    OutputFile* out = nullptr;
    fs::path old_at;
};

class Commit {
public:
    // Room for every output up front: once a file has moved, noting it
    // must not fail, or its move could not be undone.
    Commit(const MoveFunction& move, size_t outputs) : move_(move) { placed_.reserve(outputs); }

    // Places `out`, or throws with everything placed so far undone.
    void place(OutputFile& out)
    {
        try {
            place_one(out);
        } catch (const Error& e) {
            throw Error(e.what() + undo_all());
        } catch (...) {
            undo_all();
            throw;
        }
    }

    // All in place: the old files go, and the temporaries' names are no
    // longer ours.
    void finish()
    {
        for (Placed& p : placed_) {
            // Should it fail, the old file stays under its hidden name,
            // which the next run into the folder removes; the new files
            // are in place all the same.
            if (!p.old_at.empty())
                remove_file(p.old_at);
            p.out->release(!p.old_at.empty());
        }
        placed_.clear();
    }

private:
    void place_one(OutputFile& out)
    {
        const fs::path& target = out.target().path;
        const fs::path& temp = out.path();
        // A few rounds when the target changes between the look and the
        // move (another run finishing beside us); then give up.
        for (int round = 0; round < 8; ++round) {
            const Found found = found_at(target);
            if (found == Found::Folder || found == Found::Other)
                throw not_replaced_error(out, found);
            if (found == Found::Nothing) {
                const int err = move_(temp, target, Move::NoReplace);
                if (err == EEXIST)
                    continue;
                if (err)
                    throw move_error(target, err);
                placed_.push_back({&out, {}});
                return;
            }
            const int err = move_(temp, target, Move::Exchange);
            if (err == ENOENT)
                continue;
            if (err == 0) {
                placed_.push_back({&out, temp});
                // Something else may have taken the target's name between
                // the look and the exchange: it goes back (undone with the
                // rest), and the commit fails.
                if (const Found swapped = found_at(temp); swapped != Found::Regular)
                    throw not_replaced_error(out, swapped);
                return;
            }
            if (!cannot_exchange(err))
                throw move_error(target, err);
            if (move_aside(out))
                return;
        }
        throw Error("cannot move the finished output into place as " + quote_name(target.string()) +
                    ": the name keeps changing");
    }

    // Without an exchange (Windows, some file systems): the old file steps
    // aside to the parked name, then the new one takes the target's name.
    // A run killed in between has its old file put back by the next run
    // (run_journal). False when the old file went meanwhile.
    bool move_aside(OutputFile& out)
    {
        const fs::path& target = out.target().path;
        const fs::path aside = out.parked_path();
        int err = move_(target, aside, Move::NoReplace);
        if (err == ENOENT)
            return false;
        if (err)
            throw move_error(target, err);
        if (const Found moved = found_at(aside); moved != Found::Regular) {
            if (move_(aside, target, Move::NoReplace) != 0)
                throw Error(not_replaced_error(out, moved).what() + std::string("; it was moved to ") +
                            quote_name(aside.string()) + " and could not be moved back");
            throw not_replaced_error(out, moved);
        }
        err = move_(out.path(), target, Move::NoReplace);
        if (err) {
            std::string text = move_error(target, err).what();
            if (move_(aside, target, Move::NoReplace) != 0)
                text += "; its old file is kept as " + quote_name(aside.string());
            throw Error(text);
        }
        placed_.push_back({&out, aside});
        return true;
    }

    // Undoes every placed output, last first; what could not be undone is
    // told in the text returned (empty when all went back).
    std::string undo_all()
    {
        std::string trouble;
        while (!placed_.empty()) {
            const Placed p = placed_.back();
            placed_.pop_back();
            const fs::path& target = p.out->target().path;
            const fs::path& temp = p.out->path();
            if (p.old_at.empty()) {
                if (move_(target, temp, Move::NoReplace) != 0)
                    trouble += "; " + quote_name(target.string()) + " was written and could not be taken back";
            } else if (p.old_at == temp) {
                if (move_(temp, target, Move::Exchange) != 0) {
                    // The old file is at the temporary's name: keep it.
                    p.out->release(true);
                    trouble += "; the old " + quote_name(target.string()) + " could not be put back and is kept as " +
                               quote_name(temp.string());
                }
            } else {
                if (move_(target, temp, Move::NoReplace) != 0 || move_(p.old_at, target, Move::NoReplace) != 0)
                    trouble += "; the old " + quote_name(target.string()) + " could not be put back and is kept as " +
                               quote_name(p.old_at.string());
            }
        }
        return trouble;
    }

    const MoveFunction& move_;
    std::vector<Placed> placed_;
};

}  // namespace

void commit_together(std::span<OutputFile* const> outputs, const MoveFunction& move)
{
    // A signal from here on waits until the files are all in place or all
    // back: the run then ends as the commit did (a success when it went
    // through, the files being complete), never half-way.
    const StopSignalsHeld held;
    stop_if_interrupted();
    Commit commit(move, outputs.size());
    for (OutputFile* out : outputs)
        if (!out->in_place())
            commit.place(*out);
    commit.finish();
}

}  // namespace mp
