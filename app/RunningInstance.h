#pragma once

#include "SheetChannel.h"

#include <QString>

namespace gq {

// The sheet program's own names (SheetChannel.h), as the main window asks for them.
inline constexpr const char* kSheetApplicationName = channel::kApplicationName;
inline constexpr int kSheetAnswerTimeoutMs = 500;

// The per-user well-known socket name of a running sheet window.
QString SheetSocketName();

// True when a sheet window answers on `socketName` with its application name within the
// timeout; no listener, another answer or silence all count as not running.
bool SheetWindowIsRunning(const QString& socketName = SheetSocketName());

} // namespace gq
