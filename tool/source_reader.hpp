// Small pieces of the source at given offsets, for the Matroska header
// reader and the block scanner, from a file or from bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace mp {

// Reads from a file through two windows that keep neighbouring element
// headers in one system call: a block group's children lie both before and
// after its frame's bytes, and the frame's start is read again for its NAL
// units. From memory it reads nothing and hands out the bytes themselves.
class SourceReader {
public:
    // The file open as `fd`, `file_size` bytes long.
    SourceReader(int fd, uint64_t file_size);
    // Bytes in memory, which must outlive the reader.
    explicit SourceReader(std::span<const uint8_t> bytes);

    // `size` bytes at `offset`, valid until the next call; nullptr when the
    // source ends before them or cannot be read. `size` is at most kMaxRead.
    const uint8_t* at(uint64_t offset, size_t size);

    // Copies `size` bytes at `offset` (any size) into `into`; false when the
    // source ends before them or cannot be read.
    bool copy(uint64_t offset, size_t size, std::vector<uint8_t>& into);

    uint64_t file_size() const { return file_size_; }

    static constexpr size_t kMaxRead = 16 * 1024;

private:
    bool holds(uint64_t offset, uint64_t size) const
    {
        return offset <= file_size_ && size <= file_size_ - offset;
    }

    struct Window {
        std::unique_ptr<uint8_t[]> bytes;
        uint64_t start = 0;
        size_t size = 0;
    };
    int fd_ = -1;
    const uint8_t* memory_ = nullptr;
    uint64_t file_size_;
    Window windows_[2];
    int last_used_ = 0;
};

}  // namespace mp
