// A run's hidden files and what is left of them after a run was killed.
//
// Every file a run makes beside its targets is named after one random
// token of the run (short, so that any target name the file system takes
// still works):
//   .tcdemux-TOKEN.run      the run's journal, in each folder of its outputs
//   .tcdemux-TOKEN-N.part   the new file of output N (1 the AVI, 2 the
//                           timecodes) until it is moved into place; after
//                           an exchange, the target's old file
//   .tcdemux-TOKEN-N.old    the target's old file, moved aside where the
//                           file system cannot exchange two names
// The run holds a lock on its journal for its whole life, so a journal
// whose lock is free belongs to a run that was killed. Once both new files
// are finished, the journal names each target and the new file's identity
// (device and inode): where that identity is found tells how far the
// commit got. A later run into the folder then completes the commit when
// any new file had already reached its target, or else undoes it, so the
// targets hold the old pair or the new pair, never one of each.
#pragma once

#include "common/file_io.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mp {

std::string journal_name(const std::string& token);
std::string temporary_name(const std::string& token, int number);
std::string parked_name(const std::string& token, int number);
// "TOKEN" of a name ".tcdemux-TOKEN<ending>", or "" for any other name.
std::string token_in(const std::string& name, std::string_view ending);

// One output whose new file the commit moves into place.
struct JournalEntry {
    int number = 0;                 // 1 the AVI, 2 the timecodes
    std::filesystem::path target;   // absolute
    FileId new_file;
};

// The journal's text for `entries`, and the entries of a journal's text
// (nullopt when it holds none: the run was killed before its new files
// were finished, so no commit began).
std::string journal_text(std::span<const JournalEntry> entries);
std::optional<std::vector<JournalEntry>> parse_journal(const std::string& text);

class RunJournal {
public:
    // Picks a token of the run and creates its journal, locked, in the
    // folder of each of `targets` (absolute). Throws Error when a folder
    // takes no file.
    explicit RunJournal(const std::vector<std::filesystem::path>& targets);
    // Removes the journals: call once the run's other files are gone.
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    const std::string& token() const { return token_; }

    // Notes the outputs that the commit will move, once their new files
    // exist. Throws Error when the journal cannot be written.
    void record(std::span<const JournalEntry> entries);

private:
    // Creates a locked journal under the current token beside each
    // target; false when a name is taken (nothing is left then).
    bool create_copies(const std::vector<std::filesystem::path>& targets);
    void remove_copies();

    struct Copy {
        std::filesystem::path path;
        int fd = -1;
    };
    std::string token_;
    std::vector<Copy> copies_;
};

// Finds what runs into `folder` that were killed left behind and sets it
// right (killed_runs.cpp): completes or undoes their commit as their journal says, and
// removes their temporaries. Never touches a live run's files, nor a file
// that is not named as ours. What it did to the targets is told in a note
// line on `notes`; it never fails the run.
void recover_killed_runs(const std::filesystem::path& folder, std::FILE* notes);

}  // namespace mp
