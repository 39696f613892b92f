// Unit tests of mp.exe's pure logic: argument parsing, millisecond
// formatting, nominal rate reduction, the timecode list, the Matroska header
// reader and the FourCC choice.
#include "cli.hpp"
#include "avi_writer.hpp"
#include "demux.hpp"
#include "range_writer.hpp"
#include "matroska_header.hpp"
#include "timecodes.hpp"
#include "ebml_builders.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using mp::Command;
using namespace mptest::ebml_builders;
using mp::Rational;

// ---------------------------------------------------------------------------
struct CliCase {
    std::vector<std::string_view> args;
    Command::Kind kind;
};

TEST(MpCli, ParsesTable)
{
    const std::vector<CliCase> cases = {
        {{}, Command::Kind::Usage},
        {{"--help"}, Command::Kind::Help},
        {{"--version"}, Command::Kind::Version},
        {{"--HELP"}, Command::Kind::Usage},
        {{"-v"}, Command::Kind::Usage},
        {{"a.mkv"}, Command::Kind::Usage},
        {{"a.mkv", "b.avi"}, Command::Kind::Usage},
        {{"a.mkv", "b.avi", "c.txt", "d"}, Command::Kind::Usage},
        {{"--help", "--version"}, Command::Kind::Usage},
        {{"a.mkv", "b.avi", "c.txt"}, Command::Kind::Run},
        {{"--help", "--version", "-x"}, Command::Kind::Run},
        {{"a.mkv", "", "c.txt"}, Command::Kind::Usage},
    };
    for (const auto& c : cases) {
        const Command cmd = mp::parse_command_line(c.args);
        EXPECT_EQ(cmd.kind, c.kind) << "arguments: " << c.args.size();
        if (c.kind == Command::Kind::Run) {
            EXPECT_EQ(cmd.source, c.args[0]);
            EXPECT_EQ(cmd.avi, c.args[1]);
            EXPECT_EQ(cmd.timecodes, c.args[2]);
        }
    }
    EXPECT_EQ(mp::version_text(), "mp.exe 1.00\n");
    EXPECT_EQ(mp::usage_line().find('\n'), std::string::npos);
}

// ---------------------------------------------------------------------------
TEST(MpFormatMs, Table)
{
    const std::vector<std::pair<int64_t, std::string>> cases = {
        {0, "0"},
        {1000000000, "1000"},
        {1140500000, "1140.5"},
        {2194336700, "2194.3367"},
        {41708333, "41.708333"},
        {1, "0.000001"},
        {999999, "0.999999"},
        {10000000, "10"},
        {-500000, "-0.5"},
        {-2000000, "-2"},
        {INT64_MAX, "9223372036854.775807"},
        {INT64_MIN, "-9223372036854.775808"},
    };
    for (const auto& [ns, text] : cases)
        EXPECT_EQ(mp::format_ms(ns), text) << ns;
}

// ---------------------------------------------------------------------------
TEST(MpReduceRate, ExactTable)
{
    struct Case {
        Rational in;
        std::optional<Rational> out;
    };
    const std::vector<Case> cases = {
        {{1000000000, 41708333}, Rational{24000, 1001}},  // default duration of 23.976 fps
        {{1000000000, 41708334}, Rational{24000, 1001}},
        {{1000000000, 33366667}, Rational{30000, 1001}},
        {{1000000000, 16683333}, Rational{60000, 1001}},
        {{1000000000, 40000000}, Rational{25, 1}},
        {{1000000000, 41666667}, Rational{24, 1}},
        {{30000, 1001}, Rational{30000, 1001}},
        {{24000, 1001}, Rational{24000, 1001}},
        {{50, 2}, Rational{25, 1}},
        {{2997, 100}, Rational{2997, 100}},
        {{120, 1}, Rational{120, 1}},
        {{1, 2}, Rational{1, 2}},
        {{0, 1}, std::nullopt},
        {{-25, 1}, std::nullopt},
        {{25, 0}, std::nullopt},
        {{25, -1}, std::nullopt},
        {{1, 5000}, std::nullopt},              // below 1/1001 fps
        {{INT64_MAX, 1}, std::nullopt},         // absurdly fast
    };
    for (const auto& c : cases) {
        const auto r = mp::reduce_rate(c.in);
        EXPECT_EQ(r.has_value(), c.out.has_value()) << c.in.num << "/" << c.in.den;
        if (r && c.out) {
            EXPECT_EQ(*r, *c.out) << c.in.num << "/" << c.in.den << " gave " << r->num << "/" << r->den;
        }
    }
}

TEST(MpReduceRate, IrregularAveragesGetSmallCloseFractions)
{
    const std::vector<Rational> cases = {
        {1000000, 36567}, {123456789, 4567891}, {INT32_MAX, 7}, {7, 3}, {99999989, 1000003}};
    for (const auto& in : cases) {
        const auto r = mp::reduce_rate(in);
        ASSERT_TRUE(r.has_value()) << in.num << "/" << in.den;
        const double exact = static_cast<double>(in.num) / static_cast<double>(in.den);
        const double got = static_cast<double>(r->num) / static_cast<double>(r->den);
        EXPECT_LE(r->den, 1001);
        EXPECT_LE(r->num, INT32_MAX);
        EXPECT_GT(r->num, 0);
        EXPECT_LT(std::fabs(got - exact) / exact, 1e-4) << in.num << "/" << in.den << " gave " << r->num << "/"
                                                         << r->den;
    }
}

// ---------------------------------------------------------------------------
struct ListCase {
    const char* name;
    std::vector<mp::FrameTime> frames;  // storage order
    std::string expected;               // whole file
};

TEST(MpTimecodeList, WritesSortedListAndEndLine)
{
    const std::vector<ListCase> cases = {
        {"storage order of B-frames is sorted",
         {{0, 40000000}, {120000000, 40000000}, {40000000, 40000000}, {80000000, 40000000}},
         "# timecode format v2\n0\n40\n80\n120\n160\n"},
        {"end uses the duration of the latest frame, not the last stored",
         {{100000000, 10000000}, {50000000, 99000000}},
         "# timecode format v2\n50\n100\n110\n"},
        {"no duration: last interval",
         {{1000000000, std::nullopt}, {1040000000, std::nullopt}, {1100500000, std::nullopt}},
         "# timecode format v2\n1000\n1040\n1100.5\n1161\n"},
        {"single frame without duration ends where it starts",
         {{5000000, std::nullopt}},
         "# timecode format v2\n5\n5\n"},
        {"equal latest timestamps: the longer duration",
         {{0, 5000000}, {10000000, 1000000}, {10000000, 3000000}, {10000000, 2000000}},
         "# timecode format v2\n0\n10\n10\n10\n13\n"},
        {"fractional milliseconds",
         {{1000250000, 33366700}, {1033616700, 33366700}},
         "# timecode format v2\n1000.25\n1033.6167\n1066.9834\n"},
        {"negative timestamps sort first",
         {{0, 20000000}, {-20000000, 20000000}},
         "# timecode format v2\n-20\n0\n20\n"},
    };
    for (const auto& c : cases) {
        mp::TimecodeList list;
        for (const auto& f : c.frames)
            list.add(f);
        list.finish();
        EXPECT_EQ(list.size(), c.frames.size()) << c.name;
        std::FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(list.write(f)) << c.name;
        std::rewind(f);
        std::string text;
        for (int ch; (ch = std::fgetc(f)) != EOF;)
            text += static_cast<char>(ch);
        std::fclose(f);
        EXPECT_EQ(text, c.expected) << c.name;
    }
}

std::string sample_file(bool cluster_first)
{
    const std::string ebml = element(0x1A45DFA3, element(0x4282, "matroska"));
    const std::string info = element(0x1549A966, uint_element(0x2AD7B1, 10000));
    const std::string audio =
        element(0xAE, uint_element(0xD7, 1) + uint_element(0x83, 2) + element(0x86, "A_FLAC"));
    const std::string video = element(0xAE, uint_element(0xD7, 2) + uint_element(0x83, 1) +
                                                 element(0x86, std::string("V_MS/VFW/FOURCC\0\0", 17)) +
                                                 uint_element(0x23E383, 41708333));
    const std::string tracks = element(0x1654AE6B, audio + video);
    const std::string cluster = element(0x1F43B675, std::string(100, '\x55'));
    const std::string body = cluster_first ? info + cluster + tracks : info + tracks + cluster;
    return ebml + element(0x18538067, body);
}

std::optional<mp::MatroskaHeader> header_of(const std::string& bytes)
{
    mp::SourceReader reader(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    return mp::read_matroska_header(reader);
}

TEST(MpMatroskaHeader, ReadsTracksAndDefaultDuration)
{
    for (const bool cluster_first : {false, true}) {
        const std::string file = sample_file(cluster_first);
        const auto header = header_of(file);
        ASSERT_TRUE(header.has_value()) << cluster_first;
        EXPECT_EQ(header->timestamp_scale_ns, 10000u);
        ASSERT_EQ(header->tracks.size(), 2u);
        EXPECT_EQ(header->tracks[0].codec_id, "A_FLAC");
        EXPECT_FALSE(header->tracks[0].default_duration_ns.has_value());
        const mp::MatroskaTrack* video = header->find_track(2);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->type, 1u);
        EXPECT_EQ(video->codec_id, "V_MS/VFW/FOURCC");
        EXPECT_EQ(video->default_duration_ns, 41708333u);
        EXPECT_EQ(header->segment_end, file.size());
    }
}

TEST(MpMatroskaHeader, DamagedOrCutInputIsRejectedWithoutCrashing)
{
    const std::string file = sample_file(false);
    // Every cut-off point: either no header, or a header whose segment ends
    // beyond the data (the caller's cut-off check).
    for (size_t length = 0; length < file.size(); ++length) {
        const auto header = header_of(file.substr(0, length));
        if (header) {
            EXPECT_GT(*header->segment_end, length);
        }
    }
    struct Case {
        const char* name;
        std::string data;
    };
    const std::vector<Case> bad = {
        {"empty", ""},
        {"text", "hello, this is not matroska"},
        {"zero id", std::string(64, '\0')},
        {"no segment", element(0x1A45DFA3, "") + element(0xEC, "void")},
        {"huge tracks", element(0x1A45DFA3, "") + id_bytes(0x18538067) + vint_size(1000) + id_bytes(0x1654AE6B) +
                            vint_size(uint64_t{1} << 50)},
        {"tracks overrun", element(0x1A45DFA3, "") + id_bytes(0x18538067) + vint_size(1000) + id_bytes(0x1654AE6B) +
                               vint_size(500) + "short"},
    };
    for (const auto& c : bad) {
        EXPECT_FALSE(header_of(c.data).has_value()) << c.name;
    }
}

// ---------------------------------------------------------------------------
TEST(MpFourcc, Table)
{
    struct Case {
        AVCodecID codec;
        const char* source_tag;  // nullptr: none
        const char* expected;    // nullptr: no FourCC
    };
    const std::vector<Case> cases = {
        {AV_CODEC_ID_H264, nullptr, "H264"},
        {AV_CODEC_ID_HEVC, nullptr, "HEVC"},
        {AV_CODEC_ID_HEVC, "hvc1", "HEVC"},
        {AV_CODEC_ID_MPEG4, "XVID", "XVID"},
        {AV_CODEC_ID_MPEG4, "DX50", "DX50"},
        {AV_CODEC_ID_MPEG4, nullptr, "FMP4"},
        {AV_CODEC_ID_MPEG4, "H264", "FMP4"},  // a tag of another codec is not kept
        {AV_CODEC_ID_FFV1, "FFV1", "FFV1"},
        {AV_CODEC_ID_VP8, nullptr, "VP80"},
        {AV_CODEC_ID_PRORES, nullptr, nullptr},
        {AV_CODEC_ID_NONE, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const uint32_t tag = c.source_tag ? MKTAG(c.source_tag[0], c.source_tag[1], c.source_tag[2], c.source_tag[3]) : 0;
        const uint32_t got = mp::choose_fourcc(c.codec, tag);
        if (!c.expected) {
            EXPECT_EQ(got, 0u) << avcodec_get_name(c.codec);
        } else {
            EXPECT_EQ(got, MKTAG(c.expected[0], c.expected[1], c.expected[2], c.expected[3]))
                << avcodec_get_name(c.codec) << " " << (c.source_tag ? c.source_tag : "");
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Frame copying

namespace copy_tests {

std::vector<uint8_t> pattern(size_t size, uint8_t salt)
{
    std::vector<uint8_t> v(size);
    uint32_t x = salt * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

std::vector<uint8_t> length_prefixed(const std::vector<std::vector<uint8_t>>& nals, int length_size)
{
    std::vector<uint8_t> out;
    for (const auto& nal : nals) {
        for (int i = length_size - 1; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(nal.size() >> (8 * i)));
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

// RangeWriter must produce exactly the bytes it is given, whether pieces
// are copied from the source or written from memory, with seeks between.
TEST(MpFrameCopy, RangeWriterWritesExactBytes)
{
    const auto source_bytes = pattern(200000, 7);
    char source_name[] = "/tmp/mp-range-src-XXXXXX";
    const int source_fd = mkstemp(source_name);
    ASSERT_GE(source_fd, 0);
    ASSERT_EQ(write(source_fd, source_bytes.data(), source_bytes.size()),
              static_cast<ssize_t>(source_bytes.size()));

    // Three ways: kernel copies, no source at all, and (where /dev/shm is
    // another file system) copies that fail and fall back to memory.
    struct stat tmp_stat {}, shm_stat {};
    const bool other_fs = stat("/tmp", &tmp_stat) == 0 && stat("/dev/shm", &shm_stat) == 0 &&
                          tmp_stat.st_dev != shm_stat.st_dev;
    for (const int mode : {0, 1, 2}) {
        if (mode == 2 && !other_fs)
            continue;
        const bool with_source = mode != 1;
        char out_name[] = "/dev/shm/mp-range-out-XXXXXX";
        std::FILE* out = nullptr;
        if (mode == 2) {
            const int fd = mkstemp(out_name);
            ASSERT_GE(fd, 0);
            unlink(out_name);
            out = fdopen(fd, "w+b");
        } else {
            out = std::tmpfile();
        }
        ASSERT_NE(out, nullptr);
        std::vector<uint8_t> expected;
        {
            mp::RangeWriter writer(out, with_source ? source_fd : -1);
            const std::vector<uint8_t> header = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
            ASSERT_EQ(writer.write(header.data(), header.size()), 0);
            expected.insert(expected.end(), header.begin(), header.end());

            // A frame: 10 literal bytes, then 150000 bytes from source
            // offset 12345, then 7 literal bytes.
            std::vector<uint8_t> frame = pattern(10, 8);
            frame.insert(frame.end(), source_bytes.begin() + 12345, source_bytes.begin() + 12345 + 150000);
            const auto tail = pattern(7, 9);
            frame.insert(frame.end(), tail.begin(), tail.end());
            const std::vector<mp::Piece> pieces = {{0, 10, -1}, {10, 150000, 12345}, {150010, 7, -1}};
            if (with_source) {
                // The copied range comes from the source, never from memory,
                // even when the kernel cannot copy: memory holds only the
                // literal pieces.
                std::vector<uint8_t> literal_only = frame;
                std::fill(literal_only.begin() + 10, literal_only.begin() + 150010, 0);
                ASSERT_EQ(writer.write_pieces(literal_only.data(), pieces), 0);
            } else {
                {
                    std::FILE* other = std::tmpfile();
                    ASSERT_NE(other, nullptr);
                    mp::RangeWriter sourceless(other, -1);
                    EXPECT_EQ(sourceless.write_pieces(frame.data(), {{0, 150000, 12345}}), -EBADF)
                        << "a copy without a source";
                    std::fclose(other);
                }
                ASSERT_EQ(writer.write(frame.data(), frame.size()), 0);
            }
            expected.insert(expected.end(), frame.begin(), frame.end());

            // Go back and fill in the header size, as the AVI muxer does.
            EXPECT_EQ(writer.seek(4, SEEK_SET), 4);
            const std::vector<uint8_t> size_field = {1, 2, 3, 4};
            ASSERT_EQ(writer.write(size_field.data(), size_field.size()), 0);
            std::copy(size_field.begin(), size_field.end(), expected.begin() + 4);
            EXPECT_EQ(writer.seek(0, SEEK_END), static_cast<int64_t>(expected.size()));
            EXPECT_EQ(writer.size(), static_cast<int64_t>(expected.size()));
            ASSERT_EQ(writer.flush(), 0);
#if defined(__linux__)
            if (mode == 0) {
                EXPECT_EQ(writer.bytes_copied(), 150000u);
            }
#endif
            if (mode != 0) {
                EXPECT_EQ(writer.bytes_copied(), 0u);
            }
        }
        std::fflush(out);
        std::rewind(out);
        std::vector<uint8_t> got(expected.size() + 16);
        got.resize(std::fread(got.data(), 1, got.size(), out));
        std::fclose(out);
        EXPECT_EQ(got, expected) << "mode " << mode;
    }
    close(source_fd);
    unlink(source_name);
}

}  // namespace copy_tests
