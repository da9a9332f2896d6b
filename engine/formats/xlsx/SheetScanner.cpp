#include "SheetScanner.h"

#include "Error.h"
#include "SheetCells.h"
#include "XmlStream.h"
#include "ZipPackage.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

namespace gq {

namespace {

// Byte classes, one bit each, for the loops that run over every byte of the part.
enum : std::uint8_t {
    kNameStart =
        1, // ASCII only: a byte from 0x80 up leaves the fast loops to have its UTF-8 checked
    kNameChar = 2,
    kSpace = 4,
    // Each of these ends a run of plain bytes in its context: control codes (NUL among them, which
    // also marks the end of the data in the buffer), carriage returns (line ends are normalised),
    // multi-byte characters (checked), and what has a meaning there.
    kTextStop = 8,
    kValueStop = 16,
    kCDataStop = 32,
    kCommentStop = 64,
    kPIStop = 128,
};

constexpr std::array<std::uint8_t, 256> MakeClasses() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        std::uint8_t bits = 0;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':')
            bits |= kNameStart | kNameChar;
        if ((c >= '0' && c <= '9') || c == '-' || c == '.')
            bits |= kNameChar;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            bits |= kSpace;
        bool special = (c < 0x20 && c != '\t' && c != '\n') || c >= 0x80;
        if (special || c == '<' || c == '&' || c == ']')
            bits |= kTextStop;
        if (special || c == '\t' || c == '\n' || c == '"' || c == '\'' || c == '<' || c == '&')
            bits |= kValueStop;
        if (special || c == ']')
            bits |= kCDataStop;
        if ((special && c != '\r') || c == '-')
            bits |= kCommentStop;
        if ((special && c != '\r') || c == '?')
            bits |= kPIStop;
        classes[c] = bits;
    }
    return classes;
}
constexpr std::array<std::uint8_t, 256> kClasses = MakeClasses();

inline std::uint8_t ClassOf(char c) {
    return kClasses[static_cast<unsigned char>(c)];
}

// Open elements are remembered by a hash of their names (FNV-1a), enough to tell a mismatched end
// tag, at eight bytes a level however long the names.
constexpr std::uint64_t kKeySeed = 14695981039346656037ull;
constexpr std::uint64_t AddToKey(std::uint64_t key, char c) {
    return (key ^ static_cast<unsigned char>(c)) * 1099511628211ull;
}
constexpr std::uint64_t kCellKey = AddToKey(kKeySeed, 'c');

// Whether `literal` lies at `p`, of which `end` is the end of the data. Reads no further than the
// first byte that differs when the literal could run past the end: the NUL there keeps it in
// bounds.
template <std::size_t N> bool Follows(const char* p, const char* end, const char (&literal)[N]) {
    if (static_cast<std::size_t>(end - p) >= N - 1)
        return std::memcmp(p, literal, N - 1) == 0;
    for (std::size_t i = 0; i + 1 < N; ++i)
        if (p[i] != literal[i])
            return false;
    return true;
}

[[noreturn]] void Fail(XML_Error code) {
    throw Error(std::string(kNotAWorkbook) + ": " + XML_ErrorString(code));
}

bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// One character's UTF-8.
struct Utf8Char {
    char bytes[4];
    std::size_t size;
    std::string_view view() const { return std::string_view(bytes, size); }
};

Utf8Char EncodeUtf8(char32_t c) {
    Utf8Char out{};
    if (c < 0x80) {
        out.bytes[0] = static_cast<char>(c);
        out.size = 1;
    } else if (c < 0x800) {
        out.bytes[0] = static_cast<char>(0xC0 | (c >> 6));
        out.bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        out.size = 2;
    } else if (c < 0x10000) {
        out.bytes[0] = static_cast<char>(0xE0 | (c >> 12));
        out.bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out.bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        out.size = 3;
    } else {
        out.bytes[0] = static_cast<char>(0xF0 | (c >> 18));
        out.bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out.bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out.bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
        out.size = 4;
    }
    return out;
}

// The length of the XML character whose UTF-8 starts at `p` (a byte from 0x80 up), of which
// `available` bytes are at hand: 0 when they are no such character, -1 when fewer bytes are at
// hand than its lead byte announces (expat calls that a partial character before it looks at
// them).
int XmlCharLength(const unsigned char* p, std::size_t available) {
    unsigned lead = p[0];
    int length = 0;
    unsigned low = 0x80, high = 0xBF;
    if (lead < 0xC2)
        return 0;
    if (lead < 0xE0) {
        length = 2;
    } else if (lead < 0xF0) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead < 0xF5) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (available < static_cast<std::size_t>(length))
        return -1;
    for (int i = 1; i < length; ++i)
        if (p[i] < (i == 1 ? low : 0x80u) || p[i] > (i == 1 ? high : 0xBFu))
            return 0;
    if (lead == 0xEF && p[1] == 0xBF && p[2] >= 0xBE)
        return 0; // U+FFFE and U+FFFF are no characters
    return length;
}

int DigitValue(int c, int base) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    // Only letters fold: a control byte must not pass for a digit ("UTF-\x18" is not "UTF-8").
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// An ASCII name where it lies at `q`, which moves past it: its key and its local name. False when
// no such name starts there.
inline bool NameInPlace(const char*& q, std::uint64_t& key, std::string_view& localName) {
    if (!(ClassOf(*q) & kNameStart))
        return false;
    const char* local = q;
    key = kKeySeed;
    do {
        if (*q == ':')
            local = q + 1;
        key = AddToKey(key, *q);
        ++q;
    } while (ClassOf(*q) & kNameChar);
    localName = std::string_view(local, static_cast<std::size_t>(q - local));
    return true;
}

enum class TagEnd { None, Open, Empty, Broken };

// What ends a start tag at `q`, moving past it: ">" or "/>"; Broken for a '/' without '>'.
inline TagEnd EndOfStartTag(const char*& q) {
    if (*q == '>') {
        ++q;
        return TagEnd::Open;
    }
    if (*q != '/')
        return TagEnd::None;
    if (q[1] != '>')
        return TagEnd::Broken;
    q += 2;
    return TagEnd::Empty;
}

// Whether expat takes a character beyond ASCII in a name (as its first when `first`). Such names
// follow the character tables of XML 1.0's fourth edition; rather than repeat them, the scanner
// asks expat, once for each character it meets, so both refuse the same names.
class NameCharacters {
public:
    bool allow(const Utf8Char& c, bool first) {
        if (c.size == 4)
            return false; // expat takes no character past the basic plane in a name
        const auto* b = reinterpret_cast<const unsigned char*>(c.bytes);
        const char32_t code = c.size == 2
                                  ? (b[0] & 0x1Fu) << 6 | (b[1] & 0x3Fu)
                                  : (b[0] & 0x0Fu) << 12 | (b[1] & 0x3Fu) << 6 | (b[2] & 0x3Fu);
        const std::size_t bit = code * 2 + first;
        if (!known_[bit]) {
            known_[bit] = true;
            allowed_[bit] = expatAllows(c.view(), first);
        }
        return allowed_[bit];
    }

private:
    static bool expatAllows(std::string_view c, bool first) {
        const std::string document = (first ? "<" : "<a") + std::string(c) + "/>";
        XML_Parser parser = XML_ParserCreate(nullptr);
        if (!parser)
            throw Error("Out of memory while reading the file");
        bool allowed = XML_Parse(parser, document.data(), static_cast<int>(document.size()),
                                 XML_TRUE) != XML_STATUS_ERROR;
        XML_ParserFree(parser);
        return allowed;
    }

    std::bitset<2 * 0x10000> known_, allowed_;
};

// A name read byte by byte: its key, its first bytes and those of its local name, as far as
// anything here needs them.
struct Name {
    void add(char c) {
        key = AddToKey(key, c);
        if (size < sizeof head)
            head[size] = c;
        ++size;
        if (c == ':') {
            localSize = 0;
        } else {
            if (localSize < sizeof local)
                local[localSize] = c;
            ++localSize;
        }
    }
    std::string_view whole() const {
        return size <= sizeof head ? std::string_view(head, size) : std::string_view();
    }
    // Empty when longer than any local name that means something here.
    std::string_view localName() const {
        return localSize <= sizeof local ? std::string_view(local, localSize) : std::string_view();
    }

    std::uint64_t key = kKeySeed;
    char head[4] = {};
    std::size_t size = 0;
    char local[3] = {};
    std::size_t localSize = 0;
};

} // namespace

// The part's bytes pass through one buffer. Markup is read in place when the buffer holds all of
// it, which is nearly always; what runs past it (a long attribute value, comment or name, the end
// of the data) is read byte by byte, so that nothing is held but the open elements' keys and the
// few attribute values a cell needs, those cut as long texts are.
class SheetScanner::Scanner {
public:
    Scanner(ByteStream& input, std::size_t bufferBytes)
        : input_(input), bufferBytes_(std::max<std::size_t>(bufferBytes, 128)),
          window_(std::max<std::size_t>(bufferBytes_ / 64, 16)),
          buffer_(new char[bufferBytes_ + 1]), p_(buffer_.get()), end_(p_) {
        *end_ = '\0';
        open_.reserve(64);
        readsPart_ = prolog();
    }

    bool readsPart() const { return readsPart_; }

    void read(SheetCells& cells) {
        cells_ = &cells;
        content();
        if (!cells.stopped())
            epilogue();
    }

private:
    // A start tag with more attributes than this is read the slow way.
    static constexpr std::size_t kFastAttributes = 16;
    // Duplicate attributes are looked for among this many of a tag, which bounds what the look
    // costs on a hostile tag of millions.
    static constexpr std::size_t kCheckedAttributes = 4096;

    // Makes at least `n` bytes (n <= half the buffer) lie ahead, unless the part ends first. Moves
    // the unread bytes to the start of the buffer, so no pointer into it survives a call, and
    // fills at least half of it, so that what is moved stays small beside what is read, however
    // little a read gives.
    bool ensure(std::size_t n) {
        std::size_t have = static_cast<std::size_t>(end_ - p_);
        if (have >= n)
            return true;
        if (ended_)
            return false;
        std::memmove(buffer_.get(), p_, have);
        p_ = buffer_.get();
        end_ = p_ + have;
        while (static_cast<std::size_t>(end_ - p_) < bufferBytes_ / 2 && !ended_) {
            std::size_t got =
                input_.read(end_, static_cast<std::size_t>(buffer_.get() + bufferBytes_ - end_));
            ended_ = got == 0;
            end_ += got;
        }
        *end_ = '\0';
        return static_cast<std::size_t>(end_ - p_) >= n;
    }

    // The next byte, or -1 at the end of the part.
    int peek() {
        if (p_ == end_ && !ensure(1))
            return -1;
        return static_cast<unsigned char>(*p_);
    }
    int peekWithin(XML_Error unclosed) {
        int c = peek();
        if (c < 0)
            Fail(unclosed);
        return c;
    }

    // 1 when the part goes on with `literal` here, -1 when it ends within a beginning of it.
    int match(std::string_view literal) {
        ensure(literal.size());
        std::string_view ahead(p_, static_cast<std::size_t>(end_ - p_));
        return ahead.starts_with(literal) ? 1 : literal.starts_with(ahead) ? -1 : 0;
    }

    bool skipSpaces() {
        bool skipped = false;
        for (;;) {
            char* q = p_;
            while (ClassOf(*q) & kSpace)
                ++q;
            skipped |= q != p_;
            p_ = q;
            if (p_ != end_ || !ensure(1))
                return skipped;
        }
    }

    Utf8Char readUtf8() {
        ensure(4);
        std::size_t available = std::min<std::size_t>(4, static_cast<std::size_t>(end_ - p_));
        int length = XmlCharLength(reinterpret_cast<const unsigned char*>(p_), available);
        if (length == 0)
            Fail(XML_ERROR_INVALID_TOKEN);
        if (length < 0)
            Fail(XML_ERROR_PARTIAL_CHAR);
        Utf8Char c{};
        std::memcpy(c.bytes, p_, static_cast<std::size_t>(length));
        c.size = static_cast<std::size_t>(length);
        p_ += length;
        return c;
    }

    Name readName() {
        Name name;
        int c = peekWithin(XML_ERROR_UNCLOSED_TOKEN);
        if (c < 0x80 && !(kClasses[c] & kNameStart))
            Fail(XML_ERROR_INVALID_TOKEN);
        for (;;) {
            c = peek();
            if (c >= 0x80) {
                Utf8Char multiByte = readUtf8();
                if (!nameCharacters_)
                    nameCharacters_ = std::make_unique<NameCharacters>();
                if (!nameCharacters_->allow(multiByte, name.size == 0))
                    Fail(XML_ERROR_INVALID_TOKEN);
                for (std::size_t i = 0; i < multiByte.size; ++i)
                    name.add(multiByte.bytes[i]);
            } else if (c >= 0 && (kClasses[c] & kNameChar)) {
                name.add(static_cast<char>(c));
                ++p_;
            } else {
                return name;
            }
        }
    }

    // At '&': the character that the reference stands for. A reference to no character or to an
    // undefined entity fails at once, or, with `deferred`, is noted there (the first such) and
    // stands for nothing.
    Utf8Char reference(XML_Error* deferred = nullptr) {
        auto refuse = [&](XML_Error code) {
            if (!deferred)
                Fail(code);
            if (*deferred == XML_ERROR_NONE)
                *deferred = code;
            return Utf8Char{};
        };
        ++p_;
        if (peekWithin(XML_ERROR_UNCLOSED_TOKEN) == '#') {
            ++p_;
            int base = 10;
            if (peekWithin(XML_ERROR_UNCLOSED_TOKEN) == 'x') {
                base = 16;
                ++p_;
            }
            char32_t value = 0;
            bool digits = false;
            int c = 0;
            for (;;) {
                c = peekWithin(XML_ERROR_UNCLOSED_TOKEN);
                int digit = DigitValue(c, base);
                if (digit < 0)
                    break;
                if (value < 0x110000) // past every character already: no overflow
                    value = value * static_cast<char32_t>(base) + static_cast<char32_t>(digit);
                digits = true;
                ++p_;
            }
            if (c != ';' || !digits)
                Fail(XML_ERROR_INVALID_TOKEN);
            ++p_;
            if (!IsXmlChar(value))
                return refuse(XML_ERROR_BAD_CHAR_REF);
            return EncodeUtf8(value);
        }
        Name name = readName();
        if (peekWithin(XML_ERROR_UNCLOSED_TOKEN) != ';')
            Fail(XML_ERROR_INVALID_TOKEN);
        ++p_;
        static constexpr std::pair<std::string_view, char> kPredefined[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
        for (const auto& [entity, c] : kPredefined)
            if (name.whole() == entity)
                return EncodeUtf8(static_cast<char32_t>(c));
        return refuse(XML_ERROR_UNDEFINED_ENTITY); // no document type declaration defines others
    }

    // Everything before the root element. False (and nothing thrown) for whatever the scanner
    // leaves to expat, which then reads the part from its start and says what is wrong, if
    // anything.
    bool prolog() {
        try {
            ensure(bufferBytes_ / 2);
            if (match("\xEF\xBB\xBF") > 0)
                p_ += 3; // UTF-8's byte order mark
            if (match("<?xml") > 0 && (ClassOf(p_[5]) & kSpace) && !declaration())
                return false;
            for (;;) {
                skipSpaces();
                if (!ensure(2) || *p_ != '<')
                    return false;
                if (p_[1] == '?') {
                    processingInstruction();
                } else if (match("<!--") > 0) {
                    comment();
                } else {
                    return (ClassOf(p_[1]) & kNameStart) ||
                           static_cast<unsigned char>(p_[1]) >= 0x80;
                }
            }
        } catch (const Error&) {
            return false;
        }
    }

    // At "<?xml ": the XML declaration, read in place. False unless it declares version 1.0 and
    // no encoding but UTF-8.
    bool declaration() {
        const char* q = p_ + 5;
        auto spaces = [&] {
            const char* from = q;
            while (ClassOf(*q) & kSpace)
                ++q;
            return q != from;
        };
        // Whether the pseudo-attribute `name` stands here; one that begins as it but is not
        // well-formed leaves the declaration to expat, which tells what is wrong with it.
        bool broken = false;
        auto pseudoAttribute = [&](std::string_view name, std::string_view& value) {
            if (!std::string_view(q, static_cast<std::size_t>(end_ - q)).starts_with(name))
                return false;
            broken = true;
            q += name.size();
            spaces();
            if (*q != '=')
                return false;
            ++q;
            spaces();
            const char quote = *q;
            if (quote != '"' && quote != '\'')
                return false;
            const char* from = ++q;
            while (*q != quote && *q != '\0')
                ++q;
            if (*q != quote)
                return false;
            value = std::string_view(from, static_cast<std::size_t>(q - from));
            ++q;
            broken = false;
            return true;
        };
        std::string_view version, encoding, standalone;
        spaces();
        if (!pseudoAttribute("version", version) || version != "1.0")
            return false;
        bool spaced = spaces();
        if (spaced && pseudoAttribute("encoding", encoding)) {
            if (!EqualsIgnoringCase(encoding, "UTF-8"))
                return false;
            spaced = spaces();
        }
        if (broken)
            return false;
        if (spaced && pseudoAttribute("standalone", standalone)) {
            if (standalone != "yes" && standalone != "no")
                return false;
            spaces();
        }
        if (broken || q[0] != '?' || q[1] != '>')
            return false;
        p_ = const_cast<char*>(q) + 2;
        return true;
    }

    void content() {
        for (;;) {
            if (p_ == end_ && !ensure(1))
                Fail(XML_ERROR_NO_ELEMENTS);
            if (*p_ != '<') {
                characterData(false);
                continue;
            }
            if (static_cast<std::size_t>(end_ - p_) < window_)
                ensure(window_);
            markup();
            if (open_.empty() || cells_->stopped())
                return;
        }
    }

    // After the root element: nothing but comments, processing instructions and spaces. Read to
    // the end, where the stream checks the part's checksum.
    void epilogue() {
        for (;;) {
            skipSpaces();
            if (p_ == end_ && !ensure(1))
                return;
            if (match("<!--") > 0)
                comment();
            else if (match("<?") > 0)
                processingInstruction();
            else
                junkAfterRoot();
        }
    }

    // Anything else after the root element is wrong; expat, given it after an element of its own,
    // says how, as it would have said reading the whole part.
    [[noreturn]] void junkAfterRoot() {
        std::unique_ptr<std::remove_pointer_t<XML_Parser>, void (*)(XML_Parser)> parser(
            XML_ParserCreate(nullptr), XML_ParserFree);
        if (!parser)
            throw Error("Out of memory while reading the file");
        XML_Status status = XML_Parse(parser.get(), "<a/>", 4, XML_FALSE);
        while (status != XML_STATUS_ERROR) {
            if (p_ == end_ && !ensure(1)) {
                status = XML_Parse(parser.get(), "", 0, XML_TRUE);
                break;
            }
            status = XML_Parse(parser.get(), p_, static_cast<int>(end_ - p_), XML_FALSE);
            p_ = end_;
        }
        Fail(status == XML_STATUS_ERROR ? XML_GetErrorCode(parser.get())
                                        : XML_ERROR_JUNK_AFTER_DOC_ELEMENT);
    }

    // At '<', with a window's bytes ahead unless the part ends sooner.
    void markup() {
        switch (p_[1]) {
        case '/':
            if (!endTagInPlace())
                endTag();
            return;
        case '?':
            processingInstruction();
            return;
        case '!': {
            // As expat judges them: "<!-" by the byte after, "<![" once all of "CDATA[" is there.
            ensure(9);
            const std::string_view ahead(p_, static_cast<std::size_t>(end_ - p_));
            if (ahead.size() < 3)
                Fail(XML_ERROR_UNCLOSED_TOKEN);
            if (ahead[2] == '[') {
                if (ahead.size() < 9)
                    Fail(XML_ERROR_UNCLOSED_TOKEN);
                if (!ahead.starts_with("<![CDATA["))
                    Fail(XML_ERROR_INVALID_TOKEN);
                characterData(true);
            } else if (ahead[2] == '-') {
                if (ahead.size() < 4)
                    Fail(XML_ERROR_UNCLOSED_TOKEN);
                if (ahead[3] != '-')
                    Fail(XML_ERROR_INVALID_TOKEN);
                comment();
            } else {
                Fail(XML_ERROR_INVALID_TOKEN);
            }
            return;
        }
        default:
            if (!(p_[1] == 'c' && cellInPlace()) && !startTagInPlace())
                startTag();
            return;
        }
    }

    // At "<c": the cell as writers write it, <c r="A1" s="3" t="s"><v>12</v></c> with its
    // attributes in any order and either quote, read in one go. False, having changed nothing,
    // for any other start tag; a cell whose content takes another shape goes on from there.
    bool cellInPlace() {
        if (open_.size() + 2 > static_cast<std::size_t>(kMaxXmlDepth))
            return false;
        const char* q = p_ + 2;
        CellStart cell;
        unsigned seen = 0;
        bool empty = false;
        for (;;) {
            if (const TagEnd tagEnd = EndOfStartTag(q); tagEnd != TagEnd::None) {
                if (tagEnd == TagEnd::Broken)
                    return false;
                empty = tagEnd == TagEnd::Empty;
                break;
            }
            if (*q != ' ')
                return false;
            const char name = q[1];
            const unsigned bit = name == 'r' ? 1 : name == 's' ? 2 : name == 't' ? 4 : 0;
            if (bit == 0 || (seen & bit) || q[2] != '=' || (q[3] != '"' && q[3] != '\''))
                return false;
            seen |= bit;
            const char quote = q[3];
            const char* value = q + 4;
            q = value;
            if (usualAttribute(cell, name, q, quote)) {
                ++q;
                continue;
            }
            q = value;
            while (!(ClassOf(*q) & kValueStop))
                ++q;
            if (*q != quote)
                return false;
            cell.add(name, std::string_view(value, static_cast<std::size_t>(q - value)));
            ++q;
        }
        if (empty || !Follows(q, end_, "<v>")) {
            p_ = const_cast<char*>(q);
            openElement(kCellKey, SheetElement::Cell, cell, RowStart(), empty);
            return true;
        }
        const char* value = q + 3;
        if (usualValue(cell, value))
            return true;
        const char* valueEnd = value;
        while (!(ClassOf(*valueEnd) & kTextStop))
            ++valueEnd;
        if (!Follows(valueEnd, end_, "</v></c>")) {
            p_ = const_cast<char*>(q);
            openElement(kCellKey, SheetElement::Cell, cell, RowStart(), false);
            return true;
        }
        p_ = const_cast<char*>(valueEnd) + 8;
        cells_->valueCell(cell,
                          std::string_view(value, static_cast<std::size_t>(valueEnd - value)));
        return true;
    }

    // An attribute of a cell's start tag in its usual form, read as it is met: a reference of
    // letters and digits, a style of a few digits, the shared-string type. False for any other
    // (then `q` is anywhere in it); true with `q` at the closing quote.
    static bool usualAttribute(CellStart& cell, char name, const char*& q, char quote) {
        switch (name) {
        case 'r': // read again in full when not usual, which sets both parts again
            cell.readReference(q, nullptr); // the NUL after the data stops it
            return *q == quote;
        case 's': {
            std::uint32_t style;
            if (!ReadShortDigits(q, nullptr, style) || *q != quote)
                return false;
            cell.style = style;
            return true;
        }
        default:
            if (q[0] != 's' || q[1] != quote)
                return false;
            cell.type = CellType::Shared;
            ++q;
            return true;
        }
    }

    // At the text of a cell's value: a number or a shared string's index closed by "</v></c>",
    // read and passed on as it is met. False, having changed nothing, for anything else.
    bool usualValue(const CellStart& cell, const char* value) {
        const char* q = value;
        if (cell.type == CellType::Number) {
            double number;
            if (!ReadShortDecimal(q, nullptr, number) || *q != '<' || !Follows(q, end_, "</v></c>"))
                return false;
            p_ = const_cast<char*>(q) + 8;
            cells_->numberCell(cell, number);
            return true;
        }
        std::uint32_t index;
        if (cell.type != CellType::Shared || !ReadShortDigits(q, nullptr, index) || *q != '<' ||
            !Follows(q, end_, "</v></c>"))
            return false;
        p_ = const_cast<char*>(q) + 8;
        cells_->sharedStringCell(cell, index);
        return true;
    }

    void openElement(std::uint64_t key, SheetElement element, const CellStart& cell,
                     const RowStart& row, bool empty) {
        if (open_.size() >= static_cast<std::size_t>(kMaxXmlDepth))
            throw Error(std::string(kNotAWorkbook) + ": " + kXmlTooDeep);
        if (element == SheetElement::Cell)
            cells_->startCell(cell);
        else if (element == SheetElement::Row)
            cells_->startRow(row);
        else
            cells_->start(element);
        if (empty)
            cells_->end(element);
        else
            open_.push_back(key);
    }

    void closeElement(std::uint64_t key, SheetElement element) {
        if (key != open_.back())
            Fail(XML_ERROR_TAG_MISMATCH);
        open_.pop_back();
        cells_->end(element);
    }

    // The common start tag, ASCII with plain attribute values, read where it lies. False, having
    // changed nothing, for anything else: startTag() reads that.
    bool startTagInPlace() {
        const char* q = p_ + 1;
        std::uint64_t key;
        std::string_view localName;
        if (!NameInPlace(q, key, localName))
            return false;
        const SheetElement element = SheetElementNamed(localName);
        CellStart cell;
        RowStart row;
        const char* names[kFastAttributes]; // left uninitialised: this runs for every tag
        std::size_t nameSizes[kFastAttributes];
        std::size_t count = 0;
        bool empty = false;
        for (;;) {
            if (const TagEnd tagEnd = EndOfStartTag(q); tagEnd != TagEnd::None) {
                if (tagEnd == TagEnd::Broken)
                    return false;
                empty = tagEnd == TagEnd::Empty;
                break;
            }
            if (!(ClassOf(*q) & kSpace))
                return false;
            do
                ++q;
            while (ClassOf(*q) & kSpace);
            if (*q == '>' || *q == '/')
                continue;
            const char* name = q;
            std::uint64_t attributeKey;
            std::string_view attributeLocal;
            if (count == kFastAttributes || !NameInPlace(q, attributeKey, attributeLocal))
                return false;
            names[count] = name;
            nameSizes[count] = static_cast<std::size_t>(q - name);
            for (std::size_t i = 0; i < count; ++i)
                if (nameSizes[i] == nameSizes[count] &&
                    std::memcmp(names[i], name, nameSizes[i]) == 0)
                    return false; // a duplicate: the slow way reports it
            ++count;
            while (ClassOf(*q) & kSpace)
                ++q;
            if (*q != '=')
                return false;
            do
                ++q;
            while (ClassOf(*q) & kSpace);
            const char quote = *q;
            if (quote != '"' && quote != '\'')
                return false;
            const char* value = ++q;
            for (;;) {
                while (!(ClassOf(*q) & kValueStop))
                    ++q;
                if (*q == quote)
                    break;
                if (*q != '"' && *q != '\'')
                    return false;
                ++q;
            }
            const std::string_view valueView(value, q - value);
            ++q;
            if (element == SheetElement::Cell)
                cell.add(attributeLocal, valueView);
            else if (element == SheetElement::Row)
                row.add(attributeLocal, valueView);
        }
        p_ = const_cast<char*>(q);
        openElement(key, element, cell, row, empty);
        return true;
    }

    // Any start tag, however long, byte by byte. As expat, it tells what is wrong with the form of
    // the tag before what is wrong with its attributes (a duplicate, a bad reference in a value).
    void startTag() {
        ++p_;
        const Name name = readName();
        const SheetElement element = SheetElementNamed(name.localName());
        CellStart cell;
        RowStart row;
        attributeKeys_.clear();
        XML_Error deferred = XML_ERROR_NONE;
        bool empty = false;
        for (;;) {
            bool spaced = skipSpaces();
            int c = peekWithin(XML_ERROR_UNCLOSED_TOKEN);
            if (c == '>') {
                ++p_;
                break;
            }
            if (c == '/') {
                ++p_;
                if (peekWithin(XML_ERROR_UNCLOSED_TOKEN) != '>')
                    Fail(XML_ERROR_INVALID_TOKEN);
                ++p_;
                empty = true;
                break;
            }
            if (!spaced)
                Fail(XML_ERROR_INVALID_TOKEN);
            const Name attribute = readName();
            if (attributeKeys_.size() < kCheckedAttributes &&
                !attributeKeys_.insert(attribute.key).second && deferred == XML_ERROR_NONE)
                deferred = XML_ERROR_DUPLICATE_ATTRIBUTE;
            skipSpaces();
            if (peekWithin(XML_ERROR_UNCLOSED_TOKEN) != '=')
                Fail(XML_ERROR_INVALID_TOKEN);
            ++p_;
            skipSpaces();
            const int quote = peekWithin(XML_ERROR_UNCLOSED_TOKEN);
            if (quote != '"' && quote != '\'')
                Fail(XML_ERROR_INVALID_TOKEN);
            ++p_;
            const std::string_view localName = attribute.localName();
            const bool wanted = (element == SheetElement::Cell && localName.size() == 1) ||
                                (element == SheetElement::Row && !row.seen && localName == "r");
            value_.clear();
            attributeValue(static_cast<char>(quote), wanted, deferred);
            if (element == SheetElement::Cell && wanted)
                cell.add(localName, value_);
            else if (wanted)
                row.add(localName, value_);
        }
        if (deferred != XML_ERROR_NONE)
            Fail(deferred);
        openElement(name.key, element, cell, row, empty);
    }

    // After the opening quote: the value as XML gives it to an application (references replaced,
    // each white-space character a space), kept in value_ when `keep`.
    void attributeValue(char quote, bool keep, XML_Error& deferred) {
        auto add = [&](std::string_view bytes) {
            if (keep)
                AppendBounded(value_, bytes);
        };
        for (;;) {
            char* q = p_;
            while (!(ClassOf(*q) & kValueStop))
                ++q;
            add(std::string_view(p_, static_cast<std::size_t>(q - p_)));
            p_ = q;
            if (p_ == end_) {
                if (!ensure(1))
                    Fail(XML_ERROR_UNCLOSED_TOKEN);
                continue;
            }
            const char c = *p_;
            if (c == quote) {
                ++p_;
                return;
            }
            switch (c) {
            case '"':
            case '\'':
                add(std::string_view(p_++, 1));
                break;
            case '&':
                add(reference(&deferred).view());
                break;
            case '\t':
            case '\n':
                add(" ");
                ++p_;
                break;
            case '\r':
                add(" ");
                ++p_;
                if (ensure(1) && *p_ == '\n')
                    ++p_;
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x80)
                    Fail(XML_ERROR_INVALID_TOKEN); // '<' or a control code
                add(readUtf8().view());
                break;
            }
        }
    }

    bool endTagInPlace() {
        const char* q = p_ + 2;
        std::uint64_t key;
        std::string_view localName;
        if (!NameInPlace(q, key, localName))
            return false;
        while (ClassOf(*q) & kSpace)
            ++q;
        if (*q != '>')
            return false;
        p_ = const_cast<char*>(q) + 1;
        closeElement(key, SheetElementNamed(localName));
        return true;
    }

    void endTag() {
        p_ += 2;
        const Name name = readName();
        skipSpaces();
        if (peekWithin(XML_ERROR_UNCLOSED_TOKEN) != '>')
            Fail(XML_ERROR_INVALID_TOKEN);
        ++p_;
        closeElement(name.key, SheetElementNamed(name.localName()));
    }

    // Character data up to the next markup, or at "<![CDATA[" a CDATA section to its end: passed
    // on only while a cell collects it.
    void characterData(bool cdata) {
        const std::uint8_t stop = cdata ? kCDataStop : kTextStop;
        const bool keep = cells_->collecting();
        auto add = [&](std::string_view bytes) {
            if (keep)
                cells_->characters(bytes);
        };
        if (cdata)
            p_ += 9;
        for (;;) {
            char* q = p_;
            while (!(ClassOf(*q) & stop))
                ++q;
            if (q != p_)
                add(std::string_view(p_, static_cast<std::size_t>(q - p_)));
            p_ = q;
            if (p_ == end_) {
                if (!ensure(1)) {
                    if (cdata)
                        Fail(XML_ERROR_UNCLOSED_CDATA_SECTION);
                    return; // the caller says what is missing
                }
                continue;
            }
            switch (*p_) {
            case '<': // not in a CDATA section's stop set, nor '&'
                return;
            case '&':
                add(reference().view());
                break;
            case '\r':
                add("\n");
                ++p_;
                if (ensure(1) && *p_ == '\n')
                    ++p_;
                break;
            case ']':
                if (ensure(3) && p_[1] == ']' && p_[2] == '>') {
                    if (!cdata)
                        Fail(XML_ERROR_INVALID_TOKEN);
                    p_ += 3;
                    return;
                }
                add("]");
                ++p_;
                break;
            default:
                if (static_cast<unsigned char>(*p_) < 0x80)
                    Fail(XML_ERROR_INVALID_TOKEN); // a control code
                add(readUtf8().view());
                break;
            }
        }
    }

    // At "<!--".
    void comment() {
        p_ += 4;
        skipPast(kCommentStop, "-->");
    }

    // At "<?".
    void processingInstruction() {
        p_ += 2;
        const Name target = readName();
        // A declaration out of place is told once it is whole, as expat tells it.
        const bool declaration = target.whole() == "xml";
        if (!declaration && EqualsIgnoringCase(target.whole(), "xml"))
            Fail(XML_ERROR_INVALID_TOKEN); // reserved
        if (skipSpaces()) {
            skipPast(kPIStop, "?>");
        } else {
            if (peekWithin(XML_ERROR_UNCLOSED_TOKEN) != '?')
                Fail(XML_ERROR_INVALID_TOKEN);
            ++p_;
            if (peekWithin(XML_ERROR_UNCLOSED_TOKEN) != '>')
                Fail(XML_ERROR_INVALID_TOKEN);
            ++p_;
        }
        if (declaration)
            Fail(XML_ERROR_MISPLACED_XML_PI);
    }

    // Past what carries nothing for a cell, to the `end` of it ("-->" of a comment, which may hold
    // no "--" before, "?>" of a processing instruction), its characters checked all the same.
    void skipPast(std::uint8_t stop, std::string_view end) {
        for (;;) {
            char* q = p_;
            while (!(ClassOf(*q) & stop))
                ++q;
            p_ = q;
            if (p_ == end_) {
                if (!ensure(1))
                    Fail(XML_ERROR_UNCLOSED_TOKEN);
                continue;
            }
            if (*p_ == end[0]) {
                if (!ensure(end.size()))
                    Fail(XML_ERROR_UNCLOSED_TOKEN);
                if (std::string_view(p_, end.size()) == end) {
                    p_ += end.size();
                    return;
                }
                if (end == "-->" && p_[1] == '-')
                    Fail(XML_ERROR_INVALID_TOKEN);
                ++p_;
                continue;
            }
            if (static_cast<unsigned char>(*p_) < 0x80)
                Fail(XML_ERROR_INVALID_TOKEN); // a control code
            readUtf8();
        }
    }

    ByteStream& input_;
    const std::size_t bufferBytes_;
    // Markup is read in place when this much of the part lies ahead in the buffer.
    const std::size_t window_;
    std::unique_ptr<char[]> buffer_; // the bytes ahead, then a NUL
    char* p_;
    char* end_;
    bool ended_ = false;
    bool readsPart_ = false;
    SheetCells* cells_ = nullptr;
    std::vector<std::uint64_t> open_; // keys of the open elements, the innermost last
    std::string value_;               // an attribute value a cell needs, read the slow way
    std::unordered_set<std::uint64_t> attributeKeys_;
    std::unique_ptr<NameCharacters> nameCharacters_; // made when a name first goes past ASCII
};

SheetScanner::SheetScanner(ByteStream& input, std::size_t bufferBytes)
    : scanner_(std::make_unique<Scanner>(input, bufferBytes)) {}

SheetScanner::~SheetScanner() = default;

bool SheetScanner::readsPart() const {
    return scanner_->readsPart();
}

void SheetScanner::read(SheetCells& cells) {
    scanner_->read(cells);
}

namespace {

// A shared-string table read in its plain form through a buffer that holds at least one whole
// piece (the prolog, an item), which is taken again from its start when the buffer ends within
// it. The buffer doubles for a piece longer than it, up to kMaxPieceBytes; a longer one is left
// to the general parser, as is everything that is not plain.
class PlainTable {
public:
    PlainTable(ByteStream& input, std::size_t bufferBytes)
        : input_(input), capacity_(std::max(bufferBytes, 2 * kMargin)),
          buffer_(std::make_unique_for_overwrite<char[]>(capacity_)), p_(buffer_.get()), end_(p_) {}

    bool read(StringPool& strings) {
        if (!whole([&] { return prolog(); }))
            return false;
        std::string text;
        for (;;) {
            if (near())
                fill();
            if (skip("</sst>"))
                break;
            if (!whole([&] { return item(text, strings); }))
                return false;
        }
        for (;;) {
            skipSpaces();
            if (p_ != end_)
                return false;
            if (ended_)
                return true;
            fill();
        }
    }

private:
    // No check of the markup looks further ahead than this: one that fails further from the end
    // of the buffer than this fails whatever follows.
    static constexpr std::size_t kMargin = 64;
    static constexpr std::size_t kMaxPieceBytes = 16 << 20;

    enum class Outcome { Taken, Refused, Short }; // Short: more bytes may make it Taken

    template <typename Piece> bool whole(Piece piece) {
        for (;;) {
            if (near())
                fill();
            char* const start = p_;
            const Outcome outcome = piece();
            if (outcome != Outcome::Short)
                return outcome == Outcome::Taken;
            p_ = start;
            if (!fill())
                return false;
        }
    }

    bool near() const { return !ended_ && static_cast<std::size_t>(end_ - p_) < kMargin; }
    Outcome failed() const { return near() ? Outcome::Short : Outcome::Refused; }

    // Moves the bytes from p_ on to the start of the buffer, doubling it when they fill it, and
    // reads after them until it is full or the table ends. False when the buffer may not grow.
    bool fill() {
        const auto kept = static_cast<std::size_t>(end_ - p_);
        if (kept == capacity_) {
            if (capacity_ >= kMaxPieceBytes)
                return false;
            auto larger = std::make_unique_for_overwrite<char[]>(2 * capacity_);
            std::memcpy(larger.get(), p_, kept);
            buffer_ = std::move(larger);
            capacity_ *= 2;
        } else {
            std::memmove(buffer_.get(), p_, kept);
        }
        p_ = buffer_.get();
        end_ = p_ + kept;
        while (!ended_ && end_ != p_ + capacity_) {
            const std::size_t got =
                input_.read(end_, static_cast<std::size_t>(p_ + capacity_ - end_));
            ended_ = got == 0;
            end_ += got;
        }
        return true;
    }

    bool skip(std::string_view literal) {
        if (static_cast<std::size_t>(end_ - p_) < literal.size() ||
            std::memcmp(p_, literal.data(), literal.size()) != 0)
            return false;
        p_ += literal.size();
        return true;
    }

    bool skipSpaces() {
        const char* from = p_;
        while (p_ != end_ && (ClassOf(*p_) & kSpace))
            ++p_;
        return p_ != from;
    }

    // The declaration and the root's start tag, whose attributes have plain names and printable
    // values, each name once.
    Outcome prolog() {
        skip("\xEF\xBB\xBF"); // UTF-8's byte order mark
        if (!skip(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"))
            skip(R"(<?xml version="1.0" encoding="UTF-8"?>)");
        skipSpaces();
        if (!skip("<sst"))
            return failed();
        std::string_view names[8];
        std::size_t count = 0;
        while (!skip(">")) {
            if (!skipSpaces() || p_ == end_ || !(ClassOf(*p_) & kNameStart) ||
                count == std::size(names))
                return failed();
            const char* name = p_;
            while (p_ != end_ && (ClassOf(*p_) & kNameChar))
                ++p_;
            names[count] = std::string_view(name, static_cast<std::size_t>(p_ - name));
            if (std::find(names, names + count, names[count]) != names + count)
                return Outcome::Refused;
            ++count;
            if (!skip("=\"") && !skip("='"))
                return failed();
            const char quote = p_[-1];
            while (p_ != end_ && *p_ != quote && *p_ >= 0x20 && *p_ < 0x7F && *p_ != '<' &&
                   *p_ != '&')
                ++p_;
            if (!skip(std::string_view(&quote, 1)))
                return failed();
        }
        return Outcome::Taken;
    }

    // <si><t>one run of text</t></si>, its text added to `strings`.
    Outcome item(std::string& text, StringPool& strings) {
        if (!skip("<si><t>") && !skip(R"(<si><t xml:space="preserve">)"))
            return failed();
        text.clear();
        const char* run = p_; // plain bytes not yet added
        for (;;) {
            while (p_ != end_ && !(ClassOf(*p_) & kTextStop))
                ++p_;
            if (p_ == end_ || *p_ == '<')
                break;
            if (near())
                return Outcome::Short; // a reference or a character may be cut
            if (*p_ == '&') {
                AppendBounded(text, std::string_view(run, static_cast<std::size_t>(p_ - run)));
                static constexpr std::pair<std::string_view, std::string_view> kEntities[] = {
                    {"&amp;", "&"},
                    {"&lt;", "<"},
                    {"&gt;", ">"},
                    {"&quot;", "\""},
                    {"&apos;", "'"}};
                const auto entity = std::find_if(std::begin(kEntities), std::end(kEntities),
                                                 [&](const auto& e) { return skip(e.first); });
                if (entity == std::end(kEntities))
                    return Outcome::Refused; // a character reference, or no reference at all
                AppendBounded(text, entity->second);
                run = p_;
                continue;
            }
            if (*p_ == ']') {
                if (end_ - p_ >= 3 && p_[1] == ']' && p_[2] == '>')
                    return Outcome::Refused; // not allowed in text
                ++p_;
                continue;
            }
            const int length = static_cast<unsigned char>(*p_) < 0x80
                                   ? 0 // a carriage return (normalised) or a control code
                                   : XmlCharLength(reinterpret_cast<const unsigned char*>(p_),
                                                   static_cast<std::size_t>(end_ - p_));
            if (length <= 0)
                return Outcome::Refused;
            p_ += length;
        }
        const std::string_view last(run, static_cast<std::size_t>(p_ - run));
        if (!skip("</t></si>"))
            return failed();
        // Most strings are one plain run that nothing changes: taken as they lie.
        if (text.empty() && last.size() <= kMaxCellChars && last.find("_x") == last.npos) {
            strings.add(last);
            return Outcome::Taken;
        }
        AppendBounded(text, last);
        FinishText(text);
        strings.add(text);
        return Outcome::Taken;
    }

    ByteStream& input_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    char* p_;
    char* end_;
    bool ended_ = false;
};

} // namespace

bool ReadPlainSharedStrings(ByteStream& input, StringPool& pool, std::size_t bufferBytes) {
    if (pool.size() != 0)
        return false; // a second table adds to the first, which the general parser does
    if (PlainTable(input, bufferBytes).read(pool))
        return true;
    pool.clear();
    return false;
}

} // namespace gq
