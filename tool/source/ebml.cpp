#include "source/ebml.hpp"

namespace mp::ebml {

bool read_id(Span& s, uint32_t& id)
{
    if (s.empty() || *s.p == 0)
        return false;
    int length = 1;
    for (unsigned mask = 0x80; !(*s.p & mask); mask >>= 1)
        ++length;
    if (length > 4 || s.left() < static_cast<uint64_t>(length))
        return false;
    id = 0;
    for (int i = 0; i < length; ++i)
        id = (id << 8) | *s.p++;
    return true;
}

bool read_size(Span& s, uint64_t& size)
{
    if (s.empty() || *s.p == 0)
        return false;
    int length = 1;
    unsigned mask = 0x80;
    while (!(*s.p & mask)) {
        ++length;
        mask >>= 1;
    }
    if (s.left() < static_cast<uint64_t>(length))
        return false;
    uint64_t value = *s.p++ & (mask - 1);
    bool all_ones = value == mask - 1;
    for (int i = 1; i < length; ++i) {
        all_ones = all_ones && *s.p == 0xFF;
        value = (value << 8) | *s.p++;
    }
    size = all_ones ? kUnknownSize : value;
    return true;
}

bool read_uint(Span s, uint64_t& value)
{
    if (s.left() > 8)
        return false;
    value = 0;
    while (!s.empty())
        value = (value << 8) | *s.p++;
    return true;
}

}  // namespace mp::ebml
