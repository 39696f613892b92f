#include "output/run_journal.hpp"

#include "common/av_error.hpp"
#include "common/descriptor.hpp"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>

namespace mp {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = ".tcdemux-";
constexpr size_t kTokenLength = 6;
constexpr std::string_view kJournalHeader = "tcdemux journal 1\n";

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

std::string token_in(const std::string& name, std::string_view ending)
{
    if (!name.starts_with(kPrefix) || !name.ends_with(ending) || name.size() != kPrefix.size() + kTokenLength + ending.size())
        return {};
    return name.substr(kPrefix.size(), kTokenLength);
}

std::string journal_text(std::span<const JournalEntry> entries)
{
    std::string text(kJournalHeader);
    for (const JournalEntry& e : entries) {
        const std::string path = e.target.string();
        text += std::to_string(e.number) + " " + std::to_string(e.new_file.device) + " " +
                std::to_string(e.new_file.inode) + " " + std::to_string(path.size()) + " " + path + "\n";
    }
    return text;
}

// The entries of a journal, or nullopt when it holds none (the run was
// killed before its new files were finished, so no commit began).
std::optional<std::vector<JournalEntry>> parse_journal(const std::string& text)
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

#if defined(_WIN32)

// Windows keeps no journal; the token only names the run's files.
RunJournal::RunJournal(const std::vector<fs::path>&)
{
    std::random_device entropy;
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (size_t i = 0; i < kTokenLength; ++i)
        token_ += kDigits[entropy() % 36];
}
RunJournal::~RunJournal() = default;
bool RunJournal::create_copies(const std::vector<fs::path>&) { return true; }
void RunJournal::remove_copies() {}
void RunJournal::record(std::span<const JournalEntry>) {}

#else

RunJournal::RunJournal(const std::vector<fs::path>& targets)
{
    // One journal a folder.
    std::vector<fs::path> beside;
    for (const fs::path& t : targets)
        if (std::none_of(beside.begin(), beside.end(), [&](const fs::path& b) { return b.parent_path() == t.parent_path(); }))
            beside.push_back(t);
    for (int attempt = 0; attempt < 100; ++attempt)
        if (create_copies(beside))
            return;
    throw Error("cannot find a free name for a temporary file beside " + quote_name(beside.front().string()));
}

bool RunJournal::create_copies(const std::vector<fs::path>& targets)
{
    for (const fs::path& target : targets) {
        const fs::path folder = target.parent_path();
        // Created and locked under a shared lock on the folder: recovery,
        // which holds it exclusively, never sees a journal not locked yet.
        const Descriptor held = lock_folder(folder, LOCK_SH);
        Descriptor fd;
        fs::path path;
        if (copies_.empty()) {
            // The first picks the token: a name no file has.
            std::string name = (folder / (std::string(kPrefix) + std::string(kTokenLength, 'X') + ".run")).string();
            fd = Descriptor(mkostemps(name.data(), 4, O_CLOEXEC));
            path = name;
            token_ = token_in(path.filename().string(), ".run");
        } else {
            path = folder / journal_name(token_);
            fd = Descriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        }
        if (fd.get() < 0) {
            const int err = errno;
            remove_copies();
            if (err == EEXIST)
                return false;  // the token is taken in another folder
            throw av_error(av_code_of_errno(err), "cannot create a temporary file beside " + quote_name(target.string()));
        }
        // Where the file system keeps no locks, recovery cannot take this
        // one either, and so leaves the run's files alone.
        lock_file(fd.get(), LOCK_EX);
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
    const std::string text = journal_text(entries);
    for (const Copy& c : copies_) {
        if (::pwrite(c.fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
            throw av_error(av_code_of_errno(errno ? errno : ENOSPC),
                           "cannot write the journal " + quote_name(c.path.string()));
    }
}

#endif

}  // namespace mp
