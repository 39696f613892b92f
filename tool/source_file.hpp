// The source file, opened once. Its one descriptor serves libavformat
// (through an I/O context of ours), the Matroska header reader, the direct
// way's scan and the kernel copies; all of them read at offsets of their
// own, so none disturbs another.
#pragma once

#include "av_ptr.hpp"

#include <cstdint>
#include <filesystem>

namespace mp {

class SourceFile {
public:
    // Opens `path` for reading. Throws Error when it cannot be opened or is
    // a folder.
    explicit SourceFile(const std::filesystem::path& path);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    int fd() const { return fd_; }

    // A regular file can be read at any offset; anything else (a pipe) is
    // read once, front to back, by libavformat alone.
    bool regular() const { return regular_; }

    // The file's size now; 0 when it is not a regular file.
    uint64_t size() const;

    // libavformat's I/O context over the descriptor, seekable when the file
    // is regular. A read waiting on a pipe gives up when a stop is
    // requested.
    AVIOContext* io() { return io_.get(); }

private:
    static int read(void* opaque, uint8_t* into, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    int fd_ = -1;
    bool regular_ = false;
    int64_t position_ = 0;  // libavformat's reading position
    CustomIoPtr io_;
};

}  // namespace mp
