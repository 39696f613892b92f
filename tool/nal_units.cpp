#include "nal_units.hpp"

namespace mp {

int nal_length_size_of(AVCodecID codec, const uint8_t* extradata, size_t size)
{
    // avcC: configurationVersion 1, ..., lengthSizeMinusOne in byte 4.
    // hvcC: configurationVersion 1, lengthSizeMinusOne in byte 21.
    size_t at = 0;
    size_t minimum = 0;
    if (codec == AV_CODEC_ID_H264) {
        at = 4;
        minimum = 7;
    } else if (codec == AV_CODEC_ID_HEVC) {
        at = 21;
        minimum = 23;
    } else {
        return 0;
    }
    if (!extradata || size < minimum || extradata[0] != 1)
        return 0;
    return (extradata[at] & 3) + 1;
}

uint64_t read_length_field(const uint8_t* p, int field_size)
{
    uint64_t length = 0;
    for (int i = 0; i < field_size; ++i)
        length = (length << 8) | p[i];
    return length;
}

void append_length_field(std::vector<uint8_t>& out, uint64_t length, int field_size)
{
    for (int i = field_size - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(length >> (8 * i)));
}

}  // namespace mp
