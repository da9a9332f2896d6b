#include "CellText.h"

namespace gq {

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// A character beyond the basic plane (a four-byte sequence) counts as two units.
std::size_t UnitsOfLead(unsigned char byte) {
    return byte >= 0xF0 ? 2 : 1;
}

std::size_t Utf16Units(std::string_view text) {
    std::size_t units = 0;
    for (unsigned char byte : text)
        if (!IsContinuation(byte))
            units += UnitsOfLead(byte);
    return units;
}

} // namespace

void CellTextBuilder::append(std::string_view utf8) {
    if (full_)
        return;
    // A character takes at least one byte per unit, so a text within the limit in bytes is
    // within it in units: the common case costs no count.
    if (!counted_ && text_.size() + utf8.size() <= kMaxCellChars) {
        text_.append(utf8);
        return;
    }
    if (!counted_) {
        units_ = Utf16Units(text_);
        counted_ = true;
    }
    std::size_t taken = 0;
    for (; taken < utf8.size(); ++taken) {
        auto byte = static_cast<unsigned char>(utf8[taken]);
        if (IsContinuation(byte))
            continue;
        if (units_ + UnitsOfLead(byte) > kMaxCellChars) {
            full_ = true;
            break;
        }
        units_ += UnitsOfLead(byte);
    }
    text_.append(utf8.substr(0, taken));
}

void CellTextBuilder::clear() {
    text_.clear();
    units_ = 0;
    counted_ = false;
    full_ = false;
}

std::size_t CellLimitPrefix(std::string_view text) {
    if (text.size() <= kMaxCellChars)
        return text.size();
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (IsContinuation(byte))
            continue;
        units += UnitsOfLead(byte);
        if (units > kMaxCellChars)
            return i;
    }
    return text.size();
}

void CutToCellLimit(std::string& text) {
    text.resize(CellLimitPrefix(text));
}

} // namespace gq
