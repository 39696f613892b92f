#include "output/run_journal.hpp"

#include "common/av_error.hpp"
#include "common/descriptor.hpp"
#include "output/output_commit.hpp"

#include <algorithm>
#include <optional>
#include <set>
#include <system_error>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace mp {
namespace fs = std::filesystem;

#if defined(_WIN32)

// Windows keeps no journal: a killed run's files stay until removed by hand.
void recover_killed_runs(const fs::path&, std::FILE*) {}

#else

namespace {

// What is at `path` when it is a regular file (not following a link).
std::optional<FileId> regular_file_at(const fs::path& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool nothing_at(const fs::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

void remove_regular(const fs::path& path)
{
    if (regular_file_at(path))
        ::unlink(path.c_str());
}

std::string read_all(int fd)
{
    std::string text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<size_t>(n));
        at += n;
    }
}

std::string names_of(const std::vector<JournalEntry>& entries)
{
    std::string text;
    for (const JournalEntry& e : entries)
        text += (text.empty() ? "" : " and ") + quote_name(e.target.string());
    return text;
}

// Sets right what the killed run `token` left, as its journal says.
void recover(const std::string& token, const std::vector<JournalEntry>& entries, std::FILE* notes)
{
    const auto temp_of = [&](const JournalEntry& e) { return e.target.parent_path() / temporary_name(token, e.number); };
    const auto parked_of = [&](const JournalEntry& e) { return e.target.parent_path() / parked_name(token, e.number); };
    const bool any_placed = std::any_of(entries.begin(), entries.end(),
                                        [](const JournalEntry& e) { return regular_file_at(e.target) == e.new_file; });
    std::string kept;
    bool undone = false;
    for (const JournalEntry& e : entries) {
        const fs::path temp = temp_of(e);
        const fs::path parked = parked_of(e);
        if (any_placed) {
            // Complete the commit: every new file is whole once any moved.
            if (regular_file_at(e.target) != e.new_file && regular_file_at(temp) == e.new_file) {
                if (nothing_at(e.target))
                    move_file(temp, e.target, Move::NoReplace);
                else if (regular_file_at(e.target))
                    ::rename(temp.c_str(), e.target.c_str());
            }
            remove_regular(temp);  // the old file after an exchange
            remove_regular(parked);
            continue;
        }
        // Undo it: the new file may be unfinished.
        if (regular_file_at(temp) == e.new_file)
            remove_regular(temp);
        if (regular_file_at(parked)) {
            if (nothing_at(e.target) && move_file(parked, e.target, Move::NoReplace) == 0)
                undone = true;
            else
                kept += "; the old " + quote_name(e.target.string()) + " is kept as " + quote_name(parked.string());
        }
    }
    if (any_placed)
        std::fprintf(notes, "mp.exe: note: an earlier run was stopped while putting its outputs in place; %s now %s its new files\n",
                     names_of(entries).c_str(), entries.size() > 1 ? "hold" : "holds");
    else if (undone || !kept.empty())
        std::fprintf(notes, "mp.exe: note: an earlier run was stopped while putting its outputs in place; %s %s as before%s\n",
                     names_of(entries).c_str(), entries.size() > 1 ? "are" : "is", kept.c_str());
}

// Recovers the killed run `token` whose journal in `folder` is `journal`,
// unless another of its journals is busy (a run recovering it from the
// other folder). Removes its journals.
void recover_run(const fs::path& folder, const std::string& token, int journal, std::FILE* notes)
{
    const std::optional<std::vector<JournalEntry>> entries = parse_journal(read_all(journal));
    std::vector<fs::path> journals{folder / journal_name(token)};
    std::vector<Descriptor> others;
    if (entries) {
        for (const JournalEntry& e : *entries) {
            const fs::path other = e.target.parent_path() / journal_name(token);
            if (std::find(journals.begin(), journals.end(), other) != journals.end())
                continue;
            others.emplace_back(::open(other.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
            if (others.back().get() >= 0 && !lock_file(others.back().get(), LOCK_EX | LOCK_NB))
                return;
            journals.push_back(other);
        }
        recover(token, *entries, notes);
    }
    for (const fs::path& j : journals)
        remove_regular(j);
}

}  // namespace

void recover_killed_runs(const fs::path& folder, std::FILE* notes)
{
    const Descriptor held = lock_folder(folder, LOCK_EX);
    if (held.get() < 0)
        return;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::set<std::string> live;
    for (const std::string& name : names) {
        const std::string token = token_in(name, ".run");
        if (token.empty())
            continue;
        const Descriptor journal(::open((folder / name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (journal.get() < 0 || !lock_file(journal.get(), LOCK_EX | LOCK_NB)) {
            live.insert(token);  // running, or just ended and gone with its files
            continue;
        }
        recover_run(folder, token, journal.get(), notes);
    }
    // New files of killed runs, and old ones an exchange left: whatever
    // was worth keeping has been moved into place above.
    for (const std::string& name : names) {
        for (int number = 1; number <= 2; ++number) {
            const std::string token = token_in(name, "-" + std::to_string(number) + ".part");
            if (!token.empty() && !live.contains(token))
                remove_regular(folder / name);
        }
    }
}

#endif

}  // namespace mp
