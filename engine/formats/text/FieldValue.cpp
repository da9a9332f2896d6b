#include "FieldValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace gq::text {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

bool EqualsIgnoringCase(std::string_view s, std::string_view upper) {
    if (s.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if ((s[i] >= 'a' && s[i] <= 'z' ? s[i] - 'a' + 'A' : s[i]) != upper[i])
            return false;
    return true;
}

// The largest number a cell takes; a typed one past it stays text.
constexpr double kLargestNumber = 9.99999999999999e307;

// [sign] digits (with thousands separators in groups of three) [. digits] [e [sign] digits] [%]
bool ReadNumber(std::string_view s, FieldValue& value) {
    std::size_t i = 0;
    bool negative = false;
    if (s[i] == '+' || s[i] == '-')
        negative = s[i++] == '-';
    std::string whole, fraction, exponent;
    bool thousands = false;
    std::size_t group = i;
    for (; i < s.size() && (IsDigit(s[i]) || s[i] == ','); ++i) {
        if (IsDigit(s[i])) {
            whole += s[i];
            continue;
        }
        // The first group holds one to three digits and no leading zero, each later one three.
        std::size_t length = i - group;
        if (thousands ? length != 3 : length == 0 || length > 3 || s[group] == '0')
            return false;
        thousands = true;
        group = i + 1;
    }
    if (thousands && i - group != 3)
        return false;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && IsDigit(s[i]); ++i)
            fraction += s[i];
    if (whole.empty() && fraction.empty())
        return false;
    const bool scientific = i < s.size() && (s[i] == 'e' || s[i] == 'E');
    if (scientific) {
        if (++i < s.size() && (s[i] == '+' || s[i] == '-'))
            exponent += s[i++];
        std::size_t digits = i;
        for (; i < s.size() && IsDigit(s[i]); ++i)
            exponent += s[i];
        if (i == digits)
            return false;
    }
    const bool percent = i < s.size() && s[i] == '%';
    if (percent)
        ++i;
    if (i != s.size() || (scientific && (thousands || percent)))
        return false;

    // A spreadsheet keeps the first 15 significant digits of what is typed and drops the rest.
    std::string digits = whole + fraction;
    std::size_t first = digits.find_first_not_of('0');
    for (std::size_t k = first == std::string::npos ? digits.size() : first + 15; k < digits.size();
         ++k)
        digits[k] = '0';
    std::string number = "0" + digits.substr(0, whole.size()) + "." + digits.substr(whole.size()) +
                         (scientific ? "e" + exponent : "");
    double parsed = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
    if (error != std::errc() || end != number.data() + number.size() || parsed > kLargestNumber)
        return false;
    if (percent)
        parsed /= 100;
    value.kind = CellKind::Number;
    value.number = negative && parsed != 0 ? -parsed : parsed; // no negative zero
    const bool decimals = !fraction.empty();
    value.style = percent      ? (decimals ? kPercentDecimals : kPercent)
                  : scientific ? kScientific
                  : thousands  ? (decimals ? kThousandsDecimals : kThousands)
                               : kGeneral;
    return true;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long DaysFromCivil(long year, long month, long day) {
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// m/d/yyyy in the en-US order, with a four-digit year from 1900 on: a two-digit year or
// another order is left as text, since which date it meant is a guess.
bool ReadDate(std::string_view s, FieldValue& value) {
    long parts[3] = {};
    std::size_t i = 0;
    for (int k = 0; k < 3; ++k) {
        std::size_t start = i;
        for (; i < s.size() && IsDigit(s[i]); ++i)
            parts[k] = std::min(parts[k] * 10 + (s[i] - '0'), 100000L);
        std::size_t length = i - start;
        if (k < 2 ? length == 0 || length > 2 || i == s.size() || s[i++] != '/' : length != 4)
            return false;
    }
    if (i != s.size())
        return false;
    const long month = parts[0], day = parts[1], year = parts[2];
    if (month < 1 || month > 12 || day < 1 || year < 1900)
        return false;
    static const long kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // The 1900 date system counts a 29 February 1900 that never was.
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 || year == 1900;
    if (day > kDays[month - 1] + (month == 2 && leap))
        return false;
    value.kind = CellKind::Number;
    value.style = kShortDate;
    if (year == 1900 && month <= 2)
        value.number = (month == 1 ? 0 : 31) + day;
    else
        value.number =
            static_cast<double>(DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30));
    return true;
}

} // namespace

std::vector<std::string> FieldFormatCodes() {
    return {"General", "0%", "0.00%", "#,##0", "#,##0.00", "0.00E+00", "m/d/yyyy"};
}

FieldValue ValueOfField(std::string_view field) {
    std::string_view s = TrimSpaces(field);
    FieldValue value;
    if (s.empty())
        return value;
    if (IsDigit(s[0]) || s[0] == '+' || s[0] == '-' || s[0] == '.') {
        if (!ReadNumber(s, value))
            ReadDate(s, value);
    } else if (EqualsIgnoringCase(s, "TRUE") || EqualsIgnoringCase(s, "FALSE")) {
        value.kind = CellKind::Boolean;
        value.number = s.size() == 4;
    }
    return value;
}

} // namespace gq::text
