#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace gq {

// The displayed texts of one sheet, as the window keeps them: every text in one buffer, cells
// as a column number and an offset, rows as a row number and their first cell. About six bytes
// a cell beyond its text, so a million rows stay within tens of megabytes, and a cell is found
// by two binary searches.
class SheetStore {
public:
    using Visitor =
        std::function<bool(std::uint32_t row, std::uint32_t col, std::string_view text)>;

    // Cells normally arrive in row-major order; one out of order (a damaged file) is put in its
    // place by finish(), and the later of two texts for one cell wins.
    void add(std::uint32_t row, std::uint32_t col, std::string_view text, bool number = false);
    void finish();

    std::string_view text(std::uint32_t row, std::uint32_t col) const;
    // The cell holds a number (a date or time included), shown at the right of its cell.
    bool isNumber(std::uint32_t row, std::uint32_t col) const;
    std::uint32_t lastRow() const { return rows_.empty() ? 0 : rows_.back().row; }
    std::uint32_t lastColumn() const { return lastColumn_; }
    std::size_t cellCount() const { return columns_.size(); }
    std::size_t textBytes() const { return text_.size(); }
    void forEach(const Visitor& visitor) const;

    // The `count` longest texts (in UTF-16 code units) of each column from `first` to `last`,
    // index 0 for `first`: the candidates for the widest text when a column is fitted.
    std::vector<std::vector<std::string_view>> longestTexts(std::uint32_t first, std::uint32_t last,
                                                            std::size_t count) const;

private:
    struct Row {
        std::uint32_t row;
        std::uint32_t firstCell;
    };
    struct Late {
        std::uint32_t row, col, offset, length, order;
        bool number;
    };

    std::string_view cellText(std::size_t cell) const;
    // The index of the cell, or npos when it holds nothing.
    std::size_t find(std::uint32_t row, std::uint32_t col) const;
    void rebuild();

    std::string text_;
    std::vector<Row> rows_;
    std::vector<std::uint16_t> columns_; // column - 1
    std::vector<std::uint32_t> offsets_; // start of each cell's text in text_
    std::vector<bool> numbers_;          // by cell
    std::vector<Late> late_;             // cells that came out of order, until finish()
    std::string lateText_;
    std::uint32_t lastColumn_ = 0;
    bool finished_ = false;
};

// The length of a UTF-8 text in UTF-16 code units, as a text's width is counted.
std::size_t Utf16Length(std::string_view text);

} // namespace gq
