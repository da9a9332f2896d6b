#include "XlsStream.h"

#include "Error.h"
#include "Utf8.h"
#include "XlsText.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace gq::xls {

namespace {

[[noreturn]] void Damaged(const char* detail) {
    throw Error(std::string(kNotAWorkbook) + ": " + detail);
}

bool SameName(const std::string& name, const char* wanted) {
    return strcasecmp(name.c_str(), wanted) == 0;
}

// Chunks are large against the largest record (4 + 65535 bytes), so most records are read in
// place and a refill moves little.
constexpr std::size_t kBufferBytes = 256 * 1024;
constexpr std::size_t kMaxRecordBytes = 4 + 0xFFFF;

// A bare BIFF stream: the whole file.
class WholeFile : public StreamBytes {
public:
    WholeFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t size() const override { return size_; }
    void read(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) override {
        ReadFileAt(fd_, offset, buffer, count);
    }

private:
    int fd_;
    std::uint64_t size_;
};

} // namespace

WorkbookStream::WorkbookStream(const std::string& path, FileDescriptor file)
    : fd_(std::move(file)) {
    if (!fd_.valid())
        fd_ = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (!fd_.valid() || ::fstat(fd_.get(), &info) != 0 || !S_ISREG(info.st_mode))
        throw Error(kCannotBeRead);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    std::uint8_t head[8] = {};
    if (size >= sizeof head && ::pread(fd_.get(), head, sizeof head, 0) != sizeof head)
        Damaged("the file cannot be read");
    if (!CompoundFile::HasSignature(head, size >= sizeof head ? sizeof head : 0)) {
        stream_ = std::make_unique<WholeFile>(fd_.get(), size);
        return;
    }
    container_ = std::make_unique<CompoundFile>(fd_.get(), size);
    const CompoundFile::Entry* workbook = nullptr;
    const CompoundFile::Entry* book = nullptr;
    bool encrypted = false;
    for (const CompoundFile::Entry& entry : container_->rootEntries()) {
        if (SameName(entry.name, "EncryptedPackage") || SameName(entry.name, "EncryptionInfo"))
            encrypted = true;
        else if (SameName(entry.name, "Workbook"))
            workbook = &entry;
        else if (SameName(entry.name, "Book"))
            book = &entry;
    }
    // An encrypted .xlsx/.xlsb travels in a compound file of this kind.
    if (encrypted)
        throw Error(kPasswordProtected);
    const CompoundFile::Entry* chosen = workbook ? workbook : book;
    // None, or a storage of that name, not a stream.
    if (!chosen || !chosen->stream)
        throw Error(kNotAWorkbook);
    stream_ = container_->open(*chosen);
}

WorkbookStream::~WorkbookStream() = default;

RecordStream::RecordStream(StreamBytes& input)
    : input_(input), size_(input.size()), buffer_(kBufferBytes) {}

bool RecordStream::ensure(std::size_t bytes) {
    if (end_ - pos_ >= bytes)
        return true;
    if (pos_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
        bufferOffset_ += pos_;
        end_ -= pos_;
        pos_ = 0;
    }
    while (end_ < bytes) {
        std::uint64_t at = bufferOffset_ + end_;
        if (at >= size_)
            return false;
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - end_, size_ - at));
        input_.read(at, buffer_.data() + end_, want);
        end_ += want;
    }
    return true;
}

bool RecordStream::next(Record& record) {
    static_assert(kBufferBytes >= 2 * kMaxRecordBytes);
    // Fewer than four bytes left is padding, not a record.
    if (!ensure(4))
        return false;
    const std::uint8_t* header = buffer_.data() + pos_;
    record.type = U16(header);
    record.size = U16(header + 2);
    if (!ensure(4 + static_cast<std::size_t>(record.size)))
        Damaged("a record runs past the end of the workbook stream");
    record.offset = bufferOffset_ + pos_;
    record.data = buffer_.data() + pos_ + 4;
    pos_ += 4 + static_cast<std::size_t>(record.size);
    return true;
}

bool RecordStream::nextIf(std::uint16_t type, Record& record) {
    if (!ensure(4) || U16(buffer_.data() + pos_) != type)
        return false;
    return next(record);
}

void RecordStream::seek(std::uint64_t offset) {
    if (offset >= size_)
        Damaged("a worksheet lies past the end of the workbook stream");
    if (offset >= bufferOffset_ && offset <= bufferOffset_ + end_) {
        pos_ = static_cast<std::size_t>(offset - bufferOffset_);
        return;
    }
    bufferOffset_ = offset;
    pos_ = end_ = 0;
}

ContinuedRecord::ContinuedRecord(RecordStream& records, const Record& first)
    : records_(records), data_(first.data), size_(first.size) {}

bool ContinuedRecord::nextSegment() {
    Record record;
    if (!records_.nextIf(0x003C, record))
        return false;
    data_ = record.data;
    size_ = record.size;
    pos_ = 0;
    return true;
}

void ContinuedRecord::cutShort() const {
    throw RecordCutShort(std::string(kNotAWorkbook) + ": a record ends in the middle of its data");
}

bool ContinuedRecord::atEnd() {
    while (pos_ == size_)
        if (!nextSegment())
            return true;
    return false;
}

std::uint8_t ContinuedRecord::u8() {
    if (atEnd())
        cutShort();
    return data_[pos_++];
}

std::uint16_t ContinuedRecord::u16() {
    std::uint16_t low = u8();
    return static_cast<std::uint16_t>(low | (u8() << 8));
}

std::uint32_t ContinuedRecord::u32() {
    std::uint32_t low = u16();
    return low | (static_cast<std::uint32_t>(u16()) << 16);
}

void ContinuedRecord::skip(std::uint64_t bytes) {
    while (bytes > 0) {
        if (atEnd())
            cutShort();
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, size_ - pos_));
        pos_ += take;
        bytes -= take;
    }
}

void ContinuedRecord::chars(std::uint32_t count, bool highByte, CellTextBuilder& out) {
    Utf16Decoder utf16;
    piece_.clear();
    while (count > 0) {
        if (pos_ == size_) {
            // Character data carried on in a CONTINUE opens with the flags byte again: a string
            // may change between one and two bytes per character there.
            if (atEnd())
                cutShort();
            highByte = (data_[pos_++] & 0x01) != 0;
            continue;
        }
        std::size_t width = highByte ? 2 : 1;
        std::size_t fit = std::min<std::size_t>(count, (size_ - pos_) / width);
        if (fit == 0)
            throw RecordCutShort(std::string(kNotAWorkbook) +
                                 ": a string is split in the middle of a character");
        // Past a cell's limit the characters are only stepped over.
        if (!out.full()) {
            if (highByte)
                utf16.append(piece_, data_ + pos_, fit);
            else
                AppendLatin1(piece_, data_ + pos_, fit);
            out.append(piece_);
            piece_.clear();
        }
        pos_ += fit * width;
        count -= static_cast<std::uint32_t>(fit);
    }
    utf16.finish(piece_);
    out.append(piece_);
}

void ContinuedRecord::unicodeString(CellTextBuilder& out, bool shortCount) {
    std::uint32_t count = shortCount ? u8() : u16();
    std::uint8_t flags = u8();
    std::uint32_t runs = (flags & 0x08) ? u16() : 0;
    std::uint32_t phonetic = (flags & 0x04) ? u32() : 0;
    chars(count, (flags & 0x01) != 0, out);
    skip(4ull * runs);
    skip(phonetic);
}

} // namespace gq::xls
