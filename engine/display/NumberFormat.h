#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace gq {

// A compiled number format code ("#,##0.00", "yyyy-mm-dd", "[h]:mm", "0.0%;[Red]-0.0%", ...),
// giving the text a spreadsheet shows for a value. Compile once, format many times.
class NumberFormat {
public:
    explicit NumberFormat(std::string_view code); // never throws: a malformed code acts as General
    ~NumberFormat();
    NumberFormat(NumberFormat&&) noexcept;
    NumberFormat& operator=(NumberFormat&&) noexcept;

    std::string formatNumber(double value, bool date1904) const;
    // A string cell shown through the format's text section ("@"); the text itself when none.
    std::string formatText(std::string_view text) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The code of a built-in format number (0 = "General", 14 = the short date, ...); empty when the
// number has no built-in code.
std::string BuiltInFormatCode(int id);

} // namespace gq
