// The two ways through a source never disagree: files built element by
// element that once made the direct way write something else than the
// demuxer way (another track, frames the demuxer drops, overflowing
// times), run through mp.exe with --way=direct, --way=demuxer and the
// default. Either both ways write the same files with the same exit status
// and message, or the direct way refuses the file and the default run
// gives exactly the demuxer way's result.
#include "matroska_file.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace mptest;
namespace mf = mptest::matroska_file;
namespace mkv = mp::mkv;

namespace {

struct Outcome {
    RunResult run;
    std::string avi;        // empty: not written
    std::string timecodes;  // empty: not written
    std::vector<std::string> left;  // what the output folder holds
};

Outcome run_way(const fs::path& source, const std::string& way)
{
    TempDir dir;
    std::vector<std::string> args;
    if (!way.empty())
        args.push_back("--way=" + way);
    args.insert(args.end(), {source.string(), (dir / "out.avi").string(), (dir / "out.txt").string()});
    Outcome o;
    o.run = run(mp_exe(), args);
    o.avi = read_file(dir / "out.avi");
    o.timecodes = read_file(dir / "out.txt");
    o.left = list_dir(dir.path());
    return o;
}

enum class Direct { Same, Refuses };

struct WhyCase {
    const char* name;
    std::string file;
    int exit_code;
    const char* message;  // part of the one stderr line; "" when none
    int frames;           // in the timecodes file; -1 when nothing is written
    Direct direct;
};

void PrintTo(const WhyCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpWaysAgree : public ::testing::TestWithParam<WhyCase> {};

TEST_P(MpWaysAgree, SameFilesExitStatusAndMessage)
{
    const WhyCase& c = GetParam();
    TempDir dir;
    const fs::path source = dir / "source.mkv";
    write_file(source, c.file);

    const Outcome demuxer = run_way(source, "demuxer");
    EXPECT_EQ(demuxer.run.exit_code, c.exit_code) << demuxer.run.err;
    if (*c.message) {
        EXPECT_NE(demuxer.run.err.find(c.message), std::string::npos) << demuxer.run.err;
    } else {
        EXPECT_EQ(demuxer.run.err, "");
    }
    if (c.frames < 0) {
        EXPECT_TRUE(demuxer.left.empty()) << ::testing::PrintToString(demuxer.left);
    } else {
        EXPECT_EQ(demuxer.left, (std::vector<std::string>{"out.avi", "out.txt"}));
        EXPECT_EQ(std::count(demuxer.timecodes.begin(), demuxer.timecodes.end(), '\n'), c.frames + 2);
    }

    const Outcome direct = run_way(source, "direct");
    const Outcome automatic = run_way(source, "");
    if (c.direct == Direct::Same) {
        EXPECT_EQ(direct.run.exit_code, demuxer.run.exit_code) << direct.run.err;
        EXPECT_EQ(direct.run.err, demuxer.run.err);
        EXPECT_TRUE(direct.avi == demuxer.avi) << "AVI files differ";
        EXPECT_EQ(direct.timecodes, demuxer.timecodes);
    } else {
        EXPECT_EQ(direct.run.exit_code, 2);
        EXPECT_NE(direct.run.err.find("cannot take the direct way"), std::string::npos) << direct.run.err;
        EXPECT_TRUE(direct.left.empty()) << ::testing::PrintToString(direct.left);
    }
    EXPECT_EQ(automatic.run.exit_code, demuxer.run.exit_code) << automatic.run.err;
    EXPECT_EQ(automatic.run.err, demuxer.run.err);
    EXPECT_TRUE(automatic.avi == demuxer.avi) << "AVI files differ";
    EXPECT_EQ(automatic.timecodes, demuxer.timecodes);
}

using mf::codecless_entry_first;
using mf::group_at;
using mf::with_default_duration;

INSTANTIATE_TEST_SUITE_P(
    Sources, MpWaysAgree,
    ::testing::Values(
        WhyCase{"CodeclessVideoEntryBeforeTheRealTrack", codecless_entry_first(), 0, "", 30, Direct::Same},
        // libavformat refuses the element and drops the rest of its cluster.
        WhyCase{"ReferenceBlockOfNineBytes", group_at(15, mf::element(mkv::kReferenceBlock, std::string(9, '\x01'))), 1,
                "has damaged parts that had to be skipped; kept 25 frames", 25, Direct::Refuses},
        WhyCase{"DefaultDurationLargestSigned", with_default_duration(0x7FFFFFFFFFFFFFFF), 2,
                "default frame duration of 9223372036854775807 ns, over 36 years", -1, Direct::Same},
        WhyCase{"DefaultDurationTwoToThe63", with_default_duration(uint64_t{1} << 63), 2,
                "default frame duration of 9223372036854775808 ns, over 36 years", -1, Direct::Same},
        WhyCase{"DefaultDurationOneNanosecond", with_default_duration(1), 2,
                "default frame duration of 1 ns (1000000000 frames per second); an AVI file holds at most 1000", -1,
                Direct::Same},
        WhyCase{"DefaultDurationOneMillisecond", with_default_duration(1000000), 0, "", 30, Direct::Same},
        // A frame that cannot be placed in time is damage at that frame.
        WhyCase{"FrameLastingOverThirtySixYears", group_at(15, mf::uint_element(mkv::kBlockDuration, uint64_t{1} << 62)),
                1, "has a frame whose timestamp or duration is over 36 years", 15, Direct::Refuses}),
    [](const auto& info) { return std::string(info.param.name); });

// The direct way copied the first video entry's blocks (another track's
// data) before: the AVI must hold the VP8 track's frames, none of the other.
TEST(MpWaysAgreeTrack, CopiesTheTrackLibavformatChose)
{
    TempDir dir;
    const fs::path source = dir / "source.mkv";
    write_file(source, codecless_entry_first());
    for (const std::string way : {"direct", "demuxer"}) {
        SCOPED_TRACE(way);
        const Outcome o = run_way(source, way);
        ASSERT_EQ(o.run.exit_code, 0) << o.run.err;
        for (int i = 0; i < 30; ++i)
            EXPECT_NE(o.avi.find(mf::frame_bytes(2, i)), std::string::npos) << "frame " << i;
        EXPECT_EQ(o.avi.find(mf::frame_bytes(1, 0)), std::string::npos) << "the other track's data";
    }
}

// --way=direct is an error for any source the direct way cannot take, and
// then writes nothing.
struct RefusalCase {
    const char* name;
    const char* fixture;
    const char* reason;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpWayDirectRefuses : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(MpWayDirectRefuses, NamesTheReasonAndWritesNothing)
{
    const RefusalCase& c = GetParam();
    const Outcome o = run_way(fixtures() / c.fixture, "direct");
    EXPECT_EQ(o.run.exit_code, 2);
    EXPECT_EQ(o.run.out, "");
    EXPECT_EQ(std::count(o.run.err.begin(), o.run.err.end(), '\n'), 1) << o.run.err;
    EXPECT_NE(o.run.err.find(std::string("cannot take the direct way: ") + c.reason), std::string::npos) << o.run.err;
    EXPECT_TRUE(o.left.empty()) << ::testing::PrintToString(o.left);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MpWayDirectRefuses,
    ::testing::Values(RefusalCase{"CompressedFrames", "h264_zlib.mkv", "its frames are stored compressed"},
                      RefusalCase{"CutOff", "cut.mkv", "its structure is irregular near byte"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
