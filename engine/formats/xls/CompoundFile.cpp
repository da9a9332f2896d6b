#include "CompoundFile.h"

#include "Error.h"
#include "Utf8.h"
#include "XlsStream.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace gq::xls {

namespace {

constexpr std::uint32_t kLastRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
constexpr std::size_t kHeaderBytes = 512;
constexpr std::size_t kEntryBytes = 128;
constexpr std::size_t kHeaderFatSectors = 109;
constexpr std::size_t kMaxDirectorySectors = 1 << 12;

[[noreturn]] void Damaged() {
    throw Error(std::string(kNotAWorkbook) + ": its compound-file container is damaged");
}

} // namespace

// A stream as the file offsets of its units (sectors, or mini sectors inside the mini stream),
// read in runs of units that lie one after another in the file.
class CompoundFile::Chained : public StreamBytes {
public:
    Chained(int fd, std::vector<std::uint64_t> units, unsigned unitShift, std::uint64_t size)
        : fd_(fd), units_(std::move(units)), unitShift_(unitShift), size_(size) {}

    std::uint64_t size() const override { return size_; }
    void read(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) override {
        const std::uint64_t unitBytes = std::uint64_t{1} << unitShift_;
        while (count > 0) {
            std::size_t unit = static_cast<std::size_t>(offset >> unitShift_);
            const std::uint64_t within = offset & (unitBytes - 1);
            const std::uint64_t start = units_[unit] + within;
            std::uint64_t run = unitBytes - within;
            while (run < count && unit + 1 < units_.size() &&
                   units_[unit + 1] == units_[unit] + unitBytes) {
                ++unit;
                run += unitBytes;
            }
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(run, count));
            ReadFileAt(fd_, start, buffer, n);
            buffer += n;
            count -= n;
            offset += n;
        }
    }

private:
    int fd_;
    std::vector<std::uint64_t> units_;
    unsigned unitShift_;
    std::uint64_t size_;
};

void ReadFileAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
    while (count > 0) {
        const ssize_t got = ::pread(fd, buffer, count, static_cast<off_t>(offset));
        if (got < 0)
            throw Error(std::string(kNotAWorkbook) + ": the file cannot be read");
        if (got == 0)
            throw Error(std::string(kNotAWorkbook) +
                        ": the workbook stream cannot be read to its end (the file is cut off "
                        "or its container is broken)");
        buffer += got;
        count -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
}

bool CompoundFile::HasSignature(const std::uint8_t* head, std::size_t size) {
    static const std::uint8_t kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    return size >= sizeof kSignature && std::memcmp(head, kSignature, sizeof kSignature) == 0;
}

CompoundFile::CompoundFile(int fd, std::uint64_t fileSize) : fd_(fd), fileSize_(fileSize) {
    std::uint8_t header[kHeaderBytes];
    if (fileSize_ < kHeaderBytes)
        Damaged();
    ReadFileAt(fd_, 0, header, kHeaderBytes);
    if (!HasSignature(header, kHeaderBytes) || U16(header + 0x1C) != 0xFFFE)
        Damaged();
    sectorShift_ = U16(header + 0x1E);
    miniShift_ = U16(header + 0x20);
    if (sectorShift_ < 7 || sectorShift_ > 16 || miniShift_ < 2 || miniShift_ >= sectorShift_)
        Damaged();
    version3_ = U16(header + 0x1A) != 4;
    miniCutoff_ = U32(header + 0x38);
    const std::uint64_t sectorBytes = std::uint64_t{1} << sectorShift_;
    // Sectors follow the header's sector; the last may be cut short where a writer left it so.
    fileSectors_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        (fileSize_ + sectorBytes - 1) / sectorBytes - 1, kLastRegularSector));
    firstDirectorySector_ = U32(header + 0x30);
    firstMiniFatSector_ = U32(header + 0x3C);
    miniFatSectors_ = U32(header + 0x40);

    // The sectors of the allocation table: 109 named in the header, the rest in a chain of
    // sectors that each end with the next one's number. Only those that cover the file's own
    // sectors are read: a table that claims more costs no more memory than the file has sectors.
    const std::size_t perSector = static_cast<std::size_t>(sectorBytes / 4);
    const std::uint32_t claimed = U32(header + 0x2C);
    if (claimed > fileSectors_)
        Damaged();
    const std::uint32_t fatSectors = std::min<std::uint32_t>(
        claimed, static_cast<std::uint32_t>((fileSectors_ + perSector - 1) / perSector));
    std::vector<std::uint32_t> fatList;
    fatList.reserve(fatSectors);
    for (std::size_t i = 0; i < kHeaderFatSectors && fatList.size() < fatSectors; ++i)
        fatList.push_back(U32(header + 0x4C + 4 * i));
    std::vector<std::uint8_t> sector(static_cast<std::size_t>(sectorBytes));
    std::vector<bool> seen(fileSectors_);
    for (std::uint32_t next = U32(header + 0x44); fatList.size() < fatSectors;) {
        if (next >= fileSectors_ || seen[next])
            Damaged();
        seen[next] = true;
        readSector(next, sector.data());
        for (std::size_t i = 0; i + 1 < perSector && fatList.size() < fatSectors; ++i)
            fatList.push_back(U32(sector.data() + 4 * i));
        next = U32(sector.data() + 4 * (perSector - 1));
    }
    fat_ = readTable(fatList);
    readEntries();
}

CompoundFile::~CompoundFile() = default;

// A whole sector of the container's own tables; what a short last sector lacks reads as zeros.
void CompoundFile::readSector(std::uint32_t sector, std::uint8_t* buffer) const {
    if (sector >= fileSectors_)
        Damaged();
    const std::uint64_t sectorBytes = std::uint64_t{1} << sectorShift_;
    const std::uint64_t at = (std::uint64_t{sector} + 1) << sectorShift_;
    const std::size_t present = static_cast<std::size_t>(std::min(sectorBytes, fileSize_ - at));
    ReadFileAt(fd_, at, buffer, present);
    std::memset(buffer + present, 0, static_cast<std::size_t>(sectorBytes) - present);
}

std::vector<std::uint32_t>
CompoundFile::readTable(const std::vector<std::uint32_t>& sectors) const {
    const std::size_t sectorBytes = std::size_t{1} << sectorShift_;
    std::vector<std::uint32_t> table(sectors.size() * (sectorBytes / 4));
    std::vector<std::uint8_t> bytes(sectorBytes);
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        readSector(sectors[i], bytes.data());
        for (std::size_t k = 0; k < sectorBytes / 4; ++k)
            table[i * (sectorBytes / 4) + k] = U32(bytes.data() + 4 * k);
    }
    return table;
}

// The first `sectors` sectors of the chain from `start` (to its end with kWholeChain), each met
// once and within what `table` covers.
std::vector<std::uint32_t> CompoundFile::chain(const std::vector<std::uint32_t>& table,
                                               std::uint32_t start, std::uint64_t sectors) const {
    const bool whole = sectors == kWholeChain;
    if (!whole && sectors > table.size())
        Damaged();
    std::vector<std::uint32_t> out;
    if (!whole)
        out.reserve(static_cast<std::size_t>(sectors));
    std::vector<bool> seen(table.size());
    for (std::uint32_t at = start; whole || out.size() < sectors; at = table[at]) {
        if (at == kEndOfChain && whole)
            break;
        if (at >= table.size() || seen[at])
            Damaged();
        seen[at] = true;
        out.push_back(at);
    }
    return out;
}

void CompoundFile::readEntries() {
    const std::vector<std::uint32_t> directory = chain(fat_, firstDirectorySector_, kWholeChain);
    // Far more entries than any writer makes (a workbook has a dozen): the rest is damage.
    if (directory.size() > kMaxDirectorySectors)
        Damaged();
    const std::size_t sectorBytes = std::size_t{1} << sectorShift_;
    std::vector<std::uint8_t> bytes(directory.size() * sectorBytes);
    for (std::size_t i = 0; i < directory.size(); ++i)
        readSector(directory[i], bytes.data() + i * sectorBytes);
    const std::size_t count = bytes.size() / kEntryBytes;
    if (count == 0)
        Damaged();
    auto entryAt = [&](std::size_t index) {
        const std::uint8_t* e = bytes.data() + index * kEntryBytes;
        Entry entry;
        const std::size_t nameBytes = std::min<std::size_t>(U16(e + 0x40), 64);
        Utf16Decoder units;
        for (std::size_t i = 0; i + 1 < nameBytes; i += 2) {
            const char16_t unit = U16(e + i);
            if (unit == 0)
                break;
            units.add(entry.name, unit);
        }
        units.finish(entry.name);
        entry.stream = e[0x42] == 2;
        entry.start = U32(e + 0x74);
        entry.size =
            version3_ ? U32(e + 0x78) : U32(e + 0x78) | (std::uint64_t{U32(e + 0x7C)} << 32);
        return entry;
    };
    if (bytes[0x42] != 5)
        Damaged(); // the first entry is the root
    root_ = entryAt(0);
    if (root_.size > fileSize_)
        Damaged(); // the mini stream lies in the file
    // The root's children form a tree through their sibling links; each is met once. The root
    // itself has no siblings, so any it claims must lead nowhere or to an entry met twice.
    std::vector<bool> seen(count);
    std::vector<std::uint32_t> pending{U32(bytes.data() + 0x44), U32(bytes.data() + 0x48),
                                       U32(bytes.data() + 0x4C)};
    seen[0] = true;
    while (!pending.empty()) {
        const std::uint32_t index = pending.back();
        pending.pop_back();
        if (index == kNoEntry)
            continue;
        if (index >= count || seen[index])
            Damaged();
        seen[index] = true;
        const std::uint8_t* e = bytes.data() + std::size_t{index} * kEntryBytes;
        pending.push_back(U32(e + 0x44));
        pending.push_back(U32(e + 0x48));
        if (e[0x42] == 1 || e[0x42] == 2)
            rootEntries_.push_back(entryAt(index));
    }
}

std::unique_ptr<StreamBytes> CompoundFile::open(const Entry& entry) const {
    if (!entry.stream)
        Damaged();
    const std::uint64_t sectorBytes = std::uint64_t{1} << sectorShift_;
    std::vector<std::uint64_t> units;
    if (entry.size >= miniCutoff_) {
        for (std::uint32_t s :
             chain(fat_, entry.start, (entry.size + sectorBytes - 1) >> sectorShift_)) {
            if (s >= fileSectors_)
                Damaged();
            units.push_back((std::uint64_t{s} + 1) << sectorShift_);
        }
        return std::make_unique<Chained>(fd_, std::move(units), sectorShift_, entry.size);
    }
    // A small stream lies in mini sectors inside the mini stream, the root's own stream.
    const std::uint64_t miniBytes = std::uint64_t{1} << miniShift_;
    // Its table is read as far as it covers the mini stream.
    const std::uint64_t covering =
        (((root_.size + miniBytes - 1) >> miniShift_) * 4 + sectorBytes - 1) >> sectorShift_;
    const std::vector<std::uint32_t> miniFat = readTable(
        chain(fat_, firstMiniFatSector_, std::min<std::uint64_t>(miniFatSectors_, covering)));
    const std::vector<std::uint32_t> container =
        chain(fat_, root_.start, (root_.size + sectorBytes - 1) >> sectorShift_);
    for (std::uint32_t m :
         chain(miniFat, entry.start, (entry.size + miniBytes - 1) >> miniShift_)) {
        const std::uint64_t at = std::uint64_t{m} << miniShift_;
        const std::uint64_t sector = at >> sectorShift_;
        if (at + miniBytes > root_.size || sector >= container.size() ||
            container[sector] >= fileSectors_)
            Damaged();
        units.push_back(((std::uint64_t{container[sector]} + 1) << sectorShift_) +
                        (at & (sectorBytes - 1)));
    }
    return std::make_unique<Chained>(fd_, std::move(units), miniShift_, entry.size);
}

} // namespace gq::xls
