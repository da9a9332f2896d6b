#pragma once

#include <QString>

#include <memory>
#include <string>

namespace gq {

class Prompts;
class SpreadsheetApplication;

// The message shown when no spreadsheet instance can be created at start-up.
QString ExcelUnavailableMessage();
inline constexpr const char* kExcelMayBeOpenQuestion =
    "Excel may be open. It is recommended that you close Excel first.\r"
    "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\n"
    "Would you like to proceed anyway?";

// Tries to create an instance and drops it at once. When none can be made, shows why (under
// `title`) and returns false: the program is then to end.
bool CheckExcelAvailable(Prompts& prompts, const QString& title);

// True when a sheet window already runs for this user (see RunningInstance.h).
bool ExcelIsRunning(const QString& socketName);

// Asks whether to go on when a sheet window runs; true when the run is to be abandoned.
bool AskProceedIfExcelOpen(Prompts& prompts, const QString& title, const QString& socketName);

// A new instance with the workbook at `path` open in it as its last workbook. Throws gq::Error
// naming the file and the reader's reason.
std::unique_ptr<SpreadsheetApplication> OpenWorkbookInExcel(const std::string& path);

} // namespace gq
