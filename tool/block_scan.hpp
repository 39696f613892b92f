// Finding a track's frames in a Matroska file without reading them.
//
// The direct way needs only where each frame lies in the source, its
// timestamp and whether it is a key frame; the frame bytes themselves are
// copied by the kernel. The scanner reads just the element headers and
// steps over everything else. It accepts only the plain structure that
// well-formed files have (known sizes, known element IDs, unlaced blocks of
// a timestamped cluster) and reports anything else as irregular, so the
// caller can leave such files to the demuxer way, which knows how to
// recover from damage. Every element libavformat's demuxer checks while
// reading clusters is checked here the same way (lengths of numbers, sizes
// of frames, children that fit their parent): what the demuxer would
// reject or skip, the scanner reports as irregular.
#pragma once

#include "source_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace mp {

// One frame of the wanted track.
struct BlockInfo {
    uint64_t block_offset = 0; // where the block's data starts (its track number): libavformat's packet position
    uint64_t data_offset = 0;  // where the frame's bytes start in the file
    uint64_t size = 0;
    int64_t ticks = 0;         // block timestamp in timestamp-scale units
    std::optional<uint64_t> duration_ticks;  // BlockDuration, when given and nonzero
    bool key = false;
};

class BlockScanner {
public:
    enum class Step { Block, End, Irregular };

    // Scans the segment's children from `segment_start` to `segment_end`
    // (the end of the file when the segment's size is unknown) for blocks of
    // track `track_number`. `known_tracks` lists every track number in the
    // header: a block of any other number means damage.
    BlockScanner(SourceReader& reader, uint64_t segment_start, std::optional<uint64_t> segment_end,
                 uint64_t track_number, std::vector<uint64_t> known_tracks);

    // The next frame of the track, the end of the segment, or Irregular
    // (the file is cut off, damaged, laced or otherwise unusual).
    Step next(BlockInfo& block);

    // How far the scan has come, for progress.
    uint64_t position() const { return in_cluster_ ? cluster_pos_ : pos_; }

private:
    struct Element {
        uint32_t id = 0;
        uint64_t data = 0;  // offset of the element's data
        uint64_t end = 0;   // offset just past it
    };
    // A block of the wanted track, of another track, or unusable.
    enum class Parsed { Ours, Other, Bad };

    bool element_at(uint64_t offset, uint64_t limit, Element& e);
    bool uint_at(const Element& e, uint64_t& value);
    bool block_additions_fit(const Element& additions);
    Parsed block_at(const Element& e, BlockInfo& block);
    Parsed block_group(const Element& group, BlockInfo& block);

    SourceReader& reader_;
    uint64_t pos_;
    uint64_t end_;
    uint64_t track_;
    std::vector<uint64_t> known_tracks_;
    bool irregular_ = false;
    bool in_cluster_ = false;
    uint64_t cluster_pos_ = 0;
    uint64_t cluster_end_ = 0;
    std::optional<uint64_t> cluster_ticks_;
};

}  // namespace mp
