#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gq {

// The value a cell showing `text` holds when the text is exactly what General shows for a number
// ("7", "-2.5", "1E+20"); nothing when a number would show differently ("007", "1.50", "1e3").
// Such texts are written as numbers, so that a saved workbook sorts and sums them, and every
// other text as a string: either way the cell shows what it showed before.
std::optional<double> NumberShownAs(std::string_view text);

// One sheet to write: its cells' displayed texts pushed in row-major order.
struct XlsxSheetSource {
    using Visitor =
        std::function<bool(std::uint32_t row, std::uint32_t col, const std::string& text)>;

    std::string name;
    std::function<void(const Visitor&)> forEachText;
    // Column widths in characters of the standard font, index 0 for column A; 0 keeps the
    // default width.
    std::vector<double> columnWidths;
};

enum class FileAccess { Shared, Private };

// Writes a real .xlsx through libxlsxwriter, streaming (memory stays bounded by one row). The
// file is written beside `path` and moved into place only when complete, so a failure never
// leaves half a workbook where an earlier one was. A private file is readable by its owner only;
// a shared one gets the permissions the umask gives new files. Throws gq::Error naming the file
// and the reason.
void WriteXlsxTexts(const std::string& path, const std::vector<XlsxSheetSource>& sheets,
                    FileAccess access = FileAccess::Shared);

} // namespace gq
