#include "BinaryCellValues.h"

#include <cstring>

namespace gq {

double DecodeRk(std::uint32_t rk) {
    double value;
    if (rk & 2u) {
        value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    // Division, not multiplication by 0.01, gives the nearest double to the decimal written.
    if (rk & 1u)
        value /= 100;
    return value;
}

std::string_view ErrorCodeText(std::uint8_t code) {
    switch (code) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    case 0x2A:
        return "#N/A";
    case 0x2B:
        return "#GETTING_DATA";
    default:
        return {};
    }
}

} // namespace gq
