#include "VisibleInstance.h"

#include "Error.h"
#include "SheetChannel.h"
#include "XlsxTextWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <csignal>
#include <cstdio>

namespace gq {

namespace {

constexpr const char* kProgramName = "gridquest-sheet";

bool IsProgram(const QString& path) {
    QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString RunningProgramFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())
        .absolutePath();
}

// "--autofit" arguments: sheet number, then the first and last column.
QStringList AutoFitArguments(const HandOver& handOver) {
    QStringList arguments;
    for (const auto& [sheet, first, last] : handOver.fittedColumns)
        arguments << QStringLiteral("--autofit")
                  << QStringLiteral("%1:%2-%3").arg(sheet).arg(first).arg(last);
    return arguments;
}

} // namespace

std::string SheetProgramPath() {
    QString beside = RunningProgramFolder() + '/' + kProgramName;
    if (IsProgram(beside))
        return QFile::encodeName(beside).toStdString();
#ifdef GQ_SHEET_BUILD_PROGRAM
    if (IsProgram(QStringLiteral(GQ_SHEET_BUILD_PROGRAM)))
        return GQ_SHEET_BUILD_PROGRAM;
#endif
    QString onPath = QStandardPaths::findExecutable(kProgramName);
    if (!onPath.isEmpty())
        return QFile::encodeName(onPath).toStdString();
    throw Error("The sheet window program gridquest-sheet cannot be found");
}

bool ProcessLives(qint64 processId) {
    if (processId <= 0 || ::kill(static_cast<pid_t>(processId), 0) != 0)
        return false;
    // A window started detached belongs to whoever reaps orphans; ended but not yet reaped, it
    // is gone all the same.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(processId));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype end = text.lastIndexOf(')');
    return end < 0 || end + 2 >= text.size() || text[end + 2] != 'Z';
}

void WriteHandOverWorkbook(const std::vector<XlsxSheetSource>& sheets, const std::string& path) {
    WriteXlsxTexts(path, sheets, FileAccess::Private);
}

std::unique_ptr<ShownWorkbook> ShownWorkbook::show(const HandOver& handOver) {
    const QString program = QFile::decodeName(SheetProgramPath().c_str());
    std::unique_ptr<ShownWorkbook> shown(new ShownWorkbook());
    shown->socketName_ = channel::NewInstanceName();
    QStringList arguments{QStringLiteral("--listen"), shown->socketName_};
    QString takenOver; // the temporary file of a new workbook, ours until the window runs
    if (handOver.path.empty()) {
        QTemporaryFile file(QDir::tempPath() + QStringLiteral("/gridquest-book-XXXXXX.xlsx"));
        file.setAutoRemove(false);
        if (!file.open())
            throw Error("The new workbook cannot be handed over: " +
                        file.errorString().toStdString());
        takenOver = file.fileName();
        file.close();
        try {
            WriteHandOverWorkbook(handOver.newSheets, QFile::encodeName(takenOver).toStdString());
        } catch (...) {
            QFile::remove(takenOver);
            throw;
        }
        arguments << QStringLiteral("--take-over") << AutoFitArguments(handOver) << takenOver;
    } else {
        arguments << QFileInfo(QString::fromStdString(handOver.path)).absoluteFilePath();
    }
    if (!QProcess::startDetached(program, arguments, QString(), &shown->processId_)) {
        if (!takenOver.isEmpty())
            QFile::remove(takenOver);
        throw Error("The sheet window cannot be started");
    }
    shown->client_ = std::make_unique<channel::Client>(shown->socketName_);
    const qint64 pid = shown->processId_;
    if (!shown->client_->connect(kStartTimeoutMs, [pid] { return ProcessLives(pid); })) {
        // A window still starting may yet take the file; one that ended never will.
        if (!takenOver.isEmpty() && !ProcessLives(pid))
            QFile::remove(takenOver);
        throw Error("The sheet window did not start");
    }
    // A window that cannot show the file answers its first request with the reason.
    shown->request("state");
    return shown;
}

ShownWorkbook::~ShownWorkbook() = default;

std::string ShownWorkbook::request(const QByteArray& verb, const QStringList& arguments,
                                   int timeoutMs) {
    return client_->request(verb, arguments, timeoutMs);
}

void ShownWorkbook::selectSheet(const std::string& name) {
    request("sheet", {QString::fromStdString(name)});
}

void ShownWorkbook::selectCell(const std::string& sheet, std::uint32_t row, std::uint32_t column) {
    request("cell", {QString::fromStdString(sheet), QString::number(row), QString::number(column)});
}

} // namespace gq
