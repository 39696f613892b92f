// Output safety: path checks before anything is written, and temporary
// files beside the targets that are moved into place only when complete
// (output_commit).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>

namespace mp {

// Refuses, by throwing Error, outputs that would overwrite the source (same
// path or same file by device and inode, e.g. a hard link) or that name the
// same file twice, outputs that are folders, and outputs in a folder that
// does not exist. A path that cannot be examined (a loop of links, a name
// too long) is refused too: the check never passes on what it could not
// see. Writes nothing.
void check_output_paths(const std::filesystem::path& source, const std::filesystem::path& avi,
                        const std::filesystem::path& timecodes);

// A name for a hidden file beside `target` that no file has yet (so far as
// chance goes): ".NAME.<8 random characters><ending>".
std::filesystem::path hidden_name_beside(const std::filesystem::path& target, std::string_view ending);

// A new, uniquely named file in the target's folder. The destructor removes
// it unless release() said that its name is no longer ours.
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

    // The file left the temporary name (it was moved into place), or the
    // name now holds a file that is not ours to remove; `replaced` says
    // whether the new file took the place of an existing one.
    void release(bool replaced);
    // After release(): whether it took the place of an existing file.
    bool replaced() const { return replaced_; }

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    bool released_ = false;
    bool replaced_ = false;
};

}  // namespace mp
