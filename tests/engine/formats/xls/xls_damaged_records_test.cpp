// Records that end before their data, shared-string tables that hold less than they claim and
// strings longer than a cell: each costs what it damages, never the file.
#include "CellText.h"
#include "XlsTestStreams.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace xlstest;

// A string of the later version holding `text` (one byte a character), after `prefix` in a
// record of `type`; its characters carried on in CONTINUE records, `per` at a time, each
// opening with the flags byte again.
std::vector<Rec> ContinuedString(std::uint16_t type, const std::string& prefix,
                                 const std::string& text, std::size_t per = 8000) {
    std::vector<Rec> records = {
        {type, prefix + Le16(text.size()) + std::string(1, '\0') + text.substr(0, per)}};
    for (std::size_t at = per; at < text.size(); at += per)
        records.push_back({0x003C, std::string(1, '\0') + text.substr(at, per)});
    return records;
}

// Where a shared string is used: sheet (0-based), row and column (1-based), string index.
struct SharedUse {
    std::size_t sheet;
    std::uint32_t row, col, index;
};
std::vector<SharedUse> SharedUses(const std::vector<Rec>& records) {
    std::vector<SharedUse> uses;
    std::size_t sheet = SIZE_MAX;
    for (const Rec& r : records) {
        if (r.type == 0x0809 && Get16(r.data, 2) == 0x0010)
            ++sheet;
        if (r.type == 0x00FD)
            uses.push_back({sheet, Get16(r.data, 0) + 1u, Get16(r.data, 2) + 1u, Get32(r.data, 6)});
    }
    return uses;
}

Seen* FindIn(std::vector<Sheet>& sheets, std::size_t sheet, std::uint32_t row, std::uint32_t col) {
    for (Seen& cell : sheets[sheet])
        if (cell.row == row && cell.col == col)
            return &cell;
    return nullptr;
}

// A text cell at (row, col) of the first sheet, given as records; inserted after its first cell.
void InsertInFirstSheet(std::vector<Rec>& records, const std::vector<Rec>& inserted) {
    std::size_t at = FindRecord(records, 0x00FD) + 1;
    records.insert(records.begin() + static_cast<long>(at), inserted.begin(), inserted.end());
}

std::string LabelHead(int row, int col) {
    return Le16(row) + Le16(col) + Le16(15);
}

// The string table replaced by one that ends in the middle of its fourth string.
void CutSharedStrings(std::vector<Rec>& records, bool inContinuation) {
    std::size_t sst = FindRecord(records, 0x00FC);
    std::size_t end = sst + 1;
    while (records[end].type == 0x003C)
        ++end;
    records.erase(records.begin() + static_cast<long>(sst + 1),
                  records.begin() + static_cast<long>(end));
    std::string table = Le32(100) + Le32(50);
    for (const char* s : {"s0", "s1", "s2"})
        table += Le16(2) + std::string(1, '\0') + s;
    table += Le16(10) + std::string(1, '\0') + "cut";
    records[sst].data = table;
    if (inContinuation)
        records.insert(records.begin() + static_cast<long>(sst + 1),
                       Rec{0x003C, std::string(1, '\0') + "ting"});
}

TEST(XlsDamagedRecords, ADamagedRecordCostsOnlyWhatItHolds) {
    using Change = std::function<void(std::vector<Rec>&)>;
    using Expect = std::function<void(std::vector<Sheet>&, std::vector<std::string>&)>;
    const std::vector<Rec> original = Records(BookStream());
    const auto uses = SharedUses(original);
    const auto wholeReader = gq::OpenXlsReader(kBook);
    const std::string labelFormat = wholeReader->styles().code(15);
    // The cells of the shared strings from `first` on show nothing; the ones before `first`
    // show "s<index>" when `renamed`.
    auto sharedFrom = [&](std::uint32_t first, bool renamed) {
        return [&uses, first, renamed](std::vector<Sheet>& sheets, std::vector<std::string>&) {
            for (const SharedUse& use : uses) {
                Seen* cell = FindIn(sheets, use.sheet, use.row, use.col);
                if (use.index >= first) {
                    cell->kind = CellKind::Blank;
                    cell->text.clear();
                } else if (renamed) {
                    cell->text = "s" + std::to_string(use.index);
                }
            }
        };
    };
    const struct {
        const char* what;
        Change change;
        Expect expect;
    } cases[] = {
        {"a string count past the strings",
         [](auto& r) { Put32(r[FindRecord(r, 0xFC)].data, 4, 0x7FFFFFFF); }, [](auto&, auto&) {}},
        {"a cell pointing past the strings",
         [](auto& r) { Put32(r[FindRecord(r, 0xFD)].data, 6, 0x00FFFFFF); },
         [&](auto& sheets, auto&) {
             Seen* cell = FindIn(sheets, uses[0].sheet, uses[0].row, uses[0].col);
             cell->kind = CellKind::Blank;
             cell->text.clear();
         }},
        {"a string table cut inside a string", [](auto& r) { CutSharedStrings(r, false); },
         sharedFrom(3, true)},
        {"a string table whose last CONTINUE is cut", [](auto& r) { CutSharedStrings(r, true); },
         sharedFrom(3, true)},
        {"a first string longer than the table",
         [](auto& r) { Put16(r[FindRecord(r, 0xFC)].data, 8, 0xFFFF); }, sharedFrom(0, false)},
        {"a sheet entry cut inside its name",
         [](auto& r) { r[FindRecord(r, 0x85)].data.resize(9); },
         [](auto& sheets, auto& names) {
             sheets.erase(sheets.begin());
             names.erase(names.begin());
         }},
        {"a text cell cut short, and one cut in its continuation",
         [](auto& r) {
             InsertInFirstSheet(r, {{0x0204, LabelHead(99, 0) + Le16(10) + '\0' + "abc"},
                                    {0x0204, LabelHead(100, 0) + Le16(10) + '\0' + "abcd"},
                                    {0x003C, std::string(1, '\0') + "efg"},
                                    {0x0204, LabelHead(101, 0) + Le16(5) + '\0' + "after"}});
         },
         [&](auto& sheets, auto&) {
             sheets[0].push_back({102, 1, CellKind::String, 0, "after", labelFormat, 15});
         }},
        {"a number shorter than its value",
         [](auto& r) {
             InsertInFirstSheet(r, {{0x0203, LabelHead(99, 0) + "1234567"}});
         },
         [](auto&, auto&) {}},
        {"a formula's text cut short", [](auto& r) { r[FindRecord(r, 0x0207)].data.resize(2); },
         [](auto& sheets, auto&) { FindIn(sheets, 2, 3, 3)->text.clear(); }},
    };
    Scratch scratch;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto records = original;
        c.change(records);
        auto reader = gq::OpenXlsReader(scratch.write(Join(records)));
        auto want = ReadAll(*wholeReader);
        auto names = wholeReader->worksheetNames();
        c.expect(want, names);
        EXPECT_EQ(reader->worksheetNames(), names);
        ExpectSameCells(ReadAll(*reader), want);
    }
}

// A format whose record is cut short is lost: its cells show General, all others keep theirs.
TEST(XlsDamagedRecords, AFormatCutShortFallsBackOnGeneral) {
    auto records = Records(BookStream());
    std::size_t format = 0;
    while (records[format].type != 0x041E || UnicodeAt(records[format].data, 2) != "[h]:mm")
        ++format;
    ASSERT_GE(Get16(records[format].data, 0), 164) << "a format of the file's own";
    records[format].data.resize(5);
    Scratch scratch;
    auto codes = [](const gq::StyleTable& table) {
        std::vector<std::string> all;
        for (std::uint32_t style = 0; style < table.styleCount(); ++style)
            all.push_back(table.code(style));
        return all;
    };
    auto before = codes(gq::OpenXlsReader(kBook)->styles());
    auto after = codes(gq::OpenXlsReader(scratch.write(Join(records)))->styles());
    ASSERT_EQ(after.size(), before.size());
    int changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) {
            EXPECT_EQ(before[i], "[h]:mm");
            EXPECT_EQ(after[i], "General");
            ++changed;
        }
    EXPECT_GT(changed, 0);
}

std::string Digits(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += static_cast<char>('0' + i % 10);
    return text;
}

// A string longer than a cell holds is cut there while it is read; what follows it is intact.
TEST(XlsDamagedRecords, StringsAreCutAtACellsLengthAsTheyAreRead) {
    const std::string longText = Digits(40000);
    const std::string cut = longText.substr(0, gq::kMaxCellChars);
    auto records = Records(BookStream());
    // The string table: the long string first, then "next".
    std::size_t sst = FindRecord(records, 0x00FC);
    std::size_t end = sst + 1;
    while (records[end].type == 0x003C)
        ++end;
    auto table = ContinuedString(0x00FC, Le32(10) + Le32(2), longText);
    table.back().data += Le16(4) + std::string(1, '\0') + "next";
    records.erase(records.begin() + static_cast<long>(sst),
                  records.begin() + static_cast<long>(end));
    records.insert(records.begin() + static_cast<long>(sst), table.begin(), table.end());
    // A text cell of its own, and a formula's text result.
    auto label = ContinuedString(0x0204, LabelHead(99, 0), longText);
    label.push_back({0x0204, LabelHead(100, 0) + Le16(5) + '\0' + "after"});
    InsertInFirstSheet(records, label);
    std::size_t string = FindRecord(records, 0x0207);
    auto formulaText = ContinuedString(0x0207, "", longText);
    records.erase(records.begin() + static_cast<long>(string));
    records.insert(records.begin() + static_cast<long>(string), formulaText.begin(),
                   formulaText.end());

    Scratch scratch;
    auto sheets = ReadAll(scratch.write(Join(records)));
    const auto uses = SharedUses(Records(BookStream()));
    for (const SharedUse& use : uses) {
        const Seen* cell = Find(sheets[use.sheet], use.row, use.col);
        ASSERT_NE(cell, nullptr);
        if (use.index == 0)
            EXPECT_EQ(cell->text, cut);
        else if (use.index == 1)
            EXPECT_EQ(cell->text, "next");
        else
            EXPECT_EQ(cell->kind, CellKind::Blank);
    }
    EXPECT_EQ(Find(sheets[0], 100, 1)->text, cut);
    EXPECT_EQ(Find(sheets[0], 101, 1)->text, "after");
    EXPECT_EQ(Find(sheets[2], 3, 3)->text, cut);
}

TEST(XlsDamagedRecords, ATableDeclaringMoreStringsThanItHoldsMatchesItsExport) {
    std::string path =
        gqtest::RealFixture("tafia_calamine__tests__gh548_incorrect_sst_unique_count.xls");
    if (path.empty())
        GTEST_SKIP() << "the shared real fixtures are not beside the project";
    auto shown = gqtest::ReadShownExport(path + ".shown");
    auto reader = gq::OpenXlsReader(path);
    ASSERT_EQ(reader->worksheetNames().size(), shown.size());
    auto sheets = ReadAll(*reader);
    std::size_t texts = 0;
    for (std::size_t s = 0; s < shown.size(); ++s) {
        EXPECT_EQ(reader->worksheetNames()[s], shown[s].name);
        for (const Seen& cell : sheets[s]) {
            if (cell.kind != CellKind::String)
                continue; // numbers are compared where number formats are
            ASSERT_LE(cell.row, shown[s].rows.size());
            ASSERT_LE(cell.col, shown[s].rows[cell.row - 1].size());
            EXPECT_EQ(cell.text, shown[s].rows[cell.row - 1][cell.col - 1])
                << s << " " << cell.row << "," << cell.col;
            ++texts;
        }
    }
    EXPECT_GT(texts, 1000u);
}

} // namespace
