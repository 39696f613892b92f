// mp.exe's command line: which arguments run a job and which ask for help,
// the version or the usage line.
#include "cli.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using mp::Command;

struct CliCase {
    const char* name;
    std::vector<std::string_view> args;
    Command::Kind kind;
    bool notify = false;
};

void PrintTo(const CliCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpCli : public ::testing::TestWithParam<CliCase> {};

TEST_P(MpCli, ParsesTheArguments)
{
    const CliCase& c = GetParam();
    const Command cmd = mp::parse_command_line(c.args);
    EXPECT_EQ(cmd.kind, c.kind);
    if (c.kind == Command::Kind::Run) {
        const size_t names = c.args.size() - 3;
        EXPECT_EQ(cmd.source, c.args[names]);
        EXPECT_EQ(cmd.avi, c.args[names + 1]);
        EXPECT_EQ(cmd.timecodes, c.args[names + 2]);
        EXPECT_EQ(cmd.notify, c.notify);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MpCli,
    ::testing::Values(CliCase{"None", {}, Command::Kind::Usage},
                      CliCase{"Help", {"--help"}, Command::Kind::Help},
                      CliCase{"Version", {"--version"}, Command::Kind::Version},
                      CliCase{"HelpInCapitals", {"--HELP"}, Command::Kind::Usage},
                      CliCase{"ShortOption", {"-v"}, Command::Kind::Usage},
                      CliCase{"OneFile", {"a.mkv"}, Command::Kind::Usage},
                      CliCase{"TwoFiles", {"a.mkv", "b.avi"}, Command::Kind::Usage},
                      CliCase{"FourFiles", {"a.mkv", "b.avi", "c.txt", "d"}, Command::Kind::Usage},
                      CliCase{"HelpAndVersion", {"--help", "--version"}, Command::Kind::Usage},
                      CliCase{"ThreeFiles", {"a.mkv", "b.avi", "c.txt"}, Command::Kind::Run},
                      CliCase{"ThreeOptionsAreFiles", {"--help", "--version", "-x"}, Command::Kind::Run},
                      CliCase{"EmptyName", {"a.mkv", "", "c.txt"}, Command::Kind::Usage},
                      CliCase{"Notify", {"--notify", "a", "b", "c"}, Command::Kind::Run, true},
                      CliCase{"OldWayOptionIsAUsageError", {"--way=demuxer", "a", "b", "c"}, Command::Kind::Usage},
                      CliCase{"NotifyTwice", {"--notify", "--notify", "a", "b", "c"}, Command::Kind::Usage},
                      CliCase{"OptionAfterTheNames", {"a", "b", "c", "--notify"}, Command::Kind::Usage}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MpCliText, VersionAndOneLineUsage)
{
    EXPECT_EQ(mp::version_text(), "mp.exe 1.00\n");
    EXPECT_EQ(mp::usage_line().find('\n'), std::string::npos);
}

}  // namespace
