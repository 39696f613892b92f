// Timestamps and rates: millisecond formatting, a frame's time from its
// block, the timecode v2 file, and the AVI header's frame rate.
#include "output/frame_rate.hpp"
#include "output/timecodes.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <stdexcept>
#include <optional>
#include <string>
#include <vector>

namespace {

using mp::Rational;

template <typename Case>
std::string row_name(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

// ---------------------------------------------------------------------------
struct MsCase {
    const char* name;
    int64_t ns;
    const char* text;
};

void PrintTo(const MsCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpFormatMs : public ::testing::TestWithParam<MsCase> {};

TEST_P(MpFormatMs, WritesMillisecondsWithoutTrailingZeros)
{
    EXPECT_EQ(mp::format_ms(GetParam().ns), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Times, MpFormatMs,
                         ::testing::Values(MsCase{"Zero", 0, "0"}, MsCase{"OneSecond", 1000000000, "1000"},
                                           MsCase{"OneDecimal", 1140500000, "1140.5"},
                                           MsCase{"FourDecimals", 2194336700, "2194.3367"},
                                           MsCase{"SixDecimals", 41708333, "41.708333"},
                                           MsCase{"OneNanosecond", 1, "0.000001"},
                                           MsCase{"JustUnderOneMs", 999999, "0.999999"},
                                           MsCase{"TenMs", 10000000, "10"},
                                           MsCase{"NegativeFraction", -500000, "-0.5"},
                                           MsCase{"NegativeWhole", -2000000, "-2"},
                                           MsCase{"Largest", INT64_MAX, "9223372036854.775807"},
                                           MsCase{"Smallest", INT64_MIN, "-9223372036854.775808"}),
                         row_name<MsCase>);

// ---------------------------------------------------------------------------
struct BlockTimeCase {
    const char* name;
    int64_t ns;
    std::optional<int64_t> stored_duration_ns;
    int64_t tick_ns;
    int64_t default_ns;  // negative: none
    std::optional<int64_t> duration_ns;
};

void PrintTo(const BlockTimeCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpBlockFrameTime : public ::testing::TestWithParam<BlockTimeCase> {};

TEST_P(MpBlockFrameTime, TakesTheDurationTheFileMeans)
{
    const BlockTimeCase& c = GetParam();
    const mp::FrameTime t = mp::block_frame_time(c.ns, c.stored_duration_ns, c.tick_ns, c.default_ns);
    EXPECT_EQ(t.ns, c.ns);
    EXPECT_EQ(t.duration_ns, c.duration_ns);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, MpBlockFrameTime,
    ::testing::Values(BlockTimeCase{"StoredDuration", 5000000, 40000000, 1000000, -1, 40000000},
                      BlockTimeCase{"NoneStoredNoDefault", 5000000, std::nullopt, 1000000, -1, std::nullopt},
                      BlockTimeCase{"NoneStoredTakesTheDefault", 5000000, std::nullopt, 1000000, 41708333, 41708333},
                      BlockTimeCase{"StoredZeroIsZero", 5000000, 0, 1000000, 41708333, 0},
                      BlockTimeCase{"DefaultCutToWholeTicks", 5000000, 41000000, 1000000, 41708333, 41708333},
                      BlockTimeCase{"AWholeTickShortIsItsOwn", 5000000, 40000000, 1000000, 41708333, 40000000},
                      BlockTimeCase{"LongerThanTheDefaultIsItsOwn", 5000000, 42000000, 1000000, 41708333,
                                    42000000}),
    row_name<BlockTimeCase>);

// ---------------------------------------------------------------------------
// Ticks of a stream's time base in nanoseconds: exact, rounded like
// libavformat's rescaling, and refused beyond the range every sum of the
// timecode file fits in.
struct TicksCase {
    const char* name;
    int64_t ticks;
    mp::TimeBase base;
    std::optional<int64_t> ns;
};

void PrintTo(const TicksCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpTicksToNs : public ::testing::TestWithParam<TicksCase> {};

TEST_P(MpTicksToNs, ConvertsOrRefuses)
{
    const TicksCase& c = GetParam();
    EXPECT_EQ(mp::ticks_to_ns(c.ticks, c.base), c.ns);
}

constexpr mp::TimeBase kMs{1, 1000};
constexpr mp::TimeBase kNs{1, 1000000000};

INSTANTIATE_TEST_SUITE_P(
    Ticks, MpTicksToNs,
    ::testing::Values(TicksCase{"Milliseconds", 1234, kMs, 1234000000},
                      TicksCase{"TenMicroseconds", 100025, {1, 100000}, 1000250000},
                      TicksCase{"Negative", -20, kMs, -20000000},
                      TicksCase{"HalfRoundsAwayFromZero", 1, {1, 2000000000}, 1},
                      TicksCase{"NegativeHalfRoundsAwayFromZero", -1, {1, 2000000000}, -1},
                      TicksCase{"BelowHalfRoundsDown", 1, {1, 2000000001}, 0},
                      TicksCase{"ThirdsOfASecond", 2, {1, 3}, 666666667},
                      TicksCase{"AtTheLimit", mp::kMaxTimeNs, kNs, mp::kMaxTimeNs},
                      TicksCase{"PastTheLimit", mp::kMaxTimeNs + 1, kNs, std::nullopt},
                      TicksCase{"NegativeAtTheLimit", -mp::kMaxTimeNs, kNs, -mp::kMaxTimeNs},
                      TicksCase{"NegativePastTheLimit", -mp::kMaxTimeNs - 1, kNs, std::nullopt},
                      TicksCase{"LargestTicks", INT64_MAX, kMs, std::nullopt},
                      TicksCase{"SmallestTicks", INT64_MIN, kMs, std::nullopt},
                      TicksCase{"LargestTicksOfTheCoarsestBase", INT64_MAX, {INT_MAX, 1}, std::nullopt},
                      TicksCase{"ZeroDenominator", 5, {1, 0}, std::nullopt},
                      TicksCase{"NegativeNumerator", 5, {-1, 1000}, std::nullopt}),
    row_name<TicksCase>);

// ---------------------------------------------------------------------------
// A frame from the timestamp and duration its packet or block gives, in
// ticks: the same for both ways, or refused when it cannot be placed.
struct PacketTimeCase {
    const char* name;
    int64_t ticks;
    int64_t duration_ticks;
    int64_t default_ns;
    std::optional<mp::FrameTime> time;
};

void PrintTo(const PacketTimeCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpFrameTimeFromTicks : public ::testing::TestWithParam<PacketTimeCase> {};

TEST_P(MpFrameTimeFromTicks, PlacesTheFrameOrRefusesIt)
{
    const PacketTimeCase& c = GetParam();
    EXPECT_EQ(mp::frame_time(c.ticks, c.duration_ticks, kMs, c.default_ns), c.time);
}

constexpr int64_t kMaxMs = mp::kMaxTimeNs / 1000000;

INSTANTIATE_TEST_SUITE_P(
    Packets, MpFrameTimeFromTicks,
    ::testing::Values(
        PacketTimeCase{"StoredDuration", 40, 40, -1, mp::FrameTime{40000000, 40000000}},
        PacketTimeCase{"DefaultCutToWholeTicks", 40, 41, 41708333, mp::FrameTime{40000000, 41708333}},
        PacketTimeCase{"NoDurationTakesTheDefault", 40, 0, 41708333, mp::FrameTime{40000000, 41708333}},
        PacketTimeCase{"NegativeDurationIsNone", 40, -5, -1, mp::FrameTime{40000000, std::nullopt}},
        PacketTimeCase{"ZeroDefaultIsNone", 40, 0, 0, mp::FrameTime{40000000, std::nullopt}},
        PacketTimeCase{"LatestTimestamp", kMaxMs, 1, -1, mp::FrameTime{kMaxMs * 1000000, 1000000}},
        PacketTimeCase{"TimestampTooLate", kMaxMs + 1, 1, -1, std::nullopt},
        PacketTimeCase{"TimestampTooEarly", -kMaxMs - 1, 1, -1, std::nullopt},
        PacketTimeCase{"LongestStoredDuration", 0, kMaxMs, -1, mp::FrameTime{0, kMaxMs * 1000000}},
        PacketTimeCase{"StoredDurationTooLong", 0, INT64_MAX, -1, std::nullopt},
        PacketTimeCase{"DefaultTooLong", 0, 0, INT64_MAX, std::nullopt}),
    row_name<PacketTimeCase>);

// Whatever the frames' times, the end line and every line of the file come
// out of checked values: the extremes of the range still give exact lines.
TEST(MpTimecodeListRange, ExtremeFramesGiveExactLinesAndOthersAreRefused)
{
    mp::TimecodeList list;
    list.add({-mp::kMaxTimeNs, std::nullopt});
    list.add({mp::kMaxTimeNs, std::nullopt});
    EXPECT_THROW(list.add({mp::kMaxTimeNs + 1, std::nullopt}), std::invalid_argument);
    EXPECT_THROW(list.add({0, mp::kMaxTimeNs + 1}), std::invalid_argument);
    EXPECT_THROW(list.add({0, -1}), std::invalid_argument);
    list.finish();
    ASSERT_EQ(list.size(), 2u);
    // The last interval, 2^61 ns, added to the last frame.
    EXPECT_EQ(list.end_ns(), 3 * mp::kMaxTimeNs);
}

// ---------------------------------------------------------------------------
struct ListCase {
    const char* name;
    std::vector<mp::FrameTime> frames;  // storage order
    std::string expected;               // whole file
};

void PrintTo(const ListCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpTimecodeList : public ::testing::TestWithParam<ListCase> {};

TEST_P(MpTimecodeList, WritesSortedListAndEndLine)
{
    const ListCase& c = GetParam();
    mp::TimecodeList list;
    for (const auto& f : c.frames)
        list.add(f);
    list.finish();
    EXPECT_EQ(list.size(), c.frames.size());
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(list.write(f));
    std::rewind(f);
    std::string text;
    for (int ch; (ch = std::fgetc(f)) != EOF;)
        text += static_cast<char>(ch);
    std::fclose(f);
    EXPECT_EQ(text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, MpTimecodeList,
    ::testing::Values(
        ListCase{"BFramesInStorageOrderAreSorted",
                 {{0, 40000000}, {120000000, 40000000}, {40000000, 40000000}, {80000000, 40000000}},
                 "# timecode format v2\n0\n40\n80\n120\n160\n"},
        ListCase{"EndUsesTheLatestFrameNotTheLastStored",
                 {{100000000, 10000000}, {50000000, 99000000}},
                 "# timecode format v2\n50\n100\n110\n"},
        ListCase{"NoDurationAddsTheLastInterval",
                 {{1000000000, std::nullopt}, {1040000000, std::nullopt}, {1100500000, std::nullopt}},
                 "# timecode format v2\n1000\n1040\n1100.5\n1161\n"},
        ListCase{"SingleFrameWithoutDurationEndsWhereItStarts",
                 {{5000000, std::nullopt}},
                 "# timecode format v2\n5\n5\n"},
        ListCase{"EqualLatestTimestampsTakeTheLongerDuration",
                 {{0, 5000000}, {10000000, 1000000}, {10000000, 3000000}, {10000000, 2000000}},
                 "# timecode format v2\n0\n10\n10\n10\n13\n"},
        ListCase{"FractionalMilliseconds",
                 {{1000250000, 33366700}, {1033616700, 33366700}},
                 "# timecode format v2\n1000.25\n1033.6167\n1066.9834\n"},
        ListCase{"NegativeTimestampsSortFirst",
                 {{0, 20000000}, {-20000000, 20000000}},
                 "# timecode format v2\n-20\n0\n20\n"}),
    row_name<ListCase>);

// ---------------------------------------------------------------------------
struct RateCase {
    const char* name;
    Rational in;
    std::optional<Rational> out;
};

void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpReduceRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(MpReduceRate, GivesTheExpectedFraction)
{
    const RateCase& c = GetParam();
    const std::optional<Rational> r = mp::reduce_rate(c.in);
    ASSERT_EQ(r.has_value(), c.out.has_value());
    if (r) {
        EXPECT_EQ(*r, *c.out) << "gave " << r->num << "/" << r->den;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, MpReduceRate,
    ::testing::Values(RateCase{"NtscFilmFromItsDuration", {1000000000, 41708333}, Rational{24000, 1001}},
                      RateCase{"NtscFilmRoundedTheOtherWay", {1000000000, 41708334}, Rational{24000, 1001}},
                      RateCase{"NtscVideoFromItsDuration", {1000000000, 33366667}, Rational{30000, 1001}},
                      RateCase{"NtscDoubleFromItsDuration", {1000000000, 16683333}, Rational{60000, 1001}},
                      RateCase{"PalFromItsDuration", {1000000000, 40000000}, Rational{25, 1}},
                      RateCase{"FilmFromItsDuration", {1000000000, 41666667}, Rational{24, 1}},
                      RateCase{"NtscVideoKept", {30000, 1001}, Rational{30000, 1001}},
                      RateCase{"NtscFilmKept", {24000, 1001}, Rational{24000, 1001}},
                      RateCase{"Reduced", {50, 2}, Rational{25, 1}},
                      RateCase{"SmallDenominatorKept", {2997, 100}, Rational{2997, 100}},
                      RateCase{"Whole", {120, 1}, Rational{120, 1}},
                      RateCase{"BelowOne", {1, 2}, Rational{1, 2}},
                      RateCase{"IrregularAverage", {1000000, 36567}, Rational{4649, 170}},
                      RateCase{"Zero", {0, 1}, std::nullopt},
                      RateCase{"Negative", {-25, 1}, std::nullopt},
                      RateCase{"ZeroDenominator", {25, 0}, std::nullopt},
                      RateCase{"NegativeDenominator", {25, -1}, std::nullopt},
                      RateCase{"BelowOnePer1001", {1, 5000}, std::nullopt},
                      RateCase{"JustBelowOnePer1001", {1000, 1001007}, std::nullopt},
                      RateCase{"AboveInt32", {INT64_MAX, 1}, std::nullopt},
                      // Reduced, 34356592643/125: a small denominator, but a
                      // numerator an AVI header cannot hold.
                      RateCase{"SmallDenominatorNumeratorPast32Bits", {1099410964576, 4000}, Rational{274852741, 1}}),
    row_name<RateCase>);

// An irregular average gets the closest fraction the AVI header takes:
// checked against every denominator up to 1001.
class MpReduceRateClosest : public ::testing::TestWithParam<RateCase> {};

TEST_P(MpReduceRateClosest, NoSmallerFractionIsCloser)
{
    const Rational in = GetParam().in;
    const std::optional<Rational> r = mp::reduce_rate(in);
    ASSERT_TRUE(r.has_value());
    EXPECT_LE(r->den, 1001);
    EXPECT_LE(r->num, INT32_MAX);
    EXPECT_GT(r->num, 0);
    // |num/den - in| compared exactly: |num * in.den - in.num * den| / den.
    using Wide = __int128;
    const auto distance = [&](Wide num, Wide den) {
        const Wide d = num * in.den - Wide{in.num} * den;
        return d < 0 ? -d : d;
    };
    const Wide ours = distance(r->num, r->den);
    for (int64_t den = 1; den <= 1001; ++den) {
        const Wide num = (Wide{in.num} * den * 2 + in.den) / (Wide{in.den} * 2);
        if (num < 1 || num > INT32_MAX)
            continue;
        ASSERT_GE(distance(num, den) * r->den, ours * den)
            << static_cast<int64_t>(num) << "/" << den << " is closer than " << r->num << "/" << r->den;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, MpReduceRateClosest,
                         ::testing::Values(RateCase{"ThirtySeven", {1000000, 36567}, {}},
                                           RateCase{"TwentySeven", {123456789, 4567891}, {}},
                                           RateCase{"NearlyOneHundred", {99999989, 1000003}, {}},
                                           RateCase{"JustAboveOnePer1001", {2, 2001}, {}},
                                           RateCase{"IrregularBelowOne", {1000, 3001}, {}}),
                         row_name<RateCase>);

// ---------------------------------------------------------------------------
struct NominalCase {
    const char* name;
    AVRational average;
    int64_t default_duration_ns;
    Rational expected;
};

void PrintTo(const NominalCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpNominalRate : public ::testing::TestWithParam<NominalCase> {};

TEST_P(MpNominalRate, PrefersTheAverageThenTheDefaultDuration)
{
    const NominalCase& c = GetParam();
    EXPECT_EQ(mp::nominal_rate(c.average, c.default_duration_ns), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, MpNominalRate,
    ::testing::Values(NominalCase{"Average", {30000, 1001}, 40000000, {30000, 1001}},
                      NominalCase{"DefaultDurationWithoutAverage", {0, 0}, 41708333, {24000, 1001}},
                      NominalCase{"DefaultDurationWhenTheAverageIsUnusable", {1, 100000}, 40000000, {25, 1}},
                      NominalCase{"NeitherGives25", {0, 0}, -1, {25, 1}}),
    row_name<NominalCase>);

}  // namespace
