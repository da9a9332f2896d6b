// What ties the model to the sheet window: handing a workbook over and steering its window. Kept
// apart so that a program that never shows a workbook (the command line) carries none of it.
#include "Spreadsheet.h"

#include "VisibleInstance.h"

namespace gq {

void Range::select() {
    sheet_->selectCell(row_, column_);
}

void Worksheet::select() {
    if (shown_)
        shown_->selectSheet(name_);
    selected_ = true;
}

void Worksheet::selectCell(std::uint32_t row, std::uint32_t col) {
    if (shown_)
        shown_->selectCell(name_, row, col);
    selected_ = true;
}

void Workbook::show() {
    if (shown_)
        return;
    HandOver handOver;
    if (isNew()) {
        for (std::size_t i = 0; i < sheets_.size(); ++i) {
            Worksheet* sheet = sheets_[i].get();
            handOver.newSheets.push_back(
                {sheet->name(),
                 [sheet](const XlsxSheetSource::Visitor& visit) { sheet->forEachText(visit); },
                 {}});
            for (const auto& [first, last] : sheet->fittedColumns())
                handOver.fittedColumns.push_back({std::uint32_t(i + 1), first, last});
        }
    } else {
        handOver.path = path_;
    }
    shown_ = {ShownWorkbook::show(handOver).release(),
              {[](ShownWorkbook* shown) { delete shown; }}};
    for (auto& sheet : sheets_)
        sheet->shown_ = shown_.get();
}

void SpreadsheetApplication::setVisible(bool visible) {
    if (visible) {
        for (int i = 1; i <= workbooks_.count(); ++i)
            workbooks_.item(i).show();
    }
    visible_ = visible || visible_;
}

} // namespace gq
