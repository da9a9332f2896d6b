#pragma once

#include "Cell.h"
#include "StyleTable.h"

#include <memory>
#include <string>
#include <vector>

namespace gq {

// One workbook file opened by the reader of its format. Readers throw gq::Error with a
// plain-words description for anything they cannot read.
class FormatReader {
public:
    virtual ~FormatReader() = default;
    // Worksheets only (no chart or macro sheets), in workbook order, names as the user sees them.
    virtual const std::vector<std::string>& worksheetNames() const = 0;
    // Pushes the stored cells of one worksheet in row-major order, streaming: memory stays
    // bounded by the shared tables and a small buffer, never by the sheet's size.
    virtual void readCells(std::size_t sheetIndex, CellVisitor& visitor) = 0;
    virtual const StyleTable& styles() const = 0;
};

// The name of the one sheet of a file format that names none (delimited text, the oldest
// binary worksheets): the file's name without its extension, cut to what a sheet name holds.
std::string SheetNameOfFile(const std::string& path);

// Picks the reader by the file's content, never by its extension.
std::unique_ptr<FormatReader> OpenFormatReader(const std::string& path);

} // namespace gq
