#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gq::xls {

// The bytes of one stream, read at any offset.
class StreamBytes {
public:
    virtual ~StreamBytes() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `count` bytes from `offset`, which with `count` lies within the stream; throws
    // gq::Error when the file cannot give them.
    virtual void read(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) = 0;
};

// Fills `count` bytes of the file from `offset`; throws gq::Error when the file cannot give them
// (cut off, or unreadable).
void ReadFileAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t count);

// An OLE2 compound file: the storage that legacy workbooks (and encrypted packages) travel in.
// Every chain of sectors is checked against the file's size and for loops before it is used, so a
// damaged container costs a plain error, never a long read.
class CompoundFile {
public:
    // Throws gq::Error when the file cannot be read or its container is damaged.
    explicit CompoundFile(int fd, std::uint64_t fileSize);
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    struct Entry {
        std::string name; // UTF-8
        bool stream = false;
        std::uint32_t start = 0;
        std::uint64_t size = 0;
    };
    // What the root storage holds directly.
    const std::vector<Entry>& rootEntries() const { return rootEntries_; }
    // One of those entries, which must be a stream. Throws gq::Error for a damaged chain.
    std::unique_ptr<StreamBytes> open(const Entry& entry) const;

    static bool HasSignature(const std::uint8_t* head, std::size_t size);

private:
    class Chained;
    static constexpr std::uint64_t kWholeChain = UINT64_MAX;
    void readSector(std::uint32_t sector, std::uint8_t* buffer) const;
    std::vector<std::uint32_t> chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                     std::uint64_t sectors) const;
    std::vector<std::uint32_t> readTable(const std::vector<std::uint32_t>& sectors) const;
    void readEntries();

    int fd_;
    std::uint64_t fileSize_;
    unsigned sectorShift_ = 9;
    unsigned miniShift_ = 6;
    std::uint32_t miniCutoff_ = 4096;
    bool version3_ = true;
    std::uint32_t fileSectors_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::uint32_t firstMiniFatSector_ = 0;
    std::uint32_t miniFatSectors_ = 0;
    std::uint32_t firstDirectorySector_ = 0;
    Entry root_;
    std::vector<Entry> rootEntries_;
};

} // namespace gq::xls
