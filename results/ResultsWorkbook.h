#pragma once

#include "ResultTable.h"

#include <memory>
#include <string>

namespace gq {

class SpreadsheetApplication;

// What the workbook export needs of its window.
struct WorkbookExportHost {
    Yield yield;
    StepReporter report;               // the handler's numbered steps
    std::function<void(bool)> setBusy; // the hourglass on (true) and off
};

// The cell text as it goes into the workbook: the file path unchanged, every other column with
// its "=" taken out.
std::string WorkbookCellText(int column, std::string_view text);

// Copies the list into a new workbook of a new instance and shows it: a header row of the
// columns that the first row fills, then every row's non-empty texts side by side from column A,
// the columns fitted. An empty list does nothing. When no instance or workbook can be made,
// that is reported once and the export ends; a cell that cannot be set is reported and the rest
// go on. The instance is returned (shown, or null when nothing was shown).
std::unique_ptr<SpreadsheetApplication> SaveResultsAsWorkbook(const ResultTable& table,
                                                              const WorkbookExportHost& host);

} // namespace gq
