#include "form1_test.h"

namespace tcdemux::testing {
namespace {

struct ToolCase {
    const char* name;
    std::u16string programFolder;
    std::set<std::u16string> files;
    std::u16string expectedQuery;
    bool toolFound;
};

void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }

class LoadToolCheck : public Form1Test, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(LoadToolCheck, WarnsAndDisablesTheSourceButtonOnlyWhenTheToolIsMissing) {
    const ToolCase& c = GetParam();
    platform.programFolder = c.programFolder;
    platform.files = c.files;

    form.Form_Load();

    EXPECT_EQ(platform.fileQueries, std::vector<std::u16string>{c.expectedQuery});
    if (c.toolFound) {
        EXPECT_TRUE(platform.messages.empty());
    } else {
        EXPECT_EQ(platform.messages, std::vector<std::u16string>{u"No find MP.EXE program file"});
    }
    EXPECT_EQ(window.CommandOpenMKVfile.Enabled(), c.toolFound);
    EXPECT_FALSE(window.CommandDemux.Enabled());
    EXPECT_TRUE(window.CommandExit.Enabled());
}

INSTANTIATE_TEST_SUITE_P(Tool, LoadToolCheck, ::testing::Values(
    ToolCase{"Present", u"/opt/tcdemux", {u"/opt/tcdemux/mp.exe"}, u"/opt/tcdemux/mp.exe", true},
    ToolCase{"Missing", u"/opt/tcdemux", {}, u"/opt/tcdemux/mp.exe", false},
    ToolCase{"OnlyElsewhere", u"/opt/tcdemux", {u"/usr/bin/mp.exe"}, u"/opt/tcdemux/mp.exe", false},
    ToolCase{"NameDiffersInCase", u"/opt/tcdemux", {u"/opt/tcdemux/MP.EXE"}, u"/opt/tcdemux/mp.exe", false},
    // The folder is used exactly as reported, even at the root.
    ToolCase{"ProgramAtRoot", u"/", {u"//mp.exe"}, u"//mp.exe", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, LoadPutsThePromptsIntoTheBoxesAndKeepsThem) {
    form.Form_Load();
    EXPECT_EQ(form.Quote, u"\"");
    EXPECT_EQ(form.Prompt_path, u"路徑");
    EXPECT_EQ(form.Prompt_mkv, u"欲分解的MKV文件，請按->");
    EXPECT_EQ(form.Prompt_Video, u"Output AVI file name");
    EXPECT_EQ(form.Prompt_VFRTimeCode, u"Output timecodes file name");
    EXPECT_EQ(window.Text_path.Text(), form.Prompt_path);
    EXPECT_EQ(window.Text_mkv.Text(), form.Prompt_mkv);
    EXPECT_EQ(window.Text_Video.Text(), form.Prompt_Video);
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), form.Prompt_VFRTimeCode);
}

TEST_F(Form1Test, WithoutTheChineseCharactersTheBoxesAndMembersAgreeOnSubstitutes) {
    std::setlocale(LC_CTYPE, "C");
    form.Form_Load();
    EXPECT_EQ(form.Prompt_path, u"??");
    EXPECT_EQ(window.Text_path.Text(), form.Prompt_path);
    EXPECT_EQ(window.Text_mkv.Text(), form.Prompt_mkv);
    // The English prompts survive, so the output boxes still recognise theirs.
    EXPECT_EQ(form.Prompt_Video, u"Output AVI file name");
}

TEST_F(Form1Test, ExitEndsTheProgram) {
    form.CommandExit_Click();
    EXPECT_EQ(platform.quits, 1);
}

} // namespace
} // namespace tcdemux::testing
