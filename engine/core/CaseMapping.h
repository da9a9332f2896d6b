#pragma once

#include <string>
#include <string_view>

namespace gq {

// A code point lower-cased, and case-folded (one code point for one), exactly as Qt maps them:
// the tables are made from Qt's when the project is built, so that programs without Qt match
// text as the window does.
char32_t LowerCase(char32_t c);
char32_t FoldCase(char32_t c);

// ASCII letters alone lowered, as strcasecmp compares in the C locale.
std::string AsciiLower(std::string text);

// The length of the strict UTF-8 sequence (below) that starts at `text[at]`, its code point in
// `c`; 0 where none does.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at, char32_t& c);

// Strict UTF-8 (no overlong forms, surrogates or code points past U+10FFFF) as code points, as
// Qt decodes it: each byte that starts no valid sequence stands as U+FFFD. Returns whether the
// text was valid throughout.
bool DecodeUtf8Strictly(std::string_view text, std::u32string& out);

} // namespace gq
