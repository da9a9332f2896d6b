#pragma once

#include <cstdint>

namespace gq {

// The row-major order that every reader promises. A damaged or crafted file may list a cell
// before one it follows, or twice, and what takes the cells relies on the order (a text export
// builds each line cell by cell), so a reader passes a cell only when it comes after the last
// one it passed.
class RowMajorOrder {
public:
    bool advances(std::uint32_t row, std::uint32_t col) {
        if (row < row_ || (row == row_ && col <= col_))
            return false;
        row_ = row;
        col_ = col;
        return true;
    }

private:
    std::uint32_t row_ = 0;
    std::uint32_t col_ = 0;
};

} // namespace gq
