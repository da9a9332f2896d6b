// The four result buttons of the main window with scripted prompts: opening a hit in a real sheet
// window, the clipboard copy, the text file and the result workbook.
#include "AppTestSupport.h"

#include "Controls.h"
#include "Error.h"
#include "ErrorReport.h"
#include "ResultActions.h"
#include "ResultsModel.h"
#include "SheetChannel.h"
#include "SheetWindowTesting.h"
#include "TestFiles.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTableView>

#include <sys/stat.h>

using gqapptest::SettingsSandbox;
using gqapptest::Window;

namespace {

// The sheet windows the buttons started; every one is ended before the next test.
struct HandedOver {
    struct Shown {
        qint64 pid;
        QString socket;
    };
    std::vector<Shown> windows;
    gqtest::SheetWindows ended; // ends them after the observer is gone

    HandedOver() {
        gq::ObserveHandOvers([this](qint64 pid, const QString& socket) {
            windows.push_back({pid, socket});
            ended.add(pid, socket);
        });
    }
    ~HandedOver() { gq::ObserveHandOvers({}); }

    QJsonObject state(std::size_t index, const QByteArray& verb = "state",
                      const QStringList& arguments = {}) const {
        gq::channel::Client client(windows.at(index).socket);
        if (!client.connect(5000))
            return {};
        client.request("wait", {}, 30000);
        return QJsonDocument::fromJson(
                   QByteArray::fromStdString(client.request(verb, arguments, 30000)))
            .object();
    }
};

QString Report(const char* routine, int line, const QString& description) {
    return gq::ErrorReportText(gq::LocationText("Form1", routine), line, description);
}

} // namespace

class ResultActionsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void openWithAndWithoutLocation();
    void openFailuresAreReportedOnceAtTheirSteps_data();
    void openFailuresAreReportedOnceAtTheirSteps();
    void openDoesNothingOnAnEmptyList();
    void copyPutsTheAlignedTextOnTheClipboard();
    void saveTextFileAsksAndWrites();
    void saveTextFileCancelledOrFailing();
    void saveWorkbookHandsTheResultsToANewWindow();

private:
    static void fill(Window& window, const std::vector<gq::ResultRow>& rows) {
        for (const gq::ResultRow& row : rows)
            window.form->results()->append(row);
        window.form->results()->flush();
    }
    static void select(Window& window, int row) {
        QTableView* view = window.form->resultsView();
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::ClearAndSelect |
                                           QItemSelectionModel::Rows);
    }

    std::string book_;
    std::unique_ptr<gqtest::TempDir> dir_;
    std::unique_ptr<SettingsSandbox> settings_;
};

void ResultActionsTest::init() {
    settings_ = std::make_unique<SettingsSandbox>();
    dir_ = std::make_unique<gqtest::TempDir>();
    book_ = dir_->path("hits.xlsx");
    gqtest::WriteXlsx(book_, [](lxw_workbook* workbook) {
        worksheet_write_string(workbook_add_worksheet(workbook, "Prices"), 0, 0, "tea", nullptr);
        lxw_worksheet* notes = workbook_add_worksheet(workbook, "Notes 2");
        worksheet_write_string(notes, 6, 2, "TEA time", nullptr);
    });
}

void ResultActionsTest::openWithAndWithoutLocation() {
    Window window;
    QVERIFY(window.load());
    HandedOver shown;
    fill(window, {{book_, "Notes 2", "C7", "TEA time", "7", "3"},
                  {book_, "Notes 2", "", "TEA time", "", ""}});
    select(window, 0);
    window.button("PushButton3")->click();
    select(window, 1);
    window.button("PushButton3")->click();
    QCOMPARE(window.prompts.messageTexts(), QStringList());
    // Every press starts a window of its own.
    QCOMPARE(shown.windows.size(), std::size_t{2});
    QVERIFY(shown.windows[0].pid != shown.windows[1].pid);

    QJsonObject at = shown.state(0);
    QCOMPARE(at["title"].toString(), QString("hits.xlsx"));
    QCOMPARE(at["sheet"].toString(), QString("Notes 2"));
    QCOMPARE(at["row"].toInt(), 7);
    QCOMPARE(at["col"].toInt(), 3);
    // Without a location the sheet is selected and the cell is where the workbook left it.
    at = shown.state(1);
    QCOMPARE(at["sheet"].toString(), QString("Notes 2"));
    QCOMPARE(at["row"].toInt(), 1);
    QCOMPARE(at["col"].toInt(), 1);
    QCOMPARE(window.form->mousePointer(), 0);
}

void ResultActionsTest::openFailuresAreReportedOnceAtTheirSteps_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("row");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("windows");
    QTest::newRow("file gone") << "gone.xlsx"
                               << "Prices"
                               << "1" << true << 102 << 0;
    QTest::newRow("no row selected") << ""
                                     << "Prices"
                                     << "1" << false << 102 << 0;
    QTest::newRow("sheet renamed") << ""
                                   << "Renamed"
                                   << "1" << true << 110 << 1;
    QTest::newRow("row not a number") << ""
                                      << "Prices"
                                      << "x7" << true << 116 << 1;
}

void ResultActionsTest::openFailuresAreReportedOnceAtTheirSteps() {
    QFETCH(QString, file);
    QFETCH(QString, sheet);
    QFETCH(QString, row);
    QFETCH(bool, selected);
    QFETCH(int, line);
    QFETCH(int, windows);
    Window window;
    QVERIFY(window.load());
    HandedOver shown;
    const std::string path = file.isEmpty() ? book_ : dir_->path(file.toStdString());
    fill(window, {{path, sheet.toStdString(), "A1", "tea", row.toStdString(), "1"}});
    if (selected)
        select(window, 0);
    window.button("PushButton3")->click();
    QCOMPARE(window.prompts.records.size(), std::size_t{1});
    const gq::Message& report = window.prompts.records.front().message;
    QCOMPARE(report.title, QString("Application Error"));
    QCOMPARE(report.icon, gq::MessageIcon::Exclamation);
    QVERIFY2(report.text.contains(
                 QStringLiteral("in Findwell2021/08/31.Form1.PushButton3_Click at line %1\r\r")
                     .arg(line)),
             qPrintable(report.text));
    if (!file.isEmpty())
        QVERIFY(report.text.startsWith(QString::fromStdString(path)));
    QCOMPARE(static_cast<int>(shown.windows.size()), windows);
    if (line == 110)
        QCOMPARE(report.text,
                 Report("PushButton3_Click", 110,
                        "Subscript out of range: the workbook has no sheet named \"Renamed\""));
}

void ResultActionsTest::openDoesNothingOnAnEmptyList() {
    Window window;
    QVERIFY(window.load());
    HandedOver shown;
    window.button("PushButton3")->click();
    window.button("PushButton13")->click();
    QVERIFY(window.prompts.records.empty());
    QVERIFY(shown.windows.empty());
    QCOMPARE(window.form->mousePointer(), 0);
}

void ResultActionsTest::copyPutsTheAlignedTextOnTheClipboard() {
    Window window;
    QVERIFY(window.load());
    const QString message = "Results have been copied to the clipboard.\r\rClick a text area "
                            "where you normally type and press Ctrl+V to paste the clipboard.";
    // An empty list leaves the clipboard alone, and the message comes all the same.
    QGuiApplication::clipboard()->setText("earlier");
    window.button("PushButton8")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("earlier"));
    QCOMPARE(window.prompts.messageTexts(), QStringList{message});
    QCOMPARE(window.prompts.records.front().message.title, window.form->applicationTitle());
    QCOMPARE(window.prompts.records.front().message.icon, gq::MessageIcon::None);

    window.prompts.clear();
    fill(window, {{"C:\\a.xlsx", "Sheet1", "B7", "Total", "7", "2"},
                  {"C:\\data\\b.xlsx", "S2", "AA10", "x", "10", "27"}});
    window.button("PushButton8")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QString("C:\\a.xlsx     \tSheet1\tB7  \tTotal\t7 \t2\r\n"
                     "C:\\data\\b.xlsx\tS2    \tAA10\tx    \t10\t27\r\n"));
    QCOMPARE(window.prompts.messageTexts(), QStringList{message});
}

void ResultActionsTest::saveTextFileAsksAndWrites() {
    Window window;
    QVERIFY(window.load());
    fill(window, {{"C:\\Data\\q1.xlsx", "Sheet1", "B7", "Total sales", "7", "2"}});
    const std::string path = dir_->path("results.txt");
    gqtest::WriteFile(path, std::string(5000, 'z')); // replaced without a question
    window.prompts.savePaths.push_back(QString::fromStdString(path));
    std::vector<double> positions;
    QStringList captions;
    auto* bar = window.form->progressBar();
    connect(bar, &QProgressBar::valueChanged, this, [&] {
        positions.push_back(bar->exactValue());
        captions << bar->text();
    });
    window.button("PushButton4")->click();

    QCOMPARE(window.prompts.records.size(), std::size_t{1});
    const gq::FileDialogRequest& request = window.prompts.records.front().request;
    QCOMPARE(window.prompts.records.front().kind, gq::ScriptedPrompts::Kind::SaveFile);
    QCOMPARE(request.title, QString("Save"));
    QCOMPARE(request.filter, QString("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
    QCOMPARE(request.fileName, QString());
    QCOMPARE(gqtest::ReadFile(path),
             std::string("File           \tSheet \tLocation\tCell Text  \trow\tcol\t\r\n"
                         "C:\\Data\\q1.xlsx\tSheet1\tB7      \tTotal sales\t7  \t2  \t\r\n"));
    QVERIFY(!positions.empty());
    QCOMPARE(positions.back(), 0.0);
    QVERIFY(captions.contains("Writing file: results.txt"));
    QCOMPARE(bar->text(), QString("Progress Bar"));
    QCOMPARE(window.form->mousePointer(), 0);
}

void ResultActionsTest::saveTextFileCancelledOrFailing() {
    Window window;
    QVERIFY(window.load());
    fill(window, {{"/a.xlsx", "S", "A1", "x", "1", "1"}});
    // Cancelled: nothing written, nothing else asked.
    window.button("PushButton4")->click();
    QCOMPARE(window.prompts.records.size(), std::size_t{1});
    QCOMPARE(window.form->progressBar()->text(), QString("Progress Bar"));

    // A folder that cannot hold the file: one report from the writer, then the bar rests.
    window.prompts.clear();
    const std::string blocker = dir_->path("blocker");
    gqtest::WriteFile(blocker, "a file, not a folder");
    window.prompts.savePaths.push_back(QString::fromStdString(blocker + "/out.txt"));
    window.button("PushButton4")->click();
    const QStringList texts = window.prompts.messageTexts();
    QCOMPARE(texts.size(), 1);
    QVERIFY2(texts.front().contains(
                 "in Findwell2021/08/31.Excel1.SaveListviewProperlySpaced at line 156"),
             qPrintable(texts.front()));
    QCOMPARE(window.form->progressBar()->text(), QString("Progress Bar"));
    QCOMPARE(window.form->mousePointer(), 0);
}

void ResultActionsTest::saveWorkbookHandsTheResultsToANewWindow() {
    Window window;
    QVERIFY(window.load());
    HandedOver shown;
    fill(window, {{"/data/=q1.xlsx", "Sheet1", "", "=SUM(B1:B6)", "", ""},
                  {"/data/b.xlsx", "S2", "C3", "hit", "3", "3"}});
    window.button("PushButton13")->click();
    QCOMPARE(window.prompts.messageTexts(), QStringList());
    QCOMPARE(window.form->mousePointer(), 0);
    QCOMPARE(shown.windows.size(), std::size_t{1});

    QJsonObject state = shown.state(0);
    QCOMPARE(state["title"].toString(), QString("Book1"));
    QVERIFY(!state["saved"].toBool());
    const QStringList expected[] = {{"File", "Sheet", "Cell Text", "", "", ""},
                                    {"/data/=q1.xlsx", "Sheet1", "SUM(B1:B6)", "", "", ""},
                                    {"/data/b.xlsx", "S2", "C3", "hit", "3", "3"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 6; ++c)
            QCOMPARE(
                shown.state(0, "text", {QString::number(r + 1), QString::number(c + 1)})["text"]
                    .toString(),
                expected[r][c]);
}

int main(int argc, char** argv) {
    gqapptest::IsolateUserFolders();
    // Sheet windows put their sockets and hand-over files under the temporary folder: one of
    // this test's own.
    static QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    QApplication application(argc, argv);
    ResultActionsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "result_actions_test.moc"
