#include "XlsbRecords.h"

#include "CellText.h"
#include "Error.h"
#include "Utf8.h"

#include <algorithm>

namespace gq::xlsb {

HeaderStatus DecodeRecordHeader(const unsigned char* bytes, std::size_t available,
                                RecordHeader& header) {
    if (available < 1)
        return HeaderStatus::Incomplete;
    std::uint32_t type = bytes[0] & 0x7Fu;
    std::size_t at = 1;
    if (bytes[0] & 0x80u) {
        if (available < 2)
            return HeaderStatus::Incomplete;
        if (bytes[1] & 0x80u)
            return HeaderStatus::Invalid;
        type |= static_cast<std::uint32_t>(bytes[1]) << 7;
        at = 2;
    }
    std::uint32_t size = 0;
    for (int shift = 0; shift < 28; shift += 7) {
        if (at >= available)
            return HeaderStatus::Incomplete;
        unsigned char byte = bytes[at++];
        size |= static_cast<std::uint32_t>(byte & 0x7Fu) << shift;
        if (!(byte & 0x80u)) {
            header.type = type;
            header.size = size;
            header.length = at;
            return HeaderStatus::Complete;
        }
    }
    return HeaderStatus::Invalid;
}

void AppendUtf16(const unsigned char* bytes, std::size_t units, std::string& out) {
    Utf16Decoder decoder;
    decoder.append(out, bytes, units);
    decoder.finish(out);
}

std::size_t Payload::wideString(std::size_t offset, std::string& out) const {
    if (!has(offset, 4))
        return 0;
    std::uint32_t length = u32(offset);
    offset += 4;
    if (length == 0xFFFFFFFFu)
        return offset;
    std::size_t units = std::min<std::size_t>(length, (size - offset) / 2);
    // A cell holds no more than this; a character is not split at the cut.
    std::size_t kept = std::min(units, kMaxCellChars);
    if (kept < units && kept > 0 && (data[offset + 2 * kept - 1] & 0xFC) == 0xD8)
        --kept;
    AppendUtf16(data + offset, kept, out);
    return offset + 2 * units;
}

namespace {
constexpr std::size_t kInitialBytes = 1 << 16;
}

RecordReader::RecordReader(ByteStream& input, std::string partName)
    : input_(input), partName_(std::move(partName)), buffer_(new unsigned char[kInitialBytes]),
      capacity_(kInitialBytes) {}

void RecordReader::throwCutOff() const {
    throw Error(std::string(kNotAWorkbook) + ": the part " + partName_ + " is cut off");
}

bool RecordReader::refill() {
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    // Only a payload larger than the buffer fills it, and those bytes are real: growing here is
    // bounded by what the part holds, never by what a header claims.
    if (end_ == capacity_) {
        std::unique_ptr<unsigned char[]> larger(new unsigned char[2 * capacity_]);
        std::memcpy(larger.get(), buffer_.get(), end_);
        buffer_ = std::move(larger);
        capacity_ *= 2;
    }
    std::size_t got = input_.read(reinterpret_cast<char*>(buffer_.get() + end_), capacity_ - end_);
    end_ += got;
    return got > 0;
}

void RecordReader::skipPending() {
    skip(header_.size);
    pending_ = false;
}

void RecordReader::skip(std::size_t remaining) {
    std::size_t buffered = std::min(remaining, end_ - begin_);
    begin_ += buffered;
    remaining -= buffered;
    while (remaining > 0) {
        begin_ = end_ = 0;
        std::size_t got = input_.read(reinterpret_cast<char*>(buffer_.get()), capacity_);
        if (got == 0)
            throwCutOff();
        if (got > remaining) {
            begin_ = remaining;
            end_ = got;
            remaining = 0;
        } else {
            remaining -= got;
        }
    }
}

bool RecordReader::next() {
    if (pending_)
        skipPending();
    for (;;) {
        HeaderStatus status = DecodeRecordHeader(buffer_.get() + begin_, end_ - begin_, header_);
        if (status == HeaderStatus::Complete)
            break;
        if (status == HeaderStatus::Invalid)
            throw Error(std::string(kNotAWorkbook) + ": the part " + partName_ +
                        " holds a malformed record");
        if (!refill()) {
            if (begin_ == end_)
                return false;
            throwCutOff();
        }
    }
    begin_ += header_.length;
    pending_ = true;
    return true;
}

Payload RecordReader::payload() {
    if (!pending_)
        return current_;
    const std::size_t held = std::min<std::size_t>(header_.size, kMaxPayload);
    while (end_ - begin_ < held)
        if (!refill())
            throwCutOff();
    current_ = {buffer_.get() + begin_, held};
    begin_ += held;
    pending_ = false;
    if (held < header_.size) {
        // Skipping refills the buffer: the bytes kept move aside first.
        if (!head_)
            head_.reset(new unsigned char[kMaxPayload]);
        std::memcpy(head_.get(), current_.data, held);
        current_.data = head_.get();
        skip(header_.size - held);
    }
    return current_;
}

} // namespace gq::xlsb
