// Reading Matroska: the EBML numbers, and the scan of the bytes as they go
// by, which must find the same header and blocks however the bytes are cut
// into reads.
#include "ebml_builders.hpp"
#include "matroska_file.hpp"
#include "source/ebml.hpp"
#include "source/matroska.hpp"
#include "source/matroska_scan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace mptest::ebml_builders;
namespace mkv = mp::mkv;

template <typename Case>
std::string row_name(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

// ---------------------------------------------------------------------------
struct NumberCase {
    const char* name;
    bool id;  // an element ID, else a size
    std::string bytes;
    std::optional<uint64_t> value;  // nullopt: refused
};

void PrintTo(const NumberCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpEbmlNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(MpEbmlNumber, ReadsOrRefuses)
{
    const NumberCase& c = GetParam();
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
    mp::ebml::Span s{p, p + c.bytes.size()};
    uint32_t id = 0;
    uint64_t size = 0;
    const bool ok = c.id ? mp::ebml::read_id(s, id) : mp::ebml::read_size(s, size);
    ASSERT_EQ(ok, c.value.has_value());
    if (ok) {
        EXPECT_EQ(c.id ? id : size, *c.value);
        EXPECT_EQ(s.p, p + c.bytes.size()) << "reads the whole number and no more";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, MpEbmlNumber,
    ::testing::Values(NumberCase{"OneByteId", true, "\xA3", 0xA3},
                      NumberCase{"FourByteId", true, "\x1A\x45\xDF\xA3", 0x1A45DFA3},
                      NumberCase{"FiveByteIdRefused", true, std::string("\x08\x00\x00\x00\x01", 5), std::nullopt},
                      NumberCase{"ZeroIdRefused", true, std::string(1, '\0'), std::nullopt},
                      NumberCase{"CutIdRefused", true, "\x1A\x45", std::nullopt},
                      NumberCase{"EmptyIdRefused", true, "", std::nullopt},
                      NumberCase{"OneByteSize", false, "\x85", 5},
                      NumberCase{"TwoByteSize", false, std::string("\x40\x02", 2), 2},
                      NumberCase{"EightByteSize", false, std::string("\x01\0\0\0\0\0\x01\x10", 8), 0x110},
                      NumberCase{"AllOnesIsUnknown", false, "\xFF", mp::ebml::kUnknownSize},
                      NumberCase{"LongAllOnesIsUnknown", false, "\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF",
                                 mp::ebml::kUnknownSize},
                      NumberCase{"AllButOneBitIsKnown", false, "\x7F\xFE", 0x3FFE},
                      NumberCase{"ZeroSizeRefused", false, std::string(1, '\0'), std::nullopt},
                      NumberCase{"CutSizeRefused", false, "\x40", std::nullopt}),
    row_name<NumberCase>);

// ---------------------------------------------------------------------------
// The scan, fed the bytes whole and in pieces of every awkward size.

using mptest::matroska_file::block;
using mptest::matroska_file::cluster;

struct Seen {
    uint64_t track;
    std::optional<int64_t> ticks;
    std::optional<uint64_t> duration;
    uint64_t frame_bytes;
    int frames;
    bool readable;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s)
{
    return os << "{track " << s.track << " at " << (s.ticks ? std::to_string(*s.ticks) : "-") << " dur "
              << (s.duration ? std::to_string(*s.duration) : "-") << " bytes " << s.frame_bytes << " frames "
              << s.frames << (s.readable ? "" : " unreadable") << "}";
}

struct Scanned {
    std::vector<Seen> blocks;
    uint64_t timestamp_scale = 0;
    size_t tracks = 0;
    std::optional<uint64_t> segment_end;
    bool stopped = false;
};

// Feeds `file` in pieces of `piece` bytes (0: whole) and checks that every
// block's position is that of its data, which starts with the track number.
Scanned scan(const std::string& file, size_t piece)
{
    mp::MatroskaScan scan;
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    const size_t step = piece ? piece : file.size();
    for (size_t at = 0; at < file.size(); at += step)
        scan.feed(at, bytes + at, std::min(step, file.size() - at));
    Scanned s;
    for (const mp::ScannedBlock& b : scan.blocks()) {
        s.blocks.push_back({b.track, b.ticks, b.duration_ticks, b.frame_bytes, b.frames, b.readable});
        EXPECT_EQ(static_cast<uint8_t>(file.at(b.pos)), 0x80 | b.track);
    }
    s.timestamp_scale = scan.head().timestamp_scale_ns;
    s.tracks = scan.head().tracks.size();
    s.segment_end = scan.head().segment_end;
    s.stopped = scan.stopped();
    return s;
}

std::string tracks()
{
    const std::string audio = element(mkv::kTrackEntry, uint_element(mkv::kTrackNumber, 1) +
                                                            uint_element(mkv::kTrackType, mkv::kAudioTrack) +
                                                            element(mkv::kCodecId, "A_FLAC"));
    const std::string video = element(
        mkv::kTrackEntry, uint_element(mkv::kTrackNumber, 2) + uint_element(mkv::kTrackType, mkv::kVideoTrack) +
                              element(mkv::kCodecId, std::string("V_MS/VFW/FOURCC\0\0", 17)) +
                              uint_element(mkv::kDefaultDuration, 41708333));
    return element(mkv::kTracks, audio + video);
}

std::string good_clusters()
{
    return cluster(100, element(mkv::kSimpleBlock, block(2, 5, 0x80, "key-frame")) +
                            element(mkv::kSimpleBlock, block(1, 0, 0x80, "audio")) + element(mkv::kVoid, "....") +
                            element(mkv::kBlockGroup, element(mkv::kBlock, block(2, -3, 0, "b-frame")) +
                                                          uint_element(mkv::kReferenceBlock, 1) +
                                                          uint_element(mkv::kBlockDuration, 7))) +
           cluster(200, element(mkv::kSimpleBlock, block(2, 0, 0, "p-frame")) +
                            element(mkv::kBlockGroup, element(mkv::kBlock, block(2, 40, 0, "group-key")) +
                                                          uint_element(mkv::kBlockDuration, 0)));
}

const std::vector<Seen> kGoodBlocks = {{2, 105, std::nullopt, 9, 1, true},
                                       {1, 100, std::nullopt, 5, 1, true},
                                       {2, 97, 7, 7, 1, true},
                                       {2, 200, std::nullopt, 7, 1, true},
                                       {2, 240, 0, 9, 1, true}};

struct ScanCase {
    const char* name;
    std::string segment_body;
    std::vector<Seen> blocks;
    bool stopped = false;
    bool unknown_segment_size = false;
};

void PrintTo(const ScanCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpMatroskaScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(MpMatroskaScan, SameHeaderAndBlocksHoweverTheReadsAreCut)
{
    const ScanCase& c = GetParam();
    std::string file = element(mkv::kEbml, element(mkv::kDocType, "matroska")) + id_bytes(mkv::kSegment);
    file += c.unknown_segment_size ? std::string("\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8)
                                   : vint_size(c.segment_body.size());
    const uint64_t start = file.size();
    file += element(mkv::kInfo, uint_element(mkv::kTimestampScale, 10000)) + tracks() + c.segment_body;
    const std::optional<uint64_t> end =
        c.unknown_segment_size ? std::nullopt : std::optional<uint64_t>(file.size());
    if (!c.unknown_segment_size)  // the segment's size covers Info and Tracks too
        file.replace(start - 8, 8, vint_size(file.size() - start));

    for (const size_t piece : {size_t{0}, size_t{1}, size_t{3}, size_t{7}, size_t{4096}}) {
        SCOPED_TRACE("fed in pieces of " + std::to_string(piece));
        const Scanned s = scan(file, piece);
        EXPECT_EQ(s.blocks, c.blocks);
        EXPECT_EQ(s.stopped, c.stopped);
        EXPECT_EQ(s.timestamp_scale, 10000u);
        EXPECT_EQ(s.tracks, 2u);
        EXPECT_EQ(s.segment_end, end);
    }
    // Cut anywhere: the blocks found are the first ones of the whole file.
    for (size_t length = 0; length < file.size(); ++length) {
        const Scanned s = scan(file.substr(0, length), 5);
        ASSERT_LE(s.blocks.size(), c.blocks.size());
        EXPECT_TRUE(std::equal(s.blocks.begin(), s.blocks.end(), c.blocks.begin())) << "cut at " << length;
    }
}

const std::string kShortBlock = element(mkv::kSimpleBlock, std::string("\x82\x00", 2));

INSTANTIATE_TEST_SUITE_P(
    Segments, MpMatroskaScan,
    ::testing::Values(
        ScanCase{"PlainClustersCuesAndOtherTracks", element(mkv::kCues, "cue") + good_clusters(), kGoodBlocks},
        ScanCase{"SegmentOfUnknownSize", good_clusters(), kGoodBlocks, false, true},
        ScanCase{"ClusterOfUnknownSize",
                 id_bytes(mkv::kCluster) + std::string("\xFF") + uint_element(mkv::kTimestamp, 1) +
                     element(mkv::kSimpleBlock, block(2, 0, 0x80, "x")) + element(mkv::kCues, "cue") +
                     cluster(9, element(mkv::kSimpleBlock, block(2, 1, 0x80, "y"))),
                 {{2, 1, std::nullopt, 1, 1, true}, {2, 10, std::nullopt, 1, 1, true}}},
        ScanCase{"LacedEmptyAndShortBlocks",
                 cluster(20, element(mkv::kSimpleBlock, block(2, 0, 0x82, std::string("\x02", 1) + "laced")) +
                                 element(mkv::kSimpleBlock, block(2, 1, 0x80, "")) + kShortBlock),
                 {{2, 20, std::nullopt, 5, 3, true}, {2, 21, std::nullopt, 0, 1, true}, {2, std::nullopt, std::nullopt, 0, 1, false}}},
        ScanCase{"TimestampBeforeZeroAndBlockBeforeTheClusterTimestamp",
                 cluster(0, element(mkv::kSimpleBlock, block(2, -200, 0x80, "x"))) +
                     element(mkv::kCluster, element(mkv::kSimpleBlock, block(2, 0, 0x80, "y")) +
                                                uint_element(mkv::kTimestamp, 5)),
                 {{2, -200, std::nullopt, 1, 1, true}, {2, std::nullopt, std::nullopt, 1, 1, true}}},
        ScanCase{"ElementOverrunningItsCluster",
                 cluster(10, element(mkv::kSimpleBlock, block(2, 0, 0x80, "first"))) +
                     element(mkv::kCluster, id_bytes(mkv::kSimpleBlock) + vint_size(1000) + "short"),
                 {{2, 10, std::nullopt, 5, 1, true}}, true}),
    row_name<ScanCase>);

// What the EBML header asks of a reader is kept for the messages.
TEST(MpMatroskaScanEbmlHeader, KeepsTheReadersRequirements)
{
    const std::string file =
        element(mkv::kEbml, uint_element(mkv::kEbmlMaxIdLength, 5) + uint_element(mkv::kEbmlMaxSizeLength, 9) +
                                element(mkv::kDocType, std::string("webm\0", 5)) +
                                uint_element(mkv::kDocTypeReadVersion, 4));
    mp::MatroskaScan scan;
    scan.feed(0, reinterpret_cast<const uint8_t*>(file.data()), file.size());
    EXPECT_TRUE(scan.matroska());
    EXPECT_EQ(scan.head().max_id_length, 5u);
    EXPECT_EQ(scan.head().max_size_length, 9u);
    EXPECT_EQ(scan.head().doc_type, "webm");
    EXPECT_EQ(scan.head().doc_type_read_version, 4u);

    mp::MatroskaScan other;
    other.feed(0, reinterpret_cast<const uint8_t*>("RIFF....AVI "), 12);
    EXPECT_FALSE(other.matroska());
    EXPECT_TRUE(other.stopped());
}

}  // namespace
