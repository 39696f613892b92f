// Whole runs of mp.exe on the containers people record in, made at test
// time by ffmpeg from one variable-frame-rate source: the AVI must hold the
// source's frames, packet for packet, and every frame's line in the
// timecodes must equal what mkvextract lists after `mkvmerge -o x.mkv
// SOURCE`. (Not the end line: where the last frame ends is mkvmerge's own
// choice for these containers.) What the AVI cannot carry (a rotation, a
// second video track) is named in a note.
#include "support.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace mptest;

namespace {

struct ContainerCase {
    const char* name;
    const char* file;
    const char* fourcc;
    const char* note = "";  // part of the note line on stderr; "" for no note
    // An edit list starts the movie after its first frames, which the AVI
    // holds too (they are needed to decode the rest); the source, decoded,
    // does not show them.
    bool edit_list_starts_later = false;
};

void PrintTo(const ContainerCase& c, std::ostream* os)
{
    *os << c.name;
}

// mkvextract's lines for the (first) video track of `source` remuxed by mkvmerge.
std::vector<std::string> oracle(const fs::path& source, const fs::path& dir)
{
    const RunResult merged = run(find_program("mkvmerge"), {"-q", "-o", (dir / "remux.mkv").string(), source.string()});
    if (merged.exit_code != 0)
        throw std::runtime_error("mkvmerge failed: " + merged.out + merged.err);
    const RunResult r = run(find_program("mkvextract"), {(dir / "remux.mkv").string(), "timestamps_v2",
                                                         "0:" + (dir / "oracle.txt").string()});
    if (r.exit_code != 0)
        throw std::runtime_error("mkvextract failed: " + r.out + r.err);
    return read_lines(dir / "oracle.txt");
}

class MpOtherContainer : public ::testing::TestWithParam<ContainerCase> {};

TEST_P(MpOtherContainer, FramesAsStoredTimesAsMkvmergeStoresThem)
{
    const ContainerCase& c = GetParam();
    const fs::path source = fixtures() / c.file;
    TempDir dir;
    const RunResult r = run(mp_exe(), {source.string(), (dir / "out.avi").string(), (dir / "out.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    if (*c.note) {
        EXPECT_NE(r.err.find("mp.exe: note: '" + source.string() + "' " + c.note), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    } else {
        EXPECT_EQ(r.err, "");
    }

    const std::vector<std::string> lines = read_lines(dir / "out.txt");
    const std::vector<std::string> expected = oracle(source, dir.path());
    ASSERT_GE(lines.size(), 3u);
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 1; i + 1 < lines.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << "line " << i;

    const TrackDump avi = dump_video(dir / "out.avi", true);
    const TrackDump src = dump_video(source, true);
    EXPECT_EQ(fourcc(avi.codec_tag), c.fourcc);
    EXPECT_EQ(avi.packets, src.packets);
    EXPECT_EQ(avi.packets, static_cast<int64_t>(lines.size()) - 2);
    EXPECT_EQ(avi.decode_errors, 0);
    ASSERT_GE(avi.frame_hashes.size(), src.frame_hashes.size());
    const size_t before_the_edit = avi.frame_hashes.size() - src.frame_hashes.size();
    EXPECT_EQ(before_the_edit > 0, c.edit_list_starts_later) << before_the_edit << " frames before the movie's start";
    EXPECT_TRUE(std::equal(src.frame_hashes.begin(), src.frame_hashes.end(), avi.frame_hashes.begin() + static_cast<long>(before_the_edit)))
        << "decoded pictures differ";
}

INSTANTIATE_TEST_SUITE_P(
    Files, MpOtherContainer,
    ::testing::Values(ContainerCase{"Mp4WithBFrames", "vfr.mp4", "H264"},
                      ContainerCase{"Mov", "vfr.mov", "H264"},
                      ContainerCase{"ThreeGp", "vfr.3gp", "H264"},
                      ContainerCase{"FragmentedMp4", "vfr_fragmented.mp4", "H264"},
                      ContainerCase{"Mp4EditListStartingLater", "vfr_edit_list.mp4", "H264", "", true},
                      ContainerCase{"MpegTs", "vfr.ts", "H264"},
                      ContainerCase{"Flv", "vfr.flv", "H264"},
                      ContainerCase{"Mp4WithRotation", "vfr_rotated.mp4", "H264",
                                    "asks for its pictures to be shown turned by"},
                      ContainerCase{"TwoVideoTracks", "two_videos.mp4", "H264",
                                    "has 2 video tracks; the AVI file holds the first one only"},
                      ContainerCase{"AviKeepsItsFourcc", "dx50.avi", "DX50"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
