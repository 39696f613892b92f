// The source, opened once. libavformat reads it through an I/O context of
// ours, which hands every byte it reads to the Matroska scan as well: the
// source is read once, front to back (plus whatever seeks libavformat
// makes itself), and a pipe gives the same answers as a file.
#pragma once

#include "common/av_ptr.hpp"
#include "common/file_io.hpp"
#include "source/matroska_scan.hpp"

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

    // What the source is on the disk, to tell it from the outputs.
    FileId id() const { return id_; }

    // A regular file can be read at any offset; anything else (a pipe) is
    // read once, front to back.
    bool regular() const { return regular_; }

    // The bytes there are: a regular file's size now, or as many as a pipe
    // gave so far.
    uint64_t bytes_present() const;

    // libavformat's I/O context over the descriptor, seekable when the file
    // is regular. A read waiting on a pipe gives up when a stop is
    // requested.
    AVIOContext* io() { return io_.get(); }

    MatroskaScan& scan() { return scan_; }

private:
    static int read(void* opaque, uint8_t* into, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    int fd_ = -1;
    bool regular_ = false;
    FileId id_;
    int64_t position_ = 0;  // libavformat's reading position
    uint64_t furthest_ = 0;  // the end of the furthest read
    MatroskaScan scan_;
    CustomIoPtr io_;
};

}  // namespace mp
