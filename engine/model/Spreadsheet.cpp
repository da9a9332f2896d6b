#include "Spreadsheet.h"

#include "ByteWords.h"
#include "DisplayText.h"
#include "Error.h"
#include "FormatReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace gq {

namespace {

bool g_failCreation = false;

// A line of the text export holds at most this much; the rest of a wider row is left out, so a
// row of thousands of long cells costs a bounded line, not gigabytes.
constexpr std::size_t kMaxExportLine = 4 << 20;

// Streams a reader's cells with their displayed text to `callback(row, col, text)`, which returns
// false to stop; `withBlanks` also passes cells that show nothing (they still count for the used
// range). The callback is a type of its own, so that a call per cell costs no indirection.
template <typename Callback> class TextCells : public CellVisitor {
public:
    TextCells(DisplayText& display, bool withBlanks, Callback callback)
        : display_(display), withBlanks_(withBlanks), callback_(std::move(callback)) {}

    bool busy() const override { return true; }

    bool visit(const Cell& cell) override {
        const std::string_view text = display_.viewOf(cell, text_);
        if (text.empty() && !withBlanks_)
            return true;
        const std::uint32_t width = RunWidth(cell);
        for (std::uint32_t i = 0; i < width; ++i)
            if (!callback_(cell.row, cell.col + i, text))
                return false;
        return true;
    }

private:
    DisplayText& display_;
    bool withBlanks_;
    Callback callback_;
    std::string text_;
};

// The export's text, written where it goes: room for a whole field is made at once, so that a
// cell costs its copy rather than a string's checks on every piece of it.
class ExportText {
public:
    const char* data() const { return bytes_.data(); }
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }
    void cut(std::size_t size) { size_ = size; }
    // Where up to `count` bytes may be written; ended() takes what was.
    char* room(std::size_t count) {
        if (bytes_.size() - size_ < count)
            grow(count);
        return bytes_.data() + size_;
    }
    void ended(const char* at) { size_ = static_cast<std::size_t>(at - bytes_.data()); }

    // A text field as the export shows it: in quotes, with its quotes doubled, when it holds a
    // tab, a line break or a quote.
    void putField(std::size_t tabs, std::string_view text) {
        char* at = PutTabs(room(tabs + 2 * text.size() + 2), tabs);
        // Four to sixteen bytes (most cells' texts) are copied as two words that overlap, a longer
        // text eight bytes at a time up to its last two: no branch hangs on the length to the
        // byte. A word with no byte below 0x0E (where TAB, LF and CR are) and no quote needs
        // nothing; the text of a marked one is looked at byte by byte.
        const std::size_t size = text.size();
        auto mark = [](std::uint64_t word) { return MarkBelow(word, 0x0E) | MarkEqual(word, '"'); };
        std::uint64_t marks = 0;
        if (size >= 8) {
            for (std::size_t i = 0; i + 16 < size; i += 8) {
                const std::uint64_t word = WordAt(text, i);
                std::memcpy(at + i, &word, 8);
                marks |= mark(word);
            }
            const std::size_t lastTwo = size - std::min<std::size_t>(size, 16);
            const std::uint64_t before = WordAt(text, lastTwo);
            const std::uint64_t last = WordAt(text, size - 8);
            std::memcpy(at + lastTwo, &before, 8);
            std::memcpy(at + size - 8, &last, 8);
            marks |= mark(before) | mark(last);
        } else if (size >= 4) {
            std::uint32_t first;
            std::uint32_t last;
            std::memcpy(&first, text.data(), 4);
            std::memcpy(&last, text.data() + size - 4, 4);
            std::memcpy(at, &first, 4);
            std::memcpy(at + size - 4, &last, 4);
            marks = mark(first | std::uint64_t{last} << 32); // no zero byte to mark falsely
        } else {
            for (std::size_t i = 0; i < size; ++i) {
                const auto c = static_cast<unsigned char>(text[i]);
                at[i] = static_cast<char>(c);
                marks |= c < 0x0E || c == '"';
            }
        }
        if (marks && std::any_of(text.begin(), text.end(), NeedsQuotes))
            return ended(PutQuoted(at, text));
        ended(at + size);
    }

    // The tabs before a field, at `at`; returns their end.
    static char* PutTabs(char* at, std::size_t tabs) {
        if (tabs <= 1) { // as between most cells, and before a line's first
            *at = '\t';
            return at + tabs;
        }
        std::memset(at, '\t', tabs);
        return at + tabs;
    }

private:
    static bool NeedsQuotes(char c) { return c == '\t' || c == '\r' || c == '\n' || c == '"'; }
    static char* PutQuoted(char* at, std::string_view text) {
        *at++ = '"';
        for (char c : text) {
            *at++ = c;
            if (c == '"')
                *at++ = c;
        }
        *at++ = '"';
        return at;
    }

    // Kept out of room(), which is then small enough to inline where a field is written.
    [[gnu::noinline]] void grow(std::size_t count) {
        bytes_.resize(std::max(2 * bytes_.size(), size_ + count));
    }

    std::string bytes_; // as long as the room made; size_ of it written
    std::size_t size_ = 0;
};

// The lines of a sheet's text export: a line a row, up to the last row with a cell (a blank cell
// counts, as it does for the used range), each cell's text at its column after as many TABs,
// written to `fd` a block at a time. `blockWritten` is told where each block ends in the file, and
// says whether to go on, stop, or start over at the file's beginning.
class ExportLines : public CellVisitor {
public:
    ExportLines(DisplayText* display, int fd, const std::string& path,
                const std::function<ExportNext(std::uint64_t end)>& blockWritten)
        : display_(display), fd_(fd), path_(path), blockWritten_(blockWritten) {}

    bool busy() const override { return true; }

    bool visit(const Cell& cell) override {
        if (!toRow(cell.row))
            return false;
        if (cell.kind == CellKind::Number && RunWidth(cell) == 1 && addNumber(cell))
            return true;
        const std::string_view text = display_->viewOf(cell, scratch_);
        if (!text.empty())
            for (std::uint32_t i = 0, width = RunWidth(cell); i < width; ++i)
                addText(cell.col + i, text);
        return true;
    }

    // A cell that holds its text (those of a new workbook); false once told to stop.
    bool add(std::uint32_t row, std::uint32_t col, std::string_view text) {
        if (!toRow(row))
            return false;
        if (!text.empty())
            addText(col, text);
        return true;
    }

    // Ends the last line and writes out what is left, unless told to stop; returns where the
    // text ends in the file.
    std::uint64_t finish() {
        if (any_ && going_)
            endLinesBefore(lineRow_ + 1);
        if (going_ && block_.size() != 0)
            writeBlock();
        return end_;
    }

    Error failed() const { return Error("The text export cannot be written to " + path_); }

private:
    static constexpr std::size_t kBlockBytes = 1 << 16;

    // Numbers' styles as last met, each with its format and whether that writes them quickly
    // into a text that never needs quotes: a few slots, as the columns of a sheet take turns with
    // a few styles. A slot starts with a style that a number would take the slow way.
    struct NumberStyle {
        std::uint32_t style = UINT32_MAX;
        const NumberFormat* format = nullptr;
        bool quick = false;
    };

    // The lines before `row` end, those of rows without cells too; false once told to stop.
    bool toRow(std::uint32_t row) {
        any_ = true;
        return row == lineRow_ ? going_ : endLinesBefore(row);
    }

    bool endLinesBefore(std::uint32_t row) {
        for (; lineRow_ < row && going_; ++lineRow_) {
            char* at = block_.room(2);
            at[0] = '\r';
            at[1] = '\n';
            block_.ended(at + 2);
            lineColumn_ = 0;
            lineStart_ = block_.size();
            if (block_.size() >= kBlockBytes) {
                writeBlock();
                lineStart_ = 0;
            }
        }
        return going_;
    }

    // A line holds at most kMaxExportLine bytes: no field goes into a full one.
    bool lineFull() const { return block_.size() - lineStart_ >= kMaxExportLine; }

    void fieldAdded(std::uint32_t col) {
        lineColumn_ = col - 1;
        if (block_.size() - lineStart_ > kMaxExportLine)
            cutLine();
    }

    [[gnu::noinline]] void cutLine() {
        std::size_t end = lineStart_ + kMaxExportLine;
        while (end > lineStart_ && (static_cast<unsigned char>(block_.data()[end]) & 0xC0) == 0x80)
            --end; // not inside a character
        block_.cut(end);
    }

    void addText(std::uint32_t col, std::string_view text) {
        if (lineFull())
            return;
        block_.putField(col - 1 - lineColumn_, text);
        fieldAdded(col);
    }

    // A number that its format writes quickly (most numbers of most sheets) is written in place:
    // no text of its own first, nor a look for quotes its format cannot make. False, having added
    // nothing, for any other, soon for one of a format that writes none quickly.
    bool addNumber(const Cell& cell) {
        NumberStyle& known = numberStyles_[cell.style % numberStyles_.size()];
        if (known.style != cell.style) {
            const std::bitset<256>& bytes = display_->numberBounds(cell.style).bytes;
            known.style = cell.style;
            known.format = &display_->numberFormatOf(cell.style);
            known.quick = known.format->writesQuickly() && !bytes['\t'] && !bytes['\r'] &&
                          !bytes['\n'] && !bytes['"'];
        }
        if (!known.quick)
            return false;
        if (lineFull())
            return true;
        const std::size_t tabs = cell.col - 1 - lineColumn_;
        char* const at = ExportText::PutTabs(block_.room(tabs + NumberFormat::kQuickRoom), tabs);
        const char* const end =
            known.format->formatQuicklyTo(cell.number, display_->date1904(), at);
        if (!end)
            return false;
        if (end != at) { // a text that shows nothing is no field
            block_.ended(end);
            fieldAdded(cell.col);
        }
        return true;
    }

    void writeBlock() {
        for (std::size_t done = 0; done < block_.size();) {
            const ssize_t wrote = ::write(fd_, block_.data() + done, block_.size() - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                throw failed();
            done += static_cast<std::size_t>(wrote);
        }
        end_ += block_.size();
        block_.clear();
        const ExportNext next = blockWritten_ ? blockWritten_(end_) : ExportNext::Continue;
        if (next == ExportNext::StartOver) {
            if (::lseek(fd_, 0, SEEK_SET) != 0)
                throw failed();
            end_ = 0;
        }
        going_ = next != ExportNext::Stop;
    }

    DisplayText* display_;
    int fd_;
    const std::string& path_;
    const std::function<ExportNext(std::uint64_t end)>& blockWritten_;
    ExportText block_;             // whole lines, written out in blocks
    bool going_ = true;            // until `blockWritten_` asks to stop
    bool any_ = false;             // whether a cell was met: then the last line is ended
    std::uint64_t end_ = 0;        // of the text in the file
    std::uint32_t lineRow_ = 1;    // the row whose cells the last line of `block_` collects
    std::uint32_t lineColumn_ = 0; // the last column written into that line
    std::size_t lineStart_ = 0;    // where that line begins in `block_`
    std::array<NumberStyle, 16> numberStyles_;
    std::string scratch_; // a text made for a cell
};

} // namespace

Range::Range(Worksheet& sheet, std::uint32_t row, std::uint32_t column, std::uint32_t rows,
             std::uint32_t columns)
    : sheet_(&sheet), row_(row), column_(column), rows_(rows), columns_(columns) {}

std::string Range::text() const {
    return sheet_->text(row_, column_);
}

void Range::setValue(const std::string& value) {
    sheet_->setValue(row_, column_, value);
}

void Range::autoFit() {
    sheet_->autoFitColumns(column_, lastColumn());
}

Worksheet::Worksheet(std::string name, FormatReader* reader, DisplayText* display,
                     std::size_t index)
    : name_(std::move(name)), reader_(reader), display_(display), index_(index) {}

Worksheet::~Worksheet() = default;

void Worksheet::measure() {
    if (measured_)
        return;
    bool any = false;
    auto extend = [&](std::uint32_t row, std::uint32_t col) {
        if (!any) {
            firstRow_ = lastRow_ = row;
            firstColumn_ = lastColumn_ = col;
            any = true;
            return;
        }
        firstRow_ = std::min(firstRow_, row);
        lastRow_ = std::max(lastRow_, row);
        firstColumn_ = std::min(firstColumn_, col);
        lastColumn_ = std::max(lastColumn_, col);
    };
    if (reader_) {
        TextCells cells(*display_, true, [&](std::uint32_t row, std::uint32_t col, const auto&) {
            extend(row, col);
            return true;
        });
        reader_->readCells(index_, cells);
    } else {
        for (const auto& [at, value] : values_)
            extend(at.first, at.second);
    }
    measured_ = true;
}

Range Worksheet::usedRange() {
    measure();
    return Range(*this, firstRow_, firstColumn_, lastRow_ - firstRow_ + 1,
                 lastColumn_ - firstColumn_ + 1);
}

Range Worksheet::lastCell() {
    measure();
    return Range(*this, lastRow_, lastColumn_);
}

std::string Worksheet::text(std::uint32_t row, std::uint32_t col) {
    if (!reader_) {
        auto found = values_.find({row, col});
        return found == values_.end() ? std::string() : found->second;
    }
    if (cachedRow_ != row) {
        cachedCells_.clear();
        TextCells cells(*display_, false, [&](std::uint32_t r, std::uint32_t c, const auto& text) {
            if (r == row)
                cachedCells_[c] = text;
            return r <= row;
        });
        reader_->readCells(index_, cells);
        cachedRow_ = row;
    }
    auto found = cachedCells_.find(col);
    return found == cachedCells_.end() ? std::string() : found->second;
}

void Worksheet::forEachText(const TextVisitor& visitor) {
    if (!reader_) {
        for (const auto& [at, value] : values_)
            if (!value.empty() && !visitor(at.first, at.second, value))
                return;
        return;
    }
    std::string text;
    TextCells cells(*display_, false,
                    [&](std::uint32_t row, std::uint32_t col, std::string_view t) {
                        text.assign(t);
                        return visitor(row, col, text);
                    });
    reader_->readCells(index_, cells);
}

SheetCell::SheetCell(const Cell& cell, DisplayText* display, std::string& text)
    : cell_(cell), display_(display), text_(text),
      sharedText_(display && cell.sharedString != kNotShared && display->showsAsStored(cell.style)
                      ? cell.sharedString
                      : kNotShared),
      numberFormat_(display && cell.kind == CellKind::Number && std::isfinite(cell.number)
                        ? display->numberFormatKey(cell.style)
                        : kNoNumberFormat) {}

const std::string& SheetCell::text() {
    if (!made_) {
        if (display_)
            display_->textOf(cell_, text_);
        else
            text_.assign(cell_.text);
        made_ = true;
    }
    return text_;
}

void SheetCell::copyText(std::string& out) {
    if (!made_ && display_ && display_->showsOwnText(cell_))
        out.assign(cell_.text);
    else
        out = text();
}

bool SheetCell::showsText() {
    if (numberFormat_ != kNoNumberFormat && !display_->numberBounds(cell_.style).mayBeEmpty)
        return true;
    return !text().empty();
}

const std::bitset<256>& SheetCell::numberBytes() const {
    return display_->numberBounds(cell_.style).bytes;
}

void Worksheet::forEachCell(const std::function<bool(SheetCell&)>& visitor) {
    std::string text;
    if (!reader_) {
        for (const auto& [at, value] : values_) {
            Cell cell;
            cell.row = at.first;
            cell.col = at.second;
            cell.kind = CellKind::String;
            cell.text = value;
            SheetCell shown(cell, nullptr, text);
            if (!value.empty() && !visitor(shown))
                return;
        }
        return;
    }
    class Cells : public CellVisitor {
    public:
        Cells(DisplayText& display, const std::function<bool(SheetCell&)>& visitor)
            : display_(display), visitor_(visitor) {}
        bool visit(const Cell& cell) override {
            if (cell.kind == CellKind::Blank ||
                (cell.kind == CellKind::String && cell.text.empty() &&
                 display_.showsAsStored(cell.style)))
                return true;
            SheetCell shown(cell, &display_, text_);
            return visitor_(shown);
        }

    private:
        DisplayText& display_;
        const std::function<bool(SheetCell&)>& visitor_;
        std::string text_;
    } cells(*display_, visitor);
    reader_->readCells(index_, cells);
}

void Worksheet::forEachShown(const ShownVisitor& visitor) {
    if (!reader_) {
        for (const auto& [at, value] : values_)
            if (!value.empty() && !visitor(at.first, at.second, value, false))
                return;
        return;
    }
    class Shown : public CellVisitor {
    public:
        Shown(DisplayText& display, const ShownVisitor& visitor)
            : display_(display), visitor_(visitor) {}
        bool visit(const Cell& cell) override {
            display_.textOf(cell, text_);
            if (text_.empty())
                return true;
            for (std::uint32_t i = 0; i < RunWidth(cell); ++i)
                if (!visitor_(cell.row, cell.col + i, text_, cell.kind == CellKind::Number))
                    return false;
            return true;
        }

    private:
        DisplayText& display_;
        const ShownVisitor& visitor_;
        std::string text_;
    } cells(*display_, visitor);
    reader_->readCells(index_, cells);
}

void Worksheet::setValue(std::uint32_t row, std::uint32_t col, const std::string& value) {
    if (reader_)
        throw Error("The cells of a workbook opened from a file cannot be changed");
    if (shown_)
        throw Error("The workbook has been handed to its window; its cells are changed there");
    if (row < 1 || row > kSheetRows || col < 1 || col > kSheetColumns)
        throw Error("The cell lies outside the sheet");
    values_[{row, col}] = value;
    measured_ = false;
}

Range Worksheet::columns() {
    Range used = usedRange();
    return Range(*this, 1, used.column(), kSheetRows, used.columnCount());
}

void Worksheet::autoFitColumns(std::uint32_t first, std::uint32_t last) {
    first = std::max<std::uint32_t>(first, 1);
    last = std::min(last, kSheetColumns);
    if (first <= last)
        fittedColumns_.emplace_back(first, last);
}

Workbook::Workbook(const std::string& path)
    : path_(path), reader_(OpenFormatReader(path)),
      display_(std::make_unique<DisplayText>(reader_->styles())) {
    const auto& names = reader_->worksheetNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        sheets_.push_back(std::make_unique<Worksheet>(names[i], reader_.get(), display_.get(), i));
    if (sheets_.empty())
        throw Error("The workbook has no worksheets");
}

Workbook::Workbook() {
    sheets_.push_back(std::make_unique<Worksheet>("Sheet1", nullptr, nullptr, 0));
}

Workbook::~Workbook() = default;

Worksheet& Workbook::sheets(const std::string& name) {
    for (auto& sheet : sheets_)
        if (sheet->name() == name)
            return *sheet;
    throw Error("Subscript out of range: the workbook has no sheet named \"" + name + "\"");
}

void Workbook::saveAs(const std::string& path, FileFormat format, Worksheet* sheet,
                      const std::function<ExportNext(std::uint64_t end)>& blockWritten) {
    if (format != FileFormat::TextTabDelimited)
        throw Error("This file format cannot be written");
    Worksheet& source = sheet ? *sheet : activeSheet();
    // Written over from its start and cut to its text at the end, not emptied first: a file
    // emptied, written and closed has the file system write it out at once (ext4 does), which
    // made each of a run's many small exports wait for the disk. Written with write(2) itself: a
    // stream cut each block into three calls (its buffer's fill, the rest straight through and
    // the tail flushed), and a block goes out whole anyway.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    ExportLines lines(source.display_, fd, path, blockWritten);
    if (fd < 0)
        throw lines.failed();
    try {
        if (source.reader_) {
            source.reader_->readCells(source.index_, lines);
        } else {
            for (const auto& [at, value] : source.values_)
                if (!lines.add(at.first, at.second, value))
                    break;
        }
        const std::uint64_t end = lines.finish();
        // What the file held before, or a longer round of this export, may lie past its end.
        struct stat info;
        if (::fstat(fd, &info) != 0 || (static_cast<std::uint64_t>(info.st_size) != end &&
                                        ::ftruncate(fd, static_cast<off_t>(end)) != 0))
            throw lines.failed();
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        throw lines.failed();
}

Workbook& Workbooks::open(const std::string& path) {
    items_.push_back(std::make_unique<Workbook>(path));
    return *items_.back();
}

Workbook& Workbooks::add() {
    items_.push_back(std::make_unique<Workbook>());
    return *items_.back();
}

Workbook& Workbooks::item(int index) {
    if (index < 1 || index > count())
        throw Error("Subscript out of range");
    return *items_[static_cast<std::size_t>(index - 1)];
}

std::unique_ptr<SpreadsheetApplication> SpreadsheetApplication::create() {
    if (g_failCreation)
        throw Error("The spreadsheet engine cannot be started");
    return std::unique_ptr<SpreadsheetApplication>(new SpreadsheetApplication());
}

void SpreadsheetApplication::failCreationForTesting(bool fail) {
    g_failCreation = fail;
}

} // namespace gq
