// Moving frame data without copying it through our memory.
//
// Writing through write() costs far more than reading here: every byte is
// copied from user memory into the page cache. Most of a frame's bytes,
// though, are already in the source file exactly as the AVI needs them, so
// the output is written as a mix of small literal pieces (AVI chunk headers,
// start codes, parameter sets) from memory and large ranges copied from the
// source file by the kernel (copy_file_range on Linux). Where the kernel
// cannot copy between the two files, the range is read from the source and
// written instead; the result is the same file either way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace mp {

// One piece of an output frame: `length` bytes at `out_offset` within the
// frame, either written from memory (source_offset < 0) or copied from the
// source file at `source_offset`.
struct Piece {
    size_t out_offset = 0;
    size_t length = 0;
    int64_t source_offset = -1;
    friend bool operator==(const Piece&, const Piece&) = default;
};

// Ranges shorter than this are cheaper to write from memory.
constexpr size_t kMinCopyLength = 4096;

// The NAL length field size of H.264 (avcC) or HEVC (hvcC) codec data, or
// 0 when the codec data is not in that form.
int nal_length_size_h264(const uint8_t* extradata, size_t size);
int nal_length_size_hevc(const uint8_t* extradata, size_t size);

// Frames converted without reading their large NAL bodies.
//
// The conversion filter decides what to insert (start codes, parameter
// sets) from the length fields and the first bytes of each NAL unit only.
// So it is given a stand-in frame in which each large body is cut to its
// first kStandInHead bytes followed by a marker of random bytes, unique to
// the body. In the converted stand-in each marker shows where its body
// goes; the real frame is that output with each head and marker replaced by
// the whole body, copied from the source.
constexpr size_t kStandInHead = 32;
constexpr size_t kMarkerSize = 16;

struct StandIn {
    int64_t source_offset = 0;  // of the whole body
    size_t length = 0;          // of the whole body; more than kStandInHead
    std::array<uint8_t, kStandInHead> head{};
    std::array<uint8_t, kMarkerSize> marker{};
};

// Memory for one frame, of which only the literal pieces are ever written
// or read; the rest stays untouched (never paged in).
class FrameBuffer {
public:
    uint8_t* reserve(size_t size);
    uint8_t* data() { return bytes_.get(); }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t capacity_ = 0;
};

// Lays out the real frame from `converted`, the conversion of a stand-in
// frame whose large bodies are `stand_ins` in order: puts the literal bytes
// into `frame` at their places and returns all pieces, which cover the whole
// frame. nullopt when a marker is missing, out of order, or not preceded by
// its head; `frame_size` receives the real size.
std::optional<std::vector<Piece>> expand_stand_ins(const uint8_t* converted, size_t converted_size,
                                                   const std::vector<StandIn>& stand_ins, FrameBuffer& frame,
                                                   size_t& frame_size);

// Writes the AVI file: a file descriptor with its own buffer for small
// writes, positioned writes, and kernel copies from the source.
class RangeWriter {
public:
    // `out` is the open output file (we keep using its descriptor only);
    // `source_fd` is the source opened for reading, or -1 for no copies.
    RangeWriter(std::FILE* out, int source_fd);
    ~RangeWriter();
    RangeWriter(const RangeWriter&) = delete;
    RangeWriter& operator=(const RangeWriter&) = delete;

    // Plain bytes at the current position. Returns 0 or -errno.
    int write(const uint8_t* data, size_t size);
    // A frame laid out by `pieces`: literal pieces from `data`, the others
    // copied from the source (by the kernel where it can, else read and
    // written). A piece from the source without a source file is -EBADF.
    int write_pieces(const uint8_t* data, const std::vector<Piece>& pieces);
    // Moves the position (the AVI muxer goes back to fill in headers).
    int64_t seek(int64_t offset, int whence);
    int64_t size() const;
    int flush();

    uint64_t bytes_copied() const { return bytes_copied_; }

private:
    int copy_range(int64_t source_offset, size_t size);
    int read_and_write(int64_t source_offset, size_t size);

    int fd_;
    int source_fd_;
    bool copy_works_ = true;
    std::vector<uint8_t> buffer_;
    int64_t buffer_start_ = 0;  // file offset of buffer_[0]
    int64_t position_ = 0;
    int64_t end_ = 0;
    uint64_t bytes_copied_ = 0;
    std::vector<uint8_t> copy_buffer_;  // for copies the kernel cannot do
};

}  // namespace mp
