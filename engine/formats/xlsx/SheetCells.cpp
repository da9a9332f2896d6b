#include "SheetCells.h"

#include "CellText.h"
#include "Error.h"
#include "Utf8.h"
#include "XmlStream.h"

#include <cstdio>

namespace gq {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes the "_xHHHH_" escapes that stand for characters XML cannot carry; a character outside
// the basic plane comes as two escapes, one per UTF-16 unit.
void DecodeEscapes(std::string& text) {
    if (text.find("_x") == std::string::npos)
        return;
    std::string out;
    Utf16Decoder units;
    for (std::size_t i = 0; i < text.size();) {
        int value = 0;
        bool escape =
            i + 7 <= text.size() && text[i] == '_' && text[i + 1] == 'x' && text[i + 6] == '_';
        for (std::size_t k = 2; escape && k < 6; ++k) {
            int digit = HexValue(text[i + k]);
            escape = digit >= 0;
            value = value * 16 + digit;
        }
        if (escape) {
            units.add(out, static_cast<char16_t>(value));
            i += 7;
        } else {
            units.finish(out);
            out.push_back(text[i++]);
        }
    }
    units.finish(out);
    text.swap(out);
}

long DaysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    long era = (year >= 0 ? year : year - 399) / 400;
    long yearOfEra = year - era * 400;
    long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// A date cell's ISO 8601 text ("2024-02-29T13:45:00", or a bare time "13:45:00") as a serial day
// number of the workbook's date system, counting the 1900 system's phantom 29 February.
bool IsoDateToSerial(const std::string& text, bool date1904, double& serial) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;
    auto t = text.find('T');
    std::string timePart = t == std::string::npos ? std::string() : text.substr(t + 1);
    if (t == std::string::npos && text.find(':') != std::string::npos)
        timePart = text;
    else if (std::sscanf(text.c_str(), "%d-%d-%d", &year, &month, &day) != 3 || month < 1 ||
             month > 12 || day < 1 || day > 31)
        return false;
    if (!timePart.empty())
        std::sscanf(timePart.c_str(), "%d:%d:%lf", &hour, &minute, &second);
    double days = 0;
    if (month != 0) {
        long base = date1904 ? DaysFromCivil(1904, 1, 1) : DaysFromCivil(1899, 12, 30);
        days = static_cast<double>(DaysFromCivil(year, month, day) - base);
        if (!date1904 && days < 61)
            days -= 1; // before 1 March 1900 the 1900 system counts one day less
    }
    serial = days + (hour * 3600 + minute * 60 + second) / 86400.0;
    return true;
}

class SharedStringsHandler : public XmlHandler {
public:
    explicit SharedStringsHandler(StringPool& pool) : pool_(pool) {}

    void startElement(std::string_view name, const char**) override {
        if (name == "si") {
            text_.clear();
            inItem_ = true;
        } else if (name == "rPh") {
            ++phonetic_;
        } else if (name == "t" && inItem_ && phonetic_ == 0) {
            inText_ = true;
        }
    }
    void endElement(std::string_view name) override {
        if (name == "t") {
            inText_ = false;
        } else if (name == "rPh") {
            --phonetic_;
        } else if (name == "si") {
            FinishText(text_);
            pool_.add(text_);
            inItem_ = false;
        }
    }
    void characters(std::string_view text) override {
        if (inText_)
            AppendBounded(text_, text);
    }

private:
    StringPool& pool_;
    std::string text_;
    bool inItem_ = false;
    bool inText_ = false;
    int phonetic_ = 0;
};

// Drives SheetCells from expat's events.
class SheetHandler : public XmlHandler {
public:
    explicit SheetHandler(SheetCells& cells) : cells_(cells) {}

    void startElement(std::string_view name, const char** attributes) override {
        SheetElement element = SheetElementNamed(name);
        if (element == SheetElement::Cell) {
            CellStart start;
            for (const char** a = attributes; *a; a += 2)
                start.add(XmlLocalName(a[0]), a[1]);
            cells_.startCell(start);
        } else if (element == SheetElement::Row) {
            RowStart start;
            for (const char** a = attributes; *a; a += 2)
                start.add(XmlLocalName(a[0]), a[1]);
            cells_.startRow(start);
        } else {
            cells_.start(element);
        }
    }
    void endElement(std::string_view name) override { cells_.end(SheetElementNamed(name)); }
    void characters(std::string_view text) override { cells_.characters(text); }
    bool done() const override { return cells_.stopped(); }

private:
    SheetCells& cells_;
};

} // namespace

void StringPool::add(std::string_view text) {
    if (pool_.size() + text.size() > kMaxBytes)
        throw Error("The file's shared-string table is too large to read");
    pool_.append(text);
    ends_.push_back(static_cast<std::uint32_t>(pool_.size()));
}

void StringPool::reserveFor(std::uint64_t partBytes) {
    // A size a header declares is no promise: past this, growing costs little beside reading.
    static constexpr std::uint64_t kMostReserved = 64 << 20;
    static constexpr std::size_t kLeastItemBytes = sizeof "<si><t/></si>" - 1;
    const auto bytes = static_cast<std::size_t>(std::min(partBytes, kMostReserved));
    pool_.reserve(bytes);
    ends_.reserve(bytes / kLeastItemBytes);
}

void AppendBounded(std::string& text, std::string_view more) {
    if (text.size() < kMaxRawText)
        text.append(more.substr(0, kMaxRawText - text.size()));
}

void FinishText(std::string& text) {
    DecodeEscapes(text);
    CutToCellLimit(text);
}

void RowStart::add(std::string_view localName, std::string_view value) {
    if (seen || localName != "r")
        return;
    seen = true;
    std::uint32_t parsed = 0;
    number = ParseNumber(value, parsed) && parsed > 0 ? parsed : 0;
}

void SheetCells::passOn(std::string_view value) {
    Cell cell;
    if (!admits(cell))
        return;
    // The types whose text changes on its way to the cell work on value_.
    auto own = [&]() -> std::string& {
        if (value.data() != value_.data())
            value_.assign(value);
        return value_;
    };
    switch (type_) {
    case CellType::Number:
        if (value.empty() || !ParseNumber(value, cell.number))
            cell.kind = CellKind::Blank;
        else
            cell.kind = CellKind::Number;
        break;
    case CellType::Shared:
        if (std::size_t index = 0; ParseNumber(value, index))
            setSharedString(cell, index);
        break;
    case CellType::FormulaString:
    case CellType::Inline:
        FinishText(own());
        cell.kind = CellKind::String;
        cell.text = value_;
        break;
    case CellType::Boolean:
        cell.kind = value.empty() ? CellKind::Blank : CellKind::Boolean;
        cell.number = value == "1" || value == "true" ? 1 : 0;
        break;
    case CellType::Error:
        CutToCellLimit(own());
        cell.kind = value_.empty() ? CellKind::Blank : CellKind::Error;
        cell.text = value_;
        break;
    case CellType::Date:
        cell.kind =
            IsoDateToSerial(own(), date1904_, cell.number) ? CellKind::Number : CellKind::Blank;
        break;
    }
    deliver(cell);
}

void ParseSheetXml(ByteStream& input, SheetCells& cells) {
    SheetHandler handler(cells);
    ParseXml(input, handler);
}

void ParseSharedStringsXml(ByteStream& input, StringPool& pool) {
    SharedStringsHandler handler(pool);
    ParseXml(input, handler);
}

} // namespace gq
