#include "output/run_journal.hpp"

#include "common/av_error.hpp"
#include "output/output_commit.hpp"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <system_error>
#include <utility>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mp {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = ".tcdemux-";
constexpr std::string_view kJournalHeader = "tcdemux journal 1\n";

std::string random_token()
{
    thread_local std::mt19937_64 random = [] {
        std::random_device entropy;
        return std::mt19937_64(entropy() ^ (static_cast<uint64_t>(entropy()) << 32));
    }();
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string token;
    for (int i = 0; i < 8; ++i)
        token += kDigits[random() % 36];
    return token;
}

}  // namespace

std::string journal_name(const std::string& token)
{
    return std::string(kPrefix) + token + ".run";
}

std::string temporary_name(const std::string& token, int number)
{
    return std::string(kPrefix) + token + "-" + std::to_string(number) + ".part";
}

std::string parked_name(const std::string& token, int number)
{
    return std::string(kPrefix) + token + "-" + std::to_string(number) + ".old";
}

#if defined(_WIN32)

// Windows keeps no journal: a killed run's files stay until removed by hand.
RunJournal::RunJournal(const std::vector<fs::path>&) : token_(random_token()) {}
RunJournal::~RunJournal() = default;
bool RunJournal::create_copies(const std::vector<fs::path>&) { return true; }
void RunJournal::remove_copies() {}
void RunJournal::record(std::span<const JournalEntry>) {}
void recover_killed_runs(const fs::path&, std::FILE*) {}

#else

namespace {

// A descriptor closed with its owner (and so its lock released).
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool lock(int fd, int operation)
{
    while (::flock(fd, operation) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

// A lock on the folder itself. A run creates and locks its journal under
// a shared one; recovery works under an exclusive one, so it never sees a
// journal that exists but is not locked yet.
Descriptor folder_lock(const fs::path& folder, int operation)
{
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || !lock(fd.get(), operation))
        return Descriptor();
    return Descriptor(fd.release());
}

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

// The entries of a journal, or nullopt when it holds none (the run was
// killed before its new files were finished, so no commit began).
std::optional<std::vector<JournalEntry>> parse(const std::string& text)
{
    if (!text.starts_with(kJournalHeader))
        return std::nullopt;
    std::istringstream in(text.substr(kJournalHeader.size()));
    std::vector<JournalEntry> entries;
    JournalEntry e;
    size_t length = 0;
    while (in >> e.number >> e.new_file.device >> e.new_file.inode >> length) {
        std::string path(length, '\0');
        if (in.get() != ' ' || !in.read(path.data(), static_cast<std::streamsize>(length)) || in.get() != '\n')
            return std::nullopt;
        e.target = path;
        if (!e.target.is_absolute() || e.number < 1 || e.number > 2)
            return std::nullopt;
        entries.push_back(e);
    }
    if (!in.eof() || entries.empty())
        return std::nullopt;
    return entries;
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
    const std::optional<std::vector<JournalEntry>> entries = parse(read_all(journal));
    std::vector<fs::path> journals{folder / journal_name(token)};
    std::vector<Descriptor> others;
    if (entries) {
        for (const JournalEntry& e : *entries) {
            const fs::path other = e.target.parent_path() / journal_name(token);
            if (std::find(journals.begin(), journals.end(), other) != journals.end())
                continue;
            others.emplace_back(::open(other.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
            if (others.back().get() >= 0 && !lock(others.back().get(), LOCK_EX | LOCK_NB))
                return;
            journals.push_back(other);
        }
        recover(token, *entries, notes);
    }
    for (const fs::path& j : journals)
        remove_regular(j);
}

// "TOKEN" of ".tcdemux-TOKEN<ending>", or "" when `name` is not so named.
std::string token_of(const std::string& name, std::string_view ending)
{
    if (!name.starts_with(kPrefix) || !name.ends_with(ending) || name.size() != kPrefix.size() + 8 + ending.size())
        return {};
    return name.substr(kPrefix.size(), 8);
}

}  // namespace

RunJournal::RunJournal(const std::vector<fs::path>& targets)
{
    // One journal a folder.
    std::vector<fs::path> beside;
    for (const fs::path& t : targets)
        if (std::none_of(beside.begin(), beside.end(), [&](const fs::path& b) { return b.parent_path() == t.parent_path(); }))
            beside.push_back(t);
    for (int attempt = 0; attempt < 100; ++attempt) {
        token_ = random_token();
        if (create_copies(beside))
            return;
    }
    throw Error("cannot find a free name for a temporary file beside " + quote_name(beside.front().string()));
}

bool RunJournal::create_copies(const std::vector<fs::path>& targets)
{
    for (const fs::path& target : targets) {
        const fs::path folder = target.parent_path();
        const Descriptor held = folder_lock(folder, LOCK_SH);
        const fs::path path = folder / journal_name(token_);
        Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            const int err = errno;
            remove_copies();
            if (err == EEXIST)
                return false;  // the token is taken: another one
            throw av_error(av_code_of_errno(err), "cannot create a temporary file beside " + quote_name(target.string()));
        }
        // Where the file system keeps no locks, recovery cannot take this
        // one either, and so leaves the run's files alone.
        lock(fd.get(), LOCK_EX);
        copies_.push_back({path, fd.release()});
    }
    return true;
}

void RunJournal::remove_copies()
{
    for (Copy& c : copies_) {
        ::unlink(c.path.c_str());
        ::close(c.fd);
    }
    copies_.clear();
}

RunJournal::~RunJournal()
{
    remove_copies();
}


void RunJournal::record(std::span<const JournalEntry> entries)
{
    std::string text(kJournalHeader);
    for (const JournalEntry& e : entries) {
        const std::string path = e.target.string();
        text += std::to_string(e.number) + " " + std::to_string(e.new_file.device) + " " +
                std::to_string(e.new_file.inode) + " " + std::to_string(path.size()) + " " + path + "\n";
    }
    for (const Copy& c : copies_) {
        if (::pwrite(c.fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
            throw av_error(av_code_of_errno(errno ? errno : ENOSPC),
                           "cannot write the journal " + quote_name(c.path.string()));
    }
}

void recover_killed_runs(const fs::path& folder, std::FILE* notes)
{
    const Descriptor held = folder_lock(folder, LOCK_EX);
    if (held.get() < 0)
        return;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (const std::string name = it->path().filename().string(); name.starts_with(kPrefix))
            names.push_back(name);
    std::set<std::string> live;
    for (const std::string& name : names) {
        const std::string token = token_of(name, ".run");
        if (token.empty())
            continue;
        const Descriptor journal(::open((folder / name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (journal.get() < 0 || !lock(journal.get(), LOCK_EX | LOCK_NB)) {
            live.insert(token);  // running, or just ended and gone with its files
            continue;
        }
        recover_run(folder, token, journal.get(), notes);
    }
    // New files of killed runs, and old ones an exchange left: whatever
    // was worth keeping has been moved into place above.
    for (const std::string& name : names) {
        for (int number = 1; number <= 2; ++number) {
            const std::string token = token_of(name, "-" + std::to_string(number) + ".part");
            if (!token.empty() && !live.contains(token))
                remove_regular(folder / name);
        }
    }
}

#endif

}  // namespace mp
