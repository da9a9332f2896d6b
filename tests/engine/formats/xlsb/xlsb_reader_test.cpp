#include "CellText.h"
#include "DisplayText.h"
#include "Error.h"
#include "FormatReader.h"
#include "NumberFormat.h"
#include "TestFiles.h"
#include "XlsbRecords.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <QDir>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace {

using namespace gq;
namespace rt = gq::xlsb::rt;

// Record bytes as the format lays them out.
std::string U8(unsigned v) {
    return std::string(1, static_cast<char>(v));
}
std::string U16(unsigned v) {
    return U8(v & 0xFF) + U8(v >> 8 & 0xFF);
}
std::string U32(std::uint32_t v) {
    return U16(v & 0xFFFF) + U16(v >> 16);
}
std::string F64(double v) {
    return std::string(reinterpret_cast<const char*>(&v), 8);
}
std::string Wide(std::u16string_view text) {
    std::string bytes = U32(static_cast<std::uint32_t>(text.size()));
    for (char16_t unit : text)
        bytes += U16(unit);
    return bytes;
}
std::string Header(std::uint32_t type, std::uint32_t size) {
    std::string bytes = type < 0x80 ? U8(type) : U8((type & 0x7F) | 0x80) + U8(type >> 7);
    for (; size >= 0x80; size >>= 7)
        bytes += U8((size & 0x7F) | 0x80);
    return bytes + U8(size);
}
std::string Rec(std::uint32_t type, const std::string& payload = {}) {
    return Header(type, static_cast<std::uint32_t>(payload.size())) + payload;
}
std::string Row(std::uint32_t row) {
    return Rec(rt::RowHdr, U32(row) + std::string(21, '\0'));
}
std::string CellRec(std::uint32_t type, std::uint32_t col, const std::string& value,
                    std::uint32_t style = 0) {
    return Rec(type, U32(col) + U32(style) + value);
}
const std::string kFormula = U16(0) + U32(3) + std::string("\x1e\x01\x00", 3) + U32(0);
const std::string kOpenTable = Rec(rt::BeginSheet) + Rec(rt::BeginSheetData);
std::string Sheet(const std::string& data) {
    return kOpenTable + data + Rec(rt::EndSheetData) + Rec(rt::EndSheet);
}

// A tiny workbook: the given worksheets, with a chart sheet listed after the first.
struct Book {
    std::vector<std::string> sheets; // parts; the sheets are named S1, S2, ...
    std::vector<std::u16string> strings;
    std::string stringsPart; // replaces `strings` when set
    std::string styles;
    bool date1904 = false;
};

std::string WriteBook(const gqtest::TempDir& dir, const Book& book) {
    auto rel = [](const std::string& id, const std::string& type, const std::string& target) {
        return "<Relationship Id=\"" + id + "\" Type=\"http://x/" + type + "\" Target=\"" + target +
               "\"/>";
    };
    std::string links = rel("c", "chartsheet", "chart.bin") + rel("t", "sharedStrings", "t.bin") +
                        rel("y", "styles", "y.bin");
    std::string bundles, strings = Rec(rt::BeginSst);
    std::vector<std::pair<std::string, std::string>> parts;
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        std::string n = std::to_string(i + 1);
        links += rel("s" + n, "worksheet", "s" + n + ".bin");
        parts.emplace_back("xl/s" + n + ".bin", book.sheets[i]);
        bundles +=
            Rec(rt::BundleSh, U32(0) + U32(i) + Wide(u"s" + std::u16string(n.begin(), n.end())) +
                                  Wide(u"S" + std::u16string(n.begin(), n.end())));
        if (i == 0)
            bundles += Rec(rt::BundleSh, U32(0) + U32(9) + Wide(u"c") + Wide(u"Chart"));
    }
    for (const auto& item : book.strings)
        strings += Rec(rt::SstItem, U8(0) + Wide(item));
    parts.insert(
        parts.end(),
        {{"_rels/.rels",
          "<Relationships>" + rel("w", "officeDocument", "xl/w.bin") + "</Relationships>"},
         {"xl/_rels/w.bin.rels", "<Relationships>" + links + "</Relationships>"},
         {"xl/w.bin", Rec(rt::WbProp, U32(book.date1904)) + bundles},
         {"xl/chart.bin", Rec(rt::BeginSheet) + Rec(rt::EndSheet)},
         {"xl/t.bin", book.stringsPart.empty() ? strings + Rec(rt::EndSst) : book.stringsPart},
         {"xl/y.bin", book.styles}});
    std::string path = dir.path("book.xlsb");
    gqtest::WriteZip(path, parts);
    return path;
}

// Each cell as "row,col kind style value".
class Collector : public CellVisitor {
public:
    explicit Collector(std::size_t limit = SIZE_MAX) : limit_(limit) {}
    bool visit(const Cell& c) override {
        std::ostringstream line;
        line << c.row << "," << c.col << " "
             << "BNSTE"[static_cast<int>(c.kind)] << c.style << " "
             << (c.kind == CellKind::String || c.kind == CellKind::Error
                     ? std::string(c.text)
                     : testing::PrintToString(c.number));
        cells.push_back(line.str());
        return cells.size() < limit_;
    }
    std::vector<std::string> cells;

private:
    std::size_t limit_;
};

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

TEST(XlsbRecords, DecodesVariableLengthHeaders) {
    using S = xlsb::HeaderStatus;
    const struct {
        std::string bytes;
        S status;
        std::uint32_t type = 0, size = 0;
    } cases[] = {
        {"\x07\x0c", S::Complete, 7, 12},
        {"\x97\x04\x02", S::Complete, 535, 2},
        {"\x9c\x01\x80\x01", S::Complete, 156, 128},
        {"\x97\x04\xff\xff\xff\x7f", S::Complete, 535, 0x0FFFFFFF},
        {"\x97", S::Incomplete},
        {"\x01\x80\x80", S::Incomplete},
        {"\x97\x84\x01", S::Invalid},             // a type of three bytes
        {"\x01\x80\x80\x80\x80\x01", S::Invalid}, // a size of five bytes
    };
    for (const auto& c : cases) {
        xlsb::RecordHeader h;
        auto bytes = reinterpret_cast<const unsigned char*>(c.bytes.data());
        ASSERT_EQ(xlsb::DecodeRecordHeader(bytes, c.bytes.size(), h), c.status) << c.bytes;
        if (c.status == S::Complete) {
            EXPECT_EQ(std::tuple(h.type, h.size, h.length),
                      std::tuple(c.type, c.size, c.bytes.size()));
        }
    }
}

TEST(XlsbRecords, DecodesRkNumbersExactly) {
    const std::pair<std::uint32_t, double> cases[] = {
        {0x3FF80000, 1.5},        {0x40E4D4E0, 42663.0},   {0x3FF00001, 0.01},
        {5u << 2 | 2, 5.0},       {0xFFFFFFFE, -1.0},      {123u << 2 | 3, 1.23},
        {0x80000002, -536870912}, {0x7FFFFFFE, 536870911}, {0xFFFF3F1F, -123.45}};
    for (const auto& [rk, value] : cases)
        EXPECT_EQ(DecodeRk(rk), value) << std::hex << rk;
}

// Hands out one byte a call, so every header and payload straddles reads.
class TrickleStream : public ByteStream {
public:
    explicit TrickleStream(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(char* buffer, std::size_t size) override {
        if (at_ == bytes_.size() || size == 0)
            return 0;
        *buffer = bytes_[at_++];
        return 1;
    }

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

TEST(XlsbRecords, WalksRecordsAcrossReadsAndSkipsUnreadPayloads) {
    std::string big(300000, 'b'); // more than the reader's buffer holds
    std::string bytes = Rec(1, "abc") + Rec(535) + Rec(2, big) + Rec(3, big) + Rec(4, "z");
    MemoryStream memory(bytes);
    TrickleStream trickle(bytes);
    for (ByteStream* input :
         {static_cast<ByteStream*>(&memory), static_cast<ByteStream*>(&trickle)}) {
        xlsb::RecordReader records(*input, "part");
        std::string seen;
        while (records.next()) {
            auto p = records.type() == 3 ? xlsb::Payload{} : records.payload();
            seen += std::to_string(records.type()) + ":" +
                    std::string(reinterpret_cast<const char*>(p.data), p.size).substr(0, 4) + " ";
        }
        EXPECT_EQ(seen, "1:abc 535: 2:bbbb 3: 4:z ");
    }
}

TEST(XlsbReader, ReadsEveryKindOfCellInRowMajorOrder) {
    gqtest::TempDir dir;
    Book book;
    book.strings = {u"first", u"zwei \u00fc"};
    book.sheets = {Sheet(
        Row(0) + CellRec(rt::CellBlank, 0, "", 1) + CellRec(rt::CellRk, 1, U32(0x3FF80000)) +
        CellRec(rt::CellReal, 2, F64(0.1), 2) + CellRec(rt::CellBool, 3, U8(1)) +
        CellRec(rt::CellError, 4, U8(0x07)) + CellRec(rt::CellIsst, 5, U32(1)) +
        CellRec(rt::CellIsst, 6, U32(2)) + // past the table
        CellRec(rt::CellSt, 7, Wide(u"\U0001F600 \xD83D!")) +
        CellRec(rt::CellRString, 8, U8(1) + Wide(u"rich") + U32(1) + U32(0)) + Row(4) +
        CellRec(rt::FmlaString, 0, Wide(u"cached") + kFormula, 3) +
        CellRec(rt::FmlaNum, 1, F64(-2.5) + kFormula) + CellRec(rt::FmlaBool, 2, U8(0) + kFormula) +
        CellRec(rt::FmlaError, 3, U8(0x2A) + kFormula) +
        CellRec(rt::CellError, 4, U8(0x63)) + // no such code: nothing to show
        Row(1048575) + CellRec(rt::CellRk, 16383, U32(7 << 2 | 2)))};
    auto reader = OpenFormatReader(WriteBook(dir, book));
    Collector got, firstTwo(2);
    reader->readCells(0, got);
    EXPECT_EQ(got.cells,
              (std::vector<std::string>{"1,1 B1 0", "1,2 N0 1.5", "1,3 N2 0.1", "1,4 T0 1",
                                        "1,5 E0 #DIV/0!", "1,6 S0 zwei \xc3\xbc", "1,7 S0 ",
                                        "1,8 S0 \xf0\x9f\x98\x80 \xef\xbf\xbd!", "1,9 S0 rich",
                                        "5,1 S3 cached", "5,2 N0 -2.5", "5,3 T0 0", "5,4 E0 #N/A",
                                        "5,5 B0 0", "1048576,16384 N0 7"}));
    reader->readCells(0, firstTwo); // the visitor stops the read
    EXPECT_EQ(firstTwo.cells.size(), 2u);
    std::string codes;
    for (unsigned code : {0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A, 0x2B})
        codes += std::string(ErrorCodeText(code)) + " ";
    EXPECT_EQ(codes, "#NULL! #DIV/0! #VALUE! #REF! #NAME? #NUM! #N/A #GETTING_DATA ");
}

TEST(XlsbReader, LongStringsAndRecordsCostACellsWorth) {
    gqtest::TempDir dir;
    Book book;
    const std::u16string longText = u"tea" + std::u16string(70000, u'a');
    // A surrogate pair across the cut is left out whole.
    const std::u16string astral =
        std::u16string(gq::kMaxCellChars - 1, u'x') + u"\U0001F600" + u"tail";
    book.strings = {longText};
    // A formula string whose record runs on for 3 MB beyond its text.
    book.sheets = {Sheet(Row(0) + CellRec(rt::CellIsst, 0, U32(0)) +
                         CellRec(rt::CellIsst, 1, U32(0)) + CellRec(rt::CellSt, 2, Wide(astral)) +
                         CellRec(rt::FmlaString, 3, Wide(u"cached") + std::string(3 << 20, 'f')) +
                         CellRec(rt::CellRk, 4, U32(7 << 2 | 2)))};
    auto reader = OpenFormatReader(WriteBook(dir, book));
    std::vector<Cell> cells;
    std::vector<std::string> texts;
    class Collect : public CellVisitor {
    public:
        Collect(std::vector<Cell>& cells, std::vector<std::string>& texts)
            : cells_(cells), texts_(texts) {}
        bool visit(const Cell& cell) override {
            cells_.push_back(cell);
            texts_.emplace_back(cell.text);
            return true;
        }

    private:
        std::vector<Cell>& cells_;
        std::vector<std::string>& texts_;
    } collect(cells, texts);
    reader->readCells(0, collect);
    ASSERT_EQ(cells.size(), 5u);
    EXPECT_EQ(texts[0], "tea" + std::string(gq::kMaxCellChars - 3, 'a'));
    EXPECT_EQ(cells[0].sharedString, 0u);
    EXPECT_EQ(cells[0].text.data(), cells[1].text.data());
    EXPECT_EQ(texts[2], std::string(gq::kMaxCellChars - 1, 'x'));
    EXPECT_EQ(texts[3], "cached");
    EXPECT_EQ(cells[4].number, 7);
}

TEST(XlsbReader, PassesCellsInRowMajorOrderWhateverOrderThePartListsThemIn) {
    // A cell before one it follows, a cell twice, a row before one it follows.
    gqtest::TempDir dir;
    Book book;
    auto number = [](std::uint32_t col, std::uint32_t value) {
        return CellRec(rt::CellRk, col, U32(value << 2 | 2));
    };
    book.sheets = {Sheet(Row(0) + number(2, 3) + number(0, 1) + Row(4) + number(1, 5) +
                         number(1, 6) + Row(1) + number(0, 2))};
    auto reader = OpenFormatReader(WriteBook(dir, book));
    Collector got;
    reader->readCells(0, got);
    EXPECT_EQ(got.cells, (std::vector<std::string>{"1,3 N0 3", "5,2 N0 5"}));
}

TEST(XlsbReader, ListsWorksheetsWithTheirFormatsAndDateSystem) {
    auto xf = [](unsigned format) {
        return Rec(rt::XF, U16(0) + U16(format) + std::string(12, '\0'));
    };
    gqtest::TempDir dir;
    Book book;
    book.sheets = {Sheet(""), Sheet("")};
    book.date1904 = true;
    // The style XF ahead of the cell XFs must not take a cell XF's place; a short XF still does.
    book.styles = Rec(rt::Fmt, U16(164) + Wide(u"0.0\\ \"m\"")) +
                  Rec(rt::Fmt, U16(14) + Wide(u"dd/mm")) + xf(164) + Rec(rt::BeginCellXFs) + xf(0) +
                  xf(164) + xf(14) + Rec(rt::XF, "\x01") + xf(10) + Rec(rt::EndCellXFs);
    auto reader = OpenFormatReader(WriteBook(dir, book));
    EXPECT_EQ(reader->worksheetNames(), (std::vector<std::string>{"S1", "S2"}));
    std::string percent = BuiltInFormatCode(10).empty() ? "General" : BuiltInFormatCode(10);
    std::vector<std::string> codes;
    for (std::uint32_t style = 0; style < reader->styles().styleCount(); ++style)
        codes.push_back(reader->styles().code(style));
    EXPECT_EQ(codes,
              (std::vector<std::string>{"General", "0.0\\ \"m\"", "dd/mm", "General", percent}));
    EXPECT_TRUE(reader->styles().date1904);
    Collector none;
    EXPECT_THROW(reader->readCells(2, none), Error);
}

TEST(XlsbReader, SurvivesDamagedParts) {
    const std::string good = Row(0) + CellRec(rt::CellRk, 0, U32(1 << 2 | 2));
    const std::string cut = Sheet(good + Row(1));
    const struct {
        const char* what;
        std::string sheet, strings;
        std::size_t cells; // read before the end or the error
        const char* failure = nullptr;
    } cases[] = {
        {"unknown records", Sheet(Rec(1000, "x") + Rec(0x3FFF, std::string(70000, 'x')) + good), "",
         1},
        {"cell records too short for their value",
         Sheet(good + CellRec(rt::CellReal, 1, "abc") + Rec(rt::CellSt, "ab")), "", 1},
        {"a string longer than its record", Sheet(good + CellRec(rt::CellSt, 1, U32(9) + "a")), "",
         2},
        {"cells outside the grid",
         Sheet(good + CellRec(rt::CellRk, 16384, U32(0)) + Row(1048576) +
               CellRec(rt::CellRk, 0, U32(0))),
         "", 1},
        {"an empty part", "", "", 0},
        {"a size far past the end", kOpenTable + good + Header(rt::CellSt, 0x0FFFFFF0) + "abc", "",
         1, "s1.bin is cut off"},
        {"a skipped size far past the end", kOpenTable + good + Header(999, 0x0FFFFFF0) + "ab", "",
         1, "s1.bin is cut off"},
        {"a part cut inside a record", cut.substr(0, cut.size() - 10), "", 1, "s1.bin is cut off"},
        {"a part cut inside a header", kOpenTable + good + "\x97", "", 1, "s1.bin is cut off"},
        {"a part cut between records", kOpenTable + good, "", 1, "s1.bin is cut off"},
        {"a malformed header", kOpenTable + good + "\xff\xff\xff", "", 1,
         "s1.bin holds a malformed record"},
        {"shared strings cut off", Sheet(good),
         Rec(rt::BeginSst) + Rec(rt::SstItem, U8(0) + Wide(u"abcdefgh")).substr(0, 9), 0,
         "t.bin is cut off"},
    };
    for (const auto& c : cases) {
        gqtest::TempDir dir;
        Book book;
        book.sheets = {c.sheet};
        book.stringsPart = c.strings;
        auto reader = OpenFormatReader(WriteBook(dir, book));
        Collector got;
        std::string message = ErrorOf([&] { reader->readCells(0, got); });
        EXPECT_EQ(got.cells.size(), c.cells) << c.what;
        EXPECT_EQ(message, c.failure ? std::string(kNotAWorkbook) + ": the part xl/" + c.failure
                                     : "no error")
            << c.what;
    }
}

TEST(XlsbReader, MissingSheetPartSaysSo) {
    gqtest::TempDir dir;
    Book book;
    book.sheets = {Sheet("")};
    std::string path = WriteBook(dir, book);
    zip_t* zip = zip_open(path.c_str(), 0, nullptr);
    zip_delete(zip, zip_name_locate(zip, "xl/s1.bin", 0));
    zip_close(zip);
    Collector got;
    EXPECT_EQ(ErrorOf([&] { OpenFormatReader(path)->readCells(0, got); }),
              std::string(kNotAWorkbook) + ": the part xl/s1.bin is missing");
}

// Differences kept on purpose. The reader shows what the file stores and what the program that
// wrote it shows; the exporting program recalculates formulas, and counts the serial days before
// 1900-03-01 one lower (it has no 29 February 1900).
const std::set<std::string> kKeptDifferences = {
    // Cached results of TEXT(A1, "YYYY-MM-DD") for the serials 1 and 11.
    "SheetJS_test_files__1904__1900.xlsb!Sheet1!C1: shown '1899-12-31', read '1900-01-01'",
    "SheetJS_test_files__1904__1900.xlsb!Sheet1!D1: shown '1899-12-31', read '1900-01-01'",
    "SheetJS_test_files__1904__1900.xlsb!Sheet1!C2: shown '1900-01-10', read '1900-01-11'",
    "SheetJS_test_files__1904__1900.xlsb!Sheet1!D2: shown '1900-01-10', read '1900-01-11'",
    // The same serials through a date format.
    "SheetJS_test_files__1904__1900.xlsb!Sheet1!B1: shown '1899-12-31', read '1900-01-01'",
    "SheetJS_test_files__1904__1900.xlsb!Sheet1!B2: shown '1900-01-10', read '1900-01-11'",
    // The cached result is 0; the formula names a range that the exporting program cannot
    // resolve, so its recalculation gives its own error text.
    "tafia_calamine__tests__issues.xlsb!Sheet1!A2: shown 'Err:520', read '0'",
    // Boolean formula results, which the exporting program shows as numbers.
    "tafia_calamine__tests__issues.xlsb!datatypes!A4: shown '0', read 'FALSE'",
    "tafia_calamine__tests__issues.xlsb!issue6!A4: shown '0', read 'FALSE'",
    "tafia_calamine__tests__issue_182.xlsb!formula_vals!A3: shown '0', read 'FALSE'",
};

// The non-empty displayed texts of a sheet by "A1"-style name.
class ShownTexts : public CellVisitor {
public:
    explicit ShownTexts(const StyleTable& styles) : display_(styles) {}
    bool visit(const Cell& c) override {
        display_.textOf(c, text_);
        if (!text_.empty())
            cells[Name(c.row - 1, c.col - 1)] = text_;
        return true;
    }
    static std::string Name(std::size_t row, std::size_t col) {
        std::string letters;
        for (std::size_t n = col + 1; n > 0; n = (n - 1) / 26)
            letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
        return letters + std::to_string(row + 1);
    }
    std::map<std::string, std::string> cells;

private:
    DisplayText display_;
    std::string text_;
};

class XlsbRealFixture : public testing::TestWithParam<std::string> {};

// Number-format-dependent cells (dates, fixed decimals, elapsed hours) fail until the format engine
// is complete.
TEST_P(XlsbRealFixture, MatchesTheShownExport) {
    const std::string file = GetParam();
    std::string path = gqtest::RealFixture(file);
    if (path.empty())
        GTEST_SKIP() << "the shared real workbooks are not beside the project";
    auto shown = gqtest::ReadShownExport(path + ".shown");
    auto reader = OpenFormatReader(path);
    std::vector<std::string> differences;
    for (std::size_t s = 0; s < reader->worksheetNames().size(); ++s) {
        const std::string& name = reader->worksheetNames()[s];
        auto sheet =
            std::find_if(shown.begin(), shown.end(), [&](auto& x) { return x.name == name; });
        ASSERT_NE(sheet, shown.end()) << name;
        ShownTexts read(reader->styles());
        reader->readCells(s, read);
        auto note = [&](const std::string& cell, const std::string& expected,
                        const std::string& got) {
            if (expected != got)
                differences.push_back(file + "!" + name + "!" + cell + ": shown '" + expected +
                                      "', read '" + got + "'");
        };
        for (std::size_t r = 0; r < sheet->rows.size(); ++r)
            for (std::size_t c = 0; c < sheet->rows[r].size(); ++c) {
                auto found = read.cells.extract(ShownTexts::Name(r, c));
                note(ShownTexts::Name(r, c), sheet->rows[r][c], found ? found.mapped() : "");
            }
        for (const auto& [cell, text] : read.cells)
            note(cell, "", text);
    }
    for (const auto& difference : differences)
        EXPECT_TRUE(kKeptDifferences.count(difference)) << difference;
    for (const auto& kept : kKeptDifferences) // one that no longer shows must leave the list
        if (kept.rfind(file + "!", 0) == 0) {
            EXPECT_NE(std::find(differences.begin(), differences.end(), kept), differences.end())
                << kept;
        }
}

std::vector<std::string> RealXlsbFixtures() {
    std::vector<std::string> names;
    QDir folder(GQ_REAL_FIXTURES_DIR);
    for (const QString& entry : folder.entryList({"*.xlsb"}, QDir::Files, QDir::Name))
        if (folder.exists(entry + ".shown"))
            names.push_back(entry.toStdString());
    return names.empty() ? std::vector<std::string>{"absent.xlsb"} : names;
}

INSTANTIATE_TEST_SUITE_P(Written, XlsbRealFixture, testing::ValuesIn(RealXlsbFixtures()),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); },
                                 '_');
                             return name;
                         });

TEST(XlsbReader, RealWorkbookSheetListsAndEncryption) {
    std::string sheets = gqtest::RealFixture("tafia_calamine__tests__any_sheets.xlsb");
    if (sheets.empty())
        GTEST_SKIP() << "the shared real workbooks are not beside the project";
    EXPECT_EQ(OpenFormatReader(sheets)->worksheetNames(),
              (std::vector<std::string>{"Visible", "Hidden", "VeryHidden"})); // not the chart sheet
    // The encrypted container goes to the .xls reader, which must say why it cannot be read.
    std::string locked = gqtest::RealFixture("tafia_calamine__tests__pass_protected.xlsb");
    EXPECT_EQ(ErrorOf([&] { OpenFormatReader(locked); }), kPasswordProtected);
}

} // namespace
