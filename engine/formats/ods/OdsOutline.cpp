#include "OdsOutline.h"

#include "Error.h"
#include "OdsDataStyles.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string.h>
#include <strings.h>

namespace gq::ods {

std::string_view LocalName(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(name);
}

const char* Attr(const char** attributes, std::string_view name) {
    const char* fallback = nullptr;
    for (; *attributes; attributes += 2) {
        if (LocalName(attributes[0]) != name)
            continue;
        std::string_view qualified(attributes[0]);
        if (qualified.starts_with("calcext:") || qualified.starts_with("loext:"))
            fallback = fallback ? fallback : attributes[1];
        else
            return attributes[1];
    }
    return fallback;
}

namespace {

std::string AttrString(const char** attributes, std::string_view name) {
    const char* value = Attr(attributes, name);
    return value ? std::string(value) : std::string();
}

} // namespace

// ---- ExpatDriver

ExpatDriver::ExpatDriver(Events& events) : events_(events), parser_(XML_ParserCreate(nullptr)) {
    if (!parser_)
        throw Error("Out of memory while reading the file");
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &ExpatDriver::onStart, &ExpatDriver::onEnd);
    XML_SetCharacterDataHandler(parser_, &ExpatDriver::onText);
    XML_SetXmlDeclHandler(parser_, [](void* data, const XML_Char*, const XML_Char* encoding, int) {
        auto* self = static_cast<ExpatDriver*>(data);
        self->utf8_ = !encoding || strcasecmp(encoding, "UTF-8") == 0;
    });
    XML_SetStartDoctypeDeclHandler(parser_,
                                   [](void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                                      int) { static_cast<ExpatDriver*>(data)->doctype_ = true; });
}

ExpatDriver::~ExpatDriver() {
    XML_ParserFree(parser_);
}

bool ExpatDriver::run(ByteStream& input) {
    if (finished_)
        return false;
    if (suspended_) {
        suspended_ = false;
        if (settle(XML_ResumeParser(parser_)))
            return true;
        if (finished_ || final_) {
            finished_ = true;
            return false;
        }
    }
    constexpr int kChunk = 1 << 16;
    for (;;) {
        void* buffer = XML_GetBuffer(parser_, kChunk);
        if (!buffer)
            throw Error("Out of memory while reading the file");
        std::size_t got = input.read(static_cast<char*>(buffer), kChunk);
        final_ = got == 0;
        if (settle(XML_ParseBuffer(parser_, static_cast<int>(got), final_)))
            return true;
        if (finished_ || final_) {
            finished_ = true;
            return false;
        }
    }
}

void ExpatDriver::pause() {
    XML_StopParser(parser_, XML_TRUE);
}

void ExpatDriver::finish() {
    finished_ = true;
    XML_StopParser(parser_, XML_FALSE);
}

std::uint64_t ExpatDriver::byteIndex() const {
    XML_Index index = XML_GetCurrentByteIndex(parser_);
    return index < 0 ? 0 : static_cast<std::uint64_t>(index);
}

// True when the parse is suspended; throws on malformed XML or a failed event.
bool ExpatDriver::settle(int status) {
    if (status == XML_STATUS_SUSPENDED)
        return suspended_ = true;
    if (status != XML_STATUS_ERROR)
        return false;
    if (failure_) {
        finished_ = true;
        std::rethrow_exception(failure_);
    }
    if (finished_ && XML_GetErrorCode(parser_) == XML_ERROR_ABORTED)
        return false;
    finished_ = true;
    throw Error(std::string(kNotAWorkbook) + ": " + XML_ErrorString(XML_GetErrorCode(parser_)));
}

// Exceptions must not unwind through expat's C frames: they are kept and rethrown by run().
void ExpatDriver::fail() {
    failure_ = std::current_exception();
    XML_StopParser(parser_, XML_FALSE);
}

void ExpatDriver::onStart(void* data, const char* name, const char** attributes) {
    auto* self = static_cast<ExpatDriver*>(data);
    if (self->finished_ || self->failure_)
        return;
    try {
        self->events_.start(LocalName(name), name, attributes);
    } catch (...) {
        self->fail();
    }
}

void ExpatDriver::onEnd(void* data, const char* name) {
    auto* self = static_cast<ExpatDriver*>(data);
    if (self->finished_ || self->failure_)
        return;
    try {
        self->events_.end(LocalName(name));
    } catch (...) {
        self->fail();
    }
}

void ExpatDriver::onText(void* data, const char* text, int length) {
    auto* self = static_cast<ExpatDriver*>(data);
    if (self->finished_ || self->failure_)
        return;
    try {
        self->events_.text(std::string_view(text, static_cast<std::size_t>(length)));
    } catch (...) {
        self->fail();
    }
}

// ---- Tokenizer

namespace {

// Byte classes for the scans: a scan runs over bytes of class 0 and stops at anything else, the
// 0 that follows the buffered data included.
struct ByteClasses {
    unsigned char text[256] = {};
    unsigned char value[256] = {};
    unsigned char name[256] = {}; // 1 a name byte, 2 the lead byte of a multi-byte character
};

constexpr ByteClasses MakeByteClasses() {
    ByteClasses classes;
    for (int c = 0; c < 256; ++c) {
        bool control = c < 0x20 && c != '\t' && c != '\n';
        classes.text[c] = control || c == '\r' || c == '<' || c == '&' || c == ']' || c >= 0x80;
        classes.value[c] = c < 0x20 || c == '<' || c == '&' || c == '"' || c == '\'' || c >= 0x80;
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool digit = c >= '0' && c <= '9';
        classes.name[c] =
            c >= 0x80 ? 2 : (letter || digit || c == '.' || c == '-' || c == '_' || c == ':');
    }
    return classes;
}

constexpr ByteClasses kBytes = MakeByteClasses();

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameStart(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == ':' || u >= 0x80;
}

[[noreturn]] void Malformed(const char* what) {
    throw Error(std::string(kNotAWorkbook) + ": " + what);
}

constexpr const char* kInvalidToken = "not well-formed (invalid token)";

// The length of the UTF-8 character at `p` that XML allows (no surrogate, no U+FFFE or U+FFFF,
// nothing overlong); 0 when it is invalid, -1 when it runs past `end`.
int Utf8Length(const char* p, const char* end) {
    auto at = [&](int i) { return static_cast<unsigned char>(p[i]); };
    const unsigned char lead = at(0);
    int n = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (n == 0)
        return 0;
    if (end - p < n)
        return -1;
    for (int i = 1; i < n; ++i)
        if ((at(i) & 0xC0) != 0x80)
            return 0;
    if (n == 3 && ((lead == 0xE0 && at(1) < 0xA0) || (lead == 0xED && at(1) >= 0xA0) ||
                   (lead == 0xEF && at(1) == 0xBF && at(2) >= 0xBE)))
        return 0;
    if (n == 4 && ((lead == 0xF0 && at(1) < 0x90) || (lead == 0xF4 && at(1) >= 0x90)))
        return 0;
    return n;
}

std::size_t PutUtf8(std::uint32_t code, char* out) {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

// Decodes the reference at `p` ('&') into `out`, which may overlap it: the decoded form is never
// longer. Returns the bytes the reference takes, or 0 when it may go on past `end` and more input
// is to come.
std::size_t DecodeReference(const char* p, const char* end, bool final, char* out,
                            std::size_t& written) {
    // Longer references than this are leading zeros no writer puts.
    constexpr std::ptrdiff_t kLongest = 32;
    const char* limit = end - p > kLongest ? p + kLongest : end;
    const auto* semicolon =
        static_cast<const char*>(std::memchr(p + 1, ';', static_cast<std::size_t>(limit - p - 1)));
    if (!semicolon) {
        if (!final && end - p <= kLongest)
            return 0;
        Malformed(kInvalidToken);
    }
    std::string_view ref(p + 1, static_cast<std::size_t>(semicolon - p - 1));
    const std::size_t taken = ref.size() + 2;
    char named = ref == "amp"    ? '&'
                 : ref == "lt"   ? '<'
                 : ref == "gt"   ? '>'
                 : ref == "quot" ? '"'
                 : ref == "apos" ? '\''
                                 : 0;
    if (named) {
        out[0] = named;
        written = 1;
        return taken;
    }
    if (!ref.starts_with('#')) {
        if (ref.empty() || !IsNameStart(ref[0]))
            Malformed(kInvalidToken);
        for (char c : ref)
            if (!kBytes.name[static_cast<unsigned char>(c)])
                Malformed(kInvalidToken);
        Malformed("undefined entity");
    }
    bool hex = ref.size() > 1 && ref[1] == 'x';
    std::string_view digits = ref.substr(hex ? 2 : 1);
    if (digits.empty())
        Malformed(kInvalidToken);
    std::uint32_t code = 0;
    for (char c : digits) {
        unsigned digit = c >= '0' && c <= '9'          ? static_cast<unsigned>(c - '0')
                         : hex && c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                         : hex && c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                                       : 99;
        if (digit == 99)
            Malformed(kInvalidToken);
        code = std::min<std::uint32_t>(code * (hex ? 16 : 10) + digit, 0x110000);
    }
    bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                   (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed)
        Malformed("reference to invalid character number");
    written = PutUtf8(code, out);
    return taken;
}

// Checks the characters of a comment, a processing instruction or a CDATA section; with
// `normalise`, line ends become "\n" in place. Returns the new end.
std::size_t CheckCharacters(char* b, std::size_t from, std::size_t to, bool normalise) {
    std::size_t w = from;
    for (std::size_t r = from; r < to;) {
        auto c = static_cast<unsigned char>(b[r]);
        if (c >= 0x80) {
            int n = Utf8Length(b + r, b + to);
            if (n <= 0)
                Malformed(kInvalidToken);
            for (int i = 0; i < n; ++i)
                b[w++] = b[r++];
            continue;
        }
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            Malformed(kInvalidToken);
        if (c == '\r' && normalise) {
            b[w++] = '\n';
            r += r + 1 < to && b[r + 1] == '\n' ? 2 : 1;
            continue;
        }
        b[w++] = b[r++];
    }
    return w;
}

std::string_view LocalPart(std::string_view name) {
    std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

} // namespace

constexpr std::size_t kTokenizerChunk = 1 << 18;

Tokenizer::Tokenizer(Events& events) : events_(events), buffer_(kTokenizerChunk + 1, '\0') {}

// Keeps what is not yet consumed and reads at least as much again behind it: a token that did
// not fit is rescanned a number of times logarithmic in its size.
bool Tokenizer::fill(ByteStream& input) {
    if (eof_)
        return false;
    if (pos_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
        base_ += pos_;
        end_ -= pos_;
        pos_ = 0;
    }
    if (end_ > kMaxMarkup)
        Malformed("a tag, comment or CDATA section is far too long");
    if (buffer_.size() - 1 < end_ + std::max(end_, kTokenizerChunk / 2))
        buffer_.resize(end_ + std::max(end_, kTokenizerChunk) + 1);
    const std::size_t kept = end_;
    while (end_ - kept < std::max<std::size_t>(kept, 1) && end_ + 1 < buffer_.size()) {
        std::size_t got = input.read(buffer_.data() + end_, buffer_.size() - 1 - end_);
        if (got == 0) {
            eof_ = true;
            break;
        }
        end_ += got;
    }
    buffer_[end_] = 0;
    return end_ > kept;
}

bool Tokenizer::run(ByteStream& input) {
    if (finished_)
        return false;
    paused_ = false;
    try {
        if (pendingEnd_) {
            pendingEnd_ = false;
            emitEnd();
            if (finished_)
                return false;
            if (paused_)
                return true;
        }
        for (;;) {
            if (pos_ == end_ && !fill(input)) {
                if (!rootClosed_)
                    Malformed(nameStarts_.empty() ? "no element found" : "unclosed token");
                finished_ = true;
                return false;
            }
            if (token() == Step::More) {
                if (!fill(input))
                    Malformed("unclosed token");
                continue;
            }
            if (finished_)
                return false;
            if (paused_)
                return true;
        }
    } catch (...) {
        finished_ = true;
        throw;
    }
}

Tokenizer::Step Tokenizer::token() {
    markupStart_ = pos_;
    const char* b = buffer_.data();
    if (b[pos_] != '<')
        return text();
    if (pos_ + 1 == end_)
        return Step::More;
    char next = b[pos_ + 1];
    if (next == '/')
        return endTag();
    if (next == '!' || next == '?')
        return special();
    return startTag();
}

Tokenizer::Step Tokenizer::text() {
    char* b = buffer_.data();
    const std::size_t start = pos_;
    std::size_t r = pos_;
    if (nameStarts_.empty()) {
        while (r < end_ && IsSpace(b[r]))
            ++r;
        if (r < end_ && b[r] != '<')
            Malformed(rootClosed_ ? "junk after document element" : "syntax error");
        pos_ = r;
        return Step::Done;
    }
    std::size_t w = pos_;
    for (;;) {
        const std::size_t plain = r;
        while (!kBytes.text[static_cast<unsigned char>(b[r])])
            ++r;
        if (w != plain)
            std::memmove(b + w, b + plain, r - plain);
        w += r - plain;
        if (r == end_ || b[r] == '<')
            break;
        const auto c = static_cast<unsigned char>(b[r]);
        if (c == '&') {
            std::size_t written = 0;
            std::size_t taken = DecodeReference(b + r, b + end_, eof_, b + w, written);
            if (taken == 0)
                break;
            r += taken;
            w += written;
        } else if (c == '\r') {
            if (r + 1 == end_ && !eof_)
                break;
            b[w++] = '\n';
            r += b[r + 1] == '\n' ? 2 : 1;
        } else if (c == ']') {
            if (end_ - r < 3 && !eof_ && (r + 1 == end_ || b[r + 1] == ']'))
                break;
            if (b[r + 1] == ']' && b[r + 2] == '>')
                Malformed(kInvalidToken);
            b[w++] = b[r++];
        } else if (c >= 0x80) {
            int n = Utf8Length(b + r, b + end_);
            if (n < 0 && !eof_)
                break;
            if (n <= 0)
                Malformed(kInvalidToken);
            for (int i = 0; i < n; ++i)
                b[w++] = b[r++];
        } else {
            Malformed(kInvalidToken);
        }
    }
    if (r == start)
        return Step::More;
    pos_ = r;
    if (w > start)
        events_.text(std::string_view(b + start, w - start));
    return Step::Done;
}

Tokenizer::Step Tokenizer::startTag() {
    char* b = buffer_.data();
    if (rootClosed_)
        Malformed("junk after document element");
    // Scans a name from `q`; false when it may go on past the data.
    auto scanName = [&](std::size_t& q) {
        if (!IsNameStart(b[q]))
            Malformed(kInvalidToken);
        for (;;) {
            while (kBytes.name[static_cast<unsigned char>(b[q])] == 1)
                ++q;
            if (kBytes.name[static_cast<unsigned char>(b[q])] != 2)
                return q < end_;
            int n = Utf8Length(b + q, b + end_);
            if (n < 0)
                return false;
            if (n == 0)
                Malformed(kInvalidToken);
            q += static_cast<std::size_t>(n);
        }
    };
    auto skipSpace = [&](std::size_t& q) {
        std::size_t from = q;
        while (IsSpace(b[q]))
            ++q;
        return q > from;
    };

    const std::size_t name = pos_ + 1;
    std::size_t q = name;
    if (!scanName(q))
        return Step::More;
    const std::size_t nameEnd = q;
    found_.clear();
    bool empty = false;
    for (;;) {
        bool spaced = skipSpace(q);
        if (q == end_)
            return Step::More;
        if (b[q] == '>') {
            ++q;
            break;
        }
        if (b[q] == '/') {
            if (q + 1 == end_)
                return Step::More;
            if (b[q + 1] != '>')
                Malformed(kInvalidToken);
            q += 2;
            empty = true;
            break;
        }
        if (!spaced)
            Malformed(kInvalidToken);
        Attribute attribute{};
        attribute.name = q;
        if (!scanName(q))
            return Step::More;
        attribute.nameEnd = q;
        skipSpace(q);
        if (q == end_)
            return Step::More;
        if (b[q++] != '=')
            Malformed(kInvalidToken);
        skipSpace(q);
        if (q == end_)
            return Step::More;
        const char quote = b[q];
        if (quote != '"' && quote != '\'')
            Malformed(kInvalidToken);
        attribute.value = ++q;
        for (;;) {
            while (!kBytes.value[static_cast<unsigned char>(b[q])])
                ++q;
            if (q == end_)
                return Step::More;
            const auto c = static_cast<unsigned char>(b[q]);
            if (c == static_cast<unsigned char>(quote))
                break;
            if (c == '"' || c == '\'') {
                ++q;
            } else if (c == '&' || c == '\t' || c == '\n' || c == '\r') {
                attribute.decode = true;
                ++q;
            } else if (c >= 0x80) {
                int n = Utf8Length(b + q, b + end_);
                if (n < 0)
                    return Step::More;
                if (n == 0)
                    Malformed(kInvalidToken);
                q += static_cast<std::size_t>(n);
            } else {
                Malformed(kInvalidToken);
            }
        }
        attribute.valueEnd = q++;
        found_.push_back(attribute);
    }

    // The whole tag is in the buffer: check it, then decode it in place.
    auto nameOf = [&](const Attribute& a) {
        return std::string_view(b + a.name, a.nameEnd - a.name);
    };
    if (found_.size() <= 16) {
        for (std::size_t i = 0; i < found_.size(); ++i)
            for (std::size_t j = i + 1; j < found_.size(); ++j)
                if (nameOf(found_[i]) == nameOf(found_[j]))
                    Malformed("duplicate attribute");
    } else {
        std::vector<std::string_view> names;
        for (const Attribute& a : found_)
            names.push_back(nameOf(a));
        std::sort(names.begin(), names.end());
        if (std::adjacent_find(names.begin(), names.end()) != names.end())
            Malformed("duplicate attribute");
    }
    if (nameStarts_.size() >= kMaxDepth)
        Malformed("elements nested far too deeply");
    std::string_view qualified(b + name, nameEnd - name);
    b[nameEnd] = 0;
    attributes_.clear();
    for (const Attribute& a : found_) {
        b[a.nameEnd] = 0;
        b[a.decode ? decodeValue(a.value, a.valueEnd) : a.valueEnd] = 0;
        attributes_.push_back(b + a.name);
        attributes_.push_back(b + a.value);
    }
    attributes_.push_back(nullptr);
    nameStarts_.push_back(names_.size());
    names_.append(qualified);
    pos_ = q;
    events_.start(LocalPart(qualified), b + name, attributes_.data());
    if (empty && !finished_) {
        if (paused_)
            pendingEnd_ = true;
        else
            emitEnd();
    }
    return Step::Done;
}

// Attribute values: references resolved, each white-space character a space ("\r\n" one).
std::size_t Tokenizer::decodeValue(std::size_t begin, std::size_t end) {
    char* b = buffer_.data();
    std::size_t w = begin;
    for (std::size_t r = begin; r < end;) {
        char c = b[r];
        if (c == '&') {
            std::size_t written = 0;
            r += DecodeReference(b + r, b + end, true, b + w, written);
            w += written;
        } else if (c == '\r') {
            b[w++] = ' ';
            r += r + 1 < end && b[r + 1] == '\n' ? 2 : 1;
        } else {
            b[w++] = c == '\t' || c == '\n' ? ' ' : c;
            ++r;
        }
    }
    return w;
}

Tokenizer::Step Tokenizer::endTag() {
    const char* b = buffer_.data();
    const std::size_t name = pos_ + 2;
    const auto* close = static_cast<const char*>(std::memchr(b + name, '>', end_ - name));
    if (!close)
        return Step::More;
    if (nameStarts_.empty())
        Malformed(kInvalidToken);
    std::string_view open(names_.data() + nameStarts_.back(), names_.size() - nameStarts_.back());
    const auto closeAt = static_cast<std::size_t>(close - b);
    if (closeAt - name < open.size() || std::memcmp(b + name, open.data(), open.size()) != 0)
        Malformed("mismatched tag");
    for (std::size_t i = name + open.size(); i < closeAt; ++i)
        if (!IsSpace(b[i]))
            Malformed("mismatched tag");
    pos_ = closeAt + 1;
    emitEnd();
    return Step::Done;
}

void Tokenizer::emitEnd() {
    const std::size_t start = nameStarts_.back();
    events_.end(LocalPart(std::string_view(names_).substr(start)));
    names_.resize(start);
    nameStarts_.pop_back();
    rootClosed_ = nameStarts_.empty();
}

// Comments, processing instructions and CDATA sections.
Tokenizer::Step Tokenizer::special() {
    char* b = buffer_.data();
    auto find = [&](std::size_t from, std::string_view what) -> std::size_t {
        const void* at = memmem(b + from, end_ - from, what.data(), what.size());
        return at ? static_cast<std::size_t>(static_cast<const char*>(at) - b) : SIZE_MAX;
    };
    // 1 when the data at pos_ starts with `what`, 0 when it does not, -1 when it may.
    auto opens = [&](std::string_view what) {
        std::size_t have = std::min(what.size(), end_ - pos_);
        if (std::memcmp(b + pos_, what.data(), have) != 0)
            return 0;
        return have == what.size() ? 1 : -1;
    };
    if (b[pos_ + 1] == '?') {
        std::size_t q = pos_ + 2;
        if (q == end_)
            return Step::More;
        if (!IsNameStart(b[q]))
            Malformed(kInvalidToken);
        while (kBytes.name[static_cast<unsigned char>(b[q])])
            ++q;
        if (q == end_)
            return Step::More;
        std::string_view target(b + pos_ + 2, q - pos_ - 2);
        if (target.size() == 3 && strncasecmp(target.data(), "xml", 3) == 0)
            Malformed("XML or text declaration not at start of entity");
        std::size_t close = find(q, "?>");
        if (close == SIZE_MAX)
            return Step::More;
        if (close != q && !IsSpace(b[q]))
            Malformed(kInvalidToken);
        CheckCharacters(b, pos_ + 2, close, false);
        pos_ = close + 2;
        return Step::Done;
    }
    if (int comment = opens("<!--"); comment != 0) {
        if (comment < 0)
            return Step::More;
        std::size_t dashes = find(pos_ + 4, "--");
        if (dashes == SIZE_MAX || dashes + 2 == end_)
            return Step::More;
        if (b[dashes + 2] != '>')
            Malformed(kInvalidToken);
        CheckCharacters(b, pos_ + 4, dashes, false);
        pos_ = dashes + 3;
        return Step::Done;
    }
    int cdata = opens("<![CDATA[");
    if (cdata == 0 || nameStarts_.empty())
        Malformed(kInvalidToken);
    if (cdata < 0)
        return Step::More;
    std::size_t close = find(pos_ + 9, "]]>");
    if (close == SIZE_MAX)
        return Step::More;
    std::size_t textEnd = CheckCharacters(b, pos_ + 9, close, true);
    std::size_t textStart = pos_ + 9;
    pos_ = close + 3;
    if (textEnd > textStart)
        events_.text(std::string_view(b + textStart, textEnd - textStart));
    return Step::Done;
}

// ---- streams

TailStream::TailStream(std::unique_ptr<ByteStream> inner, std::uint64_t skip, std::string opening)
    : inner_(std::move(inner)), skip_(skip), prefix_(std::move(opening)) {}

std::size_t TailStream::read(char* buffer, std::size_t size) {
    while (skip_ > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, size));
        std::size_t got = inner_->read(buffer, want);
        if (got == 0)
            throw Error(std::string(kNotAWorkbook) + ": a worksheet lies past the end");
        skip_ -= got;
    }
    if (offset_ < prefix_.size()) {
        std::size_t n = std::min(size, prefix_.size() - offset_);
        std::memcpy(buffer, prefix_.data() + offset_, n);
        offset_ += n;
        return n;
    }
    return inner_->read(buffer, size);
}

namespace {

class StringStream : public ByteStream {
public:
    explicit StringStream(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(char* buffer, std::size_t size) override {
        std::size_t n = std::min(size, bytes_.size() - offset_);
        std::memcpy(buffer, bytes_.data() + offset_, n);
        offset_ += n;
        return n;
    }

private:
    std::string bytes_;
    std::size_t offset_ = 0;
};

} // namespace

// ---- the outline

void Outline::addSheet(std::string name, std::uint64_t offset) {
    if (name.empty())
        name = "Sheet" + std::to_string(sheets.size() + 1);
    sheets.push_back({std::move(name), offset});
}

namespace {

// The styles of styles.xml or content.xml and, unless told to stop at the body, the outline.
class OutlineEvents : public Events {
public:
    OutlineEvents(OdsDataStyles* styles, Outline& outline, bool stopAtBody)
        : styles_(styles), outline_(outline), stopAtBody_(stopAtBody) {}
    void attach(ExpatDriver& driver) { driver_ = &driver; }

    void start(std::string_view name, const char* qualified, const char** attributes) override {
        ++depth_;
        if (stylesDepth_ > 0) {
            if (styles_)
                styles_->startElement(name, attributes);
            return;
        }
        if (depth_ == 1)
            outline_.rootTag = qualified;
        if (depth_ == 2 && (name == "automatic-styles" || name == "styles")) {
            stylesDepth_ = depth_;
        } else if (depth_ == 2 && name == "body" && stopAtBody_ && driver_) {
            outline_.bodyOffset = driver_->byteIndex();
            driver_->finish();
        } else if (name == "spreadsheet" && !outline_.spreadsheetSeen) {
            outline_.spreadsheetSeen = true;
            spreadsheetDepth_ = depth_;
            outline_.spreadsheetTag = qualified;
        } else if (spreadsheetDepth_ > 0 && depth_ == spreadsheetDepth_ + 1 && name == "table") {
            outline_.addSheet(AttrString(attributes, "name"), driver_ ? driver_->byteIndex() : 0);
        } else if (spreadsheetDepth_ > 0 && name == "null-date") {
            outline_.date1904 = AttrString(attributes, "date-value").starts_with("1904-01-01");
        }
    }
    void end(std::string_view name) override {
        if (stylesDepth_ > 0) {
            if (depth_ == stylesDepth_)
                stylesDepth_ = 0;
            else if (styles_)
                styles_->endElement(name);
        } else if (depth_ == spreadsheetDepth_) {
            spreadsheetDepth_ = 0;
        }
        --depth_;
    }
    void text(std::string_view text) override {
        if (stylesDepth_ > 0 && styles_)
            styles_->characters(text);
    }

private:
    OdsDataStyles* styles_;
    Outline& outline_;
    bool stopAtBody_;
    ExpatDriver* driver_ = nullptr;
    int depth_ = 0;
    int stylesDepth_ = 0;
    int spreadsheetDepth_ = 0;
};

// Finds the worksheets in the body of content.xml without an XML parse: start and end tags, the
// depth and two attributes are all the outline needs, and tokenising them alone runs at several
// times a parser's speed. Markup it does not expect makes it give up (run() returns false), and
// the caller parses instead; well-formedness is checked when the cells are read.
class BodyScanner {
public:
    BodyScanner(Outline& outline, std::uint64_t offset) : outline_(outline), offset_(offset) {}

    bool run(ByteStream& input) {
        std::vector<char> buffer(1 << 16);
        while (std::size_t got = input.read(buffer.data(), buffer.size())) {
            if (!scan(buffer.data(), got))
                return false;
            offset_ += got;
        }
        return state_ == State::Text;
    }

private:
    enum class State {
        Text,
        Open,
        StartName,
        InTag,
        AttrName,
        AttrEquals,
        AttrQuote,
        AttrValue,
        SelfClose,
        EndTag,
        Bang,
        Comment,
        CData,
        Instruction
    };
    static bool Space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    // Each state takes as many bytes as it can at once: most of the body is tags of no interest
    // here, passed over a run at a time.
    bool scan(const char* bytes, std::size_t size) {
        std::size_t i = 0;
        while (i < size) {
            const char c = bytes[i];
            switch (state_) {
            case State::Text: {
                const void* lt = std::memchr(bytes + i, '<', size - i);
                if (!lt)
                    return true;
                i = static_cast<std::size_t>(static_cast<const char*>(lt) - bytes);
                tagStart_ = offset_ + i;
                state_ = State::Open;
                ++i;
                break;
            }
            case State::Open:
                if (c == '/') {
                    state_ = State::EndTag;
                } else if (c == '!') {
                    marker_.clear();
                    state_ = State::Bang;
                } else if (c == '?') {
                    state_ = State::Instruction;
                    match_ = 0;
                } else if (Space(c) || c == '>') {
                    return false;
                } else {
                    name_.clear();
                    state_ = State::StartName;
                    break; // the name's first byte is taken there
                }
                ++i;
                break;
            case State::StartName: {
                std::size_t end = i;
                while (end < size && !Space(bytes[end]) && bytes[end] != '/' && bytes[end] != '>')
                    ++end;
                if (name_.size() < 256)
                    name_.append(bytes + i, std::min(end - i, 256 - name_.size()));
                i = end;
                if (i == size)
                    return true;
                const char stop = bytes[i++];
                beginTag();
                if (stop == '>')
                    endStartTag(false);
                else
                    state_ = stop == '/' ? State::SelfClose : State::InTag;
                break;
            }
            case State::InTag:
                if (!sheet_ && !nullDate_) {
                    // No attribute is wanted: only a value may hide the tag's end.
                    while (i < size && bytes[i] != '>' && bytes[i] != '/' && bytes[i] != '"' &&
                           bytes[i] != '\'')
                        ++i;
                    if (i == size)
                        return true;
                    const char stop = bytes[i++];
                    if (stop == '>') {
                        endStartTag(false);
                    } else if (stop == '/') {
                        state_ = State::SelfClose;
                    } else {
                        quote_ = stop;
                        capture_ = false;
                        state_ = State::AttrValue;
                    }
                    break;
                }
                if (c == '>')
                    endStartTag(false);
                else if (c == '/')
                    state_ = State::SelfClose;
                else if (!Space(c)) {
                    attribute_.assign(1, c);
                    state_ = State::AttrName;
                }
                ++i;
                break;
            case State::AttrName:
                if (c == '=')
                    state_ = State::AttrQuote;
                else if (Space(c))
                    state_ = State::AttrEquals;
                else if (attribute_.size() < 256)
                    attribute_ += c;
                ++i;
                break;
            case State::AttrEquals:
                if (c == '=')
                    state_ = State::AttrQuote;
                else if (!Space(c))
                    return false;
                ++i;
                break;
            case State::AttrQuote:
                if (c == '"' || c == '\'') {
                    quote_ = c;
                    value_.clear();
                    capture_ = wanted(LocalName(attribute_.c_str()));
                    state_ = State::AttrValue;
                } else if (!Space(c)) {
                    return false;
                }
                ++i;
                break;
            case State::AttrValue: {
                const void* end = std::memchr(bytes + i, quote_, size - i);
                std::size_t stop =
                    end ? static_cast<std::size_t>(static_cast<const char*>(end) - bytes) : size;
                if (capture_ && value_.size() < 65536)
                    value_.append(bytes + i, std::min(stop - i, 65536 - value_.size()));
                i = stop;
                if (end) {
                    if (capture_ && !attributeValue())
                        return false;
                    state_ = State::InTag;
                    ++i;
                }
                break;
            }
            case State::SelfClose:
                if (c != '>')
                    return false;
                endStartTag(true);
                ++i;
                break;
            case State::EndTag: {
                const void* gt = std::memchr(bytes + i, '>', size - i);
                if (!gt)
                    return true;
                i = static_cast<std::size_t>(static_cast<const char*>(gt) - bytes) + 1;
                if (depth_ == spreadsheetDepth_)
                    spreadsheetDepth_ = 0;
                --depth_;
                state_ = State::Text;
                break;
            }
            case State::Bang:
                marker_ += c;
                if (marker_ == "--") {
                    state_ = State::Comment;
                    match_ = 0;
                } else if (marker_ == "[CDATA[") {
                    state_ = State::CData;
                    match_ = 0;
                } else if (!std::string_view("[CDATA[").starts_with(marker_) &&
                           !std::string_view("--").starts_with(marker_)) {
                    return false; // a document type declaration has no place in the body
                }
                ++i;
                break;
            case State::Comment:
                match_ = c == '-' ? std::min(match_ + 1, 2) : (c == '>' && match_ == 2 ? 3 : 0);
                if (match_ == 3)
                    state_ = State::Text;
                ++i;
                break;
            case State::CData:
                match_ = c == ']' ? std::min(match_ + 1, 2) : (c == '>' && match_ == 2 ? 3 : 0);
                if (match_ == 3)
                    state_ = State::Text;
                ++i;
                break;
            case State::Instruction:
                match_ = c == '?' ? 1 : (c == '>' && match_ == 1 ? 2 : 0);
                if (match_ == 2)
                    state_ = State::Text;
                ++i;
                break;
            }
        }
        return true;
    }

    void beginTag() {
        std::string_view local = LocalName(name_.c_str());
        const int depth = depth_ + 1;
        sheet_ = spreadsheetDepth_ > 0 && depth == spreadsheetDepth_ + 1 && local == "table";
        nullDate_ = spreadsheetDepth_ > 0 && local == "null-date";
        if (local == "spreadsheet" && !outline_.spreadsheetSeen) {
            outline_.spreadsheetSeen = true;
            outline_.spreadsheetTag = name_;
            spreadsheetDepth_ = depth;
        }
        tableName_.clear();
    }
    bool wanted(std::string_view attribute) const {
        return (sheet_ && attribute == "name") || (nullDate_ && attribute == "date-value");
    }
    // The value as a parser gives it: white space normalised, references resolved.
    bool attributeValue() {
        std::string text;
        for (std::size_t i = 0; i < value_.size(); ++i) {
            char c = value_[i];
            if (c == '\t' || c == '\n' || c == '\r') {
                text += ' ';
                continue;
            }
            if (c != '&') {
                text += c;
                continue;
            }
            std::size_t semicolon = value_.find(';', i);
            if (semicolon == std::string::npos)
                return false;
            std::string_view entity(value_.data() + i + 1, semicolon - i - 1);
            i = semicolon;
            if (entity == "amp")
                text += '&';
            else if (entity == "lt")
                text += '<';
            else if (entity == "gt")
                text += '>';
            else if (entity == "quot")
                text += '"';
            else if (entity == "apos")
                text += '\'';
            else if (!AppendCharacterReference(entity, text))
                return false;
        }
        if (sheet_)
            tableName_ = text;
        else
            outline_.date1904 = text.starts_with("1904-01-01");
        return true;
    }
    static bool AppendCharacterReference(std::string_view entity, std::string& text) {
        if (!entity.starts_with("#"))
            return false;
        std::uint32_t code = 0;
        bool hex = entity.size() > 1 && (entity[1] == 'x' || entity[1] == 'X');
        std::string_view digits = entity.substr(hex ? 2 : 1);
        auto [next, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (error != std::errc() || next != digits.data() + digits.size() || code == 0 ||
            code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (code >> 18));
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
        return true;
    }
    void endStartTag(bool empty) {
        if (sheet_)
            outline_.addSheet(tableName_, tagStart_);
        sheet_ = nullDate_ = false;
        if (!empty)
            ++depth_;
        state_ = State::Text;
    }

    Outline& outline_;
    std::uint64_t offset_;
    State state_ = State::Text;
    int depth_ = 1; // the scan starts inside office:document-content
    int spreadsheetDepth_ = 0;
    std::uint64_t tagStart_ = 0;
    std::string name_;
    std::string attribute_;
    std::string value_;
    std::string marker_;
    std::string tableName_;
    char quote_ = '"';
    int match_ = 0;
    bool capture_ = false;
    bool sheet_ = false;
    bool nullDate_ = false;
};

} // namespace

Outline ReadOutline(const ZipPackage& package, OdsDataStyles& styles) {
    Outline outline;
    if (package.has("styles.xml")) {
        Outline unused;
        OutlineEvents events(&styles, unused, false);
        ExpatDriver driver(events);
        StringStream input(package.read("styles.xml"));
        driver.run(input);
    }
    // The head of content.xml (its automatic styles) is parsed; the body only scanned for its
    // worksheets, unless the document has a form the scan does not take for granted.
    bool utf8 = true, doctype = false;
    {
        OutlineEvents events(&styles, outline, true);
        ExpatDriver driver(events);
        events.attach(driver);
        driver.run(*package.stream("content.xml", ReadAhead::OwnThread));
        utf8 = driver.utf8();
        doctype = driver.doctype();
    }
    {
        // A UTF-16 document may say so by its byte order mark alone.
        auto probe = package.stream("content.xml");
        char mark[2] = {};
        std::size_t got = 0;
        while (got < 2) {
            std::size_t n = probe->read(mark + got, 2 - got);
            if (n == 0)
                break;
            got += n;
        }
        if (got == 2 &&
            ((mark[0] == '\xFE' && mark[1] == '\xFF') || (mark[0] == '\xFF' && mark[1] == '\xFE')))
            utf8 = false;
    }
    outline.tailsUsable = utf8 && !doctype;
    bool scanned = false;
    if (outline.bodyOffset > 0 && outline.tailsUsable) {
        BodyScanner scanner(outline, outline.bodyOffset);
        TailStream body(package.stream("content.xml", ReadAhead::OwnThread), outline.bodyOffset,
                        "");
        scanned = scanner.run(body);
    }
    if (!scanned) {
        bool tailsUsable = outline.tailsUsable;
        outline = Outline();
        outline.tailsUsable = tailsUsable;
        OutlineEvents events(nullptr, outline, false);
        ExpatDriver driver(events);
        events.attach(driver);
        driver.run(*package.stream("content.xml", ReadAhead::OwnThread));
    }
    if (!outline.spreadsheetSeen)
        throw Error(std::string(kNotAWorkbook) + ": the document holds no spreadsheet");
    return outline;
}

} // namespace gq::ods
