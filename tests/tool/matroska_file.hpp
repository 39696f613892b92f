// Whole Matroska files built in memory from EBML elements, for tests that
// need exact control over every element (and for the fuzzers' starting
// corpus): a header with the given track entries, and clusters of blocks.
#pragma once

#include "ebml_builders.hpp"
#include "source/matroska.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mptest::matroska_file {

using namespace mptest::ebml_builders;
namespace mkv = mp::mkv;

// Elements only these files need.
constexpr uint32_t kTrackUid = 0x73C5;
constexpr uint32_t kPixelWidth = 0xB0;
constexpr uint32_t kPixelHeight = 0xBA;

struct TrackEntry {
    uint64_t number = 1;
    uint64_t type = mkv::kVideoTrack;
    std::optional<std::string> codec_id = "V_VP8";
    std::optional<uint64_t> default_duration_ns;
};

inline std::string track_entry(const TrackEntry& t)
{
    std::string fields = uint_element(mkv::kTrackNumber, t.number) + uint_element(kTrackUid, t.number) +
                         uint_element(mkv::kTrackType, t.type);
    if (t.codec_id)
        fields += element(mkv::kCodecId, *t.codec_id);
    if (t.default_duration_ns)
        fields += uint_element(mkv::kDefaultDuration, *t.default_duration_ns);
    // The AVI header needs a picture size.
    if (t.type == mkv::kVideoTrack)
        fields += element(mkv::kVideo, uint_element(kPixelWidth, 64) + uint_element(kPixelHeight, 48));
    return element(mkv::kTrackEntry, fields);
}

// A block's payload: track number, relative timestamp, flags, frame bytes.
inline std::string block(unsigned track, int16_t relative, uint8_t flags, const std::string& frame)
{
    std::string s;
    s += static_cast<char>(0x80 | track);
    s += static_cast<char>((static_cast<uint16_t>(relative) >> 8) & 0xFF);
    s += static_cast<char>(static_cast<uint16_t>(relative) & 0xFF);
    s += static_cast<char>(flags);
    return s + frame;
}

inline std::string cluster(uint64_t ticks, const std::string& children)
{
    return element(mkv::kCluster, uint_element(mkv::kTimestamp, ticks) + children);
}

// Frame bytes that differ from frame to frame and from track to track.
inline std::string frame_bytes(unsigned track, int index)
{
    std::string s = "frame " + std::to_string(index) + " of track " + std::to_string(track) + ":";
    for (int i = 0; i < 40 + index; ++i)
        s += static_cast<char>((index * 31 + i * 7 + static_cast<int>(track) * 101) & 0xFF);
    return s;
}

// `count` key frames of `track`, `interval` ticks apart, ten to a cluster;
// with `other_track`, a block of that track before each of them.
inline std::string clusters(unsigned track, int count, int interval, std::optional<unsigned> other_track = {})
{
    std::string out;
    for (int first = 0; first < count; first += 10) {
        std::string children;
        for (int i = first; i < count && i < first + 10; ++i) {
            const auto relative = static_cast<int16_t>((i - first) * interval);
            if (other_track)
                children += element(mkv::kSimpleBlock, block(*other_track, relative, 0x80, frame_bytes(*other_track, i)));
            children += element(mkv::kSimpleBlock, block(track, relative, 0x80, frame_bytes(track, i)));
        }
        out += cluster(static_cast<uint64_t>(first * interval), children);
    }
    return out;
}

// The whole file: EBML header, then a segment with Info, Tracks and `body`.
inline std::string file(const std::vector<TrackEntry>& tracks, const std::string& body,
                        uint64_t timestamp_scale_ns = 1000000)
{
    std::string entries;
    for (const TrackEntry& t : tracks)
        entries += track_entry(t);
    const std::string info = element(mkv::kInfo, uint_element(mkv::kTimestampScale, timestamp_scale_ns));
    return element(mkv::kEbml, element(mkv::kDocType, "webm")) +
           element(mkv::kSegment, info + element(mkv::kTracks, entries) + body);
}

// ---------------------------------------------------------------------------
// Sample files that once made the two ways of mp.exe disagree.

constexpr uint64_t k40Ms = 40000000;

// A first track entry marked video but without a codec, which libavformat
// skips, then the real VP8 track; blocks of both interleaved.
inline std::string codecless_entry_first()
{
    return file({{1, mkv::kVideoTrack, std::nullopt, k40Ms}, {2, mkv::kVideoTrack, "V_VP8", k40Ms}},
                clusters(2, 30, 40, 1));
}

// 30 frames of track 1 in clusters of ten; frame `at` sits in a block group
// with `extra` after its block.
inline std::string group_at(int at, const std::string& extra, std::optional<uint64_t> default_ns = k40Ms)
{
    std::string body;
    for (int first = 0; first < 30; first += 10) {
        std::string children;
        for (int i = first; i < first + 10; ++i) {
            const auto relative = static_cast<int16_t>((i - first) * 40);
            const std::string frame = frame_bytes(1, i);
            if (i == at)
                children += element(mkv::kBlockGroup, element(mkv::kBlock, block(1, relative, 0, frame)) + extra);
            else
                children += element(mkv::kSimpleBlock, block(1, relative, 0x80, frame));
        }
        body += cluster(static_cast<uint64_t>(first * 40), children);
    }
    return file({{1, mkv::kVideoTrack, "V_VP8", default_ns}}, body);
}

// 30 VP8 frames 40 ms apart with the given default duration.
inline std::string with_default_duration(uint64_t ns)
{
    return file({{1, mkv::kVideoTrack, "V_VP8", ns}}, clusters(1, 30, 40));
}

}  // namespace mptest::matroska_file
