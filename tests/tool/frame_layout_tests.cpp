// Laying out frames on the direct way: stand-in frames made from the
// source and expanded again after the conversion, and the writer that puts
// literal pieces and copied ranges together into the AVI file.
#include "range_writer.hpp"
#include "source_reader.hpp"
#include "stand_ins.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename Case>
std::string row_name(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t size, uint8_t salt)
{
    Bytes v(size);
    uint32_t x = salt * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

void append(Bytes& to, const Bytes& what)
{
    to.insert(to.end(), what.begin(), what.end());
}

const Bytes kStartCode = {0, 0, 0, 1};

// ---------------------------------------------------------------------------
// Stand-ins made from a frame in the source, converted the way the
// conversion filter does (each length field becomes a start code), and
// expanded again must give the real converted frame.

struct MakerCase {
    const char* name;
    int length_size;
    std::vector<size_t> nal_sizes;
    size_t threshold;
    int stand_ins;  // expected count; -1: the frame is refused
    Bytes raw = {};  // the frame itself instead of one made from nal_sizes
};

void PrintTo(const MakerCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpStandInMaker : public ::testing::TestWithParam<MakerCase> {};

TEST_P(MpStandInMaker, StandInsExpandToTheConvertedFrame)
{
    const MakerCase& c = GetParam();
    // The frame lies at an offset in the source, as in a real file.
    constexpr size_t kAt = 100;
    Bytes source = pattern(kAt, 1);
    Bytes frame = c.raw;
    Bytes converted_real;  // what the conversion makes of the real frame
    std::vector<Bytes> nals;
    for (size_t i = 0; i < c.nal_sizes.size(); ++i) {
        nals.push_back(pattern(c.nal_sizes[i], static_cast<uint8_t>(i + 2)));
        for (int b = c.length_size - 1; b >= 0; --b)
            frame.push_back(static_cast<uint8_t>(nals.back().size() >> (8 * b)));
        append(frame, nals.back());
        append(converted_real, kStartCode);
        append(converted_real, nals.back());
    }
    append(source, frame);
    append(source, pattern(50, 9));

    mp::SourceReader reader(source);
    mp::StandInMaker maker(c.length_size, c.threshold);
    const bool made = maker.make(reader, kAt, frame.size());
    ASSERT_EQ(made, c.stand_ins >= 0);
    if (!made)
        return;
    ASSERT_EQ(maker.stand_ins().size(), static_cast<size_t>(c.stand_ins));
    std::set<Bytes> markers;
    for (const mp::StandIn& s : maker.stand_ins()) {
        markers.insert(Bytes(s.marker.begin(), s.marker.end()));
        // The conversion sees the body's real first bytes.
        EXPECT_TRUE(std::equal(s.head.begin(), s.head.end(), source.begin() + s.source_offset));
    }
    EXPECT_EQ(markers.size(), maker.stand_ins().size()) << "every marker is unique";

    // The conversion of the stand-in frame.
    Bytes converted;
    const Bytes& stand_in = maker.frame();
    for (size_t at = 0; at < stand_in.size();) {
        size_t length = 0;
        for (int b = 0; b < c.length_size; ++b)
            length = (length << 8) | stand_in[at++];
        append(converted, kStartCode);
        converted.insert(converted.end(), stand_in.begin() + static_cast<long>(at),
                         stand_in.begin() + static_cast<long>(at + length));
        at += length;
    }

    mp::FrameBuffer buffer;
    size_t size = 0;
    const auto pieces =
        mp::expand_stand_ins(converted.data(), converted.size(), maker.stand_ins(), buffer, size);
    ASSERT_TRUE(pieces.has_value());
    ASSERT_EQ(size, converted_real.size());
    Bytes expanded;
    for (const mp::Piece& p : *pieces) {
        ASSERT_EQ(p.out_offset, expanded.size()) << "the pieces follow each other";
        const uint8_t* from = p.source_offset >= 0 ? source.data() + p.source_offset : buffer.data() + p.out_offset;
        expanded.insert(expanded.end(), from, from + p.length);
    }
    EXPECT_TRUE(expanded == converted_real) << "the expanded frame differs from the converted one";
}

INSTANTIATE_TEST_SUITE_P(
    Frames, MpStandInMaker,
    ::testing::Values(MakerCase{"SmallBodiesStayWhole", 4, {5, 100, 200}, 4096, 0},
                      MakerCase{"LargeBodiesBecomeStandIns", 4, {5, 5000, 9000}, 4096, 2},
                      MakerCase{"TwoByteLengthFields", 2, {300, 5000}, 4096, 1},
                      MakerCase{"OneByteLengthFields", 1, {200, 100}, 32, 2},
                      MakerCase{"ThresholdBelowTheHeadIsTheHead", 4, {32, 33}, 1, 1},
                      MakerCase{"ThresholdAboveAReadIsARead", 4, {20000}, 1 << 20, 1},
                      MakerCase{"EmptyBody", 4, {0, 5000}, 4096, 1},
                      MakerCase{"LengthPastTheEnd", 4, {}, 4096, -1, {0, 0, 0, 9, 1, 2}},
                      MakerCase{"CutLengthField", 4, {}, 4096, -1, {0, 0, 0, 1, 7, 0, 0}}),
    row_name<MakerCase>);

// ---------------------------------------------------------------------------
// Expanding a converted stand-in frame directly, and what it refuses.

mp::StandIn stand_in(int64_t offset, size_t length, uint8_t fill, uint8_t tag)
{
    mp::StandIn s;
    s.source_offset = offset;
    s.length = length;
    s.head.fill(fill);
    s.marker.fill(tag);
    return s;
}

void append(Bytes& to, const mp::StandIn& s)
{
    to.insert(to.end(), s.head.begin(), s.head.end());
    to.insert(to.end(), s.marker.begin(), s.marker.end());
}

const Bytes kParams = {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3};
const Bytes kShortStart = {0, 0, 1};
const Bytes kSmallNal = {0x06, 5, 5, 5};
const mp::StandIn kFirst = stand_in(1000, 5000, 0x65, 0xA1);
const mp::StandIn kSecond = stand_in(9000, 70000, 0x41, 0xB2);
const size_t kFirstAt = kParams.size() + kShortStart.size();

// What the conversion makes of a stand-in frame: parameter sets inserted,
// start codes, a small NAL unit kept whole between two stand-ins.
Bytes converted_frame()
{
    Bytes converted = kParams;
    append(converted, kShortStart);
    append(converted, kFirst);
    append(converted, kShortStart);
    append(converted, kSmallNal);
    append(converted, kShortStart);
    append(converted, kSecond);
    return converted;
}

TEST(MpStandIns, ExpandIntoLiteralPiecesAndCopies)
{
    const Bytes converted = converted_frame();
    mp::FrameBuffer frame;
    size_t size = 0;
    const auto pieces = mp::expand_stand_ins(converted.data(), converted.size(), {kFirst, kSecond}, frame, size);
    ASSERT_TRUE(pieces.has_value());
    const size_t second_at = kFirstAt + 5000 + 2 * kShortStart.size() + kSmallNal.size();
    const std::vector<mp::Piece> expected = {
        {0, kFirstAt, -1},
        {kFirstAt, 5000, 1000},
        {kFirstAt + 5000, second_at - kFirstAt - 5000, -1},
        {second_at, 70000, 9000},
    };
    EXPECT_EQ(*pieces, expected);
    EXPECT_EQ(size, second_at + 70000);
    // The literal pieces hold the converted bytes around the stand-ins.
    EXPECT_EQ(std::memcmp(frame.data(), converted.data(), kFirstAt), 0);
    Bytes between = kShortStart;
    append(between, kSmallNal);
    append(between, kShortStart);
    EXPECT_EQ(std::memcmp(frame.data() + kFirstAt + 5000, between.data(), between.size()), 0);
}

struct BadExpandCase {
    const char* name;
    std::vector<mp::StandIn> stand_ins;
    size_t changed_byte;  // flipped in the converted frame; SIZE_MAX: none
    size_t cut;           // bytes cut off the converted frame's end
};

void PrintTo(const BadExpandCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpStandInsRefused : public ::testing::TestWithParam<BadExpandCase> {};

TEST_P(MpStandInsRefused, GiveNoLayout)
{
    const BadExpandCase& c = GetParam();
    Bytes converted = converted_frame();
    if (c.changed_byte != SIZE_MAX)
        converted[c.changed_byte] ^= 1;
    converted.resize(converted.size() - c.cut);
    mp::FrameBuffer frame;
    size_t size = 0;
    EXPECT_FALSE(mp::expand_stand_ins(converted.data(), converted.size(), c.stand_ins, frame, size));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, MpStandInsRefused,
    ::testing::Values(BadExpandCase{"OutOfOrder", {kSecond, kFirst}, SIZE_MAX, 0},
                      BadExpandCase{"HeadChangedByTheConversion", {kFirst, kSecond}, kFirstAt + 3, 0},
                      BadExpandCase{"MarkerMissing", {kFirst, kSecond}, SIZE_MAX, 1},
                      BadExpandCase{"NoLongerThanItsHead", {stand_in(0, mp::kStandInHead, 0x65, 0xA1)}, SIZE_MAX, 0}),
    row_name<BadExpandCase>);

// ---------------------------------------------------------------------------
// RangeWriter must produce exactly the bytes it is given, whether pieces
// are copied from the source or written from memory, with seeks between.

enum class Copies { ByTheKernel, NoSource, FromAnotherFileSystem };

struct WriterCase {
    const char* name;
    Copies copies;
};

void PrintTo(const WriterCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpRangeWriter : public ::testing::TestWithParam<WriterCase> {};

TEST_P(MpRangeWriter, WritesExactBytes)
{
    const Copies copies = GetParam().copies;
    // Where /dev/shm is another file system, the kernel cannot copy there
    // and the writer falls back to reading and writing.
    struct stat tmp_stat {}, shm_stat {};
    const bool other_fs = stat("/tmp", &tmp_stat) == 0 && stat("/dev/shm", &shm_stat) == 0 &&
                          tmp_stat.st_dev != shm_stat.st_dev;
    if (copies == Copies::FromAnotherFileSystem && !other_fs)
        GTEST_SKIP() << "/dev/shm is on the same file system as /tmp";

    const Bytes source_bytes = pattern(200000, 7);
    char source_name[] = "/tmp/mp-range-src-XXXXXX";
    const int source_fd = mkstemp(source_name);
    ASSERT_GE(source_fd, 0);
    unlink(source_name);
    ASSERT_EQ(write(source_fd, source_bytes.data(), source_bytes.size()), static_cast<ssize_t>(source_bytes.size()));
    std::FILE* out = nullptr;
    if (copies == Copies::FromAnotherFileSystem) {
        char out_name[] = "/dev/shm/mp-range-out-XXXXXX";
        const int fd = mkstemp(out_name);
        ASSERT_GE(fd, 0);
        unlink(out_name);
        out = fdopen(fd, "w+b");
    } else {
        out = std::tmpfile();
    }
    ASSERT_NE(out, nullptr);

    Bytes expected;
    {
        const bool with_source = copies != Copies::NoSource;
        mp::RangeWriter writer(out, with_source ? source_fd : -1);
        const Bytes header = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
        ASSERT_EQ(writer.write(header.data(), header.size()), 0);
        append(expected, header);

        // A frame: 10 literal bytes, then 150000 bytes from source offset
        // 12345, then 7 literal bytes.
        Bytes frame = pattern(10, 8);
        frame.insert(frame.end(), source_bytes.begin() + 12345, source_bytes.begin() + 12345 + 150000);
        append(frame, pattern(7, 9));
        const std::vector<mp::Piece> pieces = {{0, 10, -1}, {10, 150000, 12345}, {150010, 7, -1}};
        if (with_source) {
            // The copied range comes from the source, never from memory,
            // even when the kernel cannot copy: memory holds only the
            // literal pieces.
            Bytes literal_only = frame;
            std::fill(literal_only.begin() + 10, literal_only.begin() + 150010, 0);
            ASSERT_EQ(writer.write_pieces(literal_only.data(), pieces), 0);
        } else {
            EXPECT_EQ(writer.write_pieces(frame.data(), pieces), -EBADF) << "a copy without a source";
            ASSERT_EQ(writer.seek(static_cast<int64_t>(expected.size()), SEEK_SET),
                      static_cast<int64_t>(expected.size()));
            ASSERT_EQ(writer.write(frame.data(), frame.size()), 0);
        }
        append(expected, frame);

        // Go back and fill in the header size, as the AVI muxer does.
        EXPECT_EQ(writer.seek(4, SEEK_SET), 4);
        const Bytes size_field = {1, 2, 3, 4};
        ASSERT_EQ(writer.write(size_field.data(), size_field.size()), 0);
        std::copy(size_field.begin(), size_field.end(), expected.begin() + 4);
        EXPECT_EQ(writer.seek(0, SEEK_END), static_cast<int64_t>(expected.size()));
        EXPECT_EQ(writer.size(), static_cast<int64_t>(expected.size()));
        ASSERT_EQ(writer.flush(), 0);
        EXPECT_EQ(writer.bytes_copied(), copies == Copies::ByTheKernel ? 150000u : 0u);
    }
    std::fflush(out);
    std::rewind(out);
    Bytes got(expected.size() + 16);
    got.resize(std::fread(got.data(), 1, got.size(), out));
    std::fclose(out);
    close(source_fd);
    EXPECT_TRUE(got == expected) << "the written file differs (" << got.size() << " bytes)";
}

INSTANTIATE_TEST_SUITE_P(Ways, MpRangeWriter,
                         ::testing::Values(WriterCase{"KernelCopies", Copies::ByTheKernel},
                                           WriterCase{"NoSource", Copies::NoSource},
                                           WriterCase{"CopiesAcrossFileSystems", Copies::FromAnotherFileSystem}),
                         row_name<WriterCase>);

}  // namespace
