#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gq {

enum class CellKind : std::uint8_t {
    Blank,   // stored but holds no value (formatting only); shows as empty text
    Number,  // `number`, shown through the cell's number format (dates are numbers too)
    String,  // `text`, final UTF-8 text; the format's text section may still decorate it
    Boolean, // `number` is 0 or 1
    Error,   // `text` is the error code as shown, e.g. "#DIV/0!"
};

// One stored cell as a reader pushes it. `text` is only valid during the visit call.
struct Cell {
    std::uint32_t row = 0; // 1-based
    std::uint32_t col = 0; // 1-based
    CellKind kind = CellKind::Blank;
    std::uint32_t style = 0; // index into the reader's StyleTable
    double number = 0;
    std::string_view text;
};

class CellVisitor {
public:
    virtual ~CellVisitor() = default;
    // Called in row-major order; return false to stop the read early.
    virtual bool visit(const Cell& cell) = 0;
};

// What a reader knows about number formats: the format code of each cell style.
struct StyleTable {
    std::vector<std::string> formatCodes; // by cell style index; a missing index means General
    bool date1904 = false;
};

} // namespace gq
