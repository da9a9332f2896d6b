#pragma once

#include "CellText.h"
#include "CompoundFile.h"
#include "Error.h"
#include "FileDescriptor.h"
#include "LittleEndian.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gq::xls {

// The BIFF stream of a legacy workbook: the "Workbook" (or "Book") stream of an OLE2 compound
// file, or the whole file when it is a bare BIFF stream.
class WorkbookStream {
public:
    // Reads `file` when it is `path` opened already, else opens `path`. Throws gq::Error:
    // password-protected (an encrypted package), no workbook stream, damage.
    explicit WorkbookStream(const std::string& path, FileDescriptor file = FileDescriptor());
    ~WorkbookStream();
    WorkbookStream(const WorkbookStream&) = delete;
    WorkbookStream& operator=(const WorkbookStream&) = delete;

    StreamBytes& input() const { return *stream_; }

private:
    FileDescriptor fd_; // first: closed after the streams that read it
    std::unique_ptr<CompoundFile> container_;
    std::unique_ptr<StreamBytes> stream_;
};

struct Record {
    std::uint16_t type = 0;
    std::uint16_t size = 0;
    const std::uint8_t* data = nullptr; // valid until the next call on the RecordStream
    std::uint64_t offset = 0;           // of the record header in the stream
};

// Records read in chunks, so a sheet of any size costs one buffer. Every length is checked
// against what the stream holds.
class RecordStream {
public:
    explicit RecordStream(StreamBytes& input);

    // False at the end of the stream; throws gq::Error when a record runs past it.
    bool next(Record& record);
    // Takes the next record only when it has the given type.
    bool nextIf(std::uint16_t type, Record& record);
    void seek(std::uint64_t offset);
    std::uint64_t size() const { return size_; }

private:
    bool ensure(std::size_t bytes);

    StreamBytes& input_;
    std::uint64_t size_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t bufferOffset_ = 0; // stream offset of buffer_[0]
};

// A record whose data ends before what its fields announce. It costs that record only: the
// reader catches it and goes on with the next one, since the record lengths still hold.
class RecordCutShort : public Error {
public:
    using Error::Error;
};

// A record and the CONTINUE records that carry on its data, read as one run of bytes. Strings
// keep their own rule at a CONTINUE boundary: character data resumes with a fresh flags byte.
class ContinuedRecord {
public:
    ContinuedRecord(RecordStream& records, const Record& first);

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    void skip(std::uint64_t bytes);
    // A string of `chars` characters; `highByte` from the string's flags (UTF-16 when set,
    // else one byte per character from U+0000..U+00FF). Appends UTF-8 to `out`, which keeps
    // what a cell holds and reads past the rest. Throws RecordCutShort.
    void chars(std::uint32_t chars, bool highByte, CellTextBuilder& out);
    // A string with its header: a 16-bit character count (8-bit when `shortCount`), flags, and
    // any rich-text runs and phonetic data after the characters, which are skipped.
    void unicodeString(CellTextBuilder& out, bool shortCount = false);
    // No bytes left in this record nor in any CONTINUE after it.
    bool atEnd();

private:
    bool nextSegment();
    [[noreturn]] void cutShort() const;

    RecordStream& records_;
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::string piece_; // one segment's characters, decoded before they join the string
};

} // namespace gq::xls
