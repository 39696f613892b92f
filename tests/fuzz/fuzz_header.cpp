// Fuzz target: the Matroska scan on arbitrary bytes. It must neither crash
// nor read outside what it is fed, and it must find the same header and
// blocks whether the bytes come whole or cut into reads of any size (the
// first byte of the input chooses the size).
#include "source/matroska_scan.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool same(const mp::ScannedBlock& a, const mp::ScannedBlock& b)
{
    return a.pos == b.pos && a.end == b.end && a.track == b.track && a.ticks == b.ticks &&
           a.duration_ticks == b.duration_ticks && a.frame_bytes == b.frame_bytes && a.frames == b.frames &&
           a.readable == b.readable;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = data[0] % 16 + 1;
    ++data;
    --size;
    mp::MatroskaScan whole;
    whole.feed(0, data, size);
    mp::MatroskaScan cut;
    for (size_t at = 0; at < size; at += piece)
        cut.feed(at, data + at, std::min(piece, size - at));

    const auto& a = whole.blocks();
    const auto& b = cut.blocks();
    if (a.size() != b.size() || !std::equal(a.begin(), a.end(), b.begin(), same))
        std::abort();
    if (whole.stopped() != cut.stopped() || whole.scanned_to() != cut.scanned_to())
        std::abort();
    const mp::MatroskaHead& h = whole.head();
    if (h.timestamp_scale_ns == 0 || h.tracks.size() != cut.head().tracks.size() ||
        h.segment_end != cut.head().segment_end)
        std::abort();
    for (const mp::ScannedBlock& block : a)
        if (block.pos > block.end || block.pos > size || block.frames < 1 || block.frames > 256)
            std::abort();
    return 0;
}
