#pragma once

#include "Cell.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gq::text {

// The styles a field takes by the shape its number was typed in, as a spreadsheet gives them
// on opening: General, a percentage with or without decimals, thousands separators with or
// without decimals, scientific, the short date.
enum FieldStyle : std::uint32_t {
    kGeneral,
    kPercent,
    kPercentDecimals,
    kThousands,
    kThousandsDecimals,
    kScientific,
    kShortDate,
};

// The format code of each FieldStyle, in that order: the reader's style table.
std::vector<std::string> FieldFormatCodes();

struct FieldValue {
    CellKind kind = CellKind::String; // String: the field stays text as written
    double number = 0;
    std::uint32_t style = kGeneral;
};

// What a spreadsheet makes of a delimited-text field on opening it (en-US): a number (spaces
// around it, a sign, leading zeros, decimals, an exponent, thousands separators, a percent
// sign), TRUE or FALSE in any case, a date m/d/yyyy; anything else stays text.
FieldValue ValueOfField(std::string_view field);

} // namespace gq::text
