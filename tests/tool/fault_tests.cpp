// Faults from outside while mp.exe runs: a file-size limit or a full disk
// in the middle of the AVI, SIGINT and SIGTERM while the frames are copied,
// and a source that gets shorter while it is read. Whatever happens, the
// run ends with one clear line and its exit status, never a temporary left
// behind, and the old targets as they were unless it succeeded.
#include "support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <regex>

using namespace mptest;

namespace {

template <typename Case>
std::string row_name(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

fs::path fixture(const std::string& name)
{
    return fixtures() / name;
}

size_t count_lines(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::vector<std::string> temporaries(const fs::path& dir)
{
    std::vector<std::string> found;
    for (const std::string& name : list_dir(dir))
        if (name.starts_with("."))
            found.push_back(name);
    return found;
}

bool ci()
{
    const char* value = std::getenv("CI");
    return value && std::string(value) == "true";
}

// mp.exe with its stderr on a terminal whose output is stopped (as by
// Ctrl-S). Its first progress line, written as soon as the first frame is
// in the AVI, then blocks it right there, in the middle of the copy, until
// the test turns the output back on: a point in the run the test can wait
// for without guessing at the machine's speed.
class HeldTool {
public:
    HeldTool(const std::vector<std::string>& args, const fs::path& out_file)
    {
        if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        if (tcflow(slave_, TCOOFF) != 0)
            throw std::runtime_error("cannot stop the terminal's output");
        std::vector<std::string> storage{mp_exe()};
        storage.insert(storage.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : storage)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0)
                _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(slave_, 2);
            close(master_);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }

    ~HeldTool()
    {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (slave_ >= 0)
            close(slave_);
        close(master_);
    }

    int pid() const { return pid_; }

    // Waits until the tool is blocked writing to its stderr.
    bool wait_until_held()
    {
        const fs::path syscall_file = "/proc/" + std::to_string(pid_) + "/syscall";
        const std::string writing = std::to_string(SYS_write) + " 0x2 ";
        return wait_until([&] { return read_file(syscall_file).starts_with(writing); });
    }

    // Turns the output back on and lets the tool run to its end: its exit
    // status (-1 when killed by a signal).
    int finish()
    {
        tcflow(slave_, TCOON);
        close(slave_);
        slave_ = -1;
        char buffer[4096];
        for (ssize_t n; (n = read(master_, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
            if (n > 0)
                shown_.append(buffer, static_cast<size_t>(n));
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // What the tool wrote to its terminal, with the progress lines.
    const std::string& shown() const { return shown_; }

    // The lines after the last progress line was erased.
    std::string last_lines() const
    {
        const size_t erased = shown_.rfind("\r\033[K");
        std::string text = erased == std::string::npos ? shown_ : shown_.substr(erased + 4);
        // The terminal turns "\n" into "\r\n".
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    bool waited_ = false;
    std::string shown_;
};

}  // namespace

// ---------------------------------------------------------------------------
// A file-size limit (ulimit -f) in the middle of the AVI, with large and
// small frames: the write fails with EFBIG instead of the signal killing
// the run.

struct LimitCase {
    const char* name;
    const char* file;
};

void PrintTo(const LimitCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpFileSizeLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(MpFileSizeLimit, ErrorLineAndOldTargetsKept)
{
    const LimitCase& c = GetParam();
    const fs::path source = fixture(c.file);
    TempDir dir;
    const RunResult whole = run(mp_exe(), {source.string(), (dir / "whole.avi").string(), (dir / "whole.txt").string()});
    ASSERT_EQ(whole.exit_code, 0) << whole.err;
    const uint64_t avi_size = fs::file_size(dir / "whole.avi");
    fs::remove(dir / "whole.avi");
    fs::remove(dir / "whole.txt");

    write_file(dir / "out.avi", "old avi");
    write_file(dir / "out.txt", "old timecodes");
    const RunResult r = run(mp_exe(), {source.string(), (dir / "out.avi").string(), (dir / "out.txt").string()}, {},
                            avi_size / 2);
    EXPECT_EQ(r.exit_code, 2) << "killed by a signal when -1";
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex("^mp\\.exe: error: .*out\\.avi': the file has reached the "
                                                    "file-size limit")))
        << r.err;
    EXPECT_EQ(read_file(dir / "out.avi"), "old avi");
    EXPECT_EQ(read_file(dir / "out.txt"), "old timecodes");
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"out.avi", "out.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Sources, MpFileSizeLimit,
                         ::testing::Values(LimitCase{"LargeFrames", "long.mkv"}, LimitCase{"SmallFrames", "vp8.webm"}),
                         row_name<LimitCase>);

// ---------------------------------------------------------------------------
// A full disk in the middle of the AVI: a small tmpfs mounted in a mount
// namespace of the test's own (unshare, which needs no root where user
// namespaces are allowed). Inside, the old targets are made, mp.exe runs,
// and what is left is copied out for the test to look at.

class MpDiskFull : public ::testing::TestWithParam<LimitCase> {};

TEST_P(MpDiskFull, ErrorLineAndOldTargetsKept)
{
    const LimitCase& c = GetParam();
    const std::string unshare = find_program("unshare");
    const bool namespaces = !unshare.empty() && run(unshare, {"--map-root-user", "--mount", "true"}).exit_code == 0;
    if (!namespaces) {
        if (ci())
            FAIL() << "cannot make a mount namespace (unshare --map-root-user --mount) to fill a disk in";
        GTEST_SKIP() << "no mount namespace for a small file system here";
    }
    const fs::path source = fixture(c.file);
    TempDir dir;
    const RunResult whole = run(mp_exe(), {source.string(), (dir / "whole.avi").string(), (dir / "whole.txt").string()});
    ASSERT_EQ(whole.exit_code, 0) << whole.err;
    // Room for the two old targets, the header and about half of the frames.
    const uint64_t size_kib = fs::file_size(dir / "whole.avi") / 2 / 1024 + 8;
    fs::create_directory(dir / "disk");
    fs::create_directory(dir / "after");

    const std::string script =
        "set -e\n"
        "mount -t tmpfs -o size=" + std::to_string(size_kib) + "k tcdemux-test \"$1/disk\"\n"
        "printf 'old avi' > \"$1/disk/out.avi\"\n"
        "printf 'old timecodes' > \"$1/disk/out.txt\"\n"
        "set +e\n"
        "\"$2\" \"$3\" \"$1/disk/out.avi\" \"$1/disk/out.txt\" > \"$1/stdout\" 2> \"$1/stderr\"\n"
        "echo $? > \"$1/status\"\n"
        "ls -A \"$1/disk\" > \"$1/listing\"\n"
        "cp \"$1/disk/out.avi\" \"$1/disk/out.txt\" \"$1/after/\"\n";
    const RunResult r = run(unshare, {"--map-root-user", "--mount", "sh", "-c", script, "sh", dir.path().string(),
                                      mp_exe(), source.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string err = read_file(dir / "stderr");
    EXPECT_EQ(read_file(dir / "status"), "2\n") << err;
    EXPECT_EQ(read_file(dir / "stdout"), "");
    EXPECT_EQ(count_lines(err), 1u) << err;
    EXPECT_TRUE(std::regex_search(err, std::regex("^mp\\.exe: error: .*out\\.avi': the disk is full"))) << err;
    EXPECT_EQ(read_file(dir / "listing"), "out.avi\nout.txt\n");
    EXPECT_EQ(read_file(dir / "after" / "out.avi"), "old avi");
    EXPECT_EQ(read_file(dir / "after" / "out.txt"), "old timecodes");
}

INSTANTIATE_TEST_SUITE_P(Sources, MpDiskFull,
                         ::testing::Values(LimitCase{"LargeFrames", "long.mkv"}, LimitCase{"SmallFrames", "vp8.webm"}),
                         row_name<LimitCase>);

// ---------------------------------------------------------------------------
// SIGINT and SIGTERM while the frames are copied, from a file and from a
// pipe: the run stops as an error, the
// temporaries go, the old targets stay.

struct StopCase {
    const char* name;
    const char* file;
    bool piped;
    int signal;
};

void PrintTo(const StopCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpStopWhileCopying : public ::testing::TestWithParam<StopCase> {};

TEST_P(MpStopWhileCopying, RemovesTemporariesAndKeepsOldTargets)
{
    const StopCase& c = GetParam();
    TempDir dir;
    fs::path source = fixture(c.file);
    std::optional<FifoFeeder> feeder;
    if (c.piped) {
        source = dir / "source.mkv";
        ASSERT_EQ(mkfifo(source.c_str(), 0600), 0);
        feeder.emplace(source, read_file(fixture(c.file)));
    }
    write_file(dir / "out.avi", "old avi");
    TempDir logs;
    HeldTool tool({source.string(), (dir / "out.avi").string(), (dir / "out.txt").string()}, logs / "out");

    ASSERT_TRUE(tool.wait_until_held()) << "the tool never showed its progress";
    EXPECT_EQ(temporaries(dir.path()).size(), 3u) << "held while writing both outputs, with the journal";
    ASSERT_EQ(kill(tool.pid(), c.signal), 0);
    const int status = tool.finish();
    feeder.reset();

    EXPECT_EQ(status, 2) << tool.shown();
    EXPECT_EQ(tool.last_lines(), "mp.exe: error: interrupted; no output was written\n") << tool.shown();
    EXPECT_EQ(read_file(logs / "out"), "");
    EXPECT_EQ(read_file(dir / "out.avi"), "old avi");
    EXPECT_EQ(list_dir(dir.path()), c.piped ? (std::vector<std::string>{"out.avi", "source.mkv"})
                                            : (std::vector<std::string>{"out.avi"}));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, MpStopWhileCopying,
    ::testing::Values(StopCase{"Sigint", "long.mkv", false, SIGINT}, StopCase{"Sigterm", "long.mkv", false, SIGTERM},
                      StopCase{"SigtermFromPipe", "long.mkv", true, SIGTERM}),
    row_name<StopCase>);

// ---------------------------------------------------------------------------
// A source that gets shorter while it is read (another program rewriting
// it): the run must not pass a wrong or short AVI off as complete. It ends
// as a cut-off source (a warning, with both outputs holding the same
// frames, fewer than the whole file has) or as an error with nothing
// written.

struct ShrinkCase {
    const char* name;
    const char* file;
    int64_t frames;  // in the whole file
};

void PrintTo(const ShrinkCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpSourceShrinks : public ::testing::TestWithParam<ShrinkCase> {};

TEST_P(MpSourceShrinks, CutOffWarningOrErrorNeverSuccess)
{
    const ShrinkCase& c = GetParam();
    TempDir dir;
    const fs::path source = dir / "source.mkv";
    fs::copy_file(fixture(c.file), source);
    write_file(dir / "out.avi", "old avi");
    write_file(dir / "out.txt", "old timecodes");
    TempDir logs;
    HeldTool tool({source.string(), (dir / "out.avi").string(), (dir / "out.txt").string()}, logs / "out");
    ASSERT_TRUE(tool.wait_until_held()) << "the tool never showed its progress";
    fs::resize_file(source, fs::file_size(source) / 3);
    const int status = tool.finish();
    const std::string said = tool.last_lines();

    ASSERT_TRUE(status == 1 || status == 2) << "exit " << status << ": " << tool.shown();
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
    if (status == 2) {
        EXPECT_TRUE(std::regex_match(said, std::regex("mp\\.exe: error: [^\n]*source\\.mkv[^\n]*\n"))) << said;
        EXPECT_EQ(read_file(dir / "out.avi"), "old avi");
        EXPECT_EQ(read_file(dir / "out.txt"), "old timecodes");
        return;
    }
    std::smatch kept;
    ASSERT_TRUE(std::regex_match(said, kept, std::regex("mp\\.exe: warning: [^\n]*source\\.mkv[^\n]*; kept ([0-9]+) "
                                                        "frames in both outputs\n")))
        << said;
    const int64_t frames = std::stoll(kept[1]);
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, c.frames);
    EXPECT_EQ(static_cast<int64_t>(read_lines(dir / "out.txt").size()), frames + 2);
    EXPECT_EQ(dump_video(dir / "out.avi", false).packets, frames);
    EXPECT_NE(read_file(logs / "out").find(std::to_string(frames) + " frames"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sources, MpSourceShrinks,
                         ::testing::Values(ShrinkCase{"LargeFrames", "long.mkv", 600},
                                           ShrinkCase{"CompressedFrames", "h264_zlib.mkv", 40}),
                         row_name<ShrinkCase>);
