#pragma once

#include <cstdint>

namespace gq {

// Little-endian fields of binary records and headers; the caller has checked the size.
inline std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t U64(const std::uint8_t* p) {
    return U32(p) | static_cast<std::uint64_t>(U32(p + 4)) << 32;
}

} // namespace gq
