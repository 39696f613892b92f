// Unit tests of the direct way's pieces: the scan for a track's blocks and
// the expansion of a converted stand-in frame into the real frame's layout.
#include "block_scan.hpp"
#include "ebml_builders.hpp"
#include "stand_ins.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace mptest::ebml_builders;
using Step = mp::BlockScanner::Step;

constexpr uint32_t kSegment = 0x18538067;
constexpr uint32_t kCluster = 0x1F43B675;
constexpr uint32_t kTimestamp = 0xE7;
constexpr uint32_t kSimpleBlock = 0xA3;
constexpr uint32_t kBlockGroup = 0xA0;
constexpr uint32_t kBlock = 0xA1;
constexpr uint32_t kBlockDuration = 0x9B;
constexpr uint32_t kReferenceBlock = 0xFB;
constexpr uint32_t kVoid = 0xEC;
constexpr uint32_t kCues = 0x1C53BB6B;

// A block's payload: track number, relative timestamp, flags, frame bytes.
std::string block(unsigned track, int16_t relative, uint8_t flags, const std::string& frame)
{
    std::string s;
    s += static_cast<char>(0x80 | track);
    s += static_cast<char>((static_cast<uint16_t>(relative) >> 8) & 0xFF);
    s += static_cast<char>(static_cast<uint16_t>(relative) & 0xFF);
    s += static_cast<char>(flags);
    return s + frame;
}

std::string cluster(uint64_t ticks, const std::string& children)
{
    return element(kCluster, uint_element(kTimestamp, ticks) + children);
}

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

struct ScanCase {
    const char* name;
    std::string segment_body;
    std::vector<Seen> blocks;  // of track 2, in order
    Step last;
    std::string after_segment = {};
    bool unknown_segment_size = false;
};

TEST(MpBlockScan, FindsTheTracksBlocksOrReportsIrregularStructure)
{
    const std::string head = element(0x1A45DFA3, element(0x4282, "matroska"));
    const std::string good_clusters =
        cluster(100, element(kSimpleBlock, block(2, 5, 0x80, "key-frame")) +
                         element(kSimpleBlock, block(1, 0, 0x80, "audio")) + element(kVoid, "....") +
                         element(kBlockGroup, element(kBlock, block(2, -3, 0, "b-frame")) +
                                                  uint_element(kReferenceBlock, 1) +
                                                  uint_element(kBlockDuration, 7))) +
        cluster(200, element(kSimpleBlock, block(2, 0, 0, "p-frame")) +
                         element(kBlockGroup, element(kBlock, block(2, 40, 0, "group-key")) +
                                                  uint_element(kBlockDuration, 0)));
    const std::vector<Seen> good_blocks = {{105, true, std::nullopt, "key-frame"},
                                           {97, false, 7, "b-frame"},
                                           {200, false, std::nullopt, "p-frame"},
                                           {240, true, std::nullopt, "group-key"}};
    const std::string first = cluster(10, element(kSimpleBlock, block(2, 0, 0x80, "first")));
    const std::vector<Seen> first_block = {{10, true, std::nullopt, "first"}};

    const std::vector<ScanCase> cases = {
        {"plain clusters, cues and other tracks", element(kCues, "cue") + good_clusters + element(kCues, "x"),
         good_blocks, Step::End},
        {"segment of unknown size", good_clusters, good_blocks, Step::End, {}, true},
        {"laced block", first + cluster(20, element(kSimpleBlock, block(2, 0, 0x82, "laced"))), first_block,
         Step::Irregular},
        {"cluster of unknown size",
         first + id_bytes(kCluster) + std::string("\xFF") + uint_element(kTimestamp, 1), first_block,
         Step::Irregular},
        {"block before the cluster timestamp",
         first + element(kCluster, element(kSimpleBlock, block(2, 0, 0x80, "x")) + uint_element(kTimestamp, 5)),
         first_block, Step::Irregular},
        {"unknown element in a cluster", first + cluster(20, element(0x4444, "what")), first_block,
         Step::Irregular},
        {"damaged cluster ID", first + element(0x1F43B676, uint_element(kTimestamp, 3)), first_block,
         Step::Irregular},
        {"block of a track the header lacks", first + cluster(20, element(kSimpleBlock, block(9, 0, 0x80, "x"))),
         first_block, Step::Irregular},
        {"timestamp before zero", first + cluster(0, element(kSimpleBlock, block(2, -1, 0x80, "x"))), first_block,
         Step::Irregular},
        {"two blocks in a group",
         first + cluster(20, element(kBlockGroup, element(kBlock, block(2, 0, 0, "a")) +
                                                      element(kBlock, block(2, 1, 0, "b")))),
         first_block, Step::Irregular},
        {"block without frame bytes", first + cluster(20, element(kSimpleBlock, block(2, 0, 0x80, ""))),
         first_block, Step::Irregular},
        {"cluster overruns the segment", first + id_bytes(kCluster) + vint_size(1000) + uint_element(kTimestamp, 1),
         first_block, Step::Irregular},
        // Anything after the segment is for the full demuxer to judge.
        {"data after the segment", first, {}, Step::Irregular, "trailing"},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = head + id_bytes(kSegment);
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
        mp::SourceReader reader(fileno(f), file.size());
        mp::BlockScanner scanner(reader, start, end, 2, {1, 2});
        std::vector<Seen> seen;
        Step step;
        mp::BlockInfo b;
        while ((step = scanner.next(b)) == Step::Block && seen.size() < 10)
            seen.push_back({b.ticks, b.key, b.duration_ticks, file.substr(b.data_offset, b.size)});
        EXPECT_EQ(seen, c.blocks);
        EXPECT_EQ(step, c.last);
        EXPECT_EQ(scanner.next(b), c.last) << "the scan stays where it ended";
        std::fclose(f);
    }
}

// ---------------------------------------------------------------------------
std::vector<uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back(static_cast<uint8_t>(b));
    return v;
}

mp::StandIn stand_in(int64_t offset, size_t length, uint8_t fill, uint8_t tag)
{
    mp::StandIn s;
    s.source_offset = offset;
    s.length = length;
    s.head.fill(fill);
    s.marker.fill(tag);
    return s;
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& what)
{
    to.insert(to.end(), what.begin(), what.end());
}

void append(std::vector<uint8_t>& to, const mp::StandIn& s)
{
    to.insert(to.end(), s.head.begin(), s.head.end());
    to.insert(to.end(), s.marker.begin(), s.marker.end());
}

TEST(MpStandIns, ExpandIntoLiteralPiecesAndCopies)
{
    const auto params = bytes({0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3});
    const auto start = bytes({0, 0, 1});
    const auto small = bytes({0x06, 5, 5, 5});
    const mp::StandIn first = stand_in(1000, 5000, 0x65, 0xA1);
    const mp::StandIn second = stand_in(9000, 70000, 0x41, 0xB2);

    // What the conversion makes of the stand-in frame.
    std::vector<uint8_t> converted = params;
    append(converted, start);
    append(converted, first);
    append(converted, start);
    append(converted, small);
    append(converted, start);
    append(converted, second);

    mp::FrameBuffer frame;
    size_t size = 0;
    const auto pieces = mp::expand_stand_ins(converted.data(), converted.size(), {first, second}, frame, size);
    ASSERT_TRUE(pieces.has_value());
    const size_t first_at = params.size() + start.size();
    const size_t second_at = first_at + 5000 + start.size() + small.size() + start.size();
    const std::vector<mp::Piece> expected = {
        {0, first_at, -1},
        {first_at, 5000, 1000},
        {first_at + 5000, second_at - first_at - 5000, -1},
        {second_at, 70000, 9000},
    };
    EXPECT_EQ(*pieces, expected);
    EXPECT_EQ(size, second_at + 70000);
    // The literal pieces hold the converted bytes around the stand-ins.
    EXPECT_EQ(std::memcmp(frame.data(), converted.data(), first_at), 0);
    std::vector<uint8_t> between = start;
    append(between, small);
    append(between, start);
    EXPECT_EQ(std::memcmp(frame.data() + first_at + 5000, between.data(), between.size()), 0);

    struct Bad {
        const char* name;
        std::vector<mp::StandIn> stand_ins;
        std::vector<uint8_t> converted;
    };
    std::vector<uint8_t> wrong_head = converted;
    wrong_head[first_at + 3] ^= 1;
    std::vector<uint8_t> no_marker = converted;
    no_marker.resize(converted.size() - 1);
    const std::vector<Bad> bad = {
        {"out of order", {second, first}, converted},
        {"head changed by the conversion", {first, second}, wrong_head},
        {"marker missing", {first, second}, no_marker},
        {"a stand-in no longer than its head", {stand_in(0, mp::kStandInHead, 0x65, 0xA1)}, converted},
    };
    for (const Bad& b : bad) {
        EXPECT_FALSE(mp::expand_stand_ins(b.converted.data(), b.converted.size(), b.stand_ins, frame, size))
            << b.name;
    }
}

}  // namespace
