#include "text/utf8.h"

#include <gtest/gtest.h>

namespace {

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }

class Utf8Table : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Table, DecodesToTheExpectedUnits) { EXPECT_EQ(TextTools::FromUtf8(GetParam().utf8), GetParam().utf16); }

INSTANTIATE_TEST_SUITE_P(Decoding, Utf8Table, ::testing::Values(
    Utf8Case{"Empty", "", u""},
    Utf8Case{"Ascii", "plain", u"plain"},
    Utf8Case{"Chinese", "\xe8\xb7\xaf\xe5\xbe\x91", u"路徑"},
    Utf8Case{"OutsideBasicPlane", "\xf0\x9f\x98\x80", u"😀"},
    // Malformed input: each bad byte becomes one replacement character.
    Utf8Case{"InvalidByte", "a\xffz", u"a\uFFFDz"},
    Utf8Case{"Truncated", "\xe8\xb7", u"\uFFFD\uFFFD"},
    Utf8Case{"Overlong", "\xc0\xaf", u"\uFFFD\uFFFD"},           // overlong "/"
    Utf8Case{"EncodedSurrogate", "\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8, RoundTripsEveryPlane) {
    const std::u16string text = u"A é 路 😀 \uFFFF";
    EXPECT_EQ(TextTools::FromUtf8(TextTools::ToUtf8(text)), text);
}

TEST(Utf8, LoneSurrogateEncodesAsReplacement) {
    EXPECT_EQ(TextTools::ToUtf8(std::u16string{char16_t(0xDC00)}), "\xef\xbf\xbd");
}

} // namespace
