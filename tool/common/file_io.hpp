// The file descriptor calls this tool makes, in one place for Windows and
// POSIX: opening the source, asking what it is, and reading and writing at
// given offsets without moving (or depending on) the descriptor's own
// position where the system allows, so that one descriptor can serve
// several readers. Errors are -errno unless said otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>

namespace mp {

// Opens `path` for reading: a descriptor, or -1 with errno set.
int open_for_reading(const std::filesystem::path& path);

void close_file(int fd);

// Creates the file `path` for writing, only if nothing has that name yet
// (so two runs never share a file): its stdio handle, or null with errno
// set (EEXIST when the name is taken). Any name the system takes, also on
// Windows, where stdio's narrow names cannot spell every file name.
std::FILE* create_new_file(const std::filesystem::path& path);

// Opens the existing file (a device) at `path` for writing in place: its
// stdio handle, or null with errno set.
std::FILE* open_for_writing(const std::filesystem::path& path);

// Removes the file at `path`, never a folder: 0 or an errno value.
int remove_file(const std::filesystem::path& path);

// The descriptor of an open stdio file.
int descriptor_of(std::FILE* file);

// Whether the open descriptor `fd` can be written at any offset.
bool seekable(int fd);

// What a file is, on the disk: its device and inode.
struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

struct FileStatus {
    bool folder = false;
    bool regular = false;
    uint64_t size = 0;  // of a regular file
    FileId id;
};

// What the open descriptor `fd` is; false with errno set when unknown.
bool file_status(int fd, FileStatus& status);

// The identity of the file at `path` (links followed), if there is one
// (never on Windows, which has no inode numbers).
std::optional<FileId> file_id_at(const std::filesystem::path& path);

// One read of up to `size` bytes at the descriptor's own position: the
// count read, 0 at the end, or -errno (-EINTR included, for the caller to
// decide whether to go on).
int64_t read_once(int fd, uint8_t* into, size_t size);

// One read of up to `size` bytes at `offset`, likewise.
int64_t read_once_at(int fd, uint8_t* into, size_t size, int64_t offset);

// Tells the system that `fd` will be read from start to end, so that it
// reads further ahead.
void advise_sequential(int fd);

// Writes all `first_size` bytes of `first` and then all `second_size`
// bytes of `second` at `offset`, in one call where the system allows:
// 0 or -errno.
int write_two_at(int fd, const uint8_t* first, size_t first_size, const uint8_t* second, size_t second_size,
                 int64_t offset);

}  // namespace mp
