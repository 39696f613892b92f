// The EBML encoding Matroska is built from: element IDs and sizes as
// variable-length integers, and unsigned integer values, read from bytes
// in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mp::ebml {

// A size field of all ones: the element runs to the end of its parent.
constexpr uint64_t kUnknownSize = ~uint64_t{0};

// The longest element header: a 4-byte ID and an 8-byte size.
constexpr size_t kMaxHeaderSize = 12;

// A cursor over bytes held in memory.
struct Span {
    const unsigned char* p;
    const unsigned char* end;
    bool empty() const { return p >= end; }
    uint64_t left() const { return static_cast<uint64_t>(end - p); }
};

// Reads an element ID (1..4 bytes, length marker kept).
bool read_id(Span& s, uint32_t& id);

// Reads an element size or other variable-length number (1..8 bytes, marker
// removed); all ones gives kUnknownSize.
bool read_size(Span& s, uint64_t& size);

// An unsigned integer element's value (0..8 bytes, big-endian).
bool read_uint(Span s, uint64_t& value);

// Calls fn(id, payload) for each child element inside `s`; false when the
// children do not fit their parent (the calls made so far stand).
template <typename Fn>
bool for_each_child(Span s, Fn&& fn)
{
    while (!s.empty()) {
        uint32_t id = 0;
        uint64_t size = 0;
        if (!read_id(s, id) || !read_size(s, size) || size == kUnknownSize || size > s.left())
            return false;
        fn(id, Span{s.p, s.p + size});
        s.p += size;
    }
    return true;
}

}  // namespace mp::ebml
