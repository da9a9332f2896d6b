// The fuzzer's bytes are a value and a format code: 8 bytes of a double, a flags byte (bit 0:
// the 1904 date system), then the code. The cell's text is shown as a search shows it, for the
// value and for a text under the same format; the text export's quick text of the value must be
// the same text, written within its room.
#include "DisplayText.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9)
        return 0;
    gq::StyleTable styles;
    styles.date1904 = (data[8] & 1) != 0;
    styles.addStyle(std::string_view(reinterpret_cast<const char*>(data) + 9, size - 9));
    gq::DisplayText display(styles);
    gq::Cell cell;
    cell.kind = gq::CellKind::Number;
    std::memcpy(&cell.number, data, sizeof cell.number);
    std::string shown;
    display.textOf(cell, shown);
    // A room of exactly its size: a write past it is the sanitizer's finding.
    const auto room = std::make_unique<char[]>(gq::NumberFormat::kQuickRoom);
    const char* end = display.numberFormatOf(cell.style)
                          .formatQuicklyTo(cell.number, styles.date1904, room.get());
    if (end && std::string_view(room.get(), static_cast<std::size_t>(end - room.get())) != shown)
        std::abort();
    cell.kind = gq::CellKind::String;
    cell.text = "green tea";
    display.textOf(cell, shown);
    return 0;
}
