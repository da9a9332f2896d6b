#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gq {

// The most characters a cell holds, counted in UTF-16 units as a spreadsheet counts them. Every
// reader cuts a cell's text there, so one absurd string costs at most this much memory per copy.
inline constexpr std::size_t kMaxCellChars = 32767;

// A cell's UTF-8 text as a reader collects it piece by piece, cut at kMaxCellChars: whatever comes
// after the limit is read past, never stored. A character is never split, even when its bytes
// arrive in separate pieces.
class CellTextBuilder {
public:
    void append(std::string_view utf8);
    void clear();
    bool full() const { return full_; }
    const std::string& text() const { return text_; }
    std::string& text() { return text_; } // for decoding in place; keep it within the limit

private:
    std::string text_;
    std::size_t units_ = 0; // exact only once `counted_`; until then the bytes bound it
    bool counted_ = false;
    bool full_ = false;
};

// Cuts a whole UTF-8 text at kMaxCellChars, never inside a character.
void CutToCellLimit(std::string& text);
// The length in bytes of the longest prefix of `text` within kMaxCellChars.
std::size_t CellLimitPrefix(std::string_view text);

} // namespace gq
