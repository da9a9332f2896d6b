#pragma once

#include "Cell.h"

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace gq {

class FormatReader;
class DisplayText;
class ShownWorkbook;
class Workbook;
class Worksheet;

inline constexpr std::uint32_t kNoNumberFormat = UINT32_MAX;

inline constexpr std::uint32_t kSheetRows = 1048576;
inline constexpr std::uint32_t kSheetColumns = 16384;

// The columns a cell's run covers: never past the sheet's last column, whatever a reader passed.
inline std::uint32_t RunWidth(const Cell& cell) {
    return std::min(cell.repeat, kSheetColumns + 1 - std::min(cell.col, kSheetColumns));
}

enum class FileFormat { TextTabDelimited = -4158 };

// What a text export does after a block, as the reader taking its blocks answers: go on; write
// the next block over the file from its start, when everything written has been read (the file
// then stays a few blocks long, and its pages are written again rather than made anew; it is cut
// to its text at the end); or end there.
enum class ExportNext { Continue, StartOver, Stop };

// A rectangle of cells: a sheet's used range, its last cell, or one cell.
class Range {
public:
    Range(Worksheet& sheet, std::uint32_t row, std::uint32_t column, std::uint32_t rows = 1,
          std::uint32_t columns = 1);

    std::uint32_t row() const { return row_; }
    std::uint32_t column() const { return column_; }
    std::uint32_t rowCount() const { return rows_; }
    std::uint32_t columnCount() const { return columns_; }
    std::uint64_t count() const { return std::uint64_t(rows_) * columns_; }
    std::uint32_t lastRow() const { return row_ + rows_ - 1; }
    std::uint32_t lastColumn() const { return column_ + columns_ - 1; }

    std::string text() const;                // the first cell's displayed text
    void setValue(const std::string& value); // sheets of new workbooks only
    // The first cell becomes the selection (of the sheet window, once the workbook is shown).
    void select();
    // The range's columns are to fit their contents wherever the workbook is shown.
    void autoFit();

private:
    Worksheet* sheet_;
    std::uint32_t row_, column_, rows_, columns_;
};

// A stored cell as a search meets it: where it stands, how many columns its run covers, and its
// displayed text, made only when asked for.
class SheetCell {
public:
    std::uint32_t row() const { return cell_.row; }
    std::uint32_t column() const { return cell_.col; }
    std::uint32_t repeat() const { return RunWidth(cell_); } // columns from column() on
    // The index of the shared string that the cell shows unchanged, else kNotShared: cells with
    // the same index show the same text.
    std::uint32_t sharedText() const { return sharedText_; }
    // Empty texts are never visited, but a number's format may yet show nothing.
    const std::string& text();
    // The same text copied into `out`, without a copy of its own first where the cell shows the
    // text it holds.
    void copyText(std::string& out);
    // Whether text() is not empty; answered without making it where the format tells.
    bool showsText();
    // For a finite number, a key shared by every cell whose number shows through the same
    // format, else kNoNumberFormat. The bytes any such text can hold are the same for all of
    // them: a search may rule the cells out once, without making their texts.
    std::uint32_t numberFormat() const { return numberFormat_; }
    const std::bitset<256>& numberBytes() const; // only for a cell with a number format

private:
    friend class Worksheet;
    SheetCell(const Cell& cell, DisplayText* display, std::string& text);

    const Cell& cell_;
    DisplayText* display_; // null for the cells of a new workbook, which hold their text
    std::string& text_;
    bool made_ = false;
    std::uint32_t sharedText_; // asked for every cell: known from the start
    std::uint32_t numberFormat_;
};

// One worksheet of an open workbook. Sheets of a file are read on demand, streaming; sheets of a
// new workbook hold their cells in memory.
class Worksheet {
public:
    using TextVisitor =
        std::function<bool(std::uint32_t row, std::uint32_t col, const std::string& text)>;

    Worksheet(std::string name, FormatReader* reader, DisplayText* display, std::size_t index);
    ~Worksheet();

    const std::string& name() const { return name_; }
    Range usedRange();
    Range lastCell(); // the sheet's last cell (bottom row and right column of the stored cells)
    std::string text(std::uint32_t row, std::uint32_t col);
    Range cells(std::uint32_t row, std::uint32_t col) { return Range(*this, row, col); }
    // Every row of the used range's columns, as the target of autoFit().
    Range columns();
    // The sheet becomes the selected one (of the sheet window, once the workbook is shown);
    // throws gq::Error with the window's reason when it refuses.
    void select();
    bool isSelected() const { return selected_; }
    // The column ranges to fit, first and last column of each, in the order asked.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& fittedColumns() const {
        return fittedColumns_;
    }

    // Every cell whose displayed text is not empty, in row-major order, in one streaming pass.
    // The visitor returns false to stop. Cells without text are never visited.
    void forEachText(const TextVisitor& visitor);
    // The same, saying of each cell whether it holds a number (dates and times included), as a
    // window needs to align it.
    using ShownVisitor = std::function<bool(std::uint32_t row, std::uint32_t col,
                                            const std::string& text, bool number)>;
    void forEachShown(const ShownVisitor& visitor);
    // Every stored cell that may show text, in row-major order, a run of equal cells once; the
    // visitor returns false to stop. Its text is made only when the visitor asks for it.
    void forEachCell(const std::function<bool(SheetCell&)>& visitor);
    void setValue(std::uint32_t row, std::uint32_t col, const std::string& value);
    void autoFitColumns(std::uint32_t first, std::uint32_t last);
    void selectCell(std::uint32_t row, std::uint32_t col);

private:
    friend class Workbook; // its text export streams the sheet's cells, blank ones included

    void measure();

    std::string name_;
    FormatReader* reader_;
    DisplayText* display_;
    std::size_t index_;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> values_; // new workbooks
    bool measured_ = false;
    std::uint32_t lastRow_ = 1, lastColumn_ = 1, firstRow_ = 1, firstColumn_ = 1;
    // One row kept for text(): a row-by-row reader costs one pass per row, not per cell.
    std::uint32_t cachedRow_ = 0;
    std::map<std::uint32_t, std::string> cachedCells_;
    bool selected_ = false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fittedColumns_;
    ShownWorkbook* shown_ = nullptr; // the window that shows the sheet, once handed over
};

// Ends a workbook's sheet window hand-over by a function that Workbook::show() sets, so that only
// a program that shows workbooks needs the window's code.
struct EndShown {
    void (*end)(ShownWorkbook*) = nullptr;
    void operator()(ShownWorkbook* shown) const { end(shown); }
};

class Workbook {
public:
    // Opens a file through the reader its content calls for; throws gq::Error with the reason.
    explicit Workbook(const std::string& path);
    Workbook(); // a new, empty workbook with one sheet "Sheet1"
    ~Workbook();

    bool isNew() const { return !reader_; }
    // Hands the workbook to a sheet window of its own (once; later calls do nothing). A new
    // workbook travels as a private temporary file that the window takes over.
    void show();
    ShownWorkbook* shown() const { return shown_.get(); }

    const std::string& path() const { return path_; }
    const std::vector<std::unique_ptr<Worksheet>>& worksheets() const { return sheets_; }
    Worksheet& sheets(const std::string& name); // throws gq::Error when no sheet has the name
    Worksheet& activeSheet() { return *sheets_.front(); }
    // Writes `sheet` (the active sheet when null) as TAB-separated text, one row per line, in
    // blocks of whole lines. `blockWritten(end)` runs after each block reaches the file, with
    // where the text written so far ends in it: a reader may take the block at once, and answer
    // what the export does next (see ExportNext).
    void saveAs(const std::string& path, FileFormat format, Worksheet* sheet = nullptr,
                const std::function<ExportNext(std::uint64_t end)>& blockWritten = {});

private:
    std::string path_;
    std::unique_ptr<FormatReader> reader_;
    std::unique_ptr<DisplayText> display_;
    std::vector<std::unique_ptr<Worksheet>> sheets_;
    std::unique_ptr<ShownWorkbook, EndShown> shown_;
};

class Workbooks {
public:
    Workbook& open(const std::string& path);
    Workbook& add();
    int count() const { return static_cast<int>(items_.size()); }
    Workbook& item(int index); // 1-based, as the collection counts

private:
    std::vector<std::unique_ptr<Workbook>> items_;
};

// An in-process spreadsheet instance: cheap, one per searched file.
class SpreadsheetApplication {
public:
    // Throws gq::Error when no instance can be made (tests force that through the hook below).
    static std::unique_ptr<SpreadsheetApplication> create();
    static void failCreationForTesting(bool fail);

    Workbooks& workbooks() { return workbooks_; }
    void setDisplayAlerts(bool on) { displayAlerts_ = on; }
    bool displayAlerts() const { return displayAlerts_; }
    // Workbooks already shown stay with the user in their windows.
    void quit() { workbooks_ = Workbooks(); }
    // True hands every workbook of the instance to a sheet window (see Workbook::show); a
    // workbook once shown stays shown.
    void setVisible(bool visible);
    bool visible() const { return visible_; }
    // The windows are started detached and outlive this program whatever the flag says; it is
    // kept for callers that ask.
    void setUserControl(bool on) { userControl_ = on; }
    bool userControl() const { return userControl_; }

private:
    SpreadsheetApplication() = default;

    Workbooks workbooks_;
    bool displayAlerts_ = true;
    bool visible_ = false;
    bool userControl_ = false;
};

} // namespace gq
