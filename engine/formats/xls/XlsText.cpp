#include "XlsText.h"

#include "Utf8.h"

#include <iconv.h>

#include <cerrno>

namespace gq::xls {

void AppendLatin1(std::string& out, const std::uint8_t* bytes, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        std::size_t ascii = i;
        while (ascii < count && bytes[ascii] < 0x80)
            ++ascii;
        out.append(reinterpret_cast<const char*>(bytes + i), ascii - i);
        if (ascii < count)
            AppendUtf8(out, bytes[ascii++]);
        i = ascii;
    }
}

const char* CodePage::charsetName(int codePage) {
    switch (codePage) {
    case 367:
        return "ASCII";
    case 437:
        return "CP437";
    case 737:
        return "CP737";
    case 775:
        return "CP775";
    case 850:
        return "CP850";
    case 852:
        return "CP852";
    case 855:
        return "CP855";
    case 857:
        return "CP857";
    case 858:
        return "CP858";
    case 860:
        return "CP860";
    case 861:
        return "CP861";
    case 862:
        return "CP862";
    case 863:
        return "CP863";
    case 864:
        return "CP864";
    case 865:
        return "CP865";
    case 866:
        return "CP866";
    case 869:
        return "CP869";
    case 874:
        return "CP874";
    case 932:
        return "CP932";
    case 936:
        return "CP936";
    case 949:
        return "CP949";
    case 950:
        return "CP950";
    case 1250:
        return "CP1250";
    case 1251:
        return "CP1251";
    case 1253:
        return "CP1253";
    case 1254:
        return "CP1254";
    case 1255:
        return "CP1255";
    case 1256:
        return "CP1256";
    case 1257:
        return "CP1257";
    case 1258:
        return "CP1258";
    case 1361:
        return "JOHAB";
    case 10000:
    case 32768:
        return "MACINTOSH";
    case 10007:
        return "MAC-CYRILLIC";
    case 65001:
        return "UTF-8";
    default:
        // 1252 itself, 32769 (the old "ANSI" number) and anything unknown: the most common one
        // is the best guess, and it maps every byte.
        return "CP1252";
    }
}

CodePage::CodePage(int codePage) {
    const char* name = charsetName(codePage);
    utf8_ = codePage == 65001;
    if (utf8_)
        return;
    iconv_t cd = iconv_open("UTF-8", name);
    if (cd == reinterpret_cast<iconv_t>(-1))
        cd = iconv_open("UTF-8", "CP1252");
    if (cd != reinterpret_cast<iconv_t>(-1))
        converter_ = cd;
}

CodePage::~CodePage() {
    if (converter_)
        iconv_close(static_cast<iconv_t>(converter_));
}

void CodePage::append(std::string& out, const std::uint8_t* bytes, std::size_t count) {
    std::size_t ascii = 0;
    while (ascii < count && bytes[ascii] < 0x80)
        ++ascii;
    out.append(reinterpret_cast<const char*>(bytes), ascii);
    if (ascii == count)
        return;
    if (utf8_ || !converter_) {
        // Without a converter the bytes stay Latin-1; UTF-8 input is passed on as it is.
        if (utf8_)
            out.append(reinterpret_cast<const char*>(bytes + ascii), count - ascii);
        else
            AppendLatin1(out, bytes + ascii, count - ascii);
        return;
    }
    iconv_t cd = static_cast<iconv_t>(converter_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes + ascii));
    std::size_t inLeft = count - ascii;
    char chunk[1024];
    while (inLeft > 0) {
        char* outPtr = chunk;
        std::size_t outLeft = sizeof chunk;
        std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, static_cast<std::size_t>(outPtr - chunk));
        if (result != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        // An unmapped byte, or a lead byte with its trail byte missing.
        AppendUtf8(out, 0xFFFD);
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Some converters (1255, 1258) hold a character back until they know no combining mark
    // follows it.
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(chunk, static_cast<std::size_t>(outPtr - chunk));
}

} // namespace gq::xls
