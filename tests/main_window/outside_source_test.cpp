#include "form1_test.h"

namespace tcdemux::testing {
namespace {

using Paths = std::vector<std::u16string>;

// The window as Load leaves it: the prompts, "&Demux" disabled.
void ExpectUntouched(const FakeWindow& window) {
    EXPECT_EQ(window.Text_path.Text(), u"路徑");
    EXPECT_EQ(window.Text_mkv.Text(), u"欲分解的MKV文件，請按->");
    EXPECT_EQ(window.Text_Video.Text(), u"Output AVI file name");
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), u"Output timecodes file name");
    EXPECT_FALSE(window.CommandDemux.Enabled());
}

struct RefusedCase {
    const char* name;
    SourceFileState state;
    std::u16string reason;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedSource : public Form1Test, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedSource, IsNamedInAMessageAndChangesNothing) {
    const RefusedCase& c = GetParam();
    Load();
    if (c.state != SourceFileState::Missing) platform.sourceFiles[u"/v/clip.mkv"] = c.state;

    form.OpenSourceFiles({u"/v/clip.mkv"});

    EXPECT_EQ(platform.messages, Paths{u"Cannot open \"/v/clip.mkv\": " + c.reason});
    ExpectUntouched(window);
    EXPECT_EQ(form.DialogFileName(), u"");
    EXPECT_EQ(platform.currentFolder, u"/start/");
    EXPECT_EQ(platform.remembers, 0);
}

INSTANTIATE_TEST_SUITE_P(States, RefusedSource, ::testing::Values(
    RefusedCase{"Missing", SourceFileState::Missing, u"there is no such file."},
    RefusedCase{"NotAFile", SourceFileState::NotAFile, u"it is not a regular file."},
    RefusedCase{"Unreadable", SourceFileState::Unreadable, u"the file cannot be read."},
    RefusedCase{"NotVideo", SourceFileState::NotVideo, u"it is not a video file."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, AFileFromOutsideIsTakenAsIfConfirmedInTheDialog) {
    Load();
    platform.sourceFiles[u"/start/my clip.mkv"] = SourceFileState::Readable;

    // A relative name, as typed on the command line, is read in the current folder.
    form.OpenSourceFiles({u"my clip.mkv"});

    EXPECT_EQ(platform.sourceChecks, Paths{u"my clip.mkv"});
    EXPECT_EQ(window.Text_path.Text(), u"/start/");
    EXPECT_EQ(window.Text_mkv.Text(), u"my clip.mkv");
    EXPECT_EQ(window.Text_Video.Text(), u"my clip.avi");
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), u"my clip.timecodes.txt");
    EXPECT_TRUE(window.CommandDemux.Enabled());
    EXPECT_EQ(form.DialogFileName(), u"/start/my clip.mkv");
    EXPECT_TRUE(platform.messages.empty());

    // The dialog opens on it next time, and "&Demux" hands it to the tool.
    Choose(u"/start/other.mkv");
    EXPECT_EQ(platform.dialogs.at(0).initialFile, u"/start/my clip.mkv");
    form.CommandDemux_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments, (Paths{u"/start/other.mkv", u"other.avi", u"other.timecodes.txt"}));
}

TEST_F(Form1Test, AFileFromOutsideMovesTheCurrentFolderToItsOwn) {
    Load();
    platform.sourceFiles[u"/video/movie.mkv"] = SourceFileState::Readable;
    form.OpenSourceFiles({u"/video/movie.mkv"});
    EXPECT_EQ(platform.currentFolder, u"/video/");
}

TEST_F(Form1Test, ACurrentFolderThatCannotBeEnteredIsReportedAndChangesNothing) {
    Load();
    platform.sourceFiles[u"/video/movie.mkv"] = SourceFileState::Readable;
    platform.currentFolderFailure = u"permission denied";
    form.OpenSourceFiles({u"/video/movie.mkv"});
    EXPECT_EQ(platform.messages, Paths{u"Cannot open \"/video/movie.mkv\": permission denied"});
    ExpectUntouched(window);
    EXPECT_EQ(platform.remembers, 0);
}

struct SeveralCase {
    const char* name;
    Paths given;
    std::u16string message;
};

void PrintTo(const SeveralCase& c, std::ostream* os) { *os << c.name; }

class SeveralFiles : public Form1Test, public ::testing::WithParamInterface<SeveralCase> {};

// One source at a time: the first file is taken, and the user is told which
// one and that the rest were left.
TEST_P(SeveralFiles, TakeTheFirstAndSaySo) {
    const SeveralCase& c = GetParam();
    Load();
    for (const auto& path : c.given) platform.sourceFiles[path] = SourceFileState::Readable;

    form.OpenSourceFiles(c.given);

    EXPECT_EQ(window.Text_mkv.Text(), u"a.mkv");
    EXPECT_EQ(window.Text_Video.Text(), u"a.avi");
    EXPECT_EQ(platform.sourceChecks, Paths{u"/v/a.mkv"});
    EXPECT_EQ(platform.messages, Paths{c.message});
}

INSTANTIATE_TEST_SUITE_P(Counts, SeveralFiles, ::testing::Values(
    SeveralCase{"Two", {u"/v/a.mkv", u"/v/b.mkv"},
                u"tcdemux takes one file at a time: it opened \"/v/a.mkv\" and left the other file."},
    SeveralCase{"Twelve", {u"/v/a.mkv", u"/v/b", u"/v/c", u"/v/d", u"/v/e", u"/v/f", u"/v/g", u"/v/h", u"/v/i",
                           u"/v/j", u"/v/k", u"/v/l"},
                u"tcdemux takes one file at a time: it opened \"/v/a.mkv\" and left the other 11 files."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, SeveralFilesWhoseFirstIsMissingTakeNone) {
    Load();
    platform.sourceFiles[u"/v/b.mkv"] = SourceFileState::Readable;
    form.OpenSourceFiles({u"/v/gone.mkv", u"/v/b.mkv"});
    EXPECT_EQ(platform.messages, Paths{u"Cannot open \"/v/gone.mkv\": there is no such file."});
    ExpectUntouched(window);
}

TEST_F(Form1Test, NoFilesChangeNothing) {
    Load();
    form.OpenSourceFiles({});
    EXPECT_TRUE(platform.sourceChecks.empty());
    EXPECT_TRUE(platform.messages.empty());
    ExpectUntouched(window);
}

TEST_F(Form1Test, WithoutTheToolFilesFromOutsideAreIgnored) {
    // "&Demux" can never start the tool in this run, so the window stays as
    // the start-up message left it.
    platform.files.clear();
    Load();
    platform.sourceFiles[u"/v/a.mkv"] = SourceFileState::Readable;
    form.OpenSourceFiles({u"/v/a.mkv"});
    EXPECT_TRUE(platform.sourceChecks.empty());
    EXPECT_TRUE(platform.messages.empty());
    ExpectUntouched(window);
    EXPECT_FALSE(window.CommandOpenMKVfile.Enabled());
}

// The folder of the source is kept in the user's settings; the dialog of the
// next program start opens there until that start has a source of its own.
struct RememberCase {
    const char* name;
    Way way;
};

void PrintTo(const RememberCase& c, std::ostream* os) { *os << c.name; }

class RememberedFolder : public Form1Test, public ::testing::WithParamInterface<RememberCase> {};

TEST_P(RememberedFolder, IsKeptForTheNextStart) {
    Load();
    ChooseBy(GetParam().way, u"/films/a.mkv");
    EXPECT_EQ(platform.rememberedFolder, u"/films/");

    // The next start, with the same settings.
    FakeWindow nextWindow;
    Form1 next(platform, nextWindow.Controls());
    next.Form_Load();
    platform.currentFolder = u"/elsewhere/";
    platform.outcomes.push_back(FakePlatform::Cancel{});
    next.CommandOpenMKVfile_Click();
    ASSERT_EQ(platform.dialogs.size(), GetParam().way == Way::Dialog ? 2u : 1u);
    EXPECT_EQ(platform.dialogs.back().initialFolder, u"/films/");
    EXPECT_EQ(platform.dialogs.back().initialFile, u"");
}

INSTANTIATE_TEST_SUITE_P(Ways, RememberedFolder, ::testing::Values(
    RememberCase{"Dialog", Way::Dialog},
    RememberCase{"Outside", Way::Outside}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, TheRememberedFolderServesUntilThisStartHasASource) {
    platform.rememberedFolder = u"/films/";
    Load();
    platform.outcomes.push_back(FakePlatform::Cancel{});
    form.CommandOpenMKVfile_Click();
    Choose(u"/other/b.mkv");
    Choose(u"/other/c.mkv");
    ASSERT_EQ(platform.dialogs.size(), 3u);
    // A cancel leaves no name, and no source yet: still the remembered folder.
    EXPECT_EQ(platform.dialogs[0].initialFolder, u"/films/");
    EXPECT_EQ(platform.dialogs[1].initialFolder, u"/films/");
    // From then on the rules within one run: the last file, or the current folder.
    EXPECT_EQ(platform.dialogs[2].initialFolder, u"");
    EXPECT_EQ(platform.dialogs[2].initialFile, u"/other/b.mkv");
    EXPECT_EQ(platform.rememberedFolder, u"/other/");
}

TEST_F(Form1Test, TheRememberedFolderIsReadOnceAtLoad) {
    platform.rememberedFolder = u"/films/";
    Load();
    // Another instance keeps a folder of its own meanwhile.
    platform.rememberedFolder = u"/later/";
    platform.outcomes.push_back(FakePlatform::Cancel{});
    form.CommandOpenMKVfile_Click();
    EXPECT_EQ(platform.dialogs.at(0).initialFolder, u"/films/");
}

} // namespace
} // namespace tcdemux::testing
