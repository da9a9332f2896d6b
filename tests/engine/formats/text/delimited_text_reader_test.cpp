#include "CellText.h"
#include "DelimitedTextReader.h"
#include "DisplayText.h"
#include "Error.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

class Visitor : public gq::CellVisitor {
public:
    explicit Visitor(std::function<bool(const gq::Cell&)> f) : f_(std::move(f)) {}
    bool visit(const gq::Cell& cell) override { return f_(cell); }

private:
    std::function<bool(const gq::Cell&)> f_;
};

// The cells of a text file as "row,col=text|" with the text as shown; a number is marked
// "row,col:text", a boolean "row,col!text".
std::string Read(gq::FormatReader& reader) {
    std::string out, shown;
    gq::DisplayText display(reader.styles());
    Visitor visitor([&](const gq::Cell& cell) {
        display.textOf(cell, shown);
        const char* mark = cell.kind == gq::CellKind::Number    ? ":"
                           : cell.kind == gq::CellKind::Boolean ? "!"
                                                                : "=";
        out += std::to_string(cell.row) + "," + std::to_string(cell.col) + mark + shown + "|";
        return true;
    });
    reader.readCells(0, visitor);
    return out;
}

std::string ReadBytes(const std::string& bytes, const std::string& name = "data.csv") {
    gqtest::TempDir dir;
    std::string path = dir.path(name);
    gqtest::WriteFile(path, bytes);
    return Read(*gq::OpenFormatReader(path));
}

TEST(DelimitedTextReader, SplitsFieldsAndLines) {
    struct Case {
        std::string bytes;
        std::string cells;
    } cases[] = {
        {"a,b,c\n1,2.50,03/04\n", "1,1=a|1,2=b|1,3=c|2,1:1|2,2:2.5|2,3=03/04|"},
        // Delimiter from the first line: TAB wins, semicolons by majority, else comma.
        {"a;b;c,d\ne;f,g", "1,1=a|1,2=b|1,3=c,d|2,1=e|2,2=f,g|"},
        {"a;b,c,d", "1,1=a;b|1,2=c|1,3=d|"},
        {"a;b\tc,d;e", "1,1=a;b|1,2=c,d;e|"},
        {"\"x;y;z\",w\n", "1,1=x;y;z|1,2=w|"},
        // Quotes: doubled quotes, delimiters and line breaks inside, text after the close.
        {"\"say \"\"hi\"\"\",\"a,b\"\n", "1,1=say \"hi\"|1,2=a,b|"},
        {"\"l1\r\nl2\rl3\nl4\",x", "1,1=l1\nl2\nl3\nl4|1,2=x|"},
        {"\"ab\"cd,e\"f\"", "1,1=abcd|1,2=e\"f\"|"},
        {"\"\",\"\"\"\"", "1,2=\"|"},
        // Line ends of every kind; empty fields and empty lines are not cells.
        {"a\rb\r\nc\n\nd", "1,1=a|2,1=b|3,1=c|5,1=d|"},
        {",,x,\n,\n \n", "1,3=x|3,1= |"},
        // An unterminated quote runs to the end and still yields its text.
        {"a,\"open\nrest, of file", "1,1=a|1,2=open\nrest, of file|"},
        // UTF-8 with or without a mark; otherwise Windows-1252.
        {"\xEF\xBB\xBF\xC3\xA9t\xC3\xA9,\xE2\x82\xAC", "1,1=\xC3\xA9t\xC3\xA9|1,2=\xE2\x82\xAC|"},
        {"caf\xE9;na\xEFve;\x80\x81", "1,1=caf\xC3\xA9|1,2=na\xC3\xAFve|1,3=\xE2\x82\xAC\xC2\x81|"},
        {"\xC3\xA9,\xED\xA0\x80", "1,1=\xC3\x83\xC2\xA9|1,2=\xC3\xAD\xC2\xA0\xE2\x82\xAC|"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadBytes(c.bytes), c.cells) << c.bytes;
    gqtest::TempDir dir;
    gqtest::WriteFile(dir.path("empty.csv"), "");
    EXPECT_EQ(Read(*gq::OpenDelimitedTextReader(dir.path("empty.csv"))), "");
}

TEST(DelimitedTextReader, ALateStrayByteInAUtf8FileIsWindows1252ByItself) {
    std::string bytes = "\xC3\xA9\n" + std::string(1 << 20, 'x') + "\ncaf\xE9\n";
    std::string cells = ReadBytes(bytes);
    EXPECT_TRUE(cells.starts_with("1,1=\xC3\xA9|")) << cells.substr(0, 20);
    EXPECT_TRUE(cells.ends_with("3,1=caf\xC3\xA9|"));
}

TEST(DelimitedTextReader, OneWorksheetNamedAfterTheFile) {
    gqtest::TempDir dir;
    struct Case {
        std::string file;
        std::string sheet;
    } cases[] = {
        {"report.csv", "report"},
        {"q1.2024.txt", "q1.2024"},
        {"noextension", "noextension"},
        {"a-very-long-file-name-that-no-sheet-tab-holds.csv", "a-very-long-file-name-that-no-s"},
    };
    for (const Case& c : cases) {
        std::string path = dir.path(c.file);
        gqtest::WriteFile(path, "x");
        auto reader = gq::OpenFormatReader(path);
        EXPECT_EQ(reader->worksheetNames(), std::vector<std::string>{c.sheet});
        Visitor none([](const gq::Cell&) { return true; });
        EXPECT_THROW(reader->readCells(1, none), gq::Error) << "no second sheet";
    }
}

TEST(DelimitedTextReader, SheetLimitsAndLongFields) {
    gqtest::TempDir dir;
    std::string wide;
    for (int i = 1; i <= 16390; ++i)
        wide += std::to_string(i) + ",";
    std::string path = dir.path("wide.csv");
    gqtest::WriteFile(path, wide + "\n\"" + std::string(3 << 20, 'y') + "\nnext");
    auto reader = gq::OpenFormatReader(path);
    std::uint32_t maxCol = 0;
    std::size_t longest = 0;
    Visitor visitor([&](const gq::Cell& cell) {
        maxCol = std::max(maxCol, cell.col);
        longest = std::max(longest, cell.text.size());
        if (cell.col == 16384) {
            EXPECT_EQ(cell.number, 16384);
        }
        return true;
    });
    reader->readCells(0, visitor);
    EXPECT_EQ(maxCol, 16384u);
    EXPECT_EQ(longest, gq::kMaxCellChars); // the unterminated quote, cut at a cell's length

    std::string tall(2 * 1048577, '\n');
    for (std::size_t i = 0; i < tall.size(); i += 2)
        tall[i] = 'r';
    gqtest::WriteFile(path, tall);
    std::uint32_t lastRow = 0;
    Visitor rows([&](const gq::Cell& cell) {
        lastRow = cell.row;
        return true;
    });
    gq::OpenFormatReader(path)->readCells(0, rows);
    EXPECT_EQ(lastRow, 1048576u);
}

TEST(DelimitedTextReader, StopsWhenTheVisitorSaysSo) {
    gqtest::TempDir dir;
    std::string path = dir.path("stop.csv");
    gqtest::WriteFile(path, "a,b\nc,d\n");
    auto reader = gq::OpenFormatReader(path);
    int seen = 0;
    Visitor visitor([&](const gq::Cell&) { return ++seen < 3; });
    reader->readCells(0, visitor);
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(Read(*reader), "1,1=a|1,2=b|2,1=c|2,2=d|"); // a second read starts afresh
}

// What a spreadsheet makes of each field on opening the file (en-US): the text it then shows,
// marked as in Read.
TEST(DelimitedTextReader, FieldsBecomeWhatASpreadsheetMakesOfThem) {
    const struct {
        const char* field;
        const char* cell;
    } cases[] = {
        // Numbers, shown in General: at most eleven characters, as a standard column holds.
        {"064", "1,1:64|"},
        {" 77 ", "1,1:77|"},
        {"1.50", "1,1:1.5|"},
        {"+5", "1,1:5|"},
        {"-5.25", "1,1:-5.25|"},
        {"-0", "1,1:0|"},
        {".5", "1,1:0.5|"},
        {"5.", "1,1:5|"},
        {"\"42\"", "1,1:42|"},
        {"\" 42 \"", "1,1:42|"},
        {"123456789012345", "1,1:1.23457E+14|"},
        {"4111111111111111", "1,1:4.11111E+15|"},
        // The shape that was typed picks the format: scientific, percent, thousands.
        {"1e3", "1,1:1.00E+03|"},
        {"1.5E-3", "1,1:1.50E-03|"},
        {"2310009E13", "1,1:2.31E+19|"},
        {"5%", "1,1:5%|"},
        {"-12.5%", "1,1:-12.50%|"},
        {"\"1,333\"", "1,1:1,333|"},
        {"\"1,333.00\"", "1,1:1,333.00|"},
        {"\"1,333.5\"", "1,1:1,333.50|"},
        {"\"-12,345,678\"", "1,1:-12,345,678|"},
        {"\"1,000%\"", "1,1:1000%|"},
        // Booleans in any case.
        {"TRUE", "1,1!TRUE|"},
        {"true", "1,1!TRUE|"},
        {" False ", "1,1!FALSE|"},
        // Dates m/d/yyyy with a four-digit year, in the 1900 date system.
        {"3/24/2022", "1,1:3/24/2022|"},
        {"03/04/2022", "1,1:3/4/2022|"},
        {"2/29/1900", "1,1:2/29/1900|"},
        {"12/31/9999", "1,1:12/31/9999|"},
        // Everything else stays as written.
        {"\"1,2\"", "1,1=1,2|"},
        {"\"1,23,456\"", "1,1=1,23,456|"},
        {"\"0,123\"", "1,1=0,123|"},
        {"\"1,000e3\"", "1,1=1,000e3|"},
        {"1 000", "1,1=1 000|"},
        {"1.2.3", "1,1=1.2.3|"},
        {"--5", "1,1=--5|"},
        {"5-", "1,1=5-|"},
        {"e5", "1,1=e5|"},
        {"1e", "1,1=1e|"},
        {"1e5%", "1,1=1e5%|"},
        {"1e400", "1,1=1e400|"},
        {"0x1A", "1,1=0x1A|"},
        {"inf", "1,1=inf|"},
        {"nan", "1,1=nan|"},
        {"$5", "1,1=$5|"},
        {"(5)", "1,1=(5)|"},
        {"12:30", "1,1=12:30|"},
        {"TRUE!", "1,1=TRUE!|"},
        {"3/24/22", "1,1=3/24/22|"},
        {"24/3/2022", "1,1=24/3/2022|"},
        {"2/29/2021", "1,1=2/29/2021|"},
        {"1/1/1899", "1,1=1/1/1899|"},
        {"2022-03-24", "1,1=2022-03-24|"},
        {"3/24/2022 10:00", "1,1=3/24/2022 10:00|"},
        {" ", "1,1= |"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadBytes(std::string(c.field) + "\n"), c.cell) << c.field;
}

TEST(DelimitedTextReader, NumbersAndDatesHoldTheValuesTyped) {
    struct Collect : gq::CellVisitor {
        std::vector<gq::Cell> cells;
        bool visit(const gq::Cell& cell) override {
            cells.push_back(cell);
            return true;
        }
    };
    gqtest::TempDir dir;
    std::string path = dir.path("values.csv");
    gqtest::WriteFile(path, "1234567890123456789,0.1,5%,1/1/1900,2/28/1900,3/1/1900,3/24/2022\n");
    Collect collect;
    gq::OpenFormatReader(path)->readCells(0, collect);
    const double want[] = {1234567890123450000.0, 0.1, 0.05, 1, 59, 61, 44644};
    ASSERT_EQ(collect.cells.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i)
        EXPECT_EQ(collect.cells[i].number, want[i]) << i; // 15 digits kept, as typed in a cell
}

TEST(DelimitedTextReader, AFirstLineSepNamesTheDelimiter) {
    const struct {
        std::string bytes;
        std::string cells;
    } cases[] = {
        {"sep=;\na;b,c\n1;2", "1,1=a|1,2=b,c|2,1:1|2,2:2|"},
        {"sep=|\r\nx|y\r\n", "1,1=x|1,2=y|"},
        {"sep=\t\nx\ty,z", "1,1=x|1,2=y,z|"},
        {"\xEF\xBB\xBFsep=;\nx;y", "1,1=x|1,2=y|"},
        {"sep=,", ""},
        // Not such a line: an ordinary first row.
        {"sep=;;\nx", "1,1=sep=|2,1=x|"},
        {"Sep=;\nx", "1,1=Sep=|2,1=x|"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadBytes(c.bytes), c.cells) << c.bytes;
}

std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string out;
    for (char16_t unit : text) {
        char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        out += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

std::string Utf32(const std::u32string& text, bool bigEndian) {
    std::string out;
    for (char32_t c : text)
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>(c >> (8 * (bigEndian ? 3 - i : i)));
    return out;
}

TEST(DelimitedTextReader, ReadsUtf16AndUtf32) {
    const std::u16string tabbed = u"a\tb,c\r\n1\t\u20AC\U0001F600";
    const std::string tabbedCells = "1,1=a|1,2=b,c|2,1:1|2,2=€😀|";
    const struct {
        std::string bytes;
        std::string cells;
    } cases[] = {
        {"\xFF\xFE" + Utf16(tabbed, false), tabbedCells},
        {"\xFE\xFF" + Utf16(tabbed, true), tabbedCells},
        {Utf16(tabbed, false), tabbedCells}, // no mark: the NULs tell
        {Utf16(tabbed, true), tabbedCells},
        {std::string("\xFF\xFE\0\0", 4) + Utf32(U"a\tb,c\r\n1\t\u20AC\U0001F600", false),
         tabbedCells},
        {std::string("\0\0\xFE\xFF", 4) + Utf32(U"a\tb,c\r\n1\t\u20AC\U0001F600", true),
         tabbedCells},
        // TAB, as Unicode text is written, unless the first line shows another delimiter.
        {"\xFF\xFE" + Utf16(u"Name\r\nx,y;z", false), "1,1=Name|2,1=x,y;z|"},
        {"\xFF\xFE" + Utf16(u"x,y\r\n1,2", false), "1,1=x|1,2=y|2,1:1|2,2:2|"},
        {"\xFF\xFE" + Utf16(u"sep=;\r\nx;y", false), "1,1=x|1,2=y|"},
        // A lone surrogate, and a file that ends inside a code unit.
        {"\xFF\xFE" + Utf16(u"a\xD800z", false) + "b", "1,1=a\xEF\xBF\xBDz\xEF\xBF\xBD|"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadBytes(c.bytes), c.cells) << c.cells;
    // A surrogate pair split between two blocks of the read, and one just past the split.
    for (std::size_t filler : {32766u, 32767u}) {
        std::u16string text = u"a\r\n" + std::u16string(filler - 3, u'x') + u"\U0001F600\r\nend";
        std::string cells = ReadBytes("\xFF\xFE" + Utf16(text, false));
        EXPECT_TRUE(cells.ends_with("x😀|3,1=end|")) << filler;
    }
}

// A stray NUL or control code leaves the file text: a NUL is dropped, another code is kept.
// A file full of them is no text.
TEST(DelimitedTextReader, StrayControlCodesAreNoReasonToRefuseAFile) {
    EXPECT_EQ(ReadBytes(std::string("a\0b,c\x01\n", 7)), "1,1=ab|1,2=c\x01|");
    EXPECT_EQ(ReadBytes(std::string("x\0", 2)), "1,1=x|");
    EXPECT_EQ(ReadBytes(std::string(3000, 'a') + std::string("\0\x02\0", 3) + ",1"),
              "1,1=" + std::string(3000, 'a') + "\x02|1,2:1|");
    gqtest::TempDir dir;
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) % 251);
    for (const std::string& bytes :
         {binary, std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x10", 20),
          Utf32(U"text without a mark", false)}) {
        gqtest::WriteFile(dir.path("binary.csv"), bytes);
        try {
            gq::OpenFormatReader(dir.path("binary.csv"));
            ADD_FAILURE() << "read as text: " << bytes.substr(0, 8);
        } catch (const gq::Error& error) {
            EXPECT_EQ(std::string(error.what()), gq::kNotAWorkbook);
        }
    }
}

// A field is cut at a cell's length while it is read, in every encoding.
TEST(DelimitedTextReader, LongFieldsAreCutAtACellsLength) {
    const std::size_t limit = gq::kMaxCellChars;
    std::string utf8;
    for (std::size_t i = 0; i < 40000; ++i)
        utf8 += "\xC3\xA9";
    std::string cp1252(40000, '\xE9');
    const struct {
        std::string bytes;
        std::string first;
    } cases[] = {
        {"\"" + utf8 + "\",after\n", utf8.substr(0, 2 * limit)},
        {cp1252 + ",after\n", utf8.substr(0, 2 * limit)},
        {"\xFF\xFE" + Utf16(std::u16string(40000, u'\u00E9') + u"\tafter", false),
         utf8.substr(0, 2 * limit)},
        // Cut first: what is left reads as a number past the largest a cell takes.
        {std::string(100000, '7') + ",after", std::string(limit, '7')},
    };
    for (const auto& c : cases) {
        std::string cells = ReadBytes(c.bytes);
        EXPECT_TRUE(cells.ends_with("|1,2=after|")) << c.first.substr(0, 10);
        EXPECT_EQ(cells.find('|'), 4 + c.first.size()) << c.first.substr(0, 10);
    }
}

} // namespace
