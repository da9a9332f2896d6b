#include "XlsxReader.h"

#include "CellOrder.h"
#include "CellPipeline.h"
#include "CellText.h"
#include "Error.h"
#include "NumberFormat.h"
#include "OpcPackage.h"
#include "Utf8.h"
#include "XmlStream.h"
#include "ZipPackage.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

namespace gq {

namespace {

// Shared strings live in one pool: a table of a million short strings costs their bytes, not a
// million string objects. Each string is cut to a cell's length before it gets here.
class StringPool {
public:
    static constexpr std::size_t kMaxBytes = 1ull << 30; // keeps every end within 32 bits

    void add(std::string_view text) {
        if (pool_.size() + text.size() > kMaxBytes)
            throw Error("The file's shared-string table is too large to read");
        pool_.append(text);
        ends_.push_back(static_cast<std::uint32_t>(pool_.size()));
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

// The raw XML text of a string is collected up to this many bytes: an "_xHHHH_" escape takes
// seven bytes a character, so this always holds a full cell's text, and the rest of an absurd
// string is read past without being stored.
constexpr std::size_t kMaxRawText = 7 * (kMaxCellChars + 1);

void AppendBounded(std::string& text, std::string_view more) {
    if (text.size() < kMaxRawText)
        text.append(more.substr(0, kMaxRawText - text.size()));
}

// A string's text as the cell shows it: escapes decoded, cut to a cell's length.
void FinishText(std::string& text) {
    DecodeEscapes(text);
    CutToCellLimit(text);
}

bool ParseBool(const char* value) {
    return value && (std::strcmp(value, "1") == 0 || std::strcmp(value, "true") == 0);
}

template <typename Number> bool ParseNumber(std::string_view text, Number& out) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '+'))
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
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

// Column letters and row digits of an "AB12" reference; 0 where a part is absent.
void ParseReference(const char* ref, std::uint32_t& row, std::uint32_t& col) {
    std::uint32_t c = 0, r = 0;
    const char* p = ref;
    while ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z')) {
        c = c * 26 + static_cast<std::uint32_t>((*p | 0x20) - 'a' + 1);
        if (c > 16384)
            c = 16385;
        ++p;
    }
    while (*p >= '0' && *p <= '9') {
        r = r * 10 + static_cast<std::uint32_t>(*p - '0');
        if (r > 1048576)
            r = 1048577;
        ++p;
    }
    row = r;
    col = c;
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

class StylesHandler : public XmlHandler {
public:
    explicit StylesHandler(StyleTable& styles) : styles_(styles) {}

    void startElement(std::string_view name, const char** attributes) override {
        if (name == "numFmt") {
            const char* id = XmlAttribute(attributes, "numFmtId");
            const char* code = XmlAttribute(attributes, "formatCode");
            int number = 0;
            if (id && code && ParseNumber(std::string_view(id), number))
                custom_[number] = code;
        } else if (name == "cellXfs") {
            inCellXfs_ = true;
        } else if (name == "xf" && inCellXfs_) {
            int id = 0;
            const char* numFmtId = XmlAttribute(attributes, "numFmtId");
            if (numFmtId)
                ParseNumber(std::string_view(numFmtId), id);
            xfFormatIds_.push_back(id);
        }
    }
    void endElement(std::string_view name) override {
        if (name == "cellXfs")
            inCellXfs_ = false;
    }
    void characters(std::string_view) override {}

    void finish() {
        for (int id : xfFormatIds_) {
            auto custom = custom_.find(id);
            styles_.addStyle(custom != custom_.end() ? custom->second : BuiltInFormatCode(id));
        }
    }

private:
    StyleTable& styles_;
    std::map<int, std::string> custom_;
    std::vector<int> xfFormatIds_;
    bool inCellXfs_ = false;
};

struct SheetRef {
    std::string name;
    std::string part;
};

class WorkbookHandler : public XmlHandler {
public:
    WorkbookHandler(const std::vector<Relationship>& relationships, std::vector<SheetRef>& sheets,
                    bool& date1904)
        : sheets_(sheets), date1904_(date1904) {
        for (const auto& relationship : relationships)
            if (relationship.type == "worksheet")
                worksheets_.emplace(relationship.id, relationship.target);
    }

    void startElement(std::string_view name, const char** attributes) override {
        // Only the workbook's own properties: an extension list may carry a workbookPr of
        // another namespace ("x15:workbookPr") that says nothing about the date system.
        if (name == "workbookPr" && depth_ == 1) {
            date1904_ = ParseBool(XmlAttribute(attributes, "date1904"));
        } else if (name == "sheet") {
            const char* sheetName = XmlAttribute(attributes, "name");
            const char* id = XmlAttribute(attributes, "id");
            if (!sheetName || !id)
                return;
            if (auto found = worksheets_.find(id); found != worksheets_.end())
                sheets_.push_back({sheetName, found->second});
        }
        ++depth_;
    }
    void endElement(std::string_view) override { --depth_; }
    void characters(std::string_view) override {}

private:
    std::unordered_map<std::string, std::string> worksheets_; // relationship id -> part
    std::vector<SheetRef>& sheets_;
    bool& date1904_;
    int depth_ = 0;
};

class SheetHandler : public XmlHandler {
public:
    SheetHandler(const StringPool& strings, bool date1904, CellVisitor& visitor)
        : strings_(strings), date1904_(date1904), visitor_(visitor) {}

    void startElement(std::string_view name, const char** attributes) override {
        if (name == "c") {
            startCell(attributes);
        } else if (name == "v") {
            collecting_ = inCell_;
        } else if (name == "t") {
            collecting_ = inCell_ && inInline_ && phonetic_ == 0;
        } else if (name == "is") {
            inInline_ = inCell_;
        } else if (name == "rPh") {
            ++phonetic_;
        } else if (name == "row") {
            const char* r = XmlAttribute(attributes, "r");
            std::uint32_t number = 0;
            row_ = r && ParseNumber(std::string_view(r), number) && number > 0 ? number : row_ + 1;
            col_ = 0;
        }
    }
    void endElement(std::string_view name) override {
        if (name == "c") {
            endCell();
        } else if (name == "v" || name == "t") {
            collecting_ = false;
        } else if (name == "is") {
            inInline_ = false;
        } else if (name == "rPh") {
            --phonetic_;
        }
    }
    void characters(std::string_view text) override {
        if (collecting_)
            AppendBounded(value_, text);
    }
    bool done() const override { return stopped_; }

private:
    enum class Type { Number, Shared, FormulaString, Inline, Boolean, Error, Date };

    void startCell(const char** attributes) {
        inCell_ = true;
        value_.clear();
        type_ = Type::Number;
        style_ = 0;
        std::uint32_t row = 0, col = 0;
        for (const char** a = attributes; *a; a += 2) {
            // Cell attributes are single letters, rarely prefixed: test them without a scan.
            const char* key = a[0];
            if (key[0] == '\0' || key[1] != '\0') {
                std::string_view name = key;
                auto colon = name.rfind(':');
                if (colon == std::string_view::npos || colon + 2 != name.size())
                    continue;
                key += colon + 1;
            }
            if (*key == 'r') {
                ParseReference(a[1], row, col);
            } else if (*key == 's') {
                ParseNumber(std::string_view(a[1]), style_);
            } else if (*key == 't') {
                std::string_view t = a[1];
                type_ = t == "s"           ? Type::Shared
                        : t == "str"       ? Type::FormulaString
                        : t == "inlineStr" ? Type::Inline
                        : t == "b"         ? Type::Boolean
                        : t == "e"         ? Type::Error
                        : t == "d"         ? Type::Date
                                           : Type::Number;
            }
        }
        if (row != 0)
            row_ = row;
        else if (row_ == 0)
            row_ = 1;
        col_ = col != 0 ? col : col_ + 1;
    }

    void endCell() {
        inCell_ = false;
        collecting_ = false;
        if (row_ > 1048576 || col_ > 16384 || stopped_ || !order_.advances(row_, col_))
            return;
        Cell cell;
        cell.row = row_;
        cell.col = col_;
        cell.style = style_;
        switch (type_) {
        case Type::Number:
            if (value_.empty() || !ParseNumber(std::string_view(value_), cell.number))
                cell.kind = CellKind::Blank;
            else
                cell.kind = CellKind::Number;
            break;
        case Type::Shared: {
            std::size_t index = 0;
            if (ParseNumber(std::string_view(value_), index) && index < strings_.size()) {
                cell.kind = CellKind::String;
                cell.text = strings_.at(index);
                cell.sharedString = static_cast<std::uint32_t>(index);
            }
            break;
        }
        case Type::FormulaString:
        case Type::Inline:
            FinishText(value_);
            cell.kind = CellKind::String;
            cell.text = value_;
            break;
        case Type::Boolean:
            cell.kind = value_.empty() ? CellKind::Blank : CellKind::Boolean;
            cell.number = value_ == "1" || value_ == "true" ? 1 : 0;
            break;
        case Type::Error:
            CutToCellLimit(value_);
            cell.kind = value_.empty() ? CellKind::Blank : CellKind::Error;
            cell.text = value_;
            break;
        case Type::Date:
            cell.kind = IsoDateToSerial(value_, date1904_, cell.number) ? CellKind::Number
                                                                        : CellKind::Blank;
            break;
        }
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
    Type type_ = Type::Number;
    std::string value_;
    bool inCell_ = false;
    bool inInline_ = false;
    bool collecting_ = false;
    int phonetic_ = 0;
    bool stopped_ = false;
};

class XlsxReader : public FormatReader {
public:
    explicit XlsxReader(const std::string& path) : package_(path) {
        std::string workbookPart = OfficeDocumentPart(package_);
        auto relationships = ReadRelationships(package_, workbookPart);
        WorkbookHandler workbook(relationships, sheets_, styles_.date1904);
        ParseXml(package_.read(workbookPart), workbook);
        for (const auto& sheet : sheets_)
            names_.push_back(sheet.name);
        for (const auto& relationship : relationships) {
            if (relationship.type == "sharedStrings" && package_.has(relationship.target)) {
                SharedStringsHandler handler(strings_);
                ParseXml(*package_.stream(relationship.target), handler);
            } else if (relationship.type == "styles" && package_.has(relationship.target)) {
                StylesHandler handler(styles_);
                ParseXml(package_.read(relationship.target), handler);
                handler.finish();
            }
        }
    }

    const std::vector<std::string>& worksheetNames() const override { return names_; }
    const StyleTable& styles() const override { return styles_; }

    void readCells(std::size_t sheetIndex, CellVisitor& visitor) override {
        const std::string& part = sheets_.at(sheetIndex).part;
        auto input = package_.stream(part, true);
        PipeCells(
            [&](CellVisitor& sink) {
                SheetHandler handler(strings_, styles_.date1904, sink);
                ParseXml(*input, handler);
            },
            visitor, package_.isLarge(part));
    }

private:
    ZipPackage package_;
    std::vector<SheetRef> sheets_;
    std::vector<std::string> names_;
    StringPool strings_;
    StyleTable styles_;
};

} // namespace

std::unique_ptr<FormatReader> OpenXlsxReader(const std::string& path) {
    return std::make_unique<XlsxReader>(path);
}

} // namespace gq
