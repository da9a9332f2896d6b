#include "TextEncoding.h"

#include <cstring>

namespace gq::text {

namespace {

// The NUL pattern of UTF-16 without a byte-order mark, in the high byte of each code unit:
// at least half the characters below U+0100, and few NULs on the other side (a character such
// as U+4E00 or the low half of a surrogate pair puts one there now and then).
Encoding Utf16ByNuls(std::string_view head) {
    std::size_t units = head.size() / 2;
    if (units < 2)
        return Encoding::Bytes;
    std::size_t evenNuls = 0, oddNuls = 0;
    for (std::size_t i = 0; i < 2 * units; i += 2) {
        evenNuls += head[i] == '\0';
        oddNuls += head[i + 1] == '\0';
    }
    if (oddNuls * 2 >= units && evenNuls * 4 <= oddNuls)
        return Encoding::Utf16Le;
    if (evenNuls * 2 >= units && oddNuls * 4 <= evenNuls)
        return Encoding::Utf16Be;
    return Encoding::Bytes;
}

bool IsControl(std::uint32_t c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F;
}

std::uint32_t UnitAt(const unsigned char* p, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf16Le:
        return p[0] | (p[1] << 8);
    case Encoding::Utf16Be:
        return (p[0] << 8) | p[1];
    case Encoding::Utf32Le:
        return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
    case Encoding::Utf32Be:
        return (std::uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    case Encoding::Bytes:
        break;
    }
    return p[0];
}

std::size_t UnitBytes(Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
        return 2;
    case Encoding::Utf32Le:
    case Encoding::Utf32Be:
        return 4;
    case Encoding::Bytes:
        break;
    }
    return 1;
}

// Windows-1252 for 0x80-0x9F; the five unassigned bytes map to the C1 controls of the same
// value, as the system's own conversion does. 0xA0-0xFF are Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

Sniffed SniffEncoding(std::string_view head) {
    // UTF-32 first: its little-endian mark begins with UTF-16's.
    if (head.starts_with(std::string_view("\xFF\xFE\0\0", 4)))
        return {Encoding::Utf32Le, 4};
    if (head.starts_with(std::string_view("\0\0\xFE\xFF", 4)))
        return {Encoding::Utf32Be, 4};
    if (head.starts_with("\xFF\xFE"))
        return {Encoding::Utf16Le, 2};
    if (head.starts_with("\xFE\xFF"))
        return {Encoding::Utf16Be, 2};
    if (head.starts_with("\xEF\xBB\xBF"))
        return {Encoding::Bytes, 3};
    return {Utf16ByNuls(head), 0};
}

bool LooksLikeText(std::string_view head) {
    Sniffed sniffed = SniffEncoding(head);
    if (sniffed.markBytes > 0)
        return true;
    // A binary file of some other kind (an image, a PDF, an executable) holds control codes in
    // every few dozen bytes; a text file one now and then, if at all.
    const std::size_t width = UnitBytes(sniffed.encoding);
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    std::size_t units = head.size() / width, controls = 0;
    for (std::size_t i = 0; i < units; ++i)
        controls += IsControl(UnitAt(p + i * width, sniffed.encoding));
    return controls <= 2 || controls * 100 <= units;
}

bool IsWide(Encoding encoding) {
    return encoding != Encoding::Bytes;
}

void WideDecoder::unit(const unsigned char* p, std::string& out) {
    std::uint32_t c = UnitAt(p, encoding_);
    if (encoding_ == Encoding::Utf16Le || encoding_ == Encoding::Utf16Be) {
        utf16_.add(out, static_cast<char16_t>(c));
        return;
    }
    bool valid = c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    AppendUtf8(out, valid ? c : 0xFFFD);
}

void WideDecoder::decode(std::string_view bytes, std::string& out) {
    const std::size_t width = UnitBytes(encoding_);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    if (!carry_.empty()) {
        while (carry_.size() < width && i < bytes.size())
            carry_ += bytes[i++];
        if (carry_.size() < width)
            return;
        unit(reinterpret_cast<const unsigned char*>(carry_.data()), out);
        carry_.clear();
    }
    for (; i + width <= bytes.size(); i += width)
        unit(p + i, out);
    carry_.assign(bytes.substr(i));
}

void WideDecoder::finish(std::string& out) {
    utf16_.finish(out);
    if (!carry_.empty())
        AppendUtf8(out, 0xFFFD); // the file ends inside a code unit
    carry_.clear();
}

std::size_t Utf8Length(const unsigned char* p, std::size_t available) {
    unsigned char lead = p[0];
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return length;
}

std::size_t CompleteUtf8End(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t lead = bytes.size();
    while (lead > 0 && bytes.size() - lead < 3 && (p[lead - 1] & 0xC0) == 0x80)
        --lead;
    if (lead == 0 || p[lead - 1] < 0xC2)
        return bytes.size();
    return Utf8Length(p + lead - 1, bytes.size() - lead + 1) == 0 ? lead - 1 : bytes.size();
}

bool LooksUtf8(std::string_view bytes, bool cut) {
    if (cut)
        bytes = bytes.substr(0, CompleteUtf8End(bytes));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = Utf8Length(p + i, bytes.size() - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

void AppendCp1252(std::string& out, unsigned char byte) {
    AppendUtf8(out, byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t(byte));
}

} // namespace gq::text
