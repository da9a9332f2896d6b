#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gq::xls {

// Characters U+0000..U+00FF, one byte each (the "compressed" form of unicode strings).
void AppendLatin1(std::string& out, const std::uint8_t* bytes, std::size_t count);

// Byte strings of the older stream version, in the workbook's code page (its CODEPAGE record).
// Bytes the code page does not map become U+FFFD.
class CodePage {
public:
    explicit CodePage(int codePage = 1252);
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    void append(std::string& out, const std::uint8_t* bytes, std::size_t count);
    // The converter name for a code page number ("CP1252", "CP437", ...).
    static const char* charsetName(int codePage);

private:
    void* converter_ = nullptr; // iconv_t
    bool utf8_ = false;
};

} // namespace gq::xls
