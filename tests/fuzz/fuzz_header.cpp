// Fuzz target: the Matroska header reader on arbitrary bytes. It must
// neither crash nor read outside the input, and what it reports must lie
// inside the input.
#include "matroska_header.hpp"
#include "source_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    mp::SourceReader reader(std::span<const uint8_t>(data, size));
    const std::optional<mp::MatroskaHeader> header = mp::read_matroska_header(reader);
    if (!header)
        return 0;
    if (header->segment_start > size || header->timestamp_scale_ns == 0)
        std::abort();
    if (header->segment_end && *header->segment_end < header->segment_start)
        std::abort();
    for (const mp::MatroskaTrack& t : header->tracks) {
        if (t.codec_id.size() > size || (t.default_duration_ns && *t.default_duration_ns == 0))
            std::abort();
        // What the tool asks of an entry works for any entry.
        if (mp::default_duration_or_none(&t) == 0)
            std::abort();
        if (header->find_track(t.number) == nullptr)
            std::abort();
    }
    return 0;
}
