#include "OdsReader.h"

#include "CellPipeline.h"
#include "CellText.h"
#include "Error.h"
#include "OdsDataStyles.h"
#include "OdsOutline.h"
#include "ZipPackage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace gq {

namespace {

using ods::Attr;
using ods::LocalName;

std::string AttrString(const char** attributes, std::string_view name) {
    const char* value = Attr(attributes, name);
    return value ? std::string(value) : std::string();
}

constexpr std::uint64_t kMaxRows = 1048576;
constexpr std::uint64_t kMaxCols = 16384;
// A cell's text and a row's texts are held whole until the row is pushed; past these sizes the
// rest is dropped, so a hostile text:s count or a runaway paragraph cannot exhaust memory. A
// cell's text is then cut to what a cell holds; these bytes always hold that much.
constexpr std::size_t kMaxCellText = 3 * kMaxCellChars + 3;
constexpr std::size_t kMaxRowText = 64 << 20;
// Repetition multiplies stored cells: the whole workbook may yield at most this many cells (and
// this much text) beyond those it stores, so a small file cannot keep a search busy for hours.
constexpr std::uint64_t kMaxCopies = 1ull << 24;
constexpr std::uint64_t kMaxCopiedText = 1ull << 30;

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// A repeat or space count; absent or malformed counts are 1, huge ones saturate harmlessly.
std::uint64_t Count(const char* text) {
    if (!text)
        return 1;
    std::uint64_t value = 0;
    const char* end = text + std::strlen(text);
    auto [next, error] = std::from_chars(text, end, value);
    if (error == std::errc::result_out_of_range)
        return UINT64_MAX;
    if (error != std::errc() || next == text)
        return 1;
    return value;
}

// ---- values

long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

bool ParseNumber(std::string_view text, double& value) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && next == text.data() + text.size() && !text.empty() &&
           std::isfinite(value);
}

bool ParseDigits(std::string_view& text, std::size_t minDigits, long long& value) {
    std::size_t n = 0;
    while (n < text.size() && n < 12 && text[n] >= '0' && text[n] <= '9')
        ++n;
    if (n < minDigits)
        return false;
    std::from_chars(text.data(), text.data() + n, value);
    text.remove_prefix(n);
    return true;
}

bool Expect(std::string_view& text, char c) {
    if (text.empty() || text.front() != c)
        return false;
    text.remove_prefix(1);
    return true;
}

// office:date-value, "2021-03-07" or "2021-03-07T13:45:30.5" (a time zone is ignored), as days
// since the given epoch day.
bool ParseDate(std::string_view text, long long epoch, double& serial) {
    bool negative = Expect(text, '-');
    long long year = 0, month = 0, day = 0;
    if (!ParseDigits(text, 4, year) || !Expect(text, '-') || !ParseDigits(text, 2, month) ||
        !Expect(text, '-') || !ParseDigits(text, 2, day))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || year > 1000000)
        return false;
    double seconds = 0;
    if (Expect(text, 'T')) {
        long long hour = 0, minute = 0;
        if (!ParseDigits(text, 2, hour) || !Expect(text, ':') || !ParseDigits(text, 2, minute))
            return false;
        double second = 0;
        if (Expect(text, ':')) {
            std::size_t n = 0;
            while (n < text.size() && ((text[n] >= '0' && text[n] <= '9') || text[n] == '.'))
                ++n;
            if (!ParseNumber(text.substr(0, n), second))
                return false;
            text.remove_prefix(n);
        }
        if (hour > 24 || minute > 59 || second >= 61)
            return false;
        seconds = static_cast<double>(hour * 3600 + minute * 60) + second;
    }
    if (!text.empty() && text.front() != 'Z' && text.front() != '+' && text.front() != '-')
        return false;
    long long days = DaysFromCivil(negative ? -year : year, static_cast<unsigned>(month),
                                   static_cast<unsigned>(day));
    serial = static_cast<double>(days - epoch) + seconds / 86400.0;
    return true;
}

// office:time-value, an ISO 8601 duration such as "PT36H15M00.5S", as a fraction of days.
bool ParseDuration(std::string_view text, double& days) {
    bool negative = Expect(text, '-');
    if (!Expect(text, 'P'))
        return false;
    double total = 0;
    bool inTime = false;
    bool any = false;
    while (!text.empty()) {
        if (!inTime && Expect(text, 'T')) {
            inTime = true;
            continue;
        }
        std::size_t n = 0;
        while (n < text.size() &&
               ((text[n] >= '0' && text[n] <= '9') || text[n] == '.' || text[n] == ','))
            ++n;
        std::string number(text.substr(0, n));
        std::replace(number.begin(), number.end(), ',', '.');
        double value = 0;
        if (n == 0 || n >= text.size() || !ParseNumber(number, value))
            return false;
        char unit = text[n];
        text.remove_prefix(n + 1);
        if (!inTime && unit == 'D')
            total += value;
        else if (!inTime && unit == 'W')
            total += value * 7;
        else if (!inTime && (unit == 'Y' || unit == 'M') && value == 0)
            ; // a zero year or month count, as some writers put first
        else if (inTime && unit == 'H')
            total += value / 24;
        else if (inTime && unit == 'M')
            total += value / 1440;
        else if (inTime && unit == 'S')
            total += value / 86400;
        else
            return false;
        any = true;
    }
    if (!any || !std::isfinite(total))
        return false;
    days = negative ? -total : total;
    return true;
}

std::string DefaultCurrencyCode(const std::string& currency) {
    if (currency == "USD" || currency.empty())
        return "$#,##0.00";
    if (currency == "EUR")
        return "\xE2\x82\xAC#,##0.00";
    if (currency == "GBP")
        return "\xC2\xA3#,##0.00";
    if (currency == "JPY" || currency == "CNY")
        return "\xC2\xA5#,##0";
    std::string code = "\"";
    for (char c : currency)
        if (c != '"' && c != '\\')
            code += c;
    return code + " \"#,##0.00";
}

// ---- the cell pass

class OdsReader;

struct PendingCell {
    std::uint32_t col;
    std::uint32_t repeat;
    CellKind kind;
    std::uint32_t style;
    double number;
    std::size_t textBegin;
    std::size_t textSize;
};

struct ColumnStyle {
    std::uint64_t first;
    std::uint64_t last;
    std::string style;
};

class SheetEvents : public ods::Events {
public:
    SheetEvents(OdsReader& reader, std::size_t firstTable, bool tail)
        : reader_(reader), nextTable_(firstTable), tail_(tail) {}
    void attach(ods::Driver& driver) { driver_ = &driver; }

    // The worksheet whose cells are wanted; others are passed over.
    void setTarget(std::size_t index) {
        target_ = index;
        targetEnded_ = false;
        rowReady_ = false;
        wanted_ = tableDepth_ > 0 && nextTable_ - 1 == index;
    }
    std::size_t nextTable() const { return nextTable_; }
    bool rowReady() const { return rowReady_; }
    bool targetEnded() const { return targetEnded_; }
    void rowDelivered() { rowReady_ = false; }

    // The row waiting to be pushed.
    std::uint64_t readyRow() const { return readyRow_; }
    std::uint64_t readyRepeat() const { return readyRepeat_; }
    const std::vector<PendingCell>& cells() const { return cells_; }
    const std::string& texts() const { return texts_; }

    void start(std::string_view name, const char* qualified, const char** attributes) override;
    void end(std::string_view name) override;
    void text(std::string_view text) override;

private:
    void beginCell(const char** attributes);
    void endCell();
    void append(std::string_view text);
    void appendRepeated(char c, std::uint64_t count);
    std::string_view columnStyle(std::uint64_t col) const;

    OdsReader& reader_;
    ods::Driver* driver_ = nullptr;
    std::size_t nextTable_;
    bool tail_;
    std::size_t target_ = SIZE_MAX;
    bool targetEnded_ = false;
    bool rowReady_ = false;

    int depth_ = 0;
    int spreadsheetDepth_ = 0;
    bool spreadsheetSeen_ = false;
    int tableDepth_ = 0; // of the worksheet being read; 0 outside one
    bool wanted_ = false;

    std::vector<ColumnStyle> columns_;
    std::uint64_t columnCursor_ = 1;

    int rowDepth_ = 0;
    std::uint64_t row_ = 1;
    std::uint64_t rowRepeat_ = 1;
    std::string rowStyle_;
    std::uint64_t col_ = 1;
    std::vector<PendingCell> cells_;
    std::string texts_;
    std::uint64_t readyRow_ = 0;
    std::uint64_t readyRepeat_ = 0;

    // The cell being read.
    int cellDepth_ = 0;
    std::uint64_t cellRepeat_ = 1;
    std::string cellStyle_;
    std::string valueType_;
    std::string value_;
    std::string dateValue_;
    std::string timeValue_;
    std::string booleanValue_;
    std::string stringValue_;
    std::string currency_;
    std::size_t textBegin_ = 0;
    int paragraphs_ = 0;
    int paragraphDepth_ = 0;
    int ignoreDepth_ = 0; // inside an annotation, a shape, ...: not cell text
    bool paragraphStart_ = false;
    bool lastSpace_ = false;
};

class OdsReader : public FormatReader {
public:
    explicit OdsReader(ZipPackage package);

    const std::vector<std::string>& worksheetNames() const override { return names_; }
    void readCells(std::size_t sheetIndex, CellVisitor& visitor) override;
    const StyleTable& styles() const override { return styleTable_; }

    // The style index for a value shown through the cell style `cellStyle`, or through
    // `fallback` when the style gives no format (or General, where the value type says more).
    // Called by the parse, on the pipeline's worker: the codes it adds reach the style table,
    // which DisplayText reads on the calling thread, through publishCodes() there.
    std::uint32_t formatFor(std::string_view cellStyle, std::string_view fallback);
    void publishCodes();
    long long epoch() const { return epoch_; }
    bool date1904() const { return styleTable_.date1904; }

private:
    struct Session {
        Session(OdsReader& reader, std::unique_ptr<ByteStream> input, std::size_t firstTable,
                bool tail, bool tokenize)
            : stream(std::move(input)), events(reader, firstTable, tail) {
            if (tokenize)
                driver = std::make_unique<ods::Tokenizer>(events);
            else
                driver = std::make_unique<ods::ExpatDriver>(events);
            events.attach(*driver);
        }
        std::unique_ptr<ByteStream> stream;
        SheetEvents events;
        std::unique_ptr<ods::Driver> driver;
    };
    // What repetition may still add: cells beyond those stored, and their text.
    struct Copies {
        std::uint64_t cells = 0;
        std::uint64_t text = 0;
        // Takes `count` copies of a text of `bytes` bytes; false, taking nothing, when too few
        // are left.
        bool take(std::uint64_t count, std::uint64_t bytes);
    };
    enum class Outcome { Failed, SheetEnded, DocumentEnded, Stopped };
    std::unique_ptr<Session> startSession(std::size_t sheetIndex);
    Copies allowance(std::size_t sheetIndex);
    // Whether a sheet's part of the content is big enough for a second thread to pay off.
    bool spansMuch(std::size_t sheetIndex) const;
    Outcome produce(Session& session, CellVisitor& sink, Copies& copies);
    bool deliver(const SheetEvents& events, CellVisitor& sink, Copies& copies);

    ZipPackage package_;
    OdsDataStyles dataStyles_;
    std::vector<ods::SheetOutline> sheets_;
    std::vector<std::string> names_;
    std::string spreadsheetTag_;
    std::string rootTag_;
    std::uint64_t bodyOffset_ = 0;
    bool tailsUsable_ = false;
    StyleTable styleTable_;
    // The parse's side of the style table: every code it handed out an index for, in order.
    std::vector<std::string> codes_;
    std::unordered_map<std::string, std::uint32_t> codeIndex_;
    std::unordered_map<std::string, std::string> styleCodes_;
    std::unordered_map<std::string, std::uint32_t> formatIndex_; // style "\1" fallback
    std::string formatKey_;
    std::mutex codesMutex_;
    long long epoch_ = 0;
    std::unique_ptr<Session> session_;
    // The workbook's copies are spent sheet by sheet in workbook order. A sheet read again gets
    // the allowance it had at its first read, so that every read of it gives the same cells.
    std::vector<std::optional<Copies>> allowances_;
    std::vector<Copies> spent_;
};

void SheetEvents::start(std::string_view name, const char* qualified, const char** attributes) {
    (void)qualified;
    ++depth_;
    if (cellDepth_ > 0) {
        if (ignoreDepth_ > 0)
            return;
        static const std::string_view kNotText[] = {"annotation",
                                                    "note",
                                                    "frame",
                                                    "custom-shape",
                                                    "rect",
                                                    "ellipse",
                                                    "line",
                                                    "polyline",
                                                    "polygon",
                                                    "path",
                                                    "circle",
                                                    "g",
                                                    "connector",
                                                    "control",
                                                    "measure",
                                                    "caption",
                                                    "regular-polygon",
                                                    "tracked-changes",
                                                    "table"};
        if (std::find(std::begin(kNotText), std::end(kNotText), name) != std::end(kNotText)) {
            ignoreDepth_ = depth_;
            return;
        }
        if (name == "p" || name == "h") {
            if (paragraphDepth_ > 0)
                return;
            if (paragraphs_ > 0)
                append("\n");
            ++paragraphs_;
            paragraphDepth_ = depth_;
            paragraphStart_ = true;
            lastSpace_ = false;
            return;
        }
        if (paragraphDepth_ == 0)
            return;
        if (name == "s")
            appendRepeated(' ', Count(Attr(attributes, "c")));
        else if (name == "tab")
            appendRepeated('\t', 1);
        else if (name == "line-break")
            appendRepeated('\n', 1);
        return;
    }
    if (tableDepth_ > 0) {
        if (!wanted_)
            return;
        if (rowDepth_ > 0) {
            if (depth_ == rowDepth_ + 1 && (name == "table-cell" || name == "covered-table-cell"))
                beginCell(attributes);
            return;
        }
        if (name == "table-row") {
            rowDepth_ = depth_;
            rowRepeat_ =
                std::max<std::uint64_t>(1, Count(Attr(attributes, "number-rows-repeated")));
            rowStyle_ = AttrString(attributes, "default-cell-style-name");
            col_ = 1;
            cells_.clear();
            texts_.clear();
        } else if (name == "table-column") {
            std::uint64_t repeat =
                std::max<std::uint64_t>(1, Count(Attr(attributes, "number-columns-repeated")));
            std::uint64_t first = columnCursor_;
            columnCursor_ = SaturatingAdd(columnCursor_, repeat);
            std::string style = AttrString(attributes, "default-cell-style-name");
            if (!style.empty() && first <= kMaxCols)
                columns_.push_back({first, std::min(columnCursor_ - 1, kMaxCols), style});
        }
        return;
    }
    if (tail_ && depth_ == 1) {
        spreadsheetSeen_ = true;
        spreadsheetDepth_ = 1;
        return;
    }
    if (name == "spreadsheet" && !spreadsheetSeen_) {
        spreadsheetSeen_ = true;
        spreadsheetDepth_ = depth_;
        return;
    }
    if (spreadsheetDepth_ > 0 && depth_ == spreadsheetDepth_ + 1 && name == "table") {
        std::size_t index = nextTable_++;
        tableDepth_ = depth_;
        wanted_ = index == target_;
        columns_.clear();
        columnCursor_ = 1;
        row_ = 1;
    }
}

void SheetEvents::end(std::string_view name) {
    (void)name;
    if (cellDepth_ > 0) {
        if (depth_ == ignoreDepth_)
            ignoreDepth_ = 0;
        else if (depth_ == paragraphDepth_)
            paragraphDepth_ = 0;
        else if (depth_ == cellDepth_)
            endCell();
    } else if (depth_ == rowDepth_) {
        rowDepth_ = 0;
        if (!cells_.empty() && row_ <= kMaxRows) {
            readyRow_ = row_;
            readyRepeat_ = rowRepeat_;
            rowReady_ = true;
            driver_->pause();
        }
        row_ = SaturatingAdd(row_, rowRepeat_);
    } else if (depth_ == tableDepth_) {
        tableDepth_ = 0;
        if (wanted_) {
            wanted_ = false;
            targetEnded_ = true;
            driver_->pause();
        }
    } else if (depth_ == spreadsheetDepth_) {
        spreadsheetDepth_ = 0;
        if (tail_)
            driver_->finish(); // what follows the stand-in opening tag is not ours to parse
    }
    --depth_;
}

void SheetEvents::text(std::string_view text) {
    if (paragraphDepth_ == 0 || ignoreDepth_ > 0)
        return;
    // Runs of white space in a paragraph's text collapse to one space and leading white space is
    // dropped; spaces, tabs and breaks that the file spells out as elements are kept.
    while (!text.empty()) {
        std::size_t plain = 0;
        while (plain < text.size() && text[plain] != ' ' && text[plain] != '\t' &&
               text[plain] != '\n' && text[plain] != '\r')
            ++plain;
        if (plain > 0) {
            append(text.substr(0, plain));
            paragraphStart_ = false;
            lastSpace_ = false;
            text.remove_prefix(plain);
        }
        std::size_t space = 0;
        while (space < text.size() && (text[space] == ' ' || text[space] == '\t' ||
                                       text[space] == '\n' || text[space] == '\r'))
            ++space;
        if (space > 0) {
            if (!paragraphStart_ && !lastSpace_) {
                append(" ");
                lastSpace_ = true;
            }
            text.remove_prefix(space);
        }
    }
}

void SheetEvents::append(std::string_view text) {
    std::size_t cellSize = texts_.size() - textBegin_;
    std::size_t room = std::min(kMaxCellText - std::min(kMaxCellText, cellSize),
                                kMaxRowText - std::min(kMaxRowText, texts_.size()));
    texts_.append(text.substr(0, room));
}

void SheetEvents::appendRepeated(char c, std::uint64_t count) {
    std::size_t cellSize = texts_.size() - textBegin_;
    std::size_t room = std::min(kMaxCellText - std::min(kMaxCellText, cellSize),
                                kMaxRowText - std::min(kMaxRowText, texts_.size()));
    texts_.append(static_cast<std::size_t>(std::min<std::uint64_t>(count, room)), c);
    paragraphStart_ = false;
    lastSpace_ = false;
}

void SheetEvents::beginCell(const char** attributes) {
    cellDepth_ = depth_;
    cellStyle_.clear();
    valueType_.clear();
    value_.clear();
    dateValue_.clear();
    timeValue_.clear();
    booleanValue_.clear();
    stringValue_.clear();
    currency_.clear();
    std::string_view extensionType;
    const char* repeat = nullptr; // as Attr() picks it, in the same pass
    const char* extensionRepeat = nullptr;
    for (const char** a = attributes; *a; a += 2) {
        std::string_view local = LocalName(a[0]);
        std::string_view qualified(a[0]);
        bool extension = qualified.starts_with("calcext:") || qualified.starts_with("loext:");
        if (local == "number-columns-repeated") {
            const char*& slot = extension ? extensionRepeat : repeat;
            slot = slot ? slot : a[1];
        } else if (local == "style-name")
            cellStyle_ = a[1];
        else if (local == "value-type" && extension)
            extensionType = a[1];
        else if (local == "value-type")
            valueType_ = a[1];
        else if (extension)
            continue;
        else if (local == "value")
            value_ = a[1];
        else if (local == "date-value")
            dateValue_ = a[1];
        else if (local == "time-value")
            timeValue_ = a[1];
        else if (local == "boolean-value")
            booleanValue_ = a[1];
        else if (local == "string-value")
            stringValue_ = a[1];
        else if (local == "currency")
            currency_ = a[1];
    }
    if (valueType_.empty())
        valueType_ = extensionType;
    cellRepeat_ = std::max<std::uint64_t>(1, Count(repeat ? repeat : extensionRepeat));
    textBegin_ = texts_.size();
    paragraphs_ = 0;
    paragraphDepth_ = 0;
    ignoreDepth_ = 0;
}

std::string_view SheetEvents::columnStyle(std::uint64_t col) const {
    for (const ColumnStyle& run : columns_)
        if (col >= run.first && col <= run.last)
            return run.style;
    return {};
}

void SheetEvents::endCell() {
    cellDepth_ = 0;
    paragraphDepth_ = 0;
    ignoreDepth_ = 0;
    const std::uint64_t col = col_;
    col_ = SaturatingAdd(col_, cellRepeat_);
    if (col > kMaxCols || row_ > kMaxRows) {
        texts_.resize(textBegin_);
        return;
    }
    PendingCell cell{};
    cell.col = static_cast<std::uint32_t>(col);
    cell.repeat = static_cast<std::uint32_t>(std::min(cellRepeat_, kMaxCols - col + 1));
    cell.textBegin = textBegin_;
    // Cut to what a cell holds.
    auto cellText = [&] {
        std::size_t size = CellLimitPrefix(std::string_view(texts_).substr(textBegin_));
        texts_.resize(textBegin_ + size);
        return size;
    };
    std::size_t textSize = cellText();

    auto pushText = [&](std::string_view text) {
        texts_.resize(textBegin_);
        append(text);
        cell.kind = CellKind::String;
        cell.textSize = cellText();
        if (cell.textSize > 0)
            cells_.push_back(cell);
    };
    auto pushNumber = [&](double number, std::string_view fallback) {
        texts_.resize(textBegin_);
        cell.kind = CellKind::Number;
        cell.number = number;
        std::string_view style = cellStyle_;
        if (style.empty())
            style = rowStyle_;
        if (style.empty())
            style = columnStyle(col);
        cell.style = reader_.formatFor(style, fallback);
        cells_.push_back(cell);
    };

    // The paragraphs are the text the writing program showed; a value is formatted here only
    // when the file carries no text for it.
    if (textSize > 0) {
        cell.kind = CellKind::String;
        cell.textSize = textSize;
        cells_.push_back(cell);
        return;
    }
    double number = 0;
    if (valueType_ == "float" || valueType_ == "percentage" || valueType_ == "currency" ||
        (valueType_.empty() && !value_.empty())) {
        if (!ParseNumber(value_, number))
            return pushText(value_);
        if (valueType_ == "percentage")
            return pushNumber(number, "0%");
        if (valueType_ == "currency")
            return pushNumber(number, DefaultCurrencyCode(currency_));
        return pushNumber(number, "General");
    }
    if (valueType_ == "date") {
        if (!ParseDate(dateValue_, reader_.epoch(), number))
            return pushText(dateValue_);
        // The 1900 date system counts a 29 February 1900 that never was; dates before it sit
        // one serial lower there than a plain day count from 30 December 1899.
        if (!reader_.date1904() && number >= 2 && number < 61)
            number -= 1;
        double seconds = std::round((number - std::floor(number)) * 86400);
        std::string_view fallback = seconds == 0                  ? "m/d/yyyy"
                                    : std::fmod(seconds, 60) == 0 ? "m/d/yyyy h:mm"
                                                                  : "m/d/yyyy h:mm:ss";
        return pushNumber(number, fallback);
    }
    if (valueType_ == "time") {
        if (!ParseDuration(timeValue_, number))
            return pushText(timeValue_);
        return pushNumber(number, "[h]:mm:ss");
    }
    if (valueType_ == "boolean") {
        std::string_view value = booleanValue_.empty() ? std::string_view(value_) : booleanValue_;
        if (value != "true" && value != "false" && value != "1" && value != "0")
            return pushText(value);
        texts_.resize(textBegin_);
        cell.kind = CellKind::Boolean;
        cell.number = value == "true" || value == "1" ? 1 : 0;
        cells_.push_back(cell);
        return;
    }
    pushText(stringValue_);
}

OdsReader::OdsReader(ZipPackage package) : package_(std::move(package)) {
    styleTable_.addStyle("General");
    codes_.push_back("General");
    codeIndex_.emplace("General", 0);

    if (package_.has("META-INF/manifest.xml")) {
        // An encrypted package names its encryption in the manifest; its parts are ciphertext.
        std::string manifest = package_.read("META-INF/manifest.xml", 16 << 20);
        if (manifest.find("encryption-data") != std::string::npos)
            throw Error(kPasswordProtected);
    }
    ods::Outline outline = ods::ReadOutline(package_, dataStyles_);
    tailsUsable_ = outline.tailsUsable;
    sheets_ = std::move(outline.sheets);
    for (const ods::SheetOutline& sheet : sheets_)
        names_.push_back(sheet.name);
    spreadsheetTag_ = outline.spreadsheetTag;
    rootTag_ = outline.rootTag;
    bodyOffset_ = outline.bodyOffset;
    styleTable_.date1904 = outline.date1904;
    epoch_ = styleTable_.date1904 ? DaysFromCivil(1904, 1, 1) : DaysFromCivil(1899, 12, 30);
}

std::uint32_t OdsReader::formatFor(std::string_view cellStyle, std::string_view fallback) {
    formatKey_.assign(cellStyle);
    formatKey_ += '\1';
    formatKey_ += fallback;
    if (auto known = formatIndex_.find(formatKey_); known != formatIndex_.end())
        return known->second;
    std::string key(cellStyle);
    auto known = styleCodes_.find(key);
    if (known == styleCodes_.end())
        known = styleCodes_.emplace(key, dataStyles_.cellFormatCode(key)).first;
    std::string code = known->second;
    if (code.empty() || (code == "General" && fallback != "General"))
        code = fallback;
    auto [slot, added] = codeIndex_.emplace(code, static_cast<std::uint32_t>(codes_.size()));
    if (added) {
        std::lock_guard lock(codesMutex_);
        codes_.push_back(code);
    }
    formatIndex_.emplace(formatKey_, slot->second);
    return slot->second;
}

void OdsReader::publishCodes() {
    std::lock_guard lock(codesMutex_);
    for (std::size_t i = styleTable_.styleCount(); i < codes_.size(); ++i)
        styleTable_.addStyle(codes_[i]);
}

std::unique_ptr<OdsReader::Session> OdsReader::startSession(std::size_t sheetIndex) {
    std::unique_ptr<ByteStream> input = package_.stream("content.xml", ReadAhead::OwnThread);
    if (!tailsUsable_)
        return std::make_unique<Session>(*this, std::move(input), 0, false, false);
    // The head was parsed for the outline; the first worksheet is read with the body before and
    // after it, a later one from its own start tag. Either way the tokenizer gets a document
    // without a declaration.
    if (sheetIndex == 0 && bodyOffset_ > 0 && !rootTag_.empty()) {
        auto body =
            std::make_unique<ods::TailStream>(std::move(input), bodyOffset_, "<" + rootTag_ + ">");
        return std::make_unique<Session>(*this, std::move(body), 0, false, true);
    }
    auto tail = std::make_unique<ods::TailStream>(std::move(input), sheets_[sheetIndex].offset,
                                                  "<" + spreadsheetTag_ + ">");
    return std::make_unique<Session>(*this, std::move(tail), sheetIndex, true, true);
}

bool OdsReader::Copies::take(std::uint64_t count, std::uint64_t bytes) {
    if (count == 0)
        return true;
    if (count > cells || bytes > text / count)
        return false;
    cells -= count;
    text -= count * bytes;
    return true;
}

bool OdsReader::spansMuch(std::size_t sheetIndex) const {
    if (!tailsUsable_ || sheetIndex + 1 >= sheets_.size())
        return true;
    return sheets_[sheetIndex + 1].offset - sheets_[sheetIndex].offset >=
           ZipPackage::kReadAheadMinBytes;
}

OdsReader::Copies OdsReader::allowance(std::size_t sheetIndex) {
    if (allowances_.empty()) {
        allowances_.resize(sheets_.size());
        spent_.resize(sheets_.size());
    }
    if (!allowances_[sheetIndex]) {
        Copies left{kMaxCopies, kMaxCopiedText};
        for (std::size_t i = 0; i < sheetIndex; ++i) {
            left.cells -= std::min(left.cells, spent_[i].cells);
            left.text -= std::min(left.text, spent_[i].text);
        }
        allowances_[sheetIndex] = left;
    }
    return *allowances_[sheetIndex];
}

// Pushes the ready row and its repeats. A run of equal cells goes on as one cell with its width;
// once the copies are spent, a run is passed on as its stored cell and a repeated row once.
bool OdsReader::deliver(const SheetEvents& events, CellVisitor& sink, Copies& copies) {
    const std::uint64_t first = events.readyRow();
    const std::uint64_t last = std::min(kMaxRows, SaturatingAdd(first, events.readyRepeat()) - 1);
    for (std::uint64_t row = first; row <= last; ++row) {
        for (const PendingCell& pending : events.cells()) {
            Cell cell;
            cell.row = static_cast<std::uint32_t>(row);
            cell.col = pending.col;
            cell.kind = pending.kind;
            cell.style = pending.style;
            cell.number = pending.number;
            cell.text =
                std::string_view(events.texts()).substr(pending.textBegin, pending.textSize);
            cell.repeat = pending.repeat;
            const std::uint64_t copied = row == first ? pending.repeat - 1 : pending.repeat;
            if (!copies.take(copied, pending.textSize)) {
                if (row != first)
                    return true;
                cell.repeat = 1;
            }
            if (!sink.visit(cell))
                return false;
        }
    }
    return true;
}

// Parses and pushes until the target sheet ends, the visitor stops or the document ends.
OdsReader::Outcome OdsReader::produce(Session& session, CellVisitor& sink, Copies& copies) {
    SheetEvents& events = session.events;
    for (;;) {
        if (!session.driver->run(*session.stream))
            return Outcome::DocumentEnded;
        if (events.rowReady()) {
            events.rowDelivered();
            if (!deliver(events, sink, copies))
                return Outcome::Stopped;
        } else if (events.targetEnded()) {
            return Outcome::SheetEnded;
        }
    }
}

void OdsReader::readCells(std::size_t sheetIndex, CellVisitor& visitor) {
    if (sheetIndex >= sheets_.size())
        throw Error("The workbook has no worksheet number " + std::to_string(sheetIndex + 1));
    if (!session_ || session_->events.nextTable() > sheetIndex)
        session_ = startSession(sheetIndex);
    session_->events.setTarget(sheetIndex);
    const Copies allowed = allowance(sheetIndex);
    Copies copies = allowed;

    // The cells reach the visitor only after the codes of their styles are in the table.
    class Publishing : public CellVisitor {
    public:
        Publishing(OdsReader& reader, CellVisitor& inner) : reader_(reader), inner_(inner) {}
        bool visit(const Cell& cell) override {
            if (cell.style >= reader_.styleTable_.styleCount())
                reader_.publishCodes();
            stopped = !inner_.visit(cell);
            return !stopped;
        }
        bool stopped = false;

    private:
        OdsReader& reader_;
        CellVisitor& inner_;
    } publishing(*this, visitor);

    Outcome outcome = Outcome::Failed; // stays so when the worker throws
    try {
        PipeCells([&](CellVisitor& sink) { outcome = produce(*session_, sink, copies); },
                  publishing, spansMuch(sheetIndex));
    } catch (...) {
        session_.reset();
        throw;
    }
    spent_[sheetIndex].cells = std::max(spent_[sheetIndex].cells, allowed.cells - copies.cells);
    spent_[sheetIndex].text = std::max(spent_[sheetIndex].text, allowed.text - copies.text);
    // The session lives on for the next worksheet only where this one ended. After a stop the
    // worker may have parsed on, into damage perhaps, as far as the pipeline holds: a new session
    // makes what the next read reports independent of that.
    if (outcome != Outcome::SheetEnded || publishing.stopped)
        session_.reset();
}

} // namespace

std::unique_ptr<FormatReader> OpenOdsReader(const std::string& path) {
    return OpenOdsReader(ZipPackage(path));
}

std::unique_ptr<FormatReader> OpenOdsReader(ZipPackage package) {
    return std::make_unique<OdsReader>(std::move(package));
}

} // namespace gq
