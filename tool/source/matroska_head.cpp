#include "source/matroska_head.hpp"

#include "source/ebml.hpp"
#include "source/matroska.hpp"

#include <cstring>

namespace mp {

namespace {

ebml::Span span_of(std::span<const uint8_t> data)
{
    return ebml::Span{data.data(), data.data() + data.size()};
}

}  // namespace

const MatroskaTrack* MatroskaHead::find_track(uint64_t number) const
{
    for (const MatroskaTrack& t : tracks)
        if (t.number == number)
            return &t;
    return nullptr;
}

void read_ebml_header(std::span<const uint8_t> data, MatroskaHead& head)
{
    ebml::for_each_child(span_of(data), [&](uint32_t id, ebml::Span value) {
        uint64_t number = 0;
        if (id == mkv::kDocType)
            head.doc_type.assign(reinterpret_cast<const char*>(value.p), strnlen(reinterpret_cast<const char*>(value.p), value.left()));
        else if (!ebml::read_uint(value, number))
            return;
        if (id == mkv::kEbmlMaxIdLength)
            head.max_id_length = number;
        else if (id == mkv::kEbmlMaxSizeLength)
            head.max_size_length = number;
        else if (id == mkv::kDocTypeReadVersion)
            head.doc_type_read_version = number;
    });
}

void read_info(std::span<const uint8_t> data, MatroskaHead& head)
{
    ebml::for_each_child(span_of(data), [&](uint32_t id, ebml::Span value) {
        uint64_t scale = 0;
        if (id == mkv::kTimestampScale && ebml::read_uint(value, scale) && scale > 0)
            head.timestamp_scale_ns = scale;
    });
}

void read_tracks(std::span<const uint8_t> data, MatroskaHead& head)
{
    head.tracks.clear();
    ebml::for_each_child(span_of(data), [&](uint32_t id, ebml::Span entry) {
        if (id != mkv::kTrackEntry)
            return;
        MatroskaTrack track;
        ebml::for_each_child(entry, [&](uint32_t field, ebml::Span value) {
            uint64_t number = 0;
            if (field == mkv::kCodecId) {
                // Stored strings may be zero-padded.
                const auto* text = reinterpret_cast<const char*>(value.p);
                track.codec_id.assign(text, strnlen(text, value.left()));
            } else if (ebml::read_uint(value, number)) {
                if (field == mkv::kTrackNumber)
                    track.number = number;
                else if (field == mkv::kTrackType)
                    track.type = number;
                else if (field == mkv::kDefaultDuration && number > 0)
                    track.default_duration_ns = number;
            }
        });
        head.tracks.push_back(std::move(track));
    });
}

}  // namespace mp
