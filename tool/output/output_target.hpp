// Where each output goes, decided before anything is written. Only a
// regular file (or nothing) at a target's name is ever replaced; a
// character device such as /dev/null is written in place; anything else
// is refused with a message that says what is there.
#pragma once

#include "common/file_io.hpp"

#include <filesystem>

namespace mp {

enum class TargetKind {
    Absent,   // nothing there yet: created when the run succeeds
    Regular,  // a regular file: replaced when the run succeeds
    Device,   // a character device: written in place as the run goes
};

struct OutputTarget {
    std::filesystem::path name;  // as given, for messages
    // Absolute, with links at the end of the name followed: the name that
    // is created or replaced, so a link keeps pointing where it did.
    std::filesystem::path path;
    TargetKind kind = TargetKind::Absent;
};

struct OutputTargets {
    OutputTarget avi;
    OutputTarget timecodes;
};

// Examines both outputs. Throws Error for outputs that would overwrite the
// source `source`, open as the file `source_id` (the same file by device
// and inode, whatever the path, e.g. a hard link), that name the same file
// twice, that are folders, named pipes, sockets or
// block devices, or that lie in a folder that does not exist. A path that
// cannot be examined (a loop of links, a name too long) is refused too: the
// check never passes on what it could not see. Writes nothing.
OutputTargets check_output_paths(const std::filesystem::path& source, FileId source_id,
                                 const std::filesystem::path& avi, const std::filesystem::path& timecodes);

}  // namespace mp
