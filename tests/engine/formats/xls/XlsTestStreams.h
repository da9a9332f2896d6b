#pragma once

// Legacy workbook streams for the tests: the committed workbook's records, read, changed and
// joined again, and records of any version written from scratch.
#include "Error.h"
#include "TestFiles.h"
#include "Utf8.h"
#include "XlsReader.h"
#include "XlsText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace xlstest {

using gq::CellKind;

inline const std::string kBook = std::string(GQ_TEST_DATA_DIR) + "/xls/book.xls";
inline const std::string kShown = std::string(GQ_TEST_DATA_DIR) + "/xls/shown";

struct Seen {
    std::uint32_t row, col;
    CellKind kind;
    double number;
    std::string text;
    std::string format;
    std::uint32_t style;
};
using Sheet = std::vector<Seen>;

inline std::vector<Sheet> ReadAll(gq::FormatReader& reader) {
    std::vector<Sheet> sheets;
    const auto& styles = reader.styles();
    for (std::size_t i = 0; i < reader.worksheetNames().size(); ++i) {
        struct Collect : gq::CellVisitor {
            const gq::StyleTable* styles;
            Sheet cells;
            bool visit(const gq::Cell& c) override {
                std::string format = styles->code(c.style);
                cells.push_back(
                    {c.row, c.col, c.kind, c.number, std::string(c.text), format, c.style});
                return true;
            }
        } collect;
        collect.styles = &styles;
        reader.readCells(i, collect);
        sheets.push_back(std::move(collect.cells));
    }
    return sheets;
}

inline std::vector<Sheet> ReadAll(const std::string& path) {
    return ReadAll(*gq::OpenXlsReader(path));
}

inline const Seen* Find(const Sheet& sheet, std::uint32_t row, std::uint32_t col) {
    for (const auto& cell : sheet)
        if (cell.row == row && cell.col == col)
            return &cell;
    return nullptr;
}

// What opening (through format detection) and reading every sheet says; empty when all went well.
inline std::string Failure(const std::string& path) {
    try {
        ReadAll(*gq::OpenFormatReader(path));
    } catch (const gq::Error& error) {
        return error.what();
    }
    return "";
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// --- The committed workbook's bytes, parsed just enough to change them in place. ---

inline std::uint32_t Get32(const std::string& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
inline std::uint16_t Get16(const std::string& b, std::size_t at) {
    std::uint16_t v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}
inline void Put32(std::string& b, std::size_t at, std::uint32_t v) {
    std::memcpy(b.data() + at, &v, 4);
}
inline void Put16(std::string& b, std::size_t at, std::uint16_t v) {
    std::memcpy(b.data() + at, &v, 2);
}

class Compound {
public:
    explicit Compound(std::string bytes) : bytes(std::move(bytes)) {
        sectorSize = std::size_t{1} << Get16(this->bytes, 0x1E);
    }
    std::size_t sectorAt(std::uint32_t sector) const { return (sector + 1) * sectorSize; }
    std::size_t fatEntryAt(std::uint32_t sector) const {
        std::size_t perSector = sectorSize / 4;
        std::uint32_t fatSector = Get32(bytes, 0x4C + 4 * (sector / perSector));
        return sectorAt(fatSector) + 4 * (sector % perSector);
    }
    std::vector<std::uint32_t> chain(std::uint32_t start) const {
        std::vector<std::uint32_t> sectors;
        for (std::uint32_t s = start; s < 0xFFFFFFFA && sectors.size() < 100000;
             s = Get32(bytes, fatEntryAt(s)))
            sectors.push_back(s);
        return sectors;
    }
    // Offset of the directory entry of `name` (ASCII names only).
    std::size_t entry(const std::string& name) const {
        for (std::uint32_t s : chain(Get32(bytes, 0x30)))
            for (std::size_t e = sectorAt(s); e < sectorAt(s) + sectorSize; e += 128) {
                std::string entryName;
                for (std::size_t i = 0; i + 2 < Get16(bytes, e + 0x40); i += 2)
                    entryName += bytes[e + i];
                if (entryName == name)
                    return e;
            }
        throw std::runtime_error("no entry " + name);
    }
    void rename(const std::string& from, const std::string& to) {
        std::size_t e = entry(from);
        std::memset(bytes.data() + e, 0, 64);
        for (std::size_t i = 0; i < to.size(); ++i)
            bytes[e + 2 * i] = to[i];
        Put16(bytes, e + 0x40, static_cast<std::uint16_t>(2 * to.size() + 2));
    }
    std::uint32_t startOf(const std::string& name) const {
        return Get32(bytes, entry(name) + 0x74);
    }
    // File offsets of a stream's bytes, one per byte (streams here are a few dozen KB).
    std::vector<std::size_t> layout(const std::string& name) const {
        std::vector<std::size_t> at;
        std::uint32_t size = Get32(bytes, entry(name) + 0x78);
        for (std::uint32_t s : chain(startOf(name)))
            for (std::size_t i = 0; i < sectorSize && at.size() < size; ++i)
                at.push_back(sectorAt(s) + i);
        return at;
    }
    std::string stream(const std::string& name) const {
        std::string out;
        for (std::size_t at : layout(name))
            out += bytes[at];
        return out;
    }
    void setStream(const std::string& name, const std::string& content) {
        auto at = layout(name);
        ASSERT_EQ(at.size(), content.size());
        for (std::size_t i = 0; i < at.size(); ++i)
            bytes[at[i]] = content[i];
    }

    std::string bytes;
    std::size_t sectorSize;
};

constexpr std::size_t kInserted = SIZE_MAX;
struct Rec {
    std::uint16_t type;
    std::string data;
    std::size_t from = kInserted; // offset in the stream it was read from
};
inline std::vector<Rec> Records(const std::string& stream) {
    std::vector<Rec> records;
    for (std::size_t at = 0; at + 4 <= stream.size();) {
        std::uint16_t size = Get16(stream, at + 2);
        records.push_back({Get16(stream, at), stream.substr(at + 4, size), at});
        at += 4 + size;
    }
    return records;
}
// Joins records into a stream, pointing each sheet entry at where its sheet has moved.
inline std::string Join(std::vector<Rec> records) {
    std::map<std::size_t, std::size_t> moved;
    std::size_t at = 0;
    for (const auto& r : records) {
        if (r.from != kInserted)
            moved[r.from] = at;
        at += 4 + r.data.size();
    }
    std::string out;
    for (auto& r : records) {
        if (r.type == 0x0085 && moved.count(Get32(r.data, 0)))
            Put32(r.data, 0, static_cast<std::uint32_t>(moved[Get32(r.data, 0)]));
        std::string header(4, '\0');
        Put16(header, 0, r.type);
        Put16(header, 2, static_cast<std::uint16_t>(r.data.size()));
        out += header + r.data;
    }
    return out;
}

inline std::string BookStream() {
    return Compound(gqtest::ReadFile(kBook)).stream("Workbook");
}

// Writes `bytes` to a private file and says what reading it gives.
struct Scratch {
    gqtest::TempDir dir;
    std::string write(const std::string& bytes, const std::string& name = "case.xls") {
        std::string path = dir.path(name);
        gqtest::WriteFile(path, bytes);
        return path;
    }
};

inline void ExpectSameCells(const std::vector<Sheet>& got, const std::vector<Sheet>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t s = 0; s < want.size(); ++s) {
        ASSERT_EQ(got[s].size(), want[s].size()) << "sheet " << s;
        for (std::size_t i = 0; i < want[s].size(); ++i) {
            const Seen& a = got[s][i];
            const Seen& b = want[s][i];
            EXPECT_TRUE(a.row == b.row && a.col == b.col && a.kind == b.kind &&
                        a.number == b.number && a.text == b.text && a.format == b.format)
                << "sheet " << s << " cell " << b.row << "," << b.col;
        }
    }
}

inline std::string Le16(std::size_t v) {
    std::string out(2, '\0');
    Put16(out, 0, static_cast<std::uint16_t>(v));
    return out;
}

inline std::string Le32(std::uint32_t v) {
    std::string out(4, '\0');
    Put32(out, 0, v);
    return out;
}

inline std::string Utf16(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text)
        out += Le16(unit);
    return out;
}

inline std::size_t FindRecord(const std::vector<Rec>& records, std::uint16_t type,
                              std::size_t from = 0) {
    for (std::size_t i = from; i < records.size(); ++i)
        if (records[i].type == type)
            return i;
    throw std::runtime_error("no such record");
}

// A unicode string of the later version at `at` (16-bit count unless `shortCount`) as UTF-8.
inline std::string UnicodeAt(const std::string& data, std::size_t at, bool shortCount = false) {
    std::size_t count = shortCount ? static_cast<std::uint8_t>(data[at]) : Get16(data, at);
    at += shortCount ? 1 : 2;
    bool wide = data[at++] & 1;
    std::string out;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data() + at);
    if (wide) {
        gq::Utf16Decoder utf16;
        utf16.append(out, bytes, count);
        utf16.finish(out);
    } else {
        gq::xls::AppendLatin1(out, bytes, count);
    }
    return out;
}

} // namespace xlstest
