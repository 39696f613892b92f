#include "source_reader.hpp"

#include "file_io.hpp"

#include <algorithm>
#include <limits>

namespace mp {

SourceReader::SourceReader(int fd, uint64_t file_size) : fd_(fd), file_size_(file_size)
{
    for (Window& w : windows_)
        w.bytes = std::make_unique_for_overwrite<uint8_t[]>(kMaxRead);
}

SourceReader::SourceReader(std::span<const uint8_t> bytes) : memory_(bytes.data()), file_size_(bytes.size()) {}

const uint8_t* SourceReader::at(uint64_t offset, size_t size)
{
    if (size > kMaxRead || !holds(offset, size))
        return nullptr;
    if (memory_)
        return memory_ + offset;
    for (int i = 0; i < 2; ++i) {
        Window& w = windows_[i];
        if (offset >= w.start && offset - w.start + size <= w.size) {
            last_used_ = i;
            return w.bytes.get() + (offset - w.start);
        }
    }
    // Replace the window used less recently. Read a little ahead, since the
    // next element header usually follows closely; not more, so that the
    // bytes of large frames stay unread.
    constexpr size_t kReadAhead = 1024;
    last_used_ = 1 - last_used_;
    Window& w = windows_[last_used_];
    const size_t want = static_cast<size_t>(std::min<uint64_t>(std::max(size, kReadAhead), file_size_ - offset));
    w.size = 0;
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
        !read_exact_at(fd_, w.bytes.get(), want, static_cast<int64_t>(offset)))
        return nullptr;
    w.start = offset;
    w.size = want;
    return w.bytes.get();
}

bool SourceReader::copy(uint64_t offset, size_t size, std::vector<uint8_t>& into)
{
    if (!holds(offset, size))
        return false;
    into.resize(size);
    if (memory_) {
        std::copy_n(memory_ + offset, size, into.begin());
        return true;
    }
    return offset <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) &&
           read_exact_at(fd_, into.data(), size, static_cast<int64_t>(offset));
}

}  // namespace mp
