// Whole runs of mp.exe on Matroska files built element by element, each
// holding one thing libavformat reads otherwise than the file says: blocks
// it passes over without a word, an empty frame, an explicit duration of
// 0, times before zero, a header it cannot read. The timecodes must equal
// mkvextract's for the same file, frames nobody can read must make the run
// a warning, and a pipe must give the very bytes a file gives.
#include "matroska_file.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace mptest;
namespace mf = mptest::matroska_file;
namespace mkv = mp::mkv;

namespace {

using mf::block;
using mf::cluster;
using mf::element;
using mf::uint_element;

// A SimpleBlock of track 2 that is shorter than a block's head.
const std::string kShortBlockOfTrack2 = element(mkv::kSimpleBlock, std::string("\x82\x00", 2));

std::string simple(unsigned track, int16_t relative, const std::string& frame)
{
    return element(mkv::kSimpleBlock, block(track, relative, 0x80, frame));
}

// Video (track 1, VP8, 40 ms) and audio (track 2).
std::string with_tracks(const std::string& body, uint64_t default_ns = mf::k40Ms)
{
    return mf::file({{1, mkv::kVideoTrack, "V_VP8", default_ns}, {2, mkv::kAudioTrack, "A_OPUS", std::nullopt}}, body);
}

// `count` frames of track 1, 40 ms apart, in clusters of `per_cluster`;
// `extra(i)` comes after frame i.
template <typename Extra>
std::string frames(int count, int per_cluster, Extra extra)
{
    std::string body;
    for (int first = 0; first < count; first += per_cluster) {
        std::string children;
        for (int i = first; i < count && i < first + per_cluster; ++i)
            children += simple(1, static_cast<int16_t>((i - first) * 40), mf::frame_bytes(1, i)) + extra(i);
        body += cluster(static_cast<uint64_t>(first * 40), children);
    }
    return body;
}

std::string short_block_after(int count, int per_cluster, int after)
{
    return with_tracks(frames(count, per_cluster, [&](int i) { return i == after ? kShortBlockOfTrack2 : ""; }));
}

std::string empty_frame_at(int at)
{
    std::string children;
    for (int i = 0; i < 12; ++i)
        children += simple(1, static_cast<int16_t>(i * 40), i == at ? "" : mf::frame_bytes(1, i));
    return with_tracks(cluster(0, children));
}

std::string zero_duration_last()
{
    std::string children;
    for (int i = 0; i < 29; ++i)
        children += simple(1, static_cast<int16_t>(i * 50), mf::frame_bytes(1, i));
    children += element(mkv::kBlockGroup, element(mkv::kBlock, block(1, 29 * 50, 0, mf::frame_bytes(1, 29))) +
                                              uint_element(mkv::kBlockDuration, 0));
    return with_tracks(cluster(0, children), 50000000);
}

std::string before_zero()
{
    std::string children;
    for (int i = 0; i < 12; ++i)
        children += simple(1, static_cast<int16_t>(-200 + i * 40), mf::frame_bytes(1, i));
    return with_tracks(cluster(0, children));
}

std::string ebml_header_asking(uint32_t id, uint64_t value)
{
    const std::string file = with_tracks(frames(4, 4, [](int) { return ""; }));
    const std::string header = element(mkv::kEbml, element(mkv::kDocType, "webm"));
    return element(mkv::kEbml, uint_element(id, value) + element(mkv::kDocType, "matroska")) +
           file.substr(header.size());
}

std::string tracks_after_cluster()
{
    const std::string video = mf::track_entry({1, mkv::kVideoTrack, "V_VP8", mf::k40Ms});
    return element(mkv::kEbml, element(mkv::kDocType, "webm")) +
           element(mkv::kSegment, element(mkv::kInfo, uint_element(mkv::kTimestampScale, 1000000)) +
                                      frames(4, 4, [](int) { return ""; }) + element(mkv::kTracks, video));
}

struct RunCase {
    const char* name;
    std::string file;
    int exit_code;
    const char* message = "";  // part of stderr
    int frames = 0;            // in the AVI and the timecodes
    int mkvextract_tid = 0;    // the video track for mkvextract, when the run succeeds
};

void PrintTo(const RunCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpMatroskaRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(MpMatroskaRun, AsMkvextractSeesTheFile)
{
    const RunCase& c = GetParam();
    TempDir dir;
    const fs::path source = dir / "built.mkv";
    write_file(source, c.file);
    const RunResult r = run(mp_exe(), {source.string(), (dir / "a.avi").string(), (dir / "a.txt").string()});
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    if (c.exit_code == 2) {
        EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"built.mkv"});
        return;
    }
    const std::vector<std::string> lines = read_lines(dir / "a.txt");
    EXPECT_EQ(static_cast<int>(lines.size()), c.frames + 2);
    EXPECT_EQ(dump_video(dir / "a.avi", false).listed_frames, c.frames);
    if (c.exit_code == 0) {
        const RunResult x = run(find_program("mkvextract"),
                                {source.string(), "timestamps_v2", std::to_string(c.mkvextract_tid) + ":" + (dir / "x.txt").string()});
        ASSERT_EQ(x.exit_code, 0) << x.out << x.err;
        const std::vector<std::string> expected = read_lines(dir / "x.txt");
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
                  std::vector<std::string>(expected.begin() + 1, expected.end()));
    }
    // Through a pipe: the very same bytes and outcome.
    const fs::path pipe = dir / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    RunResult piped;
    {
        const FifoFeeder feeder(pipe, c.file);
        piped = run(mp_exe(), {pipe.string(), (dir / "p.avi").string(), (dir / "p.txt").string()});
    }
    EXPECT_EQ(piped.exit_code, r.exit_code) << piped.err;
    EXPECT_EQ(read_file(dir / "p.txt"), read_file(dir / "a.txt"));
    EXPECT_TRUE(read_file(dir / "p.avi") == read_file(dir / "a.avi")) << "the AVI from the pipe differs";
}

INSTANTIATE_TEST_SUITE_P(
    Files, MpMatroskaRun,
    ::testing::Values(
        RunCase{"ShortBlockOfAnotherTrackMidCluster", short_block_after(12, 12, 5), 1,
                "has 6 frames of its video track that could not be read", 6},
        RunCase{"ShortBlockInTheSecondOfThreeClusters", short_block_after(12, 4, 5), 1,
                "has 2 frames of its video track that could not be read", 10},
        RunCase{"EmptyFrameKeptInItsPlace", empty_frame_at(5), 0, "", 12},
        RunCase{"ExplicitZeroDurationOfTheLastFrame", zero_duration_last(), 0, "", 30},
        RunCase{"TimestampsBeforeZero", before_zero(), 0, "", 12},
        RunCase{"CodeclessEntryBeforeTheVideoTrack", mf::codecless_entry_first(), 0, "", 30, 1},
        RunCase{"ElementSizesOfNineBytes", ebml_header_asking(mkv::kEbmlMaxSizeLength, 9), 2,
                "element sizes of up to 9 bytes (EBMLMaxSizeLength)"},
        RunCase{"ElementIdsOfFiveBytes", ebml_header_asking(mkv::kEbmlMaxIdLength, 5), 2,
                "element IDs of up to 5 bytes (EBMLMaxIDLength)"},
        RunCase{"ReaderVersionFour", ebml_header_asking(mkv::kDocTypeReadVersion, 4), 2,
                "needs a reader of Matroska version 4 (DocTypeReadVersion)"},
        RunCase{"TracksAfterTheFirstCluster", tracks_after_cluster(), 2, "has no list of its tracks before its first frames"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
