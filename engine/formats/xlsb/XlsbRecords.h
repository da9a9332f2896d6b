#pragma once

// The record layer of the binary workbook format, kept apart from the reader so that it can be
// checked on bytes without a file.

#include "BinaryCellValues.h"
#include "LittleEndian.h"
#include "ZipPackage.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace gq::xlsb {

// Record types that the reader acts on; every other record is skipped.
namespace rt {
inline constexpr std::uint32_t RowHdr = 0;
inline constexpr std::uint32_t CellBlank = 1;
inline constexpr std::uint32_t CellRk = 2;
inline constexpr std::uint32_t CellError = 3;
inline constexpr std::uint32_t CellBool = 4;
inline constexpr std::uint32_t CellReal = 5;
inline constexpr std::uint32_t CellSt = 6;
inline constexpr std::uint32_t CellIsst = 7;
inline constexpr std::uint32_t FmlaString = 8;
inline constexpr std::uint32_t FmlaNum = 9;
inline constexpr std::uint32_t FmlaBool = 10;
inline constexpr std::uint32_t FmlaError = 11;
inline constexpr std::uint32_t SstItem = 19;
inline constexpr std::uint32_t Fmt = 44;
inline constexpr std::uint32_t XF = 47;
inline constexpr std::uint32_t CellRString = 62;
inline constexpr std::uint32_t BeginSheet = 129;
inline constexpr std::uint32_t EndSheet = 130;
inline constexpr std::uint32_t BeginBundleShs = 143;
inline constexpr std::uint32_t EndBundleShs = 144;
inline constexpr std::uint32_t BeginSheetData = 145;
inline constexpr std::uint32_t EndSheetData = 146;
inline constexpr std::uint32_t WbProp = 153;
inline constexpr std::uint32_t BundleSh = 156;
inline constexpr std::uint32_t BeginSst = 159;
inline constexpr std::uint32_t EndSst = 160;
inline constexpr std::uint32_t BeginCellXFs = 617;
inline constexpr std::uint32_t EndCellXFs = 618;
} // namespace rt

// The largest sheet the format can address; cells beyond it cannot be shown and are dropped.
inline constexpr std::uint32_t kMaxRows = 1048576;
inline constexpr std::uint32_t kMaxColumns = 16384;

struct RecordHeader {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::size_t length = 0; // bytes the header itself takes (2 to 6)
};

enum class HeaderStatus {
    Complete,
    Incomplete, // `available` ends inside the header
    Invalid,    // a type longer than 2 bytes or a size longer than 4 bytes
};

// Decodes the variable-length type (1-2 bytes) and size (1-4 bytes), 7 bits a byte, high bit set
// while more bytes follow.
HeaderStatus DecodeRecordHeader(const unsigned char* bytes, std::size_t available,
                                RecordHeader& header);

// Appends `units` UTF-16LE code units as UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUtf16(const unsigned char* bytes, std::size_t units, std::string& out);

// The bytes of one record, with bounds-checked little-endian access.
struct Payload {
    const unsigned char* data = nullptr;
    std::size_t size = 0;

    bool has(std::size_t offset, std::size_t count) const {
        return offset <= size && count <= size - offset;
    }
    std::uint8_t u8(std::size_t offset) const { return data[offset]; }
    std::uint16_t u16(std::size_t offset) const { return U16(data + offset); }
    std::uint32_t u32(std::size_t offset) const { return U32(data + offset); }
    double f64(std::size_t offset) const {
        std::uint64_t bits = U64(data + offset);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // A length-prefixed UTF-16 string at `offset`, appended to `out` as UTF-8. A length past the
    // record keeps the characters that are there. Returns the offset after the string, or 0 when
    // not even the length is there. A null string (length 0xFFFFFFFF) appends nothing.
    std::size_t wideString(std::size_t offset, std::string& out) const;
};

// Walks the records of one part. Only the payloads asked for are gathered into memory, and a
// payload buffer grows only as far as the bytes actually read, so a record that claims more than
// the part holds costs nothing before the cut is found.
class RecordReader {
public:
    RecordReader(ByteStream& input, std::string partName);

    // Moves to the next record; false at a clean end of the part. Throws gq::Error when the part
    // ends inside a record or a header is malformed.
    bool next();
    std::uint32_t type() const { return header_.type; }
    std::uint32_t size() const { return header_.size; }
    // The current record's bytes, valid until the next call of next(). A record longer than
    // kMaxPayload gives its first kMaxPayload bytes (any cell's value fits in far fewer); the
    // rest is read past, so a record's claimed size never decides what is held in memory.
    Payload payload();
    static constexpr std::size_t kMaxPayload = 1 << 20;
    // The gq::Error for a part that ends where the format says more must follow.
    [[noreturn]] void throwCutOff() const;

private:
    bool refill();
    void skipPending();
    void skip(std::size_t remaining);

    ByteStream& input_;
    std::string partName_;
    // Left uninitialised: zero-filling it cost more than reading a small part.
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t capacity_;
    std::size_t begin_ = 0; // unread bytes are buffer_[begin_, end_)
    std::size_t end_ = 0;
    RecordHeader header_;
    bool pending_ = false; // the current payload is still unread
    Payload current_;
    std::unique_ptr<unsigned char[]> head_; // the first bytes of a record too long to hold
};

} // namespace gq::xlsb
