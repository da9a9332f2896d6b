#include "DelimitedTextReader.h"
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

// The cells of a text file as "row,col=text" lines.
std::string Read(gq::FormatReader& reader) {
    std::string out;
    Visitor visitor([&](const gq::Cell& cell) {
        EXPECT_EQ(cell.kind, gq::CellKind::String);
        out += std::to_string(cell.row) + "," + std::to_string(cell.col) + "=" +
               std::string(cell.text) + "|";
        return true;
    });
    reader.readCells(0, visitor);
    return out;
}

std::string ReadBytes(const std::string& bytes, const std::string& name = "data.csv") {
    gqtest::TempDir dir;
    std::string path = dir.path(name);
    gqtest::WriteFile(path, bytes);
    return Read(*gq::OpenDelimitedTextReader(path));
}

TEST(DelimitedTextReader, FieldsAsTyped) {
    struct Case {
        std::string bytes;
        std::string cells;
    } cases[] = {
        {"a,b,c\n1,2.50,03/04\n", "1,1=a|1,2=b|1,3=c|2,1=1|2,2=2.50|2,3=03/04|"},
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
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadBytes(c.bytes), c.cells) << c.bytes;
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
            EXPECT_EQ(cell.text, "16384");
        }
        return true;
    });
    reader->readCells(0, visitor);
    EXPECT_EQ(maxCol, 16384u);
    EXPECT_EQ(longest, 1u << 20); // the unterminated quote, cut at the field limit

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

} // namespace
