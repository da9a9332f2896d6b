#pragma once

#include <cstdint>
#include <string_view>

namespace gq {

// Cell value encodings that the legacy binary format and the binary workbook format share.

// The value of a 32-bit RK number: bit 0 divides by 100, bit 1 marks a 30-bit signed integer,
// otherwise the upper 30 bits are the top of a double.
double DecodeRk(std::uint32_t rk);

// The shown text of an error code; empty for a code the formats do not define.
std::string_view ErrorCodeText(std::uint8_t code);

} // namespace gq
