#include "Escapes.h"

#include "ByteWords.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace gq::cli {

namespace {

// What TAB, CR, LF and backslash become after their backslash; 0 for the other bytes.
constexpr std::array<char, 256> kEscapes = [] {
    std::array<char, 256> escapes{};
    escapes['\t'] = 't';
    escapes['\r'] = 'r';
    escapes['\n'] = 'n';
    escapes['\\'] = '\\';
    return escapes;
}();

char* PutEscapedByte(char* at, char c) {
    if (char escape = kEscapes[static_cast<unsigned char>(c)]) {
        *at++ = '\\';
        c = escape;
    }
    *at = c;
    return at + 1;
}

} // namespace

// Sixteen or eight bytes at a time: the bytes before the first that may need escaping (below
// 0x0E, where TAB, LF and CR are, or a backslash) go as they are.
char* PutEscapedInWords(char* at, std::string_view text) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i highestLow = _mm_set1_epi8(0x0D), backslash = _mm_set1_epi8('\\');
    while (i + 16 <= text.size()) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(bytes, highestLow), bytes);
        const int marks = _mm_movemask_epi8(_mm_or_si128(low, _mm_cmpeq_epi8(bytes, backslash)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), bytes);
        if (!marks) {
            at += 16;
            i += 16;
            continue;
        }
        const auto plain = static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(marks)));
        at = PutEscapedByte(at + plain, text[i + plain]);
        i += plain + 1;
    }
#endif
    while (i + 8 <= text.size()) {
        const std::uint64_t word = WordAt(text, i);
        const std::uint64_t marks = MarkBelow(word, 0x0E) | MarkEqual(word, '\\');
        // Eight bytes are stored whatever comes: those past the plain ones are written over.
        std::memcpy(at, &word, 8);
        if (!marks) {
            at += 8;
            i += 8;
            continue;
        }
        const std::size_t plain = FirstMarked(marks);
        at = PutEscapedByte(at + plain, text[i + plain]);
        i += plain + 1;
    }
    for (char c : text.substr(i))
        at = PutEscapedByte(at, c);
    return at;
}

#if defined(__x86_64__)

bool WideEscapesRun() {
    __builtin_cpu_init(); // asked from a static initializer, perhaps before the runtime's own
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

// 32 bytes at a time with no branch on where escapes fall (a line of the text scan has one every
// few bytes, which the words' way pays for in mispredicted branches): each byte is spread to its
// place after the backslashes before it by one expand, the places found from the escapes' mask
// by a deposit and an extract of bits.
[[gnu::target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")]] char*
PutEscapedWide(char* at, std::string_view text) {
    const __m512i tab = _mm512_set1_epi8('\t'), lf = _mm512_set1_epi8('\n'),
                  cr = _mm512_set1_epi8('\r'), backslash = _mm512_set1_epi8('\\');
    // Two places for each byte, the even one a backslash's when the byte is escaped: the
    // places taken, squeezed together, show where each byte goes and where a backslash does.
    constexpr std::uint64_t kEven = 0x5555555555555555, kOdd = ~kEven;
    for (std::size_t i = 0; i < text.size(); i += 32) {
        const std::size_t count = std::min<std::size_t>(32, text.size() - i);
        __m512i bytes = _mm512_maskz_loadu_epi8(_bzhi_u64(~0ull, static_cast<unsigned>(count)),
                                                text.data() + i);
        const __mmask64 tabs = _mm512_cmpeq_epi8_mask(bytes, tab);
        const __mmask64 lfs = _mm512_cmpeq_epi8_mask(bytes, lf);
        const __mmask64 crs = _mm512_cmpeq_epi8_mask(bytes, cr);
        const std::uint64_t marks = tabs | lfs | crs | _mm512_cmpeq_epi8_mask(bytes, backslash);
        bytes = _mm512_mask_mov_epi8(bytes, tabs, _mm512_set1_epi8('t'));
        bytes = _mm512_mask_mov_epi8(bytes, lfs, _mm512_set1_epi8('n'));
        bytes = _mm512_mask_mov_epi8(bytes, crs, _mm512_set1_epi8('r'));
        const std::uint64_t places = _pext_u64(kOdd, _pdep_u64(marks, kEven) | kOdd);
        const auto written = static_cast<unsigned>(count + _mm_popcnt_u64(marks));
        const __mmask64 out = _bzhi_u64(~0ull, written);
        const __m512i escaped =
            _mm512_mask_mov_epi8(_mm512_maskz_expand_epi8(places, bytes), out & ~places, backslash);
        _mm512_mask_storeu_epi8(at, out, escaped);
        at += written;
    }
    return at;
}

namespace {
const bool kWide = WideEscapesRun();
} // namespace

char* PutEscaped(char* at, std::string_view text) {
    return kWide ? PutEscapedWide(at, text) : PutEscapedInWords(at, text);
}

#else

char* PutEscaped(char* at, std::string_view text) {
    return PutEscapedInWords(at, text);
}

#endif

} // namespace gq::cli
