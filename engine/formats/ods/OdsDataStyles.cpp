#include "OdsDataStyles.h"

#include "XmlStream.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace gq {

namespace {

// A style is a handful of parts; anything beyond these is hostile input, not a format.
constexpr std::size_t kMaxParts = 64;
constexpr std::size_t kMaxMaps = 8;
constexpr std::size_t kMaxLiteral = 256;
constexpr int kMaxDigits = 30;

std::string_view LocalPart(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(name);
}

std::string Attribute(const char** attributes, std::string_view name) {
    const char* value = XmlAttribute(attributes, name);
    return value ? std::string(value) : std::string();
}

int ToInt(const std::string* text, int fallback, int low, int high) {
    if (!text)
        return fallback;
    int value = 0;
    const char* begin = text->data();
    const char* end = begin + text->size();
    auto [next, error] = std::from_chars(begin, end, value);
    if (error == std::errc::result_out_of_range)
        return high;
    if (error != std::errc() || next == begin)
        return fallback;
    return std::clamp(value, low, high);
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Literal text in a format code: characters that are literal in any code as they are, the rest
// quoted, so that letters and digits never turn into placeholders.
void AppendLiteral(std::string& code, std::string_view text, std::string_view bare) {
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            if (quoted)
                code += '"';
            quoted = false;
            code += "\\\"";
        } else if (bare.find(c) != std::string_view::npos) {
            if (quoted)
                code += '"';
            quoted = false;
            code += c;
        } else {
            if (!quoted)
                code += '"';
            quoted = true;
            code += c;
        }
    }
    if (quoted)
        code += '"';
}

constexpr std::string_view kBareInNumbers = " -()+:$";
constexpr std::string_view kBareInDates = " -/:,()";

std::string DecimalDigits(int places, int minPlaces) {
    if (places <= 0)
        return {};
    minPlaces = std::clamp(minPlaces, 0, places);
    return "." + std::string(static_cast<std::size_t>(minPlaces), '0') +
           std::string(static_cast<std::size_t>(places - minPlaces), '#');
}

// The currency symbol a style leaves to the locale, for the few countries users meet most.
std::string DefaultCurrency(const std::string& country) {
    static const char* const kEuro[] = {"DE", "FR", "IT", "ES", "NL", "AT", "BE", "FI",
                                        "IE", "PT", "GR", "LU", "SK", "SI", "EE", "LV"};
    if (country == "GB")
        return "\xC2\xA3";
    if (country == "JP" || country == "CN")
        return "\xC2\xA5";
    if (country == "CH")
        return "CHF";
    for (const char* euro : kEuro)
        if (country == euro)
            return "\xE2\x82\xAC";
    return "$";
}

} // namespace

const std::string* OdsDataStyles::Part::attribute(std::string_view key) const {
    for (const auto& [name, value] : attributes)
        if (name == key)
            return &value;
    return nullptr;
}

void OdsDataStyles::startElement(std::string_view name, const char** attributes) {
    ++depth_;
    if (depth_ == 1) {
        static const std::pair<std::string_view, const char*> kKinds[] = {
            {"number-style", "number"},
            {"currency-style", "currency"},
            {"percentage-style", "percentage"},
            {"date-style", "date"},
            {"time-style", "time"},
            {"boolean-style", "boolean"},
            {"text-style", "text"}};
        for (const auto& [element, kind] : kKinds) {
            if (name != element)
                continue;
            DataStyle& style = dataStyles_[Attribute(attributes, "name")];
            style = DataStyle{};
            style.kind = kind;
            style.elapsed = Attribute(attributes, "truncate-on-overflow") == "false";
            style.country = Attribute(attributes, "country");
            current_ = &style;
            return;
        }
        if (name == "style" && Attribute(attributes, "family") == "table-cell")
            cellStyles_[Attribute(attributes, "name")] = {
                Attribute(attributes, "parent-style-name"),
                Attribute(attributes, "data-style-name")};
        else if (name == "default-style" && Attribute(attributes, "family") == "table-cell")
            defaultDataStyle_ = Attribute(attributes, "data-style-name");
        return;
    }
    if (!current_)
        return;
    if (depth_ == 2) {
        if (name == "map") {
            if (current_->maps.size() < kMaxMaps)
                current_->maps.emplace_back(Attribute(attributes, "condition"),
                                            Attribute(attributes, "apply-style-name"));
        } else if (name != "text-properties" && current_->parts.size() < kMaxParts) {
            Part& part = current_->parts.emplace_back();
            part.name = name;
            for (const char** a = attributes; *a; a += 2)
                part.attributes.emplace_back(LocalPart(a[0]), a[1]);
            part_ = &part;
        }
    } else if (depth_ == 3 && part_ && name == "embedded-text" && part_->embedded.size() < 16) {
        const char* position = XmlAttribute(attributes, "position");
        std::string text = position ? position : "";
        part_->embedded.emplace_back(ToInt(&text, 0, 0, kMaxDigits), std::string());
        inEmbedded_ = true;
    }
}

void OdsDataStyles::endElement(std::string_view) {
    if (depth_ == 1)
        current_ = nullptr;
    else if (depth_ == 2)
        part_ = nullptr;
    else if (depth_ == 3)
        inEmbedded_ = false;
    --depth_;
}

void OdsDataStyles::characters(std::string_view text) {
    std::string* target = nullptr;
    if (inEmbedded_ && part_ && depth_ == 3)
        target = &part_->embedded.back().second;
    else if (part_ && depth_ == 2)
        target = &part_->text;
    if (target && target->size() < kMaxLiteral)
        target->append(text.substr(0, kMaxLiteral - target->size()));
}

std::string OdsDataStyles::sectionOf(const DataStyle& style) const {
    std::string code;
    const bool dates = style.kind == "date" || style.kind == "time";
    bool timeUnitSeen = false;
    bool afterSeconds = false;
    // The first time unit of an elapsed-time style counts past its natural range: [h] [mm] [ss].
    auto timeUnit = [&](std::string unit) {
        if (style.elapsed && !timeUnitSeen)
            unit = "[" + unit + "]";
        timeUnitSeen = true;
        code += unit;
    };
    for (const Part& part : style.parts) {
        bool wasAfterSeconds = afterSeconds;
        afterSeconds = false;
        const std::string* form = part.attribute("style");
        const bool isLong = form && *form == "long";
        if (part.name == "text") {
            if (style.kind == "percentage") {
                // The percent sign of a percentage style scales the value; other text is literal.
                std::size_t start = 0;
                for (std::size_t i = 0; i <= part.text.size(); ++i) {
                    if (i == part.text.size() || part.text[i] == '%') {
                        AppendLiteral(code, std::string_view(part.text).substr(start, i - start),
                                      kBareInNumbers);
                        if (i < part.text.size())
                            code += '%';
                        start = i + 1;
                    }
                }
            } else if (dates && wasAfterSeconds && !part.text.empty() && part.text[0] == '.') {
                AppendLiteral(code, part.text, ""); // a bare "." after seconds would mean decimals
            } else {
                AppendLiteral(code, part.text, dates ? kBareInDates : kBareInNumbers);
            }
        } else if (part.name == "number") {
            const std::string* places = part.attribute("decimal-places");
            const bool grouping =
                part.attribute("grouping") && *part.attribute("grouping") == "true";
            if (!places && !grouping && part.embedded.empty()) {
                code += "General";
                continue;
            }
            int minInteger = ToInt(part.attribute("min-integer-digits"), 1, 0, kMaxDigits);
            int decimals = ToInt(places, 0, 0, kMaxDigits);
            int minDecimals = ToInt(part.attribute("min-decimal-places"), decimals, 0, kMaxDigits);
            int width = std::max(minInteger, grouping ? 4 : 1);
            for (const auto& [position, text] : part.embedded)
                width = std::max(width, position + 1);
            std::string digits = std::string(static_cast<std::size_t>(width - minInteger), '#') +
                                 std::string(static_cast<std::size_t>(minInteger), '0');
            if (part.embedded.empty()) {
                if (grouping)
                    digits.insert(digits.size() - 3, 1, ',');
            } else {
                // Texts sit a number of digits left of the decimal separator; insert from the
                // leftmost so that earlier insertions do not shift later positions.
                auto embedded = part.embedded;
                std::sort(embedded.begin(), embedded.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
                std::string built;
                std::size_t next = 0;
                for (const auto& [position, text] : embedded) {
                    std::size_t at = digits.size() - static_cast<std::size_t>(position);
                    built.append(digits, next, at - next);
                    next = at;
                    AppendLiteral(built, text, "");
                }
                built.append(digits, next, std::string::npos);
                digits = built;
                if (grouping)
                    digits.insert(1, 1, ',');
            }
            code += digits;
            code += DecimalDigits(decimals, minDecimals);
            double factor = 1;
            if (const std::string* text = part.attribute("display-factor"))
                std::from_chars(text->data(), text->data() + text->size(), factor);
            for (double scale = 1000; scale <= 1e12 && factor >= scale * 0.999; scale *= 1000)
                code += ',';
        } else if (part.name == "scientific-number") {
            int minInteger = ToInt(part.attribute("min-integer-digits"), 1, 0, kMaxDigits);
            int interval = ToInt(part.attribute("exponent-interval"), 1, 1, kMaxDigits);
            int decimals = ToInt(part.attribute("decimal-places"), 0, 0, kMaxDigits);
            int minDecimals = ToInt(part.attribute("min-decimal-places"), decimals, 0, kMaxDigits);
            int exponent = ToInt(part.attribute("min-exponent-digits"), 1, 1, 10);
            if (interval > 1) {
                int zeros = std::min(minInteger, interval);
                code += std::string(static_cast<std::size_t>(interval - zeros), '#');
                code += std::string(static_cast<std::size_t>(zeros), '0');
            } else {
                code += std::string(static_cast<std::size_t>(std::max(minInteger, 1)), '0');
            }
            code += DecimalDigits(decimals, minDecimals);
            const std::string* sign = part.attribute("forced-exponent-sign");
            code += sign && *sign == "false" ? "E-" : "E+";
            code += std::string(static_cast<std::size_t>(exponent), '0');
        } else if (part.name == "fraction") {
            if (const std::string* integer = part.attribute("min-integer-digits")) {
                int zeros = ToInt(integer, 0, 0, kMaxDigits);
                code += zeros == 0 ? std::string("#") : std::string(std::size_t(zeros), '0');
                code += ' ';
            }
            int numerator = std::max(ToInt(part.attribute("min-numerator-digits"), 1, 1, 10),
                                     ToInt(part.attribute("max-numerator-digits"), 1, 1, 10));
            code += std::string(static_cast<std::size_t>(numerator), '?');
            code += '/';
            int fixed = ToInt(part.attribute("denominator-value"), 0, 0, 1000000000);
            if (fixed > 0) {
                code += std::to_string(fixed);
            } else {
                int denominator = ToInt(part.attribute("min-denominator-digits"), 1, 1, 10);
                int largest = ToInt(part.attribute("max-denominator-value"), 0, 0, 1000000000);
                if (largest > 0)
                    denominator =
                        std::max(denominator, static_cast<int>(std::to_string(largest).size()));
                code += std::string(static_cast<std::size_t>(denominator), '?');
            }
        } else if (part.name == "currency-symbol") {
            std::string symbol = part.text;
            if (symbol.empty()) {
                const std::string* country = part.attribute("country");
                symbol = DefaultCurrency(country ? *country : style.country);
            }
            AppendLiteral(code, symbol, kBareInNumbers);
        } else if (part.name == "text-content") {
            code += '@';
        } else if (part.name == "fill-character") {
            if (!part.text.empty()) {
                code += '*';
                code += part.text[0] == '"' ? std::string("\\\"") : part.text.substr(0, 1);
            }
        } else if (part.name == "day") {
            code += isLong ? "dd" : "d";
        } else if (part.name == "month") {
            const std::string* textual = part.attribute("textual");
            if (textual && *textual == "true")
                code += isLong ? "mmmm" : "mmm";
            else
                code += isLong ? "mm" : "m";
        } else if (part.name == "year") {
            code += isLong ? "yyyy" : "yy";
        } else if (part.name == "day-of-week") {
            code += isLong ? "dddd" : "ddd";
        } else if (part.name == "hours") {
            timeUnit(isLong ? "hh" : "h");
        } else if (part.name == "minutes") {
            timeUnit(isLong ? "mm" : "m");
        } else if (part.name == "seconds") {
            timeUnit(isLong ? "ss" : "s");
            int decimals = ToInt(part.attribute("decimal-places"), 0, 0, 9);
            if (decimals > 0)
                code += "." + std::string(static_cast<std::size_t>(decimals), '0');
            afterSeconds = true;
        } else if (part.name == "am-pm") {
            code += "AM/PM";
        }
        // era, quarter and week-of-year have no equivalent in a format code: left out.
    }
    return code;
}

std::string OdsDataStyles::dataStyleCode(const std::string& name) const {
    auto found = dataStyles_.find(name);
    if (found == dataStyles_.end())
        return {};
    const DataStyle& style = found->second;
    if (style.kind == "boolean")
        return "\"TRUE\";\"TRUE\";\"FALSE\"";
    std::string main = sectionOf(style);

    struct Mapped {
        std::string op;
        std::string value;
        std::string code;
    };
    std::vector<Mapped> mapped;
    for (const auto& [condition, target] : style.maps) {
        auto applied = dataStyles_.find(target);
        std::string_view text = Trim(condition);
        if (applied == dataStyles_.end() || text.substr(0, 7) != "value()")
            continue;
        text = Trim(text.substr(7));
        std::string op;
        for (std::string_view candidate : {">=", "<=", "!=", "<>", "==", ">", "<", "="})
            if (text.substr(0, candidate.size()) == candidate) {
                op = candidate;
                break;
            }
        if (op.empty())
            continue;
        std::string_view value = Trim(text.substr(op.size()));
        double number = 0;
        auto [next, error] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (error != std::errc() || next != value.data() + value.size())
            continue;
        if (op == "!=")
            op = "<>";
        else if (op == "==")
            op = "=";
        mapped.push_back({op, std::string(value), sectionOf(applied->second)});
    }
    if (mapped.empty())
        return main;

    auto is = [&](std::size_t i, std::string_view op) {
        return i < mapped.size() && mapped[i].op == op && mapped[i].value == "0";
    };
    if (style.kind == "text") {
        // The numeric sections come from the maps, the style itself is the text section.
        if (mapped.size() == 3 && is(0, ">") && is(1, "<") && is(2, "="))
            return mapped[0].code + ";" + mapped[1].code + ";" + mapped[2].code + ";" + main;
        std::string first = mapped[0].code;
        std::string second = mapped.size() > 1 ? mapped[1].code : first;
        std::string third = mapped.size() > 2 ? mapped[2].code : first;
        return first + ";" + second + ";" + third + ";" + main;
    }
    // The plain section layouts (positive/zero;negative and positive;negative;zero) are what
    // writers store as maps; they go back to sections without conditions.
    if (mapped.size() == 1 && is(0, ">="))
        return mapped[0].code + ";" + main;
    if (mapped.size() == 1 && is(0, "<"))
        return main + ";" + mapped[0].code;
    if (mapped.size() >= 2 && is(0, ">") && is(1, "<"))
        return mapped[0].code + ";" + mapped[1].code + ";" + main;
    std::string code;
    for (std::size_t i = 0; i < mapped.size() && i < 2; ++i)
        code += "[" + mapped[i].op + mapped[i].value + "]" + mapped[i].code + ";";
    return code + main;
}

std::string OdsDataStyles::cellFormatCode(const std::string& cellStyle) const {
    std::string name = cellStyle;
    for (int step = 0; step < 32 && !name.empty(); ++step) {
        auto found = cellStyles_.find(name);
        if (found == cellStyles_.end())
            break;
        if (!found->second.dataStyle.empty())
            return dataStyleCode(found->second.dataStyle);
        name = found->second.parent;
    }
    return defaultDataStyle_.empty() ? std::string() : dataStyleCode(defaultDataStyle_);
}

} // namespace gq
