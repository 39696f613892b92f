// Builders for EBML (Matroska) bytes in the unit tests.
#pragma once

#include <cstdint>
#include <string>

namespace mptest::ebml_builders {

inline std::string vint_size(uint64_t size)
{
    // 8-byte size field: 0x01 followed by 7 bytes.
    std::string s(1, '\x01');
    for (int i = 6; i >= 0; --i)
        s += static_cast<char>((size >> (8 * i)) & 0xFF);
    return s;
}

inline std::string id_bytes(uint32_t id)
{
    std::string s;
    bool started = false;
    for (int i = 3; i >= 0; --i) {
        const char b = static_cast<char>((id >> (8 * i)) & 0xFF);
        if (b || started) {
            s += b;
            started = true;
        }
    }
    return s;
}

inline std::string element(uint32_t id, const std::string& payload)
{
    return id_bytes(id) + vint_size(payload.size()) + payload;
}

inline std::string uint_element(uint32_t id, uint64_t value)
{
    std::string payload;
    for (int i = 7; i >= 0; --i)
        payload += static_cast<char>((value >> (8 * i)) & 0xFF);
    return element(id, payload);
}

}  // namespace mptest::ebml_builders
