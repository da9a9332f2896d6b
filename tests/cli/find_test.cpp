#include "TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>

#include <sstream>

namespace {

class FindTest : public ::testing::Test {
protected:
    void SetUp() override {
        book_ = dir_.path("book.xlsx");
        gqtest::WriteXlsx(book_, [](lxw_workbook* workbook) {
            lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Sheet A");
            worksheet_write_string(sheet, 0, 0, "Bread", nullptr);
            // The escapes lie past the first eight bytes, which go as a block.
            worksheet_write_string(sheet, 1, 1, "a backward\\slash, a tab\tand\r\nlines", nullptr);
            worksheet_write_string(sheet, 2, 2, "BEAN", nullptr);
        });
    }

    gqtest::ProgramRun find(const std::vector<std::string>& args) {
        return gqtest::RunProgram(GQ_FIND_PROGRAM, args);
    }

    gqtest::TempDir dir_;
    std::string book_;
};

TEST_F(FindTest, PrintsOneEscapedLinePerResultAndExitsLikeGrep) {
    auto run = find({"ea", book_});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              book_ + "\tSheet A\tA1\tBread\t1\t1\n" + book_ + "\tSheet A\tC3\tBEAN\t3\t3\n");
    run = find({"-s", "ea", book_});
    EXPECT_EQ(run.out, book_ + "\tSheet A\tA1\tBread\t1\t1\n");
    run = find({"--match-case", "zzz", book_});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    run = find({"slash", book_});
    EXPECT_EQ(run.out,
              book_ + "\tSheet A\tB2\ta backward\\\\slash, a tab\\tand\\r\\nlines\t2\t2\n");
}

// Every length from 1 to 40 with a TAB, CR, LF or backslash at each place and a TAB at another,
// beside bytes that need no escape: the line is written in blocks, and escapes may fall
// anywhere in one.
TEST_F(FindTest, EscapesAByteWhereverItStandsInATextOfAnyLength) {
    std::vector<std::string> texts;
    for (std::size_t length = 1; length <= 40; ++length)
        for (const char special : {'\t', '\r', '\n', '\\'})
            for (std::size_t place = 0; place < length; ++place) {
                std::string text(length, ']');
                text[0] = '\x7F'; // neither escaped nor a byte of the block test's range
                text[place] = special;
                text[(place * 5 + 3) % length] = '\t'; // often a second in the same block
                texts.push_back(text);
            }
    const std::string book = dir_.path("escapes.xlsx");
    gqtest::WriteXlsx(book, [&](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "S");
        for (std::size_t row = 0; row < texts.size(); ++row)
            worksheet_write_string(sheet, static_cast<lxw_row_t>(row), 0, texts[row].c_str(),
                                   nullptr);
    });
    std::string expected;
    for (std::size_t row = 0; row < texts.size(); ++row) {
        std::string escaped;
        for (char c : texts[row])
            escaped += c == '\t'   ? "\\t"
                       : c == '\r' ? "\\r"
                       : c == '\n' ? "\\n"
                       : c == '\\' ? "\\\\"
                                   : std::string(1, c);
        const std::string number = std::to_string(row + 1);
        expected += book + "\tS\tA" + number + "\t" + escaped + "\t" + number + "\t1\n";
    }
    EXPECT_EQ(find({"*", book}).out, expected);
}

TEST_F(FindTest, TextScanAndTermFiles) {
    auto run = find({"--no-locations", "ea", book_});
    EXPECT_EQ(run.out,
              book_ + "\tSheet A\t\tBread\t\t\n" + book_ + "\tSheet A\t\t\\t\\tBEAN\t\t\n");
    std::string terms = dir_.path("terms.txt");
    gqtest::WriteFile(terms, "\xEF\xBB\xBF"
                             "bre\r\n   \r\n\r\nbea\n");
    run = find({"-f", terms, "--stats", book_});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              book_ + "\tSheet A\tA1\tBread\t1\t1\n" + book_ + "\tSheet A\tC3\tBEAN\t3\t3\n");
    EXPECT_NE(run.err.find("files=1 sheets=1 cells=3 rows=2 seconds="), std::string::npos)
        << run.err;
    // Each term that matches a cell gives its row, in every form of output.
    gqtest::WriteFile(terms, "bre\nead\nzzz\nBR\n");
    run = find({"-f", terms, book_});
    EXPECT_EQ(run.out, book_ + "\tSheet A\tA1\tBread\t1\t1\n" + book_ +
                           "\tSheet A\tA1\tBread\t1\t1\n" + book_ + "\tSheet A\tA1\tBread\t1\t1\n");
    run = find({"--json", "-f", terms, book_});
    const std::string json = "{\"file\":\"" + book_ +
                             "\",\"sheet\":\"Sheet A\",\"location\":\"A1\",\"text\":\"Bread\","
                             "\"row\":1,\"col\":1}\n";
    EXPECT_EQ(run.out, json + json + json);
    run = find({"-c", "-f", terms, book_});
    EXPECT_EQ(run.out, "3\n");
    // A folder given as a term list is a usage error, not an empty list.
    run = find({"-f", dir_.path(""), book_});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(": The path is a folder, not a file\n"), std::string::npos) << run.err;
}

TEST_F(FindTest, ReportsFilesThatCannotBeSearchedAndGoesOn) {
    std::string broken = dir_.path("broken.xlsx");
    gqtest::WriteFile(broken, "PK\x03\x04 not really a zip");
    auto run = find({"ea", broken, dir_.path("missing.xlsx"), book_});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err,
              "gridquest-find: " + broken + ": The file is damaged or is not a workbook\n" +
                  "gridquest-find: " + dir_.path("missing.xlsx") + ": The file does not exist\n");
    EXPECT_NE(run.out.find("Bread"), std::string::npos);
    EXPECT_EQ(find({}).exitCode, 2);
    EXPECT_EQ(find({"ea"}).exitCode, 2);
    EXPECT_EQ(find({"--bogus", "ea", book_}).exitCode, 2);
    EXPECT_EQ(find({"[ea", book_}).exitCode, 2);
}

TEST_F(FindTest, ScansFoldersBreadthFirstByExtension) {
    QDir root(QString::fromStdString(dir_.path("tree")));
    root.mkpath("b/deeper");
    root.mkpath("A");
    auto copy = [&](const std::string& to) {
        QFile::copy(QString::fromStdString(book_), QString::fromStdString(dir_.path("tree/" + to)));
    };
    copy("b/deeper/3.xlsx");
    copy("b/2.XLSX");
    copy("A/1.xls"); // read by its content, whatever its extension says
    copy("zz.xlsx");
    copy("~$lock.xlsx");
    copy("notes.csv");
    auto run = find({"Bread", dir_.path("tree")});
    std::string tree = dir_.path("tree");
    EXPECT_EQ(run.out, tree + "/zz.xlsx\tSheet A\tA1\tBread\t1\t1\n" + tree +
                           "/A/1.xls\tSheet A\tA1\tBread\t1\t1\n" + tree +
                           "/b/2.XLSX\tSheet A\tA1\tBread\t1\t1\n" + tree +
                           "/b/deeper/3.xlsx\tSheet A\tA1\tBread\t1\t1\n");
    run = find({"--ext", "CSV", "Bread", dir_.path("tree")});
    EXPECT_EQ(run.out, tree + "/notes.csv\tSheet A\tA1\tBread\t1\t1\n");
}

TEST_F(FindTest, LeavesOutAWalkedFileThatCannotBeOpened) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens every file, so access cannot be denied here";
    const std::string tree = dir_.path("tree");
    QDir().mkpath(QString::fromStdString(tree));
    const std::string open = tree + "/a.xlsx", locked = tree + "/b.xlsx";
    for (const std::string& to : {open, locked})
        QFile::copy(QString::fromStdString(book_), QString::fromStdString(to));
    QFile::setPermissions(QString::fromStdString(locked), QFileDevice::Permissions());
    // Left out of the folder, as the folder scan leaves it out; named by itself, an error.
    auto run = find({"-c", "Bread", tree});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, open + ":1\n");
    run = find({"Bread", locked});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "gridquest-find: " + locked +
                           ": The file cannot be read (permission denied or locked)\n");
}

} // namespace

namespace {

// Every damaged file gives one line on stderr and exit status 2, never a crash or a hang.
TEST(FindHostile, DamagedFilesOfEveryFormatGiveOneLineEach) {
    gqtest::TempDir dir;
    std::vector<std::string> paths;
    auto cut = [&](const std::string& source, const std::string& name, double share) {
        std::string bytes = gqtest::ReadFile(source);
        ASSERT_FALSE(bytes.empty()) << source;
        paths.push_back(dir.path(name));
        gqtest::WriteFile(paths.back(),
                          bytes.substr(0, static_cast<std::size_t>(bytes.size() * share)));
    };
    std::string data = GQ_TEST_DATA_DIR;
    cut(data + "/same/same.xlsx", "cut.xlsx", 0.6);
    cut(data + "/same/same.xls", "cut.xls", 0.5);
    cut(data + "/same/same.ods", "cut.ods", 0.7);
    cut(data + "/same/same-biff5.xls", "cut-biff5.xls", 0.3);
    paths.push_back(dir.path("ole-garbage.xls"));
    gqtest::WriteFile(paths.back(), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) +
                                        std::string(4000, '\xFF'));
    auto run = gqtest::RunProgram(GQ_FIND_PROGRAM, [&] {
        std::vector<std::string> args{"*"};
        args.insert(args.end(), paths.begin(), paths.end());
        return args;
    }());
    EXPECT_EQ(run.exitCode, 2);
    std::istringstream lines(run.err);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_EQ(line.rfind("gridquest-find: " + paths.at(count) + ": ", 0), 0u) << line;
    EXPECT_EQ(count, paths.size()) << run.err;
}

} // namespace
