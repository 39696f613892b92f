// Output safety: path checks before anything is written, and temporary
// files beside the targets that are renamed into place only when complete.
#pragma once

#include <cstdio>
#include <filesystem>

namespace mp {

// Refuses, by throwing Error, outputs that would overwrite the source (same
// path or same file by device and inode, e.g. a hard link) or that name the
// same file twice, outputs that are folders, and outputs in a folder that
// does not exist. Writes nothing.
void check_output_paths(const std::filesystem::path& source, const std::filesystem::path& avi,
                        const std::filesystem::path& timecodes);

// A new, uniquely named file in the target's folder. The destructor removes
// it unless commit() renamed it over the target.
class TempOutput {
public:
    explicit TempOutput(std::filesystem::path target);
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    const std::filesystem::path& path() const { return temp_; }
    const std::filesystem::path& target() const { return target_; }

    // The stdio handle the file was created with (null after close()).
    std::FILE* file() { return file_; }
    // Closes the handle; false on a write error that showed up on close.
    bool close();

    // Atomically replaces the target with the finished file.
    void commit();
    // After commit(): whether it took the place of an existing file.
    bool replaced() const { return replaced_; }

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
    bool replaced_ = false;
};

// Renames both finished temporaries into place, unless a stop was requested.
void commit_outputs(TempOutput& first, TempOutput& second);

}  // namespace mp
