#include "CellText.h"
#include "DisplayText.h"
#include "Error.h"
#include "OdsOutline.h"
#include "OdsReader.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <type_traits>

namespace {

using gqtest::WriteZip;
using Grid = std::map<std::pair<std::uint32_t, std::uint32_t>, std::string>;

struct SheetText {
    std::string name;
    Grid cells;
};

class Visitor : public gq::CellVisitor {
public:
    explicit Visitor(std::function<bool(const gq::Cell&)> f) : f_(std::move(f)) {}
    bool visit(const gq::Cell& cell) override { return f_(cell); }

private:
    std::function<bool(const gq::Cell&)> f_;
};

Grid ReadSheet(gq::FormatReader& reader, std::size_t index) {
    gq::DisplayText display(reader.styles());
    Grid grid;
    std::string text;
    std::pair<std::uint32_t, std::uint32_t> last{0, 0};
    Visitor visitor([&](const gq::Cell& cell) {
        std::pair<std::uint32_t, std::uint32_t> at{cell.row, cell.col};
        EXPECT_LT(last, at) << "cells out of row-major order";
        last = {cell.row, cell.col + cell.repeat - 1};
        display.textOf(cell, text);
        for (std::uint32_t i = 0; i < cell.repeat && !text.empty(); ++i)
            grid[{cell.row, cell.col + i}] = text;
        return true;
    });
    reader.readCells(index, visitor);
    return grid;
}

std::vector<SheetText> ReadAll(gq::FormatReader& reader) {
    std::vector<SheetText> sheets;
    for (std::size_t i = 0; i < reader.worksheetNames().size(); ++i)
        sheets.push_back({reader.worksheetNames()[i], ReadSheet(reader, i)});
    return sheets;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

// fixture.ods.shown.tsv, as make-fixtures writes it.
std::vector<SheetText> ReadExpectation() {
    std::istringstream in(gqtest::ReadFile(GQ_TEST_DATA_DIR "/ods/fixture.ods.shown.tsv"));
    std::vector<SheetText> sheets;
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("sheet\t")) {
            sheets.push_back({Unescape(line.substr(6)), {}});
            continue;
        }
        std::size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        if (sheets.empty() || tab2 == std::string::npos)
            continue;
        sheets.back().cells[{std::stoul(line.substr(0, tab1)),
                             std::stoul(line.substr(tab1 + 1, tab2 - tab1 - 1))}] =
            Unescape(line.substr(tab2 + 1));
    }
    return sheets;
}

// Every difference at once, so that one run shows them all.
std::string Differences(const std::vector<SheetText>& expected, const std::vector<SheetText>& got,
                        const std::map<std::string, std::string>& overrides = {}) {
    std::ostringstream out;
    if (expected.size() != got.size())
        out << "sheet count " << got.size() << ", expected " << expected.size() << "\n";
    for (std::size_t s = 0; s < std::min(expected.size(), got.size()); ++s) {
        if (expected[s].name != got[s].name)
            out << "sheet " << s << " named '" << got[s].name << "', expected '" << expected[s].name
                << "'\n";
        Grid want = expected[s].cells;
        for (const auto& [key, text] : overrides)
            if (key.starts_with(expected[s].name + "!")) {
                std::istringstream at(key.substr(expected[s].name.size() + 1));
                std::uint32_t row = 0, col = 0;
                char comma;
                at >> row >> comma >> col;
                want[{row, col}] = text;
            }
        Grid all = want;
        all.insert(got[s].cells.begin(), got[s].cells.end());
        for (const auto& [at, unused] : all) {
            auto w = want.find(at);
            auto g = got[s].cells.find(at);
            std::string wanted = w == want.end() ? "" : w->second;
            std::string have = g == got[s].cells.end() ? "" : g->second;
            if (wanted != have)
                out << expected[s].name << "!R" << at.first << "C" << at.second << ": got '" << have
                    << "', expected '" << wanted << "'\n";
        }
    }
    return out.str();
}

std::map<std::string, std::string> ReadZip(const std::string& path) {
    std::map<std::string, std::string> entries;
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!zip)
        throw std::runtime_error("cannot open " + path);
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(zip, i, 0, &stat);
        std::string bytes(stat.size, '\0');
        zip_file_t* file = zip_fopen_index(zip, i, 0);
        zip_fread(file, bytes.data(), bytes.size());
        zip_fclose(file);
        entries[stat.name] = bytes;
    }
    zip_discard(zip);
    return entries;
}

const char kNamespaces[] =
    R"( xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"
    R"( xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0")"
    R"( xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0")"
    R"( xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0")"
    R"( xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0")"
    R"( xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0")"
    R"( xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0")";

std::string Content(const std::string& tables, const std::string& styles = "",
                    const std::string& settings = "") {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content") +
           kNamespaces + "><office:automatic-styles>" + styles +
           "</office:automatic-styles><office:body><office:spreadsheet>" + settings + tables +
           "</office:spreadsheet></office:body></office:document-content>";
}

std::string Table(const std::string& name, const std::string& rows) {
    return "<table:table table:name=\"" + name + "\">" + rows + "</table:table>";
}

std::string OneCell(const std::string& cell) {
    return Table("S", "<table:table-row>" + cell + "</table:table-row>");
}

std::string WriteOds(const gqtest::TempDir& dir, const std::string& content,
                     const std::string& name = "book.ods") {
    std::string path = dir.path(name);
    WriteZip(path, {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                    {"content.xml", content}});
    return path;
}

// Every cell a run stands for, one by one.
std::vector<gq::Cell> Cells(gq::FormatReader& reader, std::size_t sheet,
                            std::vector<std::string>* texts = nullptr) {
    std::vector<gq::Cell> cells;
    Visitor visitor([&](const gq::Cell& run) {
        for (std::uint32_t i = 0; i < run.repeat; ++i) {
            gq::Cell cell = run;
            cell.col += i;
            cell.repeat = 1;
            cells.push_back(cell);
            if (texts)
                texts->emplace_back(cell.text);
        }
        return true;
    });
    reader.readCells(sheet, visitor);
    return cells;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

// ---- the fixture that LibreOffice wrote, against what it shows

TEST(OdsReader, FixtureShowsWhatLibreOfficeShows) {
    auto reader = gq::OpenFormatReader(GQ_TEST_DATA_DIR "/ods/fixture.ods");
    EXPECT_EQ(Differences(ReadExpectation(), ReadAll(*reader)), "");
}

// A copy of the workbook at `path` with the text of every number, date, time and boolean cell
// removed, as writers other than LibreOffice store them.
std::string WithoutValueText(const std::string& path, const gqtest::TempDir& dir) {
    auto entries = ReadZip(path);
    std::string& content = entries["content.xml"];
    std::string stripped;
    std::size_t at = 0;
    while (at < content.size()) {
        std::size_t cell = content.find("<table:table-cell ", at);
        if (cell == std::string::npos)
            break;
        std::size_t tagEnd = content.find('>', cell);
        std::string tag = content.substr(cell, tagEnd - cell);
        std::size_t cellEnd = content.find("</table:table-cell>", tagEnd);
        stripped += content.substr(at, tagEnd + 1 - at);
        at = tagEnd + 1;
        bool value = tag.find("office:value-type=\"string\"") == std::string::npos &&
                     tag.find("office:value-type=") != std::string::npos;
        if (!value || tag.back() == '/' || cellEnd == std::string::npos)
            continue;
        std::string inner = content.substr(at, cellEnd - at);
        for (std::size_t p; (p = inner.find("<text:p")) != std::string::npos;) {
            std::size_t end = inner.find("</text:p>", p);
            inner.erase(p, end == std::string::npos ? inner.find("/>", p) + 2 - p : end + 9 - p);
        }
        stripped += inner;
        at = cellEnd;
    }
    content = stripped + content.substr(at);
    std::string copy = dir.path("values.ods");
    WriteZip(copy, {entries.begin(), entries.end()});
    return copy;
}

// Without their text, the values go through the format codes derived from the number styles.
// Needs the number format engine.
TEST(OdsReader, ValuesWithoutTextShowThroughTheirNumberStyles) {
    gqtest::TempDir dir;
    std::string path = WithoutValueText(GQ_TEST_DATA_DIR "/ods/fixture.ods", dir);
    auto reader = gq::OpenOdsReader(path);
    std::map<std::string, std::string> overrides = {
        // LibreOffice's General shows every digit; a standard-width column shows 11 characters.
        {"Numbers!5,1", "1E-07"},
        {"Numbers!6,1", "1.23457E+11"},
        {"Numbers!7,1", "3.141592654"},
        // 31 December 1899 has no serial in the 1900 date system, which starts at 1 January.
        {"Dates!14,1", "1900-01-01"},
        // A fraction is the last continued-fraction convergent that fits, not the closest one.
        {"Numbers!18,1", "3  1/7 "},
    };
    EXPECT_EQ(Differences(ReadExpectation(), ReadAll(*reader), overrides), "");
}

TEST(OdsReader, DerivesFormatCodesFromNumberStyles) {
    // Number style XML (inside <number:X-style style:name="N">) -> format code.
    struct Case {
        std::string style;
        std::string code;
    } cases[] = {
        {R"(<number:number-style style:name="N"><number:number number:decimal-places="2" )"
         R"(number:min-integer-digits="1" number:grouping="true"/></number:number-style>)",
         "#,##0.00"},
        {R"(<number:number-style style:name="N"><number:number number:min-integer-digits="1"/>)"
         R"(</number:number-style>)",
         "General"},
        {R"(<number:number-style style:name="N"><number:number number:decimal-places="3" )"
         R"(number:min-decimal-places="1" number:min-integer-digits="0"/>)"
         R"(<number:text> "m" 2</number:text></number:number-style>)",
         "#.0## \\\"\"m\"\\\" \"2\""},
        {R"(<number:number-style style:name="N"><number:number number:decimal-places="0" )"
         R"(number:min-integer-digits="1"><number:embedded-text number:position="3">-)"
         R"(</number:embedded-text></number:number></number:number-style>)",
         "#\"-\"##0"},
        {R"(<number:number-style style:name="N"><number:scientific-number )"
         R"(number:decimal-places="2" number:min-integer-digits="1" number:min-exponent-digits="3" )"
         R"(number:forced-exponent-sign="false"/></number:number-style>)",
         "0.00E-000"},
        {R"(<number:number-style style:name="N"><number:fraction number:min-integer-digits="1" )"
         R"(number:min-numerator-digits="2" number:denominator-value="16"/></number:number-style>)",
         "0 ?\?/16"},
        {R"(<number:percentage-style style:name="N"><number:number number:decimal-places="1" )"
         R"(number:min-integer-digits="1"/><number:text> % of all</number:text>)"
         R"(</number:percentage-style>)",
         "0.0 % \"of\" \"all\""},
        {R"(<number:time-style style:name="N" number:truncate-on-overflow="false">)"
         R"(<number:minutes number:style="long"/><number:text>:</number:text>)"
         R"(<number:seconds number:style="long" number:decimal-places="2"/><number:text>.</number:text>)"
         R"(</number:time-style>)",
         "[mm]:ss.00\".\""},
        {R"(<number:date-style style:name="N"><number:day-of-week/><number:text>, </number:text>)"
         R"(<number:day/><number:text>. </number:text><number:month number:textual="true" )"
         R"(number:style="long"/><number:text> </number:text><number:year/><number:text> Q</number:text>)"
         R"(<number:quarter/></number:date-style>)",
         "ddd, d\".\" mmmm yy \"Q\""},
        {R"(<number:boolean-style style:name="N"><number:boolean/></number:boolean-style>)",
         "\"TRUE\";\"TRUE\";\"FALSE\""},
        {R"(<number:currency-style style:name="N" number:country="GB"><number:currency-symbol/>)"
         R"(<number:number number:decimal-places="2" number:min-integer-digits="1"/>)"
         R"(</number:currency-style>)",
         "\"\xC2\xA3\"0.00"},
        // Conditions other than the plain section layouts stay conditions.
        {R"(<number:number-style style:name="P0"><number:text>big</number:text></number:number-style>)"
         R"(<number:number-style style:name="P1"><number:text>none</number:text></number:number-style>)"
         R"(<number:number-style style:name="N"><number:number number:decimal-places="1" )"
         R"(number:min-integer-digits="1"/><style:map style:condition="value()&gt;100" )"
         R"(style:apply-style-name="P0"/><style:map style:condition="value() = 0" )"
         R"(style:apply-style-name="P1"/></number:number-style>)",
         "[>100]\"big\";[=0]\"none\";0.0"},
        {R"(<number:number-style style:name="P0"><number:number number:decimal-places="0" )"
         R"(number:min-integer-digits="1"/></number:number-style>)"
         R"(<number:number-style style:name="N"><number:text>(</number:text><number:number )"
         R"(number:decimal-places="0" number:min-integer-digits="1"/><number:text>)</number:text>)"
         R"(<style:map style:condition="value()&lt;0" style:apply-style-name="P0"/>)"
         R"(</number:number-style>)",
         "(0);0"},
    };
    gqtest::TempDir dir;
    for (const Case& c : cases) {
        std::string styles = c.style + R"(<style:style style:name="ce1" style:family="table-cell" )"
                                       R"(style:data-style-name="N"/>)";
        std::string path = WriteOds(
            dir,
            Content(OneCell(R"(<table:table-cell table:style-name="ce1" office:value-type="float" )"
                            R"(office:value="-1.5"/>)"),
                    styles));
        auto reader = gq::OpenOdsReader(path);
        auto cells = Cells(*reader, 0);
        ASSERT_EQ(cells.size(), 1u) << c.style;
        ASSERT_LT(cells[0].style, reader->styles().styleCount());
        EXPECT_EQ(reader->styles().code(cells[0].style), c.code) << c.style;
    }
}

TEST(OdsReader, RealWorkbooksShowWhatLibreOfficeShows) {
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(GQ_REAL_FIXTURES_DIR, error))
        if (entry.path().extension() == ".ods" &&
            std::filesystem::is_directory(entry.path().string() + ".shown"))
            paths.push_back(entry.path().string());
    if (paths.empty())
        GTEST_SKIP() << "the shared real workbooks are not beside the project";
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
        std::vector<SheetText> expected;
        for (const auto& sheet : gqtest::ReadShownExport(path + ".shown")) {
            SheetText& want = expected.emplace_back();
            want.name = sheet.name;
            for (std::size_t r = 0; r < sheet.rows.size(); ++r)
                for (std::size_t c = 0; c < sheet.rows[r].size(); ++c)
                    if (!sheet.rows[r][c].empty())
                        want.cells[{std::uint32_t(r + 1), std::uint32_t(c + 1)}] = sheet.rows[r][c];
        }
        auto reader = gq::OpenFormatReader(path);
        EXPECT_EQ(Differences(expected, ReadAll(*reader)), "") << path;
        gqtest::TempDir dir;
        auto values = gq::OpenFormatReader(WithoutValueText(path, dir));
        EXPECT_EQ(Differences(expected, ReadAll(*values)), "") << path << " without value text";
    }
}

// ---- cell text and values

TEST(OdsReader, CellTextIsTheParagraphsAsShown) {
    struct Case {
        std::string content;
        std::string text;
    } cases[] = {
        {"<text:p>a<text:s text:c=\"3\"/>b<text:s/></text:p>", "a   b "},
        {"<text:p>x<text:tab/>y<text:line-break/>z</text:p>", "x\ty\nz"},
        {"<text:p>one</text:p><text:p/><text:p>three</text:p>", "one\n\nthree"},
        {"<text:p><text:span>Bo<text:span>ld</text:span></text:span> "
         "<text:a>link</text:a></text:p>",
         "Bold link"},
        {"<office:annotation><text:p>note</text:p></office:annotation><text:p>cell</text:p>",
         "cell"},
        {"<text:p>before<draw:frame><draw:text-box><text:p>shape</text:p></draw:text-box>"
         "</draw:frame>after</text:p>",
         "beforeafter"},
        {"<text:p>\n   pretty   printed\n  </text:p>", "pretty printed "},
        {"<text:list><text:list-item><text:p>i</text:p></text:list-item><text:list-item>"
         "<text:p>ii</text:p></text:list-item></text:list>",
         "i\nii"},
        {"<text:h>&lt;head&gt; &amp; &#x263A;</text:h>", "<head> & \xE2\x98\xBA"},
    };
    gqtest::TempDir dir;
    for (const Case& c : cases) {
        auto reader = gq::OpenOdsReader(
            WriteOds(dir, Content(OneCell("<table:table-cell office:value-type=\"string\">" +
                                          c.content + "</table:table-cell>"))));
        std::vector<std::string> texts;
        auto cells = Cells(*reader, 0, &texts);
        ASSERT_EQ(cells.size(), 1u) << c.content;
        EXPECT_EQ(cells[0].kind, gq::CellKind::String);
        EXPECT_EQ(texts[0], c.text) << c.content;
    }
}

TEST(OdsReader, ValuesWithoutTextBecomeNumbersWithAFormat) {
    struct Case {
        std::string attributes;
        gq::CellKind kind;
        double number;
        std::string code;
    } cases[] = {
        {R"(office:value-type="float" office:value="1234.5")", gq::CellKind::Number, 1234.5,
         "General"},
        {R"(office:value-type="percentage" office:value="0.25")", gq::CellKind::Number, 0.25, "0%"},
        {R"(office:value-type="currency" office:currency="EUR" office:value="-3.5")",
         gq::CellKind::Number, -3.5, "\xE2\x82\xAC#,##0.00"},
        {R"(office:value-type="date" office:date-value="2021-03-07")", gq::CellKind::Number, 44262,
         "m/d/yyyy"},
        {R"(office:value-type="date" office:date-value="2021-03-07T10:30:00Z")",
         gq::CellKind::Number, 44262.4375, "m/d/yyyy h:mm"},
        {R"(office:value-type="date" office:date-value="1900-01-01")", gq::CellKind::Number, 1,
         "m/d/yyyy"},
        {R"(office:value-type="date" office:date-value="1900-03-01")", gq::CellKind::Number, 61,
         "m/d/yyyy"},
        {R"(office:value-type="time" office:time-value="PT30H15M00S")", gq::CellKind::Number,
         30.25 / 24, "[h]:mm:ss"},
        {R"(office:value-type="time" office:time-value="P1DT0H0M1.5S")", gq::CellKind::Number,
         1 + 1.5 / 86400, "[h]:mm:ss"},
        {R"(office:value-type="boolean" office:boolean-value="true")", gq::CellKind::Boolean, 1,
         "General"},
        {R"(office:value="7")", gq::CellKind::Number, 7, "General"},
    };
    gqtest::TempDir dir;
    for (const Case& c : cases) {
        auto reader = gq::OpenOdsReader(
            WriteOds(dir, Content(OneCell("<table:table-cell " + c.attributes + "/>"))));
        auto cells = Cells(*reader, 0);
        ASSERT_EQ(cells.size(), 1u) << c.attributes;
        EXPECT_EQ(cells[0].kind, c.kind) << c.attributes;
        EXPECT_NEAR(cells[0].number, c.number, 1e-9) << c.attributes;
        EXPECT_EQ(reader->styles().code(cells[0].style), c.code) << c.attributes;
    }
}

TEST(OdsReader, CellsWithoutParagraphsAndCoveredCells) {
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(WriteOds(
        dir, Content(Table("S", "<table:table-row><table:table-cell office:value-type=\"float\" "
                                "office:value=\"2\"><text:p/></table:table-cell>"
                                "<table:table-cell office:value-type=\"string\" "
                                "office:string-value=\"kept\"/><table:table-cell "
                                "office:value-type=\"date\" office:date-value=\"soon\"/>"
                                "<table:covered-table-cell table:number-columns-repeated=\"2\"/>"
                                "<table:covered-table-cell office:value-type=\"string\">"
                                "<text:p>hidden by a merge</text:p></table:covered-table-cell>"
                                "</table:table-row>"))));
    std::vector<std::string> texts;
    auto cells = Cells(*reader, 0, &texts);
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].kind, gq::CellKind::Number);
    EXPECT_EQ(texts[1], "kept");
    EXPECT_EQ(texts[2], "soon"); // an unreadable value is shown as written
    EXPECT_EQ(cells[3].col, 6u);
    EXPECT_EQ(texts[3], "hidden by a merge");
}

TEST(OdsReader, StylesComeFromTheCellThenTheRowThenTheColumn) {
    std::string styles =
        R"(<number:number-style style:name="N1"><number:number number:decimal-places="1" )"
        R"(number:min-integer-digits="1"/></number:number-style>)"
        R"(<number:number-style style:name="N2"><number:number number:decimal-places="2" )"
        R"(number:min-integer-digits="1"/></number:number-style>)"
        R"(<number:number-style style:name="N3"><number:number number:decimal-places="3" )"
        R"(number:min-integer-digits="1"/></number:number-style>)"
        R"(<style:style style:name="Parent" style:family="table-cell" style:data-style-name="N1"/>)"
        R"(<style:style style:name="c1" style:family="table-cell" style:parent-style-name="Parent"/>)"
        R"(<style:style style:name="c2" style:family="table-cell" style:data-style-name="N2"/>)"
        R"(<style:style style:name="c3" style:family="table-cell" style:data-style-name="N3"/>)";
    std::string rows =
        R"(<table:table-column table:number-columns-repeated="2" table:default-cell-style-name="c3"/>)"
        R"(<table:table-row><table:table-cell table:style-name="c1" office:value-type="float" )"
        R"(office:value="1"/><table:table-cell office:value-type="float" office:value="1"/>)"
        R"(<table:table-cell office:value-type="float" office:value="1"/></table:table-row>)"
        R"(<table:table-row table:default-cell-style-name="c2"><table:table-cell )"
        R"(office:value-type="float" office:value="1"/></table:table-row>)";
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(WriteOds(dir, Content(Table("S", rows), styles)));
    auto cells = Cells(*reader, 0);
    ASSERT_EQ(cells.size(), 4u);
    const auto& table = reader->styles();
    EXPECT_EQ(table.code(cells[0].style), "0.0");
    EXPECT_EQ(table.code(cells[1].style), "0.000");
    EXPECT_EQ(table.code(cells[2].style), "General");
    EXPECT_EQ(table.code(cells[3].style), "0.00");
}

TEST(OdsReader, NullDate1904SwitchesTheDateSystem) {
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(
        WriteOds(dir, Content(OneCell(R"(<table:table-cell office:value-type="date" )"
                                      R"(office:date-value="2021-03-07"/>)"),
                              "",
                              R"(<table:calculation-settings><table:null-date )"
                              R"(table:date-value="1904-01-01"/></table:calculation-settings>)")));
    EXPECT_TRUE(reader->styles().date1904);
    auto cells = Cells(*reader, 0);
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0].number, 44262 - 1462);
}

// ---- layout: sheets, repetition, limits

TEST(OdsReader, WorksheetsAreTheSpreadsheetsTablesInAnyReadingOrder) {
    std::string tables;
    for (int i = 1; i <= 4; ++i)
        tables += Table("T" + std::to_string(i),
                        "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell "
                        "office:value-type=\"string\"><text:p>s" +
                            std::to_string(i) + "</text:p></table:table-cell></table:table-row>");
    // A table inside a cell's shape is no worksheet, nor is markup in comments and the like.
    tables.insert(tables.find("</table:table-row>"),
                  "<table:table-cell><draw:frame><table:table table:name=\"inner\"/></draw:frame>"
                  "</table:table-cell>");
    tables.insert(tables.find("<table:table table:name=\"T2\""),
                  "<!-- <table:table table:name=\"c\"> --><?pi <table:table>?>"
                  "<![CDATA[<table:table table:name=\"d\">]]>");
    tables += "<table:table table:style-name=\"a>b/\" table:name='Q1 &amp; &#x263A; \"x\"'/>";
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(WriteOds(dir, Content(tables)));
    EXPECT_EQ(reader->worksheetNames(),
              (std::vector<std::string>{"T1", "T2", "T3", "T4", "Q1 & \xE2\x98\xBA \"x\""}));
    auto first = [&](std::size_t sheet) {
        std::string text;
        Visitor visitor([&](const gq::Cell& cell) {
            text = std::string(cell.text) + "@" + std::to_string(cell.row);
            return false; // stop at once: the next read must not see the rest of this sheet
        });
        reader->readCells(sheet, visitor);
        return text;
    };
    for (std::size_t sheet : {2, 0, 1, 1, 3, 0})
        EXPECT_EQ(first(sheet), "s" + std::to_string(sheet + 1) + "@1") << sheet;
    for (std::size_t sheet : {3, 1, 2}) {
        std::vector<std::string> texts;
        EXPECT_EQ(Cells(*reader, sheet, &texts).size(), 2u);
        EXPECT_EQ(texts.back(), "s" + std::to_string(sheet + 1));
    }
}

TEST(OdsReader, WorksheetsAreFoundWhereverTheOutlineScanCutsTheBody) {
    // Quotes hide what would end a tag; an inner table is no worksheet.
    const std::string cells =
        "<table:table-cell office:value-type=\"string\"><text:p>PAD</text:p></table:table-cell>"
        "<table:table-cell table:style-name='c/>'><draw:frame draw:name=\"f>/\">"
        "<table:table table:name=\"inner\"/></draw:frame></table:table-cell>";
    const std::string second =
        "<table:table table:style-name=\"a>b/\" table:name='Q &amp; \"x\"'>"
        "<table:table-row><table:table-cell office:value-type=\"string\">"
        "<text:p>q</text:p></table:table-cell></table:table-row></table:table>";
    const std::string base = Content(
        Table("A", "<table:table-row>" + cells + "</table:table-row>") + second + Table("", ""));
    const std::size_t body = base.find("<office:body");
    const std::size_t from = base.find("<table:table-cell table:style-name") - body;
    const std::size_t to = base.find("<table:table table:name=\"\"") - body;
    gqtest::TempDir dir;
    // The scan reads the body 64 KiB at a time: each shift puts that boundary on another byte.
    for (std::size_t shift = 0; shift <= to - from; ++shift) {
        std::string content = base;
        content.replace(content.find("PAD"), 3, std::string((1 << 16) + 3 - to + shift, 'p'));
        auto reader = gq::OpenOdsReader(WriteOds(dir, content));
        ASSERT_EQ(reader->worksheetNames(), (std::vector<std::string>{"A", "Q & \"x\"", "Sheet3"}))
            << shift;
        std::vector<std::string> texts;
        Cells(*reader, 1, &texts);
        EXPECT_EQ(texts, std::vector<std::string>{"q"}) << shift;
    }
}

TEST(OdsReader, RepetitionIsBoundedBySheetSize) {
    const std::string huge = "2147483648"; // 2^31
    std::string rows =
        // Empty repeats cost nothing and move the position.
        "<table:table-row table:number-rows-repeated=\"9\"><table:table-cell "
        "table:number-columns-repeated=\"" +
        huge +
        "\"/></table:table-row>"
        "<table:table-row><table:table-cell table:number-columns-repeated=\"16383\"/>"
        "<table:table-cell office:value-type=\"string\"><text:p>last</text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"string\"><text:p>past</text:p></table:table-cell>"
        "</table:table-row>"
        // A repeated value yields each cell, up to the last column.
        "<table:table-row><table:table-cell table:number-columns-repeated=\"" +
        huge +
        "\" office:value-type=\"float\" office:value=\"1\"><text:p>1</text:p></table:table-cell>"
        "</table:table-row>"
        "<table:table-row table:number-rows-repeated=\"" +
        huge +
        "\"><table:table-cell office:value-type=\"string\"><text:p>r</text:p></table:table-cell>"
        "</table:table-row>"
        "<table:table-row table:number-rows-repeated=\"18446744073709551615\"><table:table-cell/>"
        "</table:table-row><table:table-row><table:table-cell office:value-type=\"string\">"
        "<text:p>beyond</text:p></table:table-cell></table:table-row>";
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(WriteOds(dir, Content(Table("S", rows))));
    std::uint64_t count = 0, ones = 0, rs = 0;
    std::uint32_t lastRow = 0, maxCol = 0;
    Visitor visitor([&](const gq::Cell& cell) {
        ++count;
        ones += cell.text == "1" ? cell.repeat : 0;
        rs += cell.text == "r";
        EXPECT_NE(cell.text, "past");
        EXPECT_NE(cell.text, "beyond");
        lastRow = cell.row;
        maxCol = std::max(maxCol, cell.col + cell.repeat - 1);
        return true;
    });
    reader->readCells(0, visitor);
    // The repeated value arrives as one run of the whole row's width.
    EXPECT_EQ(ones, 16384u);
    EXPECT_EQ(rs, 1048576u - 11);
    EXPECT_EQ(lastRow, 1048576u);
    EXPECT_EQ(maxCol, 16384u);
}

TEST(OdsReader, RepetitionIsBoundedPerWorkbookAndEveryReadGivesTheSameCells) {
    const std::string block =
        "<table:table-row table:number-rows-repeated=\"1048576\"><table:table-cell "
        "table:number-columns-repeated=\"16384\" office:value-type=\"string\">"
        "<text:p>x</text:p></table:table-cell></table:table-row>";
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(
        WriteOds(dir, Content(Table("A", block) + Table("B", block) + Table("C", block))));
    // Cells as the runs stand for them, and the visits it took.
    auto read = [&](std::size_t sheet) {
        std::pair<std::uint64_t, std::uint64_t> cellsAndVisits{0, 0};
        Visitor visitor([&](const gq::Cell& cell) {
            cellsAndVisits.first += cell.repeat;
            ++cellsAndVisits.second;
            return true;
        });
        reader->readCells(sheet, visitor);
        return cellsAndVisits;
    };
    const auto a = read(0), b = read(1), c = read(2);
    // A run of the whole row is one visit; the first sheet spends the workbook's copies and
    // the later ones give only the cell they store.
    EXPECT_EQ(a.second, a.first / 16384);
    EXPECT_GE(a.first, 1u << 23);
    EXPECT_LE(a.first + b.first + c.first, (1u << 24) + 3);
    EXPECT_EQ(c.first, 1u);
    // Read again, in another order, a sheet gives what it gave the first time.
    EXPECT_EQ(read(2), c);
    EXPECT_EQ(read(0), a);
    EXPECT_EQ(read(1), b);
}

TEST(OdsReader, RepeatedLongTextsArriveWholeAndInOrder) {
    // Far more text than the pipeline takes at once, and longer than a cell holds.
    const std::string text(100000, 't');
    std::string rows = "<table:table-row table:number-rows-repeated=\"3\"><table:table-cell "
                       "table:number-columns-repeated=\"100\" office:value-type=\"string\">"
                       "<text:p>" +
                       text +
                       "</text:p></table:table-cell><table:table-cell office:value-type=\"float\" "
                       "office:value=\"5\"/></table:table-row>";
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(WriteOds(dir, Content(Table("S", rows))));
    std::vector<std::string> texts;
    auto cells = Cells(*reader, 0, &texts);
    ASSERT_EQ(cells.size(), 303u);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        EXPECT_EQ(std::make_pair(cells[i].row, cells[i].col),
                  std::make_pair(static_cast<std::uint32_t>(i / 101 + 1),
                                 static_cast<std::uint32_t>(i % 101 + 1)));
        if (cells[i].col <= 100)
            EXPECT_EQ(texts[i], std::string(gq::kMaxCellChars, 't')) << i;
        else
            EXPECT_EQ(cells[i].number, 5) << i;
    }
}

TEST(OdsReader, AHugeSpaceCountIsCut) {
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(WriteOds(
        dir, Content(OneCell("<table:table-cell office:value-type=\"string\"><text:p>a<text:s "
                             "text:c=\"99999999999999999999\"/>b<text:s text:c=\"4294967296\"/>"
                             "</text:p></table:table-cell>"))));
    std::vector<std::string> texts;
    ASSERT_EQ(Cells(*reader, 0, &texts).size(), 1u);
    EXPECT_EQ(texts[0].size(), gq::kMaxCellChars);
    EXPECT_EQ(texts[0].substr(0, 2), "a ");
}

// ---- damaged and hostile files

TEST(OdsReader, DamagedFilesFailWithAPlainError) {
    gqtest::TempDir dir;
    std::string valid = Content(OneCell("<table:table-cell office:value-type=\"string\">"
                                        "<text:p>x</text:p></table:table-cell>"));
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> entries;
        const char* message;
    } cases[] = {
        {"mismatched tag",
         {{"content.xml", Replace(valid, "</text:p>", "</text:q>")}},
         gq::kNotAWorkbook},
        {"cut in a cell",
         {{"content.xml", valid.substr(0, valid.find("</text:p>"))}},
         gq::kNotAWorkbook},
        {"bad character reference",
         {{"content.xml", Replace(valid, "<text:p>x", "<text:p>&#0;")}},
         gq::kNotAWorkbook},
        {"undefined entity before the worksheet",
         {{"content.xml", Replace(valid, "<table:table ", "<x a='&bogus;'/><table:table ")}},
         gq::kNotAWorkbook},
        {"no spreadsheet",
         {{"content.xml", "<office:document-content><office:body><office:text/></office:body>"
                          "</office:document-content>"}},
         gq::kNotAWorkbook},
        {"encrypted",
         {{"content.xml", "\x8b\x13\x01garbage"},
          {"META-INF/manifest.xml",
           "<manifest:manifest><manifest:file-entry manifest:full-path=\"content.xml\">"
           "<manifest:encryption-data/></manifest:file-entry></manifest:manifest>"}},
         gq::kPasswordProtected},
        {"no content", {{"styles.xml", "<x/>"}}, gq::kNotAWorkbook},
    };
    for (const Case& c : cases) {
        std::string path = dir.path("damaged.ods");
        WriteZip(path, c.entries);
        try {
            // Malformed markup in the body may only show when the cells are read.
            auto reader = gq::OpenOdsReader(path);
            ReadAll(*reader);
            ADD_FAILURE() << c.what << ": read";
        } catch (const gq::Error& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(c.message))
                << c.what << ": " << error.what();
        }
    }
}

TEST(OdsReader, ACutOffOrLyingZipFailsOrStaysBounded) {
    gqtest::TempDir dir;
    std::string rows;
    for (int i = 0; i < 2000; ++i)
        rows += "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>row " +
                std::to_string(i) + "</text:p></table:table-cell></table:table-row>";
    std::string bytes = gqtest::ReadFile(WriteOds(dir, Content(Table("S", rows))));

    std::string cut = dir.path("cut.ods");
    gqtest::WriteFile(cut, bytes.substr(0, bytes.size() / 2));
    EXPECT_THROW(gq::OpenOdsReader(cut), gq::Error);

    // Every size field of the entries claims 4 GB.
    std::string lying = bytes;
    for (std::size_t at = 0; (at = lying.find("PK\x01\x02", at)) != std::string::npos; at += 4)
        std::memcpy(&lying[at + 24], "\xF0\xFF\xFF\xFF", 4);
    for (std::size_t at = 0; (at = lying.find("PK\x03\x04", at)) != std::string::npos; at += 4)
        std::memcpy(&lying[at + 22], "\xF0\xFF\xFF\xFF", 4);
    std::string lyingPath = dir.path("lying.ods");
    gqtest::WriteFile(lyingPath, lying);
    try {
        auto reader = gq::OpenOdsReader(lyingPath);
        EXPECT_LE(Cells(*reader, 0).size(), 2000u);
    } catch (const gq::Error&) {
    }
}

TEST(OdsReader, AUtf16DocumentKnownByItsByteOrderMarkAlone) {
    std::string content = Content(
        Table("A", "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>a"
                   "</text:p></table:table-cell></table:table-row>") +
        Table("B", "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>b"
                   "</text:p></table:table-cell></table:table-row>"));
    content.erase(0, content.find("?>") + 2);
    std::string utf16 = "\xFF\xFE";
    for (char c : content)
        utf16 += std::string{c, '\0'};
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(WriteOds(dir, utf16));
    EXPECT_EQ(reader->worksheetNames(), (std::vector<std::string>{"A", "B"}));
    for (std::size_t sheet : {1, 0}) {
        std::vector<std::string> texts;
        Cells(*reader, sheet, &texts);
        EXPECT_EQ(texts, std::vector<std::string>{sheet ? "b" : "a"});
    }
}

TEST(OdsReader, ADocumentTypeDeclarationIsParsedFromTheStart) {
    gqtest::TempDir dir;
    std::string content =
        Content(Table("A", "<table:table-row><table:table-cell office:value-type=\"string\">"
                           "<text:p>&who;</text:p></table:table-cell></table:table-row>") +
                Table("B", "<table:table-row><table:table-cell office:value-type=\"string\">"
                           "<text:p>&who; again</text:p></table:table-cell></table:table-row>"));
    content.insert(content.find("<office:document-content"),
                   "<!DOCTYPE office:document-content [<!ENTITY who \"me\">]>");
    auto reader = gq::OpenOdsReader(WriteOds(dir, content));
    std::vector<std::string> texts;
    Cells(*reader, 1, &texts);
    EXPECT_EQ(texts, std::vector<std::string>{"me again"});
}

// ---- the tokenizer against expat

// What a parse reports, as one string; adjacent texts are joined, as parsers split text freely.
class Recorder : public gq::ods::Events {
public:
    gq::ods::Driver* driver = nullptr;
    bool pauseEach = false;
    std::string log;

    int events = 0; // since the parse last paused

    void start(std::string_view name, const char* qualified, const char** attributes) override {
        flush();
        log += "<" + std::string(qualified) + "|" + std::string(name);
        for (; *attributes; attributes += 2)
            log += std::string(" ") + attributes[0] + "=[" + attributes[1] + "]";
        log += ">";
        stop();
    }
    void end(std::string_view name) override {
        flush();
        log += "</" + std::string(name) + ">";
        stop();
    }
    void text(std::string_view text) override {
        text_ += text;
        stop();
    }
    void flush() {
        if (!text_.empty())
            log += "{" + text_ + "}";
        text_.clear();
    }

private:
    void stop() {
        ++events;
        if (pauseEach)
            driver->pause();
    }
    std::string text_;
};

// The first read ends at `cut`, later ones take at most `chunk` bytes: run with every cut, each
// token is cut at each of its bytes.
class ChunkStream : public gq::ByteStream {
public:
    ChunkStream(std::string bytes, std::size_t cut, std::size_t chunk)
        : bytes_(std::move(bytes)), cut_(cut), chunk_(chunk) {}
    std::size_t read(char* buffer, std::size_t size) override {
        std::size_t n = std::min({size, offset_ == 0 ? cut_ : chunk_, bytes_.size() - offset_});
        std::memcpy(buffer, bytes_.data() + offset_, n);
        offset_ += n;
        return n;
    }

private:
    std::string bytes_;
    std::size_t cut_;
    std::size_t chunk_;
    std::size_t offset_ = 0;
};

// The events of a whole parse, or "error: ..." with the message.
template <class Driver>
std::string Parse(const std::string& document, std::size_t cut, std::size_t chunk = 1 << 16,
                  bool pauseEach = false) {
    Recorder recorder;
    Driver driver(recorder);
    recorder.driver = &driver;
    recorder.pauseEach = pauseEach;
    ChunkStream input(document, cut, chunk);
    try {
        while (driver.run(input)) {
            // expat pauses after a token, which may be an empty element's start and end.
            if constexpr (std::is_same_v<Driver, gq::ods::Tokenizer>) {
                EXPECT_LE(recorder.events, pauseEach ? 1 : 0) << document;
            }
            recorder.events = 0;
        }
    } catch (const gq::Error& error) {
        return std::string("error: ") + error.what();
    }
    recorder.flush();
    return recorder.log;
}

TEST(OdsTokenizer, ReportsWhatExpatReportsHoweverTheInputIsCut) {
    const std::string documents[] = {
        "<r a=\"1\" b='2'>x</r>",
        "<t:r t:a=\"'\" b='\"' c=\">\">]>]x]</t:r>",
        "<r a=\"&lt;&amp;&gt;&quot;&apos;&#65;&#x263a;&#x1F600;\">&quot;&apos;&gt;&#128512;</r>",
        "<r a=\"x\ty\nz\r\nw\rv\" b=\"&#9;&#10;&#13;\">a\r\nb\rc&#13;d\n</r>",
        "<r><![CDATA[<a>&amp;]]]><![CDATA[]]>\r\n<![CDATA[x\ry]]></r>",
        "<r><!-- c - d --><!----><?pi data?><?pi?><?xml-stylesheet x?>t</r>",
        "<\xC3\xA9 \xC3\xBC=\"\xE2\x98\xBA\">\xF0\x9D\x84\x9E\xEF\xBF\xBD</\xC3\xA9>",
        "<r><a /><b/><c\n\tx = 'y' /></r >",
        "<r/>\n<!-- after -->\r\n<?pi after?> ",
        "<r>  <a>  </a>\n</r>",
    };
    for (const std::string& document : documents) {
        std::string expected = Parse<gq::ods::ExpatDriver>(document, 1 << 16);
        ASSERT_FALSE(expected.starts_with("error")) << document << ": " << expected;
        for (std::size_t cut = 1; cut <= document.size(); ++cut)
            for (std::size_t chunk : {1, 1 << 16})
                for (bool pauseEach : {false, true})
                    EXPECT_EQ(Parse<gq::ods::Tokenizer>(document, cut, chunk, pauseEach), expected)
                        << document << " cut at " << cut << ", then in chunks of " << chunk;
    }
}

TEST(OdsTokenizer, RefusesWhatExpatRefuses) {
    const std::string documents[] = {
        "<r>",
        "<r><a></r></a>",
        "<r></rr>",
        "<r></r",
        "<r a=\"1\" a=\"2\"/>",
        "<r a=\"1\"b=\"2\"/>",
        "<r a=1/>",
        "<r a=\"<\"/>",
        "<r a=\"&#0;\"/>",
        "<r>&bogus;</r>",
        "<r>&amp</r>",
        "<r>&#0;</r>",
        "<r>&#xD800;</r>",
        "<r>&#x110000;</r>",
        "<r>&#xFFFE;</r>",
        "<r>&#;</r>",
        "<r>&#X41;</r>",
        "<r>]]></r>",
        "<r>\x01</r>",
        "<r>\xC3</r>",
        "<r>\xC0\xAF</r>",
        "<r>\xED\xA0\x80</r>",
        "<r>\xEF\xBF\xBF</r>",
        "<r>\xF4\x90\x80\x80</r>",
        "<r a=\"\xFF\"/>",
        "<r/><s/>",
        "<r/>x",
        "x<r/>",
        "<r><!-- a -- b --></r>",
        "<r><!-- a ---></r>",
        "<r><!-- open</r>",
        "<r><?xml version=\"1.0\"?></r>",
        "<r><!DOCTYPE r></r>",
        "<r><![CDATA[x</r>",
        "<1r/>",
        "< r/>",
        "<r / >",
        "",
        std::string("<r>\0</r>", 8),
    };
    for (const std::string& document : documents) {
        std::string expected = Parse<gq::ods::ExpatDriver>(document, 1 << 16);
        ASSERT_TRUE(expected.starts_with("error")) << document << ": " << expected;
        for (std::size_t cut = 1; cut <= std::max<std::size_t>(document.size(), 1); ++cut) {
            std::string got = Parse<gq::ods::Tokenizer>(document, cut);
            EXPECT_TRUE(got.starts_with(std::string("error: ") + gq::kNotAWorkbook))
                << document << " cut at " << cut << ": " << got;
        }
    }
}

TEST(OdsTokenizer, MarkupLargerThanItsBuffer) {
    std::string big(1 << 20, 'v');
    for (std::size_t i = 0; i < big.size(); i += 1000)
        big.replace(i, 5, "&amp;");
    const std::string documents[] = {
        "<r a=\"" + big + "\">" + big + "</r>",
        "<r><![CDATA[" + big + "]]><!--" + big + "--></r>",
    };
    for (const std::string& document : documents)
        EXPECT_EQ(Parse<gq::ods::Tokenizer>(document, 1000, 100000),
                  Parse<gq::ods::ExpatDriver>(document, 1 << 16));

    // Past its caps it refuses what expat would buffer or nest without end.
    std::string longComment = "<r><!--" + std::string(gq::ods::Tokenizer::kMaxMarkup, '-');
    EXPECT_TRUE(Parse<gq::ods::Tokenizer>(longComment, 1 << 16).starts_with("error"));
    auto nested = [](std::size_t depth) {
        std::string document;
        for (std::size_t i = 0; i < depth; ++i)
            document += "<a>";
        for (std::size_t i = 0; i < depth; ++i)
            document += "</a>";
        return document;
    };
    const std::size_t deepest = gq::ods::Tokenizer::kMaxDepth;
    EXPECT_FALSE(Parse<gq::ods::Tokenizer>(nested(deepest), 1 << 16).starts_with("error"));
    EXPECT_TRUE(Parse<gq::ods::Tokenizer>(nested(deepest + 1), 1 << 16).starts_with("error"));
}

// ---- sessions across reads

TEST(OdsReader, AFailedReadLeavesTheReaderUsable) {
    std::string good = Table("A", "<table:table-row><table:table-cell office:value-type=\"string\">"
                                  "<text:p>a</text:p></table:table-cell></table:table-row>");
    std::string bad = Table("B", "<table:table-row><table:table-cell office:value-type=\"string\">"
                                 "<text:p>b</text:p></table:table-cell></table:table-row>"
                                 "<table:table-row><table:table-cell><text:p>c</text:q>"
                                 "</table:table-cell></table:table-row>");
    gqtest::TempDir dir;
    auto reader = gq::OpenOdsReader(WriteOds(dir, Content(good + bad + good)));
    for (int round = 0; round < 2; ++round) {
        EXPECT_THROW(Cells(*reader, 1), gq::Error);
        std::vector<std::string> texts;
        Cells(*reader, 0, &texts);
        EXPECT_EQ(texts, std::vector<std::string>{"a"});
        // A visitor that stops before the damage sees no error, nor does the next sheet's read.
        std::string first;
        Visitor stop([&](const gq::Cell& cell) {
            first = cell.text;
            return false;
        });
        reader->readCells(1, stop);
        EXPECT_EQ(first, "b");
        texts.clear();
        Cells(*reader, 2, &texts);
        EXPECT_EQ(texts, std::vector<std::string>{"a"});
    }
}

} // namespace
