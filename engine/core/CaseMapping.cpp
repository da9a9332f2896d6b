#include "CaseMapping.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace gq {

namespace {

struct CaseRun {
    char32_t first, last;
    std::int32_t delta;
    std::uint32_t stride;
};

#include "CaseTables.inc"

template <std::size_t N> char32_t Map(const CaseRun (&runs)[N], char32_t c) {
    const CaseRun* after =
        std::upper_bound(std::begin(runs), std::end(runs), c,
                         [](char32_t c, const CaseRun& run) { return c < run.first; });
    if (after == std::begin(runs))
        return c;
    const CaseRun& run = after[-1];
    if (c > run.last || (c - run.first) % run.stride != 0)
        return c;
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + run.delta);
}

} // namespace

std::size_t Utf8SequenceAt(std::string_view text, std::size_t at, char32_t& c) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    const std::size_t left = text.size() - at;
    const unsigned char b = p[0];
    std::size_t size;
    char32_t min;
    if (b < 0x80) {
        c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        size = 2, min = 0x80, c = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        size = 3, min = 0x800, c = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
        size = 4, min = 0x10000, c = b & 0x07u;
    } else {
        return 0;
    }
    if (left < size)
        return 0;
    for (std::size_t k = 1; k < size; ++k) {
        if ((p[k] & 0xC0u) != 0x80)
            return 0;
        c = c << 6 | (p[k] & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return size;
}

char32_t LowerCase(char32_t c) {
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return Map(kLowerRuns, c);
}

char32_t FoldCase(char32_t c) {
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return Map(kFoldRuns, c);
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return text;
}

bool DecodeUtf8Strictly(std::string_view text, std::u32string& out) {
    out.clear();
    bool valid = true;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        if (const std::size_t size = Utf8SequenceAt(text, i, c)) {
            out.push_back(c);
            i += size;
        } else {
            out.push_back(0xFFFD);
            valid = false;
            ++i;
        }
    }
    return valid;
}

} // namespace gq
