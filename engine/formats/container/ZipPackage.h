#pragma once

#include "FileDescriptor.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace gq {

struct ZipArchive;

// Inflated bytes of one package part, read in chunks.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Fills up to `size` bytes; returns 0 at the end. Throws gq::Error on damage or a bomb.
    virtual std::size_t read(char* buffer, std::size_t size) = 0;
    // Does a piece of the reading ahead of the reader, in the time of a thread that would
    // otherwise wait; false when there is none to do now.
    virtual bool fillAhead() { return false; }
};

// How a large part is inflated ahead of its reader: not at all, on a thread of its own, or by
// threads that call fillAhead while they would otherwise wait.
enum class ReadAhead { None, OwnThread, IdleThreads };

// A ByteStream over bytes in memory (whole small parts, and tests).
class MemoryStream : public ByteStream {
public:
    explicit MemoryStream(std::string_view bytes) : bytes_(bytes) {}
    std::size_t read(char* buffer, std::size_t size) override;

private:
    std::string_view bytes_;
    std::size_t offset_ = 0;
};

// A zip package (.xlsx, .xlsb, .ods). Every part is guarded against decompression bombs: a part
// may inflate to at most max(kBombFloorBytes, kBombRatio x its compressed size) and never past
// kMaxPartBytes. A part that declares more is refused before it is inflated, and one that inflates
// past what it declares fails there, so the read ends with a plain error instead of running for
// hours. The CRC-32 of every part is checked at its end.
class ZipPackage {
public:
    static constexpr std::uint64_t kBombFloorBytes = 256ull << 20;
    static constexpr std::uint64_t kBombRatio = 1000;
    static constexpr std::uint64_t kMaxPartBytes = 16ull << 30;
    static constexpr std::uint64_t kReadAheadMinBytes = 1ull << 20;
    // A package file up to this size is read into memory in one go.
    static constexpr std::uint64_t kReadWholeBytes = 4ull << 20;

    // Reads `file` when it is `path` opened already. Throws gq::Error when it is no zip.
    explicit ZipPackage(const std::string& path, FileDescriptor file = FileDescriptor());
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;
    ZipPackage(ZipPackage&& other) noexcept;

    // Part names compare without regard to case, as packages are written by many programs.
    bool has(const std::string& name) const;
    // A whole small part (relationships, workbook, styles); at most `limit` bytes inflated.
    std::string read(const std::string& name, std::uint64_t limit = 64ull << 20) const;
    // A part of any size, inflated ahead of its reader as `ahead` says when it is large.
    std::unique_ptr<ByteStream> stream(const std::string& name,
                                       ReadAhead ahead = ReadAhead::None) const;
    // The size a part says it inflates to; none when the package does not say.
    std::optional<std::uint64_t> declaredSize(const std::string& name) const;
    // Whether a part is big enough (by what the package claims) that a second thread pays off
    // in reading it; an unknown size counts as big.
    bool isLarge(const std::string& name) const;

    const std::string& path() const { return path_; }

private:
    std::int64_t indexOf(const std::string& name) const;  // -1 when the part is missing
    std::size_t partIndex(const std::string& name) const; // throws when it is missing

    std::string path_;
    std::shared_ptr<const ZipArchive> archive_;
};

} // namespace gq
