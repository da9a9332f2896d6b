// The fuzzer's bytes become one record part of an otherwise sound binary workbook package: the
// first byte picks the part (worksheet, shared strings, styles or workbook).
#include "FuzzSupport.h"
#include "XlsbReader.h"

#include <cstring>

namespace {

// Appends records as the format lays them out: type and size 7 bits a byte, then the payload.
class Records {
public:
    Records& add(std::uint32_t type, const std::string& payload = {}) {
        varint(type);
        varint(static_cast<std::uint32_t>(payload.size()));
        bytes_ += payload;
        return *this;
    }
    const std::string& bytes() const { return bytes_; }

private:
    void varint(std::uint32_t value) {
        for (; value >= 0x80; value >>= 7)
            bytes_ += static_cast<char>((value & 0x7F) | 0x80);
        bytes_ += static_cast<char>(value);
    }
    std::string bytes_;
};

std::string U16(std::uint16_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}
std::string U32(std::uint32_t value) {
    return U16(value & 0xFFFF) + U16(value >> 16);
}
std::string F64(double value) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}
// A length-prefixed UTF-16 string of ASCII text.
std::string Wide(std::string_view text) {
    std::string bytes = U32(static_cast<std::uint32_t>(text.size()));
    for (char c : text)
        bytes += U16(static_cast<std::uint8_t>(c));
    return bytes;
}

const std::string kWorksheet = Records()
                                   .add(129) // sheet
                                   .add(145) // sheet data
                                   .add(0, U32(0) + std::string(21, '\0'))
                                   .add(7, U32(0) + U32(0) + U32(0))          // shared string
                                   .add(5, U32(1) + U32(1) + F64(45351.5))    // number, date style
                                   .add(6, U32(2) + U32(0) + Wide("tea"))     // inline string
                                   .add(2, U32(3) + U32(2) + U32(0x3FF00000)) // RK number
                                   .add(4, U32(4) + U32(0) + '\x01')          // boolean
                                   .add(3, U32(5) + U32(0) + '\x07')          // error
                                   .add(146)
                                   .add(130)
                                   .bytes();
const std::string kSharedStrings = Records()
                                       .add(159, U32(2) + U32(2))
                                       .add(19, '\0' + Wide("green tea"))
                                       .add(19, '\x01' + Wide("rich"))
                                       .add(160)
                                       .bytes();
const std::string kStyles = Records()
                                .add(44, U16(164) + Wide("yyyy-mm-dd hh:mm"))
                                .add(617)
                                .add(47, U16(0xFFFF) + U16(0) + std::string(12, '\0'))
                                .add(47, U16(0) + U16(164) + std::string(12, '\0'))
                                .add(47, U16(0) + U16(8) + std::string(12, '\0'))
                                .add(618)
                                .bytes();
const std::string kWorkbook = Records()
                                  .add(131) // book
                                  .add(153, U32(0) + U32(0) + U32(0))
                                  .add(143)
                                  .add(156, U32(0) + U32(1) + Wide("rId1") + Wide("Sheet1"))
                                  .add(144)
                                  .add(132)
                                  .bytes();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    gqfuzz::Selected input = gqfuzz::Select(data, size);
    std::string_view parts[gqfuzz::kOfficeParts] = {kWorksheet, kSharedStrings, kStyles, kWorkbook};
    parts[input.selector % gqfuzz::kOfficeParts] = input.bytes;
    std::string file = gqfuzz::OfficePackage(
        "bin", "application/vnd.ms-excel.sheet.binary.macroEnabled.main", parts);
    gqfuzz::ReadWorkbook(gq::OpenXlsbReader, gqfuzz::InputFile().write(file));
    return 0;
}
