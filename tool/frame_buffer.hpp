// Memory for one frame on the direct way, of which only the literal pieces
// are ever written or read; the rest stays untouched (never paged in).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace mp {

class FrameBuffer {
public:
    // At least `size` bytes, their contents undefined.
    uint8_t* reserve(size_t size)
    {
        if (size > capacity_) {
            // Deliberately not value-initialised: untouched pages cost nothing.
            bytes_ = std::make_unique_for_overwrite<uint8_t[]>(size);
            capacity_ = size;
        }
        return bytes_.get();
    }
    uint8_t* data() { return bytes_.get(); }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t capacity_ = 0;
};

}  // namespace mp
