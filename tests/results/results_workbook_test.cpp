#include "Error.h"
#include "ResultsWorkbook.h"
#include "SheetChannel.h"
#include "SheetWindowTesting.h"
#include "Spreadsheet.h"
#include "TestFiles.h"
#include "VisibleInstance.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using gq::ResultRow;

// Points the temporary folder (hand-over files, sockets) at a folder of this test alone, and
// ends the windows the test started.
class HandOverTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = qgetenv("TMPDIR");
        folder_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/XXXXXX");
        ASSERT_TRUE(folder_->isValid());
        qputenv("TMPDIR", folder_->path().toLocal8Bit());
    }
    void TearDown() override {
        windows_.endAll();
        qputenv("TMPDIR", saved_);
    }

    gq::ShownWorkbook& shown(gq::SpreadsheetApplication& app) {
        gq::ShownWorkbook* window = app.workbooks().item(1).shown();
        if (!window)
            throw gq::Error("the workbook was not shown");
        windows_.add(window->processId(), window->socketName());
        window->request("wait");
        return *window;
    }

    QStringList handOverFiles() const {
        return QDir(folder_->path()).entryList({"gridquest-book-*"}, QDir::Files | QDir::Hidden);
    }

    QByteArray saved_;
    std::unique_ptr<QTemporaryDir> folder_;
    gqtest::SheetWindows windows_;
};

struct Host {
    std::vector<int> reports;
    std::vector<bool> busy;
    int yields = 0;
    gq::WorkbookExportHost host() {
        return {[this] { ++yields; },
                [this](int line, const std::string&) { reports.push_back(line); },
                [this](bool on) { busy.push_back(on); }};
    }
};

std::string Text(gq::ShownWorkbook& window, int row, int col) {
    auto answer = window.request("text", {QString::number(row), QString::number(col)});
    return QJsonDocument::fromJson(QByteArray::fromStdString(answer))
        .object()["text"]
        .toString()
        .toStdString();
}

QJsonObject State(gq::ShownWorkbook& window) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(window.request("state"))).object();
}

TEST(WorkbookCellText, EqualsSignsLeaveEveryColumnButThePath) {
    EXPECT_EQ(gq::WorkbookCellText(0, "/data/a=b.xlsx"), "/data/a=b.xlsx");
    EXPECT_EQ(gq::WorkbookCellText(1, "S=1"), "S1");
    EXPECT_EQ(gq::WorkbookCellText(3, "=SUM(A1)=3"), "SUM(A1)3");
    EXPECT_EQ(gq::WorkbookCellText(3, "=="), "");
}

TEST(SaveResultsAsWorkbook, EmptyListDoesNothing) {
    std::vector<ResultRow> none;
    Host host;
    EXPECT_EQ(gq::SaveResultsAsWorkbook(gq::ResultRowsTable(none), host.host()), nullptr);
    EXPECT_TRUE(host.busy.empty());
    EXPECT_TRUE(host.reports.empty());
}

TEST(SaveResultsAsWorkbook, NoInstanceIsReportedOnce) {
    std::vector<ResultRow> rows(3, ResultRow{"/a", "S", "A1", "x", "1", "1"});
    Host host;
    gq::SpreadsheetApplication::failCreationForTesting(true);
    auto app = gq::SaveResultsAsWorkbook(gq::ResultRowsTable(rows), host.host());
    gq::SpreadsheetApplication::failCreationForTesting(false);
    EXPECT_EQ(app, nullptr);
    EXPECT_EQ(host.reports, std::vector<int>{108});
    EXPECT_EQ(host.busy, (std::vector<bool>{true, false}));
}

TEST_F(HandOverTest, RunWithLocationsFillsSixColumnsWithoutEqualsSigns) {
    std::vector<ResultRow> rows{
        {"/data/=q1.xlsx", "Sheet1", "B7", "=SUM(B1:B6)", "7", "2"},
        {"/data/b.xlsx", "Sales=2024", "AA10", "==", "10", "27"},
    };
    Host host;
    auto app = gq::SaveResultsAsWorkbook(gq::ResultRowsTable(rows), host.host());
    ASSERT_NE(app, nullptr);
    EXPECT_TRUE(host.reports.empty());
    EXPECT_EQ(host.busy, (std::vector<bool>{true, false}));
    EXPECT_EQ(host.yields, 6 + 2 * 7);
    gq::ShownWorkbook& window = shown(*app);

    const std::vector<std::vector<std::string>> expected{
        {"File", "Sheet", "Location", "Cell Text", "row", "col"},
        {"/data/=q1.xlsx", "Sheet1", "B7", "SUM(B1:B6)", "7", "2"},
        {"/data/b.xlsx", "Sales2024", "AA10", "", "10", "27"}, // "==" keeps its column, empty
    };
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(Text(window, r + 1, c + 1), expected[r][c]) << r << "," << c;

    QJsonObject state = State(window);
    EXPECT_EQ(state["title"].toString(), "Book1");
    EXPECT_EQ(state["file"].toString(), "");
    EXPECT_FALSE(state["saved"].toBool());
    // Fitted: the paths need more than a standard column, "row" less.
    const int standard = state["defaultWidth"].toInt();
    EXPECT_GT(state["widths"][0].toInt(), standard);
    EXPECT_LT(state["widths"][4].toInt(), standard);
    EXPECT_TRUE(handOverFiles().isEmpty()) << handOverFiles().join(' ').toStdString();

    // Saved from the window, the workbook reads back with the same texts.
    gqtest::TempDir dir;
    const std::string saved = dir.path("results.xlsx");
    window.request("saveas", {QString::fromStdString(saved)});
    gq::Workbook book(saved);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(book.activeSheet().text(r + 1, c + 1), expected[r][c]) << r << "," << c;
    state = State(window);
    EXPECT_TRUE(state["saved"].toBool());
    EXPECT_EQ(state["title"].toString(), "results.xlsx");
}

TEST_F(HandOverTest, HeaderFollowsTheFirstRowAndLaterRowsPack) {
    std::vector<ResultRow> rows{
        {"/a.xlsx", "Sheet1", "", "a whole exported line", "", ""},
        {"/b.xlsx", "S2", "C3", "hit", "3", "3"},
    };
    Host host;
    auto app = gq::SaveResultsAsWorkbook(gq::ResultRowsTable(rows), host.host());
    ASSERT_NE(app, nullptr);
    gq::ShownWorkbook& window = shown(*app);
    const std::vector<std::vector<std::string>> expected{
        {"File", "Sheet", "Cell Text", "", "", ""},
        {"/a.xlsx", "Sheet1", "a whole exported line", "", "", ""},
        {"/b.xlsx", "S2", "C3", "hit", "3", "3"},
    };
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(Text(window, r + 1, c + 1), expected[r][c]) << r << "," << c;
}

} // namespace
