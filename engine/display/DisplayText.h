#pragma once

#include "Cell.h"
#include "CellText.h"
#include "NumberFormat.h"
#include "StyleTable.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gq {

// Turns a reader's cells into the text the spreadsheet shows, compiling each style's format once.
class DisplayText {
public:
    explicit DisplayText(const StyleTable& styles);
    // Writes the displayed text of `cell` into `out` (replacing its content), cut as a cell is.
    // Numbers, the most cells a text export makes a text for, are formatted without a call on
    // the way.
    void textOf(const Cell& cell, std::string& out) {
        if (cell.kind == CellKind::Number)
            formatOf(cell.style).formatNumberInto(cell.number, styles_.date1904, out);
        else
            showOf(cell, out);
        // A long format literal or text section can make even a short value exceed a cell; a
        // text of no more bytes than a cell holds characters is within it.
        if (out.size() > kMaxCellChars)
            CutToCellLimit(out);
    }
    // The same text, read where it lies when the cell shows its own text unchanged, else made in
    // `scratch`; valid while both are.
    std::string_view viewOf(const Cell& cell, std::string& scratch) {
        if (showsOwnText(cell))
            return cell.text;
        textOf(cell, scratch);
        return scratch;
    }
    // The format that shows the numbers of a style, and the date system it shows them in: for a
    // caller that writes many numbers itself (NumberFormat::formatQuicklyTo).
    const NumberFormat& numberFormatOf(std::uint32_t style) { return formatOf(style); }
    bool date1904() const { return styles_.date1904; }
    // Whether the cell shows the text it holds, unchanged and whole.
    bool showsOwnText(const Cell& cell) {
        return cell.kind == CellKind::String && cell.text.size() <= kMaxCellChars &&
               showsAsStored(cell.style); // no longer than a cell holds, counted in bytes
    }

    // Whether a string cell of this style shows its text unchanged (the format adds nothing).
    bool showsAsStored(std::uint32_t style) {
        const std::uint32_t code = styles_.codeIndex(style);
        if (code == 0)
            return true;
        if (code < asStored_.size() && asStored_[code] >= 0)
            return asStored_[code] != 0;
        return judgeAsStored(style);
    }

    // Styles with one format code show numbers alike: a key below the table's code count.
    std::uint32_t numberFormatKey(std::uint32_t style) const { return styles_.codeIndex(style); }
    // What the text of a finite number of this style can be made of.
    const TextBounds& numberBounds(std::uint32_t style) {
        const std::uint32_t code = styles_.codeIndex(style);
        if (code < bounds_.size() && bounds_[code])
            return *bounds_[code];
        return judgeBounds(style);
    }

private:
    bool judgeAsStored(std::uint32_t style);
    const TextBounds& judgeBounds(std::uint32_t style);
    void showOf(const Cell& cell, std::string& out); // any cell but a number
    void throughTextSection(std::uint32_t style, std::string_view text, std::string& out);
    const NumberFormat& formatOf(std::uint32_t style) {
        const std::uint32_t code = styles_.codeIndex(style);
        if (code == 0)
            return general_;
        if (code < compiled_.size() && compiled_[code]) // compiled before, as nearly always
            return *compiled_[code];
        return compile(code);
    }
    const NumberFormat& compile(std::uint32_t code);

    const StyleTable& styles_;
    std::vector<std::optional<NumberFormat>> compiled_; // by code index
    std::vector<std::int8_t> asStored_;                 // by code index; -1 not yet known
    std::vector<std::optional<TextBounds>> bounds_;     // by code index
    NumberFormat general_;
};

} // namespace gq
