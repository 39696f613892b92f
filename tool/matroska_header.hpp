// A small reader for the Matroska header elements libavformat does not pass
// on exactly: the track's default frame duration in nanoseconds (libavformat
// rounds it to the file's timestamp scale), the codec ID that tells a track
// stored in VfW compatibility mode from a native one, and what the direct
// way needs to find the frames itself.
#pragma once

#include "source_reader.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mp {

struct MatroskaTrack {
    uint64_t number = 0;
    uint64_t type = 0;  // mkv::kVideoTrack, ...
    std::string codec_id;
    std::optional<uint64_t> default_duration_ns;
    // Set when the track's frames are compressed or encrypted in the file
    // (ContentEncodings), so the stored bytes are not the frame data.
    bool content_encoded = false;
    // Set when block timestamps are not plain multiples of the file's
    // timestamp scale (a track timestamp scale other than 1 or a codec
    // delay), so they need the demuxer's own arithmetic.
    bool adjusted_timing = false;
    // Set when the track states a frame rate (Video/FrameRate): without a
    // default duration, libavformat derives one from it that this header
    // does not hold.
    bool frame_rate_given = false;
};

struct MatroskaHeader {
    uint64_t timestamp_scale_ns = 1000000;
    std::vector<MatroskaTrack> tracks;
    // Byte offset just past the segment, when its size is declared; a file
    // shorter than this has been cut off.
    std::optional<uint64_t> segment_end;
    // Byte offset of the segment's first child element.
    uint64_t segment_start = 0;

    const MatroskaTrack* find_track(uint64_t number) const;
};

// The track's default frame duration in ns, or -1 when it has none (or no
// track is given).
int64_t default_duration_or_none(const MatroskaTrack* track);

// Reads the EBML header and the segment's Info and Tracks elements from the
// start of the source. Reads only the header elements (never cluster
// contents) and at most a few MB of them, so it is cheap and bounded for any
// input. Returns nullopt when the data is not a readable Matroska header or
// no Tracks element is found before the first cluster that cannot be
// skipped.
std::optional<MatroskaHeader> read_matroska_header(SourceReader& source);

}  // namespace mp
