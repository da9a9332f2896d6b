#include "AlignedText.h"
#include "Error.h"
#include "TestFiles.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using gq::ResultRow;

ResultRow Row(std::string file, std::string sheet, std::string location, std::string text,
              std::string row, std::string col) {
    return {std::move(file), std::move(sheet), std::move(location),
            std::move(text), std::move(row),   std::move(col)};
}

std::string Spaces(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

const std::string kHeaderLine = "File\tSheet\tLocation\tCell Text\trow\tcol\t\r\n";

struct Recorded : gq::ProgressDisplay {
    std::vector<std::string> events;
    std::function<void(double)> onValue;
    void setValue(double value) override {
        events.push_back("value " + std::to_string(value));
        if (onValue)
            onValue(value);
    }
    void setText(const std::string& text) override { events.push_back("text " + text); }
};

struct Reports {
    std::vector<int> lines;
    std::vector<std::string> descriptions;
    gq::StepReporter reporter() {
        return [this](int line, const std::string& description) {
            lines.push_back(line);
            descriptions.push_back(description);
        };
    }
};

// Rows whose texts can change between reads, as a list that the user edits while an action
// lets the window work.
class EditedTable : public gq::ResultRowsTable {
public:
    explicit EditedTable(const std::vector<ResultRow>& rows) : ResultRowsTable(rows) {}
    std::function<std::string_view(std::size_t row, int column, std::string_view)> edit;
    std::vector<bool> unchecked;

    std::string_view text(std::size_t row, int column) const override {
        std::string_view text = ResultRowsTable::text(row, column);
        return edit ? edit(row, column, text) : text;
    }
    bool checked(std::size_t row) const override {
        ResultRowsTable::checked(row);
        return row >= unchecked.size() || !unchecked[row];
    }
};

std::string SaveText(const gq::ResultTable& table, gq::ProgressDisplay* progress = nullptr,
                     Reports* reports = nullptr) {
    gqtest::TempDir dir;
    const std::string path = dir.path("out.txt");
    Reports ignored;
    gq::SaveListviewProperlySpaced(
        table, path, progress, [] {}, (reports ? reports : &ignored)->reporter());
    return gqtest::ReadFile(path);
}

std::string Copy(const gq::ResultTable& table) {
    auto text = gq::ClipboardText(table, [] {});
    return text ? *text : "<untouched>";
}

TEST(ClipboardText, WorkedExample) {
    std::vector<ResultRow> rows{Row("C:\\a.xlsx", "Sheet1", "B7", "Total", "7", "2"),
                                Row("C:\\data\\b.xlsx", "S2", "AA10", "x", "10", "27")};
    EXPECT_EQ(gq::ColumnWidths(gq::ResultRowsTable(rows), false, {}),
              (std::vector<std::size_t>{14, 6, 4, 5, 2, 2}));
    EXPECT_EQ(Copy(gq::ResultRowsTable(rows)),
              "C:\\a.xlsx" + Spaces(5) + "\tSheet1\tB7" + Spaces(2) + "\tTotal\t7 \t2\r\n" +
                  "C:\\data\\b.xlsx\tS2" + Spaces(4) + "\tAA10\tx" + Spaces(4) + "\t10\t27\r\n");
}

TEST(TextFile, WorkedExample) {
    std::vector<ResultRow> rows{Row("C:\\Data\\q1.xlsx", "Sheet1", "B7", "Total sales", "7", "2")};
    EXPECT_EQ(gq::ColumnWidths(gq::ResultRowsTable(rows), true, {}),
              (std::vector<std::size_t>{15, 6, 8, 11, 3, 3}));
    EXPECT_EQ(SaveText(gq::ResultRowsTable(rows)), "File" + Spaces(11) +
                                                       "\tSheet \tLocation\tCell Text" + Spaces(2) +
                                                       "\trow\tcol\t\r\n"
                                                       "C:\\Data\\q1.xlsx\tSheet1\tB7" +
                                                       Spaces(6) + "\tTotal sales\t7  \t2  \t\r\n");
}

TEST(AlignedText, EmptyList) {
    std::vector<ResultRow> none;
    EXPECT_EQ(Copy(gq::ResultRowsTable(none)), "<untouched>");
    EXPECT_EQ(SaveText(gq::ResultRowsTable(none)), kHeaderLine);
}

TEST(AlignedText, RunWithoutLocations) {
    std::vector<ResultRow> rows{Row("/data/a.xlsx", "Sheet1", "", "one line", "", ""),
                                Row("/b.ods", "S", "", "two", "", "")};
    EXPECT_EQ(Copy(gq::ResultRowsTable(rows)), "/data/a.xlsx\tSheet1\t\tone line\t\t\r\n"
                                               "/b.ods" +
                                                   Spaces(6) + "\tS" + Spaces(5) + "\t\ttwo" +
                                                   Spaces(5) + "\t\t\r\n");
    // The empty columns are as wide as their headers.
    EXPECT_EQ(SaveText(gq::ResultRowsTable(rows)),
              "File" + Spaces(8) + "\tSheet \tLocation\tCell Text\trow\tcol\t\r\n" +
                  "/data/a.xlsx\tSheet1\t" + Spaces(8) + "\tone line \t" + Spaces(3) + "\t" +
                  Spaces(3) + "\t\r\n" + "/b.ods" + Spaces(6) + "\tS" + Spaces(5) + "\t" +
                  Spaces(8) + "\ttwo" + Spaces(6) + "\t" + Spaces(3) + "\t" + Spaces(3) + "\t\r\n");
}

TEST(AlignedText, MultiLineCellsAreNotEscaped) {
    std::vector<ResultRow> rows{Row("/a", "S", "A1", "first\r\nsecond", "1", "1"),
                                Row("/a", "S", "A2", "x\ty", "2", "1")};
    // "first\r\nsecond" counts 13 characters, its line break included.
    EXPECT_EQ(Copy(gq::ResultRowsTable(rows)), "/a\tS\tA1\tfirst\r\nsecond\t1\t1\r\n"
                                               "/a\tS\tA2\tx\ty" +
                                                   Spaces(10) + "\t2\t1\r\n");
    EXPECT_EQ(SaveText(gq::ResultRowsTable(rows)),
              "File\tSheet\tLocation\tCell Text" + Spaces(4) + "\trow\tcol\t\r\n" +
                  "/a  \tS    \tA1      \tfirst\r\nsecond\t1  \t1  \t\r\n" +
                  "/a  \tS    \tA2      \tx\ty" + Spaces(10) + "\t2  \t1  \t\r\n");
}

TEST(AlignedText, TextLongerThanItsWidthGetsItsTabOnly) {
    std::vector<ResultRow> rows{Row("/a", "S", "A1", "short", "1", "1")};
    EditedTable table(rows);
    int reads = 0;
    // Measuring reads every cell once; from then on the text has grown.
    table.edit = [&](std::size_t, int column, std::string_view text) -> std::string_view {
        ++reads;
        return column == 3 && reads > 6 ? std::string_view("much longer") : text;
    };
    EXPECT_EQ(Copy(table), "/a\tS\tA1\tmuch longer\t1\t1\r\n");
    reads = 0;
    EXPECT_EQ(SaveText(table), "File\tSheet\tLocation\tCell Text\trow\tcol\t\r\n"
                               "/a  \tS    \tA1      \tmuch longer\t1  \t1  \t\r\n");
}

TEST(ClipboardText, TrailingSpacesAndEmptyLastCells) {
    struct Case {
        const char* name;
        std::vector<ResultRow> rows;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"one row: no padding at all",
         {Row("/a", "S", "B2", "t", "2", "2")},
         "/a\tS\tB2\tt\t2\t2\r\n"},
        {"last cell empty: the line ends with the TAB before it",
         {Row("/a", "S", "B2", "t", "2", ""), Row("/a", "S", "B2", "t", "2", "10")},
         "/a\tS\tB2\tt\t2\t\r\n/a\tS\tB2\tt\t2\t10\r\n"},
        {"spaces ending the last text go too",
         {Row("/a", "S", "B2", "t", "2", "2  ")},
         "/a\tS\tB2\tt\t2\t2\r\n"},
        {"spaces inside the line stay",
         {Row("/a", "S", "B2", "t  ", "2", "2")},
         "/a\tS\tB2\tt  \t2\t2\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Copy(gq::ResultRowsTable(c.rows)), c.expected) << c.name;
}

TEST(AlignedText, WidthsCountUtf16Units) {
    // "é" is one unit, the emoji a surrogate pair: two.
    std::vector<ResultRow> rows{Row("/é", "S", "A1", "\xF0\x9F\x98\x80", "1", "1"),
                                Row("/abc", "S", "A1", "abc", "1", "1")};
    EXPECT_EQ(gq::ColumnWidths(gq::ResultRowsTable(rows), false, {}),
              (std::vector<std::size_t>{4, 1, 2, 3, 1, 1}));
    EXPECT_EQ(Copy(gq::ResultRowsTable(rows)),
              "/é  \tS\tA1\t\xF0\x9F\x98\x80 \t1\t1\r\n/abc\tS\tA1\tabc\t1\t1\r\n");
}

TEST(AlignedText, UncheckedRowsAreLeftOutButMeasured) {
    std::vector<ResultRow> rows{Row("/a", "S", "A1", "x", "1", "1"),
                                Row("/longer", "S", "A1", "x", "1", "1")};
    EditedTable table(rows);
    table.unchecked = {false, true};
    EXPECT_EQ(Copy(table), "/a     \tS\tA1\tx\t1\t1\r\n");
    EXPECT_EQ(SaveText(table), "File   \tSheet\tLocation\tCell Text\trow\tcol\t\r\n"
                               "/a     \tS    \tA1      \tx        \t1  \t1  \t\r\n");
    table.unchecked = {true, true};
    EXPECT_EQ(Copy(table), ""); // the clipboard is set, to nothing
}

TEST(ClipboardText, RowGoneMeanwhileFailsTheCopy) {
    std::vector<ResultRow> rows{Row("/a", "S", "A1", "x", "1", "1"),
                                Row("/b", "S", "A1", "x", "1", "1")};
    gq::ResultRowsTable table(rows);
    int yields = 0;
    // Once measured, a yield takes the last row away.
    EXPECT_THROW(gq::ClipboardText(table,
                                   [&] {
                                       if (++yields == 13)
                                           rows.pop_back();
                                   }),
                 gq::Error);
}

TEST(TextFile, ProgressPositionsAndCaptions) {
    std::vector<ResultRow> rows(3, Row("/a", "S", "A1", "x", "1", "1"));
    Recorded progress;
    SaveText(gq::ResultRowsTable(rows), &progress);
    const std::vector<std::string> expected{"value 1.000000",   "text Writing file: out.txt",
                                            "value 10.000000",  "text Writing file: out.txt",
                                            "value 20.000000",  "text Writing file: out.txt",
                                            "value 33.333333",  "value 66.666667",
                                            "value 100.000000", "value 100.000000",
                                            "text Done.",       "value 0.000000",
                                            "text Progress Bar"};
    EXPECT_EQ(progress.events, expected);
}

TEST(TextFile, LongListsCountThousandsAndStayWithin100) {
    std::vector<ResultRow> rows(2500, Row("/a", "S", "A1", "x", "1", "1"));
    EditedTable table(rows);
    table.unchecked.assign(2500, false);
    table.unchecked[1999] = true; // the 2000th row is not written: no count for it
    Recorded progress;
    SaveText(table, &progress);
    std::vector<std::string> captions;
    double highest = 0;
    std::size_t values = 0;
    for (const std::string& event : progress.events) {
        if (event.rfind("text Writing file: out.txt (", 0) == 0)
            captions.push_back(event);
        if (event.rfind("value ", 0) == 0) {
            highest = std::max(highest, std::stod(event.substr(6)));
            ++values;
        }
    }
    EXPECT_EQ(captions, std::vector<std::string>{"text Writing file: out.txt (1000)"});
    EXPECT_EQ(highest, 100.0);
    EXPECT_EQ(values, 3 + 2499 + 2u); // 1, 10, 20, each written row, 100, 0
    // (r + 2500 \ 2000) / 2500 x 100 for the first row
    EXPECT_EQ(progress.events[6], "value " + std::to_string(2.0 / 2500 * 100));
}

TEST(TextFile, WithoutProgressTheSameFile) {
    std::vector<ResultRow> rows{Row("/a", "S", "A1", "x", "1", "1")};
    Recorded progress;
    EXPECT_EQ(SaveText(gq::ResultRowsTable(rows), &progress),
              SaveText(gq::ResultRowsTable(rows), nullptr));
}

TEST(TextFile, RowGoneMeanwhileIsReportedAndWrittenEmpty) {
    std::vector<ResultRow> rows(3, Row("/a", "S", "A1", "x", "1", "1"));
    gq::ResultRowsTable table(rows);
    Recorded progress;
    bool gone = false;
    // Once the row loop has read its count, the first row's progress takes the last row away.
    progress.onValue = [&](double value) {
        if (value > 20 && !gone) {
            rows.pop_back();
            gone = true;
        }
    };
    Reports reports;
    const std::string text = SaveText(table, &progress, &reports);
    EXPECT_EQ(reports.lines, (std::vector<int>{188, 194, 194, 194, 194, 194, 194}));
    const std::string line = "/a  \tS    \tA1      \tx        \t1  \t1  \t\r\n";
    EXPECT_EQ(text, "File\tSheet\tLocation\tCell Text\trow\tcol\t\r\n" + line + line + "\r\n");
}

TEST(TextFile, ReplacesAnEarlierFileWhole) {
    gqtest::TempDir dir;
    const std::string path = dir.path("out.txt");
    gqtest::WriteFile(path, std::string(10000, 'z'));
    std::vector<ResultRow> none;
    Reports reports;
    gq::SaveListviewProperlySpaced(gq::ResultRowsTable(none), path, nullptr, {},
                                   reports.reporter());
    EXPECT_TRUE(reports.lines.empty());
    EXPECT_EQ(gqtest::ReadFile(path), kHeaderLine);
}

TEST(TextFile, CreationFailureIsReportedOnce) {
    gqtest::TempDir dir;
    // A file where the folder should be: nothing can be created under it, whoever runs this.
    const std::string blocker = dir.path("blocker");
    gqtest::WriteFile(blocker, "kept");
    std::vector<ResultRow> rows(5, Row("/a", "S", "A1", "x", "1", "1"));
    Recorded progress;
    Reports reports;
    gq::SaveListviewProperlySpaced(gq::ResultRowsTable(rows), blocker + "/out.txt", &progress, {},
                                   reports.reporter());
    EXPECT_EQ(reports.lines, std::vector<int>{156});
    EXPECT_NE(reports.descriptions.front().find(blocker + "/out.txt"), std::string::npos);
    EXPECT_EQ(gqtest::ReadFile(blocker), "kept");
    ASSERT_GE(progress.events.size(), 2u);
    EXPECT_EQ(progress.events[progress.events.size() - 2], "value 0.000000");
    EXPECT_EQ(progress.events.back(), "text Progress Bar");
}

class FlakyClipboard : public gq::Clipboard {
public:
    int failuresLeft = 0;
    int clears = 0, sets = 0;
    std::string text = "before";
    int format = -1;

    bool clear() override {
        ++clears;
        if (failuresLeft > 0 && failuresLeft--)
            return false;
        text.clear();
        return true;
    }
    bool setText(const std::string& utf8, int chosen) override {
        ++sets;
        if (failuresLeft > 0 && failuresLeft--)
            return false;
        text = utf8;
        format = chosen;
        return true;
    }
};

TEST(Clipboard, RetriesUntilThrough) {
    FlakyClipboard clipboard;
    clipboard.failuresLeft = 4;
    EXPECT_TRUE(gq::SetClipboardText(clipboard, "x", 0));
    EXPECT_EQ(clipboard.sets, 5);

    FlakyClipboard locked;
    locked.failuresLeft = 1 << 30;
    EXPECT_FALSE(gq::SetClipboardText(locked, "x", 0));
    EXPECT_EQ(locked.sets, gq::kClipboardAttempts);
    gq::ClearClipboard(locked);
    EXPECT_EQ(locked.clears, gq::kClipboardAttempts);
    EXPECT_EQ(locked.text, "before");
}

TEST(Clipboard, CopyClearsThenSetsPlainText) {
    std::vector<ResultRow> rows{Row("/a", "S", "A1", "x", "1", "1")};
    FlakyClipboard clipboard;
    gq::CopyListviewToClipboard(gq::ResultRowsTable(rows), clipboard, {});
    EXPECT_EQ(clipboard.clears, 1);
    EXPECT_EQ(clipboard.text, "/a\tS\tA1\tx\t1\t1\r\n");
    EXPECT_EQ(clipboard.format, 0);

    FlakyClipboard untouched;
    std::vector<ResultRow> none;
    gq::CopyListviewToClipboard(gq::ResultRowsTable(none), untouched, {});
    EXPECT_EQ(untouched.clears + untouched.sets, 0);
    EXPECT_EQ(untouched.text, "before");
}

TEST(Clipboard, SystemClipboardHoldsTheText) {
    gq::SystemClipboard clipboard;
    gq::ClearClipboard(clipboard);
    ASSERT_TRUE(gq::SetClipboardText(clipboard, "Zürich\t1\r\n", 0));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("Zürich\t1\r\n"));
}

} // namespace
