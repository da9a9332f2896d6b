#include "ResultTable.h"

#include "Error.h"

namespace gq {

bool ResultTable::checked(std::size_t row) const {
    if (row >= rowCount())
        throw Error("The row is no longer in the list");
    return true;
}

const std::vector<std::string>& ResultHeaders() {
    static const std::vector<std::string> headers{"File",      "Sheet", "Location",
                                                  "Cell Text", "row",   "col"};
    return headers;
}

std::string_view ResultColumn(const ResultRow& row, int column) {
    switch (column) {
    case 0:
        return row.file;
    case 1:
        return row.sheet;
    case 2:
        return row.location;
    case 3:
        return row.cellText;
    case 4:
        return row.row;
    case 5:
        return row.col;
    default:
        throw Error("The list has no column " + std::to_string(column + 1));
    }
}

std::string ResultRowsTable::header(int column) const {
    if (column < 0 || column >= columnCount())
        throw Error("The list has no column " + std::to_string(column + 1));
    return ResultHeaders()[static_cast<std::size_t>(column)];
}

std::string_view ResultRowsTable::text(std::size_t row, int column) const {
    if (row >= rows_.size())
        throw Error("The row is no longer in the list");
    return ResultColumn(rows_[row], column);
}

std::size_t TextLength(std::string_view text) {
    std::size_t units = 0;
    for (unsigned char c : text)
        units += ((c & 0xC0) != 0x80) + (c >= 0xF0); // a four-byte sequence is a surrogate pair
    return units;
}

} // namespace gq
