// Frames converted to start codes without reading their large NAL bodies.
//
// The conversion filter decides what to insert (start codes, parameter
// sets) from the length fields and the first bytes of each NAL unit only.
// So it is given a stand-in frame in which each large body is cut to its
// first kStandInHead bytes followed by a marker of random bytes, unique to
// the body. In the converted stand-in each marker shows where its body
// goes; the real frame is that output with each head and marker replaced by
// the whole body, copied from the source.
#pragma once

#include "frame_buffer.hpp"
#include "range_writer.hpp"
#include "source_reader.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace mp {

constexpr size_t kStandInHead = 32;
constexpr size_t kMarkerSize = 16;

struct StandIn {
    int64_t source_offset = 0;  // of the whole body
    size_t length = 0;          // of the whole body; more than kStandInHead
    std::array<uint8_t, kStandInHead> head{};
    std::array<uint8_t, kMarkerSize> marker{};
};

// Makes the stand-in frames of one run. The markers start with a fresh
// random key, unknown to whoever made the file, so no frame can contain one;
// a counter after the key makes each unique.
class StandInMaker {
public:
    // `length_size` is the NAL length field size (1..4); bodies up to
    // `threshold` bytes (at least kStandInHead) are kept whole.
    StandInMaker(int length_size, size_t threshold);

    // Reads the length-prefixed frame of `size` bytes at `offset`, keeping
    // small bodies whole and cutting large ones to stand-ins. False when the
    // lengths do not add up or the source cannot be read.
    bool make(SourceReader& source, uint64_t offset, uint64_t size);

    // The stand-in frame last made, and its large bodies in order.
    const std::vector<uint8_t>& frame() const { return frame_; }
    const std::vector<StandIn>& stand_ins() const { return stand_ins_; }

private:
    std::array<uint8_t, kMarkerSize> next_marker();

    int length_size_;
    size_t threshold_;
    std::array<uint8_t, kMarkerSize - sizeof(uint64_t)> key_{};
    uint64_t count_ = 0;
    std::vector<uint8_t> frame_;
    std::vector<StandIn> stand_ins_;
};

// Lays out the real frame from `converted`, the conversion of a stand-in
// frame whose large bodies are `stand_ins` in order: puts the literal bytes
// into `frame` at their places and returns all pieces, which cover the whole
// frame. nullopt when a marker is missing, out of order, or not preceded by
// its head; `frame_size` receives the real size.
std::optional<std::vector<Piece>> expand_stand_ins(const uint8_t* converted, size_t converted_size,
                                                   const std::vector<StandIn>& stand_ins, FrameBuffer& frame,
                                                   size_t& frame_size);

}  // namespace mp
