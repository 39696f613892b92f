#include "matroska_header.hpp"

#include "ebml.hpp"

#include <cstring>
#include <limits>

namespace mp {
namespace {

using ebml::kUnknownSize;
using ebml::read_id;
using ebml::read_size;
using ebml::read_uint;
using ebml::Span;

constexpr uint32_t kEbml = 0x1A45DFA3;
constexpr uint32_t kSegment = 0x18538067;
constexpr uint32_t kInfo = 0x1549A966;
constexpr uint32_t kTimestampScale = 0x2AD7B1;
constexpr uint32_t kTracks = 0x1654AE6B;
constexpr uint32_t kTrackEntry = 0xAE;
constexpr uint32_t kTrackNumber = 0xD7;
constexpr uint32_t kTrackType = 0x83;
constexpr uint32_t kCodecId = 0x86;
constexpr uint32_t kDefaultDuration = 0x23E383;
constexpr uint32_t kCluster = 0x1F43B675;
constexpr uint32_t kContentEncodings = 0x6D80;
constexpr uint32_t kCodecDelay = 0x56AA;
constexpr uint32_t kTrackTimestampScale = 0x23314F;

constexpr uint64_t kMaxInfoSize = 1 << 20;
constexpr uint64_t kMaxTracksSize = 16 << 20;
constexpr int kMaxTopLevelElements = 4096;

// Reads an element header from the stream, leaving it at the element data.
bool read_element_header(std::istream& in, uint32_t& id, uint64_t& size)
{
    unsigned char buf[12];
    // An ID is at most 4 bytes and a size at most 8; read byte by byte only
    // as far as needed so the stream stays positioned at the element data.
    int first = in.get();
    if (first == EOF || first == 0)
        return false;
    buf[0] = static_cast<unsigned char>(first);
    int id_len = 1;
    for (unsigned mask = 0x80; !(buf[0] & mask); mask >>= 1)
        ++id_len;
    if (id_len > 4 || !in.read(reinterpret_cast<char*>(buf + 1), id_len - 1))
        return false;
    int size_first = in.get();
    if (size_first == EOF || size_first == 0)
        return false;
    buf[id_len] = static_cast<unsigned char>(size_first);
    int size_len = 1;
    for (unsigned mask = 0x80; !(buf[id_len] & mask); mask >>= 1)
        ++size_len;
    if (!in.read(reinterpret_cast<char*>(buf + id_len + 1), size_len - 1))
        return false;
    Span s{buf, buf + id_len + size_len};
    return read_id(s, id) && read_size(s, size);
}

// Calls fn(id, payload) for each child element inside `s`; false when the
// children do not fit their parent.
template <typename Fn>
bool for_each_child(Span s, Fn&& fn)
{
    while (!s.empty()) {
        uint32_t id = 0;
        uint64_t size = 0;
        if (!read_id(s, id) || !read_size(s, size) || size == kUnknownSize || size > s.left())
            return false;
        Span payload{s.p, s.p + size};
        fn(id, payload);
        s.p += size;
    }
    return true;
}

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
    return for_each_child(s, [&](uint32_t id, Span entry) {
        if (id != kTrackEntry)
            return;
        MatroskaTrack track;
        for_each_child(entry, [&](uint32_t field, Span value) {
            uint64_t number = 0;
            switch (field) {
            case kTrackNumber:
                if (read_uint(value, number))
                    track.number = number;
                break;
            case kTrackType:
                if (read_uint(value, number))
                    track.type = number;
                break;
            case kDefaultDuration:
                if (read_uint(value, number) && number > 0)
                    track.default_duration_ns = number;
                break;
            case kCodecId:
                track.codec_id.assign(reinterpret_cast<const char*>(value.p), value.left());
                // Stored strings may be zero-padded.
                track.codec_id.resize(std::strlen(track.codec_id.c_str()));
                break;
            case kContentEncodings:
                track.content_encoded = true;
                break;
            case kCodecDelay:
                if (!read_uint(value, number) || number != 0)
                    track.adjusted_timing = true;
                break;
            case kTrackTimestampScale:
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

bool read_payload(std::istream& in, uint64_t size, std::vector<unsigned char>& data)
{
    data.resize(size);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size)));
}

// Moves past an element's data without reading it.
bool skip(std::istream& in, uint64_t size)
{
    if (size > static_cast<uint64_t>(std::numeric_limits<std::streamoff>::max()))
        return false;
    return static_cast<bool>(in.seekg(static_cast<std::streamoff>(size), std::ios::cur));
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

std::optional<MatroskaHeader> read_matroska_header(std::istream& in)
{
    uint32_t id = 0;
    uint64_t size = 0;
    if (!read_element_header(in, id, size) || id != kEbml || size == kUnknownSize)
        return std::nullopt;
    if (!skip(in, size))
        return std::nullopt;

    // Find the segment, skipping anything (e.g. Void) before it.
    for (int i = 0;; ++i) {
        if (i > 16 || !read_element_header(in, id, size))
            return std::nullopt;
        if (id == kSegment)
            break;
        if (size == kUnknownSize || !skip(in, size))
            return std::nullopt;
    }

    MatroskaHeader header;
    const std::streamoff start = in.tellg();
    if (start < 0)
        return std::nullopt;
    header.segment_start = static_cast<uint64_t>(start);
    if (size != kUnknownSize) {
        if (size <= ~uint64_t{0} - static_cast<uint64_t>(start))
            header.segment_end = static_cast<uint64_t>(start) + size;
    }
    bool have_tracks = false;
    bool have_info = false;
    std::vector<unsigned char> data;
    for (int i = 0; i < kMaxTopLevelElements && !(have_tracks && have_info); ++i) {
        if (!read_element_header(in, id, size))
            break;
        if (id == kInfo || id == kTracks) {
            if (size == kUnknownSize || size > (id == kInfo ? kMaxInfoSize : kMaxTracksSize))
                break;
            if (!read_payload(in, size, data))
                break;
            Span s{data.data(), data.data() + data.size()};
            if (id == kInfo) {
                have_info = true;
                for_each_child(s, [&](uint32_t field, Span value) {
                    uint64_t scale = 0;
                    if (field == kTimestampScale && read_uint(value, scale) && scale > 0)
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
        if (size == kUnknownSize || (id == kCluster && have_tracks))
            break;
        if (!skip(in, size))
            break;
    }
    if (!have_tracks)
        return std::nullopt;
    return header;
}

}  // namespace mp
