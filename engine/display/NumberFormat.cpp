#include "NumberFormat.h"

#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace gq {

namespace {

// Longer codes than any writer produces are treated as damaged rather than parsed.
constexpr std::size_t kMaxCodeLength = 4096;
// Placeholder counts beyond these add nothing a reader could see.
constexpr int kMaxFractionDigits = 30;
constexpr int kMaxDenominatorDigits = 7;
constexpr int kMaxSubsecondDigits = 3;
// The first serials past 31 December 9999, the last day a date or time can show.
constexpr double kPastLastDate1900 = 2958466;
constexpr double kPastLastDate1904 = kPastLastDate1900 - 1462;
// A date or time with no day to show (before the 1900 system's start, past the last day) fills
// its cell with '#', as many as the column holds, and the text export writes what the cell
// shows. The column's width is not known here: a standard-width column (8.43 characters) holds
// eight, the run the spreadsheet maker's own articles show for a negative date.
constexpr std::string_view kNoDateShown = "########";

// ---------------------------------------------------------------------------------------------
// Decimal digits of a value, the way a spreadsheet sees it: 15 significant digits, then rounded
// half away from zero on those decimal digits (so 2.675 shows as 2.68 at two decimals).

struct Decimal {
    char digit[20]; // significant digits, no trailing zeros; empty for zero
    int count = 0;
    int exp = 0; // weight of digit[0] is 10^exp

    bool zero() const { return count == 0; }
    int at(int weight) const {
        int i = exp - weight;
        return i >= 0 && i < count ? digit[i] - '0' : 0;
    }
    void trim() {
        while (count > 0 && digit[count - 1] == '0')
            --count;
    }
    // Keeps the digits of weight >= `weight`.
    void roundAt(int weight) {
        int keep = exp - weight + 1;
        if (keep >= count)
            return;
        if (keep < 0) {
            count = 0;
            return;
        }
        bool up = digit[keep] >= '5';
        count = keep;
        if (up) {
            int i = keep - 1;
            while (i >= 0 && digit[i] == '9')
                digit[i--] = '0';
            if (i >= 0) {
                ++digit[i];
            } else {
                digit[0] = '1';
                count = 1;
                exp = weight + keep; // one place above the highest digit that was kept
            }
        }
        trim();
    }
};

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The 15-digit rounding of a magnitude between 1E-7 and 1E15 found without a general
// conversion: m x 10^-k with m below 10^15 that reads back as the magnitude is that rounding,
// since it then lies within half a unit in the last place of it and a 15-digit step is wider
// than two such units. False when no such m is found (the value needs more digits).
bool FifteenDigitsQuickly(double magnitude, std::uint64_t& m, int& k) {
    if (!(magnitude >= 1e-7 && magnitude < 1e15))
        return false;
    // floor(log10(magnitude)), or one less: log10(2) ~ 78913 / 2^18.
    // The binary exponent read from the bits: every magnitude here is a normal double.
    const int binaryExponent =
        static_cast<int>(std::bit_cast<std::uint64_t>(magnitude) >> 52 & 0x7FF) - 1023;
    const int decimalExponent = (binaryExponent * 78913) >> 18;
    k = 14 - decimalExponent;
    double scaled = magnitude * kExactPowersOfTen[k];
    if (scaled >= 1e15)
        scaled = magnitude * kExactPowersOfTen[--k];
    // Rounded half up, as llround does for a positive value: above 1E13, adding a half is exact
    // or, where the sum reaches the next power of two, rounds to the same integer.
    m = static_cast<std::uint64_t>(scaled + 0.5);
    return m != 0 && static_cast<double>(m) / kExactPowersOfTen[k] == magnitude;
}

bool FifteenDigitsQuickly(double magnitude, Decimal& d) {
    std::uint64_t m;
    int k;
    if (!FifteenDigitsQuickly(magnitude, m, k))
        return false;
    auto end = std::to_chars(d.digit, d.digit + sizeof d.digit, m).ptr;
    d.count = static_cast<int>(end - d.digit);
    d.exp = d.count - 1 - k;
    d.trim();
    return true;
}

Decimal ToDecimal(double magnitude) {
    Decimal d;
    if (magnitude == 0 || FifteenDigitsQuickly(magnitude, d))
        return d;
    char buffer[40];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 14);
    const char* p = buffer;
    const char* end = result.ptr;
    while (p < end && *p != 'e') {
        if (*p >= '0' && *p <= '9' && d.count < 19)
            d.digit[d.count++] = *p;
        ++p;
    }
    if (p < end) {
        ++p;
        bool negative = *p == '-';
        if (*p == '+' || *p == '-')
            ++p;
        int e = 0;
        std::from_chars(p, end, e);
        d.exp = negative ? -e : e;
    }
    d.trim();
    return d;
}

double ToDouble(const Decimal& d) {
    if (d.zero())
        return 0;
    char buffer[48];
    std::memcpy(buffer, d.digit, d.count);
    int n = d.count;
    buffer[n++] = 'e';
    auto r = std::to_chars(buffer + n, buffer + sizeof buffer, d.exp - d.count + 1);
    double value = 0;
    std::from_chars(buffer, r.ptr, value);
    return value;
}

// Two decimal digits of every value below 100, to write a number two digits a step.
constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writes the decimal digits of `value` to end at `end`; returns where they begin (at `end` for 0).
char* DigitsEndingAt(char* end, std::uint64_t value) {
    for (; value >= 100; value /= 100) {
        end -= 2;
        std::memcpy(end, &kDigitPairs[value % 100 * 2], 2);
    }
    if (value >= 10) {
        end -= 2;
        std::memcpy(end, &kDigitPairs[value * 2], 2);
    } else if (value > 0) {
        *--end = static_cast<char>('0' + value);
    }
    return end;
}

template <typename Out> void AppendLongUnsigned(Out& out, std::uint64_t value, int width);

// `value` in decimal, after as many zeros as make it `width` digits. Inlined: a date's or a
// time's field takes the first two branches, where a call cost as much as its digits.
template <typename Out>
[[gnu::always_inline]] inline void AppendUnsigned(Out& out, std::uint64_t value, int width = 0) {
    if (value < 100 && width <= 2) {
        const char* pair = &kDigitPairs[value * 2];
        if (value >= 10 || width == 2)
            out.append(pair, 2);
        else
            out += pair[1];
        return;
    }
    if (value < 10000 && width == 4) { // a year
        out.append(&kDigitPairs[value / 100 * 2], 2);
        out.append(&kDigitPairs[value % 100 * 2], 2);
        return;
    }
    AppendLongUnsigned(out, value, width);
}

template <typename Out> void AppendLongUnsigned(Out& out, std::uint64_t value, int width) {
    char buffer[24];
    char* const end = buffer + sizeof buffer;
    char* at = DigitsEndingAt(end, value);
    if (at == end)
        *--at = '0';
    if (const int digits = static_cast<int>(end - at); width > digits)
        out.append(static_cast<std::size_t>(width - digits), '0');
    out.append(at, static_cast<std::size_t>(end - at));
}

// A result made piece by piece in a buffer of its own and added to `out` in one go at done():
// most are a few short pieces, which would each cost a call to the string.
class Pieces {
public:
    explicit Pieces(std::string& out) : out_(out) {}
    Pieces(const Pieces&) = delete;
    Pieces& operator=(const Pieces&) = delete;

    void append(const char* bytes, std::size_t count) {
        if (count > sizeof buffer_ - size_) {
            done();
            if (count > sizeof buffer_)
                return static_cast<void>(out_.append(bytes, count));
        }
        // The pieces are mostly a few bytes: a call to copy them would cost more.
        for (std::size_t i = 0; i < count; ++i)
            buffer_[size_ + i] = bytes[i];
        size_ += count;
    }
    void append(std::size_t count, char c) {
        for (; count > 0; --count)
            *this += c;
    }
    Pieces& operator+=(std::string_view piece) {
        append(piece.data(), piece.size());
        return *this;
    }
    Pieces& operator+=(char c) {
        if (size_ == sizeof buffer_)
            done();
        buffer_[size_++] = c;
        return *this;
    }
    void done() {
        out_.append(buffer_, size_);
        size_ = 0;
    }

private:
    std::string& out_;
    char buffer_[120];
    std::size_t size_ = 0;
};

// Every character AppendGeneral writes for a finite value.
constexpr std::string_view kGeneralCharacters = "0123456789.-E+";

// General as it appears in a standard-width column: at most 11 characters for the magnitude,
// fixed notation from 1E-4 up to 11 integer digits, scientific otherwise.
// Appends at a place with room enough, as to a string: a text of a known bound is written
// straight where it goes, without a check of the room at every byte.
struct Cursor {
    char* at;
    Cursor& operator+=(char c) {
        *at++ = c;
        return *this;
    }
    Cursor& operator+=(std::string_view piece) {
        append(piece.data(), piece.size());
        return *this;
    }
    void append(const char* bytes, std::size_t count) {
        std::memcpy(at, bytes, count);
        at += count;
    }
    void append(std::size_t count, char c) {
        std::memset(at, c, count);
        at += count;
    }
};

// Room for what WriteGeneral writes: at most 12 bytes ("-1.2346E+100", "-0.000123457").
constexpr std::size_t kMaxGeneralBytes = 16;

template <typename Out> void WriteGeneral(Out& out, double value) {
    if (!std::isfinite(value)) {
        out += "#NUM!";
        return;
    }
    if (value < 0)
        out += '-';
    Decimal d = ToDecimal(std::fabs(value));
    if (d.zero()) {
        out += '0';
        return;
    }
    if (d.exp >= -4 && d.exp <= 10) {
        Decimal fixed = d;
        fixed.roundAt(fixed.exp >= 0 ? -std::max(0, 9 - fixed.exp) : -9);
        if (fixed.exp <= 10) {
            if (fixed.zero()) {
                out += '0';
                return;
            }
            if (fixed.exp < 0) {
                out += '0';
            } else {
                for (int w = fixed.exp; w >= 0; --w)
                    out += static_cast<char>('0' + fixed.at(w));
            }
            int last = fixed.exp - fixed.count + 1; // weight of the last significant digit
            if (last < 0) {
                out += '.';
                for (int w = -1; w >= last; --w)
                    out += static_cast<char>('0' + fixed.at(w));
            }
            return;
        }
    }
    int expDigits = (d.exp >= 100 || d.exp <= -100) ? 3 : 2;
    d.roundAt(d.exp - (7 - expDigits));
    out += d.digit[0];
    if (d.count > 1) {
        out += '.';
        out.append(d.digit + 1, d.count - 1);
    }
    out += d.exp < 0 ? "E-" : "E+";
    AppendUnsigned(out, static_cast<std::uint64_t>(d.exp < 0 ? -d.exp : d.exp), 2);
}

void AppendGeneral(std::string& out, double value) {
    char text[kMaxGeneralBytes];
    Cursor cursor{text};
    WriteGeneral(cursor, value);
    out.append(text, static_cast<std::size_t>(cursor.at - text));
}

// ---------------------------------------------------------------------------------------------
// Compiled form.

enum class Op : std::uint8_t { None, Lt, Le, Gt, Ge, Eq, Ne };

struct Condition {
    Op op = Op::None;
    double operand = 0;

    bool present() const { return op != Op::None; }
    bool matches(double v) const {
        switch (op) {
        case Op::None:
            return false;
        case Op::Lt:
            return v < operand;
        case Op::Le:
            return v <= operand;
        case Op::Gt:
            return v > operand;
        case Op::Ge:
            return v >= operand;
        case Op::Eq:
            return v == operand;
        case Op::Ne:
            return v != operand;
        }
        return false;
    }
    // A section no positive number can meet ("[<0]", "[<=-25]", the usual second section)
    // brings its own sign or parentheses, so none is added; any other keeps the minus sign.
    bool negativeOnly() const {
        return ((op == Op::Lt || op == Op::Le) && operand <= 0) || (op == Op::Eq && operand < 0);
    }
    // The values a condition leaves to the next section.
    Condition complement() const {
        constexpr Op opposite[] = {Op::None, Op::Ge, Op::Gt, Op::Le, Op::Lt, Op::Ne, Op::Eq};
        return Condition{opposite[static_cast<int>(op)], operand};
    }
};

enum class Role : std::uint8_t {
    Literal,
    // numbers
    Int,
    Point,
    Frac,
    ExpMark,
    Exp,
    Whole,
    Num,
    Slash,
    Den,
    FixedDen,
    General,
    Text,
    // dates and times
    Year2,
    Year4,
    Month,
    MonthAbbr,
    MonthName,
    MonthLetter,
    Day,
    DayAbbr,
    DayName,
    Hour,
    Minute,
    Second,
    ElapsedHours,
    ElapsedMinutes,
    ElapsedSeconds,
    AmPm,
    Subsecond,
};

struct Item {
    Role role = Role::Literal;
    char ph = 0;             // '0', '#' or '?' for digit placeholders; 'E'/'e' for ExpMark
    std::uint8_t width = 0;  // padded width of a date field; digits of a subsecond field
    bool plus = false;       // ExpMark: always show the exponent's sign
    std::string text, other; // literal text; AmPm: the morning / afternoon marks
};

enum class Kind : std::uint8_t { Number, Fraction, Date, General, Text };

struct Section {
    Kind kind = Kind::Number;
    Condition cond;
    std::vector<Item> items;
    // numbers
    int intCount = 0, fracCount = 0, expCount = 0;
    int wholeCount = 0, numCount = 0, denCount = 0;
    long long fixedDen = 0;
    int shift = 0; // decimal exponent shift: +2 per percent sign, -3 per scaling comma
    bool grouping = false, scientific = false, hasPoint = false;
    // In a section of the usual shape (see PlainZeros), the integer placeholders that are '0',
    // the literals before and after the digits, and whether a point stands between; -1 in any
    // other.
    int plainZeros = -1;
    std::string plainBefore, plainAfter;
    bool plainPoint = false;
    // dates
    int subDigits = 0;
    bool twelveHour = false, needsDate = false;
    // A date or time whose every field is two or four digits ("yyyy-mm-dd", "hh:mm:ss"): its
    // text with zeros where the fields go, which a value writes over; fixedSize 0 for any other.
    std::array<char, 32> fixedText{};
    std::uint8_t fixedSize = 0;
    std::vector<std::pair<std::uint8_t, Role>> fixedFields; // where each field's digits begin
    bool fixedTime = false;                                 // whether a field is of the clock
    // Whether formatQuicklyTo writes the section's text: a date of fixed width, or the usual
    // shape with literals of at most 16 bytes on either side, kept here with room after them so
    // that they are copied in a piece of fixed size.
    bool quick = false;
    std::array<char, 16> quickBefore{}, quickAfter{};
};

// ---------------------------------------------------------------------------------------------
// Tokens of one section.

enum class T : std::uint8_t {
    Lit,
    Digit, // 1-9: literal, except in a fixed fraction denominator
    Ph,
    Point,
    Comma,
    Percent,
    Exp,
    Slash,
    At,
    General,
    Date,
    Elapsed,
    AmPm,
};

struct Tok {
    T type;
    char c = 0;
    int count = 0;
    std::string text, other;
};

int Utf8Length(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if ((lead >> 5) == 0x6)
        return 2;
    if ((lead >> 4) == 0xE)
        return 3;
    if ((lead >> 3) == 0x1E)
        return 4;
    return 1;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view word) {
    if (s.size() - at < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (Lower(s[at + i]) != word[i])
            return false;
    return true;
}

void AddLiteral(std::vector<Tok>& toks, std::string_view text) {
    if (text.empty())
        return;
    if (!toks.empty() && toks.back().type == T::Lit)
        toks.back().text.append(text);
    else
        toks.push_back(Tok{T::Lit, 0, 0, std::string(text), {}});
}

bool ParseCondition(std::string_view b, Condition& cond) {
    std::size_t i = 0;
    Op op;
    if (b.substr(0, 2) == "<=")
        op = Op::Le, i = 2;
    else if (b.substr(0, 2) == ">=")
        op = Op::Ge, i = 2;
    else if (b.substr(0, 2) == "<>")
        op = Op::Ne, i = 2;
    else if (b[0] == '<')
        op = Op::Lt, i = 1;
    else if (b[0] == '>')
        op = Op::Gt, i = 1;
    else
        op = Op::Eq, i = 1;
    while (i < b.size() && b[i] == ' ')
        ++i;
    std::size_t end = b.size();
    while (end > i && b[end - 1] == ' ')
        --end;
    double operand = 0;
    const char* first = b.data() + i;
    if (i < end && b[i] == '+')
        ++first;
    auto r = std::from_chars(first, b.data() + end, operand);
    if (r.ec != std::errc() || r.ptr != b.data() + end || !std::isfinite(operand))
        return false;
    cond.op = op;
    cond.operand = operand;
    return true;
}

enum class Special { None, LongDate, LongTime };

// Splits one section into tokens. False for what a spreadsheet would refuse to read.
bool Tokenize(std::string_view s, std::vector<Tok>& toks, Condition& cond, Special& special) {
    std::size_t i = 0, n = s.size();
    while (i < n) {
        char c = s[i];
        switch (c) {
        case '"': {
            std::size_t close = s.find('"', i + 1);
            if (close == std::string_view::npos)
                return false;
            AddLiteral(toks, s.substr(i + 1, close - i - 1));
            i = close + 1;
            break;
        }
        case '\\':
        case '_':
        case '*': {
            if (i + 1 >= n) {
                ++i; // a dangling escape stands for nothing
                break;
            }
            std::size_t len = std::min<std::size_t>(Utf8Length(s[i + 1]), n - i - 1);
            if (c == '\\')
                AddLiteral(toks, s.substr(i + 1, len));
            else if (c == '_')
                AddLiteral(toks, " "); // room for the character's width: one space
            // '*' repeats its character to fill the column; with no width to fill, nothing
            i += 1 + len;
            break;
        }
        case '[': {
            std::size_t close = s.find(']', i + 1);
            if (close == std::string_view::npos)
                return false;
            std::string_view b = s.substr(i + 1, close - i - 1);
            i = close + 1;
            if (b.empty())
                break;
            if (b[0] == '$') {
                std::size_t dash = b.find('-', 1);
                std::string_view symbol =
                    b.substr(1, dash == std::string_view::npos ? b.size() - 1 : dash - 1);
                AddLiteral(toks, symbol);
                if (dash != std::string_view::npos) {
                    std::string_view locale = b.substr(dash + 1);
                    if (StartsWithNoCase(locale, 0, "f800") && locale.size() == 4)
                        special = Special::LongDate;
                    else if (StartsWithNoCase(locale, 0, "f400") && locale.size() == 4)
                        special = Special::LongTime;
                }
                break;
            }
            if (b[0] == '<' || b[0] == '>' || b[0] == '=') {
                if (cond.present() || !ParseCondition(b, cond))
                    return false;
                break;
            }
            char first = Lower(b[0]);
            bool elapsed = first == 'h' || first == 'm' || first == 's';
            for (char ch : b)
                elapsed = elapsed && Lower(ch) == first;
            if (elapsed)
                toks.push_back(Tok{T::Elapsed, first, static_cast<int>(b.size()), {}, {}});
            // anything else in brackets (colours, [DBNum1], ...) changes no text
            break;
        }
        case '0':
        case '#':
        case '?':
            toks.push_back(Tok{T::Ph, c, 0, {}, {}});
            ++i;
            break;
        case '.':
            toks.push_back(Tok{T::Point, c, 0, {}, {}});
            ++i;
            break;
        case ',':
            toks.push_back(Tok{T::Comma, c, 0, {}, {}});
            ++i;
            break;
        case '%':
            toks.push_back(Tok{T::Percent, c, 0, {}, {}});
            ++i;
            break;
        case '/':
            toks.push_back(Tok{T::Slash, c, 0, {}, {}});
            ++i;
            break;
        case '@':
            toks.push_back(Tok{T::At, c, 0, {}, {}});
            ++i;
            break;
        default:
            if (c >= '1' && c <= '9') {
                toks.push_back(Tok{T::Digit, c, 0, {}, {}});
                ++i;
            } else if ((c == 'E' || c == 'e') && i + 1 < n &&
                       (s[i + 1] == '+' || s[i + 1] == '-')) {
                toks.push_back(Tok{T::Exp, c, s[i + 1] == '+' ? 1 : 0, {}, {}});
                i += 2;
            } else if (StartsWithNoCase(s, i, "general")) {
                toks.push_back(Tok{T::General, c, 0, {}, {}});
                i += 7;
            } else if (StartsWithNoCase(s, i, "am/pm")) {
                toks.push_back(Tok{T::AmPm, c, 0, std::string(s.substr(i, 2)),
                                   std::string(s.substr(i + 3, 2))});
                i += 5;
            } else if (StartsWithNoCase(s, i, "a/p")) {
                toks.push_back(Tok{T::AmPm, c, 0, std::string(1, s[i]), std::string(1, s[i + 2])});
                i += 3;
            } else if (char l = Lower(c);
                       l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 's') {
                std::size_t j = i;
                while (j < n && Lower(s[j]) == l)
                    ++j;
                toks.push_back(
                    Tok{T::Date, l, static_cast<int>(j - i), std::string(s.substr(i, j - i)), {}});
                i = j;
            } else {
                std::size_t len = std::min<std::size_t>(Utf8Length(c), n - i);
                AddLiteral(toks, s.substr(i, len));
                i += len;
            }
        }
    }
    return true;
}

void PushLiteral(Section& sec, std::string_view text) {
    if (text.empty())
        return;
    if (!sec.items.empty() && sec.items.back().role == Role::Literal)
        sec.items.back().text.append(text);
    else
        sec.items.push_back(Item{Role::Literal, 0, 0, false, std::string(text), {}});
}

void PushItem(Section& sec, Role role, char ph = 0, int width = 0) {
    sec.items.push_back(Item{role, ph, static_cast<std::uint8_t>(width), false, {}, {}});
}

// The literal text a token stands for where it has no special meaning.
std::string LiteralOf(const Tok& t) {
    switch (t.type) {
    case T::Lit:
        return t.text;
    case T::Exp:
        return std::string(1, t.c) + (t.count ? '+' : '-');
    case T::General:
        return "General";
    case T::AmPm:
    case T::Date:
    case T::Elapsed:
        return {};
    default:
        return std::string(1, t.c);
    }
}

// Fills in the fixed text of a date or time section whose fields all have a fixed width.
void PlanFixedDate(Section& sec) {
    if (sec.subDigits > 0 || sec.twelveHour)
        return;
    std::string text;
    std::vector<std::pair<std::uint8_t, Role>> fields;
    bool time = false;
    for (const Item& it : sec.items) {
        int width = 2;
        switch (it.role) {
        case Role::Literal:
            text += it.text;
            continue;
        case Role::Year4:
            width = 4;
            break;
        case Role::Year2:
            break;
        case Role::Hour:
        case Role::Minute:
        case Role::Second:
            time = true;
            [[fallthrough]];
        case Role::Month:
        case Role::Day:
            if (it.width != 2)
                return;
            break;
        default:
            return;
        }
        fields.emplace_back(static_cast<std::uint8_t>(text.size()), it.role);
        text.append(static_cast<std::size_t>(width), '0');
    }
    if (fields.empty() || text.size() > sec.fixedText.size())
        return;
    std::copy(text.begin(), text.end(), sec.fixedText.begin());
    sec.fixedSize = static_cast<std::uint8_t>(text.size());
    sec.fixedFields = std::move(fields);
    sec.fixedTime = time;
    sec.quick = true;
}

void BuildDate(const std::vector<Tok>& toks, Section& sec) {
    sec.kind = Kind::Date;
    for (std::size_t i = 0; i < toks.size(); ++i) {
        const Tok& t = toks[i];
        int width = std::min(t.count, 2);
        switch (t.type) {
        case T::Date:
            switch (t.c) {
            case 'y':
                PushItem(sec, t.count <= 2 ? Role::Year2 : Role::Year4);
                break;
            case 'm':
                PushItem(sec,
                         t.count >= 5   ? Role::MonthLetter
                         : t.count == 4 ? Role::MonthName
                         : t.count == 3 ? Role::MonthAbbr
                                        : Role::Month,
                         0, width);
                break;
            case 'd':
                PushItem(sec,
                         t.count >= 4   ? Role::DayName
                         : t.count == 3 ? Role::DayAbbr
                                        : Role::Day,
                         0, width);
                break;
            case 'h':
                PushItem(sec, Role::Hour, 0, width);
                break;
            default:
                PushItem(sec, Role::Second, 0, width);
                break;
            }
            break;
        case T::Elapsed:
            PushItem(sec,
                     t.c == 'h'   ? Role::ElapsedHours
                     : t.c == 'm' ? Role::ElapsedMinutes
                                  : Role::ElapsedSeconds,
                     0, std::min(t.count, 20));
            break;
        case T::AmPm:
            sec.items.push_back(Item{Role::AmPm, 0, 0, false, t.text, t.other});
            sec.twelveHour = true;
            break;
        case T::Point: {
            Role prev = Role::Literal;
            for (auto it = sec.items.rbegin(); it != sec.items.rend(); ++it)
                if (it->role != Role::Literal) {
                    prev = it->role;
                    break;
                }
            std::size_t j = i + 1;
            while (j < toks.size() && toks[j].type == T::Ph && toks[j].c == '0')
                ++j;
            int zeros = static_cast<int>(j - i - 1);
            if ((prev == Role::Second || prev == Role::ElapsedSeconds) && zeros > 0) {
                int digits = std::min(zeros, kMaxSubsecondDigits);
                PushLiteral(sec, ".");
                PushItem(sec, Role::Subsecond, 0, digits);
                sec.subDigits = std::max(sec.subDigits, digits);
                for (int extra = digits; extra < zeros; ++extra)
                    PushLiteral(sec, "0");
                i = j - 1;
            } else {
                PushLiteral(sec, ".");
            }
            break;
        }
        default:
            PushLiteral(sec, LiteralOf(t));
        }
    }
    // m and mm are minutes right after an hour or right before a second.
    auto neighbour = [&](std::ptrdiff_t from, std::ptrdiff_t step) -> Role {
        std::ptrdiff_t size = static_cast<std::ptrdiff_t>(sec.items.size());
        for (std::ptrdiff_t j = from + step; j >= 0 && j < size; j += step) {
            Role r = sec.items[j].role;
            if (r != Role::Literal && r != Role::Subsecond && r != Role::AmPm)
                return r;
        }
        return Role::Literal;
    };
    for (std::size_t i = 0; i < sec.items.size(); ++i) {
        if (sec.items[i].role != Role::Month)
            continue;
        Role before = neighbour(static_cast<std::ptrdiff_t>(i), -1);
        Role after = neighbour(static_cast<std::ptrdiff_t>(i), 1);
        if (before == Role::Hour || before == Role::ElapsedHours || after == Role::Second ||
            after == Role::ElapsedSeconds)
            sec.items[i].role = Role::Minute;
    }
    for (const Item& it : sec.items)
        if (it.role >= Role::Year2 && it.role <= Role::DayName)
            sec.needsDate = true;
    PlanFixedDate(sec);
}

void BuildNumber(const std::vector<Tok>& toks, Section& sec) {
    // A fraction: a run of placeholders, '/', then placeholders or a fixed denominator.
    std::size_t slash = toks.size();
    for (std::size_t i = 1; i + 1 < toks.size(); ++i) {
        if (toks[i].type == T::Slash && toks[i - 1].type == T::Ph &&
            (toks[i + 1].type == T::Ph || toks[i + 1].type == T::Digit)) {
            slash = i;
            break;
        }
    }
    if (slash < toks.size()) {
        sec.kind = Kind::Fraction;
        std::size_t numStart = slash;
        while (numStart > 0 && toks[numStart - 1].type == T::Ph)
            --numStart;
        std::size_t denEnd = slash + 1;
        bool fixed = false;
        std::string denText;
        while (denEnd < toks.size() &&
               (toks[denEnd].type == T::Ph || toks[denEnd].type == T::Digit)) {
            fixed = fixed || toks[denEnd].type == T::Digit;
            denText += toks[denEnd].c;
            ++denEnd;
        }
        bool seenWhole = false;
        for (std::size_t i = 0; i < toks.size(); ++i) {
            const Tok& t = toks[i];
            if (i >= numStart && i < slash) {
                PushItem(sec, Role::Num, t.c);
                ++sec.numCount;
            } else if (i == slash) {
                PushItem(sec, Role::Slash);
            } else if (i > slash && i < denEnd) {
                if (fixed) {
                    if (i == slash + 1) {
                        long long d = 0;
                        if (denText.size() <= 9)
                            for (char ch : denText)
                                d = d * 10 + (ch == '#' || ch == '?' ? 0 : ch - '0');
                        if (d <= 0)
                            d = 1;
                        sec.fixedDen = d;
                        sec.items.push_back(Item{Role::FixedDen, 0, 0, false, denText, {}});
                    }
                } else {
                    PushItem(sec, Role::Den, t.c);
                    ++sec.denCount;
                }
            } else if (t.type == T::Ph && i < numStart) {
                PushItem(sec, Role::Whole, t.c);
                ++sec.wholeCount;
                seenWhole = true;
            } else if (t.type == T::Comma && seenWhole && i < numStart) {
                sec.grouping = true;
            } else if (t.type == T::Percent) {
                sec.shift += 2;
                PushLiteral(sec, "%");
            } else {
                PushLiteral(sec, LiteralOf(t));
            }
        }
        sec.denCount = std::min(sec.denCount, kMaxDenominatorDigits);
        return;
    }

    enum { IntZone, FracZone, ExpZone } zone = IntZone;
    bool seenDigit = false; // a placeholder in the integer or fraction part
    for (std::size_t i = 0; i < toks.size(); ++i) {
        const Tok& t = toks[i];
        switch (t.type) {
        case T::Ph:
            if (zone == IntZone) {
                PushItem(sec, Role::Int, t.c);
                ++sec.intCount;
                seenDigit = true;
            } else if (zone == FracZone) {
                if (sec.fracCount < kMaxFractionDigits) {
                    PushItem(sec, Role::Frac, t.c);
                    ++sec.fracCount;
                }
                seenDigit = true;
            } else {
                PushItem(sec, Role::Exp, t.c);
                ++sec.expCount;
            }
            break;
        case T::Point:
            if (zone == IntZone) {
                zone = FracZone;
                sec.hasPoint = true;
                PushItem(sec, Role::Point);
            } else {
                PushLiteral(sec, ".");
            }
            break;
        case T::Exp:
            if (zone != ExpZone && seenDigit) {
                zone = ExpZone;
                sec.scientific = true;
                sec.items.push_back(Item{Role::ExpMark, t.c, 0, t.count != 0, {}, {}});
            } else {
                PushLiteral(sec, LiteralOf(t));
            }
            break;
        case T::Comma: {
            if (zone == ExpZone || !seenDigit) {
                PushLiteral(sec, ",");
                break;
            }
            std::size_t j = i + 1;
            while (j < toks.size() && toks[j].type == T::Comma)
                ++j;
            if (zone == IntZone && j < toks.size() && toks[j].type == T::Ph) {
                sec.grouping = true;
            } else {
                sec.shift -= 3 * static_cast<int>(j - i);
                i = j - 1;
            }
            break;
        }
        case T::Percent:
            sec.shift += 2;
            PushLiteral(sec, "%");
            break;
        case T::At:
            break;
        default:
            PushLiteral(sec, LiteralOf(t));
        }
    }
}

// The usual shape of a number section, as "#,##0.00" or "0.0%": literals, integer placeholders
// '#' then '0', the point and fraction placeholders all '0', literals, and no exponent. Its
// integer and fraction digits come out whole, so its text is made without placeholder rules:
// returns how many integer placeholders are '0', or -1 for any other shape.
int PlainZeros(const Section& sec) {
    if (sec.kind != Kind::Number || sec.scientific || sec.intCount == 0 || sec.intCount > 30 ||
        sec.fracCount > 18)
        return -1;
    enum { Before, Int, Frac, After } part = Before;
    int zeros = 0;
    for (const Item& it : sec.items) {
        switch (it.role) {
        case Role::Literal:
            if (part == Int || part == Frac)
                part = After;
            break;
        case Role::Int:
            if (part > Int || (it.ph != '0' && (it.ph != '#' || zeros > 0)))
                return -1;
            part = Int;
            zeros += it.ph == '0';
            break;
        case Role::Point:
            if (part != Int)
                return -1;
            part = Frac;
            break;
        case Role::Frac:
            if (part != Frac || it.ph != '0')
                return -1;
            break;
        default:
            return -1;
        }
    }
    return zeros;
}

// False for a section a spreadsheet would refuse (an exponent without digits).
bool BuildSection(std::vector<Tok>& toks, Section& sec) {
    bool date = false, at = false, ph = false, general = false;
    for (const Tok& t : toks) {
        date = date || t.type == T::Date || t.type == T::Elapsed || t.type == T::AmPm;
        at = at || t.type == T::At;
        ph = ph || t.type == T::Ph;
        general = general || t.type == T::General;
    }
    if (date) {
        BuildDate(toks, sec);
    } else if (general) {
        sec.kind = Kind::General;
        for (const Tok& t : toks) {
            if (t.type == T::General)
                PushItem(sec, Role::General);
            else if (t.type != T::At)
                PushLiteral(sec, LiteralOf(t));
        }
    } else if (at && !ph) {
        sec.kind = Kind::Text;
        for (const Tok& t : toks) {
            if (t.type == T::At)
                PushItem(sec, Role::Text);
            else
                PushLiteral(sec, LiteralOf(t));
        }
    } else {
        BuildNumber(toks, sec);
        if (sec.scientific && sec.expCount == 0)
            return false;
        sec.plainZeros = PlainZeros(sec);
        bool digitsSeen = false;
        for (const Item& it : sec.items) {
            if (sec.plainZeros < 0)
                break;
            if (it.role == Role::Literal)
                (digitsSeen ? sec.plainAfter : sec.plainBefore) += it.text;
            digitsSeen = digitsSeen || it.role != Role::Literal;
            sec.plainPoint = sec.plainPoint || it.role == Role::Point;
        }
        if (sec.plainZeros >= 0 && sec.plainBefore.size() <= sec.quickBefore.size() &&
            sec.plainAfter.size() <= sec.quickAfter.size()) {
            std::copy(sec.plainBefore.begin(), sec.plainBefore.end(), sec.quickBefore.begin());
            std::copy(sec.plainAfter.begin(), sec.plainAfter.end(), sec.quickAfter.begin());
            sec.quick = true;
        }
    }
    return true;
}

// A text section shows literals and the text ("@", or "General" there); every other character
// is literal there.
void BuildTextSection(const std::vector<Tok>& toks, Section& sec) {
    sec.kind = Kind::Text;
    sec.items.clear();
    for (const Tok& t : toks) {
        if (t.type == T::At || t.type == T::General)
            PushItem(sec, Role::Text);
        else if (t.type == T::Date)
            PushLiteral(sec, t.text);
        else if (t.type == T::AmPm)
            PushLiteral(sec, t.text + "/" + t.other);
        else
            PushLiteral(sec, LiteralOf(t));
    }
}

// Splits at ';' outside quotes, brackets and escapes. False when a quote or bracket is open.
bool SplitSections(std::string_view code, std::vector<std::string_view>& out) {
    std::size_t start = 0, i = 0, n = code.size();
    while (i < n) {
        char c = code[i];
        if (c == '"') {
            std::size_t close = code.find('"', i + 1);
            if (close == std::string_view::npos)
                return false;
            i = close + 1;
        } else if (c == '[') {
            std::size_t close = code.find(']', i + 1);
            if (close == std::string_view::npos)
                return false;
            i = close + 1;
        } else if (c == '\\' || c == '_' || c == '*') {
            i += 2;
        } else if (c == ';') {
            out.push_back(code.substr(start, i - start));
            start = ++i;
        } else {
            ++i;
        }
    }
    out.push_back(code.substr(start, std::min(i, n) - start));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Rendering.

// Writes `digits` into the placeholders of one zone, right-aligned; the first placeholder
// takes any digits that do not fit. Zero is the empty string.
class IntWriter {
public:
    IntWriter(std::string_view digits, int placeholders, bool grouping)
        : digits_(digits), total_(placeholders), grouping_(grouping) {}

    void write(std::string& out, char ph) {
        int len = static_cast<int>(digits_.size());
        if (index_ == 0) {
            for (int k = 0; k < len - total_; ++k)
                emit(out, digits_[k], len - 1 - k);
        }
        int position = total_ - 1 - index_;
        ++index_;
        if (position < len) {
            emit(out, digits_[len - 1 - position], position);
        } else if (ph == '0') {
            emit(out, '0', position);
        } else if (ph == '?') {
            out += ' ';
            if (grouping_ && position > 0 && position % 3 == 0)
                out += ' ';
        }
    }

private:
    void emit(std::string& out, char c, int position) {
        out += c;
        if (grouping_ && position > 0 && position % 3 == 0)
            out += ',';
    }

    std::string_view digits_;
    int total_;
    bool grouping_;
    int index_ = 0;
};

std::string IntegerDigits(const Decimal& d) {
    std::string s;
    if (d.zero() || d.exp < 0)
        return s;
    s.reserve(static_cast<std::size_t>(d.exp) + 1);
    for (int w = d.exp; w >= 0; --w)
        s += static_cast<char>('0' + d.at(w));
    return s;
}

template <std::size_t N> constexpr std::uint64_t kPowerOfTen = 10 * kPowerOfTen<N - 1>;
template <> constexpr std::uint64_t kPowerOfTen<0> = 1;

// m / 10^drop rounded half up, for 1 <= drop <= 15 (Drops... = 0 to 14). Each power is a
// constant, which the compiler divides by with a multiplication; one read from a table takes a
// division, many times slower.
template <std::size_t... Drops>
std::uint64_t DropDigitsRounding(std::uint64_t m, int drop, std::index_sequence<Drops...>) {
    std::uint64_t units = 0;
    auto by = [&]<std::uint64_t power>() {
        units = m / power + (m % power >= power / 2);
        return true;
    };
    (void)((drop == static_cast<int>(Drops) + 1 &&
            by.template operator()<kPowerOfTen<Drops + 1>>()) ||
           ...);
    return units;
}

// The value in steps of the last decimal a section of the usual shape shows: the digits that
// ToDecimal and roundAt give, rounded half up there. False for a value of more digits or one that
// would need more than four zeros after them.
[[gnu::always_inline]] inline bool PlainUnits(const Section& sec, double magnitude,
                                              std::uint64_t& units) {
    units = 0;
    if (magnitude == 0)
        return true;
    // Most values need no 15-digit rounding first: scaled to the last decimal shown and below
    // 2^40, that rounding moves a value by less than 0.006 (half a unit in its 15th digit) and
    // the scaling by less than 0.0002, so a value whose fraction lies further than 0.01 from one
    // half rounds to the same whole number either way.
    if (const int scale = sec.shift + sec.fracCount; scale >= 0 && scale <= 22) {
        const double scaled = magnitude * kExactPowersOfTen[scale];
        if (scaled < 0x1p40) {
            // Added to 2^52, the value is rounded to a whole number by the addition itself, which
            // then stands in the low bits: a few steps, where a conversion to an integer and
            // back is many more, one after the other, for each number. Further than 0.01 from a
            // half, the nearest whole number is the one rounded half up.
            const double rounded = scaled + 0x1p52;
            if (std::fabs(scaled - (rounded - 0x1p52)) < 0.49) {
                units = std::bit_cast<std::uint64_t>(rounded) & ((1ull << 52) - 1);
                return true;
            }
        }
    }
    std::uint64_t m;
    int k;
    if (!FifteenDigitsQuickly(magnitude, m, k))
        return false;
    // The value shown is m x 10^-(k - shift); below 10^15, m keeps no digit at 10^16 steps.
    const int drop = k - sec.shift - sec.fracCount;
    static constexpr std::uint64_t kScales[] = {1, 10, 100, 1000, 10000};
    if (drop >= 16)
        units = 0;
    else if (drop > 0)
        units = DropDigitsRounding(m, drop, std::make_index_sequence<15>());
    else if (drop >= -4)
        units = m * kScales[-drop];
    else
        return false;
    return true;
}

// Room that PlainDigits needs: it copies pieces of a fixed size, which may pass the text's end.
constexpr std::size_t kPlainDigitsRoom = 128;

// How many decimal digits `value` has; none for 0.
[[gnu::always_inline]] inline int DigitCount(std::uint64_t value) {
    static constexpr auto kPowers = [] {
        std::array<std::uint64_t, 20> powers{};
        powers[0] = 1;
        for (std::size_t i = 1; i < powers.size(); ++i)
            powers[i] = 10 * powers[i - 1];
        return powers;
    }();
    // The bits' count times log10(2) is at most one short.
    const auto digits = static_cast<std::size_t>(std::bit_width(value)) * 1233 >> 12;
    return static_cast<int>(digits) + (value >= kPowers[digits]);
}

// The eight decimal digits of `value` (below 10^8), zeros first, as a word's bytes in memory
// order (a little-endian word, as ByteWords takes text): its halves, then their pairs, then the
// pairs' digits, each split in every lane of the word at once by a multiplication and a shift.
[[gnu::always_inline]] inline std::uint64_t EightDigits(std::uint64_t value) {
    const std::uint64_t halves = value / 10000 | value % 10000 << 32;
    const std::uint64_t highs = (halves * 10486 >> 20) & 0x0000007F0000007Full; // a half / 100
    const std::uint64_t pairs = highs | (halves - 100 * highs) << 16;
    const std::uint64_t tens = (pairs * 103 >> 10) & 0x000F000F000F000Full; // a pair / 10
    return (tens | (pairs - 10 * tens) << 8) + 0x3030303030303030ull;
}

// Stores a word's bytes at `at`: eight, of which the caller keeps as many as it counts.
void PutWord(char* at, std::uint64_t word) {
    std::memcpy(at, &word, 8);
}

// PlainDigits for most values: at most eight digits shown, made in a word and written from it in
// pieces of eight bytes (past the text's end too). The digits never pass through memory, where a
// copy of bytes just stored in pieces of two waits for those stores. Nullptr, having written
// nothing, for other values.
[[gnu::always_inline]] inline char* FewPlainDigits(const Section& sec, std::uint64_t units,
                                                   char* at) {
    const int shown = std::max(DigitCount(units), sec.fracCount + sec.plainZeros);
    if (shown == 0 || shown > 8)
        return nullptr;
    std::uint64_t word = EightDigits(units) >> 8 * (8 - shown);
    const int whole = shown - sec.fracCount;
    if (sec.grouping && whole > 3) {
        const int first = whole % 3 == 0 ? 3 : whole % 3;
        PutWord(at, word);
        at += first;
        word >>= 8 * first;
        for (int left = whole - first; left > 0; left -= 3) {
            *at = ',';
            PutWord(at + 1, word);
            at += 4;
            word >>= 24;
        }
    } else {
        PutWord(at, word);
        at += whole;
        word = word >> 4 * whole >> 4 * whole; // all eight bytes when whole is 8
    }
    if (sec.plainPoint) {
        *at = '.';
        PutWord(at + 1, word);
        at += 1 + sec.fracCount;
    }
    return at;
}

// The digits of a section of the usual shape for `units` (from PlainUnits), with their
// separators, the point and the fraction, at `at`; returns their end.
[[gnu::always_inline]] inline char* PlainDigits(const Section& sec, std::uint64_t units, char* at) {
    if (char* end = FewPlainDigits(sec, units, at))
        return end;
    // The digits right-aligned over zeros, as many as the fraction and the '0' placeholders take
    // (at most 48); room after them, so that runs of them are copied in pieces of a fixed size
    // (what is copied past the text is never used).
    char digits[96];
    char* const end = digits + 64;
    std::memset(end - 48, '0', 48);
    const char* first = std::min(DigitsEndingAt(end, units), end - sec.fracCount - sec.plainZeros);
    const char* const point = end - sec.fracCount;
    // Integer digits with their separators, the point and the fraction: at most 30 + 10 + 1 + 18.
    auto copy = [&at](const char* from, const char* to) {
        std::memcpy(at, from, 32);
        if (to - from > 32)
            std::memcpy(at + 32, from + 32, 32);
        at += to - from;
    };
    if (sec.grouping && point - first > 3) {
        std::size_t group = static_cast<std::size_t>(point - first) % 3;
        group = group == 0 ? 3 : group;
        copy(first, first + group);
        for (const char* from = first + group; from < point; from += 3) {
            *at = ',';
            std::memcpy(at + 1, from, 3);
            at += 4;
        }
    } else {
        copy(first, point);
    }
    if (sec.plainPoint) {
        *at++ = '.';
        copy(point, end);
    }
    return at;
}

// A section of the usual shape. False, having written nothing, when PlainUnits has no units for
// the value.
bool RenderPlainNumber(const Section& sec, double magnitude, std::string& out) {
    std::uint64_t units;
    if (!PlainUnits(sec, magnitude, units))
        return false;
    char text[kPlainDigitsRoom];
    const char* end = PlainDigits(sec, units, text);
    if (!sec.plainBefore.empty())
        out += sec.plainBefore;
    out.append(text, static_cast<std::size_t>(end - text));
    if (!sec.plainAfter.empty())
        out += sec.plainAfter;
    return true;
}

void RenderNumber(const Section& sec, double magnitude, std::string& out) {
    // A quick section comes here only when QuickText found no units for the value: they are not
    // looked for again.
    if (sec.plainZeros >= 0 && !sec.quick && RenderPlainNumber(sec, magnitude, out))
        return;
    Decimal d = ToDecimal(magnitude);
    if (!d.zero())
        d.exp += sec.shift;
    int exponent = 0;
    if (sec.scientific) {
        int group = std::max(sec.intCount, 1);
        auto shown = [group](int e) {
            int q = e >= 0 ? e / group : -((-e + group - 1) / group);
            return q * group;
        };
        if (!d.zero()) {
            exponent = shown(d.exp);
            d.roundAt(exponent - sec.fracCount);
            exponent = shown(d.exp); // rounding may carry into a new power of ten
        }
        d.exp -= exponent;
    } else {
        d.roundAt(-sec.fracCount);
    }
    std::string intDigits = IntegerDigits(d);
    int lastFrac = 0; // 1-based index of the last non-zero fraction digit
    for (int j = 1; j <= sec.fracCount; ++j)
        if (d.at(-j) != 0)
            lastFrac = j;

    IntWriter ints(intDigits, sec.intCount, sec.grouping);
    std::string expDigits;
    if (sec.scientific)
        AppendUnsigned(expDigits, static_cast<std::uint64_t>(std::abs(exponent)));
    IntWriter exps(expDigits, sec.expCount, false);
    int frac = 0;
    for (const Item& it : sec.items) {
        switch (it.role) {
        case Role::Literal:
            out += it.text;
            break;
        case Role::Int:
            ints.write(out, it.ph);
            break;
        case Role::Point:
            if (sec.intCount == 0)
                out += intDigits;
            out += '.';
            break;
        case Role::Frac:
            ++frac;
            if (frac <= lastFrac)
                out += static_cast<char>('0' + d.at(-frac));
            else if (it.ph == '0')
                out += '0';
            else if (it.ph == '?')
                out += ' ';
            break;
        case Role::ExpMark:
            out += it.ph;
            if (exponent < 0)
                out += '-';
            else if (it.plus)
                out += '+';
            break;
        case Role::Exp:
            exps.write(out, it.ph);
            break;
        default:
            break;
        }
    }
}

// The last convergent n/d of x's continued fraction (0 <= x < 1) with d <= maxDen: not always
// the closest fraction (0.7 under "# ?/?" is 2/3, not 5/7). Each step takes the reciprocal of
// the double the previous one left, rounding included, so 0.3 comes out as 2/7.
void ConvergentFraction(double x, long long maxDen, long long& num, long long& den) {
    long long p0 = 0, q0 = 1, p1 = 1, q1 = 0; // the latest convergent is p1/q1
    double r = x;
    for (int step = 0; step < 64; ++step) {
        double whole = std::floor(r);
        if (whole > 1e15)
            break;
        long long a = static_cast<long long>(whole);
        if (q1 > 0 && a > (maxDen - q0) / q1)
            break;
        long long p2 = a * p1 + p0, q2 = a * q1 + q0;
        p0 = p1;
        q0 = q1;
        p1 = p2;
        q1 = q2;
        double rest = r - whole;
        if (rest < 1e-12)
            break;
        r = 1.0 / rest;
    }
    num = p1;
    den = q1;
}

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

void RenderFraction(const Section& sec, double magnitude, std::string& out) {
    Decimal d = ToDecimal(magnitude);
    if (!d.zero())
        d.exp += sec.shift;
    double v = ToDouble(d);
    double whole = sec.wholeCount > 0 ? std::floor(v) : 0;
    double rest = v - whole;
    long long num = 0, den = 1;
    if (sec.fixedDen > 0) {
        den = sec.fixedDen;
        double scaled = std::floor(rest * static_cast<double>(den) + 0.5);
        num = scaled > 9e15 ? 0 : static_cast<long long>(scaled);
    } else {
        long long maxDen = 1;
        for (int k = 0; k < std::max(sec.denCount, 1); ++k)
            maxDen *= 10;
        double intPart = std::floor(rest);
        ConvergentFraction(rest - intPart, maxDen - 1, num, den);
        if (intPart > 0 && intPart < 9e15 / static_cast<double>(den))
            num += static_cast<long long>(intPart) * den;
    }
    if (sec.wholeCount > 0 && num >= den) {
        whole += static_cast<double>(num / den);
        num %= den;
    }
    // A whole number shows spaces for the whole width of the fraction, from after the whole
    // part's digits to the end of the denominator.
    bool blank = sec.wholeCount > 0 && num == 0;

    Decimal w = ToDecimal(whole);
    std::string wholeDigits = IntegerDigits(w);
    if (blank && wholeDigits.empty())
        wholeDigits = "0";
    std::string numDigits, denDigits;
    AppendUnsigned(numDigits, static_cast<std::uint64_t>(num));
    AppendUnsigned(denDigits, static_cast<std::uint64_t>(den));
    IntWriter wholeWriter(wholeDigits, sec.wholeCount, sec.grouping);
    IntWriter numWriter(numDigits, sec.numCount, false);
    int wholeIndex = 0, denIndex = 0;
    bool fractionDone = false;
    for (const Item& it : sec.items) {
        bool blanked = blank && wholeIndex == sec.wholeCount && !fractionDone;
        switch (it.role) {
        case Role::Literal:
            if (blanked)
                out.append(CharacterCount(it.text), ' ');
            else
                out += it.text;
            break;
        case Role::Whole:
            wholeWriter.write(out, it.ph);
            ++wholeIndex;
            break;
        case Role::Num:
            if (blanked)
                out += ' ';
            else
                numWriter.write(out, it.ph);
            break;
        case Role::Slash:
            out += blanked ? ' ' : '/';
            break;
        case Role::Den:
            if (blanked) {
                out += ' ';
            } else {
                // left-aligned: the denominator never has more digits than placeholders
                std::size_t at = static_cast<std::size_t>(denIndex);
                if (at < denDigits.size())
                    out += denDigits[at];
                else if (it.ph == '0')
                    out += '0';
                else if (it.ph == '?')
                    out += ' ';
            }
            ++denIndex;
            fractionDone = denIndex == sec.denCount;
            break;
        case Role::FixedDen:
            if (blanked)
                out.append(it.text.size(), ' ');
            else
                out += it.text;
            fractionDone = true;
            break;
        default:
            break;
        }
    }
}

constexpr const char* kMonthNames[12] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
constexpr const char* kDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

struct CivilDate {
    long long year = 1900;
    int month = 1, day = 0, weekday = 6; // weekday 0 = Sunday
};

// Day `serial` (0 or more) of the 1900 system, which counts a 29 February 1900 (serial 60) and
// calls serial 0 the 0th of January 1900.
[[gnu::always_inline]] inline CivilDate DateOfSerial(std::uint64_t serial) {
    CivilDate c;
    c.weekday = static_cast<int>((serial + 6) % 7);
    if (serial == 0)
        return c;
    if (serial == 60) {
        c.month = 2;
        c.day = 29;
        return c;
    }
    // Days since 1 March of year 0, then the years, months and days of them by Neri and
    // Schneider's Euclidean affine functions: a few multiplications, where the usual civil-from-
    // days takes as many divisions.
    const auto n = static_cast<std::uint32_t>(serial - (serial < 60 ? 25568 : 25569) + 719468);
    const std::uint32_t n1 = 4 * n + 3;
    const std::uint32_t century = n1 / 146097;
    const std::uint32_t n2 = n1 % 146097 | 3;
    const std::uint64_t p2 = std::uint64_t{2939745} * n2;
    const auto yearOfCentury = static_cast<std::uint32_t>(p2 >> 32);
    const std::uint32_t dayOfYear = static_cast<std::uint32_t>(p2) / 2939745 / 4;
    const std::uint32_t n3 = 2141 * dayOfYear + 197913;
    const bool january = dayOfYear >= 306; // or February: the year's last two months from March
    c.year = 100 * century + yearOfCentury + january;
    c.month = static_cast<int>(n3 / 65536 - (january ? 12 : 0));
    c.day = static_cast<int>(n3 % 65536 / 2141 + 1);
    return c;
}

// The number a field of these roles shows: the year whole, the hour on the 24-hour clock.
[[gnu::always_inline]] inline std::uint64_t ClockField(Role role, const CivilDate& date,
                                                       std::uint64_t seconds) {
    switch (role) {
    case Role::Year2:
        return static_cast<std::uint64_t>(date.year % 100);
    case Role::Year4:
        return static_cast<std::uint64_t>(date.year);
    case Role::Month:
        return static_cast<std::uint64_t>(date.month);
    case Role::Day:
        return static_cast<std::uint64_t>(date.day);
    case Role::Hour:
        return seconds % 86400 / 3600;
    case Role::Minute:
        return seconds / 60 % 60;
    default: // Role::Second
        return seconds % 60;
    }
}

// A date or time value in the units a section shows, rounded once to the finest of them (so
// 23:59:59.7 under h:mm:ss is the next day's 0:00:00).
struct Clock {
    std::uint64_t seconds = 0; // since the start of the system's day 0
    std::uint64_t sub = 0;     // the units of a second left, for subsecond fields
    CivilDate date;            // when the section shows a day
};

[[gnu::always_inline]] inline Clock ClockOf(const Section& sec, double magnitude, bool date1904) {
    std::int64_t unit = 1;
    for (int k = 0; k < sec.subDigits; ++k)
        unit *= 10;
    double ticksPerDay = 86400.0 * static_cast<double>(unit);
    // The magnitude is not negative: truncation is the floor.
    const auto ticks =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(magnitude * ticksPerDay + 0.5));
    Clock clock;
    // Most formats show whole seconds: divisions by constants, which cost no division.
    clock.seconds = unit == 1 ? ticks : ticks / static_cast<std::uint64_t>(unit);
    clock.sub = unit == 1 ? 0 : ticks % static_cast<std::uint64_t>(unit);
    if (sec.needsDate)
        clock.date = DateOfSerial(clock.seconds / 86400 + (date1904 ? 1462 : 0));
    return clock;
}

// A date or time of fixed width: its fixed text at `at` (room for 32 bytes) with every field's
// digit pairs written over it at their places; returns the text's end.
[[gnu::always_inline]] inline char* WriteFixedDate(const Section& sec, const Clock& clock,
                                                   char* at) {
    // Each role's number made once, not a switch per field, which made every role's number.
    constexpr auto kFirst = static_cast<std::size_t>(Role::Year2);
    auto shown = [](Role role) { return static_cast<std::size_t>(role) - kFirst; };
    std::array<std::uint64_t, static_cast<std::size_t>(Role::Second) - kFirst + 1> numbers{};
    numbers[shown(Role::Year2)] = static_cast<std::uint64_t>(clock.date.year % 100);
    numbers[shown(Role::Year4)] = static_cast<std::uint64_t>(clock.date.year);
    numbers[shown(Role::Month)] = static_cast<std::uint64_t>(clock.date.month);
    numbers[shown(Role::Day)] = static_cast<std::uint64_t>(clock.date.day);
    if (sec.fixedTime)
        for (Role role : {Role::Hour, Role::Minute, Role::Second})
            numbers[shown(role)] = ClockField(role, clock.date, clock.seconds);
    std::memcpy(at, sec.fixedText.data(), sec.fixedText.size());
    for (const auto& [offset, role] : sec.fixedFields) {
        char* place = at + offset;
        std::uint64_t field = numbers[shown(role)];
        if (role == Role::Year4) {
            std::memcpy(place, &kDigitPairs[field / 100 * 2], 2);
            place += 2;
            field %= 100;
        }
        std::memcpy(place, &kDigitPairs[field * 2], 2);
    }
    return at + sec.fixedSize;
}

void RenderDate(const Section& sec, double magnitude, bool date1904, std::string& text) {
    const Clock clock = ClockOf(sec, magnitude, date1904);
    const std::uint64_t seconds = clock.seconds;
    const CivilDate& date = clock.date;
    const int hour = static_cast<int>(seconds % 86400 / 3600);
    Pieces out(text);
    for (const Item& it : sec.items) {
        // A field's digits are written in one place after the switch: the fields of a format
        // differ, the writing of their digits does not.
        std::uint64_t field = 0;
        int width = it.width;
        switch (it.role) {
        case Role::Literal:
            out += it.text;
            continue;
        case Role::Year2:
        case Role::Year4:
            field = ClockField(it.role, date, seconds);
            width = it.role == Role::Year2 ? 2 : 4;
            break;
        case Role::Month:
        case Role::Day:
        case Role::Minute:
        case Role::Second:
            field = ClockField(it.role, date, seconds);
            break;
        case Role::MonthAbbr:
            out.append(kMonthNames[date.month - 1], 3);
            continue;
        case Role::MonthName:
            out += kMonthNames[date.month - 1];
            continue;
        case Role::MonthLetter:
            out += kMonthNames[date.month - 1][0];
            continue;
        case Role::DayAbbr:
            out.append(kDayNames[date.weekday], 3);
            continue;
        case Role::DayName:
            out += kDayNames[date.weekday];
            continue;
        case Role::Hour: {
            int h = hour;
            if (sec.twelveHour) {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            field = static_cast<std::uint64_t>(h);
            break;
        }
        case Role::ElapsedHours:
            field = seconds / 3600;
            break;
        case Role::ElapsedMinutes:
            field = seconds / 60;
            break;
        case Role::ElapsedSeconds:
            field = seconds;
            break;
        case Role::AmPm:
            out += hour < 12 ? it.text : it.other;
            continue;
        case Role::Subsecond:
            field = clock.sub;
            for (int k = it.width; k < sec.subDigits; ++k)
                field /= 10;
            break;
        default:
            continue;
        }
        AppendUnsigned(out, field, width);
    }
    out.done();
}

void RenderGeneralSection(const Section& sec, double magnitude, std::string& out) {
    for (const Item& it : sec.items) {
        if (it.role == Role::General)
            AppendGeneral(out, magnitude);
        else if (it.role == Role::Literal)
            out += it.text;
    }
}

void AddBytes(std::bitset<256>& bytes, std::string_view text) {
    for (unsigned char c : text)
        bytes.set(c);
}

// The letters of the first `length` characters of every name (all of them for a long `length`).
void AddNames(std::bitset<256>& bytes, const char* const* names, int count, std::size_t length) {
    for (int i = 0; i < count; ++i)
        AddBytes(bytes, std::string_view(names[i]).substr(0, length));
}

// Adds what the renderers above can write for a number through `sec`: a superset, kept in step
// with them role by role.
void AddSectionBounds(const Section& sec, TextBounds& bounds) {
    std::bitset<256>& bytes = bounds.bytes;
    constexpr std::string_view kDigits = "0123456789";
    AddBytes(bytes, "-"); // the sign a section may put before a negative value's text
    if (sec.grouping)
        AddBytes(bytes, ",");
    switch (sec.kind) {
    case Kind::Fraction:
        AddBytes(bytes, " "); // a whole number blanks its fraction
        break;
    case Kind::Date:
        AddBytes(bytes, kNoDateShown);
        break;
    case Kind::Text: // a number shows as General there
        AddBytes(bytes, kGeneralCharacters);
        break;
    default:
        break;
    }
    // A number section writes nothing for zero when all it has are '#' placeholders.
    bool mayBeEmpty = sec.kind == Kind::Number;
    for (const Item& it : sec.items) {
        switch (it.role) {
        case Role::Literal:
        case Role::FixedDen:
            AddBytes(bytes, it.text);
            mayBeEmpty = false;
            break;
        case Role::Int:
        case Role::Frac:
        case Role::Exp:
        case Role::Whole:
        case Role::Num:
        case Role::Den:
            AddBytes(bytes, kDigits);
            if (it.ph == '?')
                AddBytes(bytes, " ");
            mayBeEmpty = mayBeEmpty && it.ph == '#';
            break;
        case Role::Point:
            AddBytes(bytes, ".");
            AddBytes(bytes, kDigits); // the integer digits when no placeholder takes them
            mayBeEmpty = false;
            break;
        case Role::ExpMark:
            bytes.set(static_cast<unsigned char>(it.ph));
            AddBytes(bytes, "+-");
            mayBeEmpty = false;
            break;
        case Role::Slash:
            AddBytes(bytes, "/");
            break;
        case Role::General:
            AddBytes(bytes, kGeneralCharacters);
            break;
        case Role::MonthAbbr:
            AddNames(bytes, kMonthNames, 12, 3);
            break;
        case Role::MonthName:
            AddNames(bytes, kMonthNames, 12, std::string_view::npos);
            break;
        case Role::MonthLetter:
            AddNames(bytes, kMonthNames, 12, 1);
            break;
        case Role::DayAbbr:
            AddNames(bytes, kDayNames, 7, 3);
            break;
        case Role::DayName:
            AddNames(bytes, kDayNames, 7, std::string_view::npos);
            break;
        case Role::AmPm:
            AddBytes(bytes, it.text);
            AddBytes(bytes, it.other);
            break;
        case Role::Text: // only in a text section, which no number reaches
            break;
        default: // the numeric fields of dates and times
            AddBytes(bytes, kDigits);
            break;
        }
    }
    bounds.mayBeEmpty = bounds.mayBeEmpty || mayBeEmpty;
}

} // namespace

// ---------------------------------------------------------------------------------------------

struct NumberFormat::Impl {
    bool general = true;
    std::vector<Section> sections;
    int numberSections = 0;
    int textSection = -1;

    void compile(std::string_view code);
    const Section* choose(double value, bool& addSign) const;
    bool hasConditions() const {
        return numberSections > 0 &&
               (sections[0].cond.present() || (numberSections > 1 && sections[1].cond.present()));
    }
};

void NumberFormat::Impl::compile(std::string_view code) {
    if (code.empty() || code.size() > kMaxCodeLength)
        return;
    std::vector<std::string_view> parts;
    if (!SplitSections(code, parts) || parts.size() > 4)
        return;
    std::vector<Section> compiled(parts.size());
    std::vector<std::vector<Tok>> tokens(parts.size());
    bool lastHasText = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Special special = Special::None;
        if (!Tokenize(parts[i], tokens[i], compiled[i].cond, special))
            return;
        if (special != Special::None) {
            // The system's long date or time stands in for whatever the section spells out.
            Condition keep = compiled[i].cond;
            tokens[i].clear();
            Special ignored = Special::None;
            Tokenize(special == Special::LongDate ? "dddd, mmmm d, yyyy" : "h:mm:ss AM/PM",
                     tokens[i], compiled[i].cond, ignored);
            compiled[i].cond = keep;
        }
        if (!BuildSection(tokens[i], compiled[i]))
            return;
        if (i == parts.size() - 1)
            for (const Tok& t : tokens[i])
                lastHasText = lastHasText || t.type == T::At;
    }
    if (parts.size() == 1 && compiled[0].kind == Kind::General && compiled[0].items.size() == 1 &&
        !compiled[0].cond.present())
        return; // plain General
    if (parts.size() == 4) {
        textSection = 3;
        numberSections = 3;
    } else if (lastHasText) {
        textSection = static_cast<int>(parts.size()) - 1;
        numberSections = textSection;
    } else {
        numberSections = static_cast<int>(parts.size());
    }
    if (textSection >= 0)
        BuildTextSection(tokens[textSection], compiled[textSection]);
    sections = std::move(compiled);
    general = false;
}

// Picks the section for a number; nullptr means General. `addSign` says whether a minus sign
// goes before a negative value's text (not when the section is the one for negative numbers).
[[gnu::always_inline]] inline const Section* NumberFormat::Impl::choose(double value,
                                                                        bool& addSign) const {
    addSign = value < 0;
    int n = numberSections;
    if (n == 0)
        return nullptr;
    const Section& first = sections[0];
    if (!hasConditions()) {
        if (n == 1 || (value >= 0 && (n == 2 || value > 0)))
            return &first;
        if (value < 0) {
            addSign = false;
            return &sections[1];
        }
        return &sections[2];
    }
    // Conditions apply to the first two sections; their defaults are > 0 (>= 0 with two
    // sections) and < 0, except that a second of two sections takes whatever a conditional
    // first leaves ("[>=1]0;0" shows -2 as "-2", "[>=-1]0;0" shows it as "2"). The third
    // section takes whatever neither claims.
    Condition c0 = first.cond;
    if (!c0.present())
        c0 = Condition{n >= 3 ? Op::Gt : Op::Ge, 0};
    if (c0.matches(value)) {
        addSign = addSign && !c0.negativeOnly();
        return &first;
    }
    if (n >= 2) {
        Condition c1 = sections[1].cond;
        if (!c1.present())
            c1 = n == 2 && first.cond.present() ? c0.complement() : Condition{Op::Lt, 0};
        if (c1.matches(value)) {
            addSign = addSign && !c1.negativeOnly();
            return &sections[1];
        }
        if (n >= 3)
            return &sections[2];
    }
    return nullptr;
}

NumberFormat::NumberFormat(std::string_view code) : impl_(std::make_unique<Impl>()) {
    try {
        impl_->compile(code);
    } catch (...) {
        impl_->general = true;
        impl_->sections.clear();
    }
}
NumberFormat::~NumberFormat() = default;
NumberFormat::NumberFormat(NumberFormat&&) noexcept = default;
NumberFormat& NumberFormat::operator=(NumberFormat&&) noexcept = default;

std::string NumberFormat::formatNumber(double value, bool date1904) const {
    std::string out; // most results fit its own buffer: no allocation
    formatNumberInto(value, date1904, out);
    return out;
}

// Whether a date or time section shows a day for the value. The 1904 system, unlike the 1900
// one, shows a negative date or time: its magnitude after a minus sign.
bool ShowsDay(double value, double magnitude, bool date1904) {
    return (value >= 0 || date1904) &&
           magnitude < (date1904 ? kPastLastDate1904 : kPastLastDate1900);
}

// A fixed date's text, out of line: its registers would cost every number a larger frame.
[[gnu::noinline]] char* QuickDate(const Section& sec, double magnitude, bool date1904, char* at) {
    return WriteFixedDate(sec, ClockOf(sec, magnitude, date1904), at);
}

// The text of `magnitude` through a quick section, after a minus sign when `addSign`, at `out`
// (kQuickRoom bytes); nullptr, having written nothing that counts, when PlainUnits has no units
// for it. A date's day is one ShowsDay allows.
[[gnu::always_inline]] inline char* QuickText(const Section& sec, double magnitude, bool addSign,
                                              bool date1904, char* out) {
    *out = '-'; // a quick section shows digits, which take the sign
    char* at = out + addSign;
    if (sec.kind == Kind::Date)
        return QuickDate(sec, magnitude, date1904, at);
    std::uint64_t units;
    if (!PlainUnits(sec, magnitude, units))
        return nullptr;
    std::memcpy(at, sec.quickBefore.data(), sec.quickBefore.size());
    at = PlainDigits(sec, units, at + sec.plainBefore.size());
    std::memcpy(at, sec.quickAfter.data(), sec.quickAfter.size());
    return at + sec.plainAfter.size();
}

// General's text, out of line for the same reason.
[[gnu::noinline]] char* QuickGeneral(double value, char* out) {
    Cursor cursor{out};
    WriteGeneral(cursor, value);
    return cursor.at;
}

bool NumberFormat::writesQuickly() const {
    return impl_->general ||
           std::any_of(impl_->sections.begin(), impl_->sections.begin() + impl_->numberSections,
                       [](const Section& sec) { return sec.quick; });
}

char* NumberFormat::formatQuicklyTo(double value, bool date1904, char* out) const {
    if (impl_->general || !std::isfinite(value))
        return QuickGeneral(value, out);
    bool addSign = false;
    const Section* sec = impl_->choose(value, addSign);
    const double magnitude = std::fabs(value);
    if (!sec || !sec->quick || (sec->kind == Kind::Date && !ShowsDay(value, magnitude, date1904)))
        return nullptr;
    return QuickText(*sec, magnitude, addSign, date1904, out);
}

void NumberFormat::formatNumberInto(double value, bool date1904, std::string& out) const {
    out.clear();
    if (impl_->general || !std::isfinite(value))
        return AppendGeneral(out, value);
    bool addSign = false;
    const Section* sec = impl_->choose(value, addSign);
    if (!sec)
        return AppendGeneral(out, value);
    double magnitude = std::fabs(value);
    if (sec->kind == Kind::Date && !ShowsDay(value, magnitude, date1904)) {
        out = kNoDateShown;
        return;
    }
    if (sec->quick) {
        char text[kQuickRoom];
        if (const char* end = QuickText(*sec, magnitude, addSign, date1904, text))
            return static_cast<void>(out.append(text, static_cast<std::size_t>(end - text)));
    }
    // A minus sign belongs to a shown number; a section of literals alone shows none.
    bool showsValue = sec->kind != Kind::Number || sec->intCount > 0 || sec->fracCount > 0 ||
                      sec->hasPoint || sec->scientific;
    if (addSign && showsValue)
        out += '-';
    switch (sec->kind) {
    case Kind::Number:
        RenderNumber(*sec, magnitude, out);
        break;
    case Kind::Fraction:
        RenderFraction(*sec, magnitude, out);
        break;
    case Kind::Date:
        RenderDate(*sec, magnitude, date1904, out);
        break;
    case Kind::General:
        RenderGeneralSection(*sec, magnitude, out);
        break;
    case Kind::Text:
        // A number never shows through a text section.
        out.clear();
        AppendGeneral(out, value);
        break;
    }
}

TextBounds NumberFormat::numberTextBounds() const {
    TextBounds bounds;
    // choose() leaves a number to General when no section takes it: with no number section, or
    // with conditions and fewer than three sections.
    if (impl_->general || impl_->numberSections == 0 ||
        (impl_->hasConditions() && impl_->numberSections < 3))
        AddBytes(bounds.bytes, kGeneralCharacters);
    if (!impl_->general)
        for (int i = 0; i < impl_->numberSections; ++i)
            AddSectionBounds(impl_->sections[i], bounds);
    return bounds;
}

std::string NumberFormat::formatText(std::string_view text) const {
    if (impl_->general || impl_->textSection < 0)
        return std::string(text);
    std::string out;
    for (const Item& it : impl_->sections[impl_->textSection].items) {
        if (it.role == Role::Text)
            out.append(text);
        else
            out += it.text;
    }
    return out;
}

namespace {

// Ids that East Asian and Thai versions define without writing their codes (ECMA-376 Part 1,
// 18.8.30), as an en-US installation shows them:
//   27-36, 50-58  the locale's dates and times             -> 14, the short date
//   59-62         t0, t0.00, t#,##0, t#,##0.00 (Thai)       -> 1-4
//   67-70         t0%, t0.00%, t# ?/?, t# ??/??             -> 9, 10, 12, 13
//   71-74         d/m/yyyy, d-mmm-yy, d-mmm, mmm-yy (Thai)  -> 14-17
//   75-77         h:mm, h:mm:ss, d/m/yyyy h:mm (Thai)       -> 20-22
//   78-80         mm:ss, [h]:mm:ss, mm:ss.0 (Thai)          -> 45-47
//   81            d/m/bb, the Buddhist-era short date       -> 14
int EnUsBuiltInId(int id) {
    if ((id >= 27 && id <= 36) || (id >= 50 && id <= 58) || id == 81)
        return 14;
    if (id >= 59 && id <= 62)
        return id - 58;
    if (id >= 67 && id <= 80) {
        constexpr int shown[] = {9, 10, 12, 13, 14, 15, 16, 17, 20, 21, 22, 45, 46, 47};
        return shown[id - 67];
    }
    return id;
}

} // namespace

std::string BuiltInFormatCode(int id) {
    switch (EnUsBuiltInId(id)) {
    case 0:
        return "General";
    case 1:
        return "0";
    case 2:
        return "0.00";
    case 3:
        return "#,##0";
    case 4:
        return "#,##0.00";
    case 5:
        return "\"$\"#,##0_);\\(\"$\"#,##0\\)";
    case 6:
        return "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)";
    case 7:
        return "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)";
    case 8:
        return "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)";
    case 9:
        return "0%";
    case 10:
        return "0.00%";
    case 11:
        return "0.00E+00";
    case 12:
        return "# ?/?";
    case 13:
        return "# ?\?/?\?";
    case 14:
        return "m/d/yyyy";
    case 15:
        return "d-mmm-yy";
    case 16:
        return "d-mmm";
    case 17:
        return "mmm-yy";
    case 18:
        return "h:mm AM/PM";
    case 19:
        return "h:mm:ss AM/PM";
    case 20:
        return "h:mm";
    case 21:
        return "h:mm:ss";
    case 22:
        return "m/d/yyyy h:mm";
    case 37:
        return "#,##0_);(#,##0)";
    case 38:
        return "#,##0_);[Red](#,##0)";
    case 39:
        return "#,##0.00_);(#,##0.00)";
    case 40:
        return "#,##0.00_);[Red](#,##0.00)";
    case 41:
        return "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)";
    case 42:
        return "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)";
    case 43:
        return "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"?\?_);_(@_)";
    case 44:
        return "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"?\?_);_(@_)";
    case 45:
        return "mm:ss";
    case 46:
        return "[h]:mm:ss";
    case 47:
        return "mm:ss.0";
    case 48:
        return "##0.0E+0";
    case 49:
        return "@";
    default:
        return {};
    }
}

} // namespace gq
