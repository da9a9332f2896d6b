// The results list's model: rows reach the view in batches and come back as they went in.
#include "AppTestSupport.h"

#include "ResultActions.h"
#include "ResultsModel.h"

#include <QSignalSpy>

class ResultsModelTest : public QObject {
    Q_OBJECT
private slots:
    void rowsReachTheViewOnlyAtAFlush();
    void rowsComeBackUnchanged();
    void tabsShowAsSpacesButStayInTheRows();
};

void ResultsModelTest::rowsReachTheViewOnlyAtAFlush() {
    gq::ResultsModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 100000; ++i)
        model.append({"/data/book.xlsx", "Sheet1", "A1", "text", "1", "1"});
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.pendingCount(), std::size_t{100000});
    model.flush();
    model.flush(); // nothing new: no insertion
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.front().at(1).toInt(), 0);
    QCOMPARE(inserted.front().at(2).toInt(), 99999);
    model.append({"/data/other.xlsx", "Sheet2", "", "line", "", ""});
    model.flush();
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.back().at(1).toInt(), 100000);
    QCOMPARE(model.rowCount(), 100001);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.totalCount(), std::size_t{0});
}

void ResultsModelTest::rowsComeBackUnchanged() {
    gq::ResultsModel model;
    // Longer than a storage block, empty columns, text that is not ASCII, numbers that are not
    // the usual texts of a location, names met again.
    std::string huge(5 << 20, 'x');
    huge.back() = 'y';
    const gq::ResultRow rows[] = {
        {"/a.xlsx", "S1", "B7", "caf\xc3\xa9 \xe2\x82\xac", "7", "2"},
        {"/b.xlsx", "S1", "", huge, "", ""},
        {"/a.xlsx", "S2", "XFD1048576", "", "1048576", "16384"},
        {"/c.xlsx", "S1", "C7", "texts kept as given", "07", "3"},
        {"/c.xlsx", "S1", "", "", "", "4"},
        {"/a.xlsx", "S1", "A1", "last", "1", "1"},
    };
    for (const auto& row : rows)
        model.append(row);
    model.flush();
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        gq::ResultRow back = model.rowAt(i);
        QCOMPARE(back.file, rows[i].file);
        QCOMPARE(back.sheet, rows[i].sheet);
        QCOMPARE(back.location, rows[i].location);
        QVERIFY(back.cellText == rows[i].cellText);
        QCOMPARE(back.row, rows[i].row);
        QCOMPARE(back.col, rows[i].col);
    }
    QCOMPARE(model.data(model.index(0, gq::ResultsModel::CellText)).toString(),
             QString::fromUtf8("caf\u00e9 \u20ac"));
    QCOMPARE(model.data(model.index(2, gq::ResultsModel::Col)).toString(), QString("16384"));
    QCOMPARE(model.data(model.index(5, gq::ResultsModel::File)).toString(), QString("/a.xlsx"));
}

void ResultsModelTest::tabsShowAsSpacesButStayInTheRows() {
    gq::ResultsModel model;
    // A line of the faster mode: blank cells before the hit are TABs.
    model.append({"/a.xlsx", "S\t1", "", "\t\t\tgreen tea\tcup", "", ""});
    model.flush();
    QCOMPARE(model.data(model.index(0, gq::ResultsModel::CellText)).toString(),
             QString(12, ' ') + "green tea    cup");
    QCOMPARE(model.data(model.index(0, gq::ResultsModel::Sheet)).toString(), QString("S    1"));
    // Every export reads the rows as found.
    QCOMPARE(model.rowAt(0).cellText, std::string("\t\t\tgreen tea\tcup"));
    gq::ResultsListTable table(model);
    QCOMPARE(table.text(0, gq::ResultsModel::CellText), std::string_view("\t\t\tgreen tea\tcup"));
}

GQ_APP_TEST_MAIN(ResultsModelTest)
#include "results_model_test.moc"
