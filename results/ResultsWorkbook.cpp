#include "ResultsWorkbook.h"

#include "Error.h"
#include "Spreadsheet.h"

#include <algorithm>

namespace gq {

namespace {

template <typename Step> bool Run(const WorkbookExportHost& host, int line, Step&& step) {
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        if (host.report)
            host.report(line, e.what());
        return false;
    }
}

void Yielded(const WorkbookExportHost& host) {
    if (host.yield)
        host.yield();
}

void Busy(const WorkbookExportHost& host, bool busy) {
    if (host.setBusy)
        host.setBusy(busy);
}

} // namespace

std::string WorkbookCellText(int column, std::string_view text) {
    std::string cell(text);
    if (column > 0)
        std::erase(cell, '=');
    return cell;
}

std::unique_ptr<SpreadsheetApplication> SaveResultsAsWorkbook(const ResultTable& table,
                                                              const WorkbookExportHost& host) {
    if (table.rowCount() == 0)
        return nullptr;
    Busy(host, true);
    std::unique_ptr<SpreadsheetApplication> app;
    Workbook* book = nullptr;
    // Without an instance or a workbook every later step would fail in turn: one report is
    // enough.
    if (!Run(host, 108, [&] { app = SpreadsheetApplication::create(); }) ||
        !Run(host, 110, [&] { book = &app->workbooks().add(); })) {
        Busy(host, false);
        return nullptr;
    }
    Worksheet& sheet = book->activeSheet();

    const int columns = table.columnCount();
    std::uint32_t k = 1;
    for (int c = 0; c < columns; ++c) {
        Yielded(host);
        Run(host, 124, [&] {
            if (!table.text(0, c).empty()) {
                sheet.cells(1, k).setValue(table.header(c));
                ++k;
            }
        });
    }
    std::uint32_t s = 2;
    const std::size_t rows = table.rowCount();
    for (std::size_t r = 0; r < rows; ++r) {
        Yielded(host);
        if (s > kSheetRows) {
            // Every later cell would be refused in turn; one report says it all.
            if (host.report)
                host.report(152, "A sheet holds " + std::to_string(kSheetRows) +
                                     " rows; the results from list row " + std::to_string(r + 1) +
                                     " on are left out");
            break;
        }
        k = 1;
        for (int c = 0; c < columns; ++c) {
            Yielded(host);
            Run(host, 152, [&] {
                std::string_view text = table.text(r, c);
                if (!text.empty()) {
                    sheet.cells(s, k).setValue(WorkbookCellText(c, text));
                    ++k;
                }
            });
        }
        ++s;
    }
    Run(host, 168, [&] { sheet.columns().autoFit(); });
    bool shown = Run(host, 168, [&] { app->setVisible(true); });
    Busy(host, false);
    return shown ? std::move(app) : nullptr;
}

} // namespace gq
