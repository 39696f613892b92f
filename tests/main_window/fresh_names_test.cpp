#include "form1_test.h"

namespace tcdemux::testing {
namespace {

// What the user does to the AVI box between the first and the second source.
enum class Touch {
    None,          // leaves the derived name
    Typed,         // types a name of their own over it
    Edited,        // changes the derived name a little
    Defaulted,     // clears it and leaves it, which gives the default name
    Emptied,       // deletes the name and is still in the box
    RetypedSame,   // types exactly the derived name again
};

struct FreshCase {
    const char* name;
    Way first;
    Way second;
    Touch touch;
    std::u16string videoAfter;
};

void PrintTo(const FreshCase& c, std::ostream* os) { *os << c.name; }

class FreshNames : public Form1Test, public ::testing::WithParamInterface<FreshCase> {
protected:
    void TouchVideoBox(Touch touch) {
        FakeTextBox& box = window.Text_Video;
        switch (touch) {
        case Touch::None: break;
        case Touch::Typed: box.Type(u"mine.avi"); break;
        case Touch::Edited: box.Type(box.Text() + u".old"); break;
        case Touch::Defaulted:
            box.Type(u"");
            form.Text_Video_LostFocus();
            break;
        case Touch::Emptied: box.Type(u""); break;
        case Touch::RetypedSame: box.Type(u"a.avi"); break;
        }
    }
};

// The second source's names replace those derived from the first, so that
// its video never goes over the first one's outputs; whatever the user put
// into a box stays. The timecodes box is left alone and always follows.
TEST_P(FreshNames, SecondSourceRenewsOnlyDerivedNames) {
    const FreshCase& c = GetParam();
    Load();
    ChooseBy(c.first, u"/one/a.mkv");
    ASSERT_EQ(window.Text_Video.Text(), u"a.avi");
    TouchVideoBox(c.touch);

    ChooseBy(c.second, u"/two/b.mkv");

    EXPECT_EQ(window.Text_Video.Text(), c.videoAfter);
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), u"b.timecodes.txt");
    EXPECT_EQ(window.Text_path.Text(), u"/two/");
    EXPECT_EQ(window.Text_mkv.Text(), u"b.mkv");
    EXPECT_TRUE(platform.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, FreshNames, ::testing::Values(
    FreshCase{"DialogThenDialog", Way::Dialog, Way::Dialog, Touch::None, u"b.avi"},
    FreshCase{"DialogThenOutside", Way::Dialog, Way::Outside, Touch::None, u"b.avi"},
    FreshCase{"OutsideThenDialog", Way::Outside, Way::Dialog, Touch::None, u"b.avi"},
    FreshCase{"OutsideThenOutside", Way::Outside, Way::Outside, Touch::None, u"b.avi"},
    FreshCase{"TypedByDialog", Way::Dialog, Way::Dialog, Touch::Typed, u"mine.avi"},
    FreshCase{"TypedFromOutside", Way::Outside, Way::Outside, Touch::Typed, u"mine.avi"},
    FreshCase{"EditedByDialog", Way::Dialog, Way::Dialog, Touch::Edited, u"a.avi.old"},
    FreshCase{"EditedFromOutside", Way::Dialog, Way::Outside, Touch::Edited, u"a.avi.old"},
    FreshCase{"DefaultedByDialog", Way::Dialog, Way::Dialog, Touch::Defaulted, u"output.avi"},
    FreshCase{"DefaultedFromOutside", Way::Outside, Way::Outside, Touch::Defaulted, u"output.avi"},
    FreshCase{"ClearedByDialog", Way::Dialog, Way::Dialog, Touch::Emptied, u""},
    FreshCase{"ClearedFromOutside", Way::Outside, Way::Outside, Touch::Emptied, u""},
    // Typed or derived, the same text is the same name.
    FreshCase{"RetypedDerivedName", Way::Dialog, Way::Outside, Touch::RetypedSame, u"b.avi"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, EverySourceInTurnRenewsTheNames) {
    Load();
    for (const std::u16string stem : {u"a", u"b", u"c"}) {
        ChooseBy(Way::Dialog, u"/v/" + stem + u".mkv");
        EXPECT_EQ(window.Text_Video.Text(), stem + u".avi");
        EXPECT_EQ(window.Text_VFRTimeCode.Text(), stem + u".timecodes.txt");
    }
}

TEST_F(Form1Test, ABoxTypedBeforeTheFirstSourceKeepsItsNameThroughLaterOnes) {
    Load();
    window.Text_VFRTimeCode.Type(u"times.txt");
    ChooseBy(Way::Outside, u"/v/a.mkv");
    ChooseBy(Way::Dialog, u"/v/b.mkv");
    EXPECT_EQ(window.Text_Video.Text(), u"b.avi");
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), u"times.txt");
}

TEST_F(Form1Test, ABoxTypedOverWithTheNameOfASourceBeforeTheLastIsKept) {
    // Only the name derived from the source just before counts as derived.
    Load();
    ChooseBy(Way::Dialog, u"/v/a.mkv");
    ChooseBy(Way::Dialog, u"/v/b.mkv");
    window.Text_Video.Type(u"a.avi");
    ChooseBy(Way::Dialog, u"/v/c.mkv");
    EXPECT_EQ(window.Text_Video.Text(), u"a.avi");
    EXPECT_EQ(window.Text_VFRTimeCode.Text(), u"c.timecodes.txt");
}

TEST_F(Form1Test, APromptStillGetsItsNameAfterASourceThatLeftTheBoxAlone) {
    // A user who typed the prompt back gets a derived name again.
    Load();
    window.Text_Video.Type(u"mine.avi");
    ChooseBy(Way::Dialog, u"/v/a.mkv");
    window.Text_Video.Type(u"Output AVI file name");
    ChooseBy(Way::Outside, u"/v/b.mkv");
    EXPECT_EQ(window.Text_Video.Text(), u"b.avi");
}

} // namespace
} // namespace tcdemux::testing
