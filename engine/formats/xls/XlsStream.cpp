#include "XlsStream.h"

#include "Error.h"
#include "Utf8.h"
#include "XlsText.h"

#include <gsf/gsf.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <strings.h>

namespace gq::xls {

namespace {

[[noreturn]] void Damaged(const char* detail) {
    throw Error(std::string(kNotAWorkbook) + ": " + detail);
}

void IgnoreLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void InitGsf() {
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // The container reader reports damage on stderr as it copes with it; the reader turns
        // damage into a plain error of its own instead.
        const auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL |
                                                        G_LOG_LEVEL_MESSAGE);
        g_log_set_handler("libgsf:msole", levels, IgnoreLog, nullptr);
        g_log_set_handler("libgsf", levels, IgnoreLog, nullptr);
    });
}

bool SameName(const char* name, const char* wanted) {
    return name && strcasecmp(name, wanted) == 0;
}

// Chunks are large against the largest record (4 + 65535 bytes), so most records are read in
// place and a refill moves little.
constexpr std::size_t kBufferBytes = 256 * 1024;
constexpr std::size_t kMaxRecordBytes = 4 + 0xFFFF;

} // namespace

WorkbookStream::WorkbookStream(const std::string& path) {
    try {
        open(path);
    } catch (...) {
        release();
        throw;
    }
}

void WorkbookStream::open(const std::string& path) {
    InitGsf();
    GError* error = nullptr;
    file_ = gsf_input_stdio_new(path.c_str(), &error);
    if (!file_) {
        if (error)
            g_error_free(error);
        throw Error("The file cannot be read (permission denied or locked)");
    }
    static const std::uint8_t kOleSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::uint8_t head[8] = {};
    bool ole = gsf_input_size(file_) >= 8 && gsf_input_read(file_, 8, head) &&
               std::memcmp(head, kOleSignature, 8) == 0;
    if (gsf_input_seek(file_, 0, G_SEEK_SET))
        Damaged("the file cannot be read");
    if (!ole) {
        g_object_ref(file_);
        stream_ = file_;
        return;
    }

    GsfInfile* infile = gsf_infile_msole_new(file_, &error);
    if (!infile) {
        if (error)
            g_error_free(error);
        Damaged("its compound-file container is damaged");
    }
    container_ = GSF_INPUT(infile);
    int children = gsf_infile_num_children(infile);
    int workbook = -1;
    int book = -1;
    bool encrypted = false;
    for (int i = 0; i < children; ++i) {
        const char* name = gsf_infile_name_by_index(infile, i);
        if (SameName(name, "EncryptedPackage") || SameName(name, "EncryptionInfo"))
            encrypted = true;
        else if (SameName(name, "Workbook"))
            workbook = i;
        else if (SameName(name, "Book"))
            book = i;
    }
    // An encrypted .xlsx/.xlsb travels in a compound file of this kind.
    if (encrypted)
        throw Error(kPasswordProtected);
    int chosen = workbook >= 0 ? workbook : book;
    if (chosen < 0)
        throw Error(kNotAWorkbook);
    stream_ = gsf_infile_child_by_index(infile, chosen);
    if (!stream_)
        Damaged("its workbook stream cannot be opened");
    // A storage of that name, not a stream.
    if (GSF_IS_INFILE(stream_) && gsf_infile_num_children(GSF_INFILE(stream_)) >= 0)
        throw Error(kNotAWorkbook);
}

WorkbookStream::~WorkbookStream() {
    release();
}

void WorkbookStream::release() {
    for (GsfInput** input : {&stream_, &container_, &file_})
        if (*input) {
            g_object_unref(*input);
            *input = nullptr;
        }
}

RecordStream::RecordStream(GsfInput* input)
    : input_(input),
      size_(static_cast<std::uint64_t>(std::max<gsf_off_t>(0, gsf_input_size(input)))),
      buffer_(kBufferBytes) {
    if (gsf_input_seek(input_, 0, G_SEEK_SET))
        Damaged("the workbook stream cannot be read");
}

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
        if (!gsf_input_read(input_, static_cast<size_t>(want), buffer_.data() + end_))
            Damaged("the workbook stream cannot be read to its end (the file is cut off or its "
                    "container is broken)");
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
    if (gsf_input_seek(input_, static_cast<gsf_off_t>(offset), G_SEEK_SET))
        Damaged("the workbook stream cannot be read");
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
