#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gq {

void AppendUtf8(std::string& out, char32_t c);

// Decodes the code point at `i` and moves past it; an invalid sequence yields its first byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i);

// UTF-8 to code points; an invalid byte stands for itself (as U+FFFD would lose information).
void DecodeUtf8(std::string_view text, std::u32string& out);

// UTF-16 code units to UTF-8. A surrogate pair may be split between two calls (a string split
// between two records); a lone surrogate becomes U+FFFD.
class Utf16Decoder {
public:
    void add(std::string& out, char16_t unit);
    void append(std::string& out, const std::uint8_t* littleEndian, std::size_t units);
    void finish(std::string& out); // flushes a dangling high surrogate

private:
    char16_t pendingHigh_ = 0;
};

} // namespace gq
