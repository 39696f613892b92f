// Both outputs are committed together: real files in a temporary folder,
// with the faults injected through the commit's move function (a move that
// fails, a signal raised between the moves, a folder that takes a target's
// name just before its move), and a whole run whose target turns into a
// folder while the run goes on.
#include "common/av_error.hpp"
#include "demux.hpp"
#include "common/interrupt.hpp"
#include "output/output_commit.hpp"
#include "output/output_file.hpp"
#include "report/progress.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <optional>
#include <regex>

#include <sys/stat.h>

using namespace mptest;

namespace {

template <typename Case>
std::string row_name(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

// Puts the stop-signal handling of the process back as it was, and
// forgets any stop request, whatever a test did to them.
class StopSignalsRestored {
public:
    StopSignalsRestored()
    {
        for (size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], nullptr, &saved_[i]);
        mp::clear_stop_request();
    }
    ~StopSignalsRestored()
    {
        for (size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &saved_[i], nullptr);
        mp::clear_stop_request();
    }

private:
    static constexpr std::array<int, 4> kSignals{SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
    std::array<struct sigaction, 4> saved_{};
};

const char* const kTargets[] = {"out.avi", "out.txt"};
const char* const kOld[] = {"old avi", "old timecodes"};
const char* const kNew[] = {"new avi", "new timecodes"};

// A finished new file for output `number` of `target`, holding `text`.
std::unique_ptr<mp::OutputFile> finished(const fs::path& target, int number, const std::string& text)
{
    auto out = std::make_unique<mp::OutputFile>(mp::OutputTarget{target, target, mp::TargetKind::Regular}, "testtest",
                                                number);
    EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), out->file()), text.size());
    EXPECT_TRUE(out->close());
    return out;
}

std::vector<std::string> hidden_files(const fs::path& dir)
{
    std::vector<std::string> found;
    for (const std::string& name : list_dir(dir))
        if (name.starts_with("."))
            found.push_back(name);
    return found;
}

}  // namespace

// ---------------------------------------------------------------------------
// The commit, table-driven over the faults. Output 0 is the AVI, 1 the
// timecodes file; a move "of" an output is the one that puts its new file
// in place.

enum class Outcome {
    Committed,  // both targets hold the new files
    Unchanged,  // both targets hold what they held before; an error
    KeptAside,  // an undo failed: the error names where the old file is
};

struct CommitCase {
    const char* name;
    bool old_targets;              // both targets hold files before
    int failing_move_of = -1;      // that output's move fails (EACCES)
    int signal_at_move_of = -1;    // raise `signal` just before that move
    int signal = 0;
    int folder_at_move_of = -1;    // a non-empty folder takes that target's name just before its first move
    bool fifo_not_folder = false;  // a named pipe takes it instead
    bool no_exchange = false;      // the file system cannot exchange (the Windows way)
    bool undo_fails = false;       // putting an old file back fails too
    bool stop_before = false;      // a stop was requested before the commit
    Outcome outcome = Outcome::Unchanged;
    const char* message = "";      // part of the error
};

void PrintTo(const CommitCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpCommitTogether : public ::testing::TestWithParam<CommitCase> {};

TEST_P(MpCommitTogether, BothTargetsNewOrBothAsBefore)
{
    const CommitCase& c = GetParam();
    const StopSignalsRestored restored;
    mp::install_interrupt_handlers();
    TempDir dir;
    fs::path targets[2];
    for (int k = 0; k < 2; ++k) {
        targets[k] = dir / kTargets[k];
        if (c.old_targets)
            write_file(targets[k], kOld[k]);
    }
    std::unique_ptr<mp::OutputFile> outputs[2] = {finished(targets[0], 1, kNew[0]), finished(targets[1], 2, kNew[1])};
    const fs::path temps[2] = {outputs[0]->path(), outputs[1]->path()};

    std::optional<bool> stop_seen_at_signal;
    bool failed = false;
    bool folder_made = false;
    const mp::MoveFunction move = [&](const fs::path& from, const fs::path& to, mp::Move how) {
        if (how == mp::Move::Exchange && c.no_exchange)
            return EINVAL;
        if (how == mp::Move::Exchange && c.undo_fails && failed)
            return EIO;
        for (int k = 0; k < 2; ++k) {
            if (k == c.folder_at_move_of && !folder_made && (from == targets[k] || to == targets[k])) {
                folder_made = true;
                fs::remove(targets[k]);
                if (c.fifo_not_folder) {
                    mkfifo(targets[k].c_str(), 0600);
                } else {
                    fs::create_directory(targets[k]);
                    write_file(targets[k] / "inside.txt", "the user's");
                }
            }
            if (from != temps[k] || to != targets[k])
                continue;
            if (k == c.signal_at_move_of) {
                std::raise(c.signal);
                stop_seen_at_signal = mp::interrupted();
            }
            if (k == c.failing_move_of) {
                failed = true;
                return EACCES;
            }
        }
        return mp::move_file(from, to, how);
    };
    if (c.stop_before)
        std::raise(SIGTERM);

    std::string error;
    try {
        mp::OutputFile* const both[] = {outputs[0].get(), outputs[1].get()};
        mp::commit_together(both, move);
    } catch (const mp::Error& e) {
        error = e.what();
    }
    const bool replaced[2] = {outputs[0]->replaced(), outputs[1]->replaced()};
    outputs[0].reset();
    outputs[1].reset();

    switch (c.outcome) {
    case Outcome::Committed:
        EXPECT_EQ(error, "");
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(read_file(targets[k]), kNew[k]);
            EXPECT_EQ(replaced[k], c.old_targets);
        }
        EXPECT_EQ(hidden_files(dir.path()), std::vector<std::string>{});
        break;
    case Outcome::Unchanged:
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(error.find("kept as"), std::string::npos) << error;
        for (int k = 0; k < 2; ++k) {
            if (k == c.folder_at_move_of && c.fifo_not_folder) {
                EXPECT_TRUE(fs::is_fifo(targets[k]));
            } else if (k == c.folder_at_move_of) {
                EXPECT_TRUE(fs::is_directory(targets[k]));
                EXPECT_EQ(read_file(targets[k] / "inside.txt"), "the user's");
            } else if (c.old_targets) {
                EXPECT_EQ(read_file(targets[k]), kOld[k]) << kTargets[k];
            } else {
                EXPECT_FALSE(fs::exists(targets[k])) << kTargets[k];
            }
        }
        EXPECT_EQ(hidden_files(dir.path()), std::vector<std::string>{});
        break;
    case Outcome::KeptAside: {
        std::smatch kept;
        ASSERT_TRUE(std::regex_search(error, kept, std::regex("the old '([^']+)' could not be put back and is kept as '([^']+)'")))
            << error;
        EXPECT_EQ(fs::path(kept[1].str()), targets[0]);
        EXPECT_EQ(read_file(kept[2].str()), kOld[0]) << "the old file is where the message says";
        EXPECT_EQ(read_file(targets[0]), kNew[0]);
        EXPECT_EQ(read_file(targets[1]), kOld[1]);
        break;
    }
    }

    if (c.signal) {
        ASSERT_TRUE(stop_seen_at_signal.has_value());
        EXPECT_FALSE(*stop_seen_at_signal) << "the signal was taken between the moves";
        EXPECT_TRUE(mp::interrupted()) << "the signal was taken after the commit";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MpCommitTogether,
    ::testing::Values(
        CommitCase{.name = "NoFault", .old_targets = true, .outcome = Outcome::Committed},
        CommitCase{.name = "NoFaultNewTargets", .old_targets = false, .outcome = Outcome::Committed},
        CommitCase{.name = "NoFaultWithoutExchange", .old_targets = true, .no_exchange = true,
                   .outcome = Outcome::Committed},
        CommitCase{.name = "FirstMoveFails", .old_targets = true, .failing_move_of = 0,
                   .message = "cannot move the finished output into place as"},
        CommitCase{.name = "FirstMoveFailsNewTargets", .old_targets = false, .failing_move_of = 0,
                   .message = "permission denied"},
        CommitCase{.name = "SecondMoveFails", .old_targets = true, .failing_move_of = 1,
                   .message = "out.txt': permission denied"},
        CommitCase{.name = "SecondMoveFailsNewTargets", .old_targets = false, .failing_move_of = 1,
                   .message = "out.txt': permission denied"},
        CommitCase{.name = "SecondMoveFailsWithoutExchange", .old_targets = true, .failing_move_of = 1,
                   .no_exchange = true, .message = "out.txt': permission denied"},
        CommitCase{.name = "SigintBetweenMoves", .old_targets = true, .signal_at_move_of = 1, .signal = SIGINT,
                   .outcome = Outcome::Committed},
        CommitCase{.name = "SigtermBetweenMoves", .old_targets = true, .signal_at_move_of = 1, .signal = SIGTERM,
                   .outcome = Outcome::Committed},
        CommitCase{.name = "SighupBetweenMovesNewTargets", .old_targets = false, .signal_at_move_of = 1,
                   .signal = SIGHUP, .outcome = Outcome::Committed},
        CommitCase{.name = "StopRequestedBefore", .old_targets = true, .stop_before = true,
                   .message = "interrupted"},
        CommitCase{.name = "SecondBecomesFolderBeforeExchange", .old_targets = true, .folder_at_move_of = 1,
                   .message = "out.txt' is a folder"},
        CommitCase{.name = "SecondBecomesFolderNewTargets", .old_targets = false, .folder_at_move_of = 1,
                   .message = "out.txt' is a folder"},
        CommitCase{.name = "FirstBecomesFolderWithoutExchange", .old_targets = true, .folder_at_move_of = 0,
                   .no_exchange = true, .message = "out.avi' is a folder"},
        CommitCase{.name = "SecondBecomesFifoBeforeExchange", .old_targets = true, .folder_at_move_of = 1,
                   .fifo_not_folder = true, .message = "out.txt' is no longer a regular file"},
        CommitCase{.name = "FirstBecomesFifoWithoutExchange", .old_targets = true, .folder_at_move_of = 0,
                   .fifo_not_folder = true, .no_exchange = true, .message = "out.avi' is no longer a regular file"},
        CommitCase{.name = "UndoFailsToo", .old_targets = true, .failing_move_of = 1, .undo_fails = true,
                   .outcome = Outcome::KeptAside}),
    row_name<CommitCase>);

// ---------------------------------------------------------------------------
// A folder already at a target's name when the commit starts is refused
// with nothing moved, and the folder keeps what it holds.

struct FolderCase {
    const char* name;
    int folder_at;  // 0 the AVI, 1 the timecodes file
};

void PrintTo(const FolderCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpCommitOntoFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(MpCommitOntoFolder, RefusedAndFolderKept)
{
    const FolderCase& c = GetParam();
    TempDir dir;
    fs::path targets[2];
    for (int k = 0; k < 2; ++k) {
        targets[k] = dir / kTargets[k];
        write_file(targets[k], kOld[k]);
    }
    std::unique_ptr<mp::OutputFile> outputs[2] = {finished(targets[0], 1, kNew[0]), finished(targets[1], 2, kNew[1])};
    fs::remove(targets[c.folder_at]);
    fs::create_directory(targets[c.folder_at]);
    write_file(targets[c.folder_at] / "inside.txt", "the user's");

    mp::OutputFile* const both[] = {outputs[0].get(), outputs[1].get()};
    EXPECT_THROW(
        {
            try {
                mp::commit_together(both);
            } catch (const mp::Error& e) {
                EXPECT_NE(std::string(e.what()).find("is a folder"), std::string::npos) << e.what();
                throw;
            }
        },
        mp::Error);
    outputs[0].reset();
    outputs[1].reset();
    const int other = 1 - c.folder_at;
    EXPECT_EQ(read_file(targets[other]), kOld[other]);
    EXPECT_EQ(read_file(targets[c.folder_at] / "inside.txt"), "the user's");
    EXPECT_EQ(hidden_files(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Targets, MpCommitOntoFolder,
                         ::testing::Values(FolderCase{"AviTarget", 0}, FolderCase{"TimecodesTarget", 1}),
                         row_name<FolderCase>);

// ---------------------------------------------------------------------------
// A whole run whose target turns into a non-empty folder after the checks
// at the start, while the frames are copied: the run fails, the other
// target keeps its old file, the folder keeps what it holds, and no
// temporary is left.

struct LateFolderCase {
    const char* name;
    int folder_at;
};

void PrintTo(const LateFolderCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpRunTargetBecomesFolder : public ::testing::TestWithParam<LateFolderCase> {};

TEST_P(MpRunTargetBecomesFolder, FailsWithBothTargetsAsBefore)
{
    const LateFolderCase& c = GetParam();
    TempDir dir;
    mp::DemuxJob job;
    job.source = fixtures() / "h264_bframes.mkv";
    job.avi = dir / kTargets[0];
    job.timecodes = dir / kTargets[1];
    write_file(job.avi, kOld[0]);
    write_file(job.timecodes, kOld[1]);
    const fs::path late = c.folder_at == 0 ? job.avi : job.timecodes;

    mp::Progress progress(stderr, false);
    int updates = 0;
    progress.set_listener([&](int64_t, int64_t, int64_t) {
        if (updates++ == 0) {
            fs::remove(late);
            fs::create_directory(late);
            write_file(late / "inside.txt", "the user's");
        }
    });
    std::string error;
    try {
        mp::run_demux(job, progress);
    } catch (const mp::Error& e) {
        error = e.what();
    }
    EXPECT_GT(updates, 1) << "the folder came while the frames were copied";
    EXPECT_NE(error.find(mp::quote_name(late.string()) + " is a folder"), std::string::npos) << error;
    const fs::path other = c.folder_at == 0 ? job.timecodes : job.avi;
    EXPECT_EQ(read_file(other), kOld[1 - c.folder_at]);
    EXPECT_EQ(read_file(late / "inside.txt"), "the user's");
    EXPECT_EQ(hidden_files(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Targets, MpRunTargetBecomesFolder,
                         ::testing::Values(LateFolderCase{"Timecodes", 1}, LateFolderCase{"Avi", 0}),
                         row_name<LateFolderCase>);
