// The Matroska header as a reader needs it: what the EBML header asks of a
// reader, the timestamp scale, the track entries and where the segment
// ends. Read from the bytes of the header's elements, whole.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mp {

struct MatroskaTrack {
    uint64_t number = 0;
    uint64_t type = 0;  // mkv::kVideoTrack, ...
    std::string codec_id;
    std::optional<uint64_t> default_duration_ns;
};

struct MatroskaHead {
    // What the EBML header asks of a reader.
    uint64_t max_id_length = 4;
    uint64_t max_size_length = 8;
    uint64_t doc_type_read_version = 1;
    std::string doc_type;

    uint64_t timestamp_scale_ns = 1000000;
    std::vector<MatroskaTrack> tracks;
    // Byte offset just past the segment, when its size is given; a source
    // shorter than this has been cut off.
    std::optional<uint64_t> segment_end;

    const MatroskaTrack* find_track(uint64_t number) const;
};

// Each reads the data of one element (EBML header, Info, Tracks) into
// `head`; what it cannot read is left as it was.
void read_ebml_header(std::span<const uint8_t> data, MatroskaHead& head);
void read_info(std::span<const uint8_t> data, MatroskaHead& head);
void read_tracks(std::span<const uint8_t> data, MatroskaHead& head);

}  // namespace mp
