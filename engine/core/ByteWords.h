#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace gq {

// Text taken eight bytes at a time. The marks below set the top bit of the bytes they find;
// the lowest mark is exact (a byte past it may be marked falsely), so the first such byte of a
// word is found as FirstMarked(marks).
inline constexpr std::uint64_t kByteOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kByteTops = 0x80 * kByteOnes;

inline std::uint64_t WordAt(std::string_view text, std::size_t at) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    return word;
}
// Bytes below `n` (at most 0x80).
inline std::uint64_t MarkBelow(std::uint64_t word, unsigned n) {
    return (word - n * kByteOnes) & ~word & kByteTops;
}
inline std::uint64_t MarkEqual(std::uint64_t word, char c) {
    const std::uint64_t differences = word ^ (static_cast<unsigned char>(c) * kByteOnes);
    return (differences - kByteOnes) & ~differences & kByteTops;
}
inline std::size_t FirstMarked(std::uint64_t marks) {
    return static_cast<std::size_t>(std::countr_zero(marks) / 8);
}

} // namespace gq
