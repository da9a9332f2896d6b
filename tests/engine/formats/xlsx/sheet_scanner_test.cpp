// The sheet scanner against expat, the general XML parser it stands in for: both must give the same
// cells, numbers to the bit, and the same reason for a damaged part.
#include "Error.h"
#include "HandMadeXlsx.h"
#include "SheetCells.h"
#include "SheetScanner.h"
#include "TestFiles.h"
#include "XlsxReader.h"
#include "ZipPackage.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <random>

namespace {

// One cell as a reader passed it on, its text copied and its number kept bit for bit.
struct Record {
    std::size_t sheet = 0;
    std::uint32_t row = 0, col = 0;
    gq::CellKind kind = gq::CellKind::Blank;
    std::uint32_t style = 0;
    std::uint64_t numberBits = 0;
    std::string text;
    std::uint32_t sharedString = 0, repeat = 0;
    bool operator==(const Record&) const = default;
};

std::string Describe(const Record& r) {
    return "sheet " + std::to_string(r.sheet) + " (" + std::to_string(r.row) + "," +
           std::to_string(r.col) + ") kind " + std::to_string(int(r.kind)) + " style " +
           std::to_string(r.style) + " number bits " + std::to_string(r.numberBits) + " text \"" +
           r.text.substr(0, 60) + "\" (" + std::to_string(r.text.size()) + " bytes) shared " +
           std::to_string(r.sharedString) + " repeat " + std::to_string(r.repeat);
}

// What a read gave: its cells, then the error that ended it, if any.
struct Outcome {
    std::vector<Record> cells;
    std::string error;
};

// The first difference between two outcomes, or "" when there is none.
std::string Difference(const Outcome& expat, const Outcome& scanner) {
    for (std::size_t i = 0; i < std::min(expat.cells.size(), scanner.cells.size()); ++i)
        if (!(expat.cells[i] == scanner.cells[i]))
            return "cell " + std::to_string(i) + ": expat " + Describe(expat.cells[i]) +
                   "; scanner " + Describe(scanner.cells[i]);
    if (expat.cells.size() != scanner.cells.size())
        return "expat gave " + std::to_string(expat.cells.size()) + " cells, the scanner " +
               std::to_string(scanner.cells.size());
    if (expat.error != scanner.error)
        return "expat ended with \"" + expat.error + "\", the scanner with \"" + scanner.error +
               "\"";
    return "";
}

class Collect : public gq::CellVisitor {
public:
    Collect(Outcome& outcome, std::size_t sheet, std::size_t stopAfter = SIZE_MAX)
        : outcome_(outcome), sheet_(sheet), stopAfter_(stopAfter) {}
    bool visit(const gq::Cell& cell) override {
        Record record{sheet_,
                      cell.row,
                      cell.col,
                      cell.kind,
                      cell.style,
                      0,
                      std::string(cell.text),
                      cell.sharedString,
                      cell.repeat};
        std::memcpy(&record.numberBits, &cell.number, sizeof cell.number);
        outcome_.cells.push_back(record);
        return outcome_.cells.size() < stopAfter_;
    }

private:
    Outcome& outcome_;
    std::size_t sheet_;
    std::size_t stopAfter_;
};

// A part's bytes handed over in pieces of the given sizes in turn, so that what the scanner reads
// in place comes to lie across the end of what it has at many points.
class PiecewiseStream : public gq::ByteStream {
public:
    PiecewiseStream(const std::string& bytes, const std::vector<std::size_t>& pieces)
        : bytes_(bytes), pieces_(pieces) {}
    std::size_t read(char* buffer, std::size_t size) override {
        std::size_t n =
            std::min({size, bytes_.size() - offset_, pieces_[next_++ % pieces_.size()]});
        std::memcpy(buffer, bytes_.data() + offset_, n);
        offset_ += n;
        return n;
    }

private:
    const std::string& bytes_;
    const std::vector<std::size_t>& pieces_;
    std::size_t offset_ = 0;
    std::size_t next_ = 0;
};

// How a part reaches the scanner: the pieces the stream gives and the scanner's buffer. Small
// buffers put the end of what the scanner holds in every kind of markup.
struct Reading {
    std::vector<std::size_t> pieces;
    std::size_t bufferBytes;
};

const std::vector<Reading> kReadings = {
    {{1 << 16}, gq::SheetScanner::kBufferBytes},
    {{1}, 128},
    {{7}, 211},
    {{3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3, 2, 3, 8, 4, 6, 2, 6, 4}, 1000},
    {{1 << 16}, 4096}};

const char* const kStrings[] = {"zero", "one", "two", "three"};

const gq::StringPool& Strings() {
    static const gq::StringPool pool = [] {
        gq::StringPool strings;
        for (const char* text : kStrings)
            strings.add(text);
        return strings;
    }();
    return pool;
}

enum class Parser { Scanner, Expat };
constexpr const char* kLeftToExpat = "(left to expat)";

Outcome ReadXml(const std::string& xml, Parser parser, const Reading& reading = kReadings[0],
                std::size_t stopAfter = SIZE_MAX) {
    Outcome outcome;
    Collect collect(outcome, 0, stopAfter);
    gq::SheetCells cells(Strings(), false, collect);
    PiecewiseStream input(xml, reading.pieces);
    try {
        if (parser == Parser::Expat) {
            gq::ParseSheetXml(input, cells);
        } else {
            gq::SheetScanner scanner(input, reading.bufferBytes);
            if (!scanner.readsPart())
                outcome.error = kLeftToExpat;
            else
                scanner.read(cells);
        }
    } catch (const gq::Error& error) {
        outcome.error = error.what();
    }
    return outcome;
}

void ExpectSameAsExpat(const std::string& xml) {
    Outcome expat = ReadXml(xml, Parser::Expat);
    for (const Reading& reading : kReadings)
        EXPECT_EQ(Difference(expat, ReadXml(xml, Parser::Scanner, reading)), "")
            << "through a buffer of " << reading.bufferBytes << ": " << xml.substr(0, 300);
}

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

std::string Doc(const std::string& rows) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<worksheet xmlns=\"" +
           kMain + "\"><sheetData>" + rows + "</sheetData></worksheet>";
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// Well-formed sheet parts, each with constructs that the scanner must read as expat does.
std::vector<std::string> ValidDocuments() {
    const std::string longText(40000, 'w');
    const std::string longName = "x:" + std::string(5000, 'n');
    std::string attributes;
    for (int i = 0; i < 40; ++i)
        attributes += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return {
        // As a spreadsheet program writes a sheet, with what it puts around the cells.
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<worksheet xmlns=\"" +
            kMain +
            R"(" xmlns:r="urn:r" xmlns:mc="urn:mc" mc:Ignorable="x14ac xr" xmlns:x14ac="urn:ac" xr:uid="{0}">)"
            R"(<sheetPr codeName="Sheet1"><tabColor rgb="FFFF0000"/></sheetPr><dimension ref="A1:C3"/>)"
            R"(<sheetViews><sheetView tabSelected="1" workbookViewId="0"><selection activeCell="B2" sqref="B2"/>)"
            R"(</sheetView></sheetViews><sheetFormatPr defaultRowHeight="15" x14ac:dyDescent="0.25"/>)"
            R"(<cols><col min="1" max="1" width="12.7109375" customWidth="1"/></cols><sheetData>)"
            R"(<row r="1" spans="1:3" ht="20.25" customHeight="1" x14ac:dyDescent="0.3">)"
            R"(<c r="A1" s="1" t="s"><v>1</v></c><c r="B1" s="2"><f>SUM(B2:B3)</f><v>3</v></c>)"
            R"(<c r="C1" t="inlineStr"><is><t>inline</t></is></c></row><row r="3" spans="1:3">)"
            R"(<c r="A3" t="d"><v>2024-02-29T13:45:00</v></c><c r="B3" s="3" cm="1"><f t="array" ref="B3">A1</f>)"
            R"(<v>1</v></c><c r="C3" t="e"><f>1/0</f><v>#DIV/0!</v></c></row></sheetData>)"
            R"(<mergeCells count="1"><mergeCell ref="A1:B1"/></mergeCells><conditionalFormatting sqref="A1:A3">)"
            R"(<cfRule type="cellIs" dxfId="0" priority="1" operator="greaterThan"><formula>5</formula></cfRule>)"
            R"(</conditionalFormatting><dataValidations count="1"><dataValidation type="list" sqref="C1:C3">)"
            R"(<formula1>"a,b,c"</formula1></dataValidation></dataValidations><pageMargins left="0.7"/>)"
            R"(<headerFooter><oddHeader>&amp;C&amp;"Calibri"Page &amp;P</oddHeader></headerFooter>)"
            R"(<mc:AlternateContent xmlns:mc="urn:mc"><mc:Choice Requires="x14"><controls>)"
            R"(<control shapeId="1025" r:id="rId1" name="Check Box 1"/></controls></mc:Choice><mc:Fallback/>)"
            R"(</mc:AlternateContent><extLst><ext uri="{78C0D931}" xmlns:x14="urn:x14"><x14:conditionalFormattings>)"
            R"(<x14:conditionalFormatting xmlns:xm="urn:xm"><x14:cfRule type="dataBar"><x14:cfvo type="autoMin"/>)"
            R"(</x14:cfRule><xm:sqref>A1:A3</xm:sqref></x14:conditionalFormatting></x14:conditionalFormattings>)"
            R"(</ext></extLst></worksheet>)",
        // Namespace prefixes, short and long.
        R"(<x:worksheet xmlns:x="urn:main"><x:sheetData><x:row r="2"><x:c r="B2" x:t="s" x:s="1"><x:v>2</x:v>)"
        R"(</x:c><x:c><x:v>3</x:v></x:c></x:row><spreadsheetml:row xmlns:spreadsheetml="urn:main">)"
        R"(<spreadsheetml:c t="inlineStr"><spreadsheetml:is><spreadsheetml:t>long prefix</spreadsheetml:t>)"
        R"(</spreadsheetml:is></spreadsheetml:c></spreadsheetml:row></x:sheetData></x:worksheet>)",
        // Either quote, white space wherever XML allows it.
        Doc("<row\r\n r = '3'\t><c  r = 'A3'\n\t s\t=\"2\"  t = 's' ><v >2</v ></c "
            "><c\nr=\"B3\"\n/>"
            "<c r='C3' t=\"str\"><v>it's \"quoted\"</v></c><c r=\"D3\" t='s'><v>1</v></c></row>"),
        // Character and entity references in values and attributes.
        Doc(R"(<row r="&#52;"><c r="&#65;&#x34;" t="&#x73;" s="&#49;"><v>&#x31;</v></c><c r="B4" t="inlineStr">)"
            R"(<is><t>a&lt;b&gt;c&amp;d&apos;e&quot;f &#x1F600; &#233;&#xE9;</t></is></c><c r="C4" t="str">)"
            R"(<f>A1&amp;B1</f><v>x&amp;y</v></c><c r="D4" s="&#x31;&#x30;"><v>&#x2D;&#49;&#x2e;5</v></c></row>)"),
        // CDATA sections, whole or split.
        Doc(R"(<row><c><v><![CDATA[4]]>2</v></c><c t="inlineStr"><is><t><![CDATA[<b>&amp;]]></t></is></c>)"
            R"(<c t="inlineStr"><is><t>a<![CDATA[]]]]><![CDATA[>]]>b<![CDATA[]]></t></is></c>)"
            "<c t=\"str\"><v><![CDATA[line\r\ntwo\r]]></v></c></row>"),
        // Comments and processing instructions anywhere.
        "<?xml version='1.0' encoding='utf-8'?><!-- made by hand --><?app "
        "version=\"2\"?>\n<worksheet xmlns=\"" +
            kMain +
            R"("><!--c--><sheetData><?x?><row><!-- r --><c r="A1"><!--in--><v>1<!--mid-->2<?p q?>3</v></c>)"
            R"(<c t="inlineStr"><is><t>a<!-- - -->b<?pi ?>c</t><!--x--></is></c></row><!----></sheetData>)"
            "</worksheet><!-- after --><?after?>\n",
        // Elements the scanner does not know, in rows, in cells and around the cells.
        Doc(R"(<row r="1"><c r="A1"><extLst><ext uri="x"><x14:foo a="1"><x14:bar/></x14:foo></ext></extLst>)"
            R"(<v>5</v></c><mc:AlternateContent xmlns:mc="m"><mc:Choice Requires="x14"><x14:thing v="1"/>)"
            R"(</mc:Choice><mc:Fallback/></mc:AlternateContent><c r="B1"><v>6</v><x:unknown>7</x:unknown></c>)"
            R"(<other><c r="C1"><v>8</v></c></other><c r="D1" t="inlineStr"><is><x><t>in x</t></x></is></c>)"
            R"(</row><extLst><ext/></extLst>)"),
        // Self-closing forms.
        Doc(R"(<row r="4"/><row r="5"><c r="A5"/><c r="B5" s="3"/><c r="C5"><v/></c><c r="D5" t="inlineStr"><is/></c>)"
            R"(<c r="E5" t="inlineStr"><is><t/></is></c><c r="F5" t="s"><v></v></c><c r="G5" t="b"><v/></c>)"
            R"(<c r="H5" t="e"/><c r='I5'/></row>)"),
        // Rows and cells without a reference, and references that say little.
        Doc(R"(<row><c><v>1</v></c><c><v>2</v></c></row><row><c r="C5"><v>3</v></c><c><v>4</v></c></row>)"
            R"(<row><c><v>5</v></c><c r="B"><v>6</v></c><c r="7"><v>7</v></c><c r="b9"><v>7</v></c></row>)"
            R"(<row r="0"><c><v>8</v></c></row><row r="abc"><c><v>9</v></c></row><row r=" 12 "><c><v>10</v></c>)"
            R"(</row><row r="+3"><c><v>11</v></c></row><row r="99999999999"><c><v>12</v></c></row>)"
            R"(<row r="2000000"><c r="A2000000"><v>13</v></c><c r="XFE1"><v>14</v></c><c><v>15</v></c></row>)"),
        // Rich text, phonetic runs.
        Doc(R"(<row><c r="A1" t="inlineStr"><is><r><rPr><b/><sz val="11"/><rFont val="Calibri"/></rPr>)"
            R"(<t>rich </t></r><r><t xml:space="preserve"> text</t></r><rPh sb="0" eb="1"><t>PHON</t></rPh>)"
            R"(<phoneticPr fontId="1" type="noConversion"/></is></c><c r="B1" t="s"><v>3</v></c></row>)"),
        // Escapes, texts past a cell's length and values past what is kept of them.
        Doc("<row><c t=\"inlineStr\"><is><t>_x0041__x000D__xD83D__xDE00__x005F_x0041_ "
            "_xZZ</t></is></c>"
            "<c t=\"str\"><v>" +
            longText + "</v></c><c t=\"inlineStr\"><is><t>" + Repeat("_x0041_", 40000) +
            "</t></is></c><c t=\"e\"><v>" + longText + "</v></c><c><v>" + std::string(300000, '1') +
            "</v></c></row>"),
        // Each type, and the numbers, indexes and styles that are read as they always were.
        Doc(R"(<row><c t="d"><v>1900-02-28</v></c><c t="d"><v>13:45:00</v></c><c t="d"><v>nope</v></c>)"
            R"(<c t="n"><v> 12 </v></c><c><v>+5</v></c><c><v>1E3</v></c><c><v>-0</v></c><c><v>0.1</v></c>)"
            R"(<c><v>1.7976931348623157e308</v></c><c><v>12345678901234567890</v></c><c><v>.5</v></c>)"
            R"(<c><v>5.</v></c><c><v>1x</v></c><c><v>0.30000000000000004</v></c><c t="s"><v>99</v></c>)"
            R"(<c t="s"><v> 2 </v></c><c t="b"><v>true</v></c><c t="b"><v>0</v></c><c s="3x"><v>1</v></c>)"
            R"(<c s="99999999999"><v>1</v></c><c s=" +4 "><v>1</v></c><c t="unknown"><v>2</v></c></row>)"),
        // The same attribute under two names: the later reference wins in a cell, the first in a
        // row.
        Doc(R"(<row r="5" x:r="7" xmlns:x="u"><c r="A1" x:r="C9" xmlns:x="u"><v>1</v></c>)"
            R"(<c xmlns:r="http://r" r="B3"><v>2</v></c><c r="D5" xmlns:r="urn:r"><v>3</v></c>)"
            R"(<c :r="E5"><v>4</v></c></row>)"),
        // Line ends, normalised in text and attribute values, kept where a reference gives them.
        "<?xml version=\"1.0\"?>\r\n<worksheet xmlns=\"" + kMain +
            "\">\r\n<sheetData>\r\n<row r=\"1\">\r\n<c r=\"A1\" "
            "t=\"inlineStr\"><is><t>one\r\ntwo\rthree"
            "\nfour&#13;&#10;five</t></is></c>\r\n<c r=\"B1\" s=\"\t2\r\n\"><v>1</v></c><c "
            "r=\"C1\" "
            "t=\"str\"><v>\r\n</v></c><c r=\"D1\" "
            "t=\"s\"><v>\r\n3\r</v></c></row></sheetData></worksheet>\r\n",
        // UTF-8 of every length, in text, attribute values and names.
        Doc("<row><c t=\"inlineStr\"><is><t>Ærøskøbing — 東京 𝄞</t></is></c><données clé=\"välue\">"
            "<c><v>1</v></c></données><c t=\"str\"><v>\xC2\xA0</v></c><a\xC2\xB7\xCC\x80 "
            "\xE6\x9D\xB1=\"1\"/>"
            "</row>"),
        // Byte order marks, with and without a declaration.
        "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone='no' ?><worksheet xmlns='" +
            kMain + "'><sheetData><row><c><v>1</v></c></row></sheetData></worksheet>",
        "\xEF\xBB\xBF<worksheet><sheetData><row><c><v>2</v></c></row></sheetData></worksheet>",
        // What the scanner reads the slow way: deep nesting, many attributes, long names, values,
        // white space, comments, instructions and CDATA.
        Doc("<row><c r=\"A1\">" + Repeat("<d>", 3000) + "<v>1</v>" + Repeat("</d>", 3000) +
            "</c></row><row" + attributes + "><c r=\"B2\"" + attributes +
            " s=\"2\"><v>2</v></c></row>"),
        Doc("<row><" + longName + " a=\"" + Repeat("&amp;&#x41;\t", 2000) + "\">text</" + longName +
            "><c r=\"A1\" s=\"" + std::string(5000, ' ') + "3\"><v>1</v></c><!--" +
            std::string(10000, 'c') + "--><?pi " + std::string(10000, 'p') +
            "?><c t=\"inlineStr\"><is><t><![CDATA[" + std::string(10000, 'd') +
            "]]></t></is></c><c" + std::string(5000, '\n') + "r=\"Z9\"><v>9</v></c></row>"),
        // Line ends and references over and over, so that some fall across the end of the buffer.
        Doc("<row><c t=\"inlineStr\"><is><t>" + Repeat("ab\r\n&amp;\r", 3000) +
            "</t></is></c><c t=\"str\"><v><![CDATA[" + Repeat("c\r\n\r]", 3000) +
            "]]></v></c><c s=\"" + Repeat(" \r\n\r", 3000) + "2\"><v>1</v></c><foo a=\"" +
            Repeat("x\r\n&#x41;", 3000) + "\"/></row>"),
        // Cells nested inside a value: a whole cell read in one go ends the value it stands in,
        // so the formula of the next cell is not taken for its text (the fuzzer found this).
        Doc("<row><c r=\"A1\"><v>outer<row r=\"1\"><c r=\"A1\"><v>1</v></c>"
            "<c r=\"C1\" t=\"str\"><f>TEXT(B1)</f><v>x</v></c></row></v></c></row>"),
        "<worksheet/>",
    };
}

TEST(SheetScanner, ReadsEveryConstructAsExpatDoes) {
    for (const std::string& doc : ValidDocuments()) {
        Outcome expat = ReadXml(doc, Parser::Expat);
        ASSERT_EQ(expat.error, "") << "not well-formed: " << doc.substr(0, 300);
        ExpectSameAsExpat(doc);
    }
    // The documents mean what they are meant to.
    Outcome references = ReadXml(ValidDocuments()[3], Parser::Scanner);
    ASSERT_EQ(references.cells.size(), 4u);
    EXPECT_EQ(references.cells[0].row, 4u);
    EXPECT_EQ(references.cells[0].text, "one");
    EXPECT_EQ(references.cells[1].text, "a<b>c&d'e\"f \xF0\x9F\x98\x80 \xC3\xA9\xC3\xA9");
    EXPECT_EQ(references.cells[3].style, 10u);
    Outcome lineEnds = ReadXml(ValidDocuments()[13], Parser::Scanner);
    ASSERT_EQ(lineEnds.cells.size(), 4u);
    EXPECT_EQ(lineEnds.cells[0].text, "one\ntwo\nthree\nfour\r\nfive");
    EXPECT_EQ(lineEnds.cells[1].style, 2u);
    EXPECT_EQ(lineEnds.cells[2].text, "\n");
}

// A sheet part of random shape, drawn from the constructs above.
std::string RandomDocument(std::mt19937& random) {
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    auto space = [&] {
        static const char* const kSpaces[] = {" ", "  ", "\n", "\t", "\r\n", " \n "};
        return pick(3) == 0 ? kSpaces[pick(6)] : " ";
    };
    const std::string prefix = pick(3) == 0 ? "x:" : "";
    static const char* const kValues[] = {
        "1",   "0.5",        "-12.25",     "1E5",  "&#49;2", "2",  " 3 ",
        "abc", "",           "true",       "#N/A", "&lt;",   "0",  "3",
        "99",  "2024-01-01", "1234567890", "-0",   ".5",     "5.", "1234567890123456",
        "007", "3x",         "1 "};
    // References and styles of unusual shapes, beside the usual ones.
    static const char* const kReferences[] = {"A1x", "$B$2", "aa7", "XFE1", "A9999999", "1A", ""};
    static const char* const kStyles[] = {"12345678901", "+3", "7 ", "", "999999999", "1000000000"};
    static const char* const kTypes[] = {"s", "n", "b", "e", "str", "inlineStr", "d", "x"};
    static const char* const kMisc[] = {"<!-- note -->", "<?pi x?>", "<ext a=\"1\"/>",
                                        "<![CDATA[7]]>", "\r\n",     "<u><v>8</v></u>"};
    std::string doc = pick(2) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    doc += "<" + prefix + "worksheet xmlns" + (prefix.empty() ? "" : ":x") + "=\"" + kMain +
           "\"><" + prefix + "sheetData>";
    std::size_t rows = 1 + pick(12);
    for (std::size_t row = 0; row < rows; ++row) {
        doc += "<" + prefix + "row";
        if (pick(3))
            doc += space() + std::string("r=\"") + std::to_string(1 + pick(30)) + "\"";
        doc += pick(4) ? ">" : space() + std::string(">");
        std::size_t cells = pick(8);
        for (std::size_t cell = 0; cell < cells; ++cell) {
            if (pick(6) == 0)
                doc += kMisc[pick(6)];
            std::vector<std::string> attributes;
            const char quote = pick(2) ? '"' : '\'';
            const std::string reference = pick(8)
                                              ? char('A' + pick(26)) + std::to_string(1 + pick(40))
                                              : kReferences[pick(std::size(kReferences))];
            if (pick(3))
                attributes.push_back("r=" + std::string(1, quote) + reference + quote);
            const std::string style =
                pick(8) ? std::to_string(pick(5)) : kStyles[pick(std::size(kStyles))];
            if (pick(2))
                attributes.push_back("s=" + std::string(1, quote) + style + quote);
            const char* type = kTypes[pick(8)];
            if (pick(3))
                attributes.push_back((pick(5) ? "t=" : "x:t=") + std::string(1, quote) + type +
                                     quote);
            if (pick(5) == 0)
                attributes.push_back("cm=\"1\"");
            std::shuffle(attributes.begin(), attributes.end(), random);
            doc += "<" + prefix + "c";
            for (const auto& attribute : attributes)
                doc += space() + attribute;
            if (pick(8) == 0) {
                doc += "/>";
                continue;
            }
            doc += ">";
            const std::string value = kValues[pick(std::size(kValues))];
            switch (pick(5)) {
            case 0:
                doc += "<" + prefix + "is><" + prefix + "t>" + value + "</" + prefix + "t><" +
                       prefix + "r><" + prefix + "t>" + kValues[pick(std::size(kValues))] + "</" +
                       prefix + "t></" + prefix + "r><" + prefix + "rPh><" + prefix + "t>P</" +
                       prefix + "t></" + prefix + "rPh></" + prefix + "is>";
                break;
            case 1:
                doc += "<" + prefix + "f>A1&amp;B1</" + prefix + "f><" + prefix + "v>" + value +
                       kMisc[pick(6)] + "</" + prefix + "v>";
                break;
            default:
                doc += "<" + prefix + "v>" + value + "</" + prefix + "v>";
                break;
            }
            if (pick(10) == 0)
                doc += "<" + prefix + "extLst/>";
            doc += "</" + prefix + "c" + (pick(5) ? "" : space()) + ">";
        }
        doc += "</" + prefix + "row>";
        if (pick(20) == 0) // something long enough to be read the slow way
            doc += "<!--" + std::string(5000 + pick(3000), 'k') + "-->";
    }
    doc += "</" + prefix + "sheetData></" + prefix + "worksheet>";
    return doc;
}

TEST(SheetScanner, ReadsRandomSheetsAsExpatDoes) {
    std::mt19937 random(20241208);
    for (int i = 0; i < 400; ++i) {
        std::string doc = RandomDocument(random);
        Outcome expat = ReadXml(doc, Parser::Expat);
        ASSERT_EQ(expat.error, "") << doc;
        Reading reading{{}, 128 + random() % 2000};
        for (int k = 0; k < 16; ++k)
            reading.pieces.push_back(1 + random() % 50);
        EXPECT_EQ(Difference(expat, ReadXml(doc, Parser::Scanner, reading)), "") << doc;
    }
}

// Damaged parts: the scanner refuses each after the same cells as expat, for the same reason.
TEST(SheetScanner, RefusesDamagedXmlAsExpatDoes) {
    const std::string start = "<worksheet><sheetData><row><c r=\"A1\"><v>1</v></c>";
    const std::string end = "</row></sheetData></worksheet>";
    const std::vector<std::string> damaged = {
        start + "<c r=\"B1\"",                                // cut in a tag
        start + "<c r=\"B",                                   // in an attribute value
        start + "<c r=\"B1\"><v>&#x3",                        // in a character reference
        start + "<c r=\"B1\"><v>&am",                         // in an entity reference
        start + "<!-- unterminated",                          // in a comment
        start + "<c t=\"str\"><v><![CDATA[ x",                // in a CDATA section
        start + "<?pi data",                                  // in a processing instruction
        start + "<c><v>2</v></c>",                            // between tags
        start + "<c><v>2</v></c><",                           // at a tag's start
        start + "<c><v>2</v></c><!",                          //
        start + "<c><v><![CD>",                               //
        start + "<c><v><![CDATA(x",                           //
        start + "</sheetData>" + end,                         // mismatched end tag
        start + "<c><v>&#0;</v></c>" + end,                   // references to no character
        start + "<c><v>&#xD800;</v></c>" + end,               //
        start + "<c><v>&#x110000;</v></c>" + end,             //
        start + "<c><v>&nbsp;</v></c>" + end,                 // an entity no declaration defines
        start + "<c><v>& b</v></c>" + end,                    // a bare ampersand
        start + "<c><v>&#X41;</v></c>" + end,                 //
        start + "<c><v>\xE9t\xE9</v></c>" + end,              // Latin-1 where UTF-8 is due
        start + "<c><v>\xED\xA0\x80</v></c>" + end,           // an encoded surrogate
        start + "<c><v>\xEF\xBF\xBE</v></c>" + end,           // U+FFFE
        start + "<c r=\"\r\xEF\r",                            // a character cut by the end
        start + "<c><v>\x01</v></c>" + end,                   // a control code
        start + "<c><v>]]></v></c>" + end,                    //
        start + end + "trailing",                             // text after the root element
        start + end + "<worksheet/>",                         // a second root element
        start + end + "N10_<?pi x?>",                         //
        start + end + " <!-- x --> &amp;",                    //
        start + end + "<!-- x -- y -->",                      //
        start + end + "<",                                    //
        start + "<c r=\"B1\" r=\"C1\"><v>2</v></c>" + end,    // a duplicate attribute
        start + "<c r=\"B1\" r=\"C1\"</c>" + end,             // the form of the tag first
        start + "<c a=\"&#0;\" b=\"&nope;\" a=\"1\"/>" + end, // the first attribute at fault
        start + "<c a=\"1\" a=\"&nope;\"/>" + end,            //
        start + "<c a=\"&nope;\" <" + end,                    //
        start + "<c r=\"B1\"s=\"1\"><v>2</v></c>" + end,      // attributes run together
        start + "<c r=\"<\"><v>2</v></c>" + end,              // '<' in a value
        start + "<c r=\"B1\" s=\"\x01\"><v>2</v></c>" + end,  // a control code in a value
        start + "<!-- a -- b -->" + end,                      // "--" in a comment
        start + "<?xml version=\"1.0\"?>" + end,              // a declaration out of place
        start + "<?xml version=\"1.0\"",                      // the same, cut off
        start + "<?XML x?>" + end,                            //
        start + "<!DOCTYPE x>" + end,                         // a document type inside
        start + "</ c>" + end,                                //
        start + "<1c/>" + end,                                //
        start + "<x\xCD\x96s/>" + end,                        // no name character to expat
        start +
            "<\xC2\xB7"
            "a/>" +
            end,                                         // a name character, not a first
        start + "<a\xF0\x90\x80\x80/>" + end,            //
        start + "<c a=1/>" + end,                        //
        "<worksheet><sheetData>" + Repeat("<x>", 20000), // nested absurdly deep
    };
    for (const std::string& doc : damaged) {
        Outcome expat = ReadXml(doc, Parser::Expat);
        ASSERT_NE(expat.error, "") << doc;
        for (const Reading& reading : kReadings) {
            Outcome scanner = ReadXml(doc, Parser::Scanner, reading);
            EXPECT_NE(scanner.error.find(gq::kNotAWorkbook), std::string::npos) << doc;
            EXPECT_EQ(Difference(expat, scanner), "") << doc.substr(0, 200);
        }
    }
}

TEST(SheetScanner, StopsWhereTheVisitorStopsAndReadsNoFurther) {
    const std::string doc = "<worksheet><sheetData><row><c><v>1</v></c><c><v>2</v></c><c><v>3</v>"
                            "</c></row><damage &";
    for (Parser parser : {Parser::Expat, Parser::Scanner}) {
        Outcome outcome = ReadXml(doc, parser, kReadings[0], 2);
        EXPECT_EQ(outcome.cells.size(), 2u);
        EXPECT_EQ(outcome.error, "");
    }
}

std::string Utf16(const std::string& ascii, bool bigEndian, bool byteOrderMark) {
    std::string out = byteOrderMark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : ascii)
        out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

TEST(SheetScanner, LeavesToExpatWhatItDoesNotExpect) {
    const std::string latin1 =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><worksheet><sheetData><row>"
        "<c t=\"inlineStr\"><is><t>caf\xE9</t></is></c></row></sheetData></worksheet>";
    const std::string entity =
        "<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY drink \"tea\">]><worksheet>"
        "<sheetData><row><c t=\"inlineStr\"><is><t>&drink;</t></is></c></row></sheetData>"
        "</worksheet>";
    const std::string plain =
        "<worksheet><sheetData><row><c><v>1</v></c></row></sheetData></worksheet>";
    for (const std::string& doc :
         {latin1, entity, Utf16(plain, false, true), Utf16(plain, true, true),
          Utf16(plain, false, false), "<?xml version=\"1.1\"?>" + plain,
          "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>" + plain,
          " <?xml version=\"1.0\"?>" + plain, "text" + plain, std::string(),
          // A pseudo-attribute run into the next (the fuzzer found the scanner taking this).
          "<?xml version=\"1.0\" encodingstandalone=\"yes\"?>" + plain,
          "<?xml version=\"1.0\" encoding=\"UTF-\x18\"?>" + plain})
        EXPECT_EQ(ReadXml(doc, Parser::Scanner).error, kLeftToExpat) << doc;

    // Through the reader such a part reads as expat reads it, from its start.
    gqtest::TempDir dir;
    const std::pair<std::string, std::string> expected[] = {{latin1, "caf\xC3\xA9"},
                                                            {entity, "tea"}};
    for (const auto& [doc, text] : expected) {
        std::string path = dir.path("fallback.xlsx");
        gqtest::WriteHandMadeXlsx(path, doc);
        auto reader = gq::OpenXlsxReader(path);
        Outcome outcome;
        Collect collect(outcome, 0);
        reader->readCells(0, collect);
        ASSERT_EQ(outcome.cells.size(), 1u);
        EXPECT_EQ(outcome.cells[0].text, text);
    }
}

TEST(SheetCells, ShortNumbersReadExactlyAsFromCharsReadsThem) {
    std::mt19937_64 random(1208);
    int taken = 0;
    for (int i = 0; i < 300000; ++i) {
        std::string text = random() % 4 == 0 ? "-" : "";
        int digits = 1 + static_cast<int>(random() % 17);
        int point = static_cast<int>(random() % (digits + 2)) - 1;
        for (int d = 0; d < digits; ++d) {
            if (d == point)
                text += '.';
            text += static_cast<char>('0' + random() % 10);
        }
        double fast = 0, general = 0;
        if (!gq::ParseShortDecimal(text, fast))
            continue;
        ++taken;
        auto result = std::from_chars(text.data(), text.data() + text.size(), general);
        ASSERT_TRUE(result.ec == std::errc() && result.ptr == text.data() + text.size()) << text;
        ASSERT_EQ(std::memcmp(&fast, &general, sizeof fast), 0) << text;
    }
    EXPECT_GT(taken, 100000);
    for (const char* text :
         {"1e5", "1.2.3", "+1", " 1", "", "-", ".", "0x10", "1234567890123456"}) {
        double value = 0;
        EXPECT_FALSE(gq::ParseShortDecimal(text, value)) << text;
    }
}

// Every cell of every worksheet of a workbook, read with the given parser.
Outcome ReadWorkbook(const std::string& path, gq::SheetParser parser) {
    Outcome outcome;
    try {
        auto reader = gq::OpenXlsxReader(path, parser);
        for (std::size_t sheet = 0; sheet < reader->worksheetNames().size(); ++sheet) {
            Collect collect(outcome, sheet);
            reader->readCells(sheet, collect);
        }
    } catch (const gq::Error& error) {
        outcome.error = error.what();
    }
    return outcome;
}

// Worksheet parts as packages name them.
std::vector<std::string> WorksheetParts(const std::string& path) {
    std::vector<std::string> parts;
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!zip)
        return parts;
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        std::string name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
        if (name.find("sheets/") != std::string::npos && name.ends_with(".xml") &&
            name.find("_rels") == std::string::npos &&
            name.find("chartsheets") == std::string::npos)
            parts.push_back(name);
    }
    zip_discard(zip);
    return parts;
}

// Both parsers give the same cells, and the scanner reads each worksheet part itself.
void ExpectSameCellsBothWays(const std::string& path) {
    SCOPED_TRACE(path);
    Outcome expat = ReadWorkbook(path, gq::SheetParser::Expat);
    EXPECT_EQ(Difference(expat, ReadWorkbook(path, gq::SheetParser::Scanner)), "");
    if (!expat.error.empty())
        return;
    gq::ZipPackage package(path);
    for (const std::string& part : WorksheetParts(path)) {
        auto input = package.stream(part);
        EXPECT_TRUE(gq::SheetScanner(*input).readsPart()) << part;
    }
}

std::vector<std::string> WorkbooksIn(const std::string& folder) {
    std::vector<std::string> books;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() && (extension == ".xlsx" || extension == ".xlsm"))
            books.push_back(entry.path().string());
    }
    return books;
}

TEST(XlsxSheetParsers, GiveTheSameCellsOnTheWorkbooksTheTestsWrite) {
    gqtest::TempDir dir;
    std::vector<std::string> books;
    books.push_back(dir.path("mixed.xlsx"));
    gqtest::WriteXlsx(books.back(), [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Mixed");
        lxw_format* bold = workbook_add_format(workbook);
        format_set_bold(bold);
        lxw_format* date = workbook_add_format(workbook);
        format_set_num_format(date, "yyyy-mm-dd hh:mm");
        worksheet_write_string(sheet, 0, 0, "plain & <escaped> \"text\"", nullptr);
        worksheet_write_string(sheet, 0, 1,
                               "tab\tnew\nline\r\x01 control \xE6\x9D\xB1 \xF0\x9F\x98\x80", bold);
        lxw_rich_string_tuple boldRun = {bold, (char*)"rich "};
        lxw_rich_string_tuple plainRun = {nullptr, (char*)"text"};
        lxw_rich_string_tuple* runs[] = {&boldRun, &plainRun, nullptr};
        worksheet_write_rich_string(sheet, 0, 2, runs, nullptr);
        const double numbers[] = {0,           -0.0,    1.5,
                                  -123456.789, 1e-300,  1.7976931348623157e308,
                                  0.1,         1.0 / 3, 123456789012345678.0};
        for (int i = 0; i < 9; ++i)
            worksheet_write_number(sheet, 1, static_cast<lxw_col_t>(i), numbers[i], nullptr);
        worksheet_write_boolean(sheet, 2, 0, 1, nullptr);
        worksheet_write_formula_num(sheet, 2, 1, "=A2*2", nullptr, 25);
        worksheet_write_formula_str(sheet, 2, 2, "=\"a\"&\"b\"", nullptr, "ab");
        worksheet_write_formula(sheet, 2, 3, "=1/0", nullptr);
        worksheet_write_array_formula(sheet, 2, 4, 2, 4, "{=SUM(B2:C2)}", nullptr);
        worksheet_write_blank(sheet, 3, 0, bold);
        lxw_datetime when = {2024, 2, 29, 13, 45, 30.5};
        worksheet_write_datetime(sheet, 3, 1, &when, date);
        worksheet_write_url(sheet, 3, 2, "https://example.com/?a=1&b=2", nullptr);
        worksheet_write_comment(sheet, 3, 3, "a note");
        worksheet_merge_range(sheet, 4, 0, 5, 2, "merged", nullptr);
        lxw_data_validation validation = {};
        validation.validate = LXW_VALIDATION_TYPE_INTEGER;
        validation.criteria = LXW_VALIDATION_CRITERIA_BETWEEN;
        validation.minimum_number = 1;
        validation.maximum_number = 10;
        worksheet_data_validation_cell(sheet, 6, 0, &validation);
        worksheet_autofilter(sheet, 0, 0, 6, 4);
        worksheet_freeze_panes(sheet, 1, 0);
        lxw_row_col_options hidden = {1, 0, 0};
        worksheet_set_row_opt(sheet, 7, 30, nullptr, &hidden);
        worksheet_write_string(sheet, 7, 0, "hidden row", nullptr);
        worksheet_write_string(sheet, 1048575, 16383, "far away", nullptr);
        lxw_worksheet* second = workbook_add_worksheet(workbook, "Second");
        for (lxw_row_t row = 0; row < 30000; ++row) // a part read on a thread of its own
            for (lxw_col_t col = 0; col < 4; ++col)
                if (col % 2)
                    worksheet_write_number(second, row, col, row * 1.25 + col, nullptr);
                else
                    worksheet_write_string(second, row, col,
                                           ("s" + std::to_string(row % 97)).c_str(), nullptr);
        workbook_add_chartsheet(workbook, "Chart");
    });
    // Constant-memory mode writes every string inline.
    books.push_back(dir.path("inline.xlsx"));
    lxw_workbook_options options = {LXW_TRUE, nullptr, LXW_FALSE};
    lxw_workbook* workbook = workbook_new_opt(books.back().c_str(), &options);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    for (lxw_row_t row = 0; row < 20000; ++row) {
        worksheet_write_string(sheet, row, 0, ("inline <" + std::to_string(row) + ">").c_str(),
                               nullptr);
        worksheet_write_number(sheet, row, 1, row / 7.0, nullptr);
    }
    ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);
    // Each construct in a package of its own, with a shared-string table.
    std::string sharedStrings = "<sst xmlns=\"" + kMain + "\">";
    for (const char* text : kStrings)
        sharedStrings += std::string("<si><t>") + text + "</t></si>";
    sharedStrings += "</sst>";
    const std::vector<std::string> docs = ValidDocuments();
    for (std::size_t i = 0; i < docs.size(); ++i) {
        books.push_back(dir.path("construct" + std::to_string(i) + ".xlsx"));
        gqtest::WriteHandMadeXlsx(books.back(), docs[i], sharedStrings);
    }
    for (const std::string& book : books)
        ExpectSameCellsBothWays(book);
    EXPECT_GT(ReadWorkbook(books[0], gq::SheetParser::Scanner).cells.size(), 120000u);
}

TEST(XlsxSheetParsers, GiveTheSameCellsOnTheTestDataWorkbooks) {
    std::vector<std::string> books = WorkbooksIn(GQ_TEST_DATA_DIR);
    ASSERT_FALSE(books.empty());
    for (const std::string& book : books)
        ExpectSameCellsBothWays(book);
}

TEST(XlsxSheetParsers, GiveTheSameCellsOnTheSharedRealWorkbooks) {
    if (!std::filesystem::is_directory(GQ_REAL_FIXTURES_DIR))
        GTEST_SKIP() << "the shared real workbooks are not beside the project";
    std::vector<std::string> books = WorkbooksIn(GQ_REAL_FIXTURES_DIR);
    for (const std::string& book : books)
        ExpectSameCellsBothWays(book);
    EXPECT_FALSE(books.empty());
}

// The shared strings a table gives, or "error: ..." when the reader refuses it.
std::vector<std::string> StringsOf(const gq::StringPool& pool) {
    std::vector<std::string> strings;
    for (std::size_t i = 0; i < pool.size(); ++i)
        strings.emplace_back(pool.at(i));
    return strings;
}

std::vector<std::string> ExpatStrings(std::string_view part) {
    gq::StringPool pool;
    try {
        gq::MemoryStream input(part);
        gq::ParseSharedStringsXml(input, pool);
    } catch (const gq::Error& error) {
        return {std::string("error: ") + error.what()};
    }
    return StringsOf(pool);
}

bool ReadPlain(const std::string& part, gq::StringPool& pool,
               const Reading& reading = kReadings[0]) {
    PiecewiseStream input(part, reading.pieces);
    return gq::ReadPlainSharedStrings(input, pool, reading.bufferBytes);
}

// Taken in one pass only when expat would read the same strings from it, however its bytes
// arrive.
void ExpectPlainReadAsExpatReads(const std::string& part) {
    gq::StringPool first;
    const bool taken = ReadPlain(part, first);
    if (taken)
        EXPECT_EQ(StringsOf(first), ExpatStrings(part)) << part.substr(0, 200);
    else
        EXPECT_EQ(first.size(), 0u) << part.substr(0, 200);
    for (const Reading& reading : kReadings) {
        gq::StringPool pool;
        EXPECT_EQ(ReadPlain(part, pool, reading), taken) << part.substr(0, 200);
        EXPECT_EQ(StringsOf(pool), StringsOf(first)) << part.substr(0, 200);
    }
}

constexpr const char* kSstHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"9\" "
    "uniqueCount=\"9\">";

TEST(PlainSharedStrings, TakesThePlainFormAsExpatReadsIt) {
    const std::string longText(300000, 'x'); // past what a cell holds
    const std::string plain[] = {
        std::string(kSstHead) +
            "<si><t>green tea</t></si><si><t xml:space=\"preserve\"> two  spaces </t></si>"
            "<si><t></t></si><si><t>a > b ] c \t\n end</t></si>"
            "<si><t>Gr\xC3\xBC\xC3\x9F\x65 \xE2\x9C\x93 \xF0\x9F\x8D\xB5</t></si>"
            "<si><t>line_x000D_break _x005F_x0041_</t></si>"
            "<si><t>&lt;tea&gt; &amp; &quot;milk&apos;</t></si><si><t>" +
            longText + "</t></si></sst>",
        "<sst count='1'><si><t>no declaration</t></si></sst>\n",
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><sst><si><t>bom</t></si></sst>",
    };
    for (const std::string& part : plain) {
        gq::StringPool pool;
        EXPECT_TRUE(ReadPlain(part, pool)) << part.substr(0, 120);
        ExpectPlainReadAsExpatReads(part);
    }
    gq::StringPool pool;
    ASSERT_TRUE(ReadPlain(plain[0], pool));
    EXPECT_EQ(pool.at(5), "line\rbreak _x0041_");
    EXPECT_EQ(pool.at(6), "<tea> & \"milk'");
    EXPECT_EQ(pool.at(7).size(), gq::kMaxCellChars);
}

TEST(PlainSharedStrings, LeavesEveryOtherFormToExpat) {
    const std::string body = "<si><t>tea</t></si>";
    const std::string others[] = {
        // Well-formed, but not plain: references, rich text, phonetic runs, comments, spaces
        // between items, line ends that expat normalises, prefixes, an empty root.
        std::string(kSstHead) + "<si><t>&#x41;</t></si></sst>",
        std::string(kSstHead) + "<si><t>&#65;</t></si></sst>",
        std::string(kSstHead) + "<si><r><t>rich</t></r></si></sst>",
        std::string(kSstHead) + "<si><t>x</t><rPh sb=\"0\" eb=\"1\"><t>y</t></rPh></si></sst>",
        std::string(kSstHead) + body + "<!-- note --></sst>",
        std::string(kSstHead) + body + "\n" + body + "</sst>",
        std::string(kSstHead) + "<si><t>a\r\nb</t></si></sst>",
        std::string(kSstHead) + "<si><t><![CDATA[x]]></t></si></sst>",
        std::string(kSstHead) + "<x:si><x:t>tea</x:t></x:si></sst>",
        std::string(kSstHead) + "<si><t/></si></sst>",
        "<sst/>",
        "<sst a=\"tab\there\">" + body + "</sst>",
        std::string(kSstHead) + body + "</sst><!-- after -->",
        "<?xml version='1.0'?><sst>" + body + "</sst>",
        // Not well-formed: expat is to say why.
        std::string(kSstHead) + "<si><t>a ]]> b</t></si></sst>",
        std::string(kSstHead) + "<si><t>\x01</t></si></sst>",
        std::string(kSstHead) + "<si><t>\xC0\xAF</t></si></sst>",
        std::string(kSstHead) + "<si><t>\xED\xA0\x80</t></si></sst>",
        std::string(kSstHead) + "<si><t>\xEF\xBF\xBE</t></si></sst>",
        std::string(kSstHead) + "<si><t>\xE2\x9C</t></si></sst>",
        std::string(kSstHead) + "<si><t>&amp</t></si></sst>",
        std::string(kSstHead) + "<si><t>&nbsp;</t></si></sst>",
        std::string(kSstHead) + "<si><t>& </t></si></sst>",
        "<sst count=\"1\" count=\"2\">" + body + "</sst>",
        "<sst a=\"<\">" + body + "</sst>",
        std::string(kSstHead) + body,
        std::string(kSstHead) + "<si><t>open",
        std::string(kSstHead) + body + "</sst>junk",
        std::string(kSstHead) + body + "</sst></sst>",
    };
    for (const std::string& part : others) {
        gq::StringPool pool;
        EXPECT_FALSE(ReadPlain(part, pool)) << part;
        EXPECT_EQ(pool.size(), 0u);
    }
    // A table after another adds to it, which is for the general parser to do.
    gq::StringPool pool;
    pool.add("first");
    EXPECT_FALSE(ReadPlain("<sst>" + body + "</sst>", pool));
    EXPECT_EQ(StringsOf(pool), std::vector<std::string>{"first"});
}

TEST(PlainSharedStrings, RandomTablesAreTakenOnlyAsExpatReadsThem) {
    // Plain items mixed with bytes that end the plain form or the document's well-formedness.
    const std::string pieces[] = {"<si><t>", "</t></si>", "tea",      " ",    "]",
                                  "]]>",     ">",         "&amp;",    "&lt;", "&amp",
                                  "&#38;",   "\r",        "\xC3\xA9", "\xC3", "\xEF\xBF\xBF",
                                  "\x01",    "<r>",       "</sst>"};
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string part = "<sst>";
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            if (random() % 3 == 0)
                part += pieces[random() % std::size(pieces)];
            else
                part += "<si><t>" + pieces[2 + random() % 14] + "</t></si>";
        }
        part += random() % 8 ? "</sst>" : "";
        ExpectPlainReadAsExpatReads(part);
    }
}

TEST(PlainSharedStrings, TakeTheTablesThatWritersWrite) {
    gqtest::TempDir dir;
    const std::string path = dir.path("written.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "S");
        worksheet_write_string(sheet, 0, 0, "  spaced  ", nullptr);
        worksheet_write_string(sheet, 1, 0, "caf\xC3\xA9 & <tag>", nullptr);
    });
    gq::StringPool pool;
    EXPECT_TRUE(ReadPlain(gq::ZipPackage(path).read("xl/sharedStrings.xml"), pool));
    EXPECT_EQ(StringsOf(pool), (std::vector<std::string>{"  spaced  ", "caf\xC3\xA9 & <tag>"}));
    std::vector<std::string> books = WorkbooksIn(GQ_TEST_DATA_DIR);
    if (std::filesystem::is_directory(GQ_REAL_FIXTURES_DIR))
        for (const std::string& book : WorkbooksIn(GQ_REAL_FIXTURES_DIR))
            books.push_back(book);
    std::size_t plain = 0;
    for (const std::string& book : books) {
        try {
            gq::ZipPackage package(book);
            if (!package.has("xl/sharedStrings.xml"))
                continue;
            const std::string part = package.read("xl/sharedStrings.xml");
            gq::StringPool strings;
            plain += ReadPlain(part, strings);
            ExpectPlainReadAsExpatReads(part);
        } catch (const gq::Error&) {
            // a damaged test workbook: its table is not the point here
        }
    }
    EXPECT_GT(plain, 0u);
}

} // namespace
