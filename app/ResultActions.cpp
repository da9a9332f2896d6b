#include "ResultActions.h"

#include "AlignedText.h"
#include "Controls.h"
#include "Error.h"
#include "Form1.h"
#include "ResultsModel.h"
#include "ResultsWorkbook.h"
#include "SheetAutomation.h"
#include "Spreadsheet.h"
#include "VisibleInstance.h"

#include <QItemSelectionModel>
#include <QTableView>

#include <memory>

namespace gq {

namespace {

HandOverObserver& Observer() {
    static HandOverObserver observer;
    return observer;
}

void TellHandOvers(SpreadsheetApplication& app) {
    if (!Observer())
        return;
    for (int i = 1; i <= app.workbooks().count(); ++i)
        if (const ShownWorkbook* shown = app.workbooks().item(i).shown())
            Observer()(shown->processId(), shown->socketName());
}

// The writer's progress on the window's bar.
class BarProgress : public ProgressDisplay {
public:
    explicit BarProgress(ProgressBar& bar) : bar_(bar) {}
    void setValue(double value) override { bar_.setExactValue(value); }
    void setText(const std::string& text) override { bar_.setText(QString::fromStdString(text)); }

private:
    ProgressBar& bar_;
};

// A cell number of a result row: a whole number of the sheet, or a plain-words failure.
std::uint32_t CellNumber(const std::string& text, std::uint32_t limit) {
    bool ok = false;
    const int value = QString::fromStdString(text).trimmed().toInt(&ok);
    if (!ok)
        throw Error("Type mismatch: \"" + text + "\" is not a number");
    if (value < 1 || static_cast<std::uint32_t>(value) > limit)
        throw Error("The cell lies outside the sheet");
    return static_cast<std::uint32_t>(value);
}

} // namespace

std::size_t ResultsListTable::rowCount() const {
    return static_cast<std::size_t>(model_.rowCount());
}

int ResultsListTable::columnCount() const {
    return model_.columnCount();
}

std::string ResultsListTable::header(int column) const {
    const QStringList& headers = ResultsModel::headers();
    if (column < 0 || column >= headers.size())
        throw Error("The list has no column " + std::to_string(column + 1));
    return headers[column].toStdString();
}

std::string_view ResultsListTable::text(std::size_t row, int column) const {
    // Rows the view no longer shows (the list was cleared meanwhile) are gone.
    if (row >= rowCount())
        throw Error("The row is no longer in the list");
    if (!cached_ || cachedIndex_ != row) {
        row_ = model_.rowAt(row);
        cachedIndex_ = row;
        cached_ = true;
    }
    return ResultColumn(row_, column);
}

void ObserveHandOvers(HandOverObserver observer) {
    Observer() = std::move(observer);
}

void OpenSelectedFile(Form1& form) {
    Steps steps = form.stepsOf(QStringLiteral("PushButton3_Click"));
    ResultsModel& results = *form.results();
    bool any = false;
    steps.run(100, [&] { any = results.rowCount() > 0; });
    if (!any)
        return;
    ResultRow row;
    std::unique_ptr<SpreadsheetApplication> app;
    // Each step needs the one before it that made its object: a failure is reported once and
    // the steps that depend on it are left out.
    const bool opened = steps.run(102, [&] {
        // Any selected cell names its row, however the selection was made.
        const QModelIndexList selected = form.resultsView()->selectionModel()->selectedIndexes();
        if (selected.isEmpty())
            throw Error("No result is selected");
        row = results.rowAt(static_cast<std::size_t>(selected.front().row()));
        app = OpenWorkbookInExcel(row.file);
    });
    steps.run(104, opened, [&] {
        app->setVisible(true);
        TellHandOvers(*app);
    });
    steps.run(106, opened, [&] { app->setUserControl(true); });
    Workbook* book = nullptr;
    const bool found =
        steps.run(108, opened, [&] { book = &app->workbooks().item(app->workbooks().count()); });
    Worksheet* sheet = nullptr;
    const bool named = steps.run(110, found, [&] { sheet = &book->sheets(row.sheet); });
    steps.run(112, named, [&] { sheet->select(); });
    if (!opened || row.row.empty() || row.col.empty())
        return;
    steps.run(116, named, [&] {
        sheet->cells(CellNumber(row.row, kSheetRows), CellNumber(row.col, kSheetColumns)).select();
    });
}

void CopyResultsToClipboard(Form1& form) {
    Steps steps = form.stepsOf(QStringLiteral("PushButton8_Click"));
    steps.run(106, [&] {
        SystemClipboard clipboard;
        CopyListviewToClipboard(ResultsListTable(*form.results()), clipboard,
                                [&] { form.yieldToEvents(); });
    });
    steps.run(108, [&] { form.say(QString::fromLatin1(kCopiedMessage)); });
}

void SaveResultsAsTextFile(Form1& form) {
    Steps steps = form.stepsOf(QStringLiteral("PushButton4_Click"));
    FileDialogRequest request;
    steps.run(106, [&] { request.fileName.clear(); });
    steps.run(108, [&] { request.title = QString::fromLatin1(kTextFileDialogTitle); });
    steps.run(110, [&] { request.filter = QString::fromLatin1(kTextFileFilter); });
    QString chosen;
    steps.run(112, [&] { chosen = form.prompts().saveFile(request); });
    QString fileName;
    steps.run(114, [&] { fileName = chosen; });
    if (fileName.isEmpty())
        return;
    steps.run(118, [&] { form.setMousePointer(kPointerBusy); });
    steps.run(120, [&] {
        BarProgress progress(*form.progressBar());
        const QString location = LocationText(QString::fromLatin1(kTextFileModule),
                                              QString::fromLatin1(kTextFileRoutine));
        SaveListviewProperlySpaced(
            ResultsListTable(*form.results()), fileName.toStdString(), &progress,
            [&] { form.yieldToEvents(); },
            [&](int line, const std::string& description) {
                form.showErrorReport(location, line, QString::fromStdString(description));
            });
    });
    steps.run(122, [&] { form.showRestingPointer(); });
}

void SaveResultsAsExcelFile(Form1& form) {
    Steps steps = form.stepsOf(QStringLiteral("PushButton13_Click"));
    WorkbookExportHost host;
    host.yield = [&] { form.yieldToEvents(); };
    host.report = [&](int line, const std::string& description) {
        form.showErrorReport(steps.location(), line, QString::fromStdString(description));
    };
    host.setBusy = [&](bool busy) {
        if (busy)
            form.setMousePointer(kPointerBusy);
        else
            form.showRestingPointer();
    };
    std::unique_ptr<SpreadsheetApplication> app;
    steps.run(106, [&] { app = SaveResultsAsWorkbook(ResultsListTable(*form.results()), host); });
    if (app)
        TellHandOvers(*app);
    // The window lives on with the user; this side lets go of it here.
}

} // namespace gq
