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

void DisplayText::showOf(const Cell& cell, std::string& out) {
    switch (cell.kind) {
    case CellKind::Blank:
        out.clear();
        return;
    case CellKind::Number:
        out = formatOf(cell.style).formatNumber(cell.number, styles_.date1904);
        return;
    case CellKind::String:
        if (cell.style >= styles_.formatCodes.size() || styles_.formatCodes[cell.style].empty() ||
            styles_.formatCodes[cell.style] == "General" || styles_.formatCodes[cell.style] == "@")
            out.assign(cell.text);
        else
            out = formatOf(cell.style).formatText(cell.text);
        return;
    case CellKind::Boolean:
        out = cell.number != 0 ? "TRUE" : "FALSE";
        return;
    case CellKind::Error:
        out.assign(cell.text);
        return;
    }
}

} // namespace gq
