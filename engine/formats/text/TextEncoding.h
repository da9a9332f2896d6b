#pragma once

#include "Utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gq::text {

enum class Encoding : std::uint8_t {
    Bytes, // UTF-8 where it reads as such, else Windows-1252
    Utf16Le,
    Utf16Be,
    Utf32Le,
    Utf32Be,
};

struct Sniffed {
    Encoding encoding = Encoding::Bytes;
    std::size_t markBytes = 0; // the byte-order mark, which is no text
};

// The encoding of a text file from its first bytes: its byte-order mark; else UTF-16 where the
// NUL bytes make it certain (Latin text puts one in every other byte, always the same side).
Sniffed SniffEncoding(std::string_view head);

// True when the first bytes of a file read as text in their encoding: a byte-order mark, or
// hardly any control codes. A stray NUL or control code does not make a file binary.
bool LooksLikeText(std::string_view head);

bool IsWide(Encoding encoding);

// UTF-16 or UTF-32 to UTF-8, block by block: a code unit or a surrogate pair may be split
// between two blocks. What does not decode becomes U+FFFD.
class WideDecoder {
public:
    explicit WideDecoder(Encoding encoding) : encoding_(encoding) {}
    void decode(std::string_view bytes, std::string& out);
    void finish(std::string& out);

private:
    void unit(const unsigned char* p, std::string& out);

    Encoding encoding_;
    std::string carry_; // the start of a code unit that the next block completes
    Utf16Decoder utf16_;
};

// Length of the well-formed UTF-8 sequence at `p` (shortest form, no surrogates, at most
// U+10FFFF), or 0.
std::size_t Utf8Length(const unsigned char* p, std::size_t available);
// Where a UTF-8 text cut at `bytes.size()` may end: before a last sequence left incomplete.
std::size_t CompleteUtf8End(std::string_view bytes);
// True when `bytes` is UTF-8; a sequence cut off at the end of a block that the file goes on
// past (`cut`) does not count against it.
bool LooksUtf8(std::string_view bytes, bool cut);
// A Windows-1252 byte at or above 0x80 as UTF-8.
void AppendCp1252(std::string& out, unsigned char byte);

} // namespace gq::text
