#include "main_window/command_line.h"

#include <gtest/gtest.h>

namespace tcdemux::testing {
namespace {

using Args = std::vector<std::u16string>;
using Action = CommandLine::Action;

struct LineCase {
    const char* name;
    Args arguments;
    Action action;
    Args files;
    std::u16string error;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class CommandLineTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(CommandLineTable, Parses) {
    const LineCase& c = GetParam();
    const CommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.files, c.files);
    EXPECT_EQ(line.error, c.error);
}

INSTANTIATE_TEST_SUITE_P(Lines, CommandLineTable, ::testing::Values(
    LineCase{"Nothing", {}, Action::Run, {}, u""},
    LineCase{"OneFile", {u"movie.mkv"}, Action::Run, {u"movie.mkv"}, u""},
    LineCase{"SeveralFilesInOrder", {u"b.mkv", u"a.mkv"}, Action::Run, {u"b.mkv", u"a.mkv"}, u""},
    LineCase{"Help", {u"--help"}, Action::ShowHelp, {}, u""},
    LineCase{"ShortHelp", {u"-h"}, Action::ShowHelp, {}, u""},
    LineCase{"Version", {u"--version"}, Action::ShowVersion, {}, u""},
    LineCase{"ShortVersion", {u"-v"}, Action::ShowVersion, {}, u""},
    LineCase{"HelpAfterAFile", {u"a.mkv", u"--help"}, Action::ShowHelp, {}, u""},
    LineCase{"FirstOfHelpAndVersionWins", {u"--version", u"--help"}, Action::ShowVersion, {}, u""},
    LineCase{"UnknownLongOption", {u"--bogus"}, Action::Fail, {}, u"unknown option '--bogus'"},
    LineCase{"UnknownShortOption", {u"-x", u"a.mkv"}, Action::Fail, {}, u"unknown option '-x'"},
    LineCase{"OptionWithValue", {u"--help=all"}, Action::Fail, {}, u"unknown option '--help=all'"},
    // Qt's own options are not taken: the window reads its settings from
    // the environment (QT_QPA_PLATFORM and the like).
    LineCase{"QtOption", {u"-platform", u"offscreen"}, Action::Fail, {}, u"unknown option '-platform'"},
    LineCase{"ErrorBeforeHelp", {u"--bogus", u"--help"}, Action::Fail, {}, u"unknown option '--bogus'"},
    LineCase{"DashesEndOptions", {u"--", u"--help", u"-x.mkv"}, Action::Run, {u"--help", u"-x.mkv"}, u""},
    LineCase{"LoneDashIsAFile", {u"-"}, Action::Run, {u"-"}, u""},
    LineCase{"SpacesAndChinese", {u"/影片 夾/我的 電影.mkv"}, Action::Run, {u"/影片 夾/我的 電影.mkv"}, u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineTexts, SayWhatAPersonNeeds) {
    EXPECT_EQ(VersionText(), u"tcdemux 1.00\n");
    const std::u16string help = HelpText();
    EXPECT_EQ(help.rfind(u"Usage: tcdemux [FILE]\n", 0), 0u);
    for (const std::u16string option : {u"--help", u"--version", u"-h", u"-v"})
        EXPECT_NE(help.find(option), std::u16string::npos);
    EXPECT_EQ(help.back(), u'\n');
    EXPECT_EQ(UsageErrorText(ParseCommandLine({u"--bogus"})),
              u"tcdemux: unknown option '--bogus'\nTry 'tcdemux --help' for more information.\n");
}

} // namespace
} // namespace tcdemux::testing
