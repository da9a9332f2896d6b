#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gq {

// The cell styles and number styles of an OpenDocument spreadsheet, as far as they decide how a
// value is shown, and their translation into the format codes that the number format engine reads.
class OdsDataStyles {
public:
    // Events from inside a styles container (office:styles or office:automatic-styles), local
    // names; the container's children arrive at depth 1.
    void startElement(std::string_view name, const char** attributes);
    void endElement(std::string_view name);
    void characters(std::string_view text);

    // The format code of a cell style through its parents, or of the default cell style when
    // `cellStyle` is empty or unknown; empty when no number style applies.
    std::string cellFormatCode(const std::string& cellStyle) const;
    // The format code of one number style; empty when there is none of that name.
    std::string dataStyleCode(const std::string& name) const;

private:
    struct Part {
        std::string name; // local name: "number", "text", "hours", ...
        std::vector<std::pair<std::string, std::string>> attributes;
        std::string text;
        std::vector<std::pair<int, std::string>> embedded; // number:embedded-text
        const std::string* attribute(std::string_view key) const;
    };
    struct DataStyle {
        std::string kind; // "number", "currency", "percentage", "date", "time", "boolean", "text"
        bool elapsed = false; // truncate-on-overflow="false": hours past 24 keep counting
        std::string country;
        std::vector<Part> parts;
        std::vector<std::pair<std::string, std::string>> maps; // condition, style name
    };
    struct CellStyle {
        std::string parent;
        std::string dataStyle;
    };

    std::string sectionOf(const DataStyle& style) const;

    std::unordered_map<std::string, DataStyle> dataStyles_;
    std::unordered_map<std::string, CellStyle> cellStyles_;
    std::string defaultDataStyle_;

    // Parse state.
    int depth_ = 0;
    DataStyle* current_ = nullptr; // the number style being read (depth 1)
    Part* part_ = nullptr;         // its child being read (depth 2)
    bool inEmbedded_ = false;      // number:embedded-text (depth 3)
};

} // namespace gq
