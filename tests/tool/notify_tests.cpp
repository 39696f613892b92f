// End-to-end tests of mp.exe's reports to the desktop: the built mp.exe on a
// private session bus (a dbus-daemon of the test's own) with
// python3-dbusmock's notification service, which records every call, and
// its run record in a temporary XDG_STATE_HOME. No test reaches the user's
// own bus: every child gets the private bus or none, and a runtime folder
// without a bus socket.
#include "demux.hpp"
#include "report/desktop_notifier.hpp"
#include "private_bus.hpp"
#include "report/progress.hpp"
#include "record_fields.hpp"
#include "report/run_log.hpp"
#include "report/run_reporter.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <thread>

using namespace mptest;
using namespace std::chrono_literals;

namespace {

using bustest::ChildOptions;
using bustest::MockNotificationService;
using bustest::NotifyCall;
using bustest::PrivateSessionBus;

// Only a hang trips this.
constexpr auto kRunBound = 120s;

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

ToolRun run_tool(const std::vector<std::string>& args, const bustest::Environment& environment,
                 const fs::path& cwd = {}, bool unprivileged = false)
{
    TempDir logs;
    ChildOptions options;
    options.out = logs / "out";
    options.err = logs / "err";
    options.cwd = cwd;
    options.unprivileged = unprivileged;
    std::vector<std::string> argv{mp_exe()};
    argv.insert(argv.end(), args.begin(), args.end());
    bustest::Child child(argv, environment, options);
    const std::optional<int> code = child.wait(kRunBound);
    if (!code)
        throw std::runtime_error("mp.exe did not end within the test's bound");
    ToolRun run;
    run.exit_code = *code;
    run.out = read_file(logs / "out");
    run.err = read_file(logs / "err");
    return run;
}

// Where a run keeps its record, and a runtime folder without a bus socket.
struct Scene {
    TempDir state;
    TempDir runtime;

    fs::path record() const { return state / "tcdemux" / "runs.log"; }

    // `variable`: the value of TCDEMUX_NOTIFY, or nullptr for unset.
    bustest::Environment environment(const std::optional<std::string>& bus, const char* variable) const
    {
        bustest::Environment env = bustest::with_bus(bustest::Environment(), bus, runtime.path());
        env.set("XDG_STATE_HOME", state.path().string());
        if (variable)
            env.set("TCDEMUX_NOTIFY", variable);
        else
            env.unset("TCDEMUX_NOTIFY");
        return env;
    }
};

std::string without_newline(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// One chain per run: each run's first call replaces nothing and gets the
// service's next id (1, 2, ... in the mock), and every later call of the
// run replaces that id. Returns the chains' calls, by id.
std::map<uint32_t, std::vector<NotifyCall>> chains_of(const std::vector<NotifyCall>& calls)
{
    std::map<uint32_t, std::vector<NotifyCall>> chains;
    uint32_t next_id = 1;
    for (const NotifyCall& call : calls) {
        const uint32_t id = call.replaces_id == 0 ? next_id++ : call.replaces_id;
        EXPECT_TRUE(call.replaces_id == 0 || chains.count(call.replaces_id))
            << "replaces an id no run was given: " << call.replaces_id;
        EXPECT_TRUE(call.replaces_id != 0 || !chains.count(id)) << "a second first call";
        chains[id].push_back(call);
    }
    return chains;
}

// What every notification of a run carries.
void expect_identity(const std::vector<NotifyCall>& chain, const std::string& source_name)
{
    for (const NotifyCall& call : chain) {
        EXPECT_EQ(call.app_name, "tcdemux");
        EXPECT_EQ(call.app_icon, "tcdemux");
        EXPECT_EQ(call.desktop_entry, std::optional<std::string>("tcdemux"));
        EXPECT_NE(call.summary.find(source_name), std::string::npos) << call.summary;
        EXPECT_TRUE(call.urgency.has_value());
    }
    int last_value = -1;
    for (const NotifyCall& call : chain) {
        if (!call.value)
            continue;
        EXPECT_GE(*call.value, last_value) << "the value hint went back";
        EXPECT_GE(*call.value, 0);
        EXPECT_LE(*call.value, 100);
        last_value = *call.value;
    }
}

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

void make_reachable(const fs::path& folder, fs::perms perms)
{
    fs::permissions(folder, perms);
}

constexpr fs::perms kReadable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec;

}  // namespace

// ---------------------------------------------------------------------------
// Each outcome as the desktop sees it

struct OutcomeCase {
    const char* name;
    const char* fixture;
    bool option = false;            // --notify instead of the variable
    bool existing_outputs = false;  // outputs there before the run
    bool read_only_folder = false;  // outputs in a folder the run cannot write
    int exit_code = 0;
    const char* summary = "";
    // Parts of the last body; @OUT@ stands for the outputs' folder.
    std::vector<const char*> body_parts;
};

void PrintTo(const OutcomeCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpNotifyOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(MpNotifyOutcome, OneChainNamingTheFiles)
{
    const OutcomeCase& c = GetParam();
    PrivateSessionBus bus;
    MockNotificationService service(bus);
    Scene scene;
    TempDir root;
    make_reachable(root.path(), kReadable);
    const fs::path in = root / "in";
    const fs::path out = root / (c.read_only_folder ? "locked" : "out");
    fs::create_directories(in);
    fs::create_directories(out);
    const fs::path source = in / "clip 1.mkv";
    fs::copy_file(fixtures() / c.fixture, source);
    const fs::path avi = out / "clip 1.avi";
    const fs::path timecodes = out / "clip 1.timecodes.txt";
    if (c.existing_outputs) {
        write_file(avi, "old avi");
        write_file(timecodes, "old timecodes");
    }
    // The unwritable folder: its permissions, and a run as "nobody" when
    // the test runs as root, who may write anywhere. That run must be able
    // to read the source, reach the bus and write its record.
    make_reachable(in, kReadable);
    make_reachable(out, c.read_only_folder ? fs::perms::owner_read | fs::perms::owner_exec |
                                                 fs::perms::group_read | fs::perms::group_exec |
                                                 fs::perms::others_read | fs::perms::others_exec
                                           : kReadable);
    fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::others_read);
    if (c.read_only_folder)
        fs::permissions(scene.state.path(), fs::perms::all);

    std::vector<std::string> args{source.string(), avi.string(), timecodes.string()};
    if (c.option)
        args.insert(args.begin(), "--notify");
    const ToolRun run =
        run_tool(args, scene.environment(bus.address(), c.option ? nullptr : "1"), {}, c.read_only_folder);
    ASSERT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_EQ(run.err.find("note:"), std::string::npos) << run.err;

    const std::vector<NotifyCall> calls = service.notify_calls();
    const auto chains = chains_of(calls);
    ASSERT_EQ(chains.size(), 1u) << "one notification for the run";
    const std::vector<NotifyCall>& chain = chains.begin()->second;
    ASSERT_GE(chain.size(), 2u) << "its start and its outcome";
    expect_identity(chain, "clip 1.mkv");

    const NotifyCall& first = chain.front();
    EXPECT_EQ(first.summary, "Demuxing clip 1.mkv");
    EXPECT_EQ(first.body, "Writing clip 1.avi and clip 1.timecodes.txt in " + out.string());
    const NotifyCall& last = chain.back();
    EXPECT_EQ(last.summary, c.summary);
    // The body as a server that reads markup shows it (the names here hold
    // quotes, which arrive escaped).
    const std::string shown = replace_all(last.body, "&apos;", "'");
    for (const char* part : c.body_parts) {
        const std::string expected = replace_all(part, "@OUT@", out.string());
        EXPECT_NE(shown.find(expected), std::string::npos) << "body: " << last.body << "\nmissing: " << expected;
    }
    const bool error = c.exit_code == 2;
    for (const NotifyCall& call : chain) {
        const bool is_last = &call == &chain.back();
        EXPECT_EQ(call.urgency, std::optional<uint8_t>(is_last && error ? 2 : 1)) << call.summary;
        EXPECT_EQ(call.expire_timeout, is_last && error ? 0 : -1) << call.summary;
    }
    if (error) {
        // The error sentence exactly as the run printed it, without the prefix.
        const std::string printed = without_newline(run.err);
        ASSERT_EQ(printed.rfind("mp.exe: error: ", 0), 0u) << printed;
        EXPECT_EQ(shown, printed.substr(15));
        EXPECT_EQ(printed.find('\n'), std::string::npos) << "one line on stderr, as without notifications";
    }
    if (c.exit_code == 1) {
        std::smatch kept;
        ASSERT_TRUE(std::regex_search(run.err, kept, std::regex("kept [0-9]+ frames in both outputs"))) << run.err;
        EXPECT_NE(last.body.find(kept[0].str()), std::string::npos) << last.body;
    }
    if (!c.existing_outputs) {
        EXPECT_EQ(last.body.find("replaced"), std::string::npos) << last.body;
    }

    // The record: one line, the outcome's status and the three files.
    const std::vector<std::string> lines = read_lines(scene.record());
    ASSERT_EQ(lines.size(), 1u);
    const std::vector<std::string> fields = record_fields(lines[0]);
    ASSERT_EQ(fields.size(), 6u) << lines[0];
    EXPECT_EQ(fields[1], std::to_string(c.exit_code));
    EXPECT_EQ(fields[2], source.string());
    EXPECT_EQ(fields[3], avi.string());
    EXPECT_EQ(fields[4], timecodes.string());
    EXPECT_EQ(fields[5].rfind(error ? "error: " : c.exit_code == 1 ? "warning: " : "", 0), 0u) << fields[5];

    EXPECT_EQ(fs::exists(avi), !error || c.existing_outputs);
    if (error && c.existing_outputs) {
        EXPECT_EQ(read_file(avi), "old avi");
    }
    if (c.read_only_folder)
        fs::permissions(out, kReadable);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, MpNotifyOutcome,
    ::testing::Values(
        OutcomeCase{"Success", "h264_bframes.mkv", false, false, false, 0, "Demuxed clip 1.mkv",
                    {"40 frames written to clip 1.avi and clip 1.timecodes.txt in @OUT@."}},
        OutcomeCase{"SuccessThroughTheOption", "h264_bframes.mkv", true, false, false, 0, "Demuxed clip 1.mkv",
                    {"40 frames written to clip 1.avi and clip 1.timecodes.txt in @OUT@."}},
        OutcomeCase{"SuccessReplacingFiles", "h264_bframes.mkv", false, true, false, 0, "Demuxed clip 1.mkv",
                    {"40 frames written to clip 1.avi and clip 1.timecodes.txt in @OUT@.",
                     "The existing clip 1.avi and clip 1.timecodes.txt were replaced."}},
        OutcomeCase{"WarningOnCutOffSource", "cut.mkv", false, false, false, 1, "Demuxed clip 1.mkv with a warning",
                    {"clip 1.mkv' is cut off", "Wrote clip 1.avi and clip 1.timecodes.txt in @OUT@."}},
        OutcomeCase{"ErrorOnAudioOnlySource", "audio_only.mkv", false, true, false, 2, "Demuxing clip 1.mkv failed",
                    {"has no video track (only a cover picture)"}},
        OutcomeCase{"ErrorOnReadOnlyFolder", "h264_bframes.mkv", false, false, true, 2,
                    "Demuxing clip 1.mkv failed", {"clip 1.avi", "permission denied"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// File names the notification server must not read as markup, or that are
// not UTF-8 (D-Bus strings must be).

TEST(MpNotifyNames, MarkupCharactersArriveEscaped)
{
    PrivateSessionBus bus;
    MockNotificationService service(bus);
    Scene scene;
    TempDir root;
    const fs::path folder = root / "R&D <new>";
    fs::create_directories(folder);
    const fs::path source = folder / "a<b>&c.mkv";
    fs::copy_file(fixtures() / "h264_bframes.mkv", source);
    const ToolRun run = run_tool({source.string(), (folder / "x&y <1>'s.avi").string(), (folder / "t&<2>.txt").string()},
                                 scene.environment(bus.address(), "1"));
    ASSERT_EQ(run.exit_code, 0) << run.err;

    const auto chains = chains_of(service.notify_calls());
    ASSERT_EQ(chains.size(), 1u);
    const std::vector<NotifyCall>& chain = chains.begin()->second;
    ASSERT_GE(chain.size(), 2u);
    const std::string escaped_folder = replace_all(replace_all(replace_all(folder.string(), "&", "&amp;"), "<", "&lt;"),
                                                   ">", "&gt;");
    EXPECT_EQ(chain.front().body,
              "Writing x&amp;y &lt;1&gt;&apos;s.avi and t&amp;&lt;2&gt;.txt in " + escaped_folder);
    EXPECT_EQ(chain.back().body,
              "40 frames written to x&amp;y &lt;1&gt;&apos;s.avi and t&amp;&lt;2&gt;.txt in " + escaped_folder + ".");
    for (const NotifyCall& call : chain) {
        EXPECT_EQ(call.body.find_first_of("<>"), std::string::npos) << call.body;
        EXPECT_TRUE(std::regex_match(call.body, std::regex("([^&']|&amp;|&lt;|&gt;|&apos;)*"))) << call.body;
        // The summary is plain text for every server: the name as it is.
        EXPECT_NE(call.summary.find("a<b>&c.mkv"), std::string::npos) << call.summary;
    }
}

TEST(MpNotifyNames, NameThatIsNotUtf8StillNotifies)
{
    PrivateSessionBus bus;
    MockNotificationService service(bus);
    Scene scene;
    TempDir root;
    const fs::path source = root / "caf\xE9.mkv";  // Latin-1, as from an old archive
    fs::copy_file(fixtures() / "h264_bframes.mkv", source);
    const ToolRun run = run_tool({source.string(), (root / "caf\xE9.avi").string(), (root / "t.txt").string()},
                                 scene.environment(bus.address(), "1"));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto chains = chains_of(service.notify_calls());
    ASSERT_EQ(chains.size(), 1u);
    const std::vector<NotifyCall>& chain = chains.begin()->second;
    ASSERT_GE(chain.size(), 2u);
    // The byte that is no UTF-8 shows as the replacement character.
    EXPECT_EQ(chain.back().summary, "Demuxed caf\xEF\xBF\xBD.mkv");
    EXPECT_NE(chain.back().body.find("caf\xEF\xBF\xBD.avi"), std::string::npos) << chain.back().body;
    // The record keeps the name's own bytes.
    const std::vector<std::string> lines = read_lines(scene.record());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(record_fields(lines[0]).at(2), source.string());
}

// ---------------------------------------------------------------------------
// Never in the way: without a bus, without a service, with a service that
// fails or answers too late, the run is the same run plus one note.
//
// The late service answers after 20 s: within GDBus's default call timeout
// of 25 s, which a forgotten bound would use, so only the tool's own budget
// of 3 s for all its waits on the bus makes the run go on without the
// answer. What is checked is what the tool did, not how long it took.

enum class Trouble { NoService, NoBusAddress, AddressLeadsNowhere, ServiceFails, ServiceAnswersTooLate };

struct TroubleCase {
    const char* name;
    Trouble trouble;
    const char* reason;  // in the note
};

void PrintTo(const TroubleCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpNotifyUnavailable : public ::testing::TestWithParam<TroubleCase> {};

TEST_P(MpNotifyUnavailable, RunEndsAsUsualWithOneNote)
{
    const TroubleCase& c = GetParam();
    std::optional<PrivateSessionBus> bus;
    std::optional<MockNotificationService> service;
    std::optional<std::string> address;
    Scene scene;
    switch (c.trouble) {
    case Trouble::NoService:
        bus.emplace();
        address = bus->address();
        break;
    case Trouble::NoBusAddress:
        break;
    case Trouble::AddressLeadsNowhere:
        address = "unix:path=" + (scene.runtime / "no-bus-here").string();
        break;
    case Trouble::ServiceFails:
        bus.emplace();
        service.emplace(*bus);
        service->set_notify_code(
            "raise dbus.exceptions.DBusException('the display is gone', name='org.freedesktop.DBus.Error.Failed')");
        address = bus->address();
        break;
    case Trouble::ServiceAnswersTooLate:
        bus.emplace();
        service.emplace(*bus);
        service->set_notify_code("time.sleep(20); ret = 1");
        address = bus->address();
        break;
    }

    const fs::path source = fixtures() / "h264_bframes.mkv";
    const std::vector<std::string> args{source.string(), "out.avi", "out.txt"};
    TempDir plain_folder;
    TempDir notify_folder;
    const ToolRun plain = run_tool(args, scene.environment(address, nullptr), plain_folder.path());
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    ASSERT_FALSE(fs::exists(scene.record())) << "no record without notifications";
    const ToolRun notified = run_tool(args, scene.environment(address, "1"), notify_folder.path());

    EXPECT_EQ(notified.exit_code, plain.exit_code);
    EXPECT_EQ(notified.out, plain.out);
    std::smatch note;
    ASSERT_TRUE(std::regex_match(notified.err, note,
                                 std::regex("mp\\.exe: note: desktop notifications unavailable: ([^\n]+)\n")))
        << notified.err;
    EXPECT_NE(note[1].str().find(c.reason), std::string::npos) << note[1];

    EXPECT_EQ(list_dir(notify_folder.path()), list_dir(plain_folder.path()));
    EXPECT_TRUE(read_file(notify_folder / "out.avi") == read_file(plain_folder / "out.avi")) << "AVI files differ";
    EXPECT_EQ(read_file(notify_folder / "out.txt"), read_file(plain_folder / "out.txt"));
    const std::vector<std::string> lines = read_lines(scene.record());
    ASSERT_EQ(lines.size(), 1u) << "the record is kept all the same";
    EXPECT_EQ(record_fields(lines[0]).at(1), "0");

    if (c.trouble == Trouble::ServiceAnswersTooLate) {
        // The call did arrive; the service just never answered it.
        EXPECT_NE(service->log().find("Notify"), std::string::npos) << service->log();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Troubles, MpNotifyUnavailable,
    ::testing::Values(
        TroubleCase{"NoServiceOnTheBus", Trouble::NoService, "no notification service on the session bus"},
        TroubleCase{"NoBusAddress", Trouble::NoBusAddress, "no session bus"},
        TroubleCase{"AddressLeadsNowhere", Trouble::AddressLeadsNowhere, "cannot connect to the session bus"},
        TroubleCase{"ServiceFails", Trouble::ServiceFails, "the notification service refused: the display is gone"},
        TroubleCase{"ServiceAnswersTooLate", Trouble::ServiceAnswersTooLate,
                    "the notification service did not answer within 3 s"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Without --notify and without the variable nothing reaches the bus or the
// record; the variable set is the control.

struct SwitchCase {
    const char* name;
    const char* variable;  // nullptr: unset
    bool reports;
};

void PrintTo(const SwitchCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpNotifySwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(MpNotifySwitch, NothingReachesBusOrRecordUnlessAsked)
{
    const SwitchCase& c = GetParam();
    PrivateSessionBus bus;
    MockNotificationService service(bus);
    Scene scene;
    TempDir folder;
    const fs::path source = fixtures() / "h264_bframes.mkv";
    ToolRun run;
    const int connections = bus.connections_during([&] {
        run = run_tool({source.string(), "out.avi", "out.txt"}, scene.environment(bus.address(), c.variable),
                       folder.path());
    });
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_EQ(connections, c.reports ? 1 : 0) << "connections to the bus during the run";
    EXPECT_EQ(service.notify_calls().empty(), !c.reports);
    EXPECT_EQ(fs::exists(scene.record()), c.reports);
    if (!c.reports) {
        EXPECT_TRUE(list_dir(scene.state.path()).empty()) << "nothing created in XDG_STATE_HOME";
    }
}

INSTANTIATE_TEST_SUITE_P(Switch, MpNotifySwitch,
                         ::testing::Values(SwitchCase{"VariableUnset", nullptr, false},
                                           SwitchCase{"VariableEmpty", "", false},
                                           SwitchCase{"VariableZero", "0", false},
                                           SwitchCase{"VariableSet", "1", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The record across runs

TEST(MpRunRecord, TwoConcurrentRunsGiveTwoWholeLinesAndTwoNotifications)
{
    PrivateSessionBus bus;
    MockNotificationService service(bus);
    Scene scene;
    TempDir folder;
    const fs::path source = fixtures() / "long.mkv";
    const bustest::Environment environment = scene.environment(bus.address(), "1");
    std::vector<std::unique_ptr<bustest::Child>> runs;
    TempDir logs;
    for (const char* name : {"first", "second"}) {
        ChildOptions options;
        options.out = logs / (std::string(name) + ".out");
        options.err = logs / (std::string(name) + ".err");
        runs.push_back(std::make_unique<bustest::Child>(
            std::vector<std::string>{mp_exe(), source.string(), (folder / (std::string(name) + ".avi")).string(),
                                     (folder / (std::string(name) + ".txt")).string()},
            environment, options));
    }
    for (auto& r : runs)
        EXPECT_EQ(r->wait(kRunBound), std::optional<int>(0));

    const std::vector<std::string> lines = read_lines(scene.record());
    ASSERT_EQ(lines.size(), 2u);
    std::vector<std::string> avis;
    for (const std::string& line : lines) {
        const std::vector<std::string> fields = record_fields(line);
        ASSERT_EQ(fields.size(), 6u) << line;
        EXPECT_EQ(fields[1], "0");
        EXPECT_EQ(fields[5], "600 frames written");
        avis.push_back(fs::path(fields[3]).filename().string());
    }
    std::sort(avis.begin(), avis.end());
    EXPECT_EQ(avis, (std::vector<std::string>{"first.avi", "second.avi"}));

    const auto chains = chains_of(service.notify_calls());
    ASSERT_EQ(chains.size(), 2u);
    for (const auto& [id, chain] : chains) {
        expect_identity(chain, "long.mkv");
        EXPECT_EQ(chain.back().summary, "Demuxed long.mkv");
    }
}

TEST(MpRunRecord, RotatesPastTheLimit)
{
    Scene scene;
    TempDir folder;
    fs::create_directories(scene.record().parent_path());
    std::string old_lines;
    for (int i = 0; old_lines.size() < mp::kRunLogLimit - 100; ++i)
        old_lines += "2026-01-01T00:00:00+00:00\t0\t/old/" + std::to_string(i) + ".mkv\t/o.avi\t/o.txt\tfine\n";
    write_file(scene.record(), old_lines);
    write_file(scene.record().string() + ".1", "older generation\n");

    const ToolRun run = run_tool({(fixtures() / "vfw_ffv1.mkv").string(), "a.avi", "a.txt"},
                                 scene.environment(std::nullopt, "1"), folder.path());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(read_file(scene.record().string() + ".1") == old_lines) << "the full file became the older one";
    const std::vector<std::string> lines = read_lines(scene.record());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(record_fields(lines[0]).at(3), (folder / "a.avi").string());
    EXPECT_EQ(list_dir(scene.record().parent_path()), (std::vector<std::string>{"runs.log", "runs.log.1"}));
}

TEST(MpRunRecord, UnwritableRecordIsANoteNotAFailure)
{
    PrivateSessionBus bus;
    MockNotificationService service(bus);
    Scene scene;
    TempDir folder;
    write_file(scene.state / "tcdemux", "a file where the record's folder should be");
    const ToolRun run = run_tool({(fixtures() / "vfw_ffv1.mkv").string(), "a.avi", "a.txt"},
                                 scene.environment(bus.address(), "1"), folder.path());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(std::regex_match(run.err, std::regex("mp\\.exe: note: the run was not recorded: [^\n]+\n"))) << run.err;
    EXPECT_EQ(list_dir(folder.path()), (std::vector<std::string>{"a.avi", "a.txt"}));
    EXPECT_EQ(chains_of(service.notify_calls()).size(), 1u);
}

// ---------------------------------------------------------------------------
// Progress updates through the real notifier and bus during a real demux in
// this process, with a clock that moves 100 ms per progress report, so the
// updates do not depend on the machine's speed.

TEST(MpNotifyProgress, ValueRisesInPlaceDuringARun)
{
    PrivateSessionBus bus;
    MockNotificationService service(bus);
    Scene scene;
    TempDir folder;
    const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::optional<std::string> saved_address = saved ? std::optional<std::string>(saved) : std::nullopt;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

    mp::DemuxJob job;
    job.source = fixtures() / "long.mkv";
    job.avi = folder / "long.avi";
    job.timecodes = folder / "long.txt";
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    {
        mp::RunReporter reporter(mp::RunFiles::resolve(job.source, job.avi, job.timecodes),
                                 mp::connect_desktop_notifier(), [&now] { return now; });
        // In a real run the first update is due a second after the start,
        // long after the service has answered the start with the id that
        // updates replace. Here the clock runs ahead of real time, so the
        // copy waits until the service has the start.
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (service.notify_calls().empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        ASSERT_EQ(service.notify_calls().size(), 1u);

        mp::Progress progress(stderr, false);
        int reports = 0;
        progress.set_listener([&](int64_t read, int64_t total, int64_t) {
            ++reports;
            now += 100ms;
            reporter.progress(read, total);
        });
        const mp::DemuxResult result = mp::run_demux(job, progress);
        EXPECT_GT(reports, 100);
        mp::RunOutcome outcome;
        outcome.exit_status = 0;
        outcome.frames = result.frames;
        TempDir notes_folder;
        std::FILE* notes = std::fopen((notes_folder / "notes").c_str(), "w");
        ASSERT_NE(notes, nullptr);
        reporter.finish(outcome, scene.record(), notes);
        std::fclose(notes);
        EXPECT_EQ(read_file(notes_folder / "notes"), "");
    }
    if (saved_address)
        setenv("DBUS_SESSION_BUS_ADDRESS", saved_address->c_str(), 1);
    else
        unsetenv("DBUS_SESSION_BUS_ADDRESS");

    const auto chains = chains_of(service.notify_calls());
    ASSERT_EQ(chains.size(), 1u);
    const std::vector<NotifyCall>& chain = chains.begin()->second;
    expect_identity(chain, "long.mkv");
    std::vector<int> values;
    for (const NotifyCall& call : chain)
        if (call.value)
            values.push_back(*call.value);
    ASSERT_GE(values.size(), 10u) << "updates while the run goes on";
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_GE(values.back(), 90);
    EXPECT_FALSE(chain.front().value.has_value());
    EXPECT_FALSE(chain.back().value.has_value()) << "the outcome shows no progress";
    EXPECT_EQ(chain.back().summary, "Demuxed long.mkv");
    EXPECT_EQ(read_lines(scene.record()).size(), 1u);
}
