#include "Utf8.h"

namespace gq {

char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead > 0xF4)
        length = 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return lead;
    }
    char32_t c = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        unsigned char next = byte(i + k);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return lead;
        }
        c = (c << 6) | (next & 0x3F);
    }
    i += length;
    return c;
}

void DecodeUtf8(std::string_view text, std::u32string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size();)
        out.push_back(NextCodePoint(text, i));
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void Utf16Decoder::append(std::string& out, const std::uint8_t* bytes, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i)
        add(out, static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
}

void Utf16Decoder::add(std::string& out, char16_t unit) {
    if (unit < 0x80 && !pendingHigh_) {
        out.push_back(static_cast<char>(unit));
        return;
    }
    if (pendingHigh_) {
        char16_t high = pendingHigh_;
        pendingHigh_ = 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((char32_t(high) - 0xD800) << 10) + (unit - 0xDC00));
            return;
        }
        AppendUtf8(out, 0xFFFD);
    }
    if (unit >= 0xD800 && unit <= 0xDBFF)
        pendingHigh_ = unit;
    else if (unit >= 0xDC00 && unit <= 0xDFFF)
        AppendUtf8(out, 0xFFFD);
    else
        AppendUtf8(out, unit);
}

void Utf16Decoder::finish(std::string& out) {
    if (pendingHigh_)
        AppendUtf8(out, 0xFFFD);
    pendingHigh_ = 0;
}

} // namespace gq
