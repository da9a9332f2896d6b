// One workbook written by libxlsxwriter and converted by LibreOffice to .xls and .ods
// (tests/data/same/make-fixtures) must give the same result rows in all three formats.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

namespace {

// "Sheet!Location" -> the rest of the row after the File column.
std::map<std::string, std::string> Rows(const std::string& path) {
    auto run = gqtest::RunProgram(GQ_FIND_PROGRAM, {"*", path});
    EXPECT_EQ(run.exitCode, 0) << path << ": " << run.err;
    std::map<std::string, std::string> rows;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        std::string rest = line.substr(line.find('\t') + 1);
        std::string sheet = rest.substr(0, rest.find('\t'));
        std::string location =
            rest.substr(sheet.size() + 1, rest.find('\t', sheet.size() + 1) - sheet.size() - 1);
        rows[sheet + "!" + location] = rest;
    }
    return rows;
}

// `missing` lists the cells that the other file cannot hold at all.
void ExpectSameRows(const std::string& otherFile,
                    const std::map<std::string, std::string>& explained,
                    const std::set<std::string>& missing = {}) {
    std::string data = GQ_TEST_DATA_DIR "/same/";
    auto expected = Rows(data + "same.xlsx");
    auto actual = Rows(data + otherFile);
    ASSERT_EQ(expected.size(), 175u);
    for (const auto& [cell, row] : expected) {
        auto found = actual.find(cell);
        if (missing.count(cell)) {
            EXPECT_EQ(found, actual.end()) << cell << " is listed as missing but is there";
            continue;
        }
        ASSERT_NE(found, actual.end()) << otherFile << " has no row for " << cell;
        if (explained.count(cell))
            EXPECT_NE(found->second, row) << cell << " is listed as a difference but matches";
        else
            EXPECT_EQ(found->second, row) << otherFile << " " << cell;
    }
    EXPECT_EQ(actual.size(), expected.size() - missing.size());
}

// The converter recalculates "=A5>1" and stores a boolean; libxlsxwriter stored the number 1.
const std::map<std::string, std::string> kRecalculated = {
    {"Text & more!C5", "boolean result of a recalculated comparison"}};

TEST(SameResults, LegacyXlsGivesTheRowsOfTheXlsx) {
    ExpectSameRows("same.xls", kRecalculated);
}

// Excel 5/95 keeps byte strings in one code page, so the writer replaced the Japanese and Greek
// letters with "?", and a sheet holds at most 16,384 rows, so the far-away cell was dropped.
TEST(SameResults, Excel95XlsGivesTheRowsOfTheXlsxWithinWhatTheFormatHolds) {
    ExpectSameRows("same-biff5.xls", {{"Text & more!A3", "code page"}}, {"Sparse!CV60000"});
}

// The .ods stores LibreOffice's own displayed text beside each value, and that text is what a
// cell shows. It differs from the established behaviour of the format codes where LibreOffice
// itself does: General in a standard-width column (11 characters), serial numbers before
// 1 March 1900 (LibreOffice has no 29 February 1900 and counts from 30 December 1899), negative
// serials under date formats, and times rounded (LibreOffice truncates to the second).
TEST(SameResults, OpenDocumentGivesTheRowsOfTheXlsxButForLibreOfficesOwnTexts) {
    std::map<std::string, std::string> explained = kRecalculated;
    for (const char* cell :
         {"F2", "G2", "F17", "G17"}) // General: 3.141592654 / 1E-05 beside 15 digits
        explained[std::string("Data!") + cell] = "General width";
    for (int row : {12, 13, 16, 20})
        for (const char* column : {"C", "D", "F", "G"}) // -42.25, 0.125, 3.14..., 1e-5 as dates
            explained["Data!" + std::string(column) + std::to_string(row)] = "early serials";
    for (const char* cell : {"B14", "C14", "C15", "F14", "G14", "C21"})
        explained[std::string("Data!") + cell] = "times truncated, negative times";
    ExpectSameRows("same.ods", explained);
}

} // namespace
