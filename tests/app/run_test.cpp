// The search run over real workbooks: its checks and messages, both search modes and both speed
// modes, progress, stop, failing files, the running-instance question. Closing mid-run ends the
// process and is tested on a child process (close_test).
#include "AppTestSupport.h"

#include "Controls.h"
#include "ErrorReport.h"
#include "FileList.h"
#include "ResultsModel.h"
#include "RunningInstance.h"
#include "SheetAutomation.h"
#include "TestFiles.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPushButton>
#include <QRadioButton>
#include <QSemaphore>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

using gqapptest::ResultTexts;
using gqapptest::SettingsSandbox;
using gqapptest::Window;

namespace {

// A stand-in for a running sheet window: listens on its own thread and answers the name query.
class SheetListener : public QThread {
public:
    SheetListener(QString name, QByteArray answer)
        : name_(std::move(name)), answer_(std::move(answer)) {
        start();
        ready_.acquire();
    }
    ~SheetListener() override {
        quit();
        wait();
    }

protected:
    void run() override {
        QLocalServer server;
        QLocalServer::removeServer(name_);
        server.listen(name_);
        QObject::connect(&server, &QLocalServer::newConnection, [&] {
            QLocalSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QLocalSocket::readyRead, [this, socket] {
                if (socket->canReadLine() && socket->readLine() == "name\n")
                    socket->write(answer_);
            });
        });
        ready_.release();
        exec();
    }

private:
    QString name_;
    QByteArray answer_;
    QSemaphore ready_;
};

// Calls `tick` at every event pass of a run (the window yields at every cell in tests).
class EveryPass {
public:
    explicit EveryPass(std::function<void()> tick) {
        QObject::connect(&timer_, &QTimer::timeout, std::move(tick));
        timer_.start(0);
    }

private:
    QTimer timer_;
};

} // namespace

class RunTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void checksBeforeTheRun();
    void runFindsEveryHitInListOrder_data();
    void runFindsEveryHitInListOrder();
    void progressShowsEachFileThenRests();
    void stopPressDuringASearchEndsTheRun();
    void filesSearchedAheadWithAnEarlierTermAreSearchedAgain();
    void fileThatCannotBeOpenedIsReportedOnce();
    void runningSheetWindowIsAskedAbout();
    void noSearchModeOpensEachFileAndFindsNothing();
    void theFileListHoldsStillDuringARun();
    void aShortenedListEndsTheRunQuietly();
    void aFolderScanEndingInARunLeavesTheHourglass();
    void everyPromptShowsTheRowsFoundSoFar();
    void clearResultsEmptiesTheList();

private:
    QString book(const char* name) const { return QString::fromStdString(dir_->path(name)); }
    static QString run(Window& window) {
        window.button("PushButton7")->click();
        return window.prompts.messageTexts().join(" / ");
    }

    std::unique_ptr<gqtest::TempDir> dir_;
    std::unique_ptr<SettingsSandbox> settings_;
};

void RunTest::init() {
    settings_ = std::make_unique<SettingsSandbox>();
    dir_ = std::make_unique<gqtest::TempDir>();
    gqtest::WriteXlsx(dir_->path("one.xlsx"), [](lxw_workbook* workbook) {
        lxw_worksheet* prices = workbook_add_worksheet(workbook, "Prices");
        worksheet_write_string(prices, 0, 0, "Tea leaves", nullptr);
        worksheet_write_string(prices, 0, 2, "Bread", nullptr);
        worksheet_write_number(prices, 1, 1, 42, nullptr);
        worksheet_write_string(prices, 2, 3, "green tea", nullptr);
        lxw_worksheet* notes = workbook_add_worksheet(workbook, "Notes");
        worksheet_write_string(notes, 6, 2, "TEA time", nullptr);
    });
    gqtest::WriteXlsx(dir_->path("two.xlsx"), [](lxw_workbook* workbook) {
        lxw_worksheet* data = workbook_add_worksheet(workbook, "Data");
        worksheet_write_string(data, 0, 0, "apple", nullptr);
        worksheet_write_string(data, 1, 0, "pear tea", nullptr);
    });
    gqtest::WriteXlsx(dir_->path("three.xlsx"), [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "S");
        for (int row = 0; row < 50; ++row)
            worksheet_write_string(sheet, row, 0, "more tea", nullptr);
    });
}

void RunTest::checksBeforeTheRun() {
    Window window;
    QVERIFY(window.load());
    auto* text1 = window.form->findChild<QLineEdit*>("Text1");
    window.form->results()->append({"kept.xlsx", "S", "A1", "kept", "1", "1"});
    window.form->results()->flush();

    // Single-term mode with spaces only: no run. A tab is text, though.
    text1->setText("   ");
    QCOMPARE(run(window), QString("You forgot to input search text"));
    QCOMPARE(window.button("PushButton7")->text(), QString("Start Searching"));
    window.prompts.clear();
    text1->setText("\t");
    QCOMPARE(run(window), QString("No files added."));
    window.prompts.clear();

    // Multi-term mode accepts an empty text; the empty list leaves the results alone.
    text1->clear();
    window.option(4)->click();
    QCOMPARE(run(window), QString("No files added."));
    QCOMPARE(window.form->results()->totalCount(), std::size_t{1});
    for (const auto& record : window.prompts.records) {
        QCOMPARE(record.message.title, QString("Gridquest"));
        QCOMPARE(record.message.icon, gq::MessageIcon::None);
    }
    QCOMPARE(window.form->mousePointer(), 0);
    QVERIFY(!window.form->runInProgress());
}

void RunTest::runFindsEveryHitInListOrder_data() {
    QTest::addColumn<bool>("multiple");
    QTest::addColumn<bool>("locations");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QStringList>("rows");
    QStringList withLocations{"Prices|A1|Tea leaves|1|1", "Prices|D3|green tea|3|4",
                              "Notes|C7|TEA time|7|3", "Data|A2|pear tea|2|1"};
    for (int row = 1; row <= 50; ++row)
        withLocations << QString("S|A%1|more tea|%1|1").arg(row);
    QTest::newRow("single, cells, ignore case") << false << true << false << withLocations;
    QStringList caseMatched = withLocations;
    caseMatched.removeAt(2);
    caseMatched.removeAt(0);
    QTest::newRow("single, cells, match case") << false << true << true << caseMatched;
    // "pear tea" matches two terms: one row each.
    QStringList terms{"Prices|A1|Tea leaves|1|1", "Prices|C1|Bread|1|3",  "Prices|D3|green tea|3|4",
                      "Notes|C7|TEA time|7|3",    "Data|A2|pear tea|2|1", "Data|A2|pear tea|2|1"};
    for (int row = 1; row <= 50; ++row)
        terms << QString("S|A%1|more tea|%1|1").arg(row);
    QTest::newRow("multiple, cells, ignore case") << true << true << false << terms;
    // A text line is the whole exported row, blank cells included.
    QStringList lines{"Prices||\t\t\tgreen tea||", "Data||pear tea||", "Data||pear tea||"};
    for (int row = 1; row <= 50; ++row)
        lines << "S||more tea||";
    QTest::newRow("multiple, text lines, match case") << true << false << true << lines;
}

void RunTest::runFindsEveryHitInListOrder() {
    QFETCH(bool, multiple);
    QFETCH(bool, locations);
    QFETCH(bool, matchCase);
    QFETCH(QStringList, rows);
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    for (const char* term : {"tea", "bread", "pear", "zzz"})
        window.form->findChild<QComboBox*>("Combo1")->addItem(term);
    if (multiple)
        window.option(4)->click();
    if (!locations)
        window.option(5)->click();
    if (matchCase)
        window.option(1)->click();
    window.addFiles({book("one.xlsx"), book("two.xlsx"), book("three.xlsx")});
    window.form->results()->append({"old.xlsx", "Old", "A1", "from before", "1", "1"});
    window.form->results()->flush();
    QCOMPARE(run(window), QString("Done."));
    QCOMPARE(ResultTexts(*window.form), rows);
    QCOMPARE(QString::fromStdString(window.form->results()->rowAt(0).file), book("one.xlsx"));
    QCOMPARE(window.button("PushButton7")->text(), QString("Start Searching"));
}

void RunTest::progressShowsEachFileThenRests() {
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    window.addFiles({book("one.xlsx"), book("two.xlsx"), book("three.xlsx")});
    QList<double> values;
    QStringList texts;
    QList<int> pointers;
    QStringList captions;
    EveryPass sample([&] {
        double value = window.form->progressBar()->exactValue();
        if (values.isEmpty() || values.back() != value)
            values << value;
        QString text = window.form->progressBar()->text();
        if (text.startsWith("Processing: ") && !texts.contains(text))
            texts << text;
        pointers << window.form->mousePointer();
        captions << window.button("PushButton7")->text();
    });
    QCOMPARE(run(window), QString("Done."));
    // The first pass comes before the first file is counted.
    QCOMPARE(values, (QList<double>{0.0, 1.0 / 3 * 100, 2.0 / 3 * 100, 100.0}));
    QVERIFY(texts.contains("Processing: one.xlsx"));
    QVERIFY(texts.contains("Processing: three.xlsx"));
    QVERIFY(!pointers.isEmpty());
    QVERIFY(std::all_of(pointers.begin(), pointers.end(), [](int p) { return p == 11; }));
    QVERIFY(std::all_of(captions.begin(), captions.end(),
                        [](const QString& c) { return c == "Stop Searching"; }));
    QCOMPARE(window.form->progressBar()->exactValue(), 0.0);
    QCOMPARE(window.form->progressBar()->text(), QString("Progress Bar"));
    QCOMPARE(window.form->mousePointer(), 0);
}

void RunTest::stopPressDuringASearchEndsTheRun() {
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    window.addFiles({book("three.xlsx"), book("one.xlsx"), book("two.xlsx")});
    bool pressed = false;
    QString captionAfterStop;
    EveryPass press([&] {
        // The press lands inside an event pass of the workbook search, after its tenth hit.
        if (pressed || window.form->results()->totalCount() < 10)
            return;
        pressed = true;
        window.button("PushButton7")->click();
        captionAfterStop = window.button("PushButton7")->text();
        // A start press while the stopped run winds down is ignored.
        window.button("PushButton7")->click();
    });
    QCOMPARE(run(window), QString());
    QVERIFY(pressed);
    QCOMPARE(captionAfterStop, QString("Start Searching"));
    QStringList got = ResultTexts(*window.form);
    QVERIFY(got.size() >= 10 && got.size() < 50);
    for (const QString& row : got)
        QVERIFY(row.startsWith("S|"));
    QCOMPARE(window.button("PushButton7")->text(), QString("Start Searching"));
    QCOMPARE(window.form->progressBar()->text(), QString("Progress Bar"));
    QCOMPARE(window.form->progressBar()->exactValue(), 0.0);
    QCOMPARE(window.form->mousePointer(), 0);
    QVERIFY(window.form->stopRequested());
    QVERIFY(!window.form->runInProgress());
    // The next press starts afresh.
    QCOMPARE(run(window), QString("Done."));
    QCOMPARE(ResultTexts(*window.form).size(), 54);
}

void RunTest::filesSearchedAheadWithAnEarlierTermAreSearchedAgain() {
    Window window;
    QVERIFY(window.load());
    auto* text1 = window.form->findChild<QLineEdit*>("Text1");
    text1->setText("tea");
    // two.xlsx is searched ahead for "tea" ("pear tea") while one.xlsx is searched here; the
    // term changes before its turn comes.
    window.addFiles({book("one.xlsx"), book("two.xlsx"), book("three.xlsx")});
    {
        EveryPass edit([&] {
            if (window.form->results()->totalCount() >= 1 && text1->text() == "tea")
                text1->setText("apple");
        });
        QCOMPARE(run(window), QString("Done."));
    }
    QStringList got = ResultTexts(*window.form);
    QCOMPARE(got.size(), 2);
    QVERIFY(got[0].startsWith("Prices|A1|Tea leaves"));
    QVERIFY(got[1].startsWith("Data|A1|apple"));

    // Unchanged, what was found ahead is what the file shows.
    text1->setText("tea");
    QCOMPARE(run(window), QString("Done. / Done."));
    QCOMPARE(ResultTexts(*window.form).size(), 3 + 1 + 50);
}

void RunTest::fileThatCannotBeOpenedIsReportedOnce() {
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    gqtest::WriteFile(dir_->path("garbage.xlsx"), std::string("\x01\x02\x00\xff binary", 10));
    window.addFiles({book("missing.xlsx"), book("two.xlsx"), book("garbage.xlsx")});
    window.button("PushButton7")->click();
    QString location = gq::LocationText("Form1", "PushButton7_Click");
    QCOMPARE(
        window.prompts.messageTexts(),
        (QStringList{
            gq::ErrorReportText(location, 154, book("missing.xlsx") + ": The file does not exist"),
            gq::ErrorReportText(
                location, 154, book("garbage.xlsx") + ": The file is damaged or is not a workbook"),
            "Done."}));
    QCOMPARE(window.prompts.records.front().message.title, QString("Application Error"));
    QCOMPARE(ResultTexts(*window.form), QStringList{"Data|A2|pear tea|2|1"});
}

void RunTest::runningSheetWindowIsAskedAbout() {
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    window.addFiles({book("two.xlsx")});
    window.form->results()->append({"kept.xlsx", "S", "A1", "kept", "1", "1"});
    window.form->results()->flush();

    QVERIFY(!gq::ExcelIsRunning(window.socketName));
    {
        SheetListener other(window.socketName, "Another Program\n");
        QVERIFY(!gq::ExcelIsRunning(window.socketName));
    }
    SheetListener sheet(window.socketName, QByteArray(gq::kSheetApplicationName) + '\n');
    QVERIFY(gq::ExcelIsRunning(window.socketName));

    window.prompts.answers = {gq::Answer::No};
    window.button("PushButton7")->click();
    QCOMPARE(window.prompts.messageTexts(),
             QStringList{"Excel may be open. It is recommended that you close Excel first.\rUse "
                         "Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\nWould you "
                         "like to proceed anyway?"});
    const gq::Message& question = window.prompts.records.front().message;
    QCOMPARE(question.buttons, gq::MessageButtons::YesNo);
    QCOMPARE(question.defaultButton, gq::Answer::Yes);
    QCOMPARE(question.title, QString("Gridquest"));
    QCOMPARE(question.icon, gq::MessageIcon::None);
    QCOMPARE(ResultTexts(*window.form), QStringList{"S|A1|kept|1|1"});
    QCOMPARE(window.button("PushButton7")->text(), QString("Start Searching"));

    window.prompts.clear();
    window.prompts.answers = {gq::Answer::Yes};
    window.button("PushButton7")->click();
    QCOMPARE(window.prompts.messageTexts().size(), 2);
    QCOMPARE(window.prompts.messageTexts().back(), QString("Done."));
    QCOMPARE(ResultTexts(*window.form), QStringList{"Data|A2|pear tea|2|1"});

    // With an empty list the question still comes first.
    window.form->fileList()->clear();
    window.prompts.clear();
    window.button("PushButton7")->click();
    QCOMPARE(window.prompts.messageTexts().size(), 2);
    QCOMPARE(window.prompts.messageTexts().back(), QString("No files added."));
}

void RunTest::noSearchModeOpensEachFileAndFindsNothing() {
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    gq::SetOptionValue(window.option(3), false);
    window.addFiles({book("one.xlsx"), book("two.xlsx")});
    QCOMPARE(run(window), QString("Done."));
    QVERIFY(ResultTexts(*window.form).isEmpty());
}

void RunTest::theFileListHoldsStillDuringARun() {
    gqapptest::ShownWindow window;
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    const QStringList files{book("three.xlsx"), book("one.xlsx"), book("two.xlsx"),
                            book("one.xlsx")};
    window.addFiles(files);
    gq::FileList& list = window.list();
    int pointerOverStop = -1;
    bool tried = false;
    EveryPass attempt([&] {
        if (tried || window.form->results()->totalCount() < 5)
            return;
        tried = true;
        // Over the stop button the pointer is the hand, as ever; the run is no less busy.
        gqapptest::MoveOver(window.button("PushButton7"));
        pointerOverStop = window.form->mousePointer();
        list.setCurrentItem(list.topLevelItem(1));
        window.key(Qt::Key_Delete);
        QTest::mouseDClick(window.viewport(), Qt::LeftButton, {}, window.rowCentre(2));
        window.button("PushButton5")->click();
        QTest::mousePress(window.viewport(), Qt::LeftButton, {}, window.rowCentre(1));
        gqapptest::DragTo(window.viewport(), window.rowCentre(3));
        QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, window.rowCentre(3));
    });
    QCOMPARE(run(window), QString("Done."));
    QVERIFY(tried);
    QCOMPARE(pointerOverStop, 99);
    QCOMPARE(list.entryTexts(), files);
    QCOMPARE(ResultTexts(*window.form).size(), 50 + 3 + 1 + 3);
    // Idle again, the same actions work.
    QTest::mouseDClick(window.viewport(), Qt::LeftButton, {}, window.rowCentre(2));
    QCOMPARE(list.entryCount(), 3);
    window.button("PushButton5")->click();
    QCOMPARE(list.entryCount(), 0);
}

void RunTest::aShortenedListEndsTheRunQuietly() {
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    window.addFiles({book("two.xlsx"), book("one.xlsx"), book("three.xlsx"), book("one.xlsx")});
    gq::FileList& list = *window.form->fileList();
    EveryPass shorten([&] {
        // Nothing the user can do removes entries mid-run; the run copes all the same.
        if (window.form->results()->totalCount() >= 1 && list.entryCount() == 4) {
            delete list.takeTopLevelItem(3);
            delete list.takeTopLevelItem(2);
        }
    });
    QCOMPARE(run(window), QString("Done."));
    QCOMPARE(ResultTexts(*window.form),
             (QStringList{"Data|A2|pear tea|2|1", "Prices|A1|Tea leaves|1|1",
                          "Prices|D3|green tea|3|4", "Notes|C7|TEA time|7|3"}));
    QCOMPARE(window.form->progressBar()->text(), QString("Progress Bar"));
}

void RunTest::aFolderScanEndingInARunLeavesTheHourglass() {
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    window.addFiles({book("three.xlsx"), book("two.xlsx")});
    gqtest::TempDir folder;
    gqtest::WriteFile(folder.path("scanned.xlsx"), "x");
    window.prompts.inputs = {"xlsx"};
    window.prompts.folders = {QString::fromStdString(folder.path(""))};
    int pointerAfterScan = -1;
    bool busyAfterScan = false;
    EveryPass scan([&] {
        if (pointerAfterScan >= 0 || window.form->results()->totalCount() < 5)
            return;
        window.button("PushButton6")->click();
        pointerAfterScan = window.form->mousePointer();
        busyAfterScan = window.form->busy();
    });
    QCOMPARE(run(window), QString("Done."));
    QCOMPARE(pointerAfterScan, 11);
    QVERIFY(busyAfterScan); // the run still is
    QCOMPARE(window.form->fileList()->entryCount(), 3);
    // The run read its number of files when it started: the scanned one is not searched.
    QCOMPARE(ResultTexts(*window.form).size(), 51);
    QCOMPARE(window.form->mousePointer(), 0);
    QVERIFY(!window.form->busy());
}

void RunTest::everyPromptShowsTheRowsFoundSoFar() {
    Window window;
    QVERIFY(window.load());
    // The second term cannot be compiled: its report comes while the first term's row for the
    // same cell is new.
    for (const char* term : {"tea", "[bad"})
        window.form->findChild<QComboBox*>("Combo1")->addItem(term);
    window.option(4)->click();
    window.addFiles({book("one.xlsx")});
    QStringList shownWhenAsked;
    window.prompts.whileOpen = [&](const gq::ScriptedPrompts::Record&) {
        shownWhenAsked << QString("%1 of %2")
                              .arg(window.form->results()->rowCount())
                              .arg(window.form->results()->totalCount());
    };
    window.button("PushButton7")->click();
    QStringList messages = window.prompts.messageTexts();
    QCOMPARE(messages.size(), 2);
    QVERIFY(messages[0].startsWith("Invalid pattern string\r\n"));
    QCOMPARE(shownWhenAsked, (QStringList{"1 of 1", "3 of 3"}));
}

void RunTest::clearResultsEmptiesTheList() {
    Window window;
    QVERIFY(window.load());
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    window.addFiles({book("two.xlsx")});
    QCOMPARE(run(window), QString("Done."));
    QCOMPARE(window.form->results()->rowCount(), 1);
    window.button("PushButton2")->click();
    QCOMPARE(window.form->results()->rowCount(), 0);
    QCOMPARE(window.form->fileList()->topLevelItemCount(), 1);
    window.button("PushButton2")->click();
    QCOMPARE(window.prompts.messageTexts(), QStringList{"Done."});
}

GQ_APP_TEST_MAIN(RunTest)
#include "run_test.moc"
