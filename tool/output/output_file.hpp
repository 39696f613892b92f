// One output while it is written: a new hidden file beside its target,
// moved into place by the commit (output_commit) once the whole run has
// succeeded, or, for a character device such as /dev/null, the device
// itself, written in place.
#pragma once

#include "output/output_target.hpp"
#include "output/run_journal.hpp"

#include <cstdio>
#include <filesystem>
#include <string>

namespace mp {

class OutputFile {
public:
    // Creates ".tcdemux-TOKEN-NUMBER.part" beside the target (a name no
    // file has), or opens the device. Throws Error when it cannot.
    OutputFile(OutputTarget target, const std::string& token, int number);
    // Removes the new file unless release() said that its name is no
    // longer ours.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const OutputTarget& target() const { return target_; }
    // The file being written: the temporary, or the device.
    const std::filesystem::path& path() const { return path_; }
    bool in_place() const { return target_.kind == TargetKind::Device; }
    // Where the target's old file waits while the commit cannot exchange.
    std::filesystem::path parked_path() const;
    int number() const { return number_; }
    // The new file's identity on the disk, as the journal keeps it.
    FileId id() const { return id_; }

    // The stdio handle (null after close()).
    std::FILE* file() { return file_; }
    // Closes the handle; false on a write error that showed up on close.
    bool close();

    // The new file left the temporary name (it was moved into place), or
    // the name now holds a file that is not ours to remove; `replaced`
    // says whether the new file took the place of an existing one.
    void release(bool replaced);
    // After release(): whether it took the place of an existing file.
    bool replaced() const { return replaced_; }

private:
    OutputTarget target_;
    std::string token_;
    int number_;
    std::filesystem::path path_;
    FileId id_;
    std::FILE* file_ = nullptr;
    bool released_ = false;
    bool replaced_ = false;
};

}  // namespace mp
