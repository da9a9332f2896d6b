// Worksheets and workbooks of Excel 2.x, 3.0 and 4.0, written record by record.
#include "DisplayText.h"
#include "XlsTestStreams.h"

#include <gtest/gtest.h>

namespace {

using namespace xlstest;

std::string LeDouble(double v) {
    std::string out(8, '\0');
    std::memcpy(out.data(), &v, 8);
    return out;
}

std::string Byte(int v) {
    return std::string(1, static_cast<char>(v));
}

// The records of one version that carry the same things.
struct Version {
    int biff;
    bool styles = true; // Excel 2.0 wrote none: its cells carry their number format themselves

    std::uint16_t bof() const { return biff == 2 ? 0x0009 : biff == 3 ? 0x0209 : 0x0409; }
    std::string bofData(std::uint16_t substream) const {
        return Le16(0) + Le16(substream) + (biff == 2 ? "" : Le16(0));
    }
    Rec format(const std::string& code) const {
        std::string string = Byte(static_cast<int>(code.size())) + code;
        return biff == 4 ? Rec{0x041E, Le16(0) + string} : Rec{0x001E, string};
    }
    Rec style(int format) const {
        if (biff == 2)
            return {0x0043, Byte(0) + Byte(0) + Byte(format) + Byte(0)};
        return {static_cast<std::uint16_t>(biff == 3 ? 0x0243 : 0x0443),
                Byte(0) + Byte(format) + std::string(10, '\0')};
    }
    // Row and column, then the style: three attribute bytes in Excel 2.x.
    std::string cell(int row, int col, int xf, int format) const {
        std::string head = Le16(row) + Le16(col);
        if (biff == 2)
            return head + Byte(styles ? xf : 0) + Byte(format) + Byte(0);
        return head + Le16(xf);
    }
    std::uint16_t type(std::uint16_t later) const { return biff == 2 ? later & 0x00FF : later; }
    std::string string(const std::string& bytes) const {
        return (biff == 2 ? Byte(static_cast<int>(bytes.size())) : Le16(bytes.size())) + bytes;
    }
    Rec formula(const std::string& head, const std::string& result) const {
        std::string tail = biff == 2 ? Byte(0) + Byte(0) : Le16(0) + Le16(0);
        return {static_cast<std::uint16_t>(biff == 2   ? 0x0006
                                           : biff == 3 ? 0x0206
                                                       : 0x0406),
                head + result + tail};
    }
};

// Styles: 0 General, 1 "0.00", 2 a date; the formats in that order.
const char* const kFormats[] = {"General", "0.00", "m/d/yyyy"};

std::vector<Rec> Worksheet(const Version& v, const std::string& label) {
    std::vector<Rec> r;
    r.push_back({v.bof(), v.bofData(0x0010)});
    r.push_back({0x0042, Le16(1251)});
    for (const char* code : kFormats)
        r.push_back(v.format(code));
    if (v.styles)
        for (int i = 0; i < 3; ++i)
            r.push_back(v.style(i));
    r.push_back({v.type(0x0200), Le16(0) + Le16(4) + Le16(0) + Le16(4)}); // dimensions
    r.push_back({v.type(0x0203), v.cell(0, 0, 1, 1) + LeDouble(3.14159)});
    if (v.biff == 2)
        r.push_back({0x0002, v.cell(0, 1, 0, 0) + Le16(42)}); // INTEGER
    else
        r.push_back({0x027E, v.cell(0, 1, 0, 0) + Le32((42 << 2) | 2)}); // RK
    r.push_back({v.type(0x0204), v.cell(0, 2, 0, 0) + v.string(label)});
    r.push_back({v.type(0x0205), v.cell(1, 0, 0, 0) + Byte(1) + Byte(0)});
    r.push_back({v.type(0x0205), v.cell(1, 1, 0, 0) + Byte(0x07) + Byte(1)});
    r.push_back(v.formula(v.cell(1, 2, 0, 0), LeDouble(2.5)));
    const std::string special = Le16(0xFFFF); // a result that is no number
    r.push_back(v.formula(v.cell(2, 0, 0, 0), std::string(6, '\0') + special));
    r.push_back({v.type(0x0207), v.string("abc")});
    r.push_back(
        v.formula(v.cell(2, 1, 0, 0), Byte(1) + Byte(0) + Byte(0) + Le16(0) + Byte(0) + special));
    if (v.biff == 2 && v.styles) {
        r.push_back({0x0044, Le16(2)}); // the style of the next cell, whose attributes say 63
        r.push_back({0x0003, v.cell(2, 2, 63, 2) + LeDouble(44644)});
    } else {
        r.push_back({v.type(0x0203), v.cell(2, 2, 2, 2) + LeDouble(44644)});
    }
    r.push_back({v.type(0x0201), v.cell(2, 3, 0, 0)});
    r.push_back({0x000A, ""});
    return r;
}

struct ShownCell {
    std::uint32_t row, col;
    CellKind kind;
    std::string text;
};

// Every cell of every sheet with the text it shows.
std::vector<std::vector<ShownCell>> ShownCells(const std::string& path) {
    auto reader = gq::OpenFormatReader(path);
    gq::DisplayText display(reader->styles());
    std::vector<std::vector<ShownCell>> sheets;
    for (const Sheet& sheet : ReadAll(*reader)) {
        sheets.emplace_back();
        for (const Seen& seen : sheet) {
            gq::Cell cell;
            cell.kind = seen.kind;
            cell.number = seen.number;
            cell.text = seen.text;
            cell.style = seen.style;
            std::string text;
            display.textOf(cell, text);
            sheets.back().push_back({seen.row, seen.col, seen.kind, text});
        }
    }
    return sheets;
}

// "row,col kind=shown|" for every cell of every sheet.
std::vector<std::string> Shown(const std::string& path) {
    std::vector<std::string> sheets;
    for (const auto& sheet : ShownCells(path)) {
        std::string cells;
        for (const ShownCell& cell : sheet)
            cells += std::to_string(cell.row) + "," + std::to_string(cell.col) + " " +
                     "BNSLE"[static_cast<int>(cell.kind)] + "=" + cell.text + "|";
        sheets.push_back(cells);
    }
    return sheets;
}

const std::string kWorksheetCells = "1,1 N=3.14|1,2 N=42|1,3 S=Привет|"
                                    "2,1 L=TRUE|2,2 E=#DIV/0!|2,3 N=2.5|"
                                    "3,1 S=abc|3,2 L=FALSE|3,3 N=3/24/2022|3,4 B=|";

TEST(XlsOldVersions, ReadsTheWorksheetsOfExcel2To4NamedAfterTheFile) {
    const Version versions[] = {{2}, {2, false}, {3}, {4}};
    Scratch scratch;
    for (const Version& v : versions) {
        SCOPED_TRACE("BIFF" + std::to_string(v.biff) + (v.styles ? "" : " without styles"));
        std::string path =
            scratch.write(Join(Worksheet(v, "\xCF\xF0\xE8\xE2\xE5\xF2")), "Quarter 3.xls");
        EXPECT_EQ(gq::OpenFormatReader(path)->worksheetNames(),
                  std::vector<std::string>{"Quarter 3"});
        EXPECT_EQ(Shown(path), std::vector<std::string>{kWorksheetCells});
    }
}

// An Excel 4.0 workbook: each sheet a stream of its own with its own styles, after a header
// with its name and length; a macro sheet among them is no worksheet.
TEST(XlsOldVersions, ReadsTheWorksheetsOfAnExcel4Workbook) {
    const Version v{4};
    auto sheet = [&](std::uint16_t substream, const std::string& code) {
        std::vector<Rec> r = {{v.bof(), v.bofData(substream)},
                              v.format("General"),
                              v.format(code),
                              v.style(0),
                              v.style(1),
                              {0x0203, v.cell(0, 0, 1, 0) + LeDouble(1.5)},
                              {0x000A, ""}};
        return Join(r);
    };
    std::string stream = Join({{v.bof(), v.bofData(0x0100)}, {0x0042, Le16(1252)}});
    const struct {
        std::string name;
        std::string sheet;
    } sheets[] = {{"Donn\xE9"
                   "es",
                   sheet(0x0010, "0.0")},
                  {"Macro1", sheet(0x0040, "0.00")},
                  {"Second", sheet(0x0010, "0.000")}};
    for (const auto& s : sheets)
        stream += Join({{0x008F, Le32(static_cast<std::uint32_t>(s.sheet.size())) +
                                     Byte(static_cast<int>(s.name.size())) + s.name}}) +
                  s.sheet;
    stream += Join({{0x000A, ""}});
    Scratch scratch;
    std::string path = scratch.write(stream);
    EXPECT_EQ(gq::OpenFormatReader(path)->worksheetNames(),
              (std::vector<std::string>{"Données", "Second"}));
    EXPECT_EQ(Shown(path), (std::vector<std::string>{"1,1 N=1.5|", "1,1 N=1.500|"}));
}

TEST(XlsOldVersions, ALoneChartOrMacroSheetHoldsNoWorksheet) {
    const Version v{3};
    Scratch scratch;
    std::string path = scratch.write(Join({{v.bof(), v.bofData(0x0040)}, {0x000A, ""}}));
    EXPECT_TRUE(gq::OpenFormatReader(path)->worksheetNames().empty());
}

TEST(XlsOldVersions, AnExcel4WorksheetMatchesItsExport) {
    std::string path = gqtest::RealFixture("apache_poi__test-data__spreadsheet__testEXCEL_4.xls");
    if (path.empty())
        GTEST_SKIP() << "the shared real fixtures are not beside the project";
    auto shown = gqtest::ReadShownExport(path + ".shown");
    ASSERT_EQ(shown.size(), 1u);
    auto ours = ShownCells(path);
    ASSERT_EQ(ours.size(), 1u);
    // Every cell of the export against ours, both as "row,col=text" lines.
    std::string want, got;
    for (std::size_t r = 0; r < shown[0].rows.size(); ++r)
        for (std::size_t c = 0; c < shown[0].rows[r].size(); ++c)
            if (!shown[0].rows[r][c].empty())
                want += std::to_string(r + 1) + "," + std::to_string(c + 1) + "=" +
                        shown[0].rows[r][c] + "\n";
    for (const ShownCell& cell : ours[0])
        if (!cell.text.empty())
            got +=
                std::to_string(cell.row) + "," + std::to_string(cell.col) + "=" + cell.text + "\n";
    EXPECT_EQ(got, want);
}

} // namespace
