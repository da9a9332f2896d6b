#pragma once

#include <bitset>
#include <memory>
#include <string>
#include <string_view>

namespace gq {

// What a format's text can be made of, known before any text is made: a search rules out a cell
// whose text could never hold what its pattern needs.
struct TextBounds {
    std::bitset<256> bytes; // every byte the text may hold (a superset)
    bool mayBeEmpty = false;
};

// A compiled number format code ("#,##0.00", "yyyy-mm-dd", "[h]:mm", "0.0%;[Red]-0.0%", ...),
// giving the text a spreadsheet shows for a value. Compile once, format many times.
class NumberFormat {
public:
    explicit NumberFormat(std::string_view code); // never throws: a malformed code acts as General
    ~NumberFormat();
    NumberFormat(NumberFormat&&) noexcept;
    NumberFormat& operator=(NumberFormat&&) noexcept;

    std::string formatNumber(double value, bool date1904) const;
    // The same text in place of `out`'s, in the room it has.
    void formatNumberInto(double value, bool date1904, std::string& out) const;
    // The room formatQuicklyTo takes: its text and bytes past it that it may write over.
    static constexpr std::size_t kQuickRoom = 192;
    // The same text written at `out` (kQuickRoom bytes) for the values the format writes without
    // a string of its own: every value of General, most of a format like "#,##0.00" or "0.0%",
    // and every date and time (that shows a day) of one whose fields are all two digits and a
    // four-digit year. Returns the text's end; nullptr for any other value or format, having
    // written nothing that counts.
    char* formatQuicklyTo(double value, bool date1904, char* out) const;
    // Whether formatQuicklyTo writes the text of any value: false for fractions, scientific
    // notation, names of months and the like.
    bool writesQuickly() const;
    // The bounds of formatNumber's text for every finite value, in either date system.
    TextBounds numberTextBounds() const;
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
