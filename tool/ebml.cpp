#include "ebml.hpp"

#include <algorithm>

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

bool read_element_header(SourceReader& reader, uint64_t offset, uint64_t limit, ElementHeader& e)
{
    if (offset >= limit)
        return false;
    const auto avail = static_cast<size_t>(std::min<uint64_t>(kMaxHeaderSize, limit - offset));
    const uint8_t* p = reader.at(offset, avail);
    if (!p)
        return false;
    Span s{p, p + avail};
    if (!read_id(s, e.id) || !read_size(s, e.size))
        return false;
    e.data = offset + static_cast<uint64_t>(s.p - p);
    return true;
}

bool read_uint_at(SourceReader& reader, uint64_t data, uint64_t size, uint64_t& value)
{
    if (size > 8)
        return false;
    const uint8_t* p = reader.at(data, static_cast<size_t>(size));
    return p && read_uint({p, p + size}, value);
}

}  // namespace mp::ebml
