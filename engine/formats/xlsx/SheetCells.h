#pragma once

#include "Cell.h"
#include "CellOrder.h"
#include "CellText.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

namespace gq {

class ByteStream;

// Shared strings live in one pool: a table of a million short strings costs their bytes, not a
// million string objects. Each string is cut to a cell's length before it gets here.
class StringPool {
public:
    static constexpr std::size_t kMaxBytes = 1ull << 30; // keeps every end within 32 bits

    void add(std::string_view text);
    // Room for what a table of `partBytes` can hold: growing by doubling would touch twice the
    // memory, and first touching a page costs more than what is copied into it.
    void reserveFor(std::uint64_t partBytes);
    void clear() {
        pool_.clear();
        ends_.clear();
    }
    std::size_t size() const { return ends_.size(); }
    std::string_view at(std::size_t index) const {
        std::size_t begin = index == 0 ? 0 : ends_[index - 1];
        return std::string_view(pool_).substr(begin, ends_[index] - begin);
    }

private:
    std::string pool_;
    std::vector<std::uint32_t> ends_;
};

// The raw XML text of a string is collected up to this many bytes: an "_xHHHH_" escape takes seven
// bytes a character, so this always holds a full cell's text, and the rest of an absurd string
// is read past without being stored.
inline constexpr std::size_t kMaxRawText = 7 * (kMaxCellChars + 1);

void AppendBounded(std::string& text, std::string_view more);
// A string's text as the cell shows it: escapes decoded, cut to a cell's length.
void FinishText(std::string& text);

// Most numbers in a sheet are short decimals. Those it takes (at most 15 digits, no exponent) are
// read exactly as std::from_chars reads them, without its general machinery: a mantissa below
// 2^53 and a power of ten up to 10^22 are both exact doubles, and their quotient is correctly
// rounded. Reads from `p`, which moves to the first byte past the number; false, leaving `out`
// alone, when no such number starts there.
inline bool ReadShortDecimal(const char*& p, const char* end, double& out) {
    static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const bool negative = p != end && *p == '-';
    p += negative;
    // Past 19 digits the mantissa wraps, harmlessly: so many digits are refused below.
    std::uint64_t mantissa = 0;
    auto digits = [&] {
        const char* from = p;
        for (unsigned digit;
             p != end && (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10; ++p)
            mantissa = mantissa * 10 + digit;
        return static_cast<int>(p - from);
    };
    const int integerDigits = digits();
    int fractionDigits = 0;
    if (p != end && *p == '.') {
        ++p;
        fractionDigits = digits();
    }
    if (integerDigits + fractionDigits == 0 || integerDigits + fractionDigits > 15)
        return false;
    double value = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
    out = negative ? -value : value;
    return true;
}

inline bool ParseShortDecimal(std::string_view text, double& out) {
    const char* p = text.data();
    const char* end = p + text.size();
    double value;
    if (!ReadShortDecimal(p, end, value) || p != end)
        return false;
    out = value;
    return true;
}

// One to nine digits from `p`, which moves past them, as most style and string indexes are.
template <typename Unsigned> bool ReadShortDigits(const char*& p, const char* end, Unsigned& out) {
    const char* from = p;
    Unsigned value = 0;
    for (unsigned digit;
         p != end && p - from < 9 && (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10;
         ++p)
        value = static_cast<Unsigned>(value * 10 + digit);
    if (p == from)
        return false;
    out = value;
    return true;
}

template <typename Unsigned> bool ParseShortDigits(std::string_view text, Unsigned& out) {
    const char* p = text.data();
    Unsigned value;
    if (!ReadShortDigits(p, p + text.size(), value) || p != text.data() + text.size())
        return false;
    out = value;
    return true;
}

// A number with spaces and '+' signs around it, as writers leave them. As std::from_chars, it may
// store what a leading part gave even when it returns false.
template <typename Number> bool ParseNumber(std::string_view text, Number& out) {
    // The usual forms first, which have nothing to trim.
    if constexpr (std::is_same_v<Number, double>) {
        if (ParseShortDecimal(text, out))
            return true;
    } else if constexpr (std::is_unsigned_v<Number>) {
        if (ParseShortDigits(text, out))
            return true;
    }
    while (!text.empty() && (text.front() == ' ' || text.front() == '+'))
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// The elements of a sheet part that carry cells, by local name.
enum class SheetElement : std::uint8_t { Row, Cell, Value, Text, InlineString, Phonetic, Other };

inline SheetElement SheetElementNamed(std::string_view localName) {
    switch (localName.size()) {
    case 1:
        return localName[0] == 'c'   ? SheetElement::Cell
               : localName[0] == 'v' ? SheetElement::Value
               : localName[0] == 't' ? SheetElement::Text
                                     : SheetElement::Other;
    case 2:
        return localName == "is" ? SheetElement::InlineString : SheetElement::Other;
    case 3:
        return localName == "row"   ? SheetElement::Row
               : localName == "rPh" ? SheetElement::Phonetic
                                    : SheetElement::Other;
    default:
        return SheetElement::Other;
    }
}

// The local name of an element or attribute: what follows the last ':' of its name.
inline std::string_view XmlLocalName(std::string_view name) {
    auto colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

enum class CellType : std::uint8_t { Number, Shared, FormulaString, Inline, Boolean, Error, Date };

// What a cell's start tag says, taken attribute by attribute in document order (a later `r` or
// `t` wins, a style that does not parse leaves the one before).
struct CellStart {
    void add(std::string_view localName, std::string_view value) {
        if (localName.size() == 1)
            add(localName[0], value);
    }
    void add(char localName, std::string_view value) {
        if (localName == 'r') {
            const char* p = value.data();
            readReference(p, p + value.size());
        } else if (localName == 's')
            ParseNumber(value, style);
        else if (localName == 't')
            setType(value);
    }

    std::uint32_t row = 0; // 0 where the tag gives none
    std::uint32_t col = 0;
    std::uint32_t style = 0;
    CellType type = CellType::Number;

    // Column letters and row digits of an "AB12" reference, from `p` on, which moves past them;
    // 0 where a part is absent. What follows them does not count.
    void readReference(const char*& p, const char* end) {
        std::uint32_t c = 0, r = 0;
        // Each step stays within 32 bits, as it starts from a bounded value.
        for (unsigned letter;
             p != end && (letter = (static_cast<unsigned char>(*p) | 0x20u) - unsigned{'a'}) < 26;
             ++p)
            c = std::min(c * 26 + letter + 1, 16385u);
        for (unsigned digit;
             p != end && (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10; ++p)
            r = std::min(r * 10 + digit, 1048577u);
        row = r;
        col = c;
    }

private:
    void setType(std::string_view t) {
        type = t == "s"           ? CellType::Shared
               : t == "str"       ? CellType::FormulaString
               : t == "inlineStr" ? CellType::Inline
               : t == "b"         ? CellType::Boolean
               : t == "e"         ? CellType::Error
               : t == "d"         ? CellType::Date
                                  : CellType::Number;
    }
};

// What a row's start tag says: its first `r`, 0 when absent or no row number.
struct RowStart {
    void add(std::string_view localName, std::string_view value);

    bool seen = false;
    std::uint32_t number = 0;
};

// Turns the elements of a sheet part into cells, whichever parser reads it, so that both give the
// same cells. Elements count by local name wherever they stand, as they always have.
class SheetCells {
public:
    SheetCells(const StringPool& strings, bool date1904, CellVisitor& visitor)
        : strings_(strings), date1904_(date1904), visitor_(visitor) {}

    void startRow(const RowStart& start) {
        row_ = start.number != 0 ? start.number : row_ + 1;
        col_ = 0;
    }
    void startCell(const CellStart& start) {
        inCell_ = true;
        value_.clear();
        type_ = start.type;
        style_ = start.style;
        if (start.row != 0)
            row_ = start.row;
        else if (row_ == 0)
            row_ = 1;
        col_ = start.col != 0 ? start.col : col_ + 1;
    }
    // The elements inside a cell.
    void start(SheetElement element) {
        switch (element) {
        case SheetElement::Value:
            collecting_ = inCell_;
            break;
        case SheetElement::Text:
            collecting_ = inCell_ && inInline_ && phonetic_ == 0;
            break;
        case SheetElement::InlineString:
            inInline_ = inCell_;
            break;
        case SheetElement::Phonetic:
            ++phonetic_;
            break;
        default:
            break;
        }
    }
    void end(SheetElement element) {
        switch (element) {
        case SheetElement::Cell:
            endCell();
            break;
        case SheetElement::Value:
        case SheetElement::Text:
            collecting_ = false;
            break;
        case SheetElement::InlineString:
            inInline_ = false;
            break;
        case SheetElement::Phonetic:
            --phonetic_;
            break;
        default:
            break;
        }
    }
    // Whether text met now belongs to a cell; a parser may skip decoding what does not.
    bool collecting() const { return collecting_; }
    void characters(std::string_view text) {
        if (collecting_)
            AppendBounded(value_, text);
    }
    // A cell whose one value element came whole: what startCell, start(Value), characters,
    // end(Value) and end(Cell) do, without copying the value where its type needs no change.
    void valueCell(const CellStart& start, std::string_view value) {
        valueStart(start);
        passOn(value.substr(0, kMaxRawText));
    }
    // The same for the usual cells, whose value the scanner read as it met it: a number, and a
    // shared string's index.
    void numberCell(const CellStart& start, double number) {
        valueStart(start);
        if (Cell cell; admits(cell)) {
            cell.kind = CellKind::Number;
            cell.number = number;
            deliver(cell);
        }
    }
    void sharedStringCell(const CellStart& start, std::size_t index) {
        valueStart(start);
        if (Cell cell; admits(cell)) {
            setSharedString(cell, index);
            deliver(cell);
        }
    }
    // The visitor has asked for no more cells.
    bool stopped() const { return stopped_; }

private:
    void endCell() {
        inCell_ = false;
        collecting_ = false;
        passOn(value_);
    }
    void valueStart(const CellStart& start) {
        startCell(start);
        inCell_ = false;
        collecting_ = false;
    }
    void passOn(std::string_view value);
    // Whether the cell in hand is one to pass on (within the sheet, after the last, and asked
    // for); if so, `cell` takes its place and style.
    bool admits(Cell& cell) {
        if (row_ > 1048576 || col_ > 16384 || stopped_ || !order_.advances(row_, col_))
            return false;
        cell.row = row_;
        cell.col = col_;
        cell.style = style_;
        return true;
    }
    void setSharedString(Cell& cell, std::size_t index) const {
        if (index < strings_.size()) {
            cell.kind = CellKind::String;
            cell.text = strings_.at(index);
            cell.sharedString = static_cast<std::uint32_t>(index);
        }
    }
    void deliver(const Cell& cell) {
        if (!visitor_.visit(cell))
            stopped_ = true;
    }

    const StringPool& strings_;
    bool date1904_;
    CellVisitor& visitor_;
    std::uint32_t row_ = 0;
    std::uint32_t col_ = 0;
    std::uint32_t style_ = 0;
    RowMajorOrder order_;
    CellType type_ = CellType::Number;
    std::string value_;
    bool inCell_ = false;
    bool inInline_ = false;
    bool collecting_ = false;
    int phonetic_ = 0;
    bool stopped_ = false;
};

// Reads a whole sheet part with expat, the general XML parser: what the scanner hands over, and
// the reference the scanner is tested against.
void ParseSheetXml(ByteStream& input, SheetCells& cells);
// Reads a shared-string table with expat, adding its strings to `pool`: what is not in the plain
// form that ReadPlainSharedStrings takes, and its reference.
void ParseSharedStringsXml(ByteStream& input, StringPool& pool);

} // namespace gq
