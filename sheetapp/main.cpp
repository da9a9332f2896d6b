#include "SheetChannel.h"
#include "SheetPrompts.h"
#include "SheetWindow.h"
#include "Spreadsheet.h"
#include "VisibleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <memory>

namespace {

bool ParseCell(const QString& text, std::uint32_t& row, std::uint32_t& col) {
    const QStringList parts = text.split(',');
    if (parts.size() != 2)
        return false;
    bool rowOk = false, colOk = false;
    row = parts[0].trimmed().toUInt(&rowOk);
    col = parts[1].trimmed().toUInt(&colOk);
    return rowOk && colOk && row >= 1 && row <= gq::kSheetRows && col >= 1 &&
           col <= gq::kSheetColumns;
}

// "2:1-6": the second sheet's columns A to F.
bool ParseFit(const QString& text, gq::ColumnFit& fit) {
    static const QRegularExpression form(QStringLiteral("^(\\d+):(\\d+)-(\\d+)$"));
    const auto match = form.match(text);
    if (!match.hasMatch())
        return false;
    fit.sheet = match.captured(1).toInt() - 1;
    fit.first = match.captured(2).toUInt();
    fit.last = match.captured(3).toUInt();
    return fit.sheet >= 0 && fit.first >= 1 && fit.first <= fit.last;
}

// A window started by another program that cannot show its file tells that program why, over
// its instance socket, instead of holding up the starter with a message box of its own.
int AnswerFailure(const QString& listenName, const QString& reason) {
    gq::channel::Server server(
        [&](const gq::channel::Request&, gq::channel::Server::Answer answer) {
            answer(gq::channel::ErrorAnswer(reason));
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
        });
    if (!server.listen(listenName))
        return 1;
    // Nobody asking within the starter's own wait means nobody will.
    QTimer::singleShot(gq::ShownWorkbook::kStartTimeoutMs, qApp, [] { QCoreApplication::exit(1); });
    return QApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Gridquest Sheet"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows a workbook."));
    parser.addHelpOption();
    QCommandLineOption sheet(QStringLiteral("sheet"), QStringLiteral("The sheet to select."),
                             QStringLiteral("NAME"));
    QCommandLineOption cell(QStringLiteral("cell"), QStringLiteral("The cell to select."),
                            QStringLiteral("ROW,COL"));
    QCommandLineOption listen(QStringLiteral("listen"),
                              QStringLiteral("The local socket that drives this window."),
                              QStringLiteral("NAME"));
    QCommandLineOption takeOver(
        QStringLiteral("take-over"),
        QStringLiteral("FILE is a new workbook handed over: show it untitled, delete FILE."));
    QCommandLineOption autoFit(QStringLiteral("autofit"),
                               QStringLiteral("Fit columns FIRST to LAST of sheet INDEX."),
                               QStringLiteral("INDEX:FIRST-LAST"));
    QCommandLineOption answers(
        QStringLiteral("answers"),
        QStringLiteral("Answer the window's questions from this comma-separated list instead of "
                       "asking (save, dontsave, cancel, or a path to save as)."),
        QStringLiteral("LIST"));
    parser.addOptions({sheet, cell, listen, takeOver, autoFit, answers});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The workbook."));
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        std::fprintf(stderr, "%s\n", parser.helpText().toLocal8Bit().constData());
        return 2;
    }
    gq::SheetWindowOptions options;
    options.path = files.front();
    options.takeOver = parser.isSet(takeOver);
    options.sheet = parser.value(sheet);
    options.listenName = parser.value(listen);
    if (parser.isSet(cell) && !ParseCell(parser.value(cell), options.row, options.col)) {
        std::fprintf(stderr, "gridquest-sheet: --cell takes ROW,COL inside the sheet\n");
        return 2;
    }
    for (const QString& value : parser.values(autoFit)) {
        gq::ColumnFit fit;
        if (!ParseFit(value, fit)) {
            std::fprintf(stderr, "gridquest-sheet: --autofit takes INDEX:FIRST-LAST\n");
            return 2;
        }
        options.autoFit.push_back(fit);
    }
    // A window started for another program lives on its own: its own session, so that the
    // starter's terminal and its end take nothing with them.
    if (!options.listenName.isEmpty())
        ::setsid();

    gq::DialogSheetPrompts dialogs;
    std::unique_ptr<gq::ListedSheetPrompts> listed;
    if (parser.isSet(answers))
        listed = std::make_unique<gq::ListedSheetPrompts>(
            parser.value(answers).split(',', Qt::SkipEmptyParts));
    gq::SheetPrompts& prompts = listed ? static_cast<gq::SheetPrompts&>(*listed) : dialogs;
    gq::SheetWindow window(prompts);
    dialogs.setOwner(&window);
    try {
        window.open(options);
    } catch (const std::exception& e) {
        const QString reason = options.path + QStringLiteral(": ") + QString::fromUtf8(e.what());
        if (options.takeOver)
            QFile::remove(options.path);
        if (options.listenName.isEmpty()) {
            prompts.showError(reason);
            return 1;
        }
        return AnswerFailure(options.listenName, reason);
    }
    window.show();
    return app.exec();
}
