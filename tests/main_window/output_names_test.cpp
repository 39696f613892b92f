#include "form1_test.h"


namespace tcdemux::testing {
namespace {

// One output box with its handlers, so both boxes run through the same cases.
struct OutputBox {
    const char* name;
    FakeTextBox FakeWindow::*box;
    void (Form1::*click)();
    void (Form1::*lostFocus)();
    std::u16string prompt;
    std::u16string defaultName;
};

void PrintTo(const OutputBox& b, std::ostream* os) { *os << b.name; }

class OutputNameBox : public Form1Test, public ::testing::WithParamInterface<OutputBox> {
protected:
    FakeTextBox& Box() { return window.*(GetParam().box); }
    void Click() { (form.*(GetParam().click))(); }
    void LeaveBox() { (form.*(GetParam().lostFocus))(); }
};

TEST_P(OutputNameBox, ClickClearsThePromptOnly) {
    Load();
    Click();
    EXPECT_EQ(Box().Text(), u"");
    Box().Type(u"mine");
    Click();
    EXPECT_EQ(Box().Text(), u"mine");
}

TEST_P(OutputNameBox, ClickClearsTypedTextEqualToThePrompt) {
    Load();
    Box().Type(GetParam().prompt);
    Click();
    EXPECT_EQ(Box().Text(), u"");
}

TEST_P(OutputNameBox, LeavingEmptyGivesTheDefaultName) {
    Load();
    Click();
    LeaveBox();
    EXPECT_EQ(Box().Text(), GetParam().defaultName);
}

TEST_P(OutputNameBox, LeavingWithTextKeepsItAndReassignsIt) {
    Load();
    for (const std::u16string& text : std::vector<std::u16string>{u"  ", u"name.ext", GetParam().prompt}) {
        Box().Type(text);
        const int before = Box().assignments;
        LeaveBox();
        EXPECT_EQ(Box().Text(), text);
        // The assignment is what brings the caret back to the start.
        EXPECT_EQ(Box().assignments, before + 1);
    }
}

TEST_P(OutputNameBox, TheOtherBoxIsNeverTouched) {
    Load();
    FakeTextBox& other = &Box() == &window.Text_Video ? window.Text_VFRTimeCode : window.Text_Video;
    const std::u16string before = other.Text();
    Click();
    LeaveBox();
    EXPECT_EQ(other.Text(), before);
}

INSTANTIATE_TEST_SUITE_P(Boxes, OutputNameBox, ::testing::Values(
    OutputBox{"Video", &FakeWindow::Text_Video, &Form1::Text_Video_Click, &Form1::Text_Video_LostFocus,
              u"Output AVI file name", u"output.avi"},
    OutputBox{"Timecodes", &FakeWindow::Text_VFRTimeCode, &Form1::Text_VFRTimeCode_Click,
              &Form1::Text_VFRTimeCode_LostFocus, u"Output timecodes file name", u"output_timecodes.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, ABoxLeftEmptyIsLaunchedWithItsDefault) {
    Load();
    Choose(u"/video/movie.mkv");
    window.Text_VFRTimeCode.Type(u"");
    form.Text_VFRTimeCode_LostFocus();  // the focus moves to the button before its click
    form.CommandDemux_Click();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments.at(2), u"output_timecodes.txt");
}

} // namespace
} // namespace tcdemux::testing
