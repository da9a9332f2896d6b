#pragma once

#include <QString>

namespace gq {

// A running sheet window listens on a per-user local socket under this name prefix; asked the
// query line, it answers its application name and a line break.
inline constexpr const char* kSheetSocketPrefix = "gridquest-sheet-";
inline constexpr const char* kSheetNameQuery = "name\n";
inline constexpr const char* kSheetApplicationName = "Gridquest Sheet";
inline constexpr int kSheetAnswerTimeoutMs = 500;

// The socket name for the current user: the prefix and the login name (the uid without one).
QString SheetSocketName();

// True when a sheet window answers on `socketName` with its application name within the
// timeout; no listener, another answer or silence all count as not running.
bool SheetWindowIsRunning(const QString& socketName = SheetSocketName());

} // namespace gq
