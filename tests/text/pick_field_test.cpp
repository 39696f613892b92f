#include "text/text_tools.h"

#include <gtest/gtest.h>

#include <limits>

using TextTools::FieldCursor;
using TextTools::FieldValue;
using TextTools::PickField;

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

struct PickCase {
    const char* name;
    std::u16string source;
    std::u16string pattern;
    std::int32_t index;
    FieldValue expected;
    std::int32_t cursorBefore;
    std::int32_t cursorAfter;
};

void PrintTo(const PickCase& c, std::ostream* os) { *os << c.name; }

class PickFieldTable : public ::testing::TestWithParam<PickCase> {};

TEST_P(PickFieldTable, GivesFieldAndLeavesCursor) {
    const PickCase& c = GetParam();
    FieldCursor = c.cursorBefore;
    EXPECT_EQ(PickField(c.source, c.pattern, c.index), c.expected);
    EXPECT_EQ(FieldCursor, c.cursorAfter);
}

const FieldValue kEmpty = std::nullopt;

// The last-delimiter mode: "1\0", one unexamined character, the delimiter.
INSTANTIATE_TEST_SUITE_P(LastDelimiter, PickFieldTable, ::testing::Values(
    PickCase{"FolderOfWindowsPath", u"C:\\video\\movie.mkv", u"1\\0$\\", 1, u"C:\\video\\", 0, 18},
    PickCase{"NameOfWindowsPath", u"C:\\video\\movie.mkv", u"1\\0$\\", 0, u"movie.mkv", 0, 18},
    PickCase{"FolderAtDriveRoot", u"D:\\movie.mkv", u"1\\0$\\", 1, u"D:\\", 0, 12},
    PickCase{"FolderOfPosixRootFile", u"/movie.mkv", u"1\\0$/", 1, u"/", 0, 10},
    PickCase{"StemKeepsTheDot", u"movie.mkv", u"1\\0$.", 1, u"movie.", 0, 9},
    PickCase{"ExtensionAfterTheDot", u"movie.mkv", u"1\\0$.", 0, u"mkv", 0, 9},
    PickCase{"SplitsAtTheLastOfSeveral", u"my.show.mkv", u"1\\0$.", 1, u"my.show.", 0, 11},
    PickCase{"MissingDelimiterHeadIsEmpty", u"movie", u"1\\0$.", 1, u"", 0, 5},
    PickCase{"MissingDelimiterTailIsAll", u"movie", u"1\\0$.", 0, u"movie", 0, 5},
    PickCase{"OtherIndexGivesNoValue", u"movie.mkv", u"1\\0$.", 2, kEmpty, 0, 9},
    PickCase{"NegativeIndexGivesNoValue", u"movie.mkv", u"1\\0$.", -1, kEmpty, 0, 9},
    PickCase{"DelimiterAtTheEnd", u"dir\\", u"1\\0$\\", 0, u"", 0, 4},
    PickCase{"FourthCharacterIsNotExamined", u"a.b", u"1\\0#.", 1, u"a.", 0, 3},
    PickCase{"LongDelimiterStaysWholeInHead", u"a--b--c", u"1\\0$--", 1, u"a--b--", 0, 7},
    PickCase{"LongDelimiterSkippedWholeInTail", u"a--b--c", u"1\\0$--", 0, u"c", 0, 7},
    PickCase{"MissingLongDelimiterHead", u"abcdef", u"1\\0$xyz", 1, u"ab", 0, 6},
    PickCase{"MissingLongDelimiterTail", u"abcdef", u"1\\0$xyz", 0, u"cdef", 0, 6},
    PickCase{"DelimiterLongerThanSource", u"ab", u"1\\0$abcd", 0, u"", 0, 2},
    PickCase{"ChineseNames", u"D:\\影片\\電影.mkv", u"1\\0$\\", 0, u"電影.mkv", 0, 12},
    PickCase{"EmptySourceHead", u"", u"1\\0$.", 1, u"", 5, 0},
    PickCase{"EmptySourceTail", u"", u"1\\0$.", 0, u"", 5, 0},
    PickCase{"EmptyDelimiterNeverSplits", u"abc", u"1\\0$", 0, u"abc", 0, 3},
    PickCase{"MarkerAloneNeverSplits", u"abc", u"1\\0", 1, u"", 0, 3},
    PickCase{"OverwritesTheFieldCounter", u"x.y", u"1\\0$.", 1, u"x.", 41, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// The field mode: the whole pattern is the delimiter.
INSTANTIATE_TEST_SUITE_P(Field, PickFieldTable, ::testing::Values(
    PickCase{"FirstField", u"a,b,c", u",", 1, u"a", 7, 0},
    PickCase{"MiddleField", u"a,b,c", u",", 2, u"b", 7, 0},
    PickCase{"LastFieldIsWhatFollowsTheLastDelimiter", u"a,b,c", u",", 3, u"c", 7, 0},
    PickCase{"BeyondTheLastField", u"a,b,c", u",", 4, u"", 7, 0},
    PickCase{"FarBeyondTheLastField", u"a,b,c", u",", kMax, u"", 7, 0},
    PickCase{"LeadingDelimiterGivesEmptyFirstField", u",a", u",", 1, u"", 0, 0},
    PickCase{"FieldAfterLeadingDelimiter", u",a", u",", 2, u"a", 0, 0},
    PickCase{"EmptyFieldBetweenDelimiters", u"a,,b", u",", 2, u"", 0, 0},
    PickCase{"FieldAfterEmptyField", u"a,,b", u",", 3, u"b", 0, 0},
    PickCase{"TrailingDelimiterGivesEmptyLastField", u"a,", u",", 2, u"", 0, 0},
    PickCase{"MultiCharacterDelimiter", u"a<>b<>c", u"<>", 2, u"b", 0, 0},
    PickCase{"ComparisonIsCaseSensitive", u"aXbxc", u"x", 2, u"c", 0, 0},
    PickCase{"ShortPatternIsAFieldDelimiter", u"a1\\b", u"1\\", 2, u"b", 0, 0},
    PickCase{"NextFieldAdvancesTheCounter", u"a,b,c", u",", 0, u"b", 1, 2},
    PickCase{"NegativeIndexStepsThroughAndGivesEmptyText", u"a,b,c", u",", -1, u"", 4, 4},
    PickCase{"MostNegativeIndexOnEmptySource", u"", u",", kMin, kEmpty, 4, 4},
    PickCase{"EmptySourceGivesNoValue", u"", u",", 1, kEmpty, 4, 0},
    PickCase{"EmptySourceStillAdvancesTheCounter", u"", u",", 0, kEmpty, 4, 5},
    PickCase{"EmptyPatternLeavesOneField", u"abc", u"", 1, u"abc", 0, 0},
    PickCase{"EmptyPatternHasNoSecondField", u"abc", u"", 2, u"", 0, 0},
    PickCase{"EmptyPatternNegativeIndexEnds", u"abc", u"", -3, u"", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PickFieldSequence, NextFieldCallsFollowARestart) {
    EXPECT_EQ(PickField(u"a,b,c", u",", 1), u"a");
    EXPECT_EQ(PickField(u"a,b,c", u",", 0), u"a");
    EXPECT_EQ(PickField(u"a,b,c", u",", 0), u"b");
    EXPECT_EQ(PickField(u"a,b,c", u",", 0), u"c");
    EXPECT_EQ(PickField(u"a,b,c", u",", 0), u"");
}

TEST(PickFieldSequence, EachNextCallMayPassAnotherSource) {
    PickField(u"x", u";", 3);
    EXPECT_EQ(PickField(u"p;q", u";", 0), u"p");
    EXPECT_EQ(PickField(u"r;s;t", u";", 0), u"s");
    EXPECT_EQ(PickField(u"u v w", u" ", 0), u"w");
}

TEST(PickFieldSequence, LastDelimiterModeDisturbsTheSequence) {
    PickField(u"a,b", u",", 1);
    PickField(u"abcdef", u"1\\0$.", 0);  // the cursor becomes 6
    EXPECT_EQ(PickField(u"1,2,3,4,5,6,7,8", u",", 0), u"7");
}

TEST(PickFieldSequence, SourceAndPatternOfTheCallerStayUnchanged) {
    const std::u16string source = u"a,b,c";
    const std::u16string pattern = u",";
    PickField(source, pattern, 3);
    EXPECT_EQ(source, u"a,b,c");
    EXPECT_EQ(pattern, u",");
}

TEST(PickFieldOverflow, CounterIncrementPastTheMaximumRaises) {
    FieldCursor = kMax;
    EXPECT_THROW(PickField(u"a,b", u",", 0), TextTools::OverflowError);
    EXPECT_EQ(FieldCursor, kMax);
}

TEST(PickFieldOverflow, IndexDecrementPastTheMinimumRaises) {
    FieldCursor = 0;
    EXPECT_THROW(PickField(u"a,b", u",", kMin), TextTools::OverflowError);
}

} // namespace
