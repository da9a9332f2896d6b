// The compound-file container on files written here, sector by sector: streams in the mini
// stream and in sectors of their own, both sector sizes, and damage to each table.
#include "CompoundFile.h"
#include "Error.h"
#include "TestFiles.h"
#include "XlsReader.h"
#include "XlsTestStreams.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

using gq::xls::CompoundFile;
using xlstest::Put16;
using xlstest::Put32;

constexpr std::uint32_t kEnd = 0xFFFFFFFE;

// A compound file as a writer lays it out: the allocation table's sectors first, then each
// stream of 4096 bytes or more in sectors of its own, the mini stream, its table and the
// directory, whose entries hang off the root as a chain of right siblings.
struct Written {
    std::string bytes;
    std::size_t directoryAt = 0; // file offset of the directory (the root's entry)
    std::size_t miniFatAt = 0;   // of the mini stream's table
};

Written WriteCompound(const std::vector<std::pair<std::string, std::string>>& streams,
                      unsigned shift = 9) {
    const std::size_t sectorBytes = std::size_t{1} << shift;
    std::vector<std::string> data; // the sectors after the table's, in order
    std::vector<std::uint32_t> next;
    auto addChain = [&](const std::string& bytes) -> std::uint32_t {
        if (bytes.empty())
            return kEnd;
        const auto start = static_cast<std::uint32_t>(data.size());
        for (std::size_t at = 0; at < bytes.size(); at += sectorBytes) {
            std::string sector = bytes.substr(at, sectorBytes);
            sector.resize(sectorBytes, '\0');
            data.push_back(sector);
            next.push_back(at + sectorBytes < bytes.size() ? static_cast<std::uint32_t>(data.size())
                                                           : kEnd);
        }
        return start;
    };
    std::string mini, miniFat, directory(128 * (streams.size() + 1), '\0');
    std::vector<std::uint32_t> starts;
    for (const auto& [name, content] : streams) {
        if (content.size() >= 4096) {
            starts.push_back(addChain(content));
            continue;
        }
        starts.push_back(content.empty() ? kEnd : static_cast<std::uint32_t>(mini.size() / 64));
        for (std::size_t at = 0; at < content.size(); at += 64) {
            std::string piece(4, '\0');
            Put32(piece, 0,
                  at + 64 < content.size() ? static_cast<std::uint32_t>(mini.size() / 64 + 1)
                                           : kEnd);
            miniFat += piece;
            std::string unit = content.substr(at, 64);
            unit.resize(64, '\0');
            mini += unit;
        }
    }
    const std::uint32_t miniStart = addChain(mini);
    const std::uint32_t miniFatStart = addChain(miniFat);
    const std::size_t miniFatSector = miniFatStart;
    // The table's own sectors go first; every sector number moves past them.
    const std::size_t sectors = data.size() + (directory.size() + sectorBytes - 1) / sectorBytes;
    std::size_t fatSectors = 1;
    while (fatSectors * sectorBytes / 4 < sectors + fatSectors)
        ++fatSectors;
    const auto moved = [&](std::uint32_t s) {
        return s == kEnd ? kEnd : static_cast<std::uint32_t>(s + fatSectors);
    };
    auto entry = [&](std::size_t index, const std::string& name, int type, std::uint32_t start,
                     std::size_t size) {
        const std::size_t e = 128 * index;
        for (std::size_t i = 0; i < name.size(); ++i)
            directory[e + 2 * i] = name[i];
        Put16(directory, e + 0x40, static_cast<std::uint16_t>(2 * name.size() + 2));
        directory[e + 0x42] = static_cast<char>(type);
        Put32(directory, e + 0x44, 0xFFFFFFFF);
        Put32(directory, e + 0x48,
              index > 0 && index < streams.size() ? static_cast<std::uint32_t>(index + 1)
                                                  : 0xFFFFFFFF);
        Put32(directory, e + 0x4C, index == 0 && !streams.empty() ? 1 : 0xFFFFFFFF);
        Put32(directory, e + 0x74, start);
        Put32(directory, e + 0x78, static_cast<std::uint32_t>(size));
    };
    entry(0, "Root Entry", 5, moved(miniStart), mini.size());
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const std::size_t size = streams[i].second.size();
        entry(i + 1, streams[i].first, 2, size >= 4096 ? moved(starts[i]) : starts[i], size);
    }
    const std::size_t directorySector = data.size();
    addChain(directory);
    std::string fat(fatSectors * sectorBytes, '\xFF');
    for (std::size_t i = 0; i < fatSectors; ++i)
        Put32(fat, 4 * i, 0xFFFFFFFD);
    for (std::size_t i = 0; i < next.size(); ++i)
        Put32(fat, 4 * (fatSectors + i), moved(next[i]));
    std::string header(512, '\0');
    header.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    Put16(header, 0x1A, shift == 12 ? 4 : 3);
    Put16(header, 0x1C, 0xFFFE);
    Put16(header, 0x1E, static_cast<std::uint16_t>(shift));
    Put16(header, 0x20, 6);
    Put32(header, 0x2C, static_cast<std::uint32_t>(fatSectors));
    Put32(header, 0x30, moved(static_cast<std::uint32_t>(directorySector)));
    Put32(header, 0x38, 4096);
    Put32(header, 0x3C, miniFat.empty() ? kEnd : moved(miniFatStart));
    Put32(header, 0x40,
          static_cast<std::uint32_t>((miniFat.size() + sectorBytes - 1) / sectorBytes));
    Put32(header, 0x44, kEnd);
    for (std::size_t i = 0; i < 109; ++i)
        Put32(header, 0x4C + 4 * i, i < fatSectors ? static_cast<std::uint32_t>(i) : 0xFFFFFFFF);
    header.resize(sectorBytes, '\0');
    Written out;
    out.bytes = header + fat;
    for (std::uint32_t i = 0; i < data.size(); ++i) {
        if (i == directorySector)
            out.directoryAt = out.bytes.size();
        if (!miniFat.empty() && i == miniFatSector)
            out.miniFatAt = out.bytes.size();
        out.bytes += data[i];
    }
    return out;
}

// The streams a file's root holds, each read whole in pieces of `piece` bytes, or the error.
std::string ReadBack(const std::string& bytes, std::size_t piece = 1000) {
    gqtest::TempDir dir;
    const std::string path = dir.path("c.bin");
    gqtest::WriteFile(path, bytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string out;
    try {
        CompoundFile file(fd, bytes.size());
        for (const CompoundFile::Entry& entry : file.rootEntries()) {
            out += entry.name + "=";
            auto stream = file.open(entry);
            std::string content(stream->size(), '\0');
            for (std::size_t at = 0; at < content.size(); at += piece)
                stream->read(at, reinterpret_cast<std::uint8_t*>(content.data()) + at,
                             std::min(piece, content.size() - at));
            out += std::to_string(content.size()) + ":" +
                   std::to_string(std::hash<std::string>()(content)) + ";";
        }
    } catch (const gq::Error& error) {
        out = std::string("error: ") + error.what();
    }
    ::close(fd);
    return out;
}

std::string Pattern(std::size_t size, char seed) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(seed + i * 7 % 251);
    return text;
}

TEST(CompoundFile, ReadsStreamsInTheMiniStreamAndInSectorsOfTheirOwn) {
    for (unsigned shift : {9u, 12u}) {
        const std::vector<std::pair<std::string, std::string>> streams = {
            {"Empty", ""},
            {"Small", Pattern(100, 'a')},
            {"JustSmall", Pattern(4095, 'b')},
            {"JustLarge", Pattern(4096, 'c')},
            {"Large", Pattern(70000, 'd')},
        };
        std::string expected;
        for (const auto& [name, content] : streams)
            expected += name + "=" + std::to_string(content.size()) + ":" +
                        std::to_string(std::hash<std::string>()(content)) + ";";
        const std::string bytes = WriteCompound(streams, shift).bytes;
        EXPECT_EQ(ReadBack(bytes), expected) << shift;
        EXPECT_EQ(ReadBack(bytes, 37), expected) << shift; // reads across every unit's end
        // A writer may leave the last sector (here the directory's) without its padding.
        const std::size_t padding = shift == 9 ? 256 : 2048;
        EXPECT_EQ(ReadBack(bytes.substr(0, bytes.size() - padding)), expected) << shift;
    }
}

TEST(CompoundFile, RefusesDamagedTablesPlainly) {
    const Written book =
        WriteCompound({{"Small", Pattern(300, 'x')}, {"Large", Pattern(9000, 'y')}});
    std::vector<std::string> damaged;
    auto with = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = book.bytes;
        Put32(bytes, at, value);
        damaged.push_back(bytes);
    };
    with(0x2C, 0x7FFFFFFF);                          // more table sectors than the file has
    with(0x4C, 0x00FFFFF0);                          // a table sector past the end
    with(0x30, 0x00FFFFF0);                          // the directory past the end
    with(0x3C, 0x00FFFFF0);                          // the mini stream's table past the end
    with(0x40, 0);                                   // a mini stream with no table
    with(book.directoryAt + 0x4C, 0);                // the root as its own child
    with(book.directoryAt + 128 + 0x48, 1);          // an entry as its own sibling
    with(book.directoryAt + 256 + 0x78, 0x7FFFFFFF); // a size past the file
    with(book.miniFatAt, 0);                         // a mini chain back to its start
    with(512 + 4 * 1, 1); // the table's first sector as its own successor
    damaged.push_back(book.bytes.substr(0, 700));
    ASSERT_FALSE(ReadBack(book.bytes).starts_with("error"));
    for (const std::string& bytes : damaged) {
        const std::string read = ReadBack(bytes);
        EXPECT_TRUE(read.starts_with(std::string("error: ") + gq::kNotAWorkbook))
            << read.substr(0, 80);
    }
}

TEST(CompoundFile, AWorkbookStreamIsFoundWhateverTheCaseOfItsName) {
    const std::string stream = xlstest::BookStream();
    xlstest::Scratch scratch;
    for (const char* name : {"Workbook", "WORKBOOK", "Book"}) {
        const std::string path =
            scratch.write(WriteCompound({{"Other", "x"}, {name, stream}}).bytes);
        auto reader = gq::OpenXlsReader(path);
        EXPECT_FALSE(reader->worksheetNames().empty()) << name;
    }
    EXPECT_EQ(xlstest::Failure(scratch.write(WriteCompound({{"Other", stream}}).bytes)),
              gq::kNotAWorkbook);
}

} // namespace
