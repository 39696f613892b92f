#include "text/text_tools.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

using TextTools::AnsiRoundTrip;

namespace {

const std::u16string kPath = u"路徑";
const std::u16string kMkvPrompt = u"欲分解的MKV文件，請按->";
const std::u16string kVideoPrompt = u"Output AVI file name";

struct RoundTripCase {
    const char* name;
    const char* charset;
    std::u16string text;
    std::u16string expected;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class AnsiRoundTripTable : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(AnsiRoundTripTable, ComesBackAsTheCharacterSetAllows) {
    const RoundTripCase& c = GetParam();
    EXPECT_EQ(AnsiRoundTrip(c.text, c.charset), c.expected) << c.charset;
}

INSTANTIATE_TEST_SUITE_P(Charsets, AnsiRoundTripTable, ::testing::Values(
    RoundTripCase{"Utf8Path", "UTF-8", kPath, kPath},
    RoundTripCase{"Utf8MkvPrompt", "UTF-8", kMkvPrompt, kMkvPrompt},
    RoundTripCase{"Utf8OtherPlanes", "UTF-8", u"😀 é", u"😀 é"},
    RoundTripCase{"Big5Path", "BIG5", kPath, kPath},
    RoundTripCase{"Big5MkvPrompt", "BIG5", kMkvPrompt, kMkvPrompt},
    RoundTripCase{"Cp950MkvPrompt", "CP950", kMkvPrompt, kMkvPrompt},
    RoundTripCase{"Cp950VideoPrompt", "CP950", kVideoPrompt, kVideoPrompt},
    RoundTripCase{"AsciiVideoPrompt", "ASCII", kVideoPrompt, kVideoPrompt},
    RoundTripCase{"AsciiPath", "ASCII", kPath, u"??"},
    // Written in two pieces so "??-" is not read as a trigraph.
    RoundTripCase{"AsciiMkvPrompt", "ASCII", kMkvPrompt, u"????MKV?????" u"->"},
    // A character outside the basic plane is one character, so one "?".
    RoundTripCase{"Big5OutsideBasicPlane", "BIG5", u"a😀b", u"a?b"},
    // A lone surrogate is no character at all; it must not stop the conversion.
    RoundTripCase{"Utf8LoneSurrogate", "UTF-8", std::u16string{u'x', char16_t(0xD800), u'y'}, u"x?y"},
    RoundTripCase{"Utf8Empty", "UTF-8", u"", u""},
    RoundTripCase{"Big5Empty", "BIG5", u"", u""},
    RoundTripCase{"AsciiEmpty", "ASCII", u"", u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnsiRoundTrip, LongTextsConvertWhole) {
    std::u16string text;
    for (int i = 0; i < 5000; ++i) text += kMkvPrompt;
    EXPECT_EQ(AnsiRoundTrip(text, "BIG5"), text);
}

TEST(AnsiRoundTrip, UnknownCharacterSetIsRefused) {
    EXPECT_THROW(AnsiRoundTrip(kPath, "NO-SUCH-CHARSET"), std::invalid_argument);
}

// Without a charset the round trip follows the process locale.
class ProcessLocale : public ::testing::Test {
protected:
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
};

TEST_F(ProcessLocale, Utf8LocaleKeepsTheChinesePrompts) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(AnsiRoundTrip(kMkvPrompt), kMkvPrompt);
}

TEST_F(ProcessLocale, AsciiLocaleSubstitutesThem) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    EXPECT_EQ(AnsiRoundTrip(kPath), u"??");
    EXPECT_EQ(AnsiRoundTrip(kVideoPrompt), kVideoPrompt);
}

} // namespace
