// Reading and writing a file descriptor at given offsets, without moving
// (or depending on) the descriptor's own position where the system allows,
// so that one descriptor can serve several readers. Errors are -errno.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mp {

// One read of up to `size` bytes at the descriptor's own position: the
// count read, 0 at the end, or -errno (-EINTR included, for the caller to
// decide whether to go on).
int64_t read_once(int fd, uint8_t* into, size_t size);

// One read of up to `size` bytes at `offset`, likewise.
int64_t read_once_at(int fd, uint8_t* into, size_t size, int64_t offset);

// Reads exactly `size` bytes at `offset`; false on an error or early end.
bool read_exact_at(int fd, uint8_t* into, size_t size, int64_t offset);

// Writes all `size` bytes at `offset`: 0 or -errno.
int write_all_at(int fd, const uint8_t* data, size_t size, int64_t offset);

}  // namespace mp
