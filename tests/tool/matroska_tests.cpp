// Reading Matroska: the EBML numbers, the header reader and the block
// scanner, from files and from bytes in memory.
#include "block_scan.hpp"
#include "ebml.hpp"
#include "ebml_builders.hpp"
#include "matroska.hpp"
#include "matroska_file.hpp"
#include "matroska_header.hpp"
#include "source_reader.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <span>
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

std::span<const uint8_t> bytes_of(const std::string& s)
{
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
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
// The header reader.

std::optional<mp::MatroskaHeader> header_of(const std::string& file)
{
    mp::SourceReader reader(bytes_of(file));
    return mp::read_matroska_header(reader);
}

std::string sample_file(bool cluster_first)
{
    const std::string ebml = element(mkv::kEbml, element(0x4282, "matroska"));
    const std::string info = element(mkv::kInfo, uint_element(mkv::kTimestampScale, 10000));
    const std::string audio = element(mkv::kTrackEntry, uint_element(mkv::kTrackNumber, 1) +
                                                            uint_element(mkv::kTrackType, mkv::kAudioTrack) +
                                                            element(mkv::kCodecId, "A_FLAC"));
    const std::string video = element(
        mkv::kTrackEntry, uint_element(mkv::kTrackNumber, 2) + uint_element(mkv::kTrackType, mkv::kVideoTrack) +
                              element(mkv::kCodecId, std::string("V_MS/VFW/FOURCC\0\0", 17)) +
                              uint_element(mkv::kDefaultDuration, 41708333));
    const std::string tracks = element(mkv::kTracks, audio + video);
    const std::string cluster = element(mkv::kCluster, std::string(100, '\x55'));
    const std::string body = cluster_first ? info + cluster + tracks : info + tracks + cluster;
    return ebml + element(mkv::kSegment, body);
}

struct LayoutCase {
    const char* name;
    bool cluster_first;
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpMatroskaHeader : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(MpMatroskaHeader, ReadsTracksAndDefaultDuration)
{
    const std::string file = sample_file(GetParam().cluster_first);
    const auto header = header_of(file);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->timestamp_scale_ns, 10000u);
    ASSERT_EQ(header->tracks.size(), 2u);
    EXPECT_EQ(header->tracks[0].codec_id, "A_FLAC");
    EXPECT_FALSE(header->tracks[0].default_duration_ns.has_value());
    const mp::MatroskaTrack* video = header->find_track(2);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->type, mkv::kVideoTrack);
    EXPECT_EQ(video->codec_id, "V_MS/VFW/FOURCC");
    EXPECT_TRUE(mkv::stored_in_vfw_mode(video->codec_id));
    EXPECT_EQ(video->default_duration_ns, 41708333u);
    EXPECT_EQ(header->segment_end, file.size());
}

INSTANTIATE_TEST_SUITE_P(Layouts, MpMatroskaHeader,
                         ::testing::Values(LayoutCase{"TracksBeforeClusters", false},
                                           LayoutCase{"ClusterBeforeTracks", true}),
                         row_name<LayoutCase>);

TEST(MpMatroskaHeaderCut, EveryCutIsRefusedOrShowsTheSegmentEndingLater)
{
    const std::string file = sample_file(false);
    // Either no header, or a header whose segment ends beyond the data (the
    // cut-off check of the demuxer way).
    for (size_t length = 0; length < file.size(); ++length) {
        const auto header = header_of(file.substr(0, length));
        if (header) {
            EXPECT_GT(*header->segment_end, length);
        }
    }
}

struct BadHeaderCase {
    const char* name;
    std::string data;
};

void PrintTo(const BadHeaderCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpMatroskaHeaderRefused : public ::testing::TestWithParam<BadHeaderCase> {};

TEST_P(MpMatroskaHeaderRefused, GivesNoHeader)
{
    EXPECT_FALSE(header_of(GetParam().data).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MpMatroskaHeaderRefused,
    ::testing::Values(BadHeaderCase{"Empty", ""}, BadHeaderCase{"Text", "hello, this is not matroska"},
                      BadHeaderCase{"ZeroId", std::string(64, '\0')},
                      BadHeaderCase{"NoSegment", element(mkv::kEbml, "") + element(mkv::kVoid, "void")},
                      BadHeaderCase{"HugeTracks", element(mkv::kEbml, "") + id_bytes(mkv::kSegment) +
                                                      vint_size(1000) + id_bytes(mkv::kTracks) +
                                                      vint_size(uint64_t{1} << 50)},
                      BadHeaderCase{"TracksOverrunTheFile", element(mkv::kEbml, "") + id_bytes(mkv::kSegment) +
                                                                vint_size(1000) + id_bytes(mkv::kTracks) +
                                                                vint_size(500) + "short"}),
    row_name<BadHeaderCase>);

// ---------------------------------------------------------------------------
// The block scanner, on a file and on the same bytes in memory.

using mptest::matroska_file::block;
using mptest::matroska_file::cluster;

struct Seen {
    int64_t ticks;
    bool key;
    std::optional<uint64_t> duration;
    std::string frame;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s)
{
    return os << "{" << s.ticks << (s.key ? " key" : "") << " dur " << (s.duration ? std::to_string(*s.duration) : "-")
              << " '" << s.frame << "'}";
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

const std::vector<Seen> kGoodBlocks = {{105, true, std::nullopt, "key-frame"},
                                       {97, false, 7, "b-frame"},
                                       {200, false, std::nullopt, "p-frame"},
                                       {240, true, std::nullopt, "group-key"}};

std::string first_cluster()
{
    return cluster(10, element(mkv::kSimpleBlock, block(2, 0, 0x80, "first")));
}

const std::vector<Seen> kFirstBlock = {{10, true, std::nullopt, "first"}};

struct ScanCase {
    const char* name;
    std::string segment_body;
    std::vector<Seen> blocks;  // of track 2, in order
    mp::BlockScanner::Step last;
    std::string after_segment = {};
    bool unknown_segment_size = false;
};

void PrintTo(const ScanCase& c, std::ostream* os)
{
    *os << c.name;
}

struct Scanned {
    std::vector<Seen> blocks;
    mp::BlockScanner::Step last;
    mp::BlockScanner::Step after_last;
};

Scanned scan(mp::SourceReader& reader, const std::string& file, uint64_t start, std::optional<uint64_t> end)
{
    mp::BlockScanner scanner(reader, start, end, 2, {1, 2});
    Scanned s;
    mp::BlockInfo b;
    while ((s.last = scanner.next(b)) == mp::BlockScanner::Step::Block && s.blocks.size() < 10) {
        s.blocks.push_back({b.ticks, b.key, b.duration_ticks, file.substr(b.data_offset, b.size)});
        // The block's data (libavformat's packet position) starts with the
        // track number; the header before the frame is 4 bytes here.
        EXPECT_EQ(file.at(b.block_offset), '\x82');
        EXPECT_EQ(b.data_offset - b.block_offset, 4u);
    }
    s.after_last = scanner.next(b);
    return s;
}

class MpBlockScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(MpBlockScan, FindsTheTracksBlocksOrReportsIrregularStructure)
{
    const ScanCase& c = GetParam();
    std::string file = element(mkv::kEbml, element(0x4282, "matroska")) + id_bytes(mkv::kSegment);
    file += c.unknown_segment_size ? std::string("\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8)
                                   : vint_size(c.segment_body.size());
    const uint64_t start = file.size();
    file += c.segment_body + c.after_segment;
    std::optional<uint64_t> end;
    if (!c.unknown_segment_size)
        end = start + c.segment_body.size();

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), f), file.size());
    std::fflush(f);
    mp::SourceReader from_file(fileno(f), file.size());
    mp::SourceReader from_memory(bytes_of(file));
    for (mp::SourceReader* reader : {&from_file, &from_memory}) {
        SCOPED_TRACE(reader == &from_file ? "from a file" : "from memory");
        const Scanned s = scan(*reader, file, start, end);
        EXPECT_EQ(s.blocks, c.blocks);
        EXPECT_EQ(s.last, c.last);
        EXPECT_EQ(s.after_last, c.last) << "the scan stays where it ended";
    }
    std::fclose(f);
}

using Step = mp::BlockScanner::Step;

INSTANTIATE_TEST_SUITE_P(
    Segments, MpBlockScan,
    ::testing::Values(
        ScanCase{"PlainClustersCuesAndOtherTracks",
                 element(mkv::kCues, "cue") + good_clusters() + element(mkv::kCues, "x"), kGoodBlocks, Step::End},
        ScanCase{"SegmentOfUnknownSize", good_clusters(), kGoodBlocks, Step::End, {}, true},
        ScanCase{"LacedBlock", first_cluster() + cluster(20, element(mkv::kSimpleBlock, block(2, 0, 0x82, "laced"))),
                 kFirstBlock, Step::Irregular},
        ScanCase{"ClusterOfUnknownSize",
                 first_cluster() + id_bytes(mkv::kCluster) + std::string("\xFF") + uint_element(mkv::kTimestamp, 1),
                 kFirstBlock, Step::Irregular},
        ScanCase{"BlockBeforeTheClusterTimestamp",
                 first_cluster() + element(mkv::kCluster, element(mkv::kSimpleBlock, block(2, 0, 0x80, "x")) +
                                                              uint_element(mkv::kTimestamp, 5)),
                 kFirstBlock, Step::Irregular},
        ScanCase{"UnknownElementInACluster", first_cluster() + cluster(20, element(0x4444, "what")), kFirstBlock,
                 Step::Irregular},
        ScanCase{"DamagedClusterId", first_cluster() + element(0x1F43B676, uint_element(mkv::kTimestamp, 3)),
                 kFirstBlock, Step::Irregular},
        ScanCase{"BlockOfATrackTheHeaderLacks",
                 first_cluster() + cluster(20, element(mkv::kSimpleBlock, block(9, 0, 0x80, "x"))), kFirstBlock,
                 Step::Irregular},
        ScanCase{"TimestampBeforeZero",
                 first_cluster() + cluster(0, element(mkv::kSimpleBlock, block(2, -1, 0x80, "x"))), kFirstBlock,
                 Step::Irregular},
        ScanCase{"TwoBlocksInAGroup",
                 first_cluster() + cluster(20, element(mkv::kBlockGroup, element(mkv::kBlock, block(2, 0, 0, "a")) +
                                                                             element(mkv::kBlock, block(2, 1, 0, "b")))),
                 kFirstBlock, Step::Irregular},
        ScanCase{"BlockWithoutFrameBytes",
                 first_cluster() + cluster(20, element(mkv::kSimpleBlock, block(2, 0, 0x80, ""))), kFirstBlock,
                 Step::Irregular},
        ScanCase{"ClusterOverrunsTheSegment",
                 first_cluster() + id_bytes(mkv::kCluster) + vint_size(1000) + uint_element(mkv::kTimestamp, 1),
                 kFirstBlock, Step::Irregular},
        // Elements libavformat's demuxer refuses, or skips, in a cluster it
        // otherwise reads.
        ScanCase{"ReferenceBlockOfNineBytes",
                 first_cluster() + cluster(20, element(mkv::kBlockGroup,
                                                       element(mkv::kBlock, block(2, 0, 0, "x")) +
                                                           element(mkv::kReferenceBlock, std::string(9, '\x01')))),
                 kFirstBlock, Step::Irregular},
        ScanCase{"DiscardPaddingOfNineBytes",
                 first_cluster() + cluster(20, element(mkv::kBlockGroup,
                                                       element(mkv::kBlock, block(2, 0, 0x80, "x")) +
                                                           element(mkv::kDiscardPadding, std::string(9, '\x01')))),
                 kFirstBlock, Step::Irregular},
        ScanCase{"DamagedGroupOfAnotherTrack",
                 first_cluster() + cluster(20, element(mkv::kBlockGroup,
                                                       element(mkv::kBlock, block(1, 0, 0, "audio")) +
                                                           element(mkv::kReferenceBlock, std::string(9, '\x01')))),
                 kFirstBlock, Step::Irregular},
        ScanCase{"BlockAdditionsOfAFrame",
                 first_cluster() +
                     cluster(20, element(mkv::kBlockGroup,
                                         element(mkv::kBlock, block(2, 0, 0, "with-alpha")) +
                                             element(mkv::kBlockAdditions,
                                                     element(mkv::kBlockMore,
                                                             uint_element(mkv::kBlockAddId, 1) +
                                                                 element(mkv::kBlockAdditional, "alpha"))))),
                 {kFirstBlock[0], {20, true, std::nullopt, "with-alpha"}}, Step::End},
        ScanCase{"BlockAddIdOfNineBytes",
                 first_cluster() +
                     cluster(20, element(mkv::kBlockGroup,
                                         element(mkv::kBlock, block(2, 0, 0, "x")) +
                                             element(mkv::kBlockAdditions,
                                                     element(mkv::kBlockMore,
                                                             element(mkv::kBlockAddId, std::string(9, '\x01')))))),
                 kFirstBlock, Step::Irregular},
        ScanCase{"UnknownElementInBlockAdditions",
                 first_cluster() + cluster(20, element(mkv::kBlockGroup,
                                                       element(mkv::kBlock, block(2, 0, 0, "x")) +
                                                           element(mkv::kBlockAdditions, element(0x4444, "what")))),
                 kFirstBlock, Step::Irregular},
        // The demuxer takes a cluster timestamp through a double, which
        // holds integers exactly up to 2^53.
        ScanCase{"ClusterTimestampAtTheExactLimit",
                 cluster(uint64_t{1} << 53, element(mkv::kSimpleBlock, block(2, 0, 0x80, "far"))),
                 {{int64_t{1} << 53, true, std::nullopt, "far"}}, Step::End},
        ScanCase{"ClusterTimestampPastTheExactLimit",
                 first_cluster() + cluster((uint64_t{1} << 53) + 1, element(mkv::kSimpleBlock, block(2, 0, 0x80, "x"))),
                 kFirstBlock, Step::Irregular},
        // Anything after the segment is for the demuxer way to judge.
        ScanCase{"DataAfterTheSegment", first_cluster(), {}, Step::Irregular, "trailing"}),
    row_name<ScanCase>);

// libavformat refuses frames over 256 MiB. The file is sparse: the scan
// reads only the element headers.
TEST(MpBlockScanLimits, FrameLargerThanTheDemuxerTakesIsIrregular)
{
    for (const uint64_t size : {mp::mkv::kMaxBinarySize, mp::mkv::kMaxBinarySize + 1}) {
        SCOPED_TRACE("block element of " + std::to_string(size) + " bytes");
        const std::string block_header = block(2, 0, 0x80, "");
        const std::string before = uint_element(mkv::kTimestamp, 0) + id_bytes(mkv::kSimpleBlock) + vint_size(size);
        const uint64_t cluster_size = before.size() + size;
        std::string head = element(mkv::kEbml, element(0x4282, "matroska")) + id_bytes(mkv::kSegment) +
                           vint_size(cluster_size + 12);
        const uint64_t start = head.size();
        head += id_bytes(mkv::kCluster) + vint_size(cluster_size) + before + block_header;
        std::FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(head.data(), 1, head.size(), f), head.size());
        std::fflush(f);
        const uint64_t file_size = start + 12 + cluster_size;
        ASSERT_EQ(ftruncate(fileno(f), static_cast<off_t>(file_size)), 0);
        mp::SourceReader reader(fileno(f), file_size);
        mp::BlockScanner scanner(reader, start, file_size, 2, {2});
        mp::BlockInfo b;
        const mp::BlockScanner::Step step = scanner.next(b);
        if (size <= mp::mkv::kMaxBinarySize) {
            EXPECT_EQ(step, mp::BlockScanner::Step::Block);
            EXPECT_EQ(b.size, size - block_header.size());
        } else {
            EXPECT_EQ(step, mp::BlockScanner::Step::Irregular);
        }
        std::fclose(f);
    }
}

}  // namespace
