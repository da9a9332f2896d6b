#include "NumberFormat.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

// cases.tsv: value (17 significant digits, or "text:..." for a string cell), date1904 (0/1),
// format code (or "builtin:N"), the text a spreadsheet program showed. Made by
// tests/data/numfmt/make-cases.
struct TableCase {
    std::string value;
    bool date1904 = false;
    std::string format;
    std::string expected;
    int line = 0;
};

std::vector<TableCase> LoadTable() {
    std::string data = gqtest::ReadFile(GQ_TEST_DATA_DIR "/numfmt/cases.tsv");
    std::vector<TableCase> cases;
    std::size_t start = 0;
    int line = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        std::string row = data.substr(start, end - start);
        start = end + 1;
        ++line;
        std::vector<std::string> fields;
        for (std::size_t from = 0;;) {
            std::size_t tab = row.find('\t', from);
            fields.push_back(row.substr(from, tab == std::string::npos ? tab : tab - from));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
        if (fields.size() != 4) {
            ADD_FAILURE() << "cases.tsv line " << line << " has " << fields.size() << " fields";
            continue;
        }
        cases.push_back({fields[0], fields[1] == "1", fields[2], fields[3], line});
    }
    return cases;
}

std::string Shown(const std::string& value, bool date1904, const std::string& format) {
    std::string code = format;
    if (format.rfind("builtin:", 0) == 0)
        code = gq::BuiltInFormatCode(std::stoi(format.substr(8)));
    gq::NumberFormat compiled(code);
    if (value.rfind("text:", 0) == 0)
        return compiled.formatText(value.substr(5));
    double number = 0;
    std::from_chars(value.data(), value.data() + value.size(), number);
    return compiled.formatNumber(number, date1904);
}

struct Override {
    const char* value;
    bool date1904;
    const char* format;
    const char* text; // what the format code establishes, where the table's program differs
};

// Where the exporting program's text differs from what the format code establishes, the
// established text wins.
const Override kOverrides[] = {
    // General in a standard-width column: 11 characters at most; the export shows up to 15 digits.
    {"123456789012", false, "General", "1.23457E+11"},
    {"99999999999.699997", false, "General", "1E+11"},
    {"1000000000000000", false, "General", "1E+15"},
    {"100000000000", false, "General", "1E+11"},
    {"0.33333333333333331", false, "General", "0.333333333"},
    {"0.66666666666666663", false, "General", "0.666666667"},
    {"-0.33333333333333331", false, "General", "-0.333333333"},
    {"123.456789012345", false, "General", "123.456789"},
    {"1234567.891234", false, "General", "1234567.891"},
    {"3.14159265358979", false, "General", "3.141592654"},
    {"0.00012345678000000001", false, "General", "0.000123457"},
    // General: below 1E-4 it turns scientific rather than spell out leading zeros.
    {"1.0000000000000001e-05", false, "General", "1E-05"},
    {"1.234e-05", false, "General", "1.234E-05"},
    {"1.1e-05", false, "General", "1.1E-05"},
    {"1.2345678899999999e-07", false, "General", "1.23457E-07"},
    // General: a two-digit exponent, not the export's three digits.
    {"1e+21", false, "General", "1E+21"},
    // The decimal point stays even when no decimal digit is shown ("1." for 0.#).
    {"0", false, "#.##", "."},
    {"1", false, "#.##", "1."},
    {"-1", false, "#.##", "-1."},
    {"0", false, "0.#", "0."},
    {"1", false, "0.#", "1."},
    {"-1", false, "0.#", "-1."},
    {"0.0050000000000000001", false, "0.#", "0."},
    // A negative value that rounds to zero keeps its minus sign ("-0.00").
    {"-0.0040000000000000001", false, "0", "-0"},
    {"-0.40000000000000002", false, "0", "-0"},
    {"-0.0040000000000000001", false, "0.00", "-0.00"},
    {"-0.0040000000000000001", false, "#,##0.00", "-0.00"},
    // A section drops the minus sign only when no positive number can reach it: the second of
    // two sections takes what a conditional first leaves, here positive numbers too; the third
    // (else) section keeps the sign as well.
    {"-500", false, "[>=1000]#,##0.0,\"K\";0", "-500"},
    {"-50", false, "[>=1000]#,##0.0,\"K\";0", "-50"},
    {"-1", false, "[>=1000]#,##0.0,\"K\";0", "-1"},
    {"-500", false, "[=1]\"one\";0", "-500"},
    {"-50", false, "[=1]\"one\";0", "-50"},
    {"-1", false, "[=1]\"one\";0", "-1"},
    {"-500", false, "[>=10]0;0.00", "-500.00"},
    {"-50", false, "[>=10]0;0.00", "-50.00"},
    {"-1", false, "[>=10]0;0.00", "-1.00"},
    {"-5", false, "[>=10][Red]0;[Blue]0", "-5"},
    {"-50", false, "[>100]\"big\";[<-100]\"very neg\";0.0", "-50.0"},
    {"-1", false, "[>100]\"big\";[<-100]\"very neg\";0.0", "-1.0"},
    {"-5000", false, "[>=1000000]0.0,,\"M\";[>=1000]0.0,\"K\";0", "-5000"},
    // A second section with a condition other than < 0 keeps the sign: the documented "-(5)".
    {"-5", false, "[>100]General;[<100](General);General", "-(5)"},
    // Without its own condition the first section claims positive numbers: the documented "7.00".
    {"7", false, "[Red]0.00;[>5][Blue]0.00", "7.00"},
    // Fractions take the last continued-fraction convergent that fits the denominator's digits,
    // not the closest fraction the export finds.
    {"3.1415926500000002", false, "# ?\?/?\?", "3  1/7 "},
    {"3.1415899999999999", false, "builtin:13", "3  1/7 "},
    {"3.1415926500000002", false, "?\?/?\?", "22/7 "},
    {"0.001", false, "# ?\?\?/?\?\?", "0        "},
    // A whole number blanks the whole fraction, a fixed denominator's digits too.
    {"0", false, "# ?/8", "0    "},
    {"7", false, "# ?/8", "7    "},
    {"0.001", false, "# ?/8", "0    "},
    {"100.999", false, "# ?/8", "101    "},
    {"0.98999999999999999", false, "# ?/8", "1    "},
    {"0", false, "# ?/4", "0    "},
    {"7", false, "# ?/4", "7    "},
    {"0.001", false, "# ?/4", "0    "},
    {"100.999", false, "# ?/4", "101    "},
    {"0.98999999999999999", false, "# ?/4", "1    "},
    {"0", false, "# ?\?/16", "0      "},
    {"7", false, "# ?\?/16", "7      "},
    {"0.001", false, "# ?\?/16", "0      "},
    {"100.999", false, "# ?\?/16", "101      "},
    {"0.98999999999999999", false, "# ?\?/16", "1      "},
    // 1900 system: serial 1 = 1 Jan 1900, 60 = the phantom 29 Feb; the export counts from 1899.
    {"0", false, "m/d/yyyy", "1/0/1900"},
    {"1", false, "m/d/yyyy", "1/1/1900"},
    {"59", false, "m/d/yyyy", "2/28/1900"},
    {"60", false, "m/d/yyyy", "2/29/1900"},
    {"0", false, "yyyy-mm-dd", "1900-01-00"},
    {"1", false, "yyyy-mm-dd", "1900-01-01"},
    {"59", false, "yyyy-mm-dd", "1900-02-28"},
    {"60", false, "yyyy-mm-dd", "1900-02-29"},
    {"0", false, "d-mmm-yy", "0-Jan-00"},
    {"1", false, "d-mmm-yy", "1-Jan-00"},
    {"59", false, "d-mmm-yy", "28-Feb-00"},
    {"60", false, "d-mmm-yy", "29-Feb-00"},
    {"0", false, "mmmm d, yyyy", "January 0, 1900"},
    {"1", false, "mmmm d, yyyy", "January 1, 1900"},
    {"59", false, "mmmm d, yyyy", "February 28, 1900"},
    {"60", false, "mmmm d, yyyy", "February 29, 1900"},
    {"1", false, "builtin:14", "1/1/1900"},
    // y is the two-digit year and yyy the four-digit one; the export shows them as literals.
    {"36526.25", false, "y", "00"},
    {"45000.75", false, "y", "23"},
    {"36526.25", false, "yyy", "2000"},
    {"45000.75", false, "yyy", "2023"},
    // A date or time before the 1900 system's first day or past 31 December 9999 has no text:
    // the cell fills with '#', eight of them in a standard-width column.
    {"-1", false, "m/d/yyyy", "########"},
    {"2958466", false, "m/d/yyyy", "########"},
    {"10000000", false, "m/d/yyyy", "########"},
    {"-1", false, "yyyy-mm-dd hh:mm", "########"},
    {"2958466", false, "yyyy-mm-dd hh:mm", "########"},
    {"10000000", false, "yyyy-mm-dd hh:mm", "########"},
    {"-0.5", false, "h:mm", "########"},
    {"-1.25", false, "h:mm", "########"},
    {"-0.5", false, "[h]:mm:ss", "########"},
    {"-1.25", false, "[h]:mm:ss", "########"},
    // Times round to the finest unit shown before the fields are taken; the export truncates.
    {"0.99999998999999995", false, "h:mm", "0:00"},
    {"45000.999999", false, "h:mm", "0:00"},
    {"0.52083333330000003", false, "h:mm", "12:30"},
    {"0.99999998999999995", false, "hh:mm:ss", "00:00:00"},
    {"45000.999999", false, "hh:mm:ss", "00:00:00"},
    {"0.52083333330000003", false, "hh:mm:ss", "12:30:00"},
    {"0.50000578703704002", false, "hh:mm:ss", "12:00:01"},
    {"0.123456789", false, "hh:mm:ss", "02:57:47"},
    {"0.99999998999999995", false, "mm:ss.0", "00:00.0"},
    {"0.52083333330000003", false, "mm:ss.0", "30:00.0"},
    {"0.99999998999999995", false, "h:mm:ss.00", "0:00:00.00"},
    {"0.52083333330000003", false, "h:mm:ss.00", "12:30:00.00"},
    {"0.52083333330000003", false, "ss.000", "00.000"},
    // The morning and afternoon marks keep the case the code writes them in.
    {"0.25", false, "h:mm:ss A/P", "6:00:00 A"},
    {"0.75", false, "h:mm:ss A/P", "6:00:00 P"},
    {"0.25", false, "hh:mm am/pm", "06:00 am"},
    {"0.75", false, "hh:mm am/pm", "06:00 pm"},
    // [$-F400] is the en-US system long time, h:mm:ss AM/PM with no leading zero.
    {"0.75", false, "[$-F400]h:mm:ss AM/PM", "6:00:00 PM"},
};

TEST(NumberFormatTable, ShowsWhatTheSpreadsheetShows) {
    std::vector<TableCase> cases = LoadTable();
    ASSERT_GE(cases.size(), 300u);
    std::map<std::tuple<std::string, bool, std::string>, std::string> overrides;
    for (const Override& o : kOverrides)
        overrides[{o.value, o.date1904, o.format}] = o.text;
    std::set<std::tuple<std::string, bool, std::string>> used;
    int failures = 0;
    for (const TableCase& c : cases) {
        std::string expected = c.expected;
        auto key = std::make_tuple(c.value, c.date1904, c.format);
        if (auto it = overrides.find(key); it != overrides.end()) {
            EXPECT_NE(it->second, c.expected)
                << "override no longer needed: " << c.value << " [" << c.format << "]";
            expected = it->second;
            used.insert(key);
        }
        std::string got = Shown(c.value, c.date1904, c.format);
        if (got != expected) {
            ++failures;
            ADD_FAILURE() << "cases.tsv line " << c.line << ": value " << c.value
                          << (c.date1904 ? " (1904 system)" : "") << ", format [" << c.format
                          << "]: expected [" << expected << "], got [" << got << "]";
        }
    }
    EXPECT_EQ(failures, 0) << "of " << cases.size() << " cases";
    for (const Override& o : kOverrides)
        EXPECT_TRUE(used.count({o.value, o.date1904, o.format}))
            << "override matches no case: " << o.value << " [" << o.format << "]";
}

std::string Format(const char* code, double value, bool date1904 = false) {
    return gq::NumberFormat(code).formatNumber(value, date1904);
}

TEST(NumberFormat, GeneralFitsElevenCharacters) {
    const std::pair<double, const char*> cases[] = {
        {99999999999, "99999999999"},
        {-99999999999, "-99999999999"},
        {99999999999.4, "99999999999"},
        {99999999999.5, "1E+11"},
        {123456.7890123, "123456.789"},
        {0.0001, "0.0001"},
        {0.00009, "9E-05"},
        {1e100, "1E+100"},
        {1.23456789e100, "1.2346E+100"},
        {-1.23456789e-100, "-1.2346E-100"},
        {9.9999999e99, "1E+100"},
        {1.5, "1.5"},
        {0.1 + 0.2, "0.3"},
        {-0.0, "0"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(Format("General", value), text) << value;
    EXPECT_EQ(Format("General", std::nan("")), "#NUM!");
    EXPECT_EQ(Format("0.00", HUGE_VAL), "#NUM!");
}

TEST(NumberFormat, FifteenSignificantDigitsAreTheExactValueRounded) {
    // A value shows through its exact binary value rounded to 15 digits (printf's rounding);
    // values whose shortest form is longer, ends in a 5 at the 16th digit or is subnormal among
    // them.
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<double> values = {1000000000000005,
                                  0.1 + 0.2,
                                  2.675,
                                  1e-300,
                                  4.9406564584124654e-324,
                                  2.2250738585072014e-308,
                                  1.7976931348623157e308,
                                  123456789012345.6};
    for (int i = 0; i < 20000; ++i) {
        double bits;
        std::uint64_t word = random() & 0x7FFFFFFFFFFFFFFFull;
        std::memcpy(&bits, &word, sizeof bits);
        if (std::isfinite(bits) && bits != 0)
            values.push_back(bits);
        values.push_back(static_cast<double>(random() % 100000000) / 100);
        values.push_back(unit(random) * std::pow(10.0, static_cast<int>(random() % 40) - 20));
    }
    for (double value : values) {
        char expected[40];
        std::snprintf(expected, sizeof expected, "%.14E", value);
        ASSERT_EQ(Format("0.00000000000000E+00", value), expected) << value;
    }
}

// What a number format of the usual shape shows for a magnitude: its 15 significant digits (as
// printf rounds them), shifted `shift` places, rounded half up at `decimals` places, grouped by
// thousands when `grouping`.
std::string UsualShape(double magnitude, int decimals, int shift, bool grouping, int zeros) {
    char scientific[40];
    std::snprintf(scientific, sizeof scientific, "%.14e", magnitude);
    std::string digits = std::string(1, scientific[0]) + std::string(scientific + 2, 14);
    int point = std::atoi(scientific + 17) + 1 + shift; // digits before the point
    if (point < 0) {
        digits.insert(0, static_cast<std::size_t>(-point), '0');
        point = 0;
    }
    digits.append(static_cast<std::size_t>(std::max(0, point + decimals + 1)), '0');
    const std::size_t keep = static_cast<std::size_t>(point + decimals);
    std::string kept = "0" + digits.substr(0, keep); // room for a carry
    if (digits[keep] >= '5') {
        std::size_t i = kept.size() - 1;
        for (; kept[i] == '9'; --i)
            kept[i] = '0';
        ++kept[i];
    }
    std::string integer = kept.substr(0, kept.size() - decimals);
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
    if (integer.size() < static_cast<std::size_t>(zeros))
        integer.insert(0, zeros - integer.size(), '0');
    for (int at = static_cast<int>(integer.size()) - 3; grouping && at > 0; at -= 3)
        integer.insert(static_cast<std::size_t>(at), ",");
    return decimals ? integer + "." + kept.substr(kept.size() - decimals) : integer;
}

TEST(NumberFormat, TheUsualShapesShowFifteenDigitsRoundedHalfUp) {
    struct Shape {
        const char* code;
        int decimals, shift;
        bool grouping;
        int zeros;
        const char* suffix;
        const char* prefix = "";
    };
    const Shape shapes[] = {
        {"0.00", 2, 0, false, 1, ""},
        {"#,##0.00", 2, 0, true, 1, ""},
        {"0%", 0, 2, false, 1, "%"},
        {"0.00%", 2, 2, false, 1, "%"},
        {"#,##0", 0, 0, true, 1, ""},
        {"#.000000", 6, 0, false, 0, ""},
        {"0.0,,\" M\"", 1, -6, false, 1, " M"},
        {"000.000000000000000000", 18, 0, false, 3, ""},
        {"\"$\"#,##0.00\" due\"", 2, 0, true, 1, " due", "$"},
        {"#,#00,000.0", 1, 0, true, 5, ""},
        {"[$EUR] 0.000", 3, 0, false, 1, "", "EUR "},
    };
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<double> values = {0,     0.5,        2.675, 1.005,   0.125,
                                  9.995, 999999.995, 1e-7,  0.00049, 123456789012345.6,
                                  1e15,  4.5e-8};
    // Each count of digits shown, and the step from one count to the next: a value is written
    // from a word of eight digits when it shows at most eight, the longer way past that.
    for (double power = 1e-6; power <= 1e13; power *= 10)
        for (double near : {power, power - power / 1e7, 9.5 * power / 10, 0.999 * power})
            values.push_back(near);
    for (int i = 0; i < 20000; ++i) {
        values.push_back(static_cast<double>(random() % 100000000) / 100);
        values.push_back(static_cast<double>(random() % 100000) / 100000);
        values.push_back(unit(random) * std::pow(10.0, static_cast<int>(random() % 36) - 18));
        // Halfway between two shown values, a step either side, and short of halfway by less
        // than half the 15th digit, with up to 13 digits shown: the 15-digit rounding decides.
        const double scale = std::pow(10.0, static_cast<int>(random() % 7));
        const double half = (static_cast<double>(random() % 100000000000) + 0.5) / scale;
        for (double near : {half, std::nextafter(half, 0.0), std::nextafter(half, 1e300)})
            values.push_back(near);
        values.push_back((static_cast<double>(100000000000 + random() % 990000000000) + 0.4955) /
                         scale);
    }
    for (const Shape& shape : shapes)
        for (double value : values)
            ASSERT_EQ(Format(shape.code, value), shape.prefix +
                                                     UsualShape(value, shape.decimals, shape.shift,
                                                                shape.grouping, shape.zeros) +
                                                     shape.suffix)
                << shape.code << " " << value;
}

TEST(NumberFormat, BuiltInIds) {
    EXPECT_EQ(gq::BuiltInFormatCode(0), "General");
    EXPECT_EQ(gq::BuiltInFormatCode(14), "m/d/yyyy");
    EXPECT_EQ(gq::BuiltInFormatCode(22), "m/d/yyyy h:mm");
    for (int id : {-1, 23, 26, 63, 66, 82, 163, 164, 1000})
        EXPECT_EQ(gq::BuiltInFormatCode(id), "") << id;
    // Every known id compiles to a real format (none falls back to General for 1234.5).
    for (int id = 1; id <= 81; ++id) {
        if ((id >= 23 && id <= 26) || (id >= 63 && id <= 66))
            continue;
        std::string code = gq::BuiltInFormatCode(id);
        ASSERT_FALSE(code.empty()) << id;
        if (id != 49) {
            EXPECT_NE(gq::NumberFormat(code).formatNumber(1234.5, false), "1234.5") << id;
        }
    }
    EXPECT_EQ(gq::NumberFormat(gq::BuiltInFormatCode(8)).formatNumber(-1234.5, false),
              "($1,234.50)");
    EXPECT_EQ(gq::NumberFormat(gq::BuiltInFormatCode(44)).formatNumber(0, false), " $-   ");
}

TEST(NumberFormat, EastAsianAndThaiBuiltInIdsShowAsEnUs) {
    for (int id = 27; id <= 36; ++id)
        EXPECT_EQ(gq::BuiltInFormatCode(id), gq::BuiltInFormatCode(14)) << id;
    for (int id = 50; id <= 58; ++id)
        EXPECT_EQ(gq::BuiltInFormatCode(id), gq::BuiltInFormatCode(14)) << id;
    EXPECT_EQ(gq::BuiltInFormatCode(81), gq::BuiltInFormatCode(14));
    for (int id = 59; id <= 62; ++id)
        EXPECT_EQ(gq::BuiltInFormatCode(id), gq::BuiltInFormatCode(id - 58)) << id;
    const int shownAs[] = {9, 10, 12, 13, 14, 15, 16, 17, 20, 21, 22, 45, 46, 47};
    for (int id = 67; id <= 80; ++id)
        EXPECT_EQ(gq::BuiltInFormatCode(id), gq::BuiltInFormatCode(shownAs[id - 67])) << id;
    const std::tuple<int, double, const char*> shown[] = {
        {30, 44644.94, "3/24/2022"}, {57, 44644.94, "3/24/2022"}, {61, 1234.5, "1,235"},
        {69, 1.75, "1 3/4"},         {76, 0.75, "18:00:00"},      {79, 1.5, "36:00:00"},
    };
    for (const auto& [id, value, text] : shown)
        EXPECT_EQ(Format(gq::BuiltInFormatCode(id).c_str(), value), text) << id;
}

TEST(NumberFormat, MalformedCodesActAsGeneral) {
    const char* codes[] = {
        "\"open quote 0.00", "[Red 0.00", "0;0;0;@;0", "[<>]0", "[<abc]0.00", "[>1][<2]0", "",
    };
    for (const char* code : codes) {
        for (double value : {1234.5, -0.5, 1.0 / 3, 0.0})
            EXPECT_EQ(Format(code, value), Format("General", value)) << code;
        EXPECT_EQ(gq::NumberFormat(code).formatText("abc"), "abc") << code;
    }
    std::string tooLong(5000, '0');
    EXPECT_EQ(Format(tooLong.c_str(), 12.5), "12.5");
}

TEST(NumberFormat, HostileCodesStayBounded) {
    // Huge placeholder counts, scaling and denominators neither hang nor blow up.
    std::string manyDecimals = "0." + std::string(1000, '0');
    EXPECT_EQ(Format(manyDecimals.c_str(), 1.5).size(), 32u); // 30 decimals at most
    std::string manyPercents = "0" + std::string(100, '%');
    EXPECT_LT(Format(manyPercents.c_str(), 1e300).size(), 1000u);
    std::string manyCommas = "0" + std::string(200, ',');
    EXPECT_EQ(Format(manyCommas.c_str(), 1e300), "0");
    std::string wideFraction = "# " + std::string(40, '?') + "/" + std::string(40, '?');
    EXPECT_FALSE(Format(wideFraction.c_str(), 3.14159265358979).empty());
    EXPECT_EQ(Format("m/d/yyyy", 1e300), "########");
    EXPECT_EQ(Format("[h]:mm", -1e12, true), "########");
    EXPECT_EQ(Format("# ?/?", 1e300).substr(0, 4), "1000");
}

TEST(NumberFormat, TextSection) {
    EXPECT_EQ(gq::NumberFormat("0;-0;0;\"<\"@\">\"").formatText("abc"), "<abc>");
    EXPECT_EQ(gq::NumberFormat("@ @").formatText("ab"), "ab ab");
    EXPECT_EQ(gq::NumberFormat("0.00;@\"!\"").formatText("ab"), "ab!");
    EXPECT_EQ(gq::NumberFormat("0.00").formatText("ab"), "ab");
    EXPECT_EQ(gq::NumberFormat("General").formatText("ab"), "ab");
    // Date letters and placeholders are plain text in a text section.
    EXPECT_EQ(gq::NumberFormat("0;0;0;dd 0 @").formatText("x"), "dd 0 x");
    // A number never shows through the text section.
    EXPECT_EQ(Format("0.00;@\"!\"", 5), "5.00");
    EXPECT_EQ(Format("\"x\"@", -5), "-5");
}

TEST(NumberFormat, DateSystems) {
    EXPECT_EQ(Format("yyyy-mm-dd", 0, true), "1904-01-01");
    EXPECT_EQ(Format("yyyy-mm-dd", 43538, true), Format("yyyy-mm-dd", 43538 + 1462, false));
    EXPECT_EQ(Format("dddd", 60), "Wednesday"); // the phantom day has a weekday too
    EXPECT_EQ(Format("dddd", 61), "Thursday");
    EXPECT_EQ(Format("yyyy-mm-dd", 2958465), "9999-12-31");
    EXPECT_EQ(Format("[h]:mm:ss", -1.5, true), "-36:00:00");
    // m is a month unless it follows an hour or precedes a second.
    EXPECT_EQ(Format("m", 45000.5), "3");
    EXPECT_EQ(Format("h m", 45000.5), "12 0");
    EXPECT_EQ(Format("m:ss", 45000.5 + 65.0 / 86400), "1:05");
    EXPECT_EQ(Format("mm/dd hh:mm", 45000.5 + 65.0 / 86400), "03/15 12:01");
}

// Every day the 1900 system shows, against a calendar counted on a day at a time from its start
// (with the phantom 29 February 1900), and its weekday, which steps on by one each day.
TEST(NumberFormat, EveryDayOfTheCalendarHasItsDateAndWeekday) {
    const gq::NumberFormat date("yyyy-mm-dd ddd");
    const gq::NumberFormat fixedWidth("yyyy-mm-dd"); // written over a fixed text: another path
    const char* weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    int year = 1900, month = 1, day = 0;
    for (int serial = 0; serial <= 2958465; ++serial) {
        if (serial > 0) {
            const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0 || year == 1900);
            const int length[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
            if (++day > length[month - 1]) {
                day = 1;
                if (++month > 12) {
                    month = 1;
                    ++year;
                }
            }
        }
        char expected[64];
        std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %s", year, month, day,
                      weekdays[(serial + 6) % 7]);
        ASSERT_EQ(date.formatNumber(serial, false), expected) << serial;
        ASSERT_EQ(fixedWidth.formatNumber(serial, false), std::string_view(expected, 10)) << serial;
    }
    EXPECT_EQ(year * 10000 + month * 100 + day, 99991231);
    const gq::NumberFormat time("hh:mm:ss"), dateAndTime("yy/mm/dd hh:mm");
    for (int second = 0; second < 86400; ++second) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02d:%02d:%02d", second / 3600, second / 60 % 60,
                      second % 60);
        ASSERT_EQ(time.formatNumber(1000 + second / 86400.0, false), expected) << second;
        ASSERT_EQ(dateAndTime.formatNumber(1000 + second / 86400.0, false),
                  "02/09/26 " + std::string(expected, 5))
            << second;
    }
}

struct Case {
    const char* code;
    double value;
    const char* text;
};

void ExpectShown(const std::vector<Case>& cases, bool date1904 = false) {
    for (const Case& c : cases)
        EXPECT_EQ(Format(c.code, c.value, date1904), c.text) << c.code << " on " << c.value;
}

TEST(NumberFormat, DatesOutsideTheCalendarFillTheCellWithHashes) {
    ExpectShown({
        {"m/d/yyyy", -1234, "########"},
        {"mmmmm", -100, "########"},
        {"dddd", -5, "########"},
        {"h:mm", -0.25, "########"},
        {"[h]:mm", -1.5, "########"},
        {"h:mm;h:mm", -0.25, "########"}, // a section for negative values does not help
        {"yyyy-mm-dd", 2958465.75, "9999-12-31"},
        {"yyyy-mm-dd", 2958466, "########"},
        {"[h]:mm", 2958466, "########"},
        {"0.00;h:mm", -1, "########"},
        {"h:mm;0.00", -1, "1.00"}, // a number section shows the value
    });
    // The 1904 system shows negative dates and times with a sign; its last day is 2957003.
    ExpectShown(
        {
            {"m/d/yyyy", -1, "-1/2/1904"},
            {"[h]:mm", -1.5, "-36:00"},
            {"yyyy-mm-dd", 2957003, "9999-12-31"},
            {"yyyy-mm-dd", 2957004, "########"},
        },
        true);
}

TEST(NumberFormat, ConditionsAndTheMinusSign) {
    ExpectShown({
        // A section no positive number can meet shows the magnitude.
        {"[<=-25]General;[>=25]General;General", -25, "25"},
        {"[<=-25]General;[>=25]General;General", -24, "-24"},
        {"[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General", -26, "26"},
        {"[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General", -25, "-25"},
        {"[<-10]0\" Wow\"", -20, "20 Wow"},
        {"[>-10]0\" Wow\"", -5, "-5 Wow"},
        {"[=-5]0;0", -5, "5"},
        {"[<=0]0;0", -5, "5"},
        // A second of two sections takes what a conditional first leaves.
        {"[>=-1]0;0", -2, "2"},
        {"[>=0]0;00", -1, "01"},
        {"[>=1]0;0", -2, "-2"},
        {"[>=1]0;00", -1, "-01"},
        {"[>0]0;00", -1, "01"},
        {"[=0]?;#,##0.00", -12.3, "-12.30"},
        // With three sections the second takes the negative numbers left.
        {"[>=5]0;00;000", -1, "01"},
        {"[>=5]0;00;000", 1, "001"},
        {"[>=-1]0;00;000", -1, "-1"},
        // Sections without conditions, as ever.
        {"0", -5, "-5"},
        {"0;(0)", -5, "(5)"},
        {"0;-0;0", -5, "-5"},
        {"0.00;[Red]0.00", -5, "5.00"},
        {"#,##0_);[Red](#,##0);\"-\"", -1234, "(1,234)"},
    });
}

TEST(NumberFormat, FractionsTakeTheLastConvergentThatFits) {
    ExpectShown({
        {"# ?/?", 0.7, " 2/3"},
        {"# ?\?/?\?", 1.03, "1  1/33"},
        {"# ?/?", 0.3, " 2/7"}, // the continued fraction's steps round as doubles do
        {"# ?/?", 1.3, "1 1/3"},
        {"# ?/?", 2.3, "2 2/7"},
        {"# ?/?", -12.34, "-12 1/3"},
        {"# ?\?/?\?", -1234.5678, "-1234 46/81"},
        {"# ?\?\?/?\?\?", -12345.67891, "-12345 573/844"},
        {"?\?/?\?", -1.2, "- 6/5 "},
        {"?\?/?\?", 12.3, "123/10"},
        {"?/?", 3.14159265, "22/7"},
        // A whole number shows spaces for the whole fraction, a fixed denominator included.
        {"# ?/2", -1.05, "-1    "},
        {"# ?/?", 7, "7    "},
        {"# ?\?/16", 1, "1      "},
        {"# ?\?/100", 1, "1       "},
        {"# ?/8", 2.25, "2 2/8"},
    });
}

TEST(NumberFormat, GeneralInTheTextSectionIsTheText) {
    const char* code = "[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General\\ ";
    EXPECT_EQ(gq::NumberFormat(code).formatText("foo"), "foo ");
    EXPECT_EQ(Format(code, 26), "26");
    EXPECT_EQ(gq::NumberFormat("0;0;0;\"<\"General\">\"").formatText("foo"), "<foo>");
}

// Codes beyond the table's: sections that show nothing or only literals, fills, non-ASCII
// literals, locale tags, conditions that leave numbers to General.
const char* const kMoreCodes[] = {
    "#",
    "#,###;-#,###;",
    "[Red]",
    "0;-0;;@",
    "\"yes\";\"no\";\"zero\"",
    "@;0",
    "0.00;@\"!\"",
    "[>=1]0;0",
    "[=1]\"one\"",
    "[>5]0;[<-5]0",
    "[<=-25]General;[>=25]General;General",
    "General \"x\" 0",
    "h AM/PM;[Red]\"late\"",
    "*\u00e9#,##0",
    "yyyy\"\u5e74\"m\"\u6708\"d\"\u65e5\"",
    "\"\u212a\"0",
    ("_-* #,##0.00\\ [$\u20ac-40C]_-;\\-* #,##0.00\\ [$\u20ac-40C]_-;_-* \"-\"??\\ "
     "[$\u20ac-40C]_-;_-@_-"),
    "mmmmm dddd a/p",
    "[h]:mm:ss.000",
    "[mm]:ss.00",
    "##0.0e-0",
    "0.00E+00;0.00E-00;\"nil\"",
    "# ?\?/?#",
    "?\\?/?",
    "0 \"a\\b\"",
    "\"open quote 0.00",
};

// A wide spread of values: every table value, integers, each decade from 1e-15 to 1e16, dates
// and times in and out of the calendar, and the edges.
std::vector<double> SpreadOfValues(const std::vector<TableCase>& cases) {
    std::vector<double> values = {0,    -0.0,  0.5,       1,     -1, 0.9999999999,
                                  -0.4, -1e-9, 0.0416666, 1.5e-5};
    values.insert(values.end(), {1e-300, 5e-324, 1e300, -1e300, 1.7e308, 1e15, 999999999999.5,
                                 12345678901234567.0});
    values.insert(values.end(), {2958465.99999, 2958466, 2957003.5, 60, 59.5});
    for (const TableCase& c : cases) {
        double number = 0;
        if (std::from_chars(c.value.data(), c.value.data() + c.value.size(), number).ec ==
            std::errc())
            values.push_back(number);
    }
    std::mt19937_64 random(13);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 60; ++i) {
        double sign = i % 2 ? -1 : 1;
        values.push_back(static_cast<double>(random() % 2000001) - 1000000);
        values.push_back(sign * (1 + 9 * unit(random)) * std::pow(10.0, i % 32 - 15));
        values.push_back(-100 + unit(random) * 3000000);
        values.push_back(sign * unit(random) * 2);
    }
    return values;
}

// The table's codes, the built-in ones and kMoreCodes.
std::set<std::string> EveryCode(const std::vector<TableCase>& cases) {
    std::set<std::string> codes(std::begin(kMoreCodes), std::end(kMoreCodes));
    for (const TableCase& c : cases)
        codes.insert(c.format.rfind("builtin:", 0) == 0
                         ? gq::BuiltInFormatCode(std::stoi(c.format.substr(8)))
                         : c.format);
    for (int id = 0; id <= 81; ++id)
        codes.insert(gq::BuiltInFormatCode(id));
    return codes;
}

// A cell is ruled out of a search by these bounds without its text being made: no text any
// number shows may hold a byte outside them, nor be empty unless they allow it.
TEST(NumberFormatBounds, HoldEveryTextTheFormatShows) {
    std::vector<TableCase> cases = LoadTable();
    const std::set<std::string> codes = EveryCode(cases);
    const std::vector<double> values = SpreadOfValues(cases);
    int failures = 0;
    for (const std::string& code : codes) {
        gq::NumberFormat format(code);
        gq::TextBounds bounds = format.numberTextBounds();
        for (double value : values) {
            for (bool date1904 : {false, true}) {
                std::string text = format.formatNumber(value, date1904);
                bool within = !text.empty() || bounds.mayBeEmpty;
                for (unsigned char c : text)
                    within = within && bounds.bytes[c];
                if (!within && ++failures <= 20)
                    ADD_FAILURE() << "format [" << code << "] shows " << value
                                  << (date1904 ? " (1904)" : "") << " as [" << text
                                  << "], outside its bounds";
            }
        }
    }
    EXPECT_EQ(failures, 0) << "over " << codes.size() << " codes and " << values.size()
                           << " values";
}

// The text export writes a number's quick text in place of its formatted text: it must be the
// same, byte for byte, and stay within its room; and the common formats must take that path.
TEST(NumberFormat, TheQuickTextIsTheFormattedText) {
    std::vector<TableCase> cases = LoadTable();
    std::set<std::string> codes = EveryCode(cases);
    codes.insert({"\"0123456789abcdef\"#,##0.00\"0123456789abcdef\"", "\"0123456789abcdefg\"0",
                  "0\"0123456789abcdefg\"", "0.00;(0.00)", "yyyy-mm-dd hh:mm:ss", "#,#00,000.0",
                  "000.000000000000000000", "#.000000", "0.0,,\" M\""});
    std::vector<double> values = SpreadOfValues(cases);
    values.insert(values.end(), {123456789012345.6, 99999999999999.99, 1e19, 0.125, 2.675, 1.005});
    constexpr std::size_t kRoom = gq::NumberFormat::kQuickRoom;
    int failures = 0;
    std::size_t quick = 0;
    for (const std::string& code : codes) {
        gq::NumberFormat format(code);
        for (double value : values) {
            for (bool date1904 : {false, true}) {
                char room[kRoom + 64];
                std::memset(room, '~', sizeof room);
                const char* end = format.formatQuicklyTo(value, date1904, room);
                const std::string text = end ? std::string(room, end - room) : "-";
                const bool past = std::string_view(room + kRoom, 64) != std::string(64, '~');
                const std::string shown = format.formatNumber(value, date1904);
                quick += end != nullptr;
                if ((past || (end && text != shown)) && ++failures <= 20)
                    ADD_FAILURE() << "format [" << code << "], " << value
                                  << (date1904 ? " (1904)" : "") << ": shows [" << shown
                                  << "], quickly [" << text << "]"
                                  << (past ? ", written past its room" : "");
            }
        }
    }
    EXPECT_EQ(failures, 0) << "of " << quick << " quick texts";
    auto quickly = [](const char* code, double value, bool date1904 = false) {
        char room[kRoom];
        return gq::NumberFormat(code).formatQuicklyTo(value, date1904, room) != nullptr;
    };
    for (const char* code : {"General", "#,##0.00", "0.00%", "0", "#", "\"$\"#,##0.00\" due\"",
                             "\"0123456789abcdef\"0", "yyyy-mm-dd", "hh:mm:ss", "dd.mm.yy hh:mm"}) {
        EXPECT_TRUE(quickly(code, 45000.25)) << code;
        EXPECT_TRUE(gq::NumberFormat(code).writesQuickly()) << code;
    }
    EXPECT_TRUE(quickly("0.00;(0.00)", -2));
    EXPECT_TRUE(quickly("yyyy-mm-dd", -1, true));
    for (const char* code :
         {"# ?/?", "0.00E+00", "d-mmm-yy", "h:mm AM/PM", "m/d", "hh:mm:ss.0", "[h]:mm",
          "\"0123456789abcdefg\"0", "0.0,,\" millions of them\"", "General\" kg\""}) {
        EXPECT_FALSE(quickly(code, 45000.25)) << code;
        EXPECT_FALSE(gq::NumberFormat(code).writesQuickly()) << code;
    }
    EXPECT_FALSE(quickly("yyyy-mm-dd", -1));
}

std::string BoundsOf(const char* code) {
    gq::TextBounds bounds = gq::NumberFormat(code).numberTextBounds();
    std::string bytes;
    for (int c = 0; c < 256; ++c)
        if (bounds.bytes[c])
            bytes += static_cast<char>(c);
    return bytes + (bounds.mayBeEmpty ? " or nothing" : "");
}

TEST(NumberFormatBounds, AreNoWiderThanTheFormatNeeds) {
    EXPECT_EQ(BoundsOf("#,##0.00"), ",-.0123456789");
    EXPECT_EQ(BoundsOf("0.00%"), "%-.0123456789");
    EXPECT_EQ(BoundsOf("yyyy-mm-dd"), "#-0123456789");
    EXPECT_EQ(BoundsOf("General"), "+-.0123456789E");
    EXPECT_EQ(BoundsOf("\"pos\";\"neg\""), "-egnops");
    // Names give their letters only where the code shows them.
    EXPECT_EQ(BoundsOf("mmmmm"), "#-ADFJMNOS");
    EXPECT_EQ(BoundsOf("mmm"), "#-ADFJMNOSabceglnoprtuvy");
    EXPECT_EQ(BoundsOf("mmmm"), "#-ADFJMNOSabceghilmnoprstuvy");
    EXPECT_EQ(BoundsOf("ddd"), "#-FMSTWadehinortu");
    EXPECT_EQ(BoundsOf("h:mm a/p"), " #-0123456789:ap");
    // What can show nothing.
    EXPECT_EQ(BoundsOf("#"), "-0123456789 or nothing");
    EXPECT_EQ(BoundsOf(";;;"), "- or nothing");
    EXPECT_EQ(BoundsOf("0"), "-0123456789");
    // A number that no section takes shows as General.
    EXPECT_EQ(BoundsOf("[=1]\"one\""), "+-.0123456789Eeno");
    EXPECT_EQ(BoundsOf("@"), "+-.0123456789E");
}

TEST(NumberFormat, IsMovableAndReusable) {
    gq::NumberFormat a("#,##0.00");
    gq::NumberFormat b(std::move(a));
    EXPECT_EQ(b.formatNumber(1234.5, false), "1,234.50");
    EXPECT_EQ(b.formatNumber(-1234.5, false), "-1,234.50");
    a = gq::NumberFormat("0%");
    EXPECT_EQ(a.formatNumber(0.5, false), "50%");
}

} // namespace
