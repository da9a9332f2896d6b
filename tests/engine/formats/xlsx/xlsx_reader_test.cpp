#include "CellText.h"
#include "Error.h"
#include "FormatReader.h"
#include "HandMadeXlsx.h"
#include "Spreadsheet.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>

#include <map>

namespace {

using Texts = std::map<std::string, std::string>; // "Sheet!A1" -> displayed text

Texts ShownTexts(const std::string& path) {
    gq::Workbook workbook(path);
    Texts texts;
    for (const auto& sheet : workbook.worksheets())
        sheet->forEachText([&](std::uint32_t row, std::uint32_t col, const std::string& text) {
            texts[sheet->name() + "!" + std::to_string(row) + "," + std::to_string(col)] = text;
            return true;
        });
    return texts;
}

std::string ErrorOf(const std::string& path) {
    try {
        gq::Workbook workbook(path);
        for (const auto& sheet : workbook.worksheets())
            sheet->forEachText([](auto, auto, const auto&) { return true; });
    } catch (const gq::Error& error) {
        return error.what();
    }
    return "";
}

TEST(XlsxReader, ReadsWhatLibxlsxwriterWrites) {
    gqtest::TempDir dir;
    std::string path = dir.path("book.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Mixed");
        lxw_format* bold = workbook_add_format(workbook);
        format_set_bold(bold);
        worksheet_write_string(sheet, 0, 0, "plain", nullptr);
        lxw_rich_string_tuple first = {bold, (char*)"rich "};
        lxw_rich_string_tuple second = {nullptr, (char*)"text"};
        lxw_rich_string_tuple* runs[] = {&first, &second, nullptr};
        worksheet_write_rich_string(sheet, 0, 1, runs, nullptr);
        worksheet_write_number(sheet, 1, 0, 12.5, nullptr);
        worksheet_write_boolean(sheet, 1, 1, 0, nullptr);
        worksheet_write_formula_num(sheet, 2, 0, "=A2*2", nullptr, 25);
        worksheet_write_formula_str(sheet, 2, 1, "=\"a\"&\"b\"", nullptr, "ab");
        worksheet_write_formula(sheet, 2, 2, "=1/0", nullptr);
        worksheet_write_blank(sheet, 3, 0, bold);
        worksheet_write_string(sheet, 1048575, 16383, "far away", nullptr);
        workbook_add_chartsheet(workbook, "Chart");
        workbook_add_worksheet(workbook, "Empty");
    });
    gq::Workbook workbook(path);
    ASSERT_EQ(workbook.worksheets().size(), 2u);
    EXPECT_EQ(workbook.worksheets()[1]->name(), "Empty");
    Texts texts = ShownTexts(path);
    EXPECT_EQ(texts["Mixed!1,1"], "plain");
    EXPECT_EQ(texts["Mixed!1,2"], "rich text");
    EXPECT_EQ(texts["Mixed!2,1"], "12.5");
    EXPECT_EQ(texts["Mixed!2,2"], "FALSE");
    EXPECT_EQ(texts["Mixed!3,1"], "25");
    EXPECT_EQ(texts["Mixed!3,2"], "ab");
    EXPECT_EQ(texts["Mixed!3,3"], "0"); // libxlsxwriter stores 0 as the cached result
    EXPECT_EQ(texts["Mixed!1048576,16384"], "far away");
    EXPECT_EQ(texts.size(), 8u);

    gq::Worksheet& mixed = workbook.sheets("Mixed");
    EXPECT_EQ(mixed.lastCell().row(), 1048576u);
    EXPECT_EQ(mixed.lastCell().column(), 16384u);
    EXPECT_EQ(mixed.usedRange().row(), 1u);
    EXPECT_EQ(mixed.usedRange().rowCount(), 1048576u);
    EXPECT_EQ(mixed.text(3, 2), "ab");
    EXPECT_EQ(mixed.cells(1, 2).text(), "rich text");
    EXPECT_EQ(mixed.text(4, 1), "");
    gq::Worksheet& empty = workbook.sheets("Empty");
    EXPECT_EQ(empty.lastCell().row(), 1u);
    EXPECT_EQ(empty.lastCell().column(), 1u);
    EXPECT_THROW(workbook.sheets("Missing"), gq::Error);
}

TEST(XlsxReader, ReadsHandMadePackagesOfOtherWriters) {
    gqtest::TempDir dir;
    std::string path = dir.path("other.xlsm");
    // No r attributes, prefixed elements, inline strings, escapes, dates, errors, phonetic runs.
    std::string sheet =
        R"(<s:worksheet xmlns:s="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        R"(<s:dimension ref="A1:XFD1048576"/><s:sheetData>)"
        R"(<s:row><s:c t="s"><s:v>0</s:v></s:c><s:c t="s"><s:v>1</s:v></s:c></s:row>)"
        R"(<s:row><s:c t="inlineStr"><s:is><s:t>in_x0009_line</s:t></s:is></s:c>)"
        R"(<s:c t="str"><s:f>X()</s:f><s:v>_x005F_x0041_ &amp; _xD83D__xDE00_</s:v></s:c></s:row>)"
        R"(<s:row r="5"><s:c r="C5" t="e"><s:v>#N/A</s:v></s:c><s:c t="b"><s:v>1</s:v></s:c>)"
        R"(<s:c t="d"><s:v>1900-03-01T12:00:00</s:v></s:c><s:c t="s"><s:v>99</s:v></s:c></s:row>)"
        R"(</s:sheetData></s:worksheet>)";
    std::string strings =
        R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        R"(<si><t>first</t></si><si><r><t>ka</t></r><r><t xml:space="preserve"> ji</t></r>)"
        R"(<rPh sb="0" eb="1"><t>KANA</t></rPh></si></sst>)";
    gqtest::WriteHandMadeXlsx(path, sheet, strings);
    Texts texts = ShownTexts(path);
    EXPECT_EQ(texts["Données!1,1"], "first");
    EXPECT_EQ(texts["Données!1,2"], "ka ji");
    EXPECT_EQ(texts["Données!2,1"], "in\tline");
    EXPECT_EQ(texts["Données!2,2"], "_x0041_ & \xF0\x9F\x98\x80");
    EXPECT_EQ(texts["Données!5,3"], "#N/A");
    EXPECT_EQ(texts["Données!5,4"], "TRUE");
    EXPECT_EQ(texts["Données!5,5"], "61.5");   // General shows the serial of a date without format
    EXPECT_EQ(texts.count("Données!5,6"), 0u); // a shared-string index past the table
    // The claimed dimension is not trusted: the used range is what the stored cells span.
    gq::Workbook workbook(path);
    EXPECT_EQ(workbook.worksheets()[0]->lastCell().row(), 5u);
    EXPECT_EQ(workbook.worksheets()[0]->lastCell().column(), 6u);
}

TEST(XlsxReader, PassesCellsInRowMajorOrderWhateverOrderThePartListsThemIn) {
    // A cell before one it follows, a row before one it follows, a cell twice: the reader keeps
    // the order its callers rely on (the text export once wrote four billion TABs for this).
    gqtest::TempDir dir;
    std::string path = dir.path("unordered.xlsx");
    gqtest::WriteHandMadeXlsx(
        path, gqtest::Sheet(R"(<row r="1"><c r="C1"><v>3</v></c><c r="A1"><v>1</v></c></row>)"
                            R"(<row r="5"><c r="B5"><v>5</v></c><c r="B5"><v>6</v></c></row>)"
                            R"(<row r="2"><c r="A2"><v>2</v></c></row>)"));
    EXPECT_EQ(ShownTexts(path), (Texts{{"Données!1,3", "3"}, {"Données!5,2", "5"}}));
    gq::Workbook workbook(path);
    std::string out = dir.path("unordered.txt");
    workbook.saveAs(out, gq::FileFormat::TextTabDelimited, workbook.worksheets()[0].get());
    EXPECT_EQ(gqtest::ReadFile(out), "\t\t3\r\n\r\n\r\n\r\n\t5\r\n");
}

TEST(XlsxReader, ReadsTheStrictVariantAnd1904Dates) {
    gqtest::TempDir dir;
    std::string path = dir.path("strict.xlsx");
    std::string ns = "http://purl.oclc.org/ooxml/officeDocument/relationships";
    std::string sheet =
        R"(<worksheet xmlns="http://purl.oclc.org/ooxml/spreadsheetml/main"><sheetData>)"
        R"(<row r="1"><c r="A1" t="d"><v>1904-01-02</v></c><c r="B1"><v>7</v></c></row>)"
        R"(</sheetData></worksheet>)";
    gqtest::WriteZip(
        path,
        {{"[Content_Types].xml", gqtest::kContentTypes},
         {"_rels/.rels", gqtest::RootRels("xl/workbook.xml", ns)},
         {"xl/workbook.xml",
          R"(<workbook xmlns="http://purl.oclc.org/ooxml/spreadsheetml/main" xmlns:r=")" + ns +
              R"("><workbookPr date1904="true"/><sheets><sheet name="S" sheetId="1" r:id="a"/>)"
              R"(</sheets></workbook>)"},
         {"xl/_rels/workbook.xml.rels",
          R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
          R"(<Relationship Id="a" Type=")" +
              ns + R"(/worksheet" Target="worksheets/sheet1.xml"/></Relationships>)"},
         {"xl/worksheets/sheet1.xml", sheet}});
    gq::Workbook workbook(path);
    ASSERT_EQ(workbook.worksheets().size(), 1u);
    EXPECT_EQ(workbook.worksheets()[0]->text(1, 1), "1"); // day 1 of the 1904 system
    EXPECT_EQ(workbook.worksheets()[0]->text(1, 2), "7");
}

TEST(XlsxReader, TheDateSystemComesFromTheWorkbooksOwnProperties) {
    gqtest::TempDir dir;
    std::string path = dir.path("1904.xlsx");
    // Later programs add a workbookPr of their own namespace in an extension list.
    gqtest::WriteHandMadeXlsx(path,
                              gqtest::Sheet(R"(<row r="1"><c r="A1" s="0"><v>1</v></c></row>)"), "",
                              R"(<x:workbookPr date1904="1"/><x:extLst><x:ext uri="{1}">)"
                              R"(<x15:workbookPr xmlns:x15="urn:x15" chartTrackingRefBase="1"/>)"
                              R"(</x:ext></x:extLst>)");
    EXPECT_TRUE(gq::OpenFormatReader(path)->styles().date1904);

    std::string real = gqtest::RealFixture("SheetJS_test_files__1904__1904.xlsx");
    if (real.empty())
        GTEST_SKIP() << "the shared real workbooks are not beside the project";
    EXPECT_TRUE(gq::OpenFormatReader(real)->styles().date1904);
}

TEST(XlsxReader, LongStringsAreCutAsACellHoldsThemAndSharedOnesTravelByIndex) {
    gqtest::TempDir dir;
    std::string path = dir.path("long.xlsx");
    const std::string longText = "tea" + std::string(100000, 'a');
    // An escaped character takes seven bytes in the file but one in the cell.
    std::string escaped;
    for (int i = 0; i < 40000; ++i)
        escaped += "_x0041_";
    gqtest::WriteHandMadeXlsx(
        path,
        gqtest::Sheet(R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>0</v></c>)"
                      R"(<c r="C1" t="inlineStr"><is><t>)" +
                      longText + R"(</t></is></c><c r="D1" t="s"><v>1</v></c></row>)"),
        R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>)" +
            longText + "</t></si><si><t>" + escaped + "</t></si></sst>");
    auto reader = gq::OpenFormatReader(path);
    std::vector<gq::Cell> cells;
    std::vector<std::string> texts;
    class Collect : public gq::CellVisitor {
    public:
        Collect(std::vector<gq::Cell>& cells, std::vector<std::string>& texts)
            : cells_(cells), texts_(texts) {}
        bool visit(const gq::Cell& cell) override {
            cells_.push_back(cell);
            texts_.emplace_back(cell.text);
            return true;
        }

    private:
        std::vector<gq::Cell>& cells_;
        std::vector<std::string>& texts_;
    } collect(cells, texts);
    reader->readCells(0, collect);
    ASSERT_EQ(cells.size(), 4u);
    const std::string cut = longText.substr(0, gq::kMaxCellChars);
    EXPECT_EQ(texts[0], cut);
    EXPECT_EQ(texts[1], cut);
    EXPECT_EQ(texts[2], cut);
    EXPECT_EQ(texts[3], std::string(gq::kMaxCellChars, 'A'));
    EXPECT_EQ(cells[0].sharedString, 0u);
    EXPECT_EQ(cells[3].sharedString, 1u);
    EXPECT_EQ(cells[2].sharedString, gq::kNotShared);
    // Both cells of the first string show the one copy the reader keeps.
    EXPECT_EQ(cells[0].text.data(), cells[1].text.data());
}

TEST(XlsxReader, RefusesDamagedAndHostilePackagesWithAReason) {
    gqtest::TempDir dir;
    std::string good = dir.path("good.xlsx");
    gqtest::WriteXlsx(good, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        for (int row = 0; row < 2000; ++row)
            worksheet_write_string(sheet, row, 0, "some text to compress", nullptr);
    });
    std::string bytes = gqtest::ReadFile(good);

    std::string cut = dir.path("cut.xlsx");
    gqtest::WriteFile(cut, bytes.substr(0, bytes.size() / 2));
    EXPECT_NE(ErrorOf(cut), "");

    std::string noWorkbook = dir.path("noworkbook.xlsx");
    gqtest::WriteZip(noWorkbook, {{"hello.txt", "hi"}});
    EXPECT_EQ(ErrorOf(noWorkbook), gq::kNotAWorkbook);

    std::string badXml = dir.path("badxml.xlsx");
    gqtest::WriteHandMadeXlsx(badXml, "<worksheet><sheetData><row><c>");
    EXPECT_NE(ErrorOf(badXml).find(gq::kNotAWorkbook), std::string::npos);

    // 300 MB of zeros squeezed into a few hundred kilobytes: refused, not inflated to the end.
    std::string bomb = dir.path("bomb.xlsx");
    gqtest::WriteHandMadeXlsx(bomb, gqtest::Sheet("") + std::string(300u << 20, ' '));
    EXPECT_NE(ErrorOf(bomb).find("decompression bomb"), std::string::npos);

    // Nesting costs the parser memory at every level: a part nested absurdly deep is refused.
    std::string nested = dir.path("nested.xlsx");
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<x>";
    gqtest::WriteHandMadeXlsx(nested, gqtest::Sheet(deep));
    EXPECT_NE(ErrorOf(nested).find("nested too deeply"), std::string::npos);

    std::string missing = dir.path("missing.xlsx");
    EXPECT_EQ(ErrorOf(missing), "The file does not exist");
    std::string empty = dir.path("empty.xlsx");
    gqtest::WriteFile(empty, "");
    EXPECT_EQ(ErrorOf(empty), "The file is empty");
    std::string binary = dir.path("binary.xlsx");
    gqtest::WriteFile(binary, std::string("\x7F"
                                          "ELF\0\0\0",
                                          7));
    EXPECT_EQ(ErrorOf(binary), gq::kNotAWorkbook);
    std::string pdf = dir.path("report.xls"); // binary without NUL bytes is no text either
    std::string body(4096, 'x');
    for (std::size_t i = 0; i < body.size(); i += 17)
        body[i] = static_cast<char>(0x01 + i % 7);
    gqtest::WriteFile(pdf, "%PDF-1.4\n" + body);
    EXPECT_EQ(ErrorOf(pdf), gq::kNotAWorkbook);
}

TEST(TextExport, WritesRowsFromColumnAWithQuotesAndCrLf) {
    gqtest::TempDir dir;
    std::string path = dir.path("export.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        worksheet_write_string(sheet, 0, 1, "b1", nullptr);
        worksheet_write_string(sheet, 2, 0, "say \"hi\"", nullptr);
        worksheet_write_string(sheet, 2, 3, "two\nlines", nullptr);
        worksheet_write_number(sheet, 3, 2, 5, nullptr);
        // Long texts, where what needs quotes lies past the first eight bytes, or nothing does
        // though other control characters are there.
        worksheet_write_string(sheet, 4, 0, "ordinary text of many words", nullptr);
        worksheet_write_string(sheet, 4, 1, "bell\x07 and a late \"quote\"", nullptr);
        worksheet_write_string(sheet, 4, 2, "eight by\ttab", nullptr);
        worksheet_write_string(sheet, 4, 3, "\x0b\x0c only controls below 0x0E", nullptr);
        // Texts shorter than eight bytes, which are looked at byte by byte.
        worksheet_write_string(sheet, 5, 0, "a\"b", nullptr);
        worksheet_write_string(sheet, 5, 1, "x\ty", nullptr);
        worksheet_write_string(sheet, 5, 2, "\x01z", nullptr);
    });
    gq::Workbook workbook(path);
    std::string out = dir.path("export.txt");
    workbook.saveAs(out, gq::FileFormat::TextTabDelimited, workbook.worksheets()[0].get());
    EXPECT_EQ(
        gqtest::ReadFile(out),
        "\tb1\r\n\r\n\"say \"\"hi\"\"\"\t\t\t\"two\nlines\"\r\n\t\t5\r\n"
        "ordinary text of many words\t\"bell\x07 and a late \"\"quote\"\"\"\t\"eight by\ttab\"\t"
        "\x0b\x0c only controls below 0x0E\r\n\"a\"\"b\"\t\"x\ty\"\t\x01z\r\n");
}

// Numbers go into the export as the cell shows them, written in place where their format allows:
// grouped, percent and dated; one shown as nothing is no field; one whose format shows a quote is
// quoted; formats of other shapes and a date outside the calendar take the long way.
TEST(TextExport, NumbersAreWrittenAsShownWhereverTheyStand) {
    gqtest::TempDir dir;
    std::string path = dir.path("numbers.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        auto format = [&](const char* code) {
            lxw_format* made = workbook_add_format(workbook);
            format_set_num_format(made, code);
            return made;
        };
        worksheet_write_number(sheet, 0, 0, 1234567.891, format("#,##0.00"));
        worksheet_write_number(sheet, 0, 1, -123456.78, format("#,##0.00"));
        worksheet_write_number(sheet, 0, 2, 0.25, format("0.00%"));
        worksheet_write_number(sheet, 0, 4, 45000.5, format("yyyy-mm-dd hh:mm"));
        worksheet_write_number(sheet, 1, 0, 0, format("#"));
        worksheet_write_number(sheet, 1, 2, -2, format("0.00;(0.00)"));
        worksheet_write_number(sheet, 1, 4, 3, format("0\\\"\" inches\""));
        worksheet_write_number(sheet, 2, 0, 1.0 / 3, nullptr);
        worksheet_write_number(sheet, 2, 1, 1.5, format("# ?/?"));
        worksheet_write_number(sheet, 2, 2, -45000, format("yyyy-mm-dd"));
    });
    gq::Workbook workbook(path);
    std::string out = dir.path("numbers.txt");
    workbook.saveAs(out, gq::FileFormat::TextTabDelimited, workbook.worksheets()[0].get());
    EXPECT_EQ(gqtest::ReadFile(out), "1,234,567.89\t-123,456.78\t25.00%\t\t2023-03-15 12:00\r\n"
                                     "\t\t(2.00)\t\t\"3\"\" inches\"\r\n"
                                     "0.333333333\t1 1/2\t########\r\n");
}

// Texts of every length up to a few words, plain and with a quote, TAB, CR or LF at each place:
// the copy takes short texts in overlapping pieces whose sizes hang on the length.
TEST(TextExport, AQuoteOrBreakAnywhereInATextOfAnyLengthIsQuoted) {
    gqtest::TempDir dir;
    std::string path = dir.path("lengths.xlsx");
    const char specials[] = {'"', '\t', '\r', '\n'};
    std::vector<std::string> texts;
    for (std::size_t length = 1; length <= 40; ++length) {
        std::string plain;
        for (std::size_t i = 0; i < length; ++i)
            plain += static_cast<char>('a' + i % 26); // a byte out of place shows
        texts.push_back(plain);
        for (std::size_t at = 0; at < length; ++at) {
            texts.push_back(plain);
            texts.back()[at] = specials[(length + at) % 4];
        }
    }
    gqtest::WriteXlsx(path, [&](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        for (std::size_t row = 0; row < texts.size(); ++row)
            worksheet_write_string(sheet, static_cast<lxw_row_t>(row), 1, texts[row].c_str(),
                                   nullptr);
    });
    std::string expected;
    for (const std::string& text : texts) {
        expected += '\t';
        if (text.find_first_of("\"\t\r\n") == std::string::npos) {
            expected += text;
        } else {
            expected += '"';
            for (char c : text)
                expected += c == '"' ? std::string("\"\"") : std::string(1, c);
            expected += '"';
        }
        expected += "\r\n";
    }
    gq::Workbook workbook(path);
    std::string out = dir.path("lengths.txt");
    workbook.saveAs(out, gq::FileFormat::TextTabDelimited, workbook.worksheets()[0].get());
    EXPECT_EQ(gqtest::ReadFile(out), expected);
}

TEST(TextExport, ALineIsCutAtItsBoundAndTheRowsAfterItFollow) {
    gqtest::TempDir dir;
    std::string path = dir.path("wide.xlsx");
    const std::string cell(30000, 'w');
    gqtest::WriteXlsx(path, [&](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        for (int col = 0; col < 300; ++col)
            worksheet_write_string(sheet, 0, col, cell.c_str(), nullptr);
        // Numbers past the bound, written in place, are left out as texts are.
        for (int col = 300; col < 310; ++col)
            worksheet_write_number(sheet, 0, col, col, nullptr);
        worksheet_write_string(sheet, 1, 0, "after", nullptr);
    });
    gq::Workbook workbook(path);
    std::string out = dir.path("export.txt");
    workbook.saveAs(out, gq::FileFormat::TextTabDelimited, workbook.worksheets()[0].get());
    std::string text = gqtest::ReadFile(out);
    std::size_t end = text.find("\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(end, 4u << 20); // 9 MB of row, cut at 4 MiB
    EXPECT_EQ(text.substr(end), "\r\nafter\r\n");
}

// A reader takes each block where it ends in the file; when it has the export start over, the
// next block is written from the file's start, and the file ends with the last round's text.
TEST(TextExport, AReaderTakesEveryBlockAndMayHaveTheFileStartOver) {
    gqtest::TempDir dir;
    std::string path = dir.path("rows.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        for (int row = 0; row < 20000; ++row)
            worksheet_write_string(sheet, row, 0, ("row " + std::to_string(row)).c_str(), nullptr);
    });
    gq::Workbook workbook(path);
    gq::Worksheet* sheet = workbook.worksheets()[0].get();
    std::string out = dir.path("export.txt");
    workbook.saveAs(out, gq::FileFormat::TextTabDelimited, sheet);
    const std::string whole = gqtest::ReadFile(out);
    ASSERT_GT(whole.size(), 200000u);
    // A longer file in its place is written over and cut to the export.
    std::ofstream(out, std::ios::binary) << std::string(whole.size() + 1000, 'x');
    workbook.saveAs(out, gq::FileFormat::TextTabDelimited, sheet);
    EXPECT_TRUE(gqtest::ReadFile(out) == whole);

    for (gq::ExportNext after : {gq::ExportNext::StartOver, gq::ExportNext::Stop}) {
        std::string taken;
        std::size_t round = 0, rounds = 0, lastRoundStart = 0;
        std::ifstream file;
        workbook.saveAs(out, gq::FileFormat::TextTabDelimited, sheet, [&](std::uint64_t end) {
            file.open(out, std::ios::binary);
            file.seekg(static_cast<std::streamoff>(round));
            std::string block(end - round, '\0');
            file.read(block.data(), static_cast<std::streamsize>(block.size()));
            file.close();
            taken += block;
            round = end;
            if (round < 60000)
                return gq::ExportNext::Continue;
            ++rounds;
            round = 0;
            lastRoundStart = taken.size();
            return after;
        });
        if (after == gq::ExportNext::StartOver) {
            EXPECT_TRUE(taken == whole);
            EXPECT_GT(rounds, 1u);
            EXPECT_TRUE(gqtest::ReadFile(out) == whole.substr(lastRoundStart));
        } else {
            EXPECT_EQ(rounds, 1u);
            EXPECT_TRUE(taken == whole.substr(0, taken.size()));
            EXPECT_TRUE(taken.ends_with("\r\n"));
        }
    }
}

} // namespace
