#include "form1_test.h"

namespace tcdemux::testing {
namespace {

using Arguments = std::vector<std::u16string>;

TEST_F(Form1Test, TheRoadFromPromptsToTheToolsArguments) {
    Load();
    Choose(u"/video/movie.mkv");
    form.CommandDemux_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].program, u"/opt/tcdemux/mp.exe");
    EXPECT_EQ(platform.starts[0].arguments, (Arguments{u"/video/movie.mkv", u"movie.avi", u"movie.timecodes.txt"}));
    // The run reports back to the desktop by itself; the request travels in
    // the environment, so the argument list stays the three names.
    EXPECT_EQ(platform.starts[0].environment, (Environment{{u"TCDEMUX_NOTIFY", u"1"}}));
}

TEST_F(Form1Test, EveryClickStartsOneMoreRunAndAsksForTheFolderAnew) {
    Load();
    Choose(u"/video/movie.mkv");
    form.CommandDemux_Click();
    platform.programFolder = u"/moved";
    form.CommandDemux_Click();
    ASSERT_EQ(platform.starts.size(), 2u);
    EXPECT_EQ(platform.starts[0].program, u"/opt/tcdemux/mp.exe");
    EXPECT_EQ(platform.starts[1].program, u"/moved/mp.exe");
    EXPECT_EQ(platform.starts[0].arguments, platform.starts[1].arguments);
}

struct ArgumentCase {
    const char* name;
    std::u16string video;
    std::u16string timecodes;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class DemuxArguments : public Form1Test, public ::testing::WithParamInterface<ArgumentCase> {};

// Whatever the boxes hold reaches the tool as one argument each, untouched.
TEST_P(DemuxArguments, PassesTheBoxesVerbatim) {
    const ArgumentCase& c = GetParam();
    Load();
    Choose(u"/my videos/a \"b\".mkv");
    window.Text_Video.Type(c.video);
    window.Text_VFRTimeCode.Type(c.timecodes);
    form.CommandDemux_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments, (Arguments{u"/my videos/a \"b\".mkv", c.video, c.timecodes}));
}

INSTANTIATE_TEST_SUITE_P(Texts, DemuxArguments, ::testing::Values(
    ArgumentCase{"Empty", u"", u""},
    ArgumentCase{"DoubleQuotes", u"my \"cut\".avi", u"\""},
    ArgumentCase{"SurroundingSpaces", u"  spaced.avi ", u" "},
    ArgumentCase{"LeadingDash", u"-o.avi", u"--help"},
    ArgumentCase{"Chinese", u"電影.avi", u"電影.timecodes.txt"},
    ArgumentCase{"WithFolders", u"/tmp/out dir/x.avi", u"../t.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, FailedStartIsReportedAndTheWindowKeepsItsTexts) {
    Load();
    Choose(u"/video/movie.mkv");
    window.Text_Video.Type(u"typed.avi");
    platform.startFailure = u"the file does not exist";

    EXPECT_NO_THROW(form.CommandDemux_Click());

    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_NE(platform.messages[0].find(u"/opt/tcdemux/mp.exe"), std::u16string::npos);
    EXPECT_NE(platform.messages[0].find(u"the file does not exist"), std::u16string::npos);
    EXPECT_EQ(window.Text_Video.Text(), u"typed.avi");
    EXPECT_EQ(window.Text_path.Text(), u"/video/");
    EXPECT_TRUE(window.CommandDemux.Enabled());

    // Once the tool is back, the next click starts it.
    platform.startFailure.clear();
    form.CommandDemux_Click();
    EXPECT_EQ(platform.starts.size(), 1u);
}

} // namespace
} // namespace tcdemux::testing
