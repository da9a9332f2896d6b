#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace gq {

class ByteStream;
class SheetCells;
class StringPool;

// Reads the cells of a worksheet part straight from its bytes, several times faster than a general
// XML parser: a scanner for the sheet grammar that builds no tree and copies no names. It still
// checks what makes XML well-formed (nesting, names, attributes, references, comments, CDATA,
// processing instructions, UTF-8) and refuses a damaged part as expat does, with expat's reason.
class SheetScanner {
public:
    static constexpr std::size_t kBufferBytes = 1 << 18;

    // Reads the part's prolog: its declaration, comments and processing instructions. The part
    // passes through a buffer of `bufferBytes` (at least 128); tests make it small, so that markup
    // falls across its end everywhere.
    explicit SheetScanner(ByteStream& input, std::size_t bufferBytes = kBufferBytes);
    ~SheetScanner();
    SheetScanner(const SheetScanner&) = delete;
    SheetScanner& operator=(const SheetScanner&) = delete;

    // False when the part needs a general XML parser (an encoding other than UTF-8, a document
    // type declaration, anything unexpected before its root element): then nothing has been
    // passed on, and the part is to be read again from its start.
    bool readsPart() const;
    // Passes the cells on; throws gq::Error for a damaged part.
    void read(SheetCells& cells);

private:
    class Scanner;
    std::unique_ptr<Scanner> scanner_;
};

// Reads a shared-string table written in its plain form, as most writers write it: a
// declaration, the root with plain attributes, and items that are each one run of text with no
// reference but the five named ones (<si><t>tea &amp; milk</t></si>). Adds the strings to `pool`
// and returns true only when every byte of the part is in that form, which expat reads to the same
// strings; false, with `pool` as it was, for anything else (rich text, references, comments..., or
// a pool that holds a table already), which is the general parser's to read from the part's
// start. The part passes through a buffer of `bufferBytes` (tests make it small).
inline constexpr std::size_t kPlainTableBufferBytes = 1 << 16;
bool ReadPlainSharedStrings(ByteStream& input, StringPool& pool,
                            std::size_t bufferBytes = kPlainTableBufferBytes);

} // namespace gq
