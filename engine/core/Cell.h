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

inline constexpr std::uint32_t kNotShared = UINT32_MAX;

// One stored cell as a reader pushes it. `text` is only valid during the visit call, unless the
// cell names a shared string.
struct Cell {
    std::uint32_t row = 0; // 1-based
    std::uint32_t col = 0; // 1-based
    CellKind kind = CellKind::Blank;
    std::uint32_t style = 0; // index into the reader's StyleTable
    double number = 0;
    std::string_view text;
    // A String cell's index in the workbook's shared-string table, kNotShared for a text of its
    // own. A shared text stays valid while the reader lives: it travels without a copy, and a
    // search may judge it once for every cell that uses it.
    std::uint32_t sharedString = kNotShared;
    // The same cell stands in this many columns from `col` on: a run that the file stores once
    // is passed on once, so that what does not match it costs the run, not its cells.
    std::uint32_t repeat = 1;
};

class CellVisitor {
public:
    virtual ~CellVisitor() = default;
    // Called in row-major order; return false to stop the read early.
    virtual bool visit(const Cell& cell) = 0;
    // Whether the visitor spends more on a cell than reading it costs (it shows every cell's
    // text): a reader then weighs a thread of its own for inflating against the cores left.
    virtual bool busy() const { return false; }
};

} // namespace gq
