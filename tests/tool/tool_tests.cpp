// End-to-end tests: run the built mp.exe on media files made at test time
// and check its outputs against mkvextract and against the source decoded
// with libavcodec.
#include "demux.hpp"
#include "report/progress.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>

using namespace mptest;

namespace {

fs::path fixture(const std::string& name)
{
    return fixtures() / name;
}

std::vector<std::string> mkvextract_timestamps(const fs::path& source, int tid, const fs::path& out)
{
    const std::string tool = find_program("mkvextract");
    if (tool.empty())
        throw std::runtime_error("mkvextract is not installed (run `make test`, which installs it)");
    const RunResult r = run(tool, {source.string(), "timestamps_v2", std::to_string(tid) + ":" + out.string()});
    if (r.exit_code != 0)
        throw std::runtime_error("mkvextract failed: " + r.out + r.err);
    return read_lines(out);
}

std::vector<std::string> tail_from(const std::vector<std::string>& v, size_t first)
{
    return first < v.size() ? std::vector<std::string>(v.begin() + static_cast<long>(first), v.end())
                            : std::vector<std::string>{};
}

size_t count_lines(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::vector<std::string> leftover_temporaries(const fs::path& dir)
{
    std::vector<std::string> found;
    for (const auto& name : list_dir(dir))
        if (name.find(".part") != std::string::npos)
            found.push_back(name);
    return found;
}

}  // namespace

// Runs first under CTest (as the setup step) so the media is made once.
TEST(MpFixtures, Make)
{
    try {
        const fs::path& dir = fixtures();
        EXPECT_TRUE(fs::exists(dir / "h264_bframes.mkv"));
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
}

// ---------------------------------------------------------------------------
// Good sources: the AVI holds the same frames, the timecodes match mkvextract.

struct GoodCase {
    const char* file;
    int mkvextract_tid;       // the video track's ID for mkvextract
    std::string fourcc;       // expected AVI FourCC
    bool bytes_unchanged;     // no stream conversion: packets identical
    AVRational avi_time_base; // {0,0}: not checked
    bool own_end_line = false; // the last frame has no duration: end = last + last interval
};

void PrintTo(const GoodCase& c, std::ostream* os)
{
    *os << c.file;
}

class MpGoodSource : public ::testing::TestWithParam<GoodCase> {};

TEST_P(MpGoodSource, AviAndTimecodesMatchSource)
{
    const GoodCase& c = GetParam();
    const fs::path source = fixture(c.file);
    TempDir dir;
    const RunResult r = run(mp_exe(), {source.string(), (dir / "out.avi").string(), (dir / "out.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "") << "nothing but the summary when stderr is not a terminal";
    EXPECT_EQ(count_lines(r.out), 1u) << r.out;

    const std::vector<std::string> lines = read_lines(dir / "out.txt");
    const std::vector<std::string> expected = mkvextract_timestamps(source, c.mkvextract_tid, dir / "ref.txt");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "# timecode format v2");
    ASSERT_EQ(expected.at(0), "# timestamp format v2");
    if (!c.own_end_line) {
        EXPECT_EQ(tail_from(lines, 1), tail_from(expected, 1));
    } else {
        // mkvextract ends such a track at the last frame's start; we add the
        // last frame interval instead. All frame lines must still agree.
        ASSERT_EQ(lines.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1),
                  std::vector<std::string>(expected.begin() + 1, expected.end() - 1));
        const double last = std::stod(lines[lines.size() - 2]);
        const double before = std::stod(lines[lines.size() - 3]);
        EXPECT_NEAR(std::stod(lines.back()), last + (last - before), 1e-6);
    }
    const int64_t frames = static_cast<int64_t>(lines.size()) - 2;  // header and end line
    EXPECT_NE(r.out.find(" " + std::to_string(frames) + " frames"), std::string::npos) << r.out;

    const TrackDump avi = dump_video(dir / "out.avi", true);
    const TrackDump src = dump_video(source, true);
    EXPECT_EQ(avi.format, "avi");
    EXPECT_EQ(fourcc(avi.codec_tag), c.fourcc);
    EXPECT_EQ(avi.codec, src.codec);
    EXPECT_EQ(avi.packets, frames);
    EXPECT_EQ(avi.packets, src.packets);
    EXPECT_EQ(avi.decode_errors, 0);
    ASSERT_FALSE(src.frame_hashes.empty());
    EXPECT_EQ(avi.frame_hashes, src.frame_hashes) << "decoded pictures differ";
    if (c.bytes_unchanged) {
        EXPECT_EQ(avi.packet_hashes, src.packet_hashes) << "stored frames were changed";
    }
    if (c.avi_time_base.den != 0) {
        EXPECT_EQ(avi.time_base.num, c.avi_time_base.num);
        EXPECT_EQ(avi.time_base.den, c.avi_time_base.den);
    }
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"out.avi", "out.txt", "ref.txt"}));

    // Read from a pipe as /dev/stdin: the very same files.
    const RunResult piped = run("/bin/sh", {"-c", "cat \"$0\" | \"$1\" /dev/stdin \"$2\" \"$3\"", source.string(),
                                            mp_exe(), (dir / "piped.avi").string(), (dir / "piped.txt").string()});
    ASSERT_EQ(piped.exit_code, 0) << piped.err;
    EXPECT_EQ(read_file(dir / "piped.txt"), read_file(dir / "out.txt"));
    EXPECT_TRUE(read_file(dir / "piped.avi") == read_file(dir / "out.avi")) << "the AVI from the pipe differs";
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MpGoodSource,
    ::testing::Values(GoodCase{"h264_bframes.mkv", 0, "H264", false, {0, 0}},
                      GoodCase{"audio_first.mkv", 1, "H264", false, {0, 0}},
                      GoodCase{"hevc.mkv", 0, "HEVC", false, {0, 0}},
                      GoodCase{"vfw_mpeg4.mkv", 0, "XVID", true, {0, 0}},
                      GoodCase{"vfw_ffv1.mkv", 0, "FFV1", true, {1001, 24000}},
                      GoodCase{"vp8.webm", 0, "VP80", true, {0, 0}},
                      GoodCase{"no_default_duration.mkv", 0, "H264", false, {0, 0}, true},
                      GoodCase{"h264_zlib.mkv", 0, "H264", false, {0, 0}},
                      GoodCase{"raw_yuv420p.mkv", 0, "I420", true, {0, 0}},
                      GoodCase{"raw_bgr24_vfw.mkv", 0, std::string(4, '\0'), true, {0, 0}}),
    [](const auto& info) {
        std::string name = info.param.file;
        std::replace_if(name.begin(), name.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
        return name;
    });

// ---------------------------------------------------------------------------
// Past 1 GiB the AVI must be OpenDML (a second RIFF "AVIX" list and its own
// index) and read back whole. The source is a short MJPEG clip of noise
// (large frames) repeated by ffmpeg to just over 1 GiB.

uint32_t le32_at(std::FILE* f, long offset)
{
    unsigned char b[4] = {};
    if (std::fseek(f, offset, SEEK_SET) != 0 || std::fread(b, 1, 4, f) != 4)
        return 0;
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

std::string text_at(std::FILE* f, long offset, size_t size)
{
    std::string s(size, '\0');
    if (std::fseek(f, offset, SEEK_SET) != 0 || std::fread(s.data(), 1, size, f) != size)
        return {};
    return s;
}

TEST(MpLargeSource, OpenDmlAviPastOneGiBReadsBackWhole)
{
    const std::string ffmpeg = find_program("ffmpeg");
    ASSERT_FALSE(ffmpeg.empty()) << "ffmpeg is not installed (run `make test`, which installs it)";
    TempDir dir;
    const fs::path clip = dir / "clip.mkv";
    const fs::path source = dir / "large.mkv";
    const std::vector<std::string> quiet = {"-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
    auto with_quiet = [&](std::vector<std::string> args) {
        args.insert(args.begin(), quiet.begin(), quiet.end());
        return args;
    };
    RunResult r = run(ffmpeg, with_quiet({"-f", "lavfi", "-i", "testsrc2=s=1280x720:r=30,noise=alls=100:allf=t",
                                          "-frames:v", "30", "-c:v", "mjpeg", "-q:v", "1", "-pix_fmt", "yuvj420p",
                                          clip.string()}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto clip_size = fs::file_size(clip);
    ASSERT_GT(clip_size, 0u);
    const auto loops = static_cast<long long>((uint64_t{1} << 30) / clip_size + 1);
    r = run(ffmpeg, with_quiet({"-stream_loop", std::to_string(loops), "-i", clip.string(), "-c", "copy",
                                source.string()}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    fs::remove(clip);
    ASSERT_GT(fs::file_size(source), uint64_t{1} << 30);

    mp::DemuxJob job;
    job.source = source;
    job.avi = dir / "large.avi";
    job.timecodes = dir / "large.txt";
    mp::Progress no_progress(stderr, false);
    const mp::DemuxResult result = mp::run_demux(job, no_progress);
    EXPECT_FALSE(result.damage.has_value());
    EXPECT_EQ(result.frames, (loops + 1) * 30);
    EXPECT_EQ(static_cast<int64_t>(read_lines(job.timecodes).size()), result.frames + 2);

    // The first RIFF list ends once it has passed 1 GiB; an AVIX list follows.
    std::FILE* f = std::fopen(job.avi.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(text_at(f, 0, 4) + text_at(f, 8, 4), "RIFFAVI ");
    const long second = 8 + static_cast<long>(le32_at(f, 4));
    EXPECT_LT(second, static_cast<long>(fs::file_size(job.avi)));
    EXPECT_EQ(text_at(f, second, 4) + text_at(f, second + 8, 4), "RIFFAVIX");
    std::fclose(f);

    const TrackDump avi = dump_video(job.avi, false);
    const TrackDump src = dump_video(source, false);
    EXPECT_EQ(avi.format, "avi");
    EXPECT_EQ(avi.packets, result.frames);
    EXPECT_TRUE(avi.packet_hashes == src.packet_hashes) << "frames differ";
}

// ---------------------------------------------------------------------------
// Bad sources: exit 2, one clear line, nothing written or changed.

struct ErrorCase {
    const char* name;
    const char* file;      // fixture name, or nullptr for a missing source
    const char* message;   // must appear in the error line
};

void PrintTo(const ErrorCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpBadSource : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(MpBadSource, FailsWithoutTouchingAnything)
{
    const ErrorCase& c = GetParam();
    TempDir dir;
    const fs::path source = dir / "source.mkv";
    if (c.file)
        fs::copy_file(fixture(c.file), source);
    const std::string original = c.file ? read_file(source) : "";
    write_file(dir / "old.avi", "existing avi");
    write_file(dir / "old.txt", "existing timecodes");
    const std::vector<std::string> before = list_dir(dir.path());

    // Once onto existing outputs, once onto new names.
    for (const auto& [avi, txt] : {std::pair{"old.avi", "old.txt"}, std::pair{"new.avi", "new.txt"}}) {
        const RunResult r = run(mp_exe(), {source.string(), (dir / avi).string(), (dir / txt).string()});
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(count_lines(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("mp.exe: error: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("source.mkv"), std::string::npos) << "names the file: " << r.err;
    }
    EXPECT_EQ(list_dir(dir.path()), before);
    EXPECT_EQ(read_file(dir / "old.avi"), "existing avi");
    EXPECT_EQ(read_file(dir / "old.txt"), "existing timecodes");
    if (c.file) {
        EXPECT_EQ(read_file(source), original);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MpBadSource,
    ::testing::Values(ErrorCase{"TextFile", "text.mkv", "is not a video file that can be read"},
                      ErrorCase{"DamagedMagic", "header_magic.mkv", "header is damaged"},
                      ErrorCase{"HeaderCutOff", "header_cut.mkv", "header is damaged or cut off"},
                      ErrorCase{"DamagedTracks", "header_tracks.mkv", "has no video track"},
                      ErrorCase{"AudioWithCover", "audio_only.mkv", "has no video track (only a cover picture)"},
                      ErrorCase{"NoFourcc", "prores.mkv", "cannot identify"},
                      ErrorCase{"Missing", nullptr, "no such file"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Output names that must be refused before anything is written.

struct PathCase {
    const char* name;
    const char* avi;
    const char* txt;
    const char* message;
};

void PrintTo(const PathCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpRefusedOutput : public ::testing::TestWithParam<PathCase> {};

TEST_P(MpRefusedOutput, RefusesBeforeWriting)
{
    const PathCase& c = GetParam();
    TempDir dir;
    fs::create_directory(dir / "sub");
    fs::copy_file(fixture("vfw_ffv1.mkv"), dir / "src.mkv");
    fs::create_hard_link(dir / "src.mkv", dir / "link.mkv");
    fs::create_symlink("loop", dir / "loop");
    write_file(dir / "keep.txt", "keep");
    const std::string original = read_file(dir / "src.mkv");
    const std::vector<std::string> before = list_dir(dir.path());

    // Relative names, resolved against the folder the tool runs in.
    const RunResult r = run(mp_exe(), {"src.mkv", c.avi, c.txt}, dir.path());
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err.rfind("mp.exe: error: ", 0), 0u) << r.err;
    EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / "src.mkv"), original);
    EXPECT_EQ(read_file(dir / "keep.txt"), "keep");
    EXPECT_EQ(list_dir(dir.path()), before);
    EXPECT_TRUE(list_dir(dir / "sub").empty());
}

// A name longer than any file system takes.
const std::string kNameTooLong = std::string(300, 'n') + ".txt";

INSTANTIATE_TEST_SUITE_P(
    Paths, MpRefusedOutput,
    ::testing::Values(PathCase{"AviIsSource", "src.mkv", "out.txt", "is the source file"},
                      PathCase{"TimecodesIsSourceByOtherPath", "out.avi", "sub/../src.mkv", "is the source file"},
                      PathCase{"AviIsHardLinkToSource", "link.mkv", "out.txt", "is the source file"},
                      PathCase{"BothOutputsSame", "out.avi", "./out.avi", "same file"},
                      PathCase{"TimecodesSameAsExisting", "keep.txt", "sub/../keep.txt", "same file"},
                      PathCase{"FolderMissing", "nowhere/out.avi", "out.txt", "does not exist"},
                      PathCase{"OutputIsFolder", "out.avi", "sub", "is a folder"},
                      // A path the checks cannot examine is refused, never passed.
                      PathCase{"AviIsLoopOfLinks", "loop", "out.txt", "cannot examine 'loop'"},
                      PathCase{"TimecodesNameTooLong", "out.avi", kNameTooLong.c_str(), "cannot examine"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Command line

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    const char* out;  // must appear in stdout ("" = stdout empty)
    const char* err;  // must appear in stderr ("" = stderr empty)
};

void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpCommandLine : public ::testing::TestWithParam<UsageCase> {};

TEST_P(MpCommandLine, ExitCodeAndText)
{
    const UsageCase& c = GetParam();
    TempDir dir;
    const RunResult r = run(mp_exe(), c.args, dir.path());
    EXPECT_EQ(r.exit_code, c.exit_code);
    if (*c.out) {
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
    else
        EXPECT_EQ(r.out, "");
    if (*c.err) {
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    } else {
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(list_dir(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Args, MpCommandLine,
    ::testing::Values(UsageCase{"None", {}, 2, "", "usage: mp.exe"},
                      UsageCase{"Help", {"--help"}, 0, "usage: mp.exe", ""},
                      UsageCase{"Version", {"--version"}, 0, "1.00", ""},
                      UsageCase{"OneFile", {"a.mkv"}, 2, "", "usage: mp.exe"},
                      UsageCase{"TwoFiles", {"a.mkv", "b.avi"}, 2, "", "usage: mp.exe"},
                      UsageCase{"FourFiles", {"a", "b", "c", "d"}, 2, "", "usage: mp.exe"},
                      UsageCase{"HelpWithMore", {"--help", "x"}, 2, "", "usage: mp.exe"},
                      UsageCase{"ShortOption", {"-h"}, 2, "", "usage: mp.exe"},
                      UsageCase{"EmptyName", {"", "b.avi", "c.txt"}, 2, "", "usage: mp.exe"},
                      // Three arguments are always file names.
                      UsageCase{"ThreeAreFiles", {"--version", "b.avi", "c.txt"}, 2, "",
                                "cannot open source '--version'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MpCommandLineFiles, NamesStartingWithDashAreFilesAndReplaceOldOutputs)
{
    TempDir dir;
    fs::copy_file(fixture("vfw_ffv1.mkv"), dir / "-in.mkv");
    write_file(dir / "-out.avi", "old");
    const RunResult r = run(mp_exe(), {"-in.mkv", "-out.avi", "-tc.txt"}, dir.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(dump_video(dir / "-out.avi", false).packets, 12);
    EXPECT_EQ(read_lines(dir / "-tc.txt").size(), 14u);
    EXPECT_NE(r.out.find("-out.avi, -tc.txt"), std::string::npos) << r.out;
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"-in.mkv", "-out.avi", "-tc.txt"}));
}

// ---------------------------------------------------------------------------
// Damage part-way, concurrent runs (interruptions: fault_tests.cpp)

TEST(MpDamage, CutOffSourceKeepsFramesBeforeTheCut)
{
    const fs::path cut = fixture("cut.mkv");
    TempDir dir;
    const RunResult r = run(mp_exe(), {cut.string(), (dir / "out.avi").string(), (dir / "out.txt").string()});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.err, m, std::regex("^mp\\.exe: warning: .*cut off.*; kept ([0-9]+) frames")))
        << r.err;
    EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    const int64_t kept = std::stoll(m[1]);

    const std::vector<std::string> lines = read_lines(dir / "out.txt");
    const TrackDump avi = dump_video(dir / "out.avi", true);
    const TrackDump src = dump_video(cut, true);
    EXPECT_GT(kept, 5);
    EXPECT_LT(kept, 40);
    EXPECT_EQ(static_cast<int64_t>(lines.size()) - 2, kept);
    EXPECT_EQ(avi.packets, kept);
    EXPECT_EQ(avi.frame_hashes, src.frame_hashes);

    // Every kept timestamp is one of the complete file's.
    const std::vector<std::string> full = mkvextract_timestamps(fixture("h264_bframes.mkv"), 0, dir / "ref.txt");
    for (size_t i = 1; i + 1 < lines.size(); ++i)
        EXPECT_NE(std::find(full.begin() + 1, full.end(), lines[i]), full.end()) << lines[i];
}

// Damage anywhere must end in a clean result: an error with nothing
// written, a warning with both outputs holding the same frames, or success
// with every frame there (damage inside frame data is invisible to the
// container and is copied as it is).
TEST(MpDamage, CorruptionAnywhereGivesConsistentOutputsOrAnError)
{
    const std::string good = read_file(fixture("vfw_mpeg4.mkv"));
    const int64_t all_frames = 30;
    // Places in the header, and at and just after each cluster's start.
    std::vector<size_t> places = {0, 5, 20, 40, 60, 90, 130, 200, 300, 500, 800, 1300};
    const std::string cluster_id("\x1F\x43\xB6\x75", 4);
    for (size_t at = good.find(cluster_id); at != std::string::npos; at = good.find(cluster_id, at + 1)) {
        places.push_back(at);
        places.push_back(at + 12);
    }
    TempDir dir;
    int warnings = 0, errors = 0;
    for (size_t n = 0; n < places.size(); ++n) {
        std::string data = good;
        for (size_t k = 0; k < 16 && places[n] + k < data.size(); ++k)
            data[places[n] + k] = static_cast<char>((n * 37 + k * 11 + 1) & 0xFF);
        const fs::path source = dir / "damaged.mkv";
        write_file(source, data);
        const RunResult r = run(mp_exe(), {source.string(), (dir / "out.avi").string(), (dir / "out.txt").string()});
        SCOPED_TRACE("garbage at byte " + std::to_string(places[n]) + ": " + r.err);
        ASSERT_GE(r.exit_code, 0) << "killed by a signal";
        ASSERT_LE(r.exit_code, 2);
        if (r.exit_code == 2) {
            ++errors;
            EXPECT_FALSE(fs::exists(dir / "out.avi"));
            EXPECT_FALSE(fs::exists(dir / "out.txt"));
        } else {
            warnings += r.exit_code;
            const std::vector<std::string> lines = read_lines(dir / "out.txt");
            ASSERT_GE(lines.size(), 3u);
            const int64_t frames = static_cast<int64_t>(lines.size()) - 2;
            EXPECT_EQ(dump_video(dir / "out.avi", false).packets, frames);
            if (r.exit_code == 0) {
                EXPECT_EQ(frames, all_frames) << "frames lost without a warning";
            }
        }
        EXPECT_TRUE(leftover_temporaries(dir.path()).empty());
        fs::remove(dir / "out.avi");
        fs::remove(dir / "out.txt");
    }
    // The places were chosen to hit all three outcomes.
    EXPECT_GT(warnings, 0);
    EXPECT_GT(errors, 0);
}

TEST(MpConcurrency, SeveralRunsOnTheSameOutputsLeaveWholeFiles)
{
    const fs::path source = fixture("h264_bframes.mkv");
    TempDir dir;
    std::vector<std::unique_ptr<TempDir>> logs;
    std::vector<int> pids;
    for (int i = 0; i < 4; ++i) {
        logs.push_back(std::make_unique<TempDir>());
        pids.push_back(start_tool({source.string(), (dir / "out.avi").string(), (dir / "out.txt").string()},
                                  logs.back()->path()));
    }
    for (size_t i = 0; i < pids.size(); ++i)
        EXPECT_EQ(wait_tool(pids[i]), 0) << read_file(logs[i]->path() / "err");

    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"out.avi", "out.txt"}));
    const std::vector<std::string> expected = mkvextract_timestamps(source, 0, logs[0]->path() / "ref.txt");
    EXPECT_EQ(tail_from(read_lines(dir / "out.txt"), 1), tail_from(expected, 1));
    const TrackDump avi = dump_video(dir / "out.avi", true);
    EXPECT_EQ(avi.packets, static_cast<int64_t>(expected.size()) - 2);
    EXPECT_EQ(avi.frame_hashes, dump_video(source, true).frame_hashes);
}

// With a terminal on stderr the tool shows a progress line, redrawn at most
// ten times a second and erased before the summary.
TEST(MpProgress, ShownOnTerminalAndCleared)
{
    const fs::path source = fixture("long.mkv");
    TempDir dir;
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(slave, 2);
        const int null_out = open("/dev/null", O_WRONLY);
        dup2(null_out, 1);
        close(master);
        const std::string exe = mp_exe();
        const std::string a = source.string(), b = (dir / "out.avi").string(), c = (dir / "out.txt").string();
        execl(exe.c_str(), exe.c_str(), a.c_str(), b.c_str(), c.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(slave);
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<size_t>(n));
    close(master);
    const int status = wait_tool(pid);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_EQ(status, 0) << shown;
    size_t updates = 0;
    for (size_t at = 0; (at = shown.find("% read, ", at)) != std::string::npos; ++at)
        ++updates;
    EXPECT_GE(updates, 1u) << shown;
    EXPECT_LE(static_cast<double>(updates), seconds * 10 + 1) << shown;
    // The line is erased at the end, and nothing else is printed.
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << shown;
    EXPECT_EQ(shown.find("error"), std::string::npos) << shown;
}
