#include "matroska_header.hpp"

#include "ebml.hpp"
#include "matroska.hpp"

#include <cstring>
#include <limits>

namespace mp {
namespace {

using ebml::kUnknownSize;
using ebml::read_uint;
using ebml::Span;

constexpr uint64_t kMaxInfoSize = 1 << 20;
constexpr uint64_t kMaxTracksSize = 16 << 20;
constexpr int kMaxTopLevelElements = 4096;

bool is_float_one(Span s)
{
    static const unsigned char one32[] = {0x3F, 0x80, 0, 0};
    static const unsigned char one64[] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
    if (s.left() == sizeof one32)
        return std::memcmp(s.p, one32, sizeof one32) == 0;
    if (s.left() == sizeof one64)
        return std::memcmp(s.p, one64, sizeof one64) == 0;
    return false;
}

bool parse_tracks(Span s, std::vector<MatroskaTrack>& tracks)
{
    return ebml::for_each_child(s, [&](uint32_t id, Span entry) {
        if (id != mkv::kTrackEntry)
            return;
        MatroskaTrack track;
        ebml::for_each_child(entry, [&](uint32_t field, Span value) {
            uint64_t number = 0;
            switch (field) {
            case mkv::kTrackNumber:
                if (read_uint(value, number))
                    track.number = number;
                break;
            case mkv::kTrackType:
                if (read_uint(value, number))
                    track.type = number;
                break;
            case mkv::kDefaultDuration:
                if (read_uint(value, number) && number > 0)
                    track.default_duration_ns = number;
                break;
            case mkv::kCodecId:
                track.codec_id.assign(reinterpret_cast<const char*>(value.p), value.left());
                // Stored strings may be zero-padded.
                track.codec_id.resize(std::strlen(track.codec_id.c_str()));
                break;
            case mkv::kContentEncodings:
                track.content_encoded = true;
                break;
            case mkv::kCodecDelay:
                if (!read_uint(value, number) || number != 0)
                    track.adjusted_timing = true;
                break;
            case mkv::kVideo:
                ebml::for_each_child(value, [&](uint32_t child, Span) {
                    if (child == mkv::kFrameRate)
                        track.frame_rate_given = true;
                });
                break;
            case mkv::kTrackTimestampScale:
                // A float; anything but exactly 1.0 (4 or 8 bytes) changes timing.
                if (!is_float_one(value))
                    track.adjusted_timing = true;
                break;
            default:
                break;
            }
        });
        tracks.push_back(std::move(track));
    });
}

}  // namespace

int64_t default_duration_or_none(const MatroskaTrack* track)
{
    if (track && track->default_duration_ns &&
        *track->default_duration_ns <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return static_cast<int64_t>(*track->default_duration_ns);
    return -1;
}

const MatroskaTrack* MatroskaHeader::find_track(uint64_t number) const
{
    for (const auto& t : tracks)
        if (t.number == number)
            return &t;
    return nullptr;
}

std::optional<MatroskaHeader> read_matroska_header(SourceReader& source)
{
    const uint64_t end = source.file_size();
    ebml::ElementHeader e;
    if (!ebml::read_element_header(source, 0, end, e) || e.id != mkv::kEbml || e.size == kUnknownSize)
        return std::nullopt;

    // Find the segment, skipping anything (e.g. Void) before it.
    for (int i = 0;; ++i) {
        if (e.size > end - e.data || i > 16 || !ebml::read_element_header(source, e.data + e.size, end, e))
            return std::nullopt;
        if (e.id == mkv::kSegment)
            break;
        if (e.size == kUnknownSize)
            return std::nullopt;
    }

    MatroskaHeader header;
    header.segment_start = e.data;
    if (e.size != kUnknownSize && e.size <= ~uint64_t{0} - e.data)
        header.segment_end = e.data + e.size;
    bool have_tracks = false;
    bool have_info = false;
    std::vector<uint8_t> data;
    uint64_t at = e.data;
    for (int i = 0; i < kMaxTopLevelElements && !(have_tracks && have_info); ++i) {
        if (!ebml::read_element_header(source, at, end, e))
            break;
        if (e.id == mkv::kInfo || e.id == mkv::kTracks) {
            if (e.size == kUnknownSize || e.size > (e.id == mkv::kInfo ? kMaxInfoSize : kMaxTracksSize))
                break;
            if (!source.copy(e.data, static_cast<size_t>(e.size), data))
                break;
            at = e.data + e.size;
            const Span s{data.data(), data.data() + data.size()};
            if (e.id == mkv::kInfo) {
                have_info = true;
                ebml::for_each_child(s, [&](uint32_t field, Span value) {
                    uint64_t scale = 0;
                    if (field == mkv::kTimestampScale && read_uint(value, scale) && scale > 0)
                        header.timestamp_scale_ns = scale;
                });
            } else {
                header.tracks.clear();
                have_tracks = parse_tracks(s, header.tracks);
            }
            continue;
        }
        // Clusters come after the header in files written front to back;
        // once the tracks are known there is nothing more to learn there.
        if (e.size == kUnknownSize || (e.id == mkv::kCluster && have_tracks) || e.size > end - e.data)
            break;
        at = e.data + e.size;
    }
    if (!have_tracks)
        return std::nullopt;
    return header;
}

}  // namespace mp
