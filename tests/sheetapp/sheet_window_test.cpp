#include "Error.h"
#include "SheetChannel.h"
#include "SheetWindowTesting.h"
#include "Spreadsheet.h"
#include "TestFiles.h"
#include "VisibleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>

namespace {

// Two sheets, the second with a name that needs encoding on the socket.
void WriteTwoSheets(const std::string& path) {
    gqtest::WriteXlsx(path, [](lxw_workbook* book) {
        lxw_worksheet* first = workbook_add_worksheet(book, "First");
        worksheet_write_string(first, 0, 0, "top left", nullptr);
        worksheet_write_number(first, 1, 1, 42, nullptr);
        lxw_worksheet* second = workbook_add_worksheet(book, "Sales 2024");
        worksheet_write_string(second, 6, 2, "C7 here", nullptr);
        worksheet_write_string(second, 999, 25, "far", nullptr);
    });
}

// One gridquest-sheet started by the test itself, ended with it.
class Window {
public:
    explicit Window(const QStringList& arguments) {
        socket_ = gq::channel::NewInstanceName();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(GQ_SHEET_PROGRAM, QStringList{"--listen", socket_} + arguments);
        client_ = std::make_unique<gq::channel::Client>(socket_);
        connected_ = process_.waitForStarted(10000) && client_->connect(20000, [this] {
            return process_.state() != QProcess::NotRunning;
        });
    }
    ~Window() {
        client_.reset();
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(5000);
            }
        }
    }

    bool connected() const { return connected_; }
    std::string request(const QByteArray& verb, const QStringList& arguments = {}) {
        return client_->request(verb, arguments, 30000);
    }
    QJsonObject state() {
        return QJsonDocument::fromJson(QByteArray::fromStdString(request("state"))).object();
    }
    std::string text(int row, int col) {
        auto answer = request("text", {QString::number(row), QString::number(col)});
        return QJsonDocument::fromJson(QByteArray::fromStdString(answer))["text"]
            .toString()
            .toStdString();
    }
    // The window's own end: its exit code, or -1 when it is still running after the wait.
    int finished(int timeoutMs = 10000) {
        if (!process_.waitForFinished(timeoutMs))
            return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -2;
    }
    bool running() const { return process_.state() != QProcess::NotRunning; }

private:
    QString socket_;
    QProcess process_;
    std::unique_ptr<gq::channel::Client> client_;
    bool connected_ = false;
};

std::string ErrorOf(Window& window, const QByteArray& verb, const QStringList& arguments) {
    try {
        window.request(verb, arguments);
    } catch (const gq::Error& e) {
        return e.what();
    }
    return "<no error>";
}

TEST(SheetWindow, OpensAtTheGivenSheetAndCellAndIsDrivenOverItsSocket) {
    gqtest::TempDir dir;
    const std::string path = dir.path("two sheets.xlsx");
    WriteTwoSheets(path);
    Window window({"--sheet", "Sales 2024", "--cell", "7,3", QString::fromStdString(path)});
    ASSERT_TRUE(window.connected());
    window.request("wait");

    QJsonObject state = window.state();
    EXPECT_EQ(state["title"].toString(), "two sheets.xlsx");
    EXPECT_EQ(state["file"].toString(), QString::fromStdString(path));
    EXPECT_EQ(state["sheets"].toArray(), (QJsonArray{"First", "Sales 2024"}));
    EXPECT_EQ(state["sheet"].toString(), "Sales 2024");
    EXPECT_EQ(state["row"].toInt(), 7);
    EXPECT_EQ(state["col"].toInt(), 3);
    EXPECT_TRUE(state["saved"].toBool());
    EXPECT_EQ(window.text(7, 3), "C7 here");
    EXPECT_EQ(window.text(1000, 26), "far");

    // What the search window forwards: the sheet, then the cell.
    window.request("sheet", {"First"});
    state = window.state();
    EXPECT_EQ(state["sheet"].toString(), "First");
    EXPECT_EQ(window.text(2, 2), "42");
    window.request("cell", {"Sales 2024", "1000", "26"});
    state = window.state();
    EXPECT_EQ(state["sheet"].toString(), "Sales 2024");
    EXPECT_EQ(state["row"].toInt(), 1000);
    EXPECT_EQ(state["col"].toInt(), 26);

    // A sheet no one has, and cells outside the sheet, are refused in plain words; the window
    // keeps its selection.
    EXPECT_EQ(ErrorOf(window, "sheet", {"Missing"}),
              "Subscript out of range: the workbook has no sheet named \"Missing\"");
    EXPECT_NE(ErrorOf(window, "cell", {"First", "0", "1"}).find("outside the sheet"),
              std::string::npos);
    EXPECT_NE(ErrorOf(window, "cell", {"First", "1", "16385"}).find("outside the sheet"),
              std::string::npos);
    EXPECT_NE(ErrorOf(window, "launch", {}).find("not known"), std::string::npos);
    EXPECT_EQ(window.state()["sheet"].toString(), "Sales 2024");

    // While it runs it holds the per-user name that the running-instance question asks.
    EXPECT_TRUE(gq::channel::AnswersApplicationName(gq::channel::WellKnownName(), 2000));
    window.request("discard");
    EXPECT_EQ(window.finished(), 0);
}

TEST(SheetWindow, AFileThatIsNoWorkbookEndsWithItsReason) {
    gqtest::TempDir dir;
    const std::string path = dir.path("not a book.xlsx");
    gqtest::WriteFile(path, std::string("PK\x03\x04 damaged", 12));
    QProcess process;
    process.start(GQ_SHEET_PROGRAM, {"--answers", "", QString::fromStdString(path)});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_NE(process.readAllStandardError().indexOf("not a book.xlsx"), -1);
}

// The engine's side: a workbook handed to a window of its own, driven through the object model.
class HandOver : public testing::Test {
protected:
    void TearDown() override { windows_.endAll(); }
    gq::ShownWorkbook& shownOf(gq::Workbook& book) {
        gq::ShownWorkbook* shown = book.shown();
        if (!shown)
            throw gq::Error("not shown");
        windows_.add(shown->processId(), shown->socketName());
        return *shown;
    }
    static QJsonObject State(gq::ShownWorkbook& shown) {
        return QJsonDocument::fromJson(QByteArray::fromStdString(shown.request("state"))).object();
    }
    gqtest::SheetWindows windows_;
};

TEST_F(HandOver, AnOpenedWorkbookFollowsTheSelections) {
    gqtest::TempDir dir;
    const std::string path = dir.path("book.xlsx");
    WriteTwoSheets(path);
    auto app = gq::SpreadsheetApplication::create();
    gq::Workbook& book = app->workbooks().open(path);
    app->setVisible(true);
    app->setUserControl(true);
    gq::ShownWorkbook& shown = shownOf(book);
    book.sheets("Sales 2024").select();
    book.sheets("Sales 2024").cells(7, 3).select();
    QJsonObject state = State(shown);
    EXPECT_EQ(state["title"].toString(), "book.xlsx");
    EXPECT_EQ(state["sheet"].toString(), "Sales 2024");
    EXPECT_EQ(state["row"].toInt(), 7);
    EXPECT_EQ(state["col"].toInt(), 3);
    // The window's own answer reaches the caller as the reason of its error.
    EXPECT_THROW(
        {
            try {
                shown.selectSheet("Gone");
            } catch (const gq::Error& e) {
                EXPECT_EQ(std::string(e.what()),
                          "Subscript out of range: the workbook has no sheet named \"Gone\"");
                throw;
            }
        },
        gq::Error);
    // The instance is left to the user: dropping it leaves the window running.
    const qint64 pid = shown.processId();
    app.reset();
    EXPECT_TRUE(gqtest::ProcessLives(pid));
}

TEST_F(HandOver, AWindowThatCannotShowTheFileSaysWhyToTheStarter) {
    gqtest::TempDir dir;
    const std::string path = dir.path("book.xlsx");
    WriteTwoSheets(path);
    auto app = gq::SpreadsheetApplication::create();
    app->workbooks().open(path);
    // Damaged after the engine opened it: only the window finds out.
    gqtest::WriteFile(path, std::string("PK\x03\x04 damaged", 12));
    try {
        app->setVisible(true);
        ADD_FAILURE() << "the hand-over succeeded";
    } catch (const gq::Error& e) {
        const std::string reason = e.what();
        EXPECT_NE(reason.find(path + ": "), std::string::npos) << reason;
        EXPECT_EQ(reason.find("did not start"), std::string::npos) << reason;
    }
}

TEST_F(HandOver, ANewWorkbookOpensUntitledAndSavesAsXlsxAndCsv) {
    auto app = gq::SpreadsheetApplication::create();
    gq::Workbook& book = app->workbooks().add();
    gq::Worksheet& sheet = book.activeSheet();
    sheet.cells(1, 1).setValue("File");
    sheet.cells(1, 2).setValue("Cell Text");
    sheet.cells(2, 1).setValue("/data/a rather long path/q1.xlsx");
    sheet.cells(2, 2).setValue("two\nlines, \"quoted\"");
    sheet.cells(3, 2).setValue("7");
    sheet.columns().autoFit();
    app->setVisible(true);
    gq::ShownWorkbook& shown = shownOf(book);
    shown.request("wait");

    QJsonObject state = State(shown);
    EXPECT_EQ(state["title"].toString(), "Book1");
    EXPECT_EQ(state["file"].toString(), "");
    EXPECT_FALSE(state["saved"].toBool());
    EXPECT_GT(state["widths"][0].toInt(), state["defaultWidth"].toInt());
    // The hand-over file was the window's to delete.
    const QString tmp = qEnvironmentVariable("TMPDIR");
    EXPECT_TRUE(QDir(tmp).entryList({"gridquest-book-*"}, QDir::Files | QDir::Hidden).isEmpty());

    gqtest::TempDir dir;
    const std::string xlsx = dir.path("saved.xlsx");
    shown.request("saveas", {QString::fromStdString(xlsx)});
    state = State(shown);
    EXPECT_TRUE(state["saved"].toBool());
    EXPECT_EQ(state["title"].toString(), "saved.xlsx");
    gq::Workbook back(xlsx);
    ASSERT_EQ(back.worksheets().size(), 1u);
    EXPECT_EQ(back.activeSheet().name(), "Sheet1");
    EXPECT_EQ(back.activeSheet().text(1, 2), "Cell Text");
    EXPECT_EQ(back.activeSheet().text(2, 1), "/data/a rather long path/q1.xlsx");
    EXPECT_EQ(back.activeSheet().text(2, 2), "two\nlines, \"quoted\"");
    EXPECT_EQ(back.activeSheet().text(3, 2), "7");

    const std::string csv = dir.path("saved.csv");
    shown.request("saveas", {QString::fromStdString(csv)});
    EXPECT_EQ(gqtest::ReadFile(csv),
              "File,Cell Text\r\n"
              "/data/a rather long path/q1.xlsx,\"two\nlines, \"\"quoted\"\"\"\r\n"
              ",7\r\n");
    EXPECT_NE(std::string([&] {
                  try {
                      shown.request("saveas", {QString::fromStdString(dir.path("x.pdf"))});
                  } catch (const gq::Error& e) {
                      return std::string(e.what());
                  }
                  return std::string();
              }())
                  .find(".xlsx or .csv"),
              std::string::npos);
}

TEST(SheetWindow, ClosingAnUnsavedWorkbookAsksFirst) {
    gqtest::TempDir dir;
    const std::string handOver = dir.path("handed.xlsx");
    const std::string target = dir.path("kept.xlsx");
    gqtest::WriteXlsx(handOver, [](lxw_workbook* book) {
        worksheet_write_string(workbook_add_worksheet(book, "Sheet1"), 0, 0, "kept text", nullptr);
    });
    // The answers: keep it open, then save it under `target`.
    Window window({"--take-over", "--answers", "cancel,save," + QString::fromStdString(target),
                   QString::fromStdString(handOver)});
    ASSERT_TRUE(window.connected());
    window.request("wait");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(handOver)));
    EXPECT_EQ(window.state()["title"].toString(), "Book1");

    EXPECT_EQ(ErrorOf(window, "close", {}), "The workbook was kept open");
    EXPECT_TRUE(window.running());
    window.request("close");
    EXPECT_EQ(window.finished(), 0);
    gq::Workbook back(target);
    EXPECT_EQ(back.activeSheet().text(1, 1), "kept text");
}

TEST(SheetWindow, ASavedWorkbookClosesWithoutAQuestion) {
    gqtest::TempDir dir;
    const std::string path = dir.path("plain.xlsx");
    WriteTwoSheets(path);
    // A question would take the only answer, "cancel", and keep the window open.
    Window window({"--answers", "cancel", QString::fromStdString(path)});
    ASSERT_TRUE(window.connected());
    window.request("close");
    EXPECT_EQ(window.finished(), 0);
}

} // namespace

namespace {

TEST(SheetWindow, SavesSheetsWhoseNamesTheFormatWouldRefuse) {
    gqtest::TempDir dir;
    const std::string csv = dir.path("quarterly figures: north [final] and more.csv");
    gqtest::WriteFile(csv, "a,b\r\n1,2\r\n");
    Window window({QString::fromStdString(csv)});
    ASSERT_TRUE(window.connected());
    const std::string saved = dir.path("copy.xlsx");
    window.request("saveas", {QString::fromStdString(saved)});
    gq::Workbook back(saved);
    const std::string name = back.activeSheet().name();
    EXPECT_LE(name.size(), 31u) << name;
    EXPECT_EQ(name.find_first_of("[]:*?/\\"), std::string::npos) << name;
    EXPECT_EQ(back.activeSheet().text(2, 2), "2");
    window.request("discard");
}

} // namespace

namespace {

TEST(HandOverFile, IsPrivateAndReadsBackAsTheSameTexts) {
    gqtest::TempDir dir;
    gq::Workbook book;
    book.activeSheet().cells(1, 1).setValue("secret");
    book.activeSheet().cells(2, 3).setValue("0042"); // text that a number would not show
    book.activeSheet().cells(3, 1).setValue("-2.5");
    const std::string path = dir.path("handed.xlsx");
    gq::Worksheet& sheet = book.activeSheet();
    gq::WriteHandOverWorkbook(
        {{sheet.name(),
          [&sheet](const gq::XlsxSheetSource::Visitor& visit) { sheet.forEachText(visit); },
          {}}},
        path);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    gq::Workbook back(path);
    EXPECT_EQ(back.activeSheet().text(1, 1), "secret");
    EXPECT_EQ(back.activeSheet().text(2, 3), "0042");
    EXPECT_EQ(back.activeSheet().text(3, 1), "-2.5");
    // Nothing is left beside it.
    EXPECT_EQ(QDir(QString::fromStdString(dir.path(""))).entryList(QDir::Files | QDir::Hidden),
              QStringList{"handed.xlsx"});
}

} // namespace
