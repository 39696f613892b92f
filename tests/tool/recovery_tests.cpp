// A run killed (SIGKILL) at a chosen point of its life, then the real
// mp.exe run into the same folder: afterwards no hidden file of the killed
// run is left, and its targets hold the old pair or the new pair, never
// one of each. The killed run is the tool's own output code in a child
// process, killed from inside the move it is about to make (or has just
// made), so the point is exact whatever the machine's speed.
#include "output/output_target.hpp"
#include "output/pending_outputs.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/codec_par.h>
}

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mptest;

namespace {

const char* const kOld[] = {"old avi", "old timecodes"};
const char* const kNewTimecodes = "# timecode format v2\n0\n40\n";

enum class Pair { Old, New };

struct KillCase {
    const char* name;
    bool old_targets = true;
    bool no_exchange = false;    // the file system cannot exchange two names
    bool two_folders = false;    // the timecodes go to a folder of their own
    bool while_writing = false;  // killed before the commit
    int after_move = 0;          // killed just after this move (1 = the first)
    bool live = false;           // stopped, not killed: a second run leaves it alone
    Pair expected = Pair::New;
    bool note = true;            // the second run says what it set right
};

void PrintTo(const KillCase& c, std::ostream* os)
{
    *os << c.name;
}

// The tool's output code writing a one-frame AVI and its timecodes over
// the targets, stopped by `signal` where the case says. Never returns.
[[noreturn]] void run_until_signal(const KillCase& c, const fs::path& source, const fs::path& avi,
                                   const fs::path& timecodes, int signal)
{
    AVCodecParameters* par = avcodec_parameters_alloc();
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_MPEG4;
    par->width = 64;
    par->height = 48;
    {
        mp::PendingOutputs out(mp::check_output_paths(source, {}, avi, timecodes), par, MKTAG('F', 'M', 'P', '4'),
                               mp::Rational{25, 1});
        AVPacket* frame = av_packet_alloc();
        av_new_packet(frame, 16);
        out.avi().write(frame, 0);
        out.times().add({0, 40000000});
        if (c.while_writing)
            raise(signal);
        int moves = 0;
        out.commit({}, [&](const fs::path& from, const fs::path& to, mp::Move how) {
            if (how == mp::Move::Exchange && c.no_exchange)
                return EINVAL;
            const int rc = mp::move_file(from, to, how);
            if (++moves == c.after_move)
                raise(signal);
            return rc;
        });
    }
    _exit(3);  // the commit ended before the chosen point
}

std::vector<std::string> hidden(const fs::path& dir)
{
    std::vector<std::string> found;
    for (const std::string& name : list_dir(dir))
        if (name.starts_with(".tcdemux-"))
            found.push_back(name);
    return found;
}

class MpKilledRun : public ::testing::TestWithParam<KillCase> {};

TEST_P(MpKilledRun, NextRunLeavesAWholePair)
{
    const KillCase& c = GetParam();
    TempDir dir;
    const fs::path times_dir = c.two_folders ? dir / "times" : dir.path();
    fs::create_directories(times_dir);
    const fs::path targets[2] = {dir / "a.avi", times_dir / "a.txt"};
    for (int k = 0; k < 2 && c.old_targets; ++k)
        write_file(targets[k], kOld[k]);
    // Hidden files that are not ours, named much like ours.
    write_file(dir / ".tcdemux-notours", "the user's");
    write_file(dir / ".a.avi.12345678.part", "the user's");
    write_file(dir / "source", "not read");

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        run_until_signal(c, dir / "source", targets[0], targets[1], c.live ? SIGSTOP : SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(c.live ? WIFSTOPPED(status) : WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the child was stopped where the case says (status " << status << ")";
    EXPECT_FALSE(hidden(dir.path()).empty()) << "the killed run left its files";

    const std::vector<std::string> second_run{(fixtures() / "h264_bframes.mkv").string(), (dir / "b.avi").string(),
                                              (dir / "b.txt").string()};
    RunResult r = run(mp_exe(), second_run);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    if (c.live) {
        EXPECT_NE(hidden(dir.path()), std::vector<std::string>{}) << "a live run's files are left alone";
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        r = run(mp_exe(), second_run);
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }

    EXPECT_EQ(hidden(dir.path()), std::vector<std::string>{".tcdemux-notours"});
    EXPECT_EQ(hidden(times_dir), c.two_folders ? std::vector<std::string>{} : std::vector<std::string>{".tcdemux-notours"});
    EXPECT_EQ(read_file(dir / ".a.avi.12345678.part"), "the user's");
    if (c.expected == Pair::New) {
        EXPECT_TRUE(read_file(targets[0]).starts_with("RIFF"));
        EXPECT_EQ(read_file(targets[1]), kNewTimecodes);
    } else if (c.old_targets) {
        EXPECT_EQ(read_file(targets[0]), kOld[0]);
        EXPECT_EQ(read_file(targets[1]), kOld[1]);
    } else {
        EXPECT_FALSE(fs::exists(targets[0]));
        EXPECT_FALSE(fs::exists(targets[1]));
    }
    EXPECT_EQ(r.err.find("an earlier run was stopped") != std::string::npos, c.note) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Moments, MpKilledRun,
    ::testing::Values(
        KillCase{.name = "WhileWriting", .while_writing = true, .expected = Pair::Old, .note = false},
        KillCase{.name = "WhileWritingNewTargets", .old_targets = false, .while_writing = true,
                 .expected = Pair::Old, .note = false},
        KillCase{.name = "BetweenExchanges", .after_move = 1},
        KillCase{.name = "AfterBothExchanges", .after_move = 2},
        KillCase{.name = "BetweenMovesNewTargets", .old_targets = false, .after_move = 1},
        KillCase{.name = "FirstOldParked", .no_exchange = true, .after_move = 1, .expected = Pair::Old},
        KillCase{.name = "FirstNewPlacedWithoutExchange", .no_exchange = true, .after_move = 2},
        KillCase{.name = "SecondOldParked", .no_exchange = true, .after_move = 3},
        KillCase{.name = "BetweenExchangesTwoFolders", .two_folders = true, .after_move = 1},
        KillCase{.name = "LiveRunLeftAloneThenKilled", .after_move = 1, .live = true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
