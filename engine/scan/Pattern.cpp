#include "Pattern.h"

#include "ByteWords.h"
#include "CaseMapping.h"
#include "Utf8.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gq {

void LowerCaseInto(std::string_view text, std::string& out) {
    // The ASCII run that nearly all text starts with lowers eight bytes at a time: in a word of
    // ASCII bytes, adding 0x3F sets a byte's top bit from 'A' up and adding 0x25 from past 'Z'
    // on, without a carry between bytes; where the two differ the byte is a capital, and its
    // 0x20 bit is set. The rest goes character by character.
    out.resize(text.size());
    char* lowered = out.data(); // a char store through out[] would make every pass reload it
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes a step where the processor has the instructions (every x86-64 has).
    const __m128i beforeA = _mm_set1_epi8('A' - 1), afterZ = _mm_set1_epi8('Z' + 1);
    const __m128i caseBit = _mm_set1_epi8(0x20);
    for (; i + 16 <= text.size(); i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        if (_mm_movemask_epi8(bytes) != 0)
            break; // a byte from 0x80 up
        const __m128i capitals =
            _mm_and_si128(_mm_cmpgt_epi8(bytes, beforeA), _mm_cmplt_epi8(bytes, afterZ));
        bytes = _mm_or_si128(bytes, _mm_and_si128(capitals, caseBit));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lowered + i), bytes);
    }
#endif
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word = WordAt(text, i);
        if (word & kByteTops)
            break;
        const std::uint64_t capitals =
            ((word + (0x80 - 'A') * kByteOnes) ^ (word + (0x7F - 'Z') * kByteOnes)) & kByteTops;
        word |= capitals >> 2;
        std::memcpy(lowered + i, &word, 8);
    }
    for (unsigned char b; i < text.size() && (b = static_cast<unsigned char>(text[i])) < 0x80; ++i)
        lowered[i] = static_cast<char>(b + (static_cast<unsigned char>(b - 'A') < 26 ? 32 : 0));
    out.resize(i);
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b));
            ++i;
            continue;
        }
        std::size_t start = i;
        char32_t c = NextCodePoint(text, i);
        if (i - start == 1 && c >= 0x80) // an invalid byte: keep it untouched
            out.push_back(static_cast<char>(b));
        else
            AppendUtf8(out, LowerCase(c));
    }
}

SearchPattern::SearchPattern(std::string_view term, bool ignoreCase) : ignoreCase_(ignoreCase) {
    std::string source;
    if (ignoreCase)
        LowerCaseInto(term, source);
    else
        source.assign(term);
    if (source.find('*') == std::string::npos)
        source = "*" + source + "*";
    std::u32string pattern;
    DecodeUtf8(source, pattern);
    compile(pattern);
}

void SearchPattern::compile(const std::u32string& pattern) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char32_t c = pattern[i];
        if (c == U'*') {
            if (tokens_.empty() || tokens_.back().kind != Kind::Star)
                tokens_.push_back({Kind::Star});
        } else if (c == U'?') {
            tokens_.push_back({Kind::AnyChar});
        } else if (c == U'#') {
            tokens_.push_back({Kind::Digit});
        } else if (c == U'[') {
            std::size_t close = pattern.find(U']', i + 1);
            if (close == std::u32string::npos) {
                valid_ = false;
                return;
            }
            std::size_t first = i + 1;
            bool negated = first < close && pattern[first] == U'!';
            if (negated)
                ++first;
            // "[]" stands for nothing at all: it consumes no character.
            if (first == close && !negated) {
                i = close;
                continue;
            }
            Token token{negated ? Kind::NotSet : Kind::Set};
            token.ranges = static_cast<std::uint32_t>(ranges_.size());
            for (std::size_t k = first; k < close; ++k) {
                char32_t low = pattern[k];
                if (k + 2 < close && pattern[k + 1] == U'-') {
                    char32_t high = pattern[k + 2];
                    if (high < low) {
                        valid_ = false;
                        return;
                    }
                    ranges_.push_back({low, high});
                    k += 2;
                } else {
                    ranges_.push_back({low, low});
                }
            }
            token.count = static_cast<std::uint32_t>(ranges_.size()) - token.ranges;
            tokens_.push_back(token);
            i = close;
        } else {
            tokens_.push_back({Kind::Literal, c});
        }
    }

    for (const Token& token : tokens_)
        if (token.kind == Kind::Literal && token.ch < 0x80)
            needed_ |= 1ull << (token.ch & 63);

    // Recognise "*lit*", "lit*", "*lit", "lit" and "*": the common shapes, answered by a byte
    // search on the UTF-8 text, which is exact because UTF-8 is self-synchronising.
    std::size_t begin = 0, end = tokens_.size();
    bool leadingStar = begin < end && tokens_[begin].kind == Kind::Star;
    if (leadingStar)
        ++begin;
    bool trailingStar = end > begin && tokens_[end - 1].kind == Kind::Star;
    if (trailingStar)
        --end;
    for (std::size_t k = begin; k < end; ++k) {
        if (tokens_[k].kind != Kind::Literal)
            return;
        AppendUtf8(literal_, tokens_[k].ch);
    }
    // An ASCII letter of a lower-cased literal also stands for its capital: OR-ing 0x20 into a
    // text byte makes either of them the letter, and nothing else.
    folds_.assign(literal_.size(), 0);
    asciiLiteral_ = true;
    for (std::size_t k = 0; k < literal_.size(); ++k) {
        const char c = literal_[k];
        if (ignoreCase_ && c >= 'a' && c <= 'z')
            folds_[k] = 0x20;
        asciiLiteral_ = asciiLiteral_ && static_cast<unsigned char>(c) < 0x80;
    }
    if (leadingStar && (trailingStar || begin == end))
        shape_ = literal_.empty() ? Shape::Anything : Shape::Contains;
    else if (leadingStar)
        shape_ = Shape::EndsWith;
    else if (trailingStar)
        shape_ = Shape::StartsWith;
    else
        shape_ = Shape::Equals;
}

bool SearchPattern::inSet(const Token& token, char32_t c) const {
    for (std::uint32_t k = token.ranges; k < token.ranges + token.count; ++k)
        if (c >= ranges_[k].first && c <= ranges_[k].second)
            return true;
    return false;
}

bool SearchPattern::tokenMatches(const Token& token, char32_t c) const {
    switch (token.kind) {
    case Kind::Literal:
        return token.ch == c;
    case Kind::AnyChar:
        return true;
    case Kind::Digit:
        return c >= U'0' && c <= U'9';
    case Kind::Set:
        return inSet(token, c);
    case Kind::NotSet:
        return !inSet(token, c);
    case Kind::Star:
        break;
    }
    return false;
}

// Every token but '*' consumes exactly one character, so going back to the last '*' and letting it
// take one more character is complete: O(text x pattern) at worst, never exponential.
bool SearchPattern::matchGeneral(const std::u32string& text) const {
    std::size_t t = 0, p = 0;
    std::size_t starToken = std::string::npos, starText = 0;
    while (t < text.size()) {
        if (p < tokens_.size() && tokens_[p].kind == Kind::Star) {
            starToken = p++;
            starText = t;
        } else if (p < tokens_.size() && tokenMatches(tokens_[p], text[t])) {
            ++p;
            ++t;
        } else if (starToken != std::string::npos) {
            p = starToken + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < tokens_.size() && tokens_[p].kind == Kind::Star)
        ++p;
    return p == tokens_.size();
}

namespace {

// Whether `literal` occurs at `at`, each text byte OR-ed with the literal's fold byte first.
bool FoldedAt(const char* at, std::string_view literal, const std::string& folds) {
    for (std::size_t k = 0; k < literal.size(); ++k)
        if (static_cast<char>(at[k] | folds[k]) != literal[k])
            return false;
    return true;
}

bool IsAscii(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8)
        if (WordAt(text, i) & kByteTops)
            return false;
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    return true;
}

// Whether `literal` occurs in `text`, each text byte OR-ed with the literal's fold byte first;
// when it does not, `ascii` tells whether the text is ASCII alone. Sixteen places a step are
// sifted by their first and last bytes, which a run of a common first letter does not slow as a
// search for the first byte alone is; the last places, and a short text's, are sifted from a copy
// with room after it. The bytes sifted are every byte of the text: whether one is from 0x80 up
// comes with them, not from a second pass.
bool ContainsFolded(std::string_view text, std::string_view literal, const std::string& folds,
                    bool& ascii) {
    const std::size_t size = literal.size();
    std::size_t at = 0;
#if defined(__SSE2__)
    if (text.size() >= size && size <= 48) {
        const std::size_t places = text.size() - size + 1;
        const __m128i first = _mm_set1_epi8(literal.front());
        const __m128i firstFold = _mm_set1_epi8(folds.front());
        const __m128i last = _mm_set1_epi8(literal.back());
        const __m128i lastFold = _mm_set1_epi8(folds.back());
        __m128i seen = _mm_setzero_si128(); // every byte sifted, OR-ed
        // The places among the sixteen from `from` (up to `count` of them) that hold the literal.
        auto sift = [&](const char* from, std::size_t count) {
            const __m128i firsts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            const __m128i lasts =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + size - 1));
            seen = _mm_or_si128(seen, _mm_or_si128(firsts, lasts));
            auto both = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(firsts, firstFold), first),
                              _mm_cmpeq_epi8(_mm_or_si128(lasts, lastFold), last))));
            for (both &= (1u << count) - 1; both; both &= both - 1)
                if (FoldedAt(from + std::countr_zero(both), literal, folds))
                    return true;
            return false;
        };
        for (; at + 16 <= places; at += 16)
            if (sift(text.data() + at, 16))
                return true;
        if (at < places) {
            char copy[64] = {};
            std::memcpy(copy, text.data() + at, text.size() - at);
            if (sift(copy, places - at))
                return true;
        }
        ascii = _mm_movemask_epi8(seen) == 0;
        return false;
    }
#endif
    for (; at + size <= text.size(); ++at)
        if (FoldedAt(text.data() + at, literal, folds))
            return true;
    ascii = IsAscii(text);
    return false;
}

} // namespace

// Cell texts are short: finding the literal's first byte with memchr and comparing the rest beats
// a general substring search, whose set-up costs more than the search itself.
bool SearchPattern::contains(std::string_view text) const {
    const std::size_t size = literal_.size();
    if (text.size() < size)
        return false;
    const char first = literal_[0];
    const char* at = text.data();
    const char* last = text.data() + (text.size() - size);
    while (at <= last) {
        at = static_cast<const char*>(
            std::memchr(at, first, static_cast<std::size_t>(last - at) + 1));
        if (!at)
            return false;
        if (std::memcmp(at + 1, literal_.data() + 1, size - 1) == 0)
            return true;
        ++at;
    }
    return false;
}

std::optional<bool> SearchPattern::matchesUnlowered(std::string_view text) const {
    if (!valid_ || !ignoreCase_ || shape_ != Shape::Contains || !asciiLiteral_)
        return std::nullopt;
    // Lower-casing keeps every ASCII byte in its place, lowered: a match here is one there. Only
    // a character from 0x80 up can lower to ASCII (the Kelvin sign to 'k') and make one more.
    bool ascii = false;
    if (ContainsFolded(text, literal_, folds_, ascii))
        return true;
    if (ascii)
        return false;
    return std::nullopt;
}

namespace {

// The ASCII characters that lower-casing makes of other characters (the Kelvin sign gives 'k').
const std::bitset<128>& AsciiLoweredFromOthers() {
    static const std::bitset<128> lowered = [] {
        std::bitset<128> found;
        for (char32_t c = 0x80; c <= 0x10FFFF; ++c)
            if (char32_t l = LowerCase(c); l < 0x80)
                found.set(l);
        return found;
    }();
    return lowered;
}

// Whether the text the matcher sees (decoded, and lower-cased with `lowered`) can hold `c` when
// the text's bytes all lie in `bytes`. Only the leads E0 and F0 decode to ASCII in more than one
// byte (overlong forms, which the decoder accepts); other non-ASCII bytes decode to non-ASCII
// characters, of which lower-casing makes ASCII only from a few.
bool CouldOccur(char32_t c, const std::bitset<256>& bytes, bool lowered) {
    const bool others = (bytes >> 0x80).any();
    if (c >= 0x80)
        return others;
    if (bytes[c] || bytes[0xE0] || bytes[0xF0])
        return true;
    return lowered && ((c >= 'a' && c <= 'z' && bytes[c - 'a' + 'A']) ||
                       (others && AsciiLoweredFromOthers()[c]));
}

// The same for some character from `low` to `high`.
bool AnyCouldOccur(char32_t low, char32_t high, const std::bitset<256>& bytes, bool lowered) {
    if (high >= 0x80 && CouldOccur(high, bytes, lowered))
        return true;
    for (char32_t c = low; c <= high && c < 0x80; ++c)
        if (CouldOccur(c, bytes, lowered))
            return true;
    return false;
}

} // namespace

bool SearchPattern::couldMatchTextOf(const std::bitset<256>& bytes) const {
    if (!valid_)
        return false;
    for (const Token& token : tokens_) {
        bool couldOccur = true;
        switch (token.kind) {
        case Kind::Literal:
            couldOccur = CouldOccur(token.ch, bytes, ignoreCase_);
            break;
        case Kind::Digit:
            couldOccur = AnyCouldOccur(U'0', U'9', bytes, ignoreCase_);
            break;
        case Kind::Set:
            couldOccur = false;
            for (std::uint32_t k = token.ranges; k < token.ranges + token.count && !couldOccur; ++k)
                couldOccur = AnyCouldOccur(ranges_[k].first, ranges_[k].second, bytes, ignoreCase_);
            break;
        default: // '*', '?' and '[!...]' ask for nothing in particular
            break;
        }
        if (!couldOccur)
            return false;
    }
    return true;
}

// An ASCII character that the decoder reads from several bytes (an overlong form) has its six low
// bits in the last of them: its bit is set all the same.
std::uint64_t SearchPattern::BytesHeld(std::string_view prepared) {
    std::uint64_t bits = 0;
    for (const char c : prepared)
        bits |= 1ull << (static_cast<unsigned char>(c) & 63);
    return bits;
}

bool SearchPattern::matchesPrepared(std::string_view text) const {
    if (!valid_)
        return false;
    switch (shape_) {
    case Shape::Anything:
        return true;
    case Shape::Contains:
        return contains(text);
    case Shape::StartsWith:
        return text.starts_with(literal_);
    case Shape::EndsWith:
        return text.ends_with(literal_);
    case Shape::Equals:
        return text == literal_;
    case Shape::General:
        break;
    }
    DecodeUtf8(text, decoded_);
    return matchGeneral(decoded_);
}

bool SearchPattern::matches(std::string_view text) const {
    if (!valid_)
        return false;
    if (!ignoreCase_)
        return matchesPrepared(text);
    if (std::optional<bool> verdict = matchesUnlowered(text))
        return *verdict;
    LowerCaseInto(text, lowered_);
    return matchesPrepared(lowered_);
}

} // namespace gq
