// Fuzz target: the block scanner on arbitrary bytes, for every track the
// header reader finds (or track 1 from the start of the input when it
// finds none). Every frame it reports must lie inside the input, after its
// block's header; the scan must move forward and stay where it ends.
#include "block_scan.hpp"
#include "matroska_header.hpp"
#include "source_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

namespace {

void scan(mp::SourceReader& reader, uint64_t start, std::optional<uint64_t> end, uint64_t track,
          const std::vector<uint64_t>& known, size_t size)
{
    mp::BlockScanner scanner(reader, start, end, track, known);
    mp::BlockInfo block;
    uint64_t last_position = 0;
    mp::BlockScanner::Step step;
    // Each block takes at least 4 bytes of input, so this bounds the loop.
    for (size_t n = 0; (step = scanner.next(block)) == mp::BlockScanner::Step::Block; ++n) {
        if (n > size / 4 || block.block_offset >= block.data_offset || block.data_offset >= size ||
            block.size == 0 || block.size > size - block.data_offset || block.ticks < 0 ||
            scanner.position() < last_position)
            std::abort();
        last_position = scanner.position();
    }
    if (scanner.next(block) != step)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    mp::SourceReader reader(std::span<const uint8_t>(data, size));
    const std::optional<mp::MatroskaHeader> header = mp::read_matroska_header(reader);
    if (!header) {
        scan(reader, 0, std::nullopt, 1, {1, 2}, size);
        return 0;
    }
    std::vector<uint64_t> known;
    for (const mp::MatroskaTrack& t : header->tracks)
        known.push_back(t.number);
    for (size_t i = 0; i < known.size() && i < 4; ++i)
        scan(reader, header->segment_start, header->segment_end, known[i], known, size);
    return 0;
}
