#include "DisplayText.h"

#include "CellText.h"

namespace gq {

DisplayText::DisplayText(const StyleTable& styles) : styles_(styles), general_("General") {}

const NumberFormat& DisplayText::compile(std::uint32_t code) {
    // A reader may add codes while its cells are read: the table grows with it.
    if (compiled_.size() <= code)
        compiled_.resize(styles_.codeCount());
    return compiled_[code].emplace(styles_.codeAt(code));
}

bool DisplayText::judgeAsStored(std::uint32_t style) {
    const std::uint32_t code = styles_.codeIndex(style);
    if (asStored_.size() <= code)
        asStored_.resize(styles_.codeCount(), -1);
    // A format without a text section, or one that is "@" alone, passes any text through.
    static constexpr std::string_view kProbe = "\x01\x02";
    asStored_[code] = formatOf(style).formatText(kProbe) == kProbe;
    return asStored_[code] != 0;
}

const TextBounds& DisplayText::judgeBounds(std::uint32_t style) {
    const std::uint32_t code = styles_.codeIndex(style);
    if (bounds_.size() <= code)
        bounds_.resize(styles_.codeCount());
    bounds_[code] = formatOf(style).numberTextBounds();
    return *bounds_[code];
}

void DisplayText::throughTextSection(std::uint32_t style, std::string_view text, std::string& out) {
    if (showsAsStored(style))
        out.assign(text);
    else
        out = formatOf(style).formatText(text);
}

void DisplayText::showOf(const Cell& cell, std::string& out) {
    switch (cell.kind) {
    case CellKind::Blank:
    case CellKind::Number: // formatted by textOf before it comes here
        out.clear();
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
