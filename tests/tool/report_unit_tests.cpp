// Unit tests of what a run reports: the switch, the notification texts, the
// pacing of progress updates, the run record's line and file, and the
// reporter that ties them together (with a fake notifier and clock).
#include "cli.hpp"
#include "report/desktop_notifier.hpp"
#include "record_fields.hpp"
#include "report/run_log.hpp"
#include "report/run_report.hpp"
#include "report/run_reporter.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string test_name(std::string name)
{
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                    '_');
    return name;
}

#define NAMED_ROWS [](const auto& info) { return test_name(info.param.name); }

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "mp-report-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string read_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);)
        lines.push_back(line);
    return lines;
}

// ---------------------------------------------------------------------------
// The switch: --notify, or the variable the window sets.

struct SwitchCase {
    const char* name;
    std::vector<std::string_view> args;
    const char* variable;  // nullptr: unset
    mp::Command::Kind kind;
    bool wanted;
};

void PrintTo(const SwitchCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpReportSwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(MpReportSwitch, OptionAndVariable)
{
    const SwitchCase& c = GetParam();
    const mp::Command cmd = mp::parse_command_line(c.args);
    EXPECT_EQ(cmd.kind, c.kind);
    EXPECT_EQ(mp::reporting_wanted(cmd.notify, c.variable), c.wanted);
    if (cmd.kind == mp::Command::Kind::Run) {
        // The three names are always the last three arguments.
        EXPECT_EQ(cmd.source, c.args[c.args.size() - 3]);
        EXPECT_EQ(cmd.avi, c.args[c.args.size() - 2]);
        EXPECT_EQ(cmd.timecodes, c.args[c.args.size() - 1]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MpReportSwitch,
    ::testing::Values(
        SwitchCase{"Neither", {"a.mkv", "b.avi", "c.txt"}, nullptr, mp::Command::Kind::Run, false},
        SwitchCase{"Option", {"--notify", "a.mkv", "b.avi", "c.txt"}, nullptr, mp::Command::Kind::Run, true},
        SwitchCase{"VariableOne", {"a.mkv", "b.avi", "c.txt"}, "1", mp::Command::Kind::Run, true},
        SwitchCase{"VariableAnyText", {"a.mkv", "b.avi", "c.txt"}, "yes", mp::Command::Kind::Run, true},
        SwitchCase{"VariableEmpty", {"a.mkv", "b.avi", "c.txt"}, "", mp::Command::Kind::Run, false},
        SwitchCase{"VariableZero", {"a.mkv", "b.avi", "c.txt"}, "0", mp::Command::Kind::Run, false},
        SwitchCase{"VariableDoubleZero", {"a.mkv", "b.avi", "c.txt"}, "00", mp::Command::Kind::Run, true},
        SwitchCase{"OptionWithVariableZero", {"--notify", "a.mkv", "b.avi", "c.txt"}, "0", mp::Command::Kind::Run,
                   true},
        // Three arguments stay three file names.
        SwitchCase{"ThreeArgumentsAreNames", {"--notify", "b.avi", "c.txt"}, nullptr, mp::Command::Kind::Run, false},
        SwitchCase{"SourceNamedLikeTheOption", {"--notify", "--notify", "b.avi", "c.txt"}, nullptr,
                   mp::Command::Kind::Run, true},
        SwitchCase{"OptionOnlyFirst", {"a.mkv", "--notify", "b.avi", "c.txt"}, nullptr, mp::Command::Kind::Usage,
                   false},
        SwitchCase{"OptionWithTwoNames", {"--notify", "a.mkv", "b.avi"}, nullptr, mp::Command::Kind::Run, false},
        SwitchCase{"OptionWithEmptyName", {"--notify", "a.mkv", "", "c.txt"}, nullptr, mp::Command::Kind::Usage,
                   false},
        SwitchCase{"OptionWithHelp", {"--notify", "--help"}, nullptr, mp::Command::Kind::Usage, false}),
    NAMED_ROWS);

// ---------------------------------------------------------------------------
// Notification texts



mp::RunFiles files_in(const std::string& folder)
{
    return mp::RunFiles{fs::path(folder) / "my movie.mkv", fs::path(folder) / "my movie.avi",
                        fs::path(folder) / "my movie.timecodes.txt"};
}

struct TextCase {
    const char* name;
    mp::RunFiles files;
    mp::RunOutcome outcome;
    const char* summary;
    const char* body;
};

void PrintTo(const TextCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpOutcomeNotification : public ::testing::TestWithParam<TextCase> {};

TEST_P(MpOutcomeNotification, TextsAndLevel)
{
    const TextCase& c = GetParam();
    const mp::Notification n = mp::outcome_notification(c.files, c.outcome);
    EXPECT_EQ(n.summary, c.summary);
    EXPECT_EQ(n.body, c.body);
    EXPECT_FALSE(n.percent.has_value());
    const bool error = c.outcome.exit_status == 2;
    EXPECT_EQ(n.urgency, error ? mp::Urgency::Critical : mp::Urgency::Normal);
    // An error stays until dismissed; the others go as the server decides.
    EXPECT_EQ(n.expire_timeout_ms, error ? 0 : -1);
    EXPECT_EQ(n.category, error ? "transfer.error" : "transfer.complete");
}

mp::RunOutcome outcome(int status, int64_t frames, std::string message = {}, bool avi = false, bool tc = false,
                       std::vector<std::string> notes = {})
{
    mp::RunOutcome o;
    o.exit_status = status;
    o.frames = frames;
    o.message = std::move(message);
    o.replaced_avi = avi;
    o.replaced_timecodes = tc;
    o.notes = std::move(notes);
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MpOutcomeNotification,
    ::testing::Values(
        TextCase{"Success", files_in("/videos"), outcome(0, 300), "Demuxed my movie.mkv",
                 "300 frames written to my movie.avi and my movie.timecodes.txt in /videos."},
        TextCase{"SuccessOneFrame", files_in("/videos"), outcome(0, 1), "Demuxed my movie.mkv",
                 "1 frame written to my movie.avi and my movie.timecodes.txt in /videos."},
        TextCase{"SuccessReplacedBoth", files_in("/videos"), outcome(0, 300, "", true, true), "Demuxed my movie.mkv",
                 "300 frames written to my movie.avi and my movie.timecodes.txt in /videos.\n"
                 "The existing my movie.avi and my movie.timecodes.txt were replaced."},
        TextCase{"SuccessReplacedAvi", files_in("/videos"), outcome(0, 300, "", true, false), "Demuxed my movie.mkv",
                 "300 frames written to my movie.avi and my movie.timecodes.txt in /videos.\n"
                 "The existing my movie.avi was replaced."},
        TextCase{"SuccessReplacedTimecodes", files_in("/videos"), outcome(0, 300, "", false, true),
                 "Demuxed my movie.mkv",
                 "300 frames written to my movie.avi and my movie.timecodes.txt in /videos.\n"
                 "The existing my movie.timecodes.txt was replaced."},
        TextCase{"SuccessWithNotes", files_in("/videos"),
                 outcome(0, 3, "", true, false, {"'a.mp4' has 2 video tracks", "it is turned"}), "Demuxed my movie.mkv",
                 "3 frames written to my movie.avi and my movie.timecodes.txt in /videos.\n"
                 "The existing my movie.avi was replaced.\nNote: 'a.mp4' has 2 video tracks.\nNote: it is turned."},
        TextCase{"WarningWithANote", files_in("/videos"), outcome(1, 3, "cut off", false, false, {"it is turned"}),
                 "Demuxed my movie.mkv with a warning",
                 "cut off.\nWrote my movie.avi and my movie.timecodes.txt in /videos.\nNote: it is turned."},
        TextCase{"SuccessTwoFolders",
                 mp::RunFiles{"/videos/a.mkv", "/out/a.avi", "/times/a.txt"}, outcome(0, 12), "Demuxed a.mkv",
                 "12 frames written to a.avi in /out and a.txt in /times."},
        TextCase{"Warning", files_in("/videos"),
                 outcome(1, 23, "'/videos/my movie.mkv' is cut off (10 of 20 bytes present); kept 23 frames in both outputs"),
                 "Demuxed my movie.mkv with a warning",
                 "'/videos/my movie.mkv' is cut off (10 of 20 bytes present); kept 23 frames in both outputs.\n"
                 "Wrote my movie.avi and my movie.timecodes.txt in /videos."},
        TextCase{"Error", files_in("/videos"),
                 outcome(2, 0, "'/videos/my movie.mkv' has no video track (only a cover picture)"),
                 "Demuxing my movie.mkv failed", "'/videos/my movie.mkv' has no video track (only a cover picture)"}),
    NAMED_ROWS);

TEST(MpRunningNotification, StartAndProgressNameTheOutputs)
{
    const mp::RunFiles files = files_in("/videos/a&b");
    const mp::Notification start = mp::started_notification(files);
    EXPECT_EQ(start.summary, "Demuxing my movie.mkv");
    EXPECT_EQ(start.body, "Writing my movie.avi and my movie.timecodes.txt in /videos/a&b");
    EXPECT_EQ(start.urgency, mp::Urgency::Normal);
    EXPECT_FALSE(start.percent.has_value());
    EXPECT_EQ(start.category, "transfer");

    const mp::Notification progress = mp::progress_notification(files, 42);
    EXPECT_EQ(progress.summary, start.summary);
    EXPECT_EQ(progress.body, start.body + "\n42% read");
    EXPECT_EQ(progress.percent, 42);
    EXPECT_EQ(progress.expire_timeout_ms, -1);
}

// The files as notifications and the record show them: absolute, folders
// resolved, each file's own name kept.
struct ResolveCase {
    const char* name;
    const char* given;     // relative to the folder the run starts in
    const char* expected;  // relative to that folder's real path
};

void PrintTo(const ResolveCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpRunFiles : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(MpRunFiles, ResolvesFoldersKeepsNames)
{
    TempFolder root;
    const fs::path real_root = fs::canonical(root.path());
    fs::create_directories(root.path() / "real");
    fs::create_directory_symlink("real", root.path() / "link");
    std::ofstream(root.path() / "real" / "target.mkv") << "x";
    fs::create_symlink("target.mkv", root.path() / "real" / "alias.mkv");
    const fs::path before = fs::current_path();
    fs::current_path(root.path());
    const fs::path given = GetParam().given;
    const mp::RunFiles files = mp::RunFiles::resolve(given, given, given);
    fs::current_path(before);
    const fs::path expected = real_root / GetParam().expected;
    EXPECT_EQ(files.source, expected);
    EXPECT_EQ(files.avi, expected);
    EXPECT_EQ(files.timecodes, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, MpRunFiles,
                         ::testing::Values(ResolveCase{"BareName", "x.avi", "x.avi"},
                                           ResolveCase{"DotDot", "real/../real/x.avi", "real/x.avi"},
                                           ResolveCase{"DotSlash", "./real/./x.avi", "real/x.avi"},
                                           ResolveCase{"FolderLinkResolved", "link/x.avi", "real/x.avi"},
                                           ResolveCase{"FileLinkKeepsItsName", "link/alias.mkv", "real/alias.mkv"},
                                           ResolveCase{"MissingFolders", "missing/sub/x.avi", "missing/sub/x.avi"}),
                         NAMED_ROWS);

// ---------------------------------------------------------------------------
// Progress pacing

struct PaceStep {
    int at_ms;
    int64_t read;
    int64_t total;
    std::optional<int> shown;
};

struct PaceCase {
    const char* name;
    std::vector<PaceStep> steps;
};

void PrintTo(const PaceCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpProgressPacer : public ::testing::TestWithParam<PaceCase> {};

TEST_P(MpProgressPacer, Sequence)
{
    const auto start = mp::ProgressPacer::Clock::time_point{} + 1h;
    mp::ProgressPacer pacer(start);
    for (const PaceStep& step : GetParam().steps) {
        SCOPED_TRACE("at " + std::to_string(step.at_ms) + " ms");
        EXPECT_EQ(pacer.next(start + std::chrono::milliseconds(step.at_ms), step.read, step.total), step.shown);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MpProgressPacer,
    ::testing::Values(
        PaceCase{"QuietInTheFirstSecond", {{0, 10, 100, {}}, {500, 50, 100, {}}, {999, 90, 100, {}}}},
        PaceCase{"FirstAfterOneSecond", {{999, 10, 100, {}}, {1000, 11, 100, 11}}},
        PaceCase{"AtMostTwiceASecond",
                 {{1000, 10, 100, 10}, {1100, 20, 100, {}}, {1499, 30, 100, {}}, {1500, 40, 100, 40},
                  {1999, 50, 100, {}}, {2000, 60, 100, 60}}},
        PaceCase{"SamePercentNotSentAgain", {{1000, 10, 100, 10}, {1600, 10, 100, {}}, {1700, 11, 100, 11}}},
        PaceCase{"NeverBackwards", {{1000, 50, 100, 50}, {1600, 40, 100, {}}, {2200, 60, 100, 60}}},
        PaceCase{"UnknownSize", {{1000, 10, 0, {}}, {2000, 10, -1, {}}, {3000, 10, 100, 10}}},
        PaceCase{"Clamped", {{1000, -5, 100, {0}}, {2000, 150, 100, 100}, {3000, 200, 100, {}}}},
        PaceCase{"LargeFile", {{1000, int64_t{3} << 40, int64_t{4} << 40, 75}}}),
    NAMED_ROWS);

// ---------------------------------------------------------------------------
// The run record's line

// Undoes escape_record_field, so the tests can check that it loses nothing.
std::string unescape(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        if (c == 't')
            out += '\t';
        else if (c == 'n')
            out += '\n';
        else if (c == 'r')
            out += '\r';
        else if (c == 'x' && i + 2 < field.size()) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

struct RecordCase {
    const char* name;
    mp::RunFiles files;
    mp::RunOutcome outcome;
    const char* message;
};

void PrintTo(const RecordCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpRecordLine : public ::testing::TestWithParam<RecordCase> {};

TEST_P(MpRecordLine, OneLineSixFieldsNothingLost)
{
    const RecordCase& c = GetParam();
    const std::string line = mp::run_record_line("2026-03-01T14:05:09+01:00", c.files, c.outcome);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    const std::vector<std::string> fields = mptest::record_fields(line.substr(0, line.size() - 1));
    ASSERT_EQ(fields.size(), 6u) << line;
    EXPECT_EQ(fields[0], "2026-03-01T14:05:09+01:00");
    EXPECT_EQ(fields[1], std::to_string(c.outcome.exit_status));
    EXPECT_EQ(unescape(fields[2]), c.files.source.string());
    EXPECT_EQ(unescape(fields[3]), c.files.avi.string());
    EXPECT_EQ(unescape(fields[4]), c.files.timecodes.string());
    EXPECT_EQ(unescape(fields[5]), c.message);
    for (const std::string& field : fields)
        for (const char ch : field)
            EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) << "control character in " << field;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MpRecordLine,
    ::testing::Values(
        RecordCase{"Success", files_in("/v"), outcome(0, 300), "300 frames written"},
        RecordCase{"SuccessReplacing", files_in("/v"), outcome(0, 300, "", true, true),
                   "300 frames written; replaced the existing AVI and timecodes files"},
        RecordCase{"SuccessReplacingAvi", files_in("/v"), outcome(0, 1, "", true, false),
                   "1 frame written; replaced the existing AVI file"},
        RecordCase{"Warning", files_in("/v"), outcome(1, 23, "'x' is cut off; kept 23 frames in both outputs"),
                   "warning: 'x' is cut off; kept 23 frames in both outputs"},
        RecordCase{"Error", files_in("/v"), outcome(2, 0, "'x' has no video track"), "error: 'x' has no video track"},
        RecordCase{"TabsAndNewlinesInNames",
                   mp::RunFiles{"/v/a\tb.mkv", "/v/line\nbreak.avi", "/v/cr\r.txt"}, outcome(0, 2),
                   "2 frames written"},
        RecordCase{"BackslashesAndEscapesInNames",
                   mp::RunFiles{"/v/a\\tb.mkv", "/v/back\\\\slash.avi", "/v/\\x41.txt"}, outcome(0, 2),
                   "2 frames written"},
        RecordCase{"ControlCharacters", mp::RunFiles{std::string("/v/\x01\x1b\x7f.mkv"), "/v/a.avi", "/v/a.txt"},
                   outcome(2, 0, "'\x1b[31m' broke\nthe line"), "error: '\x1b[31m' broke\nthe line"},
        RecordCase{"Utf8Unchanged", files_in("/影片 資料夾"), outcome(0, 3), "3 frames written"}),
    NAMED_ROWS);

TEST(MpRecordTime, NowHasTheIsoShape)
{
    EXPECT_TRUE(std::regex_match(mp::local_time_now(),
                                 std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}")))
        << mp::local_time_now();
}

// ---------------------------------------------------------------------------
// Where the record lives, and where the session bus is

TEST(MpSessionBusAddress, VariableThenRuntimeSocketThenNothing)
{
    TempFolder runtime;
    EXPECT_EQ(mp::session_bus_address("unix:path=/x", runtime.path().c_str()), "unix:path=/x");
    EXPECT_EQ(mp::session_bus_address(nullptr, runtime.path().c_str()), std::nullopt);
    EXPECT_EQ(mp::session_bus_address("", nullptr), std::nullopt);

    // A plain file named "bus" is no bus.
    std::ofstream(runtime.path() / "bus") << "x";
    EXPECT_EQ(mp::session_bus_address(nullptr, runtime.path().c_str()), std::nullopt);
    fs::remove(runtime.path() / "bus");

    const fs::path socket_path = runtime.path() / "bus";
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.string().size(), sizeof address.sun_path);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(mp::session_bus_address(nullptr, runtime.path().c_str()), "unix:path=" + socket_path.string());
    EXPECT_EQ(mp::session_bus_address("", runtime.path().c_str()), "unix:path=" + socket_path.string());
    EXPECT_EQ(mp::session_bus_address("unix:path=/y", runtime.path().c_str()), "unix:path=/y");
    close(fd);
}

// ---------------------------------------------------------------------------
// The record file

TEST(MpRunLog, CreatesPrivateFoldersAndAppendsWholeLines)
{
    TempFolder root;
    const fs::path file = root.path() / "state" / "tcdemux" / "runs.log";
    EXPECT_EQ(mp::append_run_log(file, "first\n"), std::nullopt);
    EXPECT_EQ(mp::append_run_log(file, "second\n"), std::nullopt);
    EXPECT_EQ(read_text(file), "first\nsecond\n");
    for (const fs::path& folder : {root.path() / "state", root.path() / "state" / "tcdemux"}) {
        struct stat st {};
        ASSERT_EQ(stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    EXPECT_FALSE(fs::exists(file.string() + ".1"));
}

struct RotationCase {
    const char* name;
    size_t before;  // bytes in the file before the new line
    bool rotates;
};

void PrintTo(const RotationCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpRunLogRotation : public ::testing::TestWithParam<RotationCase> {};

TEST_P(MpRunLogRotation, KeepsOneOlderGeneration)
{
    const RotationCase& c = GetParam();
    constexpr uint64_t kLimit = 1000;
    const std::string line = "new line\n";  // 9 bytes
    TempFolder root;
    const fs::path file = root.path() / "runs.log";
    const fs::path older = root.path() / "runs.log.1";
    std::ofstream(older) << "oldest generation\n";
    const std::string before = std::string(c.before, 'x');
    if (c.before > 0)
        std::ofstream(file) << before;

    EXPECT_EQ(mp::append_run_log(file, line, kLimit), std::nullopt);
    if (c.rotates) {
        EXPECT_EQ(read_text(older), before);
        EXPECT_EQ(read_text(file), line);
    } else {
        EXPECT_EQ(read_text(older), "oldest generation\n");
        EXPECT_EQ(read_text(file), before + line);
    }
    EXPECT_LE(fs::file_size(file), kLimit);
}

INSTANTIATE_TEST_SUITE_P(Table, MpRunLogRotation,
                         ::testing::Values(RotationCase{"Missing", 0, false},
                                           RotationCase{"ReachesLimitExactly", 991, false},
                                           RotationCase{"OneByteTooMany", 992, true},
                                           RotationCase{"AlreadyPastLimit", 5000, true}),
                         NAMED_ROWS);

// flock() locks belong to an open file, so threads that each open the
// file contend exactly like separate runs.
TEST(MpRunLog, ConcurrentWritersLeaveWholeLines)
{
    TempFolder root;
    const fs::path file = root.path() / "runs.log";
    constexpr int kWriters = 8;
    constexpr int kLines = 100;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&file, w] {
            for (int i = 0; i < kLines; ++i) {
                const std::string line = "writer " + std::to_string(w) + " line " + std::to_string(i) + " " +
                                         std::string(static_cast<size_t>(200 + (w * 37 + i * 11) % 300), 'x') + "\n";
                EXPECT_EQ(mp::append_run_log(file, line), std::nullopt);
            }
        });
    }
    for (auto& t : writers)
        t.join();
    const std::vector<std::string> lines = lines_of(read_text(file));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kWriters * kLines));
    const std::regex whole("writer ([0-9]+) line ([0-9]+) x+");
    std::vector<int> next(kWriters, 0);
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line.substr(0, 80);
        const int w = std::stoi(m[1]);
        // Each writer's lines arrive in its own order.
        EXPECT_EQ(std::stoi(m[2]), next[static_cast<size_t>(w)]++);
    }
}

TEST(MpRunLog, ConcurrentWritersRotateOnceAtATime)
{
    TempFolder root;
    const fs::path file = root.path() / "runs.log";
    constexpr uint64_t kLimit = 4096;
    constexpr int kWriters = 6;
    constexpr int kLines = 150;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&file, w] {
            for (int i = 0; i < kLines; ++i) {
                const std::string line = "w" + std::to_string(w) + " " + std::to_string(i) + " " +
                                         std::string(100, 'y') + "\n";
                EXPECT_EQ(mp::append_run_log(file, line, kLimit), std::nullopt);
            }
        });
    }
    for (auto& t : writers)
        t.join();
    // Both generations hold whole lines only, none past the limit, and
    // together the newest lines: rotation never loses the current file.
    const std::regex whole("w[0-9]+ [0-9]+ y{100}");
    size_t total = 0;
    for (const fs::path& f : {file, fs::path(file.string() + ".1")}) {
        ASSERT_TRUE(fs::exists(f));
        EXPECT_LE(fs::file_size(f), kLimit);
        for (const std::string& line : lines_of(read_text(f))) {
            EXPECT_TRUE(std::regex_match(line, whole)) << line;
            ++total;
        }
    }
    EXPECT_GE(total, kLimit / 110);
    EXPECT_FALSE(fs::exists(file.string() + ".2"));
}

TEST(MpRunLog, FailureIsReportedNotThrown)
{
    TempFolder root;
    std::ofstream(root.path() / "state") << "a file where the folder should be";
    const std::optional<std::string> failure =
        mp::append_run_log(root.path() / "state" / "tcdemux" / "runs.log", "line\n");
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find("cannot create the folder"), std::string::npos) << *failure;
    EXPECT_NE(failure->find("state"), std::string::npos) << *failure;
}

// ---------------------------------------------------------------------------
// The reporter, with a notifier that records and a clock the test moves

struct Recorded {
    std::vector<mp::Notification> updates;
    std::vector<mp::Notification> finishes;
    std::optional<std::string> failure;
};

class RecordingNotifier : public mp::Notifier {
public:
    explicit RecordingNotifier(Recorded& record) : record_(record) {}
    void update(const mp::Notification& n) override { record_.updates.push_back(n); }
    void finish(const mp::Notification& n) override { record_.finishes.push_back(n); }
    std::optional<std::string> failure() const override { return record_.failure; }

private:
    Recorded& record_;
};

class MpRunReporter : public ::testing::Test {
protected:
    mp::RunReporter make(Recorded& record)
    {
        return mp::RunReporter(files_in("/videos"), std::make_unique<RecordingNotifier>(record), [this] { return now_; });
    }
    void advance(std::chrono::milliseconds by) { now_ += by; }

    // What the reporter printed as notes.
    std::string notes_of(const std::function<void(std::FILE*)>& body)
    {
        std::FILE* notes = std::tmpfile();
        body(notes);
        std::rewind(notes);
        std::string text;
        char buffer[512];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, notes)) > 0;)
            text.append(buffer, n);
        std::fclose(notes);
        return text;
    }

    TempFolder state_;
    mp::ProgressPacer::Clock::time_point now_ = mp::ProgressPacer::Clock::time_point{} + 1h;
};

TEST_F(MpRunReporter, StartThenPacedProgressThenOutcomeAndRecord)
{
    Recorded record;
    mp::RunReporter reporter = make(record);
    ASSERT_EQ(record.updates.size(), 1u) << "the start shows at once";
    EXPECT_EQ(record.updates[0].summary, "Demuxing my movie.mkv");
    EXPECT_FALSE(record.updates[0].percent.has_value());

    // 100 reports 30 ms apart over 3 s: none in the first second, then at
    // most one every half second.
    for (int i = 1; i <= 100; ++i) {
        advance(30ms);
        reporter.progress(i * 10, 1000);
    }
    ASSERT_GE(record.updates.size(), 4u);
    EXPECT_LE(record.updates.size(), 6u);
    for (size_t i = 1; i < record.updates.size(); ++i) {
        ASSERT_TRUE(record.updates[i].percent.has_value());
        if (i > 1) {
            EXPECT_GT(*record.updates[i].percent, *record.updates[i - 1].percent);
        }
    }
    EXPECT_GE(*record.updates[1].percent, 33);  // not before one second in

    const fs::path file = state_.path() / "tcdemux" / "runs.log";
    const std::string notes = notes_of([&](std::FILE* f) { reporter.finish(outcome(0, 100), file, f); });
    EXPECT_EQ(notes, "");
    ASSERT_EQ(record.finishes.size(), 1u);
    EXPECT_EQ(record.finishes[0].summary, "Demuxed my movie.mkv");
    const std::vector<std::string> lines = lines_of(read_text(file));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("[^\t]+\t0\t/videos/my movie.mkv\t/videos/my movie.avi\t"
                                                      "/videos/my movie.timecodes.txt\t100 frames written")))
        << lines[0];
}

TEST_F(MpRunReporter, ShortRunShowsNoProgress)
{
    Recorded record;
    mp::RunReporter reporter = make(record);
    for (int i = 1; i <= 30; ++i) {
        advance(30ms);
        reporter.progress(i, 30);
    }
    EXPECT_EQ(record.updates.size(), 1u);
    notes_of([&](std::FILE* f) { reporter.finish(outcome(2, 0, "broken"), state_.path() / "runs.log", f); });
    ASSERT_EQ(record.finishes.size(), 1u);
    EXPECT_EQ(record.finishes[0].urgency, mp::Urgency::Critical);
}

struct NoteCase {
    const char* name;
    std::optional<std::string> notifier_failure;
    bool record_folder_broken;
    bool record_unnamed;
    std::vector<std::string> notes;  // regexes, one per line
};

void PrintTo(const NoteCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpRunReporterNotes : public MpRunReporter, public ::testing::WithParamInterface<NoteCase> {};

TEST_P(MpRunReporterNotes, OneLineForEachFailure)
{
    const NoteCase& c = GetParam();
    Recorded record;
    record.failure = c.notifier_failure;
    mp::RunReporter reporter = make(record);
    std::optional<fs::path> file = state_.path() / "tcdemux" / "runs.log";
    if (c.record_folder_broken)
        std::ofstream(state_.path() / "tcdemux") << "not a folder";
    if (c.record_unnamed)
        file.reset();
    const std::string notes = notes_of([&](std::FILE* f) { reporter.finish(outcome(1, 5, "damaged"), file, f); });
    const std::vector<std::string> lines = lines_of(notes);
    ASSERT_EQ(lines.size(), c.notes.size()) << notes;
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(c.notes[i]))) << lines[i];
    EXPECT_EQ(notes.empty() ? '\n' : notes.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Table, MpRunReporterNotes,
    ::testing::Values(
        NoteCase{"NoFailure", std::nullopt, false, false, {}},
        NoteCase{"NotifierFailed", "no notification service on the session bus", false, false,
                 {"mp\\.exe: note: desktop notifications unavailable: no notification service on the session bus"}},
        NoteCase{"ReasonWithLineBreaks", "first\nsecond\r\nthird", false, false,
                 {"mp\\.exe: note: desktop notifications unavailable: first second  third"}},
        NoteCase{"RecordFolderBroken", std::nullopt, true, false,
                 {"mp\\.exe: note: the run was not recorded: cannot create the folder .*tcdemux.*"}},
        NoteCase{"NoRecordFolderNamed", std::nullopt, false, true,
                 {"mp\\.exe: note: the run was not recorded: no run record is kept .*"}},
        NoteCase{"Both", "the notification service did not answer within 3 s", true, false,
                 {"mp\\.exe: note: desktop notifications unavailable: the notification service did not answer "
                  "within 3 s",
                  "mp\\.exe: note: the run was not recorded: .*"}}),
    NAMED_ROWS);

}  // namespace
