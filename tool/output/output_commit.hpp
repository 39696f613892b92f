// Moving both finished outputs into place as one step: afterwards either
// every target holds its new file, or every target holds what it held
// before. A target's old file is kept under a hidden name of its own until
// all new files are in place, so that any failure on the way can be undone.
#pragma once

#include <filesystem>
#include <functional>
#include <span>

namespace mp {

class OutputFile;

// How a file is moved to another name in the same folder.
enum class Move {
    Exchange,   // `from` and `to` both exist and swap names in one step
    NoReplace,  // `from` takes the name `to`, which must not exist (EEXIST)
};

// Moves `from` to `to` as `how` says: 0, or an errno value. ENOSYS, EINVAL
// or ENOTSUP for an exchange that this system or file system cannot do.
int move_file(const std::filesystem::path& from, const std::filesystem::path& to, Move how);

// The moves a commit makes, replaceable so that tests can make one fail.
using MoveFunction = std::function<int(const std::filesystem::path& from, const std::filesystem::path& to, Move how)>;

// Puts every finished (closed) temporary in place of its target, in order,
// with SIGINT, SIGTERM and SIGHUP held back until all are in place or all
// are undone; outputs written in place (devices) are passed over. A stop
// requested before is Interrupted, with nothing moved. Only a regular file
// is replaced: a target that is (or becomes, up to its move) a folder, a
// device, a pipe, a socket or a link is an error, and one that took a
// target's name between the look and the move is put back. On an error every target already moved is
// given back its old file (or none), and Error is thrown; should that undo
// itself fail, the message says where the old file is kept.
void commit_together(std::span<OutputFile* const> outputs, const MoveFunction& move = move_file);

}  // namespace mp
