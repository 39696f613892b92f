// H.264/HEVC NAL units in Matroska's length-prefixed form: each unit's body
// follows a big-endian length field of 1 to 4 bytes, whose size the track's
// codec data (avcC/hvcC) gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace mp {

// The length field size of the track's codec data, or 0 when the codec is
// neither H.264 nor HEVC or its codec data is not in the length-prefixed
// form (Annex B codec data starts with a start code instead).
int nal_length_size_of(AVCodecID codec, const uint8_t* extradata, size_t size);

// The length in a field of `field_size` bytes at `p`.
uint64_t read_length_field(const uint8_t* p, int field_size);

// Appends `length` as a field of `field_size` bytes.
void append_length_field(std::vector<uint8_t>& out, uint64_t length, int field_size);

}  // namespace mp
