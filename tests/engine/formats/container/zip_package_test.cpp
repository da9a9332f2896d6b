#include "Error.h"
#include "OpcPackage.h"
#include "TestFiles.h"
#include "ZipPackage.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TEST(ZipPackage, FindsTheWorkbookThroughTheRootRelationships) {
    gqtest::TempDir dir;
    std::string path = dir.path("book.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) { workbook_add_worksheet(workbook, "A"); });
    gq::ZipPackage package(path);
    EXPECT_EQ(gq::OfficeDocumentPart(package), "xl/workbook.xml");
    auto relationships = gq::ReadRelationships(package, "xl/workbook.xml");
    ASSERT_FALSE(relationships.empty());
    EXPECT_TRUE(package.has("XL/WORKBOOK.XML"));
}

// What a part's stream gave before it ended or failed.
struct Drained {
    std::string bytes;
    std::string error;
};

constexpr gq::ReadAhead kReadAheads[] = {gq::ReadAhead::None, gq::ReadAhead::OwnThread,
                                         gq::ReadAhead::IdleThreads};

// Reads a part to its end or its failure. Idle threads are played by one that reads ahead all the
// time, so that the reader meets chunks filled ahead, a chunk being filled, and an empty ring.
Drained Drain(const gq::ZipPackage& package, const std::string& name, gq::ReadAhead ahead) {
    Drained drained;
    try {
        auto input = package.stream(name, ahead);
        std::atomic<bool> done = false;
        std::thread helper([&] {
            while (ahead == gq::ReadAhead::IdleThreads && !done)
                if (!input->fillAhead())
                    std::this_thread::yield();
        });
        // Reads of a whole chunk and more, which a reader may inflate itself, and of less.
        std::vector<char> buffer(3 << 16);
        std::size_t size = buffer.size();
        try {
            while (std::size_t got = input->read(buffer.data(), size)) {
                drained.bytes.append(buffer.data(), got);
                size = size == buffer.size() ? 1 << 16 : buffer.size();
            }
        } catch (...) {
            done = true;
            helper.join();
            throw;
        }
        done = true;
        helper.join();
    } catch (const gq::Error& error) {
        drained.error = error.what();
    }
    return drained;
}

std::string Xml(std::size_t rows) {
    std::string xml = "<sheetData>";
    for (std::size_t row = 1; row <= rows; ++row)
        xml += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) + "\"><v>" +
               std::to_string(row * 7919 % 100003) + "</v></c></row>";
    return xml + "</sheetData>";
}

std::string Noise(std::size_t size) {
    std::mt19937 random(13);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

// What a zip header says of its entry.
struct Fields {
    std::uint16_t flags = 0, method = ZIP_CM_DEFLATE;
    std::uint32_t crc = 0, compressedSize = 0, size = 0;
};

// An entry of a package written by hand, whose central directory record and local header may
// disagree, and whose fields may lie about its data.
struct Entry {
    std::string name;
    Fields central, local;
    std::string data;
    std::string localExtra = {}; // an extra field the local header alone has
    void set(std::uint32_t Fields::*field, std::uint32_t value) {
        central.*field = local.*field = value;
    }
};

std::string Le(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(i < 8 ? value >> (8 * i) : 0);
    return out;
}

// Flags through sizes: the run of fields that both headers share.
std::string Shared(const Fields& f) {
    return Le(f.flags, 2) + Le(f.method, 2) + Le(0, 4) + Le(f.crc, 4) + Le(f.compressedSize, 4) +
           Le(f.size, 4);
}

// How a package is written beyond its entries.
struct Layout {
    std::string comment;
    bool zip64 = false; // sizes, offsets and counts in Zip64's records
};

void WritePackage(const std::string& path, const std::vector<Entry>& entries,
                  const Layout& layout = {}) {
    std::string body, directory;
    for (const Entry& e : entries) {
        std::string nameSize = Le(static_cast<std::uint32_t>(e.name.size()), 2);
        Fields central = e.central;
        std::string extra;
        if (layout.zip64) {
            extra = Le(1, 2) + Le(24, 2) + Le(central.size, 8) + Le(central.compressedSize, 8) +
                    Le(body.size(), 8);
            central.size = central.compressedSize = 0xFFFFFFFF;
        }
        directory += Le(0x02014b50, 4) + Le(45, 2) + Le(20, 2) + Shared(central) + nameSize +
                     Le(static_cast<std::uint32_t>(extra.size()), 2) + Le(0, 2 + 2 + 2 + 4) +
                     Le(layout.zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(body.size()), 4) +
                     e.name + extra;
        body += Le(0x04034b50, 4) + Le(20, 2) + Shared(e.local) + nameSize +
                Le(static_cast<std::uint32_t>(e.localExtra.size()), 2) + e.name + e.localExtra +
                e.data;
    }
    std::string end;
    if (layout.zip64) {
        const std::string count = Le(entries.size(), 8);
        end = Le(0x06064b50, 4) + Le(44, 8) + Le(45, 2) + Le(45, 2) + Le(0, 8) + count + count +
              Le(directory.size(), 8) + Le(body.size(), 8) + Le(0x07064b50, 4) + Le(0, 4) +
              Le(body.size() + directory.size(), 8) + Le(1, 4);
    }
    const std::string count = layout.zip64 ? Le(0xFFFF, 2) : Le(entries.size(), 2);
    const std::uint64_t all = layout.zip64 ? 0xFFFFFFFF : 0;
    end += Le(0x06054b50, 4) + Le(0, 4) + count + count + Le(all | directory.size(), 4) +
           Le(all | body.size(), 4) + Le(layout.comment.size(), 2) + layout.comment;
    gqtest::WriteFile(path, body + directory + end);
}

// The entry as libzip writes it: deflated, or stored when deflating gains nothing.
Entry Written(const std::string& name, const std::string& content) {
    gqtest::TempDir dir;
    std::string path = dir.path("written.zip");
    gqtest::WriteZip(path, {{name, content}});
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &code);
    zip_stat_t stat;
    zip_file_t* file = zip ? zip_fopen_index(zip, 0, ZIP_FL_COMPRESSED) : nullptr;
    if (!file || zip_stat_index(zip, 0, 0, &stat) != 0)
        throw std::runtime_error("cannot read back " + path);
    Entry entry{name, {}, {}, std::string(stat.comp_size, '\0')};
    zip_fread(file, entry.data.data(), entry.data.size());
    zip_fclose(file);
    zip_discard(zip);
    entry.central.method = entry.local.method = stat.comp_method;
    entry.set(&Fields::crc, stat.crc);
    entry.set(&Fields::compressedSize, static_cast<std::uint32_t>(stat.comp_size));
    entry.set(&Fields::size, static_cast<std::uint32_t>(stat.size));
    return entry;
}

Entry Deflated(const std::string& name, const std::string& content) {
    Entry entry = Written(name, content);
    if (entry.central.method != ZIP_CM_DEFLATE)
        throw std::runtime_error("libzip did not deflate " + name);
    return entry;
}

Entry Stored(const std::string& name, const std::string& content) {
    Entry entry = Written(name, content);
    entry.central.method = entry.local.method = ZIP_CM_STORE;
    entry.data = content;
    entry.set(&Fields::compressedSize, static_cast<std::uint32_t>(content.size()));
    return entry;
}

TEST(ZipPackage, ReadsDeflatedAndStoredPartsAsWritten) {
    // A small package is read from memory, a large one from its file: both the same.
    for (std::size_t padding : {std::size_t(0), std::size_t(gq::ZipPackage::kReadWholeBytes)}) {
        gqtest::TempDir dir;
        std::string path = dir.path("parts.zip");
        // The sheet is large enough for the read-ahead thread.
        std::vector<std::pair<std::string, std::string>> parts{
            {"sheet.xml", Xml(60000)}, {"noise.bin", Noise(100000)},
            {"empty.xml", ""},         {"stored.xml", Xml(100)},
            {"local.xml", Xml(100)},   {"padding.bin", Noise(padding)}};
        ASSERT_GT(parts[0].second.size(), 2 * gq::ZipPackage::kReadAheadMinBytes);
        std::vector<Entry> entries{
            Deflated(parts[0].first, parts[0].second), Deflated(parts[1].first, parts[1].second),
            Stored(parts[2].first, parts[2].second),   Stored(parts[3].first, parts[3].second),
            Deflated(parts[4].first, parts[4].second), Stored(parts[5].first, parts[5].second)};
        // Writers that stream leave the local header's sizes empty: the central directory counts.
        entries[4].local.crc = entries[4].local.compressedSize = entries[4].local.size = 0;
        WritePackage(path, entries);
        ASSERT_EQ(std::filesystem::file_size(path) > gq::ZipPackage::kReadWholeBytes, padding > 0);

        gq::ZipPackage package(path);
        for (const auto& [name, content] : parts) {
            for (gq::ReadAhead ahead : kReadAheads) {
                Drained drained = Drain(package, name, ahead);
                EXPECT_EQ(drained.error, "") << name;
                EXPECT_TRUE(drained.bytes == content) << name << ", read ahead " << int(ahead);
            }
            EXPECT_TRUE(package.read(name) == content) << name;
        }
        try {
            package.read("sheet.xml", parts[0].second.size() - 1);
            ADD_FAILURE() << "read past its limit";
        } catch (const gq::Error& error) {
            EXPECT_NE(std::string(error.what()).find("decompression bomb"), std::string::npos);
        }
    }
}

TEST(ZipPackage, ADamagedPartFailsWithAPlainReason) {
    const std::string damaged = std::string(gq::kNotAWorkbook) + ": the part part.xml ";
    const std::string text = Xml(30000), noise = Noise(5000);
    const Entry deflated = Deflated("part.xml", text), stored = Stored("part.xml", noise);
    struct Case {
        const char* what;
        const Entry& entry;
        std::function<void(Entry&)> change;
        std::string error;
    };
    const Case cases[] = {
        {"a deflated part whose checksum does not match", deflated,
         [](Entry& e) { e.set(&Fields::crc, e.central.crc ^ 1); },
         damaged + "is damaged: its checksum does not match"},
        {"a stored part whose checksum does not match", stored,
         [](Entry& e) { e.set(&Fields::crc, e.central.crc ^ 1); },
         damaged + "is damaged: its checksum does not match"},
        {"a stored part changed in the middle", stored, [](Entry& e) { e.data[2500] ^= 1; },
         damaged + "is damaged: its checksum does not match"},
        {"deflated data that is no deflate stream", deflated,
         [](Entry& e) { e.data.replace(0, 16, 16, '\xFF'); },
         damaged + "is damaged: its compressed data is invalid"},
        {"a deflate stream cut short", deflated,
         [](Entry& e) {
             e.data.resize(e.data.size() / 2);
             e.set(&Fields::compressedSize, static_cast<std::uint32_t>(e.data.size()));
         },
         damaged + "is cut off"},
        {"a deflated part that inflates past its declared size", deflated,
         [&](Entry& e) { e.set(&Fields::size, e.central.size / 2); },
         damaged + "is not the size its header declares"},
        {"a deflated part that ends before its declared size", deflated,
         [&](Entry& e) { e.set(&Fields::size, e.central.size + 1); },
         damaged + "is not the size its header declares"},
        {"a stored part that ends before its declared size", stored,
         [&](Entry& e) { e.set(&Fields::size, e.central.size + 1); },
         damaged + "is not the size its header declares"},
        {"an encrypted part", deflated, [](Entry& e) { e.central.flags = e.local.flags = 1; },
         gq::kPasswordProtected},
        {"a method this reader does not know", deflated,
         [](Entry& e) { e.central.method = e.local.method = 9; }, gq::kNotAWorkbook},
    };
    for (const Case& c : cases) {
        gqtest::TempDir dir;
        Entry entry = c.entry;
        c.change(entry);
        WritePackage(dir.path("one.zip"), {entry});
        gq::ZipPackage package(dir.path("one.zip"));
        for (gq::ReadAhead ahead : kReadAheads) {
            Drained drained = Drain(package, "part.xml", ahead);
            EXPECT_EQ(drained.error, c.error) << c.what << ", read ahead " << int(ahead);
            EXPECT_LE(drained.bytes.size(), entry.central.size) << c.what;
        }
        try {
            package.read("part.xml");
            ADD_FAILURE() << c.what;
        } catch (const gq::Error& error) {
            EXPECT_EQ(error.what(), c.error) << c.what;
        }
    }
}

// The forms of the container that writers produce, and the rules for finding a part.
TEST(ZipPackage, ReadsTheContainerAsWritersWriteIt) {
    gqtest::TempDir dir;
    const std::string text = Xml(300);
    // Zip64's records, as writers use them for large packages.
    WritePackage(dir.path("zip64.zip"), {Deflated("a.xml", text), Stored("b.txt", "stored")},
                 {"", true});
    gq::ZipPackage zip64(dir.path("zip64.zip"));
    EXPECT_TRUE(zip64.read("a.xml") == text);
    EXPECT_EQ(zip64.read("b.txt"), "stored");
    EXPECT_EQ(zip64.declaredSize("a.xml"), text.size());

    // A package comment; a local header whose extra field the directory does not list; names
    // found without regard to case or a leading '/', the first of two that differ in case only;
    // an empty folder.
    Entry first = Deflated("Part.xml", text), second = Stored("PART.XML", "second");
    first.localExtra = Le(0xCAFE, 2) + Le(4, 2) + "data";
    Entry folder = Stored("folder/", "");
    WritePackage(dir.path("forms.zip"), {first, second, folder}, {"a comment PK\5\6 inside"});
    gq::ZipPackage forms(dir.path("forms.zip"));
    EXPECT_TRUE(forms.read("/part.XML") == text);
    EXPECT_EQ(forms.declaredSize("PART.xml"), text.size());
    EXPECT_EQ(forms.read("folder/"), "");
    EXPECT_FALSE(forms.has("part"));
    // The same rules in a package of many parts, whose names are looked up, not looked through.
    std::vector<Entry> many = {Stored("Dup.txt", "first"), Stored("DUP.TXT", "second")};
    for (int i = 0; i < 40; ++i)
        many.push_back(Stored("p" + std::to_string(i) + ".txt", std::to_string(i)));
    WritePackage(dir.path("many.zip"), many);
    gq::ZipPackage manyParts(dir.path("many.zip"));
    EXPECT_EQ(manyParts.read("/P7.TXT"), "7");
    EXPECT_EQ(manyParts.read("dup.txt"), "first");
    EXPECT_FALSE(manyParts.has("p40.txt"));

    // A directory cut short, or no end record at all, is no package; refusing one leaves no
    // file open, as a search of a folder of damaged files would otherwise run out of them.
    auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = openFiles();
    std::string bytes = gqtest::ReadFile(dir.path("forms.zip"));
    for (std::size_t cut : {std::size_t{30}, bytes.size() / 2}) {
        gqtest::WriteFile(dir.path("cut.zip"), bytes.substr(0, bytes.size() - cut));
        for (int i = 0; i < 20; ++i)
            EXPECT_THROW(gq::ZipPackage(dir.path("cut.zip")), gq::Error) << cut;
    }
    EXPECT_EQ(openFiles(), before);
}

// A changed byte of the compressed data either fails the read or changed nothing that counts.
TEST(ZipPackage, RandomlyDamagedDataFailsOrReadsTrue) {
    const std::string text = Xml(3000);
    const Entry entry = Deflated("part.xml", text);
    std::mt19937 random(2024);
    gqtest::TempDir dir;
    int failed = 0;
    for (int round = 0; round < 300; ++round) {
        Entry copy = entry;
        for (int i = 0; i <= round % 3; ++i)
            copy.data[random() % copy.data.size()] ^= static_cast<char>(1 + random() % 255);
        WritePackage(dir.path("random.zip"), {copy});
        Drained drained =
            Drain(gq::ZipPackage(dir.path("random.zip")), "part.xml", kReadAheads[round % 3]);
        if (drained.error.empty())
            EXPECT_TRUE(drained.bytes == text) << "round " << round;
        else
            ++failed;
        EXPECT_LE(drained.bytes.size(), text.size());
    }
    EXPECT_GT(failed, 250);
}

// A raw deflate stream of one space and `matches` repeats of the 258 spaces before, four repeats a
// byte: one dynamic Huffman block whose only length (258) and distance (1) take one bit each.
std::string SpaceBomb(std::size_t matches) {
    std::string out;
    std::uint32_t bits = 0;
    int pending = 0;
    auto put = [&](std::uint32_t value, int count) { // fields go least significant bit first
        bits |= value << pending;
        for (pending += count; pending >= 8; pending -= 8, bits >>= 8)
            out += static_cast<char>(bits);
    };
    auto code = [&](std::uint32_t value, int count) { // Huffman codes most significant bit first
        while (count--)
            put(value >> count & 1, 1);
    };
    put(1, 1), put(2, 2);                             // the last block, dynamic codes
    put(286 - 257, 5), put(2 - 1, 5), put(18 - 4, 4); // literal/length, distance, code length codes
    // Code lengths of the code length alphabet, in their order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13
    // 2 14 1: 18 (a run of zeros) one bit "0", then 1 and 2 two bits, "10" and "11".
    for (int length : {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2})
        put(length, 3);
    auto zeros = [&](int run) { code(0, 1), put(run - 11, 7); };
    zeros(32), code(3, 2);             // the space: 2 bits, "10"
    zeros(138), zeros(85), code(3, 2); // the end of block: 2 bits, "11"
    zeros(28), code(2, 2);             // length 258: 1 bit, "0"
    code(2, 2), code(2, 2);            // distances 1 and 2: 1 bit each, "0" and "1"
    code(2, 2);
    for (std::size_t i = 0; i < matches; ++i)
        put(0, 2);
    code(3, 2);
    put(0, 7);
    return out;
}

TEST(ZipPackage, ABombIsStoppedBeforeItIsInflated) {
    const std::size_t matches = (300u << 20) / 258;
    Entry bomb{"part.xml", {}, {}, SpaceBomb(matches)};
    bomb.set(&Fields::size, static_cast<std::uint32_t>(1 + 258 * matches));
    bomb.set(&Fields::compressedSize, static_cast<std::uint32_t>(bomb.data.size()));
    std::uint64_t limit =
        std::max(gq::ZipPackage::kBombFloorBytes, gq::ZipPackage::kBombRatio * bomb.data.size());
    ASSERT_GT(bomb.central.size, limit);

    gqtest::TempDir dir;
    WritePackage(dir.path("bomb.zip"), {bomb});
    gq::ZipPackage package(dir.path("bomb.zip"));
    for (gq::ReadAhead ahead : kReadAheads) {
        Drained drained = Drain(package, "part.xml", ahead);
        EXPECT_NE(drained.error.find("decompression bomb"), std::string::npos) << drained.error;
        EXPECT_EQ(drained.bytes.size(), 0u);
    }
    // A header that claims a small part: the stream ends where the claim does.
    bomb.set(&Fields::size, 1u << 20);
    WritePackage(dir.path("liar.zip"), {bomb});
    gq::ZipPackage liar(dir.path("liar.zip"));
    for (gq::ReadAhead ahead : kReadAheads) {
        Drained drained = Drain(liar, "part.xml", ahead);
        EXPECT_EQ(drained.error, std::string(gq::kNotAWorkbook) +
                                     ": the part part.xml is not the size its header declares");
        EXPECT_TRUE(drained.bytes == std::string(1u << 20, ' ')) << int(ahead);
    }
}

} // namespace
