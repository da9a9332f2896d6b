#include "DisplayText.h"

#include "CellText.h"

namespace gq {

DisplayText::DisplayText(const StyleTable& styles) : styles_(styles), general_("General") {}

const NumberFormat& DisplayText::formatOf(std::uint32_t style) {
    if (style >= styles_.formatCodes.size())
        return general_;
    if (compiled_.size() <= style)
        compiled_.resize(styles_.formatCodes.size());
    auto& slot = compiled_[style];
    if (!slot)
        slot.emplace(styles_.formatCodes[style]);
    return *slot;
}

void DisplayText::textOf(const Cell& cell, std::string& out) {
    showOf(cell, out);
    // A long format literal or text section can make even a short value exceed a cell.
    CutToCellLimit(out);
}

void DisplayText::throughTextSection(std::uint32_t style, std::string_view text, std::string& out) {
    if (style >= styles_.formatCodes.size() || styles_.formatCodes[style].empty() ||
        styles_.formatCodes[style] == "General" || styles_.formatCodes[style] == "@")
        out.assign(text);
    else
        out = formatOf(style).formatText(text);
}

void DisplayText::showOf(const Cell& cell, std::string& out) {
    switch (cell.kind) {
    case CellKind::Blank:
        out.clear();
        return;
    case CellKind::Number:
        out = formatOf(cell.style).formatNumber(cell.number, styles_.date1904);
        return;
    case CellKind::String:
        throughTextSection(cell.style, cell.text, out);
        return;
    case CellKind::Boolean:
        // A boolean shows as text does: through the format's text section (" FALSE " under
        // the accounting formats).
        throughTextSection(cell.style, cell.number != 0 ? "TRUE" : "FALSE", out);
        return;
    case CellKind::Error:
        out.assign(cell.text);
        return;
    }
}

} // namespace gq
