#include "form1_test.h"

namespace tcdemux::testing {
namespace {

struct ChoiceCase {
    const char* name;
    char16_t separator;
    std::u16string chosen;
    std::u16string folder;
    std::u16string file;
    std::u16string video;
    std::u16string timecodes;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class SourceChoice : public Form1Test, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(SourceChoice, SplitsThePathAndDerivesTheOutputNames) {
    const ChoiceCase& c = GetParam();
    platform.separator = c.separator;
    Load();

    Choose(c.chosen);

    EXPECT_EQ(window.Text_path.Text(), c.folder);
    EXPECT_EQ(window.Text_mkv.Text(), c.file);
    EXPECT_EQ(window.Text_Video.Text(), c.video);
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), c.timecodes);
    EXPECT_TRUE(window.CommandDemux.Enabled());
    EXPECT_EQ(form.DialogFileName(), c.chosen);
    EXPECT_TRUE(platform.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Paths, SourceChoice, ::testing::Values(
    ChoiceCase{"Posix", u'/', u"/video/movie.mkv", u"/video/", u"movie.mkv", u"movie.avi", u"movie.timecodes.txt"},
    ChoiceCase{"Windows", u'\\', u"C:\\video\\movie.mkv", u"C:\\video\\", u"movie.mkv", u"movie.avi",
               u"movie.timecodes.txt"},
    ChoiceCase{"SeveralDots", u'/', u"/v/my.show.mkv", u"/v/", u"my.show.mkv", u"my.show.avi",
               u"my.show.timecodes.txt"},
    ChoiceCase{"NoDot", u'/', u"/v/movie", u"/v/", u"movie", u"avi", u"timecodes.txt"},
    ChoiceCase{"PosixRoot", u'/', u"/movie.mkv", u"/", u"movie.mkv", u"movie.avi", u"movie.timecodes.txt"},
    ChoiceCase{"DriveRoot", u'\\', u"D:\\movie.mkv", u"D:\\", u"movie.mkv", u"movie.avi", u"movie.timecodes.txt"},
    ChoiceCase{"DotInFolderOnly", u'/', u"/my.videos/movie", u"/my.videos/", u"movie", u"avi", u"timecodes.txt"},
    ChoiceCase{"SpacesAndChinese", u'/', u"/影片 夾/我的 電影.mkv", u"/影片 夾/", u"我的 電影.mkv", u"我的 電影.avi",
               u"我的 電影.timecodes.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, DialogIsAskedWithItsTitleAndSingleFilter) {
    Load();
    Choose(u"/video/movie.mkv");
    ASSERT_EQ(platform.dialogs.size(), 1u);
    EXPECT_EQ(platform.dialogs[0].title, u"輸入mkv影音檔");
    EXPECT_EQ(platform.dialogs[0].filterLabel, u"mkv影音檔 (*.mkv)");
    EXPECT_EQ(platform.dialogs[0].initialFile, u"");
}

TEST_F(Form1Test, SecondChoiceOpensOnTheFirstAndMovesTheCurrentFolder) {
    Load();
    Choose(u"/video/movie.mkv");
    EXPECT_EQ(platform.currentFolder, u"/video/");
    Choose(u"/other/clip.mkv");
    EXPECT_EQ(platform.dialogs.at(1).initialFile, u"/video/movie.mkv");
    EXPECT_EQ(window.Text_path.Text(), u"/other/");
    EXPECT_EQ(window.Text_mkv.Text(), u"clip.mkv");
    EXPECT_EQ(platform.currentFolder, u"/other/");
}

struct NoFileCase {
    const char* name;
    FakePlatform::DialogOutcome outcome;
};

void PrintTo(const NoFileCase& c, std::ostream* os) { *os << c.name; }

class DialogWithoutAFile : public Form1Test, public ::testing::WithParamInterface<NoFileCase> {};

// A cancel, a failing dialog, or an empty name: the window stays as it was,
// and nothing is reported.
TEST_P(DialogWithoutAFile, LeavesTheWindowAsItWas) {
    Load();
    platform.outcomes.push_back(GetParam().outcome);
    EXPECT_NO_THROW(form.CommandOpenMKVfile_Click());
    EXPECT_FALSE(window.CommandDemux.Enabled());
    EXPECT_EQ(window.Text_path.Text(), u"路徑");
    EXPECT_EQ(window.Text_mkv.Text(), u"欲分解的MKV文件，請按->");
    EXPECT_EQ(window.Text_Video.Text(), u"Output AVI file name");
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), u"Output timecodes file name");
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(platform.currentFolder, u"/start/");
    EXPECT_EQ(platform.remembers, 0);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, DialogWithoutAFile, ::testing::Values(
    NoFileCase{"Cancel", FakePlatform::Cancel{}},
    NoFileCase{"Failure", FakePlatform::Fail{}},
    NoFileCase{"EmptyName", std::u16string{}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, CancelAfterAChoiceKeepsEverythingButForgetsTheDialogName) {
    Load();
    Choose(u"/video/movie.mkv");
    platform.outcomes.push_back(FakePlatform::Cancel{});
    form.CommandOpenMKVfile_Click();
    EXPECT_TRUE(window.CommandDemux.Enabled());
    EXPECT_EQ(window.Text_path.Text(), u"/video/");
    EXPECT_EQ(window.Text_mkv.Text(), u"movie.mkv");
    EXPECT_EQ(form.DialogFileName(), u"");

    Choose(u"/video/next.mkv");
    EXPECT_EQ(platform.dialogs.at(2).initialFile, u"");
}

TEST_F(Form1Test, OnlyBoxesStillShowingTheirPromptsReceiveDerivedNames) {
    Load();
    form.Text_Video_Click();  // clears the prompt
    window.Text_VFRTimeCode.Type(u"Output timecodes file name");  // typed, equal to the prompt
    Choose(u"/video/movie.mkv");
    EXPECT_EQ(window.Text_Video.Text(), u"");
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), u"movie.timecodes.txt");
}

TEST_F(Form1Test, ABoxGivenItsDefaultKeepsItOnALaterChoice) {
    Load();
    form.Text_Video_Click();
    form.Text_Video_LostFocus();
    Choose(u"/video/movie.mkv");
    EXPECT_EQ(window.Text_Video.Text(), u"output.avi");
}

TEST_F(Form1Test, FailurePartWayKeepsWhatWasDoneBefore) {
    Load();
    window.Text_mkv.failOnSet = true;
    Choose(u"/video/movie.mkv");
    EXPECT_TRUE(window.CommandDemux.Enabled());
    EXPECT_EQ(window.Text_path.Text(), u"/video/");
    // The output boxes come after the failing step and keep their prompts.
    EXPECT_EQ(window.Text_Video.Text(), u"Output AVI file name");
    EXPECT_TRUE(platform.messages.empty());
}

} // namespace
} // namespace tcdemux::testing
