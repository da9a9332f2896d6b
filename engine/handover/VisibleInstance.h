#pragma once

#include "XlsxTextWriter.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gq {

namespace channel {
class Client;
}

// The path of the gridquest-sheet program: beside the running program, else where the build
// put it, else on PATH. Throws gq::Error when there is none.
std::string SheetProgramPath();

// True while the process runs (a zombie counts as ended).
bool ProcessLives(qint64 processId);

// What a sheet window is to show: a workbook file, or the sheets of a new workbook.
struct HandOver {
    std::string path; // the file; empty for a new workbook
    std::vector<XlsxSheetSource> newSheets;
    // Column ranges to fit in the window: sheet number (from 1), first and last column.
    std::vector<std::array<std::uint32_t, 3>> fittedColumns;
};

// Writes a new workbook's sheets to `path` as a private .xlsx, for a sheet window to take over.
void WriteHandOverWorkbook(const std::vector<XlsxSheetSource>& sheets, const std::string& path);

// One workbook handed to a sheet window process of its own, started detached so that it
// outlives this program. Selections made on the workbook afterwards travel to that window.
class ShownWorkbook {
public:
    // Starts the window and waits until it listens; throws gq::Error when it cannot be started
    // or gives up before listening.
    static std::unique_ptr<ShownWorkbook> show(const HandOver& handOver);
    ~ShownWorkbook();

    void selectSheet(const std::string& name);
    void selectCell(const std::string& sheet, std::uint32_t row, std::uint32_t column);
    // Any request of the window's instance socket; the answer's payload. Throws gq::Error with
    // the window's reason.
    std::string request(const QByteArray& verb, const QStringList& arguments = {},
                        int timeoutMs = kAnswerTimeoutMs);

    qint64 processId() const { return processId_; }
    const QString& socketName() const { return socketName_; }

    static constexpr int kStartTimeoutMs = 20000;
    static constexpr int kAnswerTimeoutMs = 30000;

private:
    ShownWorkbook() = default;

    qint64 processId_ = 0;
    QString socketName_;
    std::unique_ptr<channel::Client> client_;
};

} // namespace gq
