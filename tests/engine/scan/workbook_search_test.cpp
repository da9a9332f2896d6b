#include "Error.h"
#include "Pattern.h"
#include "Spreadsheet.h"
#include "TestFiles.h"
#include "WorkbookSearch.h"

#include <gtest/gtest.h>

#include <QDir>

#include <functional>

namespace {

// A host whose options a test sets, recording everything the search tells it.
class RecordingHost : public gq::SearchHost {
public:
    std::string text = "ea";
    std::vector<std::string> terms;
    bool matchCaseOption = false;
    bool ignoreCaseOption = true;
    bool locations = true;
    bool stop = false;
    std::function<void()> onYield = [] {};

    std::vector<gq::ResultRow> rows;
    std::vector<std::string> progress;
    std::vector<std::string> errors;

    const std::string& searchText() override { return text; }
    std::size_t termCount() override { return terms.size(); }
    const std::string& term(std::size_t index) override {
        if (index >= terms.size())
            throw gq::Error("Invalid property array index");
        return terms[index];
    }
    // Tests change the terms and options directly: the revision follows what they hold.
    std::uint64_t termsRevision() override {
        std::string all =
            text + '\n' + std::to_string(matchCaseOption) + std::to_string(ignoreCaseOption);
        for (const std::string& term : terms)
            all += '\n' + term;
        return std::hash<std::string>()(all);
    }
    bool matchCase() override { return matchCaseOption; }
    bool ignoreCase() override { return ignoreCaseOption; }
    bool retrieveLocations() override { return locations; }
    bool skipLocations() override { return !locations; }
    bool stopRequested() override { return stop; }
    void setProgressText(const std::string& value) override { progress.push_back(value); }
    void addResult(const gq::ResultRow& row) override { rows.push_back(row); }
    void reportError(const std::string& location, int line,
                     const std::string& description) override {
        errors.push_back(description + "|" + location + "|" + std::to_string(line));
    }
    void yieldToEvents() override { onYield(); }

    std::vector<std::string> cellTexts() const {
        std::vector<std::string> texts;
        for (const auto& row : rows)
            texts.push_back(row.cellText);
        return texts;
    }
};

// Points TMPDIR at a folder of the test's own while it lives: other programs' exports may lie in
// the shared one.
class TempPathOf {
public:
    explicit TempPathOf(const gqtest::TempDir& dir) : saved_(qgetenv("TMPDIR")) {
        qputenv("TMPDIR", QByteArray::fromStdString(dir.path("")));
    }
    ~TempPathOf() {
        if (saved_.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", saved_);
    }

private:
    QByteArray saved_;
};

class WorkbookSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.path("search.xlsx");
        gqtest::WriteXlsx(path_, [](lxw_workbook* workbook) {
            lxw_worksheet* first = workbook_add_worksheet(workbook, "Prices");
            worksheet_write_string(first, 0, 0, "Tea leaves", nullptr);
            worksheet_write_string(first, 0, 2, "Bread", nullptr);
            worksheet_write_number(first, 1, 1, 42, nullptr);
            worksheet_write_string(first, 249, 3, "concatenate", nullptr);
            worksheet_write_string(first, 250, 0, "tab\there", nullptr);
            workbook_add_chartsheet(workbook, "Chart");
            lxw_worksheet* second = workbook_add_worksheet(workbook, "Notes");
            worksheet_write_string(second, 6, 2, "PEAR", nullptr);
        });
        workbook_ = std::make_unique<gq::Workbook>(path_);
    }

    gqtest::TempDir dir_;
    std::string path_;
    std::unique_ptr<gq::Workbook> workbook_;
    RecordingHost host_;
};

TEST_F(WorkbookSearchTest, CellScanGivesOneRowPerMatchingCellWithItsLocation) {
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    ASSERT_EQ(host_.rows.size(), 3u);
    const gq::ResultRow& first = host_.rows[0];
    EXPECT_EQ(first.file, path_);
    EXPECT_EQ(first.sheet, "Prices");
    EXPECT_EQ(first.location, "A1");
    EXPECT_EQ(first.cellText, "Tea leaves");
    EXPECT_EQ(first.row, "1");
    EXPECT_EQ(first.col, "1");
    EXPECT_EQ(host_.rows[1].location, "C1");
    EXPECT_EQ(host_.rows[2].sheet, "Notes"); // the chart sheet is no worksheet
    EXPECT_EQ(host_.rows[2].location, "C7");
    EXPECT_EQ(host_.progress.front(), "Processing file search.xlsx");
    EXPECT_EQ(host_.progress[1], "Processing: row 100 in search.xlsx");
    EXPECT_EQ(host_.progress[2], "Processing: row 200 in search.xlsx");
    EXPECT_TRUE(host_.errors.empty());
}

TEST_F(WorkbookSearchTest, CaseOptionsSteerTheComparison) {
    host_.text = "Pear";
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    EXPECT_EQ(host_.rows.size(), 1u);
    host_.rows.clear();
    host_.matchCaseOption = true;
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    EXPECT_TRUE(host_.rows.empty());
    host_.matchCaseOption = host_.ignoreCaseOption = false; // neither set: nothing matches
    host_.text = "*";
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    EXPECT_TRUE(host_.rows.empty());
}

TEST_F(WorkbookSearchTest, StarAloneFindsEveryNonEmptyCellAndNoEmptyOne) {
    host_.text = "*";
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    EXPECT_EQ(host_.cellTexts(), (std::vector<std::string>{"Tea leaves", "Bread", "42",
                                                           "concatenate", "tab\there", "PEAR"}));
}

TEST_F(WorkbookSearchTest, TextScanMatchesWholeExportedLinesWithoutLocations) {
    host_.locations = false;
    host_.text = "tab";
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    ASSERT_EQ(host_.rows.size(), 1u);
    EXPECT_EQ(host_.rows[0].cellText, "\"tab\there\"");
    EXPECT_EQ(host_.rows[0].location, "");
    EXPECT_EQ(host_.rows[0].row, "");
    EXPECT_EQ(host_.rows[0].col, "");
    host_.rows.clear();
    host_.text = "*";
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    // Every line from row 1 to the last used row, empty ones too: 251 + 7.
    EXPECT_EQ(host_.rows.size(), 258u);
    EXPECT_EQ(host_.rows[0].cellText, "Tea leaves\t\tBread");
    EXPECT_EQ(host_.rows[1].cellText, "\t42");
    EXPECT_EQ(host_.rows[2].cellText, "");
    // The line counter goes on across worksheets: line 258 is not a multiple of 100, 200 is.
    EXPECT_EQ(host_.progress.back(), "Processing: row 200 in search.xlsx");
}

TEST_F(WorkbookSearchTest, StopFlagEndsTheSearchAtTheNextCell) {
    host_.stop = true;
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    EXPECT_TRUE(host_.rows.empty());
    // A stop pressed while the search yields takes effect before the next cell.
    host_.stop = false;
    host_.text = "*";
    int yields = 0;
    host_.onYield = [&] {
        if (++yields == 3)
            host_.stop = true;
    };
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    // Yields: the sheet's own, then one before each cell; the stop set in the third is seen
    // before the third cell, after the second was tested.
    EXPECT_EQ(host_.rows.size(), 2u);
}

TEST_F(WorkbookSearchTest, AnEditDuringTheRunTakesEffectAtTheNextCell) {
    host_.text = "*";
    host_.onYield = [&] { host_.text = host_.rows.empty() ? "*" : "PEAR"; };
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    EXPECT_EQ(host_.cellTexts(), (std::vector<std::string>{"Tea leaves", "PEAR"}));
}

TEST_F(WorkbookSearchTest, MultiTermSearchGivesOneRowPerMatchingTerm) {
    host_.terms = {"cat", "at", "zzz"};
    gq::ExcelSearchWorkbookCombo(path_, workbook_.get(), host_);
    ASSERT_EQ(host_.rows.size(), 2u);
    EXPECT_EQ(host_.rows[0].cellText, "concatenate");
    EXPECT_EQ(host_.rows[1].location, host_.rows[0].location);
    host_.rows.clear();
    host_.terms.clear();
    gq::ExcelSearchWorkbookCombo(path_, workbook_.get(), host_);
    EXPECT_TRUE(host_.rows.empty());
    host_.terms = {"cat", "at"};
    host_.locations = false;
    gq::ExcelSearchWorkbookCombo(path_, workbook_.get(), host_);
    EXPECT_EQ(host_.rows.size(), 2u);
}

TEST_F(WorkbookSearchTest, MalformedPatternIsReportedOncePerSearch) {
    host_.text = "[ea";
    gq::ExcelSearchWorkbook(path_, workbook_.get(), host_);
    EXPECT_TRUE(host_.rows.empty());
    ASSERT_EQ(host_.errors.size(), 1u);
    EXPECT_EQ(host_.errors[0],
              "Invalid pattern string|in Findwell2021/08/31.Excel1.ExcelSearchWorkbook |0");
    host_.errors.clear();
    host_.terms = {"[x", "ea"};
    gq::ExcelSearchWorkbookCombo(path_, workbook_.get(), host_);
    EXPECT_EQ(host_.rows.size(), 3u);
    ASSERT_EQ(host_.errors.size(), 1u);
    EXPECT_NE(host_.errors[0].find("ExcelSearchWorkbookCombo "), std::string::npos);
}

TEST_F(WorkbookSearchTest, NullWorkbookYieldsNothingAndTheExportIsRemoved) {
    TempPathOf tmp(dir_);
    gq::ExcelSearchWorkbook(path_, nullptr, host_);
    EXPECT_TRUE(host_.rows.empty());
    host_.locations = false;
    host_.terms = {"ea"};
    gq::ExcelSearchWorkbookCombo(path_, workbook_.get(), host_);
    EXPECT_TRUE(QDir(QDir::tempPath())
                    .entryList({"gridquest-export-*"}, QDir::Files | QDir::Hidden)
                    .isEmpty());
}

TEST(WorkbookSearch, AJudgedSharedStringIsJudgedAgainWhenTheTermOrCaseChanges) {
    gqtest::TempDir dir;
    std::string path = dir.path("shared.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "S");
        for (int row = 0; row < 9; ++row)
            worksheet_write_string(sheet, row, 0, row % 2 ? "Pear" : "Apple", nullptr);
    });
    gq::Workbook workbook(path);
    RecordingHost host;
    host.text = "apple";
    int cells = 0;
    // Rows 1-3 with "apple", 4-6 with "pear", 7-9 with "pear" matching case.
    host.onYield = [&] {
        ++cells;
        if (cells == 5)
            host.text = "pear";
        if (cells == 8) {
            host.matchCaseOption = true;
            host.ignoreCaseOption = false;
        }
    };
    gq::ExcelSearchWorkbook(path, &workbook, host);
    std::vector<std::string> locations;
    for (const auto& row : host.rows)
        locations.push_back(row.location);
    EXPECT_EQ(locations, (std::vector<std::string>{"A1", "A3", "A4", "A6"}));
}

TEST(WorkbookSearch, ATermListJudgesEachSharedStringAndFormatOnceWhileNoTermChanges) {
    gqtest::TempDir dir;
    std::string path = dir.path("list.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "S");
        lxw_format* twoPlaces = workbook_add_format(workbook);
        format_set_num_format(twoPlaces, "0.00");
        for (int row = 0; row < 8; ++row) {
            worksheet_write_string(sheet, row, 0, row % 2 ? "Pear" : "Apple", nullptr);
            worksheet_write_number(sheet, row, 1, 1.5, twoPlaces);
        }
    });
    gq::Workbook workbook(path);
    class CountingHost : public RecordingHost {
    public:
        const std::string& term(std::size_t index) override {
            ++reads;
            return RecordingHost::term(index);
        }
        int reads = 0;
    } host;
    host.terms = {"apple", "1.5"};
    int yields = 0;
    // The list changes while the search yields before A5, the ninth cell.
    host.onYield = [&] {
        if (++yields == 10)
            host.terms = {"pear", "zzz"};
    };
    gq::ExcelSearchWorkbookCombo(path, &workbook, host);
    std::vector<std::string> locations;
    for (const auto& row : host.rows)
        locations.push_back(row.location);
    EXPECT_EQ(locations,
              (std::vector<std::string>{"A1", "B1", "B2", "A3", "B3", "B4", "A6", "A8"}));

    // Two strings and a number format met by two terms: each term is read once while the list
    // holds, however many cells there are.
    host.rows.clear();
    host.reads = 0;
    host.onYield = [] {};
    host.terms = {"apple", "pear"};
    gq::ExcelSearchWorkbookCombo(path, &workbook, host);
    EXPECT_EQ(host.rows.size(), 8u);
    EXPECT_EQ(host.reads, 2);

    // A list longer than a mask holds is judged term by term, to its last term.
    host.rows.clear();
    host.terms.assign(70, "zzz");
    host.terms[66] = "pear";
    host.terms[69] = "1.50";
    gq::ExcelSearchWorkbookCombo(path, &workbook, host);
    locations.clear();
    for (const auto& row : host.rows)
        locations.push_back(row.location);
    EXPECT_EQ(locations, (std::vector<std::string>{"B1", "A2", "B2", "B3", "A4", "B4", "B5", "A6",
                                                   "B6", "B7", "A8", "B8"}));
}

TEST(WorkbookSearch, ARunOfEqualCellsIsTestedOnceAndGivesARowForEachOfItsCells) {
    gqtest::TempDir dir;
    std::string path = dir.path("runs.ods");
    gqtest::WriteZip(
        path,
        {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
         {"content.xml",
          R"(<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
          R"(xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
          R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><office:body>)"
          R"(<office:spreadsheet><table:table table:name="S"><table:table-row>)"
          R"(<table:table-cell table:number-columns-repeated="16384" office:value-type="string">)"
          R"(<text:p>tea</text:p></table:table-cell></table:table-row></table:table>)"
          R"(</office:spreadsheet></office:body></office:document-content>)"}});
    gq::Workbook workbook(path);
    class CountingHost : public RecordingHost {
    public:
        const std::string& searchText() override {
            ++reads;
            return RecordingHost::searchText();
        }
        int reads = 0;
    } host;
    host.text = "coffee";
    gq::SearchCounts counts = gq::ExcelSearchWorkbook(path, &workbook, host);
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(host.reads, 1);
    EXPECT_EQ(counts.cells, 16384u);

    host.text = "tea";
    gq::ExcelSearchWorkbook(path, &workbook, host);
    ASSERT_EQ(host.rows.size(), 16384u);
    EXPECT_EQ(host.rows.back().location, "XFD1");
    EXPECT_EQ(host.rows.back().col, "16384");

    // The stop flag is read cell by cell inside the run: a press during the yield before the
    // 11th cell ends the scan after that cell, as anywhere else.
    host.rows.clear();
    host.onYield = [&] { host.stop = host.rows.size() >= 10; };
    gq::ExcelSearchWorkbook(path, &workbook, host);
    EXPECT_EQ(host.rows.size(), 11u);
}

TEST(WorkbookSearch, TheTextExportNeverHoldsMoreThanAFewBlocks) {
    gqtest::TempDir dir;
    std::string path = dir.path("big.xlsx");
    const std::string text(30000, 'w');
    gqtest::WriteXlsx(path, [&](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "S");
        for (int row = 0; row < 1000; ++row)
            worksheet_write_string(sheet, row, 0, (row == 999 ? "tea" : text).c_str(), nullptr);
    });
    TempPathOf tmp(dir);
    gq::Workbook workbook(path);
    RecordingHost host;
    host.locations = false;
    host.text = "tea";
    qint64 largest = 0;
    host.onYield = [&] {
        for (const QFileInfo& file : QDir(QString::fromStdString(dir.path("")))
                                         .entryInfoList({"gridquest-export-*"}, QDir::Files))
            largest = std::max(largest, file.size());
    };
    gq::ExcelSearchWorkbook(path, &workbook, host);
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_EQ(host.rows[0].cellText, "tea");
    // 30 MB went through a file that never held more than a few blocks and a line.
    EXPECT_GT(largest, 0);
    EXPECT_LT(largest, 1 << 20);
}

// Numbers are ruled out by what their format can show, without their texts being made; a
// search must find exactly the cells whose shown texts match, whatever the term.
TEST(WorkbookSearch, NumbersRuledOutByTheirFormatNeverHadAMatch) {
    const char* const codes[] = {
        "General",     "0",
        "#",           "#,##0.00",
        "0.00%",       "0.00E+00",
        "##0.0e-0",    ";;;",
        "# ?/?",       "# ?\?/16",
        "#,##0 ?/?",   "yyyy-mm-dd",
        "d-mmm-yy",    "mmmm d",
        "mmmmm",       "dddd",
        "ddd d",       "h:mm AM/PM",
        "h:mm:ss a/p", "[h]:mm:ss",
        "mm:ss.0",     "\"pos\";\"neg\";\"zero\"",
        "0 \"kg\"",    "[=1]\"one\"",
        "@",           "[$\u20ac-407]#,##0.00",
        "\"\u212a\"0", "_(* #,##0_);_(* (#,##0);_(* \"-\"_)",
    };
    const double values[] = {0,    -0.0,           1,         -1,       0.5,     -2.75,   1234.5678,
                             60,   44927.75,       -44927.75, 0.999999, 2958466, 1e-7,    -1e12,
                             1e20, 123456789012.0, 3.14159,   0.0625,   -0.04,   45000.25};
    gqtest::TempDir dir;
    std::string path = dir.path("numbers.xlsx");
    gqtest::WriteXlsx(path, [&](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "N");
        for (lxw_col_t col = 0; col < std::size(codes); ++col) {
            lxw_format* format = workbook_add_format(workbook);
            format_set_num_format(format, codes[col]);
            for (lxw_row_t row = 0; row < std::size(values); ++row)
                worksheet_write_number(sheet, row, col, values[row], format);
            worksheet_write_boolean(sheet, std::size(values), col, col % 2, format);
            worksheet_write_string(sheet, std::size(values) + 1, col, "Tea 12 PM", format);
        }
    });
    gq::Workbook workbook(path);
    gq::Worksheet& sheet = workbook.activeSheet();
    const char* const terms[] = {
        "1",      "0.5",    "12",     "-",     "E+", "e-",   "%",  "/",     ":",   "ea",
        "e",      "E",      "a",      "A",     "pm", "PM",   "p",  "kg",    "k",   "K",
        "jan",    "Jan",    "May",    "ednes", "ch", "y",    "#",  "##:##", "?",   "a?",
        "[ap]",   "[!0-9]", "[0-9]%", "*",     "",   "1*",   "*0", "-*",    "one", "zero",
        "\u20ac", "\u212a", "###-##", "(",     " ",  "[A-Z]"};
    RecordingHost host;
    std::size_t shown = 0;
    for (const char* term : terms) {
        for (bool ignoreCase : {false, true}) {
            gq::SearchPattern pattern(term, ignoreCase);
            std::vector<std::string> expected;
            shown = 0;
            sheet.forEachText([&](std::uint32_t row, std::uint32_t col, const std::string& text) {
                ++shown;
                if (pattern.matches(text))
                    expected.push_back(gq::ColumnLetters(static_cast<int>(col)) +
                                       std::to_string(row) + " " + text);
                return true;
            });
            host.rows.clear();
            host.text = term;
            host.matchCaseOption = !ignoreCase;
            host.ignoreCaseOption = ignoreCase;
            gq::SearchCounts counts = gq::ExcelSearchWorkbook(path, &workbook, host);
            std::vector<std::string> found;
            for (const gq::ResultRow& row : host.rows)
                found.push_back(row.location + " " + row.cellText);
            EXPECT_EQ(found, expected) << "term '" << term << "' ignoreCase " << ignoreCase;
            EXPECT_EQ(counts.cells, shown); // cells that show nothing are still left out
        }
    }
    // The term list rules numbers out term by term.
    host.rows.clear();
    host.terms.assign(std::begin(terms), std::end(terms));
    gq::ExcelSearchWorkbookCombo(path, &workbook, host);
    std::size_t expectedRows = 0;
    sheet.forEachText([&](std::uint32_t, std::uint32_t, const std::string& text) {
        for (const char* term : terms)
            expectedRows += gq::SearchPattern(term, true).matches(text);
        return true;
    });
    EXPECT_EQ(host.rows.size(), expectedRows);
    EXPECT_LT(shown, std::size(codes) * (std::size(values) + 2)); // some show nothing
}

TEST(SharedFileRoutines, FileExistsAndDeleteTempFile) {
    gqtest::TempDir dir;
    std::string path = dir.path("x.txt");
    EXPECT_FALSE(gq::FileExists(path));
    EXPECT_FALSE(gq::FileExists(""));
    EXPECT_TRUE(gq::FileExists(dir.path("")));
    gqtest::WriteFile(path, "x");
    QFile::setPermissions(QString::fromStdString(path), QFile::ReadOwner);
    EXPECT_TRUE(gq::FileExists(path));
    gq::DeleteTempFile(path);
    EXPECT_FALSE(gq::FileExists(path));
    gq::DeleteTempFile(path); // a missing file is no error
}

} // namespace
