// Writing the AVI file without copying frame data through our memory.
//
// Writing through write() costs far more than reading here: every byte is
// copied from user memory into the page cache. Most of a frame's bytes,
// though, are already in the source file exactly as the AVI needs them, so
// on the direct way the output is written as a mix of small literal pieces
// (AVI chunk headers, start codes, parameter sets) from memory and large
// ranges copied from the source file by the kernel (copy_file_range on
// Linux). Where the kernel cannot copy between the two files, the range is
// read from the source and written instead; the result is the same file
// either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
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

// The AVI file's descriptor with its own buffer for small writes,
// positioned writes, and copies from the source. The first failure to
// write sticks: every call after it returns it again, so that a failure
// inside a write the muxer does not check (or one that shows up only when
// the buffer is written out) still reaches the final flush.
class RangeWriter {
public:
    // `out` is the open output file (we keep using its descriptor only);
    // `source_fd` is the source opened for reading, or -1 for no copies.
    RangeWriter(std::FILE* out, int source_fd);
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
    int kept(int rc);
    int copy_range(int64_t source_offset, size_t size);
    int read_and_write(int64_t source_offset, size_t size);
    void moved(size_t size);

    int fd_;
    int source_fd_;
    bool kernel_copies_work_ = true;
    std::vector<uint8_t> buffer_;
    int64_t buffer_start_ = 0;  // file offset of buffer_[0]
    int64_t position_ = 0;
    int64_t end_ = 0;
    uint64_t bytes_copied_ = 0;
    int error_ = 0;  // the first failure, -errno
    std::unique_ptr<uint8_t[]> copy_buffer_;  // for copies the kernel cannot do
};

}  // namespace mp
